// The standard library module "Std": Std and StringTokenizer.
#include "chip/lib/ulib_std.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <sstream>
#include <string>
#include <vector>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/ugen_frame.h"

t_CPBOOL g_enable_system_cmd = FALSE;
#include "chip/util/util_math.h"
#include "chip/util/util_string.h"

t_CPWORD StrTok_offset_data = FRAME_NO_OFFSET;

namespace {

// The host generator's largest value; the formulas below assume it.
const long kRandMax = 2147483647L;
static_assert(RAND_MAX == kRandMax, "the random functions assume a 31-bit host generator");

// A new, unreferenced string holding text (the receiver takes the
// reference), or null when none can be made (instantiation printed why).
Chip_String* new_string(Chip_VM_Shred* shred, const std::string& text) {
  Chip_Object* object = instantiate_and_initialize_object(&t_string, shred);
  if (!object) return nullptr;
  Chip_String* string = static_cast<Chip_String*>(object);
  string->str = text;
  return string;
}

// The text of a string argument, or null for a null string.
const char* text_of(Chip_String* s) { return s ? s->str.c_str() : nullptr; }

// The record behind one StringTokenizer: its words and the index of the
// next one to hand out.
struct StrTok {
  std::vector<std::string> tokens;
  size_t pos = 0;
};

StrTok* strtok_of(Chip_Object* self) { return frame_state<StrTok>(self, StrTok_offset_data); }

// One function of a class table: return type, name, routine, and up to two
// arguments (a null type ends the list).
struct Std_Func {
  const char* type;
  const char* name;
  f_sfun fn;
  Frame_Arg args[2];
};

const Std_Func kStdFuncs[] = {
    {"int", "abs", abs_impl, {{"int", "value"}}},
    {"float", "fabs", fabs_impl, {{"float", "value"}}},
    {"int", "rand", rand_impl, {{nullptr, nullptr}}},
    {"int", "rand2", rand2_impl, {{"int", "min"}, {"int", "max"}}},
    {"float", "randf", randf_impl, {{nullptr, nullptr}}},
    {"float", "rand2f", rand2f_impl, {{"float", "min"}, {"float", "max"}}},
    {"void", "srand", srand_impl, {{"int", "seed"}}},
    {"float", "sgn", sgn_impl, {{"float", "value"}}},
    {"int", "system", system_impl, {{"string", "cmd"}}},
    {"int", "atoi", atoi_impl, {{"string", "value"}}},
    {"float", "atof", atof_impl, {{"string", "value"}}},
    {"string", "itoa", itoa_impl, {{"int", "i"}}},
    {"string", "ftoa", ftoa_impl, {{"float", "f"}, {"int", "precision"}}},
    {"string", "getenv", getenv_impl, {{"string", "value"}}},
    {"int", "setenv", setenv_impl, {{"string", "key"}, {"string", "value"}}},
    {"float", "mtof", mtof_impl, {{"float", "value"}}},
    {"float", "ftom", ftom_impl, {{"float", "value"}}},
    {"float", "powtodb", powtodb_impl, {{"float", "value"}}},
    {"float", "rmstodb", rmstodb_impl, {{"float", "value"}}},
    {"float", "dbtopow", dbtopow_impl, {{"float", "value"}}},
    {"float", "dbtorms", dbtorms_impl, {{"float", "value"}}},
};

struct StrTok_Func {
  const char* type;
  const char* name;
  f_mfun fn;
  Frame_Arg args[2];
};

const StrTok_Func kStrTokFuncs[] = {
    {"void", "set", StrTok_set, {{"string", "line"}}},
    {"void", "reset", StrTok_reset, {{nullptr, nullptr}}},
    {"int", "more", StrTok_more, {{nullptr, nullptr}}},
    {"string", "next", StrTok_next, {{nullptr, nullptr}}},
    {"string", "next", StrTok_next2, {{"string", "out"}}},
    {"string", "get", StrTok_get, {{"int", "index"}}},
    {"string", "get", StrTok_get2, {{"int", "index"}, {"string", "out"}}},
    {"int", "size", StrTok_size, {{nullptr, nullptr}}},
};

}  // namespace

// ---------------------------------------------------------------------------
// Registration

