#include "support/leak_check.h"

#include <atomic>

namespace {
std::atomic<bool> g_skip{false};
}

void skip_leak_check_at_exit() { g_skip.store(true); }

// Asked by LeakSanitizer at exit (when the program is built with it).
extern "C" int __lsan_is_turned_off() { return g_skip.load() ? 1 : 0; }
