// The kestrix run: command line, track loop, exit status.
//
// RunKestrix does a whole run as the program's entry point would and returns
// the exit status. Standard output carries the movie report, the usage line,
// the per-frame progress lines, the "Could Not open output file" line and the
// "Done in" line, and nothing else; everything that explains a failure or a
// loss goes to standard error, one line each, naming the file.
//
// Status 0: the usage line, or every frame processed. Status 1: the movie
// could not be opened or lacks a stream or format; a track could not be
// created or written; a track would exceed what a WAV file can hold.
#ifndef KESTRIX_DRIVER_RUN_H_
#define KESTRIX_DRIVER_RUN_H_

namespace driver {

int RunKestrix(int argc, char** argv);

}  // namespace driver

#endif  // KESTRIX_DRIVER_RUN_H_