t_CPBOOL libstd_query(Chip_DL_Query* QUERY) {
  Chip_Env* env = Chip_Env::instance();
  QUERY->setname(QUERY, "Std");
  type_engine_register_deprecate(env, "std", "Std");

  QUERY->begin_class(QUERY, "Std", "Object");
  for (const Std_Func& f : kStdFuncs) {
    QUERY->add_sfun(QUERY, f.fn, f.type, f.name);
    for (const Frame_Arg& arg : f.args) {
      if (arg.type) QUERY->add_arg(QUERY, arg.type, arg.name);
    }
  }
  QUERY->end_class(QUERY);

  // A script that wants a repeatable sequence seeds the generator itself.
  std::srand(static_cast<unsigned>(std::time(nullptr)));

  type_engine_register_deprecate(env, "strtok", "StringTokenizer");

  if (!type_engine_import_class_begin(env, "StringTokenizer", "Object", env->global(),
                                      StrTok_ctor, StrTok_dtor)) {
    return FALSE;
  }
  t_CPWORD offset = frame_import_state(env, "@StrTok_data");
  if (offset == FRAME_NO_OFFSET) return frame_fail(env);
  StrTok_offset_data = offset;
  for (const StrTok_Func& f : kStrTokFuncs) {
    Chip_DL_Func* func = make_new_mfun(f.type, f.name, f.fn);
    for (const Frame_Arg& arg : f.args) {
      if (arg.type) func->add_arg(arg.type, arg.name);
    }
    t_CPBOOL ok = type_engine_import_mfun(env, func);
    delete func;
    if (!ok) return frame_fail(env);
  }
  return type_engine_import_class_end(env);
}

// ---------------------------------------------------------------------------
// Random numbers

t_CPINT std_rand2_from(t_CPINT min, t_CPINT max, long r) {
  // The width of the range needs 33 bits for the widest ranges.
  int64_t range = static_cast<int64_t>(max) - static_cast<int64_t>(min);
  if (range == 0) return min;
  double u = static_cast<double>(r) / 2147483648.0;
  int64_t offset;
  if (range > 0) {
    offset = static_cast<int64_t>(static_cast<double>(range + 1) * u);
  } else {
    offset = -static_cast<int64_t>(static_cast<double>(1 - range) * u);
  }
  // Lies between min and max, so it fits an int.
  return static_cast<t_CPINT>(static_cast<int64_t>(min) + offset);
}

t_CPFLOAT std_randf_from(long r) { return 2.0 * static_cast<double>(r) / kRandMax - 1.0; }

t_CPFLOAT std_rand2f_from(t_CPFLOAT min, t_CPFLOAT max, long r) {
  return min + (max - min) * (static_cast<double>(r) / kRandMax);
}

void rand_impl(void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) { RETURN->v_int = std::rand(); }

void rand2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT min = GET_NEXT_INT(ARGS);
  t_CPINT max = GET_NEXT_INT(ARGS);
  // An empty range draws nothing.
  RETURN->v_int = min == max ? min : std_rand2_from(min, max, std::rand());
}

void randf_impl(void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = std_randf_from(std::rand());
}

void rand2f_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPFLOAT min = GET_NEXT_FLOAT(ARGS);
  t_CPFLOAT max = GET_NEXT_FLOAT(ARGS);
  RETURN->v_float = std_rand2f_from(min, max, std::rand());
}

void srand_impl(void* ARGS, Chip_DL_Return*, Chip_VM_Shred*) {
  std::srand(static_cast<unsigned>(GET_NEXT_INT(ARGS)));
}

// ---------------------------------------------------------------------------
// Numbers

void abs_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT v = GET_NEXT_INT(ARGS);
  // Two's complement negation in unsigned arithmetic: the most negative int
  // has no positive partner and stays itself.
  t_CPUINT u = static_cast<t_CPUINT>(v);
  if (v < 0) u = 0u - u;
  RETURN->v_int = static_cast<t_CPINT>(u);
}

void fabs_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = std::fabs(GET_NEXT_FLOAT(ARGS));
}

void sgn_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPFLOAT v = GET_NEXT_FLOAT(ARGS);
  // Both zeros give 0; a NaN fails both tests and gives -1.
  RETURN->v_float = v == 0.0 ? 0.0 : (v > 0.0 ? 1.0 : -1.0);
}

// ---------------------------------------------------------------------------
// Host command

void system_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  const char* cmd = text_of(GET_NEXT_STRING(ARGS));
  if (!g_enable_system_cmd) {
    EM_printf("[chip]:error: VM not authorized to call Std.system( string )...\n");
    EM_printf("[chip]:  (command string was: \"%s\")\n", cmd ? cmd : "");
    EM_printf("[chip]:  (note: enable via --caution-to-the-wind flag or other means)\n");
    RETURN->v_int = 0;
    return;
  }
  // A null string is no command: nothing runs (the host would only probe
  // for a shell).
  if (!cmd) {
    RETURN->v_int = 0;
    return;
  }
  EM_log(CP_LOG_SEVERE, "invoking system( CMD )...");
  EM_pushlog();
  EM_log(CP_LOG_SEVERE, "CMD: \"%s\"", cmd);
  EM_poplog();
  RETURN->v_int = std::system(cmd);
}

