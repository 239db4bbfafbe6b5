// The console streams as the program writes them.
//
// PrepareConsole() is called once, first thing in a run, before anything is
// written. Afterwards standard output and standard error pass every byte
// through unchanged: a "\n" the program prints stays one line feed and a
// "\r" one carriage return on every platform, so the report and progress
// lines are the same bytes wherever the program runs and whatever captures
// them (a console, a pipe, a file).
#ifndef KESTRIX_DRIVER_CONSOLE_H_
#define KESTRIX_DRIVER_CONSOLE_H_

namespace driver {

void PrepareConsole();

}  // namespace driver

#endif  // KESTRIX_DRIVER_CONSOLE_H_
