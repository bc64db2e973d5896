// The fluvane program's life as a player meets it, through the process:
// where its files go when the home is given as a relative name, what its
// terminal shows, one instance per home, the files it cannot read at start,
// a picture asked for in a folder that does not exist, and a recording
// still running when it is told to quit (by a signal or by the script),
// which is kept like a stop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "recorder/FluvaneSnippet.h"
#include "Classes/fluvane_process_support.h"
#include "platform/InstanceLock.h"
#include "platform/Paths.h"
#include "platform/Plist.h"

using platform::Paths;
namespace plist = platform::plist;

namespace {

// A folder of this test's own (the test program's home is temporary).
std::string folderFor(const std::string& name) {
  const std::string folder = Paths::join(Paths::home(), name);
  Paths::remove(folder);
  Paths::mkdirs(folder);
  return folder;
}

std::vector<std::string> entries(const std::string& dir) { return Paths::listDir(dir); }

// With the home given relative to the folder the program starts in, every
// file of the run lands in that one home: the preferences, the log, the
// statistics, and the engine's temporary scripts (found, so the engine plays,
// and purged at the end); a picture's relative name is the start folder's;
// nothing is written into the installed resources.
TEST(FluvaneProgramLife, ARelativeHomeKeepsTheRunsFilesTogether) {
  const std::string folder = folderFor("relative-home");
  Paths::mkdirs(Paths::join(folder, "pics"));
  FluvaneProcess run(folder, {"--automate", writeScript(folder, "wait 0.5\nshot pics/a.png\n")},
                     {{"FLUVANE_HOME", "home"}});
  ASSERT_EQ(run.wait(), 0) << run.err();
  const std::string home = Paths::join(folder, "home");
  EXPECT_TRUE(Paths::exists(Paths::join(home, "Preferences.plist")));
  EXPECT_TRUE(Paths::exists(Paths::join(home, "Documents/log/current.log")));
  EXPECT_TRUE(Paths::exists(Paths::join(home, "Documents/stats.plist")));
  EXPECT_TRUE(entries(Paths::join(home, "Documents/tmp")).empty());
  EXPECT_TRUE(Paths::exists(Paths::join(folder, "pics/a.png")));
  // Found there, it is taken away again (the next run starts clean).
  EXPECT_FALSE(Paths::remove(Paths::join(Paths::resources(), "home")));
}

// The terminal stays quiet for a player; the log file has every line, and
// --verbose shows them too.
TEST(FluvaneProgramLife, TheTerminalShowsOnlyWhatAPlayerNeeds) {
  const std::string folder = folderFor("quiet");
  const std::string script = writeScript(folder, "wait 0.3\nquit\n");
  const std::string home = Paths::join(folder, "home");
  {
    FluvaneProcess run(folder, {"--automate", script}, {{"FLUVANE_HOME", home}});
    ASSERT_EQ(run.wait(), 0) << run.err();
    EXPECT_EQ(run.err(), "");
    EXPECT_EQ(run.out(), "");
    const std::string log = *Paths::readFile(Paths::join(home, "Documents/log/current.log"));
    EXPECT_NE(log.find("product: Fluvane"), std::string::npos);
  }
  FluvaneProcess verbose(folder, {"--verbose", "--automate", script}, {{"FLUVANE_HOME", home}});
  ASSERT_EQ(verbose.wait(), 0) << verbose.err();
  EXPECT_NE(verbose.err().find("product: Fluvane"), std::string::npos) << verbose.err();
}

// A picture into a folder that does not exist is an error of its line; no
// folder is made for it.
TEST(FluvaneProgramLife, APictureIntoAMissingFolderFailsAtItsLine) {
  const std::string folder = folderFor("missing-folder");
  FluvaneProcess run(folder,
                     {"--automate", writeScript(folder, "wait 0.2\nshot nowhere/deeper/x.png\n")},
                     {{"FLUVANE_HOME", Paths::join(folder, "home")}});
  EXPECT_EQ(run.wait(), 1);
  EXPECT_NE(run.err().find("fluvane: line 2: cannot write nowhere/deeper/x.png: no such folder"),
            std::string::npos)
      << run.err();
  EXPECT_FALSE(Paths::exists(Paths::join(folder, "nowhere")));
}

// While one instance holds the home, a second one says so and leaves at
// once, before touching anything (its log is not even started).
TEST(FluvaneProgramLife, ASecondInstanceSaysOneIsRunning) {
  const std::string folder = folderFor("second");
  const std::string home = Paths::join(folder, "home");
  Paths::mkdirs(home);
  platform::InstanceLock first;
  ASSERT_EQ(first.acquire(Paths::join(home, "fluvane.lock")),
            platform::InstanceLock::Result::Acquired);
  FluvaneProcess second(folder, {"--automate", writeScript(folder, "quit\n")},
                        {{"FLUVANE_HOME", home}});
  EXPECT_EQ(second.wait(), 1);
  EXPECT_EQ(second.err(), "fluvane: Fluvane is already running as process " +
                              std::to_string(::getpid()) + " (its folder: " + home + ")\n");
  EXPECT_FALSE(Paths::exists(Paths::join(home, "Documents")));
  first.release();
  FluvaneProcess again(folder, {"--automate", writeScript(folder, "quit\n")},
                       {{"FLUVANE_HOME", home}});
  EXPECT_EQ(again.wait(), 0) << again.err();
}

// Files the program cannot read at its start (preferences cut short,
// statistics and the recording policy nested 20,000 deep) neither crash it
// nor vanish: each is set aside as it was, the player is told, and the run
// goes on with defaults and writes good files.
TEST(FluvaneProgramLife, UnreadableFilesAreSetAsideAndTheRunGoesOn) {
  const std::string folder = folderFor("unreadable");
  const std::string home = Paths::join(folder, "home");
  const std::string documents = Paths::join(home, "Documents");
  Paths::mkdirs(documents);
  const std::string preferences = Paths::join(home, "Preferences.plist");
  ASSERT_TRUE(plist::writeAtomic(
      preferences, plist::Value::dict({{"FluvanePreferenceRootKey", plist::Value::string("D")}})));
  const std::string full = *Paths::readFile(preferences);
  const std::string cut = full.substr(0, full.size() / 2);
  std::string deep = "<plist version=\"1.0\">";
  for (int i = 0; i < 20000; i++) deep += "<array>";
  struct File {
    std::string path, bytes;
  };
  const File files[] = {{preferences, cut},
                        {Paths::join(documents, "stats.plist"), deep},
                        {Paths::join(documents, "recordConfig.plist"), deep}};
  for (const File& f : files) ASSERT_TRUE(Paths::writeAtomic(f.path, f.bytes));

  FluvaneProcess run(folder, {"--automate", writeScript(folder, "wait 0.3\nquit\n")},
                     {{"FLUVANE_HOME", home}});
  ASSERT_EQ(run.wait(), 0) << run.err();
  for (const File& f : files) {
    EXPECT_EQ(Paths::readFile(f.path + ".bad"), f.bytes) << f.path;
    EXPECT_NE(run.err().find(f.path), std::string::npos) << run.err();
  }
  EXPECT_NE(run.err().find("kept as " + preferences + ".bad"), std::string::npos) << run.err();
  std::optional<plist::Value> written = plist::read(preferences);
  EXPECT_TRUE(written && written->asDict());
  EXPECT_TRUE(plist::read(Paths::join(documents, "stats.plist")));
}

// A recording still running when the program is told to quit is ended and
// kept like a stop: under Documents/recordings, and, made automatically, in
// the outbox to be sent later (a manual one is the player's to send).
TEST(FluvaneProgramLife, AQuitKeepsTheRecordingThatRuns) {
  const std::string manualScript =
      "msg 4003\nkey E down\nwait 0.4\nkey E up\nwait 0.4\nshot recording.png\n";
  const std::string automaticScript =
      "breath 0.8\nwait 1.3\nkey E down\nwait 0.4\nkey E up\nwait 0.4\nshot recording.png\n";
  struct Case {
    const char* what;
    bool manual;
    int signal;  // 0: the script's quit
  };
  const Case cases[] = {{"manual, SIGTERM", true, SIGTERM},
                        {"automatic, SIGINT", false, SIGINT},
                        {"manual, the script's quit", true, 0},
                        {"automatic, SIGHUP", false, SIGHUP}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string folder = folderFor("quit-" + std::to_string(n++));
    const std::string home = Paths::join(folder, "home");
    const std::string documents = Paths::join(home, "Documents");
    Paths::mkdirs(documents);
    if (c.manual) {
      ASSERT_TRUE(plist::writeAtomic(
          Paths::join(home, "Preferences.plist"),
          plist::Value::dict(
              {{"FluvanePreferenceEnableMelodyUploadKey", plist::Value::integer(2)}})));
    } else {
      // A recording policy that records from the first second of breath on.
      ASSERT_TRUE(plist::writeAtomic(
          Paths::join(documents, "recordConfig.plist"),
          plist::Value::dict({{"VXRecConfUploadFrequencyKey", plist::Value::integer(1)},
                              {"VXRecConfMinlengthKey", plist::Value::integer(1)},
                              {"VXRecConfMaxlengthKey", plist::Value::integer(60)},
                              {"VXRecConfRootKey", plist::Value::integer(-1)},
                              {"VXRecConfModeKey", plist::Value::integer(-1)}})));
    }
    std::string script = c.manual ? manualScript : automaticScript;
    script += c.signal ? "wait 600\n" : "quit\n";
    FluvaneProcess run(folder, {"--automate", writeScript(folder, script)},
                       {{"FLUVANE_HOME", home}});
    if (c.signal) {
      ASSERT_TRUE(run.waitForFile("recording.png")) << run.err();
      run.signal(c.signal);
    }
    EXPECT_EQ(run.wait(), c.signal ? 128 + c.signal : 0) << run.err();
    const std::vector<std::string> kept = entries(Paths::join(documents, "recordings"));
    ASSERT_EQ(kept.size(), 1u);
    std::optional<std::string> packet =
        Paths::readFile(Paths::join(documents, "recordings/" + kept[0]));
    ASSERT_TRUE(packet);
    std::optional<FluvaneSnippet> recording = snippetFromPacket(*packet);
    ASSERT_TRUE(recording);
    EXPECT_GE(recording->duration, 0.7f * 16000) << recording->duration;
    const std::vector<std::string> waiting = entries(Paths::join(documents, "outbox"));
    EXPECT_EQ(waiting.size(), c.manual ? 0u : 1u);
  }
}

}  // namespace
