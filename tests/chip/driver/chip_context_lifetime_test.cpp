// How long a compiled file stays: files added to a machine one after the
// other, counted by the environment's live contexts (each with its tree,
// records and code). A file goes when nothing holds it any more: its shreds
// ended and no object of its classes left; the compiler holds only its last
// output, a file that fails goes at once, and a file with a public class
// stays for good.
#include <gtest/gtest.h>
#include <malloc.h>

#include <fstream>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "engine_support.h"
#include "log_capture.h"

namespace {

class ContextLifetime : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    dir = ::testing::TempDir() + "ctx_" +
          ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_";
  }

  // Writes a source file of the test; its path.
  std::string file(const std::string& name, const std::string& text) {
    std::ofstream(dir + name) << text;
    return dir + name;
  }

  t_CPUINT add(const std::string& path) { return process(packet(OTF_ADD, 0, path)); }
  t_CPUINT remove(t_CPUINT id) { return process(packet(OTF_REMOVE, static_cast<t_CPINT>(id))); }

  // Runs the machine for `samples` samples.
  void run(long samples) { vm->run(samples); }

  // The live contexts compiled from files of this test, by file name.
  std::vector<std::string> alive() {
    std::vector<std::string> names;
    for (Chip_Context* context : compiler->env->live_contexts) {
      if (context->filename.rfind(dir, 0) == 0) names.push_back(context->filename.substr(dir.size()));
    }
    return names;
  }

  std::string dir;
};

typedef std::vector<std::string> Names;

// The same one-line file added 1,000 and then 20,000 times, each shred
// ending at once: the live contexts are the same after both, and so is the
// heap in use (the sanitizer's allocator reports none: there only the
// contexts count).
TEST_F(ContextLifetime, AddingAFileAgainAndAgainKeepsNothing) {
  const std::string one = file("one.chip", "1 + 1 => int two;\n");
  size_t contexts[2] = {0, 0};
  size_t heap[2] = {0, 0};
  const int adds[2] = {1000, 20000};
  printed_lines([&] {
    int done = 0;
    for (int round = 0; round < 2; round++) {
      for (; done < adds[round]; done++) {
        add(one);
        run(1);
      }
      contexts[round] = compiler->env->live_contexts.size();
      heap[round] = mallinfo2().uordblks;
    }
  });
  EXPECT_EQ(contexts[1], contexts[0]);
  // The built-in modules' context and the compiler's last output.
  EXPECT_EQ(contexts[1], 2u);
  EXPECT_LT(heap[1], heap[0] + 64 * 1024) << heap[0] << " bytes, then " << heap[1];
}

// What keeps an added file, step by step.
TEST_F(ContextLifetime, AFileStaysWhileItsShredsOrObjectsDo) {
  const std::string keeper = file("keeper.chip",
                                  "public class Keeper { static Object @ kept; }\n");
  const std::string maker = file("maker.chip",
                                 "class Made { 1 => int n; }\n"
                                 "new Made @=> Keeper.kept;\n"
                                 "1::second => now;\n");
  const std::string clear = file("clear.chip", "null @=> Keeper.kept;\n");
  const std::string waits = file("waits.chip", "1::second => now;\n");
  printed_lines([&] {
    ASSERT_NE(add(keeper), 0u);
    const t_CPUINT made = add(maker);
    ASSERT_NE(made, 0u);
    run(2);
    // Its shred runs; the compiler still holds it as its last output.
    EXPECT_EQ(alive(), (Names{"keeper.chip", "maker.chip"}));
    const t_CPUINT waiting = add(waits);
    run(2);
    EXPECT_EQ(alive(), (Names{"keeper.chip", "maker.chip", "waits.chip"}));
    // Removed, its object still in Keeper.kept: it stays.
    EXPECT_EQ(remove(made), made);
    EXPECT_EQ(alive(), (Names{"keeper.chip", "maker.chip", "waits.chip"}));
    // The object let go of: it goes (the public class stays for good).
    ASSERT_NE(add(clear), 0u);
    run(2);
    EXPECT_EQ(alive(), (Names{"keeper.chip", "waits.chip", "clear.chip"}));
    // A waiting shred removed, its file no longer the compiler's output.
    EXPECT_EQ(remove(waiting), waiting);
    EXPECT_EQ(alive(), (Names{"keeper.chip", "clear.chip"}));
  });
}

// A file that fails goes at once and leaves no name behind; the compiler's
// output is still the last file that compiled.
TEST_F(ContextLifetime, AFileThatFailsGoesAtOnce) {
  const std::string good = file("good.chip", "1::second => now;\n");
  const std::string bad = file("bad.chip",
                               "public class Lost { int x; }\n"
                               "class Inner extends Lost {}\n"
                               "no_such_name => int y;\n");
  printed_lines([&] {
    ASSERT_NE(add(good), 0u);
    Chip_VM_Code* output = compiler->output();
    EXPECT_EQ(add(bad), 0u);
    EXPECT_EQ(alive(), (Names{"good.chip"}));
    EXPECT_EQ(compiler->env->global()->lookup_type("Lost", 1), nullptr);
    EXPECT_EQ(compiler->env->global()->lookup_value("Lost", 1), nullptr);
    EXPECT_EQ(compiler->output(), output);
  });
}

}  // namespace
