// The engine's command-line driver.
//
// chip_main reads the options and file arguments of the chip program and
// compiles each file. Today the engine ends at the front end: each file is
// read and parsed, its syntax errors reported with file, line and character;
// the type checker, the code generator and the virtual machine that will run
// the files join this driver as they are built.
//
// Everything the driver prints goes through the application log, like the
// rest of the engine's output; the caller flushes the log before it exits.
#ifndef CHIP_CHIP_MAIN_H
#define CHIP_CHIP_MAIN_H

// Returns the exit status: 0 after a normal run, 1 on any error, 2 after
// "--help", "-h", "--about" and "--version".
int chip_main(int argc, const char** argv);

#endif