// ---------------------------------------------------------------------------
// Strings and numbers

void atoi_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  const char* text = text_of(GET_NEXT_STRING(ARGS));
  // strtol rather than atoi: a number too large for an int is defined
  // here (its low 32 bits, as the host's atoi gives it).
  RETURN->v_int = text ? static_cast<t_CPINT>(std::strtol(text, nullptr, 10)) : 0;
}

void atof_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  const char* text = text_of(GET_NEXT_STRING(ARGS));
  RETURN->v_float = text ? std::atof(text) : 0.0;
}

void itoa_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  t_CPINT i = GET_NEXT_INT(ARGS);
  RETURN->v_string = new_string(SHRED, itoa(i));
}

void ftoa_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  t_CPFLOAT f = GET_NEXT_FLOAT(ARGS);
  t_CPINT precision = GET_NEXT_INT(ARGS);
  // A negative precision turns into a huge unsigned one, which ftoa clamps
  // to 32 digits like any other too large precision.
  unsigned long digits = static_cast<unsigned long>(static_cast<long>(precision));
  RETURN->v_string = new_string(SHRED, ftoa(f, digits));
}

void getenv_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  const char* key = text_of(GET_NEXT_STRING(ARGS));
  const char* value = key ? std::getenv(key) : nullptr;
  RETURN->v_string = new_string(SHRED, value ? value : "");
}

void setenv_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  const char* key = text_of(GET_NEXT_STRING(ARGS));
  const char* value = text_of(GET_NEXT_STRING(ARGS));
  // The host's setenv crashes on null texts: refuse them as it refuses a
  // bad name.
  RETURN->v_int = key && value ? ::setenv(key, value, 1) : -1;
}

// ---------------------------------------------------------------------------
// Pitch and level

void mtof_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = mtof(GET_NEXT_FLOAT(ARGS));
}

void ftom_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = ftom(GET_NEXT_FLOAT(ARGS));
}

void powtodb_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = powtodb(GET_NEXT_FLOAT(ARGS));
}

void rmstodb_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = rmstodb(GET_NEXT_FLOAT(ARGS));
}

void dbtopow_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = dbtopow(GET_NEXT_FLOAT(ARGS));
}

void dbtorms_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = dbtorms(GET_NEXT_FLOAT(ARGS));
}

// ---------------------------------------------------------------------------
// StringTokenizer

void StrTok_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  frame_set_state(SELF, StrTok_offset_data, new StrTok);
}

void StrTok_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  delete frame_take_state<StrTok>(SELF, StrTok_offset_data);
}

void StrTok_set(Chip_Object* SELF, void* ARGS, Chip_DL_Return*, Chip_VM_Shred*) {
  StrTok* tok = strtok_of(SELF);
  const char* line = text_of(GET_NEXT_STRING(ARGS));
  tok->pos = 0;
  tok->tokens.clear();
  // Formatted extraction: leading white space skipped, a word ends at white
  // space.
  std::istringstream words(line ? line : "");
  std::string word;
  while (words >> word) tok->tokens.push_back(word);
}

void StrTok_reset(Chip_Object* SELF, void*, Chip_DL_Return*, Chip_VM_Shred*) {
  strtok_of(SELF)->pos = 0;
}

void StrTok_more(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  StrTok* tok = strtok_of(SELF);
  RETURN->v_int = tok->pos < tok->tokens.size() ? 1 : 0;
}

namespace {

// The next word, advancing the position; "" when none is left.
std::string take_next(StrTok* tok) {
  if (tok->pos >= tok->tokens.size()) return std::string();
  return tok->tokens[tok->pos++];
}

// Word index, or "" outside 0..size-1.
std::string word_at(StrTok* tok, t_CPINT index) {
  if (index < 0 || static_cast<size_t>(index) >= tok->tokens.size()) return std::string();
  return tok->tokens[static_cast<size_t>(index)];
}

}  // namespace

void StrTok_next(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  RETURN->v_string = new_string(SHRED, take_next(strtok_of(SELF)));
}

void StrTok_next2(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_String* out = GET_NEXT_STRING(ARGS);
  std::string word = take_next(strtok_of(SELF));
  if (out) out->set(word);
  RETURN->v_string = out;
}

void StrTok_get(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  t_CPINT index = GET_NEXT_INT(ARGS);
  RETURN->v_string = new_string(SHRED, word_at(strtok_of(SELF), index));
}

void StrTok_get2(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT index = GET_NEXT_INT(ARGS);
  Chip_String* out = GET_NEXT_STRING(ARGS);
  if (out) out->set(word_at(strtok_of(SELF), index));
  RETURN->v_string = out;
}

void StrTok_size(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = static_cast<t_CPWORD>(strtok_of(SELF)->tokens.size());
}
