// A host written against the engine's front door alone: this file includes
// no engine header but chip/chip.h (the layer check holds it to that). It
// binds a unit generator through a frame row and a plain class through the
// registration steps, provides them as a module, installs its log sink and
// runs a script through chip_main, then reads what the script printed and
// what it handed the host.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <fstream>
#include <string>

#include "chip/chip.h"

namespace {

// ---------------------------------------------------------------------------
// The host's log: everything the engine prints.

std::string g_printed;

void capture_vlogf(c_constr format, va_list args) {
  char text[1024];
  std::vsnprintf(text, sizeof text, format, args);
  g_printed += text;
}

void capture_flush() {}

// ---------------------------------------------------------------------------
// A unit generator bound by one row: its input times a factor.

class Scale : public Frame_Obj {
 public:
  double factor() const { return factor_; }
  double setFactor(double k) { return factor_ = k; }
  SAMPLE tick(SAMPLE in) const { return static_cast<SAMPLE>(in * factor_); }

 private:
  double factor_ = 1.0;
};

t_CPWORD g_scale_offset = FRAME_NO_OFFSET;

const Frame_Member kScaleMembers[] = {
    frame_prop(
        "factor", "float", [](Frame_Slot& s, double v) { return s.as<Scale>().setFactor(v); },
        [](Frame_Slot& s) { return s.as<Scale>().factor(); }),
    frame_method(
        "times", "float",
        [](Frame_Slot& s, void* args, Chip_DL_Return* ret) {
          t_CPFLOAT x = GET_NEXT_FLOAT(args);
          ret->v_float = x * s.as<Scale>().factor();
        },
        {"float", "x"}),
};

const Frame_Class_Desc kHostClasses[] = {
    {"HostScale", "UGen", "@scale", &g_scale_offset,
     [](Chip_Object*) -> Frame_Obj* { return new Scale; },
     [](Frame_Slot& s, SAMPLE in) { return s.as<Scale>().tick(in); }, frame_pmsg_false,
     FRAME_MEMBERS(kScaleMembers)},
};

// ---------------------------------------------------------------------------
// A plain class by the registration steps: static functions that hand the
// host what the script sends.

long g_total = 0;
int g_calls = 0;

void tally_add(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)RETURN, (void)SHRED;
  g_total += GET_NEXT_INT(ARGS);
  g_calls++;
}

void tally_total(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)ARGS, (void)SHRED;
  RETURN->v_int = g_total;
}

int g_queries = 0;

t_CPBOOL host_query(Chip_DL_Query* QUERY) {
  (void)QUERY;
  g_queries++;
  Chip_Env* env = chip_env();
  if (!env) return FALSE;
  if (!chip_import_classes(env, kHostClasses, sizeof kHostClasses / sizeof kHostClasses[0])) {
    return FALSE;
  }
  if (!chip_class_begin(env, "HostTally", "Object", nullptr, nullptr)) return FALSE;
  if (!frame_import_sfun(env, "void", "add", tally_add, {{"int", "n"}}) ||
      !frame_import_sfun(env, "int", "total", tally_total)) {
    return frame_fail(env);
  }
  return chip_class_end(env);
}

// Runs text as a script with the host's module in the place "VCR"; the
// exit status.
int run_script(const std::string& text) {
  g_printed.clear();
  g_total = 0;
  g_calls = 0;
  g_queries = 0;
  static const EM_Sink sink{capture_vlogf, capture_flush};
  EM_set_sink(&sink);
  EXPECT_TRUE(chip_provide_module("VCR", host_query));
  const std::string path = ::testing::TempDir() + "host_door.chip";
  std::ofstream(path) << text;
  const char* argv[] = {"chip", "--silent", path.c_str()};
  int status = chip_main(3, argv);
  EM_flush();
  EM_set_sink(nullptr);
  return status;
}

TEST(ChipHostTest, AHostBindsItsClassesAndRunsAScriptThroughTheFrontDoor) {
  const int status = run_script(
      "Step s => HostScale h => blackhole;\n"
      "0.5 => s.next;\n"
      "3.0 => h.factor;\n"
      "2::samp => now;\n"
      "<<< h.last(), h.factor(), h.times(0.25) >>>;\n"
      "HostTally.add(4);\n"
      "HostTally.add(-9);\n"
      "<<< HostTally.total() >>>;\n");
  EXPECT_EQ(status, 0) << g_printed;
  EXPECT_EQ(g_queries, 1);
  // The row's tick, property and method; the host's own functions.
  EXPECT_NE(g_printed.find("1.500000 3.000000 0.750000 \n"), std::string::npos) << g_printed;
  EXPECT_NE(g_printed.find("-5 :(int)\n"), std::string::npos) << g_printed;
  EXPECT_EQ(g_calls, 2);
  EXPECT_EQ(g_total, -5);
}

TEST(ChipHostTest, AScriptThatNamesAnUnboundMemberFailsWithTheEnginesMessage) {
  const int status = run_script("HostScale h;\nh.loudness(2.0);\n");
  EXPECT_EQ(status, 1);
  EXPECT_NE(g_printed.find("loudness"), std::string::npos) << g_printed;
  EXPECT_EQ(g_calls, 0);
}

}  // namespace
