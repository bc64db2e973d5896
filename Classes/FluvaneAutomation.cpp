#include "Classes/FluvaneAutomation.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <sstream>

namespace {

using Command = FluvaneAutomationCommand;

constexpr double kMaxWait = 3600.0;
constexpr double kMaxTilt = 4.0;
constexpr double kScreenWidth = 320.0;
constexpr double kScreenHeight = 480.0;
constexpr std::size_t kMaxLine = 4096;

const char* const kKeys[] = {"E", "D", "I", "K", "Space", "Left", "Right", "Up", "Down"};

std::string trim(const std::string& text) {
  const char* space = " \t\r\v\f";
  std::size_t start = text.find_first_not_of(space);
  if (start == std::string::npos) return "";
  std::size_t end = text.find_last_not_of(space);
  return text.substr(start, end - start + 1);
}

std::vector<std::string> words(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  std::string word;
  while (in >> word) out.push_back(word);
  return out;
}

// A whole finite number, or none.
std::optional<double> number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<int> integer(const std::string& text) {
  if (text.empty()) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  long long value = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || end != text.c_str() + text.size() ||
      value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}

// Parses one line (not blank, not a comment) into command; the reason on failure.
bool parseLine(const std::string& line, Command& command, std::string& why) {
  std::vector<std::string> w = words(line);
  if (w.empty()) {
    why = "not a line of text";
    return false;
  }
  const std::string& verb = w[0];
  auto arity = [&](std::size_t n) {
    if (w.size() == n + 1) return true;
    why = "'" + verb + "' takes " + std::to_string(n) + " argument" + (n == 1 ? "" : "s");
    return false;
  };
  if (verb == "wait") {
    if (!arity(1)) return false;
    std::optional<double> s = number(w[1]);
    if (!s || *s < 0 || *s > kMaxWait) {
      why = "wait needs seconds from 0 to 3600";
      return false;
    }
    command.kind = Command::Kind::Wait;
    command.seconds = *s;
    return true;
  }
  if (verb == "key") {
    if (!arity(2)) return false;
    bool known = false;
    for (const char* k : kKeys) known = known || w[1] == k;
    if (!known) {
      why = "unknown key '" + w[1] + "'";
      return false;
    }
    if (w[2] != "down" && w[2] != "up") {
      why = "key needs down or up";
      return false;
    }
    command.kind = Command::Kind::Key;
    command.name = w[1];
    command.down = w[2] == "down";
    return true;
  }
  if (verb == "touch") {
    if (!arity(3)) return false;
    std::optional<double> x = number(w[1]), y = number(w[2]);
    if (!x || !y || *x < 0 || *x > kScreenWidth || *y < 0 || *y > kScreenHeight) {
      why = "touch needs a point within 320 x 480";
      return false;
    }
    if (w[3] == "down") {
      command.phase = Command::Phase::Down;
    } else if (w[3] == "move") {
      command.phase = Command::Phase::Move;
    } else if (w[3] == "up") {
      command.phase = Command::Phase::Up;
    } else {
      why = "touch needs down, move or up";
      return false;
    }
    command.kind = Command::Kind::Touch;
    command.x = *x;
    command.y = *y;
    return true;
  }
  if (verb == "breath") {
    if (!arity(1)) return false;
    std::optional<double> level = number(w[1]);
    if (!level || *level < 0 || *level > 1) {
      why = "breath needs a level from 0 to 1";
      return false;
    }
    command.kind = Command::Kind::Breath;
    command.level = *level;
    return true;
  }
  if (verb == "tilt") {
    if (!arity(2)) return false;
    std::optional<double> x = number(w[1]), y = number(w[2]);
    if (!x || !y || std::fabs(*x) > kMaxTilt || std::fabs(*y) > kMaxTilt) {
      why = "tilt needs x and y from -4 to 4 g";
      return false;
    }
    command.kind = Command::Kind::Tilt;
    command.x = *x;
    command.y = *y;
    return true;
  }
  if (verb == "msg") {
    if (!arity(1)) return false;
    std::optional<int> code = integer(w[1]);
    if (!code) {
      why = "msg needs an integer code";
      return false;
    }
    command.kind = Command::Kind::Msg;
    command.code = *code;
    return true;
  }
  if (verb == "expect") {
    // expect int|float KEY VALUE; KEY may hold spaces, or be quoted.
    std::string rest = trim(line.substr(line.find("expect") + 6));
    std::size_t typeEnd = rest.find_first_of(" \t");
    if (typeEnd == std::string::npos) {
      why = "expect needs a type, a key and a value";
      return false;
    }
    const std::string type = rest.substr(0, typeEnd);
    if (type != "int" && type != "float") {
      why = "expect needs int or float";
      return false;
    }
    rest = trim(rest.substr(typeEnd));
    std::string key, valueText;
    if (!rest.empty() && rest[0] == '"') {
      std::size_t close = rest.find('"', 1);
      if (close == std::string::npos) {
        why = "expect's key has no closing quote";
        return false;
      }
      key = rest.substr(1, close - 1);
      valueText = trim(rest.substr(close + 1));
    } else {
      std::size_t split = rest.find_last_of(" \t");
      if (split == std::string::npos) {
        why = "expect needs a type, a key and a value";
        return false;
      }
      key = trim(rest.substr(0, split));
      valueText = rest.substr(split + 1);
    }
    if (key.empty()) {
      why = "expect needs a key";
      return false;
    }
    command.kind = Command::Kind::Expect;
    command.name = key;
    command.isInt = type == "int";
    if (command.isInt) {
      std::optional<int> v = integer(valueText);
      if (!v) {
        why = "expect int needs an integer value";
        return false;
      }
      command.value = *v;
    } else {
      std::optional<double> v = number(valueText);
      if (!v) {
        why = "expect float needs a finite value";
        return false;
      }
      command.value = *v;
    }
    return true;
  }
  if (verb == "shot") {
    std::string path = trim(line.substr(line.find("shot") + 4));
    if (path.empty()) {
      why = "shot needs a file name";
      return false;
    }
    command.kind = Command::Kind::Shot;
    command.name = path;
    return true;
  }
  if (verb == "quit") {
    if (!arity(0)) return false;
    command.kind = Command::Kind::Quit;
    return true;
  }
  why = "unknown command '" + verb + "'";
  return false;
}

}  // namespace

