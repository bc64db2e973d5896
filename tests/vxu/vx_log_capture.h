// The application log keeps every line it printed; these tests read what
// the code under test printed back from the shared log's entries.
#ifndef TESTS_VXU_VX_LOG_CAPTURE_H
#define TESTS_VXU_VX_LOG_CAPTURE_H

#include <string>
#include <vector>

#include "vxu/VXLog.h"

// The lines printed while fn ran, as they reached the application log,
// without the date stamp ("[yyyy.MM.dd HH:mm:ss.SSS] ") of the file form.
template <typename Fn>
std::vector<std::string> printed_lines(Fn fn) {
  VXLog& log = VXLog::sharedVXLog();
  log.flushLog();
  size_t before = log.logEntries().size();
  fn();
  log.flushLog();
  std::vector<std::string> entries = log.logEntries();
  std::vector<std::string> lines;
  for (size_t i = before; i < entries.size(); i++) {
    lines.push_back(entries[i].substr(entries[i].find("] ") + 2));
  }
  return lines;
}

#endif
