// Fuzz target: automation scripts -> the parser, and a parsed script run
// against a stand-in target whose engine clock always moves. Refusing a
// line is a normal outcome; a crash, a sanitizer report or a leak is not.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Classes/FluvaneAutomation.h"

namespace {

struct Target : FluvaneAutomationTarget {
  double engine = 0;
  double engineSeconds() override { return engine += 0.25; }
  void key(const std::string&, bool) override {}
  void touch(double, double, FluvaneAutomationCommand::Phase) override {}
  void breath(double) override {}
  void tilt(double, double) override {}
  void message(int) override {}
  std::optional<std::int32_t> integer(const std::string& key) override {
    return static_cast<std::int32_t>(key.size());
  }
  std::optional<double> real(const std::string&) override { return 0.5; }
  bool shot(const std::string&, std::string*) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  auto commands = parseFluvaneAutomation(text, &error);
  if (!commands) return 0;
  Target target;
  double wall = 0;
  FluvaneAutomationRunner runner(std::move(*commands), target, [&] { return wall += 1.0; });
  // Waits are bounded (3600 s at 0.25 s per step): stop after enough steps.
  for (int i = 0; i < 100000 && !runner.step(); i++) {
  }
  return 0;
}
