// What the system says of a process or of one of its threads, read from
// its /proc folder ("/proc/<pid>", "/proc/<pid>/task/<tid>",
// "/proc/self/task/<tid>"): its state and the processor time it has used.
// For tests (and the soak) that check that something sleeps rather than
// spins, without timing it.
#ifndef TESTS_CHIP_PROC_STAT_H
#define TESTS_CHIP_PROC_STAT_H

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The fields of the folder's stat after the command name: [0] is the
// state, [11] and [12] the user and system time in clock ticks. Empty when
// the folder is gone.
inline std::vector<std::string> proc_stat_fields(const std::string& folder) {
  std::ifstream in(folder + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::string> fields;
  size_t close = text.rfind(')');
  if (close == std::string::npos || close + 2 > text.size()) return fields;
  std::string field;
  for (char c : text.substr(close + 2)) {
    if (c == ' ' || c == '\n') {
      fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  if (!field.empty()) fields.push_back(field);
  return fields;
}

// 'R' running or runnable, 'S' asleep, ...; '?' when the folder is gone.
inline char proc_state(const std::string& folder) {
  std::vector<std::string> f = proc_stat_fields(folder);
  return f.empty() || f[0].empty() ? '?' : f[0][0];
}

// User and system time used, in seconds; -1 when the folder is gone.
inline double proc_cpu_seconds(const std::string& folder) {
  std::vector<std::string> f = proc_stat_fields(folder);
  if (f.size() < 13) return -1;
  return (std::stod(f[11]) + std::stod(f[12])) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

#endif
