// Import interface: a test module declaring a class with every kind of
// member (constructor, destructor, member and static variables, member and
// static functions) and unit-generator classes with tick and pmsg, imported
// into a fresh type environment, then used from the type checker and from
// hand-made code on a machine; the edge cases of the import operations; a
// module's query record turned into classes.
#include "chip/types/chip_import.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_object.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "module_test_support.h"
#include "type_check_support.h"
#include "vm_test_support.h"

namespace {

using Lines = std::vector<std::string>;
using vmtest::Do;
using vmtest::End;
using vmtest::Mark;

const t_CPWORD W = sizeof(t_CPWORD);

bool has_line(const Lines& lines, const std::string& text) {
  for (const std::string& line : lines) {
    if (line.size() >= text.size() && line.compare(line.size() - text.size(), text.size(), text) == 0)
      return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// The test module.

unsigned long g_count_offset = CHIP_IMPORT_BAD_OFFSET;  // hidden int
unsigned long g_level_offset = CHIP_IMPORT_BAD_OFFSET;  // float
t_CPWORD g_limit = 99;                                  // static int
int g_dtor_calls = 0;
Chip_Object* g_dtor_self = nullptr;
int g_ticks = 0;
int g_boom_ticks = 0;

t_CPWORD& count_of(Chip_Object* self) {
  return *reinterpret_cast<t_CPWORD*>(self->data + g_count_offset);
}
t_CPFLOAT& level_of(Chip_Object* self) {
  return *reinterpret_cast<t_CPFLOAT*>(self->data + g_level_offset);
}

void widget_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  count_of(SELF) = 10;
  level_of(SELF) = 1.5;
}
void widget_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  g_dtor_calls++;
  g_dtor_self = SELF;
}
void widget_scale(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  RETURN->v_float = level_of(SELF) * GET_NEXT_FLOAT(cursor);
}
void widget_bump(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = ++count_of(SELF);
}
void widget_fail(Chip_Object*, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  throw std::runtime_error("widget broke");
}
// (int n, float f, Widget other): n + f, plus 100 when other is this one.
void widget_mix(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  t_CPINT n = GET_NEXT_INT(cursor);
  t_CPFLOAT f = GET_NEXT_FLOAT(cursor);
  Chip_Object* other = GET_NEXT_OBJECT(cursor);
  RETURN->v_float = n + f + (other == SELF ? 100 : 0);
}
void widget_twice(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  RETURN->v_int = 2 * GET_NEXT_INT(cursor);
}
void widget_values(Chip_Object*, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_object = nullptr;
}
unsigned long buzz_tick(Chip_Object*, SAMPLE in, SAMPLE* out, Chip_VM_Shred*) {
  g_ticks++;
  *out = in + 0.25f;
  return 1;
}
unsigned long buzz_pmsg(Chip_Object*, const char*, void*, Chip_VM_Shred*) { return 1; }
void buzz_drive(Chip_Object*, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  void* cursor = ARGS;
  RETURN->v_float = GET_NEXT_FLOAT(cursor);
}
unsigned long boom_tick(Chip_Object*, SAMPLE, SAMPLE*, Chip_VM_Shred*) {
  g_boom_ticks++;
  throw std::runtime_error("boom");
}

struct Arg {
  const char* type;
  const char* name;
};

bool import_fun(Chip_Env* env, bool is_static, const char* type, const char* name, void* fn,
                std::vector<Arg> args = {}) {
  std::unique_ptr<Chip_DL_Func> f(is_static ? make_new_sfun(type, name, reinterpret_cast<f_sfun>(fn))
                                            : make_new_mfun(type, name, reinterpret_cast<f_mfun>(fn)));
  for (const Arg& a : args) f->add_arg(a.type, a.name);
  return is_static ? type_engine_import_sfun(env, f.get()) : type_engine_import_mfun(env, f.get());
}

// Widget, Buzz (a UGen) and Boom (a Buzz whose tick throws), committed as
// the compiler does after loading a module.
bool import_test_module(Chip_Env* env) {
  Chip_Type* widget = type_engine_import_class_begin(env, "Widget", "", env->global(), widget_ctor,
                                                     widget_dtor);
  if (!widget) return false;
  g_count_offset = type_engine_import_mvar(env, "int", "@count", FALSE);
  g_level_offset = type_engine_import_mvar(env, "float", "level", FALSE);
  if (g_count_offset == CHIP_IMPORT_BAD_OFFSET || g_level_offset == CHIP_IMPORT_BAD_OFFSET)
    return false;
  if (!type_engine_import_svar(env, "int", "LIMIT", TRUE, reinterpret_cast<unsigned long>(&g_limit)))
    return false;
  if (!import_fun(env, false, "float", "scale", reinterpret_cast<void*>(widget_scale),
                  {{"float", "by"}}) ||
      !import_fun(env, false, "int", "bump", reinterpret_cast<void*>(widget_bump)) ||
      !import_fun(env, false, "void", "fail", reinterpret_cast<void*>(widget_fail)) ||
      !import_fun(env, false, "float", "mix", reinterpret_cast<void*>(widget_mix),
                  {{"int", "n"}, {"float", "f"}, {"Widget", "other"}}) ||
      !import_fun(env, false, "float[]", "values", reinterpret_cast<void*>(widget_values),
                  {{"int", "which[]"}}) ||
      !import_fun(env, true, "int", "twice", reinterpret_cast<void*>(widget_twice),
                  {{"int", "n"}})) {
    return false;
  }
  if (!type_engine_import_class_end(env)) return false;

  if (!type_engine_import_ugen_begin(env, "Buzz", "UGen", env->global(), nullptr, nullptr,
                                     buzz_tick, buzz_pmsg) ||
      !import_fun(env, false, "float", "drive", reinterpret_cast<void*>(buzz_drive),
                  {{"float", "amount"}}) ||
      !type_engine_import_class_end(env)) {
    return false;
  }
  if (!type_engine_import_ugen_begin(env, "Boom", "Buzz", env->global(), nullptr, nullptr,
                                     boom_tick, nullptr, 2) ||
      !type_engine_import_class_end(env)) {
    return false;
  }
  env->global()->commit();
  return true;
}

Chip_Func* member_func(Chip_Type* type, const char* name) {
  return type->info->lookup_func(name, 0);
}

// ---------------------------------------------------------------------------
// The type side

// Every case runs twice: with the functions entered at once, and recorded
// and entered on first use (as the built-in modules load); the records a
// case sees must be the same.
class ImportTest : public TypeCheckTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    TypeCheckTest::SetUp();
    env->defer_imports = GetParam();
    Lines lines = printed_lines([&] { imported = import_test_module(env); });
    env->defer_imports = FALSE;
    ASSERT_TRUE(imported) << (lines.empty() ? "" : lines[0]);
    EXPECT_TRUE(lines.empty());
    widget = find_type(env, "Widget");
    ASSERT_NE(widget, nullptr);
  }
  bool imported = false;
  Chip_Type* widget = nullptr;
};

