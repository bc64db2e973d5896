// The mathematics library module "Math".
#include "chip/lib/ulib_math.h"

#include <cfloat>
#include <cmath>
#include <limits>

#include "chip/lib/ulib_std.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/ugen_frame.h"

t_CPFLOAT g_pi = 3.141592653589793;
t_CPFLOAT g_twopi = 6.283185307179586;
t_CPFLOAT g_e = 2.718281828459045;
t_CPFLOAT g_floatMax = DBL_MAX;
t_CPFLOAT g_floatMin = DBL_MIN;
t_CPWORD g_intMax = 2147483647;
t_CPFLOAT g_inf = 0.0;  // set by the query
t_CPCOMPLEX g_i = {0.0, 1.0};

namespace {

// One function of the table: return type, name, routine, and up to two
// arguments (a null type ends the list).
struct Math_Func {
  const char* type;
  const char* name;
  f_sfun fn;
  Frame_Arg args[2];
};

const Frame_Arg kNone = {nullptr, nullptr};

const Math_Func kMathFuncs[] = {
    {"int", "abs", abs_impl, {{"int", "value"}, kNone}},
    {"float", "fabs", fabs_impl, {{"float", "value"}, kNone}},
    {"float", "sgn", sgn_impl, {{"float", "value"}, kNone}},
    {"float", "sin", sin_impl, {{"float", "x"}, kNone}},
    {"float", "cos", cos_impl, {{"float", "x"}, kNone}},
    {"float", "tan", tan_impl, {{"float", "x"}, kNone}},
    {"float", "asin", asin_impl, {{"float", "x"}, kNone}},
    {"float", "acos", acos_impl, {{"float", "x"}, kNone}},
    {"float", "atan", atan_impl, {{"float", "x"}, kNone}},
    {"float", "atan2", atan2_impl, {{"float", "y"}, {"float", "x"}}},
    {"float", "sinh", sinh_impl, {{"float", "x"}, kNone}},
    {"float", "cosh", cosh_impl, {{"float", "x"}, kNone}},
    {"float", "tanh", tanh_impl, {{"float", "x"}, kNone}},
    {"float", "hypot", hypot_impl, {{"float", "x"}, {"float", "y"}}},
    {"float", "pow", pow_impl, {{"float", "x"}, {"float", "y"}}},
    {"float", "sqrt", sqrt_impl, {{"float", "x"}, kNone}},
    {"float", "exp", exp_impl, {{"float", "x"}, kNone}},
    {"float", "log", log_impl, {{"float", "x"}, kNone}},
    {"float", "log2", log2_impl, {{"float", "x"}, kNone}},
    {"float", "log10", log10_impl, {{"float", "x"}, kNone}},
    {"float", "floor", floor_impl, {{"float", "x"}, kNone}},
    {"float", "ceil", ceil_impl, {{"float", "x"}, kNone}},
    {"float", "round", round_impl, {{"float", "x"}, kNone}},
    {"float", "trunc", trunc_impl, {{"float", "x"}, kNone}},
    {"float", "fmod", fmod_impl, {{"float", "x"}, {"float", "y"}}},
    {"float", "remainder", remainder_impl, {{"float", "x"}, {"float", "y"}}},
    {"float", "min", min_impl, {{"float", "x"}, {"float", "y"}}},
    {"float", "max", max_impl, {{"float", "x"}, {"float", "y"}}},
    {"int", "isinf", isinf_impl, {{"float", "x"}, kNone}},
    {"int", "isnan", isnan_impl, {{"float", "x"}, kNone}},
    {"int", "nextpow2", nextpow2_impl, {{"int", "n"}, kNone}},
    {"int", "ensurePow2", ensurepow2_impl, {{"int", "n"}, kNone}},
    {"int", "rand", rand_impl, {kNone, kNone}},
    {"int", "rand2", rand2_impl, {{"int", "min"}, {"int", "max"}}},
    {"float", "randf", randf_impl, {kNone, kNone}},
    {"float", "rand2f", rand2f_impl, {{"float", "min"}, {"float", "max"}}},
    {"float", "mtof", mtof_impl, {{"float", "value"}, kNone}},
    {"float", "ftom", ftom_impl, {{"float", "value"}, kNone}},
    {"float", "powtodb", powtodb_impl, {{"float", "value"}, kNone}},
    {"float", "rmstodb", rmstodb_impl, {{"float", "value"}, kNone}},
    {"float", "dbtopow", dbtopow_impl, {{"float", "value"}, kNone}},
    {"float", "dbtorms", dbtorms_impl, {{"float", "value"}, kNone}},
    {"float", "re", re_impl, {{"complex", "value"}, kNone}},
    {"float", "im", im_impl, {{"complex", "value"}, kNone}},
    {"float", "mag", mag_impl, {{"polar", "value"}, kNone}},
    {"float", "phase", phase_impl, {{"polar", "value"}, kNone}},
    {"int", "rtop", rtop_impl, {{"complex[]", "from"}, {"polar[]", "to"}}},
    {"int", "ptor", ptor_impl, {{"polar[]", "from"}, {"complex[]", "to"}}},
};

// The constants in declaration order: type, name, storage.
struct Math_Const {
  const char* type;
  const char* name;
  void* addr;
};

const Math_Const kMathConsts[] = {
    {"float", "PI", &g_pi},
    {"float", "TWO_PI", &g_twopi},
    {"float", "E", &g_e},
    {"float", "e", &g_e},
    {"float", "FLOAT_MAX", &g_floatMax},
    {"float", "FLOAT_MIN_MAG", &g_floatMin},
    {"int", "INT_MAX", &g_intMax},
    {"float", "INFINITY", &g_inf},
    {"complex", "I", &g_i},
    {"complex", "i", &g_i},
    {"complex", "J", &g_i},
    {"complex", "j", &g_i},
};

// The highest set bit of v (v itself for 0 and the powers of two).
t_CPUINT highest_bit(t_CPUINT v) {
  if (v == 0) return 0;
  t_CPUINT bit = 1;
  while (v >>= 1) bit <<= 1;
  return bit;
}

}  // namespace

