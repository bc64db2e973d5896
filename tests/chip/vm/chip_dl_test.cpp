// Module interface: the query record and its registration operations, module
// binding, the packed-argument reader and the guarded native calls.
#include "chip/vm/chip_dl.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/digiio_device.h"
#include "log_capture.h"

namespace {

using Lines = std::vector<std::string>;

// Whether one of the lines ends with text (the error channel puts the file
// name in front).
bool has_line(const Lines& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0)
      return true;
  }
  return false;
}

void a_ctor(Chip_Object*, void*, Chip_VM_Shred*) {}
void a_dtor(Chip_Object*, Chip_VM_Shred*) {}
void other_dtor(Chip_Object*, Chip_VM_Shred*) {}
void a_mfun(Chip_Object*, void*, Chip_DL_Return*, Chip_VM_Shred*) {}
void a_sfun(void*, Chip_DL_Return*, Chip_VM_Shred*) {}
unsigned long a_tick(Chip_Object*, SAMPLE in, SAMPLE* out, Chip_VM_Shred*) {
  *out = in * 2;
  return 1;
}
unsigned long other_tick(Chip_Object*, SAMPLE, SAMPLE*, Chip_VM_Shred*) { return 0; }
unsigned long a_pmsg(Chip_Object*, const char*, void*, Chip_VM_Shred*) { return 1; }

TEST(DLQueryTest, FreshQueryHasNoNameNoClassesAndTheAudioSettings) {
  Chip_DL_Query q;
  EXPECT_EQ(q.name, "[noname]");
  EXPECT_TRUE(q.classes.empty());
  EXPECT_EQ(q.curr_class, nullptr);
  EXPECT_EQ(q.curr_func, nullptr);
  EXPECT_EQ(q.srate, Digitalio::sampling_rate());
  EXPECT_EQ(q.bufsize, Digitalio::buffer_size());
  EXPECT_EQ(q.setname, &cp_setname);
  EXPECT_EQ(q.begin_class, &cp_begin_class);
  EXPECT_EQ(q.add_arg, &cp_add_arg);
  EXPECT_EQ(q.end_class, &cp_end_class);
  q.setname(&q, "osc");
  EXPECT_EQ(q.name, "osc");
}