TEST_P(ImportTest, ClassRecordsHoldTheNativeCodeAndTheMemberLayout) {
  EXPECT_EQ(widget->parent, &t_object);
  EXPECT_EQ(widget->owner, env->global());
  EXPECT_EQ(widget->size, static_cast<unsigned long>(W));
  EXPECT_TRUE(widget->is_complete);
  ASSERT_NE(widget->info, nullptr);
  EXPECT_EQ(widget->info->name, "Widget");
  EXPECT_EQ(widget->info->parent, env->global());

  // Members after the parent's data, one word or double each.
  EXPECT_EQ(g_count_offset, t_object.obj_size);
  EXPECT_EQ(g_level_offset, t_object.obj_size + W);
  EXPECT_EQ(widget->obj_size, t_object.obj_size + 2 * W);

  Chip_VM_Code* ctor = widget->info->pre_ctor;
  ASSERT_NE(ctor, nullptr);
  EXPECT_EQ(ctor->native_func, reinterpret_cast<void*>(&widget_ctor));
  EXPECT_EQ(ctor->native_func_type, static_cast<t_CPUINT>(Chip_VM_Code::NATIVE_CTOR));
  EXPECT_TRUE(ctor->need_this);
  EXPECT_EQ(ctor->stack_depth, static_cast<t_CPUWORD>(W));
  ASSERT_NE(widget->info->dtor, nullptr);
  EXPECT_EQ(widget->info->dtor->native_func, reinterpret_cast<void*>(&widget_dtor));
  EXPECT_EQ(widget->info->dtor->native_func_type, Chip_VM_Code::NATIVE_DTOR);

  // The class name stands for the class.
  Chip_Value* name = env->global()->lookup_value("Widget", 0);
  ASSERT_NE(name, nullptr);
  EXPECT_TRUE(isa(name->type, &t_class));
  EXPECT_EQ(name->type->array_type, widget);
  EXPECT_TRUE(name->is_const);

  Chip_Value* limit = widget->info->lookup_value("LIMIT", 0);
  ASSERT_NE(limit, nullptr);
  EXPECT_TRUE(limit->is_static);
  EXPECT_EQ(limit->addr, &g_limit);
  Chip_Value* count = widget->info->lookup_value("@count", 0);
  ASSERT_NE(count, nullptr);
  EXPECT_TRUE(count->is_member);

  const struct {
    const char* name;
    void* fn;
    t_CPUINT kind;
    t_CPUWORD depth;  // argument bytes, `this` included
  } funcs[] = {
      {"scale", reinterpret_cast<void*>(&widget_scale), Chip_VM_Code::NATIVE_MFUN, 2 * W},
      {"bump", reinterpret_cast<void*>(&widget_bump), Chip_VM_Code::NATIVE_MFUN, W},
      {"mix", reinterpret_cast<void*>(&widget_mix), Chip_VM_Code::NATIVE_MFUN, 4 * W},
      {"values", reinterpret_cast<void*>(&widget_values), Chip_VM_Code::NATIVE_MFUN, 2 * W},
      {"twice", reinterpret_cast<void*>(&widget_twice), Chip_VM_Code::NATIVE_SFUN, W},
  };
  for (const auto& f : funcs) {
    SCOPED_TRACE(f.name);
    Chip_Func* func = member_func(widget, f.name);
    ASSERT_NE(func, nullptr);
    ASSERT_NE(func->code, nullptr);
    EXPECT_EQ(func->code->native_func, f.fn);
    EXPECT_EQ(func->dl_ref, f.fn);
    EXPECT_EQ(func->code->native_func_type, f.kind);
    EXPECT_EQ(func->code->need_this, f.kind == Chip_VM_Code::NATIVE_MFUN);
    EXPECT_EQ(func->code->stack_depth, f.depth);
    EXPECT_EQ(func->is_member, f.kind == Chip_VM_Code::NATIVE_MFUN);
    EXPECT_EQ(import_native_func(func->def), f.fn);
  }
  // Array return and array argument (from the brackets on the name).
  Chip_Func* values = member_func(widget, "values");
  EXPECT_EQ(values->def->ret_type->array_depth, 1u);
  EXPECT_EQ(values->def->arg_list->type->array_depth, 1u);
  EXPECT_EQ(widget->info->obj_v_table.funcs.size(),
            t_object.info->obj_v_table.funcs.size() + 5);  // every member function

  Chip_Type* buzz = find_type(env, "Buzz");
  Chip_Type* boom = find_type(env, "Boom");
  ASSERT_NE(buzz, nullptr);
  ASSERT_NE(boom, nullptr);
  ASSERT_NE(buzz->ugen_info, nullptr);
  EXPECT_EQ(buzz->ugen_info->tick, &buzz_tick);
  EXPECT_EQ(buzz->ugen_info->pmsg, &buzz_pmsg);
  EXPECT_EQ(buzz->ugen_info->tock, nullptr);
  // Boom: its own tick and inputs, the rest inherited.
  ASSERT_NE(boom->ugen_info, nullptr);
  EXPECT_NE(boom->ugen_info, buzz->ugen_info);
  EXPECT_EQ(boom->ugen_info->tick, &boom_tick);
  EXPECT_EQ(boom->ugen_info->pmsg, &buzz_pmsg);
  EXPECT_EQ(boom->ugen_info->num_ins, 2u);
  EXPECT_EQ(boom->ugen_info->num_outs, buzz->ugen_info->num_outs);
}