t_CPBOOL libmath_query(Chip_DL_Query* QUERY) {
  Chip_Env* env = Chip_Env::instance();
  QUERY->setname(QUERY, "Math");
  type_engine_register_deprecate(env, "math", "Math");

  g_inf = std::numeric_limits<double>::infinity();

  QUERY->begin_class(QUERY, "Math", "Object");
  for (const Math_Func& f : kMathFuncs) {
    QUERY->add_sfun(QUERY, f.fn, f.type, f.name);
    for (const Frame_Arg& arg : f.args) {
      if (arg.type) QUERY->add_arg(QUERY, arg.type, arg.name);
    }
  }
  for (const Math_Const& c : kMathConsts) QUERY->add_svar(QUERY, c.type, c.name, TRUE, c.addr);
  QUERY->end_class(QUERY);
  return TRUE;
}

// ---------------------------------------------------------------------------
// Powers of two

t_CPINT math_nextpow2(t_CPINT n) {
  // Unsigned: doubling the sign bit wraps to 0.
  return static_cast<t_CPINT>(2u * highest_bit(static_cast<t_CPUINT>(n)));
}

t_CPINT math_ensurepow2(t_CPINT n) {
  return static_cast<t_CPINT>(2u * highest_bit(static_cast<t_CPUINT>(n) - 1u));
}

void nextpow2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = math_nextpow2(GET_NEXT_INT(ARGS));
}

void ensurepow2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = math_ensurepow2(GET_NEXT_INT(ARGS));
}

// ---------------------------------------------------------------------------
// Host mathematics

// Routines that hand their arguments to one host function.
#define MATH_UNARY(name)                                                     \
  void name##_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {     \
    RETURN->v_float = std::name(GET_NEXT_FLOAT(ARGS));                       \
  }
