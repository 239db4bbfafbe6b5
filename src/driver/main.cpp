// kestrix: writes an AVI movie as a series of CD-audio tracks.
#include "driver/run.h"

int main(int argc, char** argv) { return driver::RunKestrix(argc, argv); }