// A whole class through the table: nesting, functions with arguments,
// variables, unit-generator hooks; clear() forgets it all.
TEST(DLQueryTest, RegistrationsCollectNestedClassesAndMembersInOrder) {
  Chip_DL_Query q;
  static t_CPWORD storage = 0;
  Lines lines = printed_lines([&] {
    q.begin_class(&q, "A", "UGen");
    q.add_ctor(&q, a_ctor);
    q.add_arg(&q, "int", "n");
    q.add_dtor(&q, a_dtor);
    q.add_mfun(&q, a_mfun, "float", "gain");
    q.add_arg(&q, "float", "value");
    q.add_arg(&q, "int", "which");
    q.add_sfun(&q, a_sfun, "int", "count");
    q.add_mvar(&q, "int", "@state", FALSE);
    q.add_svar(&q, "int", "LIMIT", TRUE, &storage);
    q.add_ugen_func(&q, a_tick, nullptr);
    q.add_ugen_func(&q, nullptr, a_pmsg);
    q.add_ugen_ctrl(&q, a_mfun, a_mfun, "float", "freq");
    q.begin_class(&q, "B", "");
    EXPECT_EQ(q.end_class(&q), 1u);
    EXPECT_EQ(q.end_class(&q), 1u);
  });
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(q.curr_class, nullptr);
  ASSERT_EQ(q.classes.size(), 1u);
  Chip_DL_Class* a = q.classes[0];
  EXPECT_EQ(a->name, "A");
  EXPECT_EQ(a->parent, "UGen");
  ASSERT_EQ(a->ctors.size(), 1u);
  EXPECT_EQ(a->ctors[0]->name, "[ctor]");
  EXPECT_EQ(a->ctors[0]->type, "void");
  ASSERT_EQ(a->ctors[0]->args.size(), 1u);
  ASSERT_NE(a->dtor, nullptr);
  EXPECT_EQ(a->dtor->name, "[dtor]");
  EXPECT_EQ(a->dtor->addr, reinterpret_cast<void*>(&a_dtor));
  ASSERT_EQ(a->mfuns.size(), 1u);
  EXPECT_EQ(a->mfuns[0]->name, "gain");
  EXPECT_EQ(a->mfuns[0]->type, "float");
  ASSERT_EQ(a->mfuns[0]->args.size(), 2u);
  EXPECT_EQ(a->mfuns[0]->args[0]->name, "value");
  EXPECT_EQ(a->mfuns[0]->args[0]->type, "float");
  EXPECT_EQ(a->mfuns[0]->args[1]->name, "which");
  ASSERT_EQ(a->sfuns.size(), 1u);
  EXPECT_EQ(a->sfuns[0]->addr, reinterpret_cast<void*>(&a_sfun));
  ASSERT_EQ(a->mvars.size(), 1u);
  EXPECT_EQ(a->mvars[0]->name, "@state");
  EXPECT_EQ(a->mvars[0]->addr, nullptr);
  ASSERT_EQ(a->svars.size(), 1u);
  EXPECT_EQ(a->svars[0]->addr, &storage);
  EXPECT_EQ(a->svars[0]->is_const, 1u);
  EXPECT_EQ(a->ugen_tick, &a_tick);
  EXPECT_EQ(a->ugen_pmsg, &a_pmsg);
  EXPECT_TRUE(a->ugen_ctrl.empty());
  ASSERT_EQ(a->classes.size(), 1u);
  EXPECT_EQ(a->classes[0]->name, "B");
  EXPECT_EQ(a->classes[0]->parent, "");

  q.setname(&q, "mod");
  q.clear();
  EXPECT_EQ(q.name, "[noname]");
  EXPECT_TRUE(q.classes.empty());
}