std::optional<std::vector<FluvaneAutomationCommand>> parseFluvaneAutomation(
    const std::string& text, std::string* error) {
  std::vector<Command> commands;
  std::size_t start = 0;
  int number = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string raw = text.substr(start, end - start);
    start = end + 1;
    number++;
    if (raw.find('\0') != std::string::npos || raw.size() > kMaxLine) {
      if (error) *error = "line " + std::to_string(number) + ": not a line of text";
      return std::nullopt;
    }
    std::string line = trim(raw);
    if (line.empty() || line[0] == '#') continue;
    Command command;
    command.line = number;
    std::string why;
    if (!parseLine(line, command, why)) {
      if (error) *error = "line " + std::to_string(number) + ": " + why;
      return std::nullopt;
    }
    commands.push_back(std::move(command));
  }
  return commands;
}

FluvaneAutomationRunner::FluvaneAutomationRunner(std::vector<FluvaneAutomationCommand> commands,
                                                 FluvaneAutomationTarget& target,
                                                 std::function<double()> now)
    : commands_(std::move(commands)), target_(target), now_(std::move(now)) {
  lastProgress_ = now_();
}

std::optional<int> FluvaneAutomationRunner::step() {
  if (status_) return status_;
  while (!status_) {
    if (waiting_) {
      const double engine = target_.engineSeconds();
      if (engine != lastEngine_) {
        lastEngine_ = engine;
        lastProgress_ = now_();
      }
      if (engine < waitUntil_) {
        if (now_() - lastProgress_ > kStallSeconds) {
          messages_.push_back("the engine's clock stands still: is audio running?");
          status_ = 1;
        }
        return status_;
      }
      waiting_ = false;
    }
    if (next_ >= commands_.size()) {
      status_ = 0;
      break;
    }
    const Command& c = commands_[next_++];
    const std::string where = "line " + std::to_string(c.line) + ": ";
    switch (c.kind) {
      case Command::Kind::Wait:
        waiting_ = true;
        lastEngine_ = target_.engineSeconds();
        lastProgress_ = now_();
        waitUntil_ = lastEngine_ + c.seconds;
        break;
      case Command::Kind::Key:
        target_.key(c.name, c.down);
        break;
      case Command::Kind::Touch:
        target_.touch(c.x, c.y, c.phase);
        break;
      case Command::Kind::Breath:
        target_.breath(c.level);
        break;
      case Command::Kind::Tilt:
        target_.tilt(c.x, c.y);
        break;
      case Command::Kind::Msg:
        target_.message(c.code);
        break;
      case Command::Kind::Expect: {
        char text[128];
        if (c.isInt) {
          std::optional<std::int32_t> v = target_.integer(c.name);
          if (!v || *v != static_cast<std::int32_t>(c.value)) {
            std::snprintf(text, sizeof text, "expected %d, found %s", static_cast<int>(c.value),
                          v ? std::to_string(*v).c_str() : "nothing");
            messages_.push_back(where + "'" + c.name + "': " + text);
            status_ = 1;
          }
        } else {
          std::optional<double> v = target_.real(c.name);
          const double tolerance = 1e-6 * std::max(1.0, std::fabs(c.value));
          if (!v || !(std::fabs(*v - c.value) <= tolerance)) {
            std::snprintf(text, sizeof text, "expected %.9g, found %s", c.value,
                          v ? std::to_string(*v).c_str() : "nothing");
            messages_.push_back(where + "'" + c.name + "': " + text);
            status_ = 1;
          }
        }
        break;
      }
      case Command::Kind::Shot: {
        std::string why;
        if (!target_.shot(c.name, &why)) {
          messages_.push_back(where + "cannot write " + c.name + ": " + why);
          status_ = 1;
        }
        break;
      }
      case Command::Kind::Quit:
        status_ = 0;
        break;
    }
  }
  return status_;
}
