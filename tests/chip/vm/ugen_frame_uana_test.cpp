// The binding frame's analyser rows: a probe analyser declared by one row
// with a tock, a static function and members that fail, registered and run
// in programs on a machine.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/ugen_frame.h"
#include "emit_test_support.h"

namespace {

t_CPWORD probe_offset = FRAME_NO_OFFSET;

// Counts its tocks and the samples it was ticked with; its result is
// (tocks, upstream analysers, sum of the first upstream's first value).
class ProbeAna : public Frame_Obj {
 public:
  int tocks = 0;
  double ticked = 0.0;
};

void twice(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = 2.0 * GET_NEXT_FLOAT(ARGS);
}

const Frame_Member kProbeMembers[] = {
    frame_static("twice", "float", twice, {"float", "x"}),
    frame_prop("ticked", "float", nullptr, [](Frame_Slot& s) { return s.as<ProbeAna>().ticked; }),
    frame_method("halt", "int",
                 [](Frame_Slot&, void*, Chip_DL_Return*) {
                   Frame_Error error("probe halts");
                   error.haltShred();
                   throw error;
                 }),
    frame_method("fail", "int",
                 [](Frame_Slot&, void*, Chip_DL_Return*) { throw Frame_Error("probe fails"); }),
};

const Frame_Class_Desc kProbe = {
    .name = "ProbeAna",
    .parent = "UAna",
    .data_member = "@probe_data",
    .offset = &probe_offset,
    .make = [](Chip_Object*) -> Frame_Obj* { return new ProbeAna; },
    .tick =
        [](Frame_Slot& s, SAMPLE in) {
          s.as<ProbeAna>().ticked += in;
          return 0.0f;
        },
    .pmsg = frame_pmsg_true,
    FRAME_MEMBER_FIELDS(kProbeMembers),
    .tock =
        [](Frame_Slot& s, Chip_UAna* uana, Chip_UAnaBlobProxy* blob) {
          ProbeAna& probe = s.as<ProbeAna>();
          probe.tocks++;
          double upstream = 0.0;
          for (unsigned long i = 0; i < uana->numIncomingUAnae(); i++) {
            Chip_Array8& up = uana->getIncomingBlob(i)->fvals();
            if (up.size() > 0) upstream += up.m_vector[0];
          }
          Chip_Array8& out = blob->fvals();
          out.set_size(3);
          out.m_vector = {static_cast<double>(probe.tocks),
                          static_cast<double>(uana->numIncomingUAnae()), upstream};
        },
};

class FrameUAnaTest : public EmitProgramTest {
 protected:
  FrameUAnaTest() : EmitProgramTest("probe.chip") {}
  void SetUp() override {
    EmitProgramTest::SetUp();
    type = frame_import_class(env, &kProbe);
    ASSERT_NE(type, nullptr);
    env->global()->commit();
  }
  void TearDown() override {
    EmitProgramTest::TearDown();
    probe_offset = FRAME_NO_OFFSET;
  }
  Chip_Type* type = nullptr;
};

TEST_F(FrameUAnaTest, ARowWithATockIsAnAnalyserClass) {
  EXPECT_EQ(type->parent->name, "UAna");
  ASSERT_NE(type->ugen_info, nullptr);
  EXPECT_NE(type->ugen_info->tock, nullptr);
  EXPECT_NE(type->ugen_info->tick, nullptr);
  EXPECT_EQ(type->ugen_info->num_ins_ana, t_uana.ugen_info->num_ins_ana);
  EXPECT_EQ(type->ugen_info->num_outs_ana, t_uana.ugen_info->num_outs_ana);
  Chip_Value* member = type_engine_find_value(type, std::string("@probe_data"));
  ASSERT_NE(member, nullptr);
  EXPECT_EQ(static_cast<t_CPWORD>(member->offset), probe_offset);
}

TEST_F(FrameUAnaTest, TocksSeeUpstreamBlobsAndTicksRecord) {
  Lines out = run(
      "Step s => ProbeAna a =^ ProbeAna b => blackhole;\n"
      "0.5 => s.next;\n"
      "4::samp => now;\n"
      "b.upchip();\n"
      "<<< a.fval(0), b.fval(0), b.fval(1), b.fval(2), a.ticked() >>>;\n"
      "1::samp => now;\n"
      "b.upchip();\n"
      "<<< b.fval(0), b.fval(2), ProbeAna.twice(1.5) >>>;\n");
  // Both tocked once per upchip, a before b; b saw a's first value.
  EXPECT_EQ(out, (Lines{"1.000000 1.000000 1.000000 1.000000 2.000000 ",
                        "2.000000 2.000000 3.000000 "}));
}

TEST_F(FrameUAnaTest, AHaltingErrorEndsTheCallingShredAndAPlainOneDoesNot) {
  Lines out = run(
      "ProbeAna a;\n"
      "<<< a.fail() >>>;\n"
      "a.halt();\n"
      "<<< \"not reached\" >>>;\n");
  EXPECT_EQ(out, (Lines{"[chip]: probe fails", "0 :(int)", "[chip]: probe halts"}));
}

}  // namespace
