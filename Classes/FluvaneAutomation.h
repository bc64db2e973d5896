// The instrument's automation language (fluvane --automate FILE|-): a
// script of commands, one a line, that plays the instrument as a player
// would and checks what it does.
//
//   wait S                       until the engine has played S more seconds
//   key NAME down|up             a key of the host: E, D, I, K (the holes),
//                                Space (breath), Left, Right, Up, Down (tilt)
//   touch X Y down|move|up       the pointer at (X, Y) points of the 320 x 480
//                                screen, y down from the top
//   breath LEVEL                 the synthetic breath, 0..1
//   tilt X Y                     the device's tilt in g (at rest 0 -1)
//   msg CODE                     a button press: the message code
//   expect int|float KEY VALUE   the integration key's value; KEY is the
//                                rest of the line before VALUE, or quoted
//   shot FILE.png                the screen as a PNG
//   quit                         ends the run (as does the end of the script)
//
// Blank lines and lines starting with '#' are skipped. Numbers must be
// finite and within their command's range (S 0..3600, LEVEL 0..1, X and Y
// of a touch within the screen, tilt -4..4 g, CODE a 32-bit integer). A
// script with any bad line is refused as a whole, with the line's number
// and the reason; nothing runs.
//
// FluvaneAutomationRunner carries a parsed script out against a target (the
// application, or a test's stand-in), one step per turn of the main loop:
// every command up to the next unfinished wait. A failed expect, a shot that
// cannot be written, or an engine whose clock stands still for 10 s of real
// time ends the run with status 1; the end of the script or quit with 0.
//
// Threads: main thread.
#ifndef CLASSES_FLUVANEAUTOMATION_H
#define CLASSES_FLUVANEAUTOMATION_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

struct FluvaneAutomationCommand {
  enum class Kind { Wait, Key, Touch, Breath, Tilt, Msg, Expect, Shot, Quit };
  enum class Phase { Down, Move, Up };
  Kind kind = Kind::Quit;
  int line = 0;
  double seconds = 0;      // wait
  std::string name;        // key name, expect's key, shot's path
  bool down = false;       // key
  Phase phase = Phase::Down;  // touch
  double x = 0, y = 0;     // touch, tilt
  double level = 0;        // breath
  int code = 0;            // msg
  bool isInt = false;      // expect
  double value = 0;        // expect
};

// The commands of text, or none with the reason ("line N: ...") in *error.
std::optional<std::vector<FluvaneAutomationCommand>> parseFluvaneAutomation(
    const std::string& text, std::string* error);

// What the runner drives.
class FluvaneAutomationTarget {
 public:
  virtual ~FluvaneAutomationTarget() = default;
  // Seconds of sound the engine has played.
  virtual double engineSeconds() = 0;
  virtual void key(const std::string& name, bool down) = 0;
  virtual void touch(double x, double y, FluvaneAutomationCommand::Phase phase) = 0;
  virtual void breath(double level) = 0;
  virtual void tilt(double x, double y) = 0;
  virtual void message(int code) = 0;
  virtual std::optional<std::int32_t> integer(const std::string& key) = 0;
  virtual std::optional<double> real(const std::string& key) = 0;
  // False, with the reason, when the picture cannot be written.
  virtual bool shot(const std::string& path, std::string* error) = 0;
};

class FluvaneAutomationRunner {
 public:
  // now: real seconds (monotonic), for the stalled-engine guard.
  FluvaneAutomationRunner(std::vector<FluvaneAutomationCommand> commands,
                          FluvaneAutomationTarget& target, std::function<double()> now);

  // Runs what is due; answers the exit status once the run is over.
  std::optional<int> step();
  bool finished() const { return status_.has_value(); }
  std::optional<int> status() const { return status_; }
  // Lines of the report (failed expects and the like), for standard error.
  const std::vector<std::string>& messages() const { return messages_; }

  static constexpr double kStallSeconds = 10.0;

 private:
  std::vector<FluvaneAutomationCommand> commands_;
  FluvaneAutomationTarget& target_;
  std::function<double()> now_;
  std::size_t next_ = 0;
  bool waiting_ = false;
  double waitUntil_ = 0;
  double lastEngine_ = -1;
  double lastProgress_ = 0;
  std::optional<int> status_;
  std::vector<std::string> messages_;
};

#endif