#define MATH_BINARY(name)                                                    \
  void name##_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {     \
    t_CPFLOAT first = GET_NEXT_FLOAT(ARGS);                                  \
    t_CPFLOAT second = GET_NEXT_FLOAT(ARGS);                                 \
    RETURN->v_float = std::name(first, second);                              \
  }

MATH_UNARY(sin)
MATH_UNARY(cos)
MATH_UNARY(tan)
MATH_UNARY(asin)
MATH_UNARY(acos)
MATH_UNARY(atan)
MATH_UNARY(sinh)
MATH_UNARY(cosh)
MATH_UNARY(tanh)
MATH_UNARY(sqrt)
MATH_UNARY(exp)
MATH_UNARY(log)
MATH_BINARY(atan2)
MATH_BINARY(hypot)
MATH_BINARY(pow)

void log2_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  // The quotient of natural logarithms (not the host's log2).
  RETURN->v_float = std::log(GET_NEXT_FLOAT(ARGS)) / std::log(2.0);
}

MATH_UNARY(log10)
MATH_UNARY(floor)
MATH_UNARY(ceil)
MATH_UNARY(round)
MATH_UNARY(trunc)
MATH_BINARY(fmod)
MATH_BINARY(remainder)

#undef MATH_UNARY
#undef MATH_BINARY

void min_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPFLOAT x = GET_NEXT_FLOAT(ARGS);
  t_CPFLOAT y = GET_NEXT_FLOAT(ARGS);
  RETURN->v_float = x < y ? x : y;
}

void max_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPFLOAT x = GET_NEXT_FLOAT(ARGS);
  t_CPFLOAT y = GET_NEXT_FLOAT(ARGS);
  RETURN->v_float = x > y ? x : y;
}

void isinf_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = std::isinf(GET_NEXT_FLOAT(ARGS)) ? 1 : 0;
}

void isnan_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = std::isnan(GET_NEXT_FLOAT(ARGS)) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Complex and polar values

void re_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = GET_NEXT_COMPLEX(ARGS).re;
}

void im_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = GET_NEXT_COMPLEX(ARGS).im;
}

void mag_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = GET_NEXT_POLAR(ARGS).modulus;
}

void phase_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = GET_NEXT_POLAR(ARGS).phase;
}

namespace {

// Converts the common elements of from into to with convert, shrinks a
// longer to to their count and answers it; 0 when an array is null.
template <typename Convert>
t_CPINT convert_arrays(void* ARGS, const char* who, Convert convert) {
  Chip_Array16* from = static_cast<Chip_Array16*>(GET_NEXT_OBJECT(ARGS));
  Chip_Array16* to = static_cast<Chip_Array16*>(GET_NEXT_OBJECT(ARGS));
  if (!from || !to) {
    EM_log(CP_LOG_WARNING, "Math.%s( ... ) was given one or more NULL arrays...", who);
    return 0;
  }
  t_CPWORD count = from->size() < to->size() ? from->size() : to->size();
  for (t_CPWORD i = 0; i < count; i++) {
    t_CPCOMPLEX value{0.0, 0.0};
    from->get(i, &value);
    to->set(i, convert(value));
  }
  if (count < to->size()) to->set_size(count);
  return static_cast<t_CPINT>(count);
}

}  // namespace

void rtop_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = convert_arrays(ARGS, "rtop", [](t_CPCOMPLEX c) {
    return t_CPCOMPLEX{std::hypot(c.re, c.im), std::atan2(c.im, c.re)};
  });
}

void ptor_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  // A polar element is (modulus, phase) in the same two doubles.
  RETURN->v_int = convert_arrays(ARGS, "ptor", [](t_CPCOMPLEX p) {
    return t_CPCOMPLEX{p.re * std::cos(p.im), p.re * std::sin(p.im)};
  });
}