// Every refusal prints its message and changes nothing.
TEST(DLQueryTest, RefusedRegistrationsReportAndChangeNothing) {
  const struct {
    const char* label;
    bool open;  // inside a class
    void (*op)(Chip_DL_Query*);
    const char* message;
  } cases[] = {
      {"ctor", false, [](Chip_DL_Query* q) { q->add_ctor(q, a_ctor); },
       "class import: add_ctor invoked without begin_class..."},
      {"dtor", false, [](Chip_DL_Query* q) { q->add_dtor(q, a_dtor); },
       "class import: add_dtor invoked without begin_class..."},
      {"mfun", false, [](Chip_DL_Query* q) { q->add_mfun(q, a_mfun, "int", "f"); },
       "class import: add_mfun invoked without begin_class..."},
      {"sfun", false, [](Chip_DL_Query* q) { q->add_sfun(q, a_sfun, "int", "f"); },
       "class import: add_sfun invoked without begin_class..."},
      {"mvar", false, [](Chip_DL_Query* q) { q->add_mvar(q, "int", "x", 0); },
       "class import: add_mvar invoked without begin_class..."},
      {"svar", false, [](Chip_DL_Query* q) { q->add_svar(q, "int", "x", 0, nullptr); },
       "class import: add_svar invoked without begin_class..."},
      {"arg", false, [](Chip_DL_Query* q) { q->add_arg(q, "int", "x"); },
       "class import: add_arg invoked without begin_class..."},
      {"ugen_func", false, [](Chip_DL_Query* q) { q->add_ugen_func(q, a_tick, nullptr); },
       "class import: add_ugen_func invoked without begin_class..."},
      {"ugen_ctrl", false, [](Chip_DL_Query* q) { q->add_ugen_ctrl(q, a_mfun, a_mfun, "int", "x"); },
       "class import: add_ugen_ctrl invoked without begin_class..."},
      {"end_class", false, [](Chip_DL_Query* q) { EXPECT_EQ(q->end_class(q), 0u); },
       "class import: end_class invoked without begin_class..."},
      {"arg after begin", true, [](Chip_DL_Query* q) { q->add_arg(q, "int", "x"); },
       "class import: add_arg can only follow 'ctor', 'mfun', 'sfun', 'arg'..."},
      {"arg after mvar", true,
       [](Chip_DL_Query* q) {
         q->add_mfun(q, a_mfun, "int", "f");
         q->add_mvar(q, "int", "x", 0);
         q->add_arg(q, "int", "y");
       },
       "class import: add_arg can only follow 'ctor', 'mfun', 'sfun', 'arg'..."},
      {"arg after dtor", true,
       [](Chip_DL_Query* q) {
         q->add_mfun(q, a_mfun, "int", "f");
         q->add_dtor(q, a_dtor);
         q->add_arg(q, "int", "y");
       },
       "class import: add_arg can only follow 'ctor', 'mfun', 'sfun', 'arg'..."},
      {"second dtor", true,
       [](Chip_DL_Query* q) {
         q->add_dtor(q, a_dtor);
         q->add_dtor(q, other_dtor);
       },
       "class import: multiple dtor added ..."},
      {"second tick", true,
       [](Chip_DL_Query* q) {
         q->add_ugen_func(q, a_tick, nullptr);
         q->add_ugen_func(q, other_tick, nullptr);
       },
       "class import: ugen_tick already defined..."},
      {"second pmsg", true,
       [](Chip_DL_Query* q) {
         q->add_ugen_func(q, nullptr, a_pmsg);
         q->add_ugen_func(q, nullptr, a_pmsg);
       },
       "class import: ugen_pmsg already defined..."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Chip_DL_Query q;
    if (c.open) q.begin_class(&q, "A", "");
    Lines lines = printed_lines([&] { c.op(&q); });
    EXPECT_TRUE(has_line(lines, c.message)) << (lines.empty() ? "" : lines[0]);
    if (!c.open) {
      EXPECT_TRUE(q.classes.empty());
      continue;
    }
    Chip_DL_Class* a = q.classes[0];
    EXPECT_TRUE(a->mfuns.empty() || a->mfuns[0]->args.empty());
    if (a->dtor) {
      EXPECT_EQ(a->dtor->addr, reinterpret_cast<void*>(&a_dtor));
    }
    if (a->ugen_tick) {
      EXPECT_EQ(a->ugen_tick, &a_tick);
    }
  }
}

TEST(DLQueryTest, ConvenienceFunctionsTakeArgumentsInOrder) {
  Chip_DL_Func* f = make_new_mfun("float[]", "values", a_mfun);
  f->add_arg("int", "from");
  f->add_arg("string", "key");
  EXPECT_EQ(f->type, "float[]");
  EXPECT_EQ(f->addr, reinterpret_cast<void*>(&a_mfun));
  ASSERT_EQ(f->args.size(), 2u);
  EXPECT_EQ(f->args[0]->name, "from");
  EXPECT_EQ(f->args[1]->type, "string");
  EXPECT_EQ(f->args[1]->is_const, 0u);
  delete f;
  Chip_DL_Func* s = make_new_sfun("void", "reset", a_sfun);
  EXPECT_TRUE(s->args.empty());
  EXPECT_EQ(s->addr, reinterpret_cast<void*>(&a_sfun));
  delete s;
}

// ---------------------------------------------------------------------------
// Modules

int g_queries = 0;
t_CPBOOL good_query(Chip_DL_Query* q) {
  g_queries++;
  q->setname(q, "good");
  q->begin_class(q, "Thing", "");
  q->end_class(q);
  return TRUE;
}
t_CPBOOL bad_query(Chip_DL_Query* q) {
  g_queries++;
  q->begin_class(q, "Half", "");
  return FALSE;
}

TEST(DLLTest, AModuleIsQueriedOnceAndUnloadsOnce) {
  g_queries = 0;
  Chip_DLL dll("good");
  EXPECT_EQ(dll.query(), nullptr);
  EXPECT_STREQ(dll.last_error(), "dynamic link library not loaded for query...");

  EXPECT_TRUE(dll.load(good_query, TRUE));
  EXPECT_EQ(g_queries, 0);  // lazy
  Chip_DL_Query* q = dll.query();
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(dll.query(), q);
  EXPECT_EQ(g_queries, 1);
  EXPECT_EQ(q->name, "good");
  EXPECT_EQ(q->classes.size(), 1u);
  EXPECT_STREQ(dll.name(), "good");

  EXPECT_TRUE(dll.unload());
  EXPECT_FALSE(dll.unload());
  EXPECT_STREQ(dll.last_error(), "cannot unload dynamic library - nothing open...");
}

TEST(DLLTest, AFailedQueryFailsTheLoadAndKeepsWhatItCollected) {
  g_queries = 0;
  Chip_DLL dll("bad");
  EXPECT_FALSE(dll.load(bad_query));
  EXPECT_EQ(g_queries, 1);
  EXPECT_STREQ(dll.last_error(), "unsuccessful query in dll 'bad'");
  EXPECT_EQ(dll.m_query.classes.size(), 1u);
  // Not done: the next query runs the function again, on a cleared record.
  EXPECT_EQ(dll.query(), nullptr);
  EXPECT_EQ(g_queries, 2);
  EXPECT_EQ(dll.m_query.classes.size(), 1u);
}

// ---------------------------------------------------------------------------
// Packed arguments

TEST(DLArgsTest, ReaderTakesIntsFloatsObjectsAndPairsInAnyOrder) {
  unsigned char block[6 * 8 + 1];
  unsigned char* p = block + 1;  // deliberately unaligned
  Chip_Object object;
  const t_CPWORD minus_seven = -7;
  const double quarter = 0.25;
  const Chip_Object* ref = &object;
  const t_CPCOMPLEX z{1.5, -2.0};
  const t_CPWORD big = 40000;
  std::memcpy(p, &minus_seven, 8);
  std::memcpy(p + 8, &quarter, 8);
  std::memcpy(p + 16, &ref, 8);
  std::memcpy(p + 24, &z, 16);
  std::memcpy(p + 40, &big, 8);

  void* cursor = p;
  EXPECT_EQ(GET_NEXT_INT(cursor), -7);
  EXPECT_EQ(GET_NEXT_FLOAT(cursor), 0.25);
  EXPECT_EQ(GET_NEXT_OBJECT(cursor), &object);
  t_CPCOMPLEX got = GET_NEXT_COMPLEX(cursor);
  EXPECT_EQ(got.re, 1.5);
  EXPECT_EQ(got.im, -2.0);
  EXPECT_EQ(GET_NEXT_INT(cursor), 40000);
  EXPECT_EQ(cursor, static_cast<void*>(p + 48));
}

// ---------------------------------------------------------------------------
// Guarded calls

void throwing_mfun(Chip_Object*, void*, Chip_DL_Return* ret, Chip_VM_Shred*) {
  ret->v_int = 1;
  throw std::runtime_error("boom");
}
void throwing_sfun(void*, Chip_DL_Return*, Chip_VM_Shred*) { throw 42; }
void throwing_ctor(Chip_Object*, void*, Chip_VM_Shred*) { throw std::runtime_error("ctor"); }
void throwing_dtor(Chip_Object*, Chip_VM_Shred*) { throw std::runtime_error("dtor"); }
void quiet_mfun(Chip_Object*, void*, Chip_DL_Return* ret, Chip_VM_Shred*) { ret->v_float = 0.5; }
unsigned long throwing_tick(Chip_Object*, SAMPLE, SAMPLE*, Chip_VM_Shred*) {
  throw std::runtime_error("tick");
}
unsigned long throwing_pmsg(Chip_Object*, const char*, void*, Chip_VM_Shred*) {
  throw std::runtime_error("pmsg");
}
unsigned long throwing_tock(Chip_Object*, Chip_UAna*, Chip_UAnaBlobProxy*, Chip_VM_Shred*) {
  throw std::runtime_error("tock");
}

TEST(DLGuardTest, AThrowingFunctionIsReportedAndStopsItsShred) {
  const struct {
    const char* label;
    t_CPBOOL (*call)(Chip_VM_Shred*);
    const char* what;
  } cases[] = {
      {"mfun",
       [](Chip_VM_Shred* s) {
         Chip_DL_Return r;
         return chip_dl_call_mfun(throwing_mfun, nullptr, nullptr, &r, s);
       },
       "boom"},
      {"sfun",
       [](Chip_VM_Shred* s) {
         Chip_DL_Return r;
         return chip_dl_call_sfun(throwing_sfun, nullptr, &r, s);
       },
       "unknown exception"},
      {"ctor", [](Chip_VM_Shred* s) { return chip_dl_call_ctor(throwing_ctor, nullptr, nullptr, s); },
       "ctor"},
      {"dtor", [](Chip_VM_Shred* s) { return chip_dl_call_dtor(throwing_dtor, nullptr, s); },
       "dtor"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Chip_VM_Shred shred;
    shred.id = 3;
    shred.name = "noisy";
    shred.pc = 2;
    shred.is_running = TRUE;
    t_CPBOOL ok = TRUE;
    Lines lines = printed_lines([&] { ok = c.call(&shred); });
    EXPECT_FALSE(ok);
    EXPECT_EQ(lines, Lines{std::string("[chip](VM): NativeException: shred[id=3:noisy], PC=[2]: ") +
                           c.what});
    EXPECT_FALSE(shred.is_running);
    EXPECT_TRUE(shred.is_done);
  }

  // Without a shred only the report; a function that returns passes through.
  Chip_DL_Return r;
  Lines lines = printed_lines(
      [&] { EXPECT_FALSE(chip_dl_call_mfun(throwing_mfun, nullptr, nullptr, &r, nullptr)); });
  EXPECT_EQ(lines, Lines{"[chip](VM): NativeException: boom"});
  EXPECT_TRUE(chip_dl_call_mfun(quiet_mfun, nullptr, nullptr, &r, nullptr));
  EXPECT_EQ(r.v_float, 0.5);
}

TEST(DLGuardTest, AThrowingUnitGeneratorHookIsReportedAndLeavesItsResult) {
  Chip_Object node;
  node.type_ref = &t_ugen;  // not counted: cleared below
  unsigned long result = 7;
  SAMPLE out = 0.0f;
  Lines lines = printed_lines([&] {
    EXPECT_FALSE(chip_dl_call_tick(throwing_tick, &node, 1.0f, &out, nullptr, &result));
    EXPECT_FALSE(chip_dl_call_pmsg(throwing_pmsg, &node, "x", nullptr, nullptr, &result));
    EXPECT_FALSE(chip_dl_call_tock(throwing_tock, &node, nullptr, nullptr, nullptr, &result));
  });
  EXPECT_EQ(lines, (Lines{"[chip](VM): NativeException: UGen 'UGen' silenced: tick",
                          "[chip](VM): NativeException: UGen 'UGen' silenced: pmsg",
                          "[chip](VM): NativeException: UGen 'UGen' silenced: tock"}));
  EXPECT_EQ(result, 7u);
  EXPECT_TRUE(chip_dl_call_tick(a_tick, &node, 1.5f, &out, nullptr, &result));
  EXPECT_EQ(result, 1u);
  EXPECT_EQ(out, 3.0f);
  node.type_ref = nullptr;
}

}  // namespace
