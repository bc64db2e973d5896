// The chip program: the language engine from the command line.
#include "chip/chip_main.h"
#include "vxu/VXLog.h"

int main(int argc, char** argv) {
  int status = chip_main(argc, const_cast<const char**>(argv));
  // Everything the engine printed went through the application log: see it
  // all on the console before the process ends.
  VXLog::sharedVXLog().flushLog();
  return status;
}
