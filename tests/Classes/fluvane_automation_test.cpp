// The automation language: what each command parses to, the lines it
// refuses (hostile input among them), and the runner's order, waits on the
// engine's clock, failed expectations and stalled engines, against a
// stand-in target.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "Classes/FluvaneAutomation.h"

namespace {

using Command = FluvaneAutomationCommand;

TEST(FluvaneAutomationParse, EveryCommand) {
  std::string error;
  auto commands = parseFluvaneAutomation(
      "# a comment\n"
      "\n"
      "wait 0.5\n"
      "key E down\n"
      "key Space up\n"
      "  touch 100 450.5 move  \r\n"
      "breath 0.75\n"
      "tilt -1.2 0.3\n"
      "msg 4000\n"
      "expect int Fluvane: Finger state 3\n"
      "expect float \"Fluvane: echo\" 0.2\n"
      "shot build/demo/a picture.png\n"
      "quit",
      &error);
  ASSERT_TRUE(commands) << error;
  ASSERT_EQ(commands->size(), 11u);
  EXPECT_EQ(commands->back().kind, Command::Kind::Quit);
  const std::vector<Command>& c = *commands;
  EXPECT_EQ(c[0].kind, Command::Kind::Wait);
  EXPECT_EQ(c[0].seconds, 0.5);
  EXPECT_EQ(c[0].line, 3);
  EXPECT_EQ(c[1].kind, Command::Kind::Key);
  EXPECT_EQ(c[1].name, "E");
  EXPECT_TRUE(c[1].down);
  EXPECT_EQ(c[2].name, "Space");
  EXPECT_FALSE(c[2].down);
  EXPECT_EQ(c[3].kind, Command::Kind::Touch);
  EXPECT_EQ(c[3].x, 100);
  EXPECT_EQ(c[3].y, 450.5);
  EXPECT_EQ(c[3].phase, Command::Phase::Move);
  EXPECT_EQ(c[4].kind, Command::Kind::Breath);
  EXPECT_EQ(c[4].level, 0.75);
  EXPECT_EQ(c[5].kind, Command::Kind::Tilt);
  EXPECT_EQ(c[5].x, -1.2);
  EXPECT_EQ(c[5].y, 0.3);
  EXPECT_EQ(c[6].kind, Command::Kind::Msg);
  EXPECT_EQ(c[6].code, 4000);
  EXPECT_EQ(c[7].kind, Command::Kind::Expect);
  EXPECT_TRUE(c[7].isInt);
  EXPECT_EQ(c[7].name, "Fluvane: Finger state");
  EXPECT_EQ(c[7].value, 3);
  EXPECT_FALSE(c[8].isInt);
  EXPECT_EQ(c[8].name, "Fluvane: echo");
  EXPECT_EQ(c[8].value, 0.2);
  EXPECT_EQ(c[9].kind, Command::Kind::Shot);
  EXPECT_EQ(c[9].name, "build/demo/a picture.png");
  EXPECT_EQ(c[9].line, 12);
}

TEST(FluvaneAutomationParse, BadLinesRefuseTheWholeScript) {
  struct Case {
    std::string text;
    std::string error;
  };
  const std::vector<Case> cases = {
      {"jump 3", "line 1: unknown command 'jump'"},
      {"wait", "line 1: 'wait' takes 1 argument"},
      {"wait -1", "line 1: wait needs seconds from 0 to 3600"},
      {"wait 3601", "line 1: wait needs seconds from 0 to 3600"},
      {"wait nan", "line 1: wait needs seconds from 0 to 3600"},
      {"wait inf", "line 1: wait needs seconds from 0 to 3600"},
      {"wait 1e999", "line 1: wait needs seconds from 0 to 3600"},
      {"wait 2s", "line 1: wait needs seconds from 0 to 3600"},
      {"key Q down", "line 1: unknown key 'Q'"},
      {"key e down", "line 1: unknown key 'e'"},
      {"key E pressed", "line 1: key needs down or up"},
      {"touch 321 10 down", "line 1: touch needs a point within 320 x 480"},
      {"touch 10 -1 down", "line 1: touch needs a point within 320 x 480"},
      {"touch 10 10 tap", "line 1: touch needs down, move or up"},
      {"touch 10 10", "line 1: 'touch' takes 3 arguments"},
      {"breath 1.5", "line 1: breath needs a level from 0 to 1"},
      {"tilt 0 -9", "line 1: tilt needs x and y from -4 to 4 g"},
      {"msg 4000.5", "line 1: msg needs an integer code"},
      {"msg 99999999999", "line 1: msg needs an integer code"},
      {"expect bool k 1", "line 1: expect needs int or float"},
      {"expect int", "line 1: expect needs a type, a key and a value"},
      {"expect int 3", "line 1: expect needs a type, a key and a value"},
      {"expect int k 1.5", "line 1: expect int needs an integer value"},
      {"expect float k nan", "line 1: expect float needs a finite value"},
      {"expect int \"open key 1", "line 1: expect's key has no closing quote"},
      {"expect int \"\" 1", "line 1: expect needs a key"},
      {"shot", "line 1: shot needs a file name"},
      {"quit now", "line 1: 'quit' takes 0 arguments"},
      {"wait 1\nkey E down\nbogus", "line 3: unknown command 'bogus'"},
      {std::string("wait 1\0", 7), "line 1: not a line of text"},
      {std::string(5000, 'w'), "line 1: not a line of text"},
      {"wait 1\n \v \f\nquit", ""},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(parseFluvaneAutomation(c.text, &error).has_value(), c.error.empty()) << c.text;
    EXPECT_EQ(error, c.error) << c.text;
  }
  // Nothing but blank lines and comments is an empty script.
  std::string error;
  auto empty = parseFluvaneAutomation("\n# nothing\n\n", &error);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
}

// Records what it is told; its engine clock is moved by the test.
struct Target : FluvaneAutomationTarget {
  double engine = 0;
  std::vector<std::string> log;
  std::map<std::string, int> ints;
  std::map<std::string, double> floats;
  bool shotWorks = true;
  double engineSeconds() override { return engine; }
  void key(const std::string& name, bool down) override {
    log.push_back("key " + name + (down ? " down" : " up"));
  }
  void touch(double x, double y, Command::Phase phase) override {
    log.push_back("touch " + std::to_string(static_cast<int>(x)) + " " +
                  std::to_string(static_cast<int>(y)) + " " +
                  std::to_string(static_cast<int>(phase)));
  }
  void breath(double level) override { log.push_back("breath " + std::to_string(level)); }
  void tilt(double, double) override { log.push_back("tilt"); }
  void message(int code) override { log.push_back("msg " + std::to_string(code)); }
  std::optional<std::int32_t> integer(const std::string& key) override {
    auto found = ints.find(key);
    if (found == ints.end()) return std::nullopt;
    return found->second;
  }
  std::optional<double> real(const std::string& key) override {
    auto found = floats.find(key);
    if (found == floats.end()) return std::nullopt;
    return found->second;
  }
  bool shot(const std::string& path, std::string* error) override {
    log.push_back("shot " + path);
    if (!shotWorks) *error = "disk full";
    return shotWorks;
  }
};

std::vector<Command> parse(const std::string& text) {
  std::string error;
  auto commands = parseFluvaneAutomation(text, &error);
  EXPECT_TRUE(commands) << error;
  return commands.value_or(std::vector<Command>{});
}

TEST(FluvaneAutomationRun, WaitsFollowTheEnginesClock) {
  Target target;
  double wall = 0;
  FluvaneAutomationRunner runner(parse("key E down\nwait 0.5\nkey E up\nmsg 7\nwait 1\nquit\n"
                                       "key D down"),
                                 target, [&] { return wall; });
  EXPECT_FALSE(runner.step());
  EXPECT_EQ(target.log, std::vector<std::string>{"key E down"});
  target.engine = 0.49;
  EXPECT_FALSE(runner.step());
  EXPECT_EQ(target.log.size(), 1u);
  target.engine = 0.5;
  EXPECT_FALSE(runner.step());
  EXPECT_EQ(target.log, (std::vector<std::string>{"key E down", "key E up", "msg 7"}));
  target.engine = 1.6;
  EXPECT_EQ(runner.step(), std::optional<int>(0));
  // quit ends the run: the line after it never runs.
  EXPECT_EQ(target.log.size(), 3u);
  EXPECT_TRUE(runner.finished());
}

TEST(FluvaneAutomationRun, AFailedExpectationEndsWithOne) {
  Target target;
  target.ints["Fluvane: Finger state"] = 3;
  target.floats["Fluvane: echo"] = 0.2;
  struct Case {
    std::string script;
    int status;
    std::string message;
  };
  for (const Case& c :
       {Case{"expect int Fluvane: Finger state 3\nexpect float Fluvane: echo 0.2000000001", 0, ""},
        Case{"expect int Fluvane: Finger state 2\nmsg 1", 1,
             "line 1: 'Fluvane: Finger state': expected 2, found 3"},
        Case{"expect float Fluvane: echo 0.25", 1,
             "line 1: 'Fluvane: echo': expected 0.25, found 0.200000"},
        Case{"expect int missing 0", 1, "line 1: 'missing': expected 0, found nothing"}}) {
    target.log.clear();
    FluvaneAutomationRunner runner(parse(c.script), target, [] { return 0.0; });
    EXPECT_EQ(runner.step(), std::optional<int>(c.status)) << c.script;
    if (c.status != 0) {
      ASSERT_EQ(runner.messages().size(), 1u) << c.script;
      EXPECT_EQ(runner.messages()[0], c.message);
      EXPECT_TRUE(target.log.empty()) << "nothing runs after a failed expectation";
    }
  }
}

TEST(FluvaneAutomationRun, AnUnwritableShotAndAStalledEngineFail) {
  Target target;
  target.shotWorks = false;
  FluvaneAutomationRunner shot(parse("shot /nowhere/x.png"), target, [] { return 0.0; });
  EXPECT_EQ(shot.step(), std::optional<int>(1));
  EXPECT_EQ(shot.messages().at(0), "line 1: cannot write /nowhere/x.png: disk full");

  double wall = 0;
  FluvaneAutomationRunner stalled(parse("wait 1"), target, [&] { return wall; });
  EXPECT_FALSE(stalled.step());
  wall = 9;
  target.engine = 0.5;  // moving: the guard restarts
  EXPECT_FALSE(stalled.step());
  wall = 19.5;  // 10.5 s without the engine moving
  EXPECT_EQ(stalled.step(), std::optional<int>(1));
  EXPECT_EQ(stalled.messages().at(0), "the engine's clock stands still: is audio running?");
}

}  // namespace