TEST_P(ImportTest, ScriptsUseTheImportedMembersLikeCompiledOnes) {
  const struct {
    const char* source;
    bool ok;
  } cases[] = {
      {"Widget w; w.scale(2.0) => float f;", true},
      {"Widget w; w.bump() + 1 => int n; w.level => float l; 0.5 => w.level;", true},
      {"Widget w; Widget v; w.mix(1, 2.5, v) => float f; w.fail();", true},
      {"Widget w; int which[2]; w.values(which) @=> float vs[];", true},
      {"Widget.twice(3) => int n; Widget.LIMIT => int l;", true},
      {"Buzz b; b.drive(0.5) => float d; b @=> UGen u; Boom m @=> Buzz bb;", true},
      {"class Sub extends Widget { fun float scale(float by) { return by; } } Sub s; s.bump();",
       true},
      {"Widget w; w.scale(\"no\");", false},
      {"Widget w; w.scale(1.0) => int n;", false},
      {"Widget.scale(1.0);", false},
      {"Widget w; w.nothing();", false},
      {"Widget w; w.twice(1, 2);", false},
      {"Widget w; w @=> UGen u;", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    CheckResult r = check_program(c.source);
    EXPECT_EQ(r.ok, c.ok) << (r.lines.empty() ? "" : r.lines[0]);
  }
}

// ---------------------------------------------------------------------------
// Edge cases of the import operations

TEST_P(ImportTest, RefusedImportsReportAndLeaveTheNamespaceAlone) {
  Lines lines = printed_lines([&] {
    EXPECT_EQ(type_engine_import_class_begin(env, "Orphan", "NoSuchParent", env->global(), nullptr,
                                             nullptr),
              nullptr);
  });
  EXPECT_TRUE(has_line(lines, "... during import of class 'Orphan'"));
  EXPECT_EQ(find_type(env, "Orphan"), nullptr);
  EXPECT_EQ(env->class_def, nullptr);

  lines = printed_lines([&] {
    EXPECT_EQ(type_engine_import_class_begin(env, widget, env->global(), nullptr, nullptr), nullptr);
  });
  EXPECT_TRUE(has_line(lines, "during import: class 'Widget' already imported..."));
  EXPECT_EQ(env->class_def, nullptr);

  const struct {
    const char* label;
    bool (*op)(Chip_Env*);
    const char* message;
  } outside[] = {
      {"mvar",
       [](Chip_Env* e) {
         return type_engine_import_mvar(e, "int", "x", 0) == CHIP_IMPORT_BAD_OFFSET;
       },
       "import error: import_mvar 'x' invoked between begin/end"},
      {"svar", [](Chip_Env* e) { return !type_engine_import_svar(e, "int", "y", 0, 0); },
       "import error: import_svar 'y' invoked between begin/end"},
      {"mfun",
       [](Chip_Env* e) { return !import_fun(e, false, "int", "f", reinterpret_cast<void*>(widget_bump)); },
       "import error: import_mfun 'f' invoked between begin/end"},
      {"sfun",
       [](Chip_Env* e) { return !import_fun(e, true, "int", "g", reinterpret_cast<void*>(widget_twice)); },
       "import error: import_sfun 'g' invoked between begin/end"},
      {"class_end", [](Chip_Env* e) { return !type_engine_import_class_end(e); },
       "import: too many class_end called..."},
  };
  for (const auto& c : outside) {
    SCOPED_TRACE(c.label);
    bool refused = false;
    lines = printed_lines([&] { refused = c.op(env); });
    EXPECT_TRUE(refused);
    EXPECT_TRUE(has_line(lines, c.message)) << (lines.empty() ? "" : lines[0]);
  }

  // Inside a class: bad types and array brackets on both type and name.
  ASSERT_NE(type_engine_import_class_begin(env, "Gizmo", "Widget", env->global(), nullptr, nullptr),
            nullptr);
  const struct {
    const char* label;
    bool (*op)(Chip_Env*);
    const char* message;
  } inside[] = {
      {"mvar type",
       [](Chip_Env* e) { return type_engine_import_mvar(e, "in t", "x", 0) == CHIP_IMPORT_BAD_OFFSET; },
       "... during mvar import 'Gizmo.x'..."},
      {"svar type", [](Chip_Env* e) { return !type_engine_import_svar(e, "in t", "y", 0, 0); },
       "... during svar import 'Gizmo.y'..."},
      {"return type",
       [](Chip_Env* e) { return !import_fun(e, false, "fl oat", "f", reinterpret_cast<void*>(widget_bump)); },
       "...during function import 'f' (type)..."},
      {"argument type",
       [](Chip_Env* e) {
         return !import_fun(e, false, "int", "g", reinterpret_cast<void*>(widget_bump),
                            {{"int", "a"}, {"in t", "b"}});
       },
       "...at argument '2'..."},
      {"brackets twice",
       [](Chip_Env* e) {
         return !import_fun(e, false, "int", "h", reinterpret_cast<void*>(widget_bump),
                            {{"int[]", "a[]"}});
       },
       "array subscript specified incorrectly for built-in module"},
  };
  for (const auto& c : inside) {
    SCOPED_TRACE(c.label);
    bool refused = false;
    lines = printed_lines([&] { refused = c.op(env); });
    EXPECT_TRUE(refused);
    EXPECT_TRUE(has_line(lines, c.message)) << (lines.empty() ? "" : lines[0]);
  }
  EXPECT_TRUE(type_engine_import_class_end(env));
  EXPECT_EQ(env->class_def, nullptr);
  EXPECT_EQ(env->curr, env->global());
}

// A child's first member comes after its parent's data; nested begins
// return to the outer class.
TEST_P(ImportTest, ChildMembersFollowTheParentsAndClassesNest) {
  ASSERT_NE(type_engine_import_class_begin(env, "Three", "", env->global(), nullptr, nullptr),
            nullptr);
  for (const char* name : {"a", "b", "c"}) type_engine_import_mvar(env, "int", name, 0);
  ASSERT_TRUE(type_engine_import_class_end(env));
  Chip_Type* three = find_type(env, "Three");
  ASSERT_NE(three, nullptr);
  EXPECT_EQ(three->obj_size, t_object.obj_size + 3 * W);

  Chip_Type* child = type_engine_import_class_begin(env, "Child", "Three", env->global(), nullptr,
                                                    nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->parent, three);
  EXPECT_EQ(type_engine_import_mvar(env, "float", "d", 0), three->obj_size);
  Chip_Type* inner = type_engine_import_class_begin(env, "Inner", "", child->info, nullptr, nullptr);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(env->class_def, inner);
  EXPECT_EQ(type_engine_import_mvar(env, "int", "e", 0), t_object.obj_size);
  ASSERT_TRUE(type_engine_import_class_end(env));
  EXPECT_EQ(env->class_def, child);
  EXPECT_EQ(type_engine_import_mvar(env, "int", "f", 0), three->obj_size + W);
  ASSERT_TRUE(type_engine_import_class_end(env));
  EXPECT_EQ(child->obj_size, three->obj_size + 2 * W);
  EXPECT_EQ(child->info->lookup_type("Inner", 0), inner);
}

TEST_P(ImportTest, UnitGeneratorBeginsCheckTheParentAndMergeTheDescription) {
  Chip_Type* plain = type_engine_import_ugen_begin(env, "Plain", "UGen", env->global(), nullptr,
                                                   nullptr, nullptr, nullptr, 2, CHIP_IMPORT_KEEP);
  ASSERT_NE(plain, nullptr);
  ASSERT_TRUE(type_engine_import_class_end(env));
  ASSERT_NE(plain->ugen_info, nullptr);
  EXPECT_EQ(plain->ugen_info->num_ins, 2u);
  const unsigned long parent_outs = t_ugen.ugen_info ? t_ugen.ugen_info->num_outs : 1;
  EXPECT_EQ(plain->ugen_info->num_outs, parent_outs);
  EXPECT_EQ(plain->ugen_info->tick, t_ugen.ugen_info ? t_ugen.ugen_info->tick : nullptr);

  Lines lines = printed_lines([&] {
    EXPECT_EQ(type_engine_import_ugen_begin(env, "NotSound", "", env->global(), nullptr, nullptr,
                                            buzz_tick, nullptr),
              nullptr);
  });
  EXPECT_TRUE(has_line(lines, "imported class 'NotSound' does not have a ugen as parent"));
  // The failed begin left its class open: the caller closes or abandons it.
  EXPECT_TRUE(type_engine_import_class_end(env));

  lines = printed_lines([&] {
    EXPECT_EQ(type_engine_import_uana_begin(env, "NotAna", "UGen", env->global(), nullptr, nullptr,
                                            nullptr, nullptr, nullptr),
              nullptr);
  });
  EXPECT_TRUE(has_line(lines, "imported class 'NotAna' does not have a uana as parent"));
  EXPECT_TRUE(type_engine_import_class_end(env));

  auto tock = [](Chip_Object*, Chip_UAna*, Chip_UAnaBlobProxy*, Chip_VM_Shred*) -> unsigned long {
    return 1;
  };
  Chip_Type* ana = type_engine_import_uana_begin(env, "Ana", "UAna", env->global(), nullptr, nullptr,
                                                 nullptr, tock, nullptr, CHIP_IMPORT_KEEP,
                                                 CHIP_IMPORT_KEEP, 3, CHIP_IMPORT_KEEP);
  ASSERT_NE(ana, nullptr);
  ASSERT_TRUE(type_engine_import_class_end(env));
  EXPECT_EQ(ana->ugen_info->tock, static_cast<f_tock>(tock));
  EXPECT_EQ(ana->ugen_info->num_ins_ana, 3u);
  EXPECT_EQ(ana->ugen_info->num_outs_ana, 1u);
}

// ---------------------------------------------------------------------------
// A module's query record

t_CPWORD g_gadget_max = 7;
t_CPBOOL gadget_query(Chip_DL_Query* q) {
  q->setname(q, "gadgets");
  q->begin_class(q, "Gadget", "");
  q->add_mfun(q, widget_mix, "float", "mix");
  q->add_arg(q, "int", "n");
  q->add_arg(q, "float", "f");
  q->add_arg(q, "Object", "other");
  q->add_sfun(q, widget_twice, "int", "twice");
  q->add_arg(q, "int", "n");
  q->add_svar(q, "int", "MAX", TRUE, &g_gadget_max);
  q->end_class(q);
  q->begin_class(q, "Doohickey", "Gadget");
  q->add_mfun(q, widget_bump, "int", "spin");
  q->end_class(q);
  return TRUE;
}

TEST_P(ImportTest, ModuleClassesGetTheirFunctionsAndStaticVariables) {
  Chip_DLL dll("gadgets");
  ASSERT_TRUE(dll.load(gadget_query));
  Lines lines = printed_lines([&] { EXPECT_TRUE(type_engine_add_dll(env, &dll, "")); });
  EXPECT_TRUE(lines.empty()) << lines[0];
  env->global()->commit();

  Chip_Type* gadget = find_type(env, "Gadget");
  Chip_Type* doohickey = find_type(env, "Doohickey");
  ASSERT_NE(gadget, nullptr);
  ASSERT_NE(doohickey, nullptr);
  EXPECT_EQ(doohickey->parent, gadget);
  Chip_Func* twice = member_func(gadget, "twice");
  ASSERT_NE(twice, nullptr);
  ASSERT_NE(twice->code, nullptr);
  EXPECT_EQ(twice->code->native_func, reinterpret_cast<void*>(&widget_twice));
  EXPECT_EQ(gadget->info->lookup_value("MAX", 0)->addr, &g_gadget_max);

  for (const char* source : {"Gadget g; g.mix(1, 2.0, g) => float f; Gadget.twice(2) => int n;",
                             "Doohickey d; d.spin() => int s; d.mix(1, 1.0, null); Gadget.MAX => int m;"}) {
    CheckResult r = check_program(source);
    EXPECT_TRUE(r.ok) << source << (r.lines.empty() ? "" : r.lines[0]);
  }

  Chip_DLL missing("nothing");
  lines = printed_lines([&] { EXPECT_FALSE(type_engine_add_dll(env, &missing, "")); });
  EXPECT_TRUE(has_line(lines, "...(in object import '[null]' in DLL 'nothing')"));
  lines = printed_lines([&] { EXPECT_FALSE(type_engine_add_dll(env, &dll, "NoSuchPlace")); });
  EXPECT_TRUE(has_line(lines, "...(in object import '[null]' in DLL 'gadgets')"));
}

// ---------------------------------------------------------------------------
// The machine side

// Deferred: nothing of a class's functions is entered until the class is
// reached; an object made natively of a class never named (the child of a
// deferred parent) enters its and its parent's functions, and its table is
// the eager one, slot for slot.
TEST_P(ImportTest, DeferredFunctionsEnterWhenAnObjectOrALookupNeedsThem) {
  Chip_Type* buzz = find_type(env, "Buzz");
  Chip_Type* boom = find_type(env, "Boom");
  ASSERT_NE(buzz, nullptr);
  ASSERT_NE(boom, nullptr);
  const bool deferred = GetParam();
  EXPECT_EQ(widget->info->deferred != nullptr, deferred);
  EXPECT_EQ(buzz->info->deferred != nullptr, deferred);
  EXPECT_EQ(boom->info->deferred != nullptr, deferred);  // it inherits a deferred table
  // The scope itself, not the completing lookup.
  EXPECT_EQ(widget->info->value.lookup(insert_symbol("scale"), 0) == nullptr, deferred);
  EXPECT_EQ(buzz->info->obj_v_table.funcs.size() == t_ugen.info->obj_v_table.funcs.size(),
            deferred);

  Chip_Object* object = instantiate_and_initialize_object(boom, nullptr);
  ASSERT_NE(object, nullptr);
  object->add_ref();
  EXPECT_EQ(boom->info->deferred, nullptr);
  EXPECT_EQ(buzz->info->deferred, nullptr);
  EXPECT_NE(widget->info->deferred != nullptr, !deferred) << "an unrelated class stays deferred";
  Chip_Func* drive = buzz->info->lookup_func("drive", 0);
  ASSERT_NE(drive, nullptr);
  ASSERT_EQ(object->vtable, &boom->info->obj_v_table);
  EXPECT_EQ(boom->info->obj_v_table.funcs, buzz->info->obj_v_table.funcs);
  ASSERT_LT(drive->vt_index, object->vtable->funcs.size());
  EXPECT_EQ(object->vtable->funcs[drive->vt_index], drive);
  EXPECT_EQ(drive->vt_index, t_ugen.info->obj_v_table.funcs.size());
  object->release();

  // A script reaching Widget's members enters them.
  CheckResult r = check_program("Widget w; w.scale(2.0) => float f;");
  EXPECT_TRUE(r.ok) << (r.lines.empty() ? "" : r.lines[0]);
  EXPECT_EQ(widget->info->deferred, nullptr);
  EXPECT_NE(widget->info->value.lookup(insert_symbol("scale"), 0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(EagerAndDeferred, ImportTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "Deferred" : "Eager";
                         });

class ImportMachineTest : public vmtest::VMTest {
 protected:
  void SetUp() override {
    VMTest::SetUp();
    ASSERT_TRUE(import_test_module(env));
    widget = find_type(env, "Widget");
    vm = make_vm(FALSE, 0, FALSE);
  }

  void TearDown() override {
    for (Chip_Object* object : objects) object->release();
    VMTest::TearDown();
  }

  // Sporks the code and runs what is due now; the lines printed meanwhile.
  Lines run(Chip_VM_Code* c, Chip_VM_Shred** shred = nullptr) { return run_held(vm, c, shred); }

  // Instructions that make a Widget (instantiation, then its native
  // pre-constructor) and keep it in `object`, held by the test.
  std::vector<Chip_Instr*> make_widget(Chip_Object** object) {
    return {new Chip_Instr_Instantiate_Object(widget),
            new Chip_Instr_Pre_Constructor(widget->info->pre_ctor, 0),
            new Do([this, object](Chip_VM*, Chip_VM_Shred* shred) {
              *object = chip_pop_ptr<Chip_Object>(shred->reg);
              (*object)->add_ref();
              objects.push_back(*object);
            }),
            // The statement that made it ends.
            new Chip_Instr_Release_Temps};
  }

  // Pushes the object kept in *object.
  static Chip_Instr* push(Chip_Object** object) {
    return new Do([object](Chip_VM*, Chip_VM_Shred* shred) { chip_push_ptr(shred->reg, *object); });
  }

  static Chip_Instr* imm(t_CPWORD value) {
    return new Chip_Instr_Reg_Push_Imm(static_cast<t_CPUWORD>(value));
  }
  static Chip_Instr* imm(void* value) {
    return new Chip_Instr_Reg_Push_Imm(reinterpret_cast<t_CPUWORD>(value));
  }
  // A native call of the named function: its code, no caller locals.
  std::vector<Chip_Instr*> call(const char* name, t_CPUWORD ret_size) {
    Chip_Func* func = member_func(widget, name);
    Chip_Instr* instr = func->is_member
                            ? static_cast<Chip_Instr*>(new Chip_Instr_Func_Call_Member(ret_size))
                            : static_cast<Chip_Instr*>(new Chip_Instr_Func_Call_Static(ret_size));
    return {imm(func->code), imm(static_cast<t_CPWORD>(0)), instr};
  }

  Chip_VM* vm = nullptr;
  Chip_Type* widget = nullptr;
  std::vector<Chip_Object*> objects;
  vmtest::Trace trace;
};

std::vector<Chip_Instr*> operator+(std::vector<Chip_Instr*> a, const std::vector<Chip_Instr*>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Made, constructed natively, called with packed arguments of every kind;
// member data reached through the offsets the import returned.
TEST_F(ImportMachineTest, HandMadeCodeConstructsAndCallsTheImportedClass) {
  Chip_Object* w = nullptr;
  t_CPFLOAT scaled = 0, mixed = 0;
  t_CPWORD bumped = 0, doubled = 0;
  // Bytes left on the register stack at the end (a finished shred's stacks
  // are gone once it is freed).
  std::ptrdiff_t left = -1;
  auto pop_float = [](t_CPFLOAT* out) {
    return new Do([out](Chip_VM*, Chip_VM_Shred* shred) { *out = chip_pop_float(shred->reg); });
  };
  auto pop_word = [](t_CPWORD* out) {
    return new Do([out](Chip_VM*, Chip_VM_Shred* shred) { *out = chip_pop_word(shred->reg); });
  };
  std::vector<Chip_Instr*> instrs =
      make_widget(&w) +
      std::vector<Chip_Instr*>{new Chip_Instr_Reg_Push_Imm2(4.0), push(&w)} + call("scale", 8) +
      std::vector<Chip_Instr*>{pop_float(&scaled), push(&w)} + call("bump", 8) +
      std::vector<Chip_Instr*>{pop_word(&bumped), imm(static_cast<t_CPWORD>(-3)),
                               new Chip_Instr_Reg_Push_Imm2(0.5), push(&w), push(&w)} +
      call("mix", 8) + std::vector<Chip_Instr*>{pop_float(&mixed), imm(static_cast<t_CPWORD>(21))} +
      call("twice", 8) +
      std::vector<Chip_Instr*>{pop_word(&doubled), new Do([&left](Chip_VM*, Chip_VM_Shred* shred) {
                                 left = shred->reg->sp - shred->reg->stack;
                               }),
                               new End};
  Chip_VM_Shred* shred = nullptr;
  Lines lines = run(code("main", instrs), &shred);
  EXPECT_TRUE(lines.empty()) << lines[0];
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->type_ref, widget);
  EXPECT_EQ(scaled, 6.0);  // 1.5 from the constructor
  EXPECT_EQ(bumped, 11);
  EXPECT_EQ(count_of(w), 11);
  EXPECT_EQ(mixed, -3 + 0.5 + 100);
  EXPECT_EQ(doubled, 42);
  EXPECT_EQ(left, 0);

  // The last release runs the class's native destructor once, on the object.
  g_dtor_calls = 0;
  ASSERT_EQ(w->m_ref_count, 1u);  // the test's only
  objects.erase(std::find(objects.begin(), objects.end(), w));
  w->release();
  EXPECT_EQ(g_dtor_calls, 1);
  EXPECT_EQ(g_dtor_self, w);
}

// A native function that throws stops its shred at that instruction, with
// the report; the machine goes on running the others.
TEST_F(ImportMachineTest, AThrowingNativeFunctionStopsOnlyItsShred) {
  Chip_Object* w = nullptr;
  std::vector<Chip_Instr*> instrs = make_widget(&w) + std::vector<Chip_Instr*>{push(&w)} +
                                    call("fail", 0) +
                                    std::vector<Chip_Instr*>{new Mark(&trace, "after"), new End};
  Chip_VM_Code* other = code("other", {new Mark(&trace, "other"), new End});
  Chip_VM_Shred* shred = nullptr;
  Lines lines = run(code("noisy", instrs), &shred);
  const int id = last_id;
  Lines more = run(other);
  lines.insert(lines.end(), more.begin(), more.end());
  const std::string expected = "[chip](VM): NativeException: shred[id=" +
                               std::to_string(id) + ":noisy], PC=[7]: widget broke";
  EXPECT_EQ(lines, Lines{expected});
  EXPECT_EQ(trace, vmtest::Trace{"other@0"});
  EXPECT_TRUE(shred->is_done);
}

// Nodes take the class's tick; a tick that throws is reported once and the
// node is silenced for good.
TEST_F(ImportMachineTest, AThrowingTickSilencesOnlyItsNode) {
  Chip_UGen* buzz = static_cast<Chip_UGen*>(
      instantiate_and_initialize_object(find_type(env, "Buzz"), nullptr));
  Chip_UGen* boom = static_cast<Chip_UGen*>(
      instantiate_and_initialize_object(find_type(env, "Boom"), nullptr));
  ASSERT_NE(buzz, nullptr);
  ASSERT_NE(boom, nullptr);
  buzz->add_ref();
  boom->add_ref();
  objects.push_back(buzz);
  objects.push_back(boom);
  EXPECT_EQ(buzz->tick, &buzz_tick);
  EXPECT_EQ(buzz->pmsg, &buzz_pmsg);
  EXPECT_EQ(boom->tick, &boom_tick);

  g_ticks = g_boom_ticks = 0;
  Lines lines = printed_lines([&] {
    for (int t = 1; t <= 3; t++) {
      buzz->system_tick(t);
      boom->system_tick(t);
    }
  });
  EXPECT_EQ(lines, Lines{"[chip](VM): NativeException: UGen 'Boom' silenced: boom"});
  EXPECT_EQ(g_ticks, 3);
  EXPECT_EQ(g_boom_ticks, 1);
  EXPECT_EQ(buzz->current, 0.25f);
  EXPECT_EQ(boom->current, 0.0f);
  EXPECT_EQ(boom->valid, 0u);
}

}  // namespace
