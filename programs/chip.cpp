// The chip program: the language engine from the command line, hosted by
// the application framework (its log, its audio layer, its integration
// class) and the instrument's recorder (the class VCR: what a script records
// is kept under Documents/recordings and queued for playback).
#include <cstring>

#include "recorder/FluvaneRecorderHost.h"
#include "chip/chip.h"
#include "vxu/VXEngineHost.h"
#include "vxu/VXLog.h"

namespace {

// Whether the command line raises the log level ("--verbose", "--log",
// "-v"): the audio layer's configuration lines then reach the console too.
bool asks_for_detail(int argc, char** argv) {
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (std::strncmp(arg, "--verbose", 9) == 0 || std::strncmp(arg, "--log", 5) == 0 ||
        std::strncmp(arg, "-v", 2) == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  VXEngineHost::install();
  installCommandLineRecorder();
  VXLog::sharedVXLog().setDetailsToConsole(asks_for_detail(argc, argv));
  int status = chip_main(argc, const_cast<const char**>(argv));
  shutdownRecorder();
  // Everything the engine printed went through the application log: see it
  // all on the console before the process ends.
  EM_flush();
  return status;
}
