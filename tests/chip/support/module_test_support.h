// Native unit-generator modules in a test's environment, objects of their
// classes built by hand, and a tone's amplitude measured in what they play.
//
// load_test_module does what the compiler driver does for a module at start: it
// runs the module's query function with a fresh query record (at the given
// sample rate) and commits the global namespace, so the module's classes
// stay for every file checked afterwards, whatever that file's fate.
//
// make_native builds an object of a class as a program's `new` would, minus
// the machine: instantiate, then the native constructors of the class and
// its ancestors, base first (what the pre-constructors run). The test holds
// one reference to it in `held` and releases it in its TearDown;
// call_member then drives the object's native setters and getters.
//
// ToneProjection measures the amplitude of a tone of known frequency in
// what a generator played: a single-bin DFT at that frequency.
#ifndef TESTS_CHIP_MODULE_TEST_SUPPORT_H
#define TESTS_CHIP_MODULE_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_vm.h"

// query_fn: the module's query function (osc_query, filter_query, ...).
inline bool load_test_module(Chip_Env* env, f_ck_query query_fn, t_CPUINT srate) {
  Chip_DL_Query query;
  query.srate = srate;
  if (!query_fn(&query)) return false;
  env->global()->commit();
  return true;
}

inline Chip_Type* find_type(Chip_Env* env, const char* name) {
  return env->global()->lookup_type(std::string(name), 0);
}

// Runs the native constructors of type's classes on obj, base first, as the
// pre-constructors of a new object do (for shred, when one is given).
inline void construct(Chip_Object* obj, Chip_Type* type, Chip_VM_Shred* shred = nullptr) {
  std::vector<Chip_Type*> chain;
  for (Chip_Type* t = type; t; t = t->parent) chain.push_back(t);
  std::reverse(chain.begin(), chain.end());
  for (Chip_Type* t : chain) {
    Chip_VM_Code* ctor = t->info ? t->info->pre_ctor : nullptr;
    if (!ctor || ctor->native_func_type != Chip_VM_Code::NATIVE_CTOR) continue;
    reinterpret_cast<f_ctor>(ctor->native_func)(obj, nullptr, shred);
  }
}

// A constructed object of the named class (null, with a test failure, when
// there is no such class), one reference held in `held`.
inline Chip_Object* make_native(Chip_Env* env, const char* name, std::vector<Chip_Object*>& held) {
  Chip_Type* type = find_type(env, name);
  EXPECT_NE(type, nullptr) << name;
  if (!type) return nullptr;
  Chip_Object* obj = instantiate_and_initialize_object(type, nullptr);
  EXPECT_NE(obj, nullptr);
  obj->add_ref();
  held.push_back(obj);
  construct(obj, type);
  return obj;
}

// Calls a native member function as a compiled program does: `args` points
// at its arguments (null when it takes none); answers its return record.
inline Chip_DL_Return call_member(f_mfun fn, Chip_Object* self, void* args) {
  Chip_DL_Return ret;
  fn(self, args, &ret, nullptr);
  return ret;
}

// The native function a script reaches as `name` with `arg_count`
// arguments on an object of type (declared by the type or an ancestor,
// nearest first); null, with a test failure, when there is none.
inline f_mfun native_member(Chip_Type* type, const char* name, size_t arg_count) {
  for (Chip_Type* t = type; t; t = t->parent) {
    if (!t->info) continue;
    for (Chip_Func* f = t->info->lookup_func(std::string(name), 0); f; f = f->next) {
      size_t n = 0;
      for (a_Arg_List a = f->def ? f->def->arg_list : nullptr; a; a = a->next) n++;
      if (n == arg_count && f->code && f->code->native_func) {
        return reinterpret_cast<f_mfun>(f->code->native_func);
      }
    }
  }
  ADD_FAILURE() << "no native member " << name << " with " << arg_count << " arguments";
  return nullptr;
}

// Calls the member `name` of self as a script would (self's own type
// decides which function serves it); `args` points at arg_count packed
// arguments (null when none).
inline Chip_DL_Return call_member(Chip_Object* self, const char* name, void* args = nullptr,
                                  size_t arg_count = 0) {
  Chip_DL_Return ret{};
  f_mfun fn = native_member(self->type_ref, name, arg_count);
  if (fn) fn(self, args, &ret, nullptr);
  return ret;
}

// The setter `name(value)` of a property by its language type, and its
// getter `name()`.
inline Chip_DL_Return set_member(Chip_Object* self, const char* name, t_CPFLOAT value) {
  return call_member(self, name, &value, 1);
}
inline Chip_DL_Return set_member(Chip_Object* self, const char* name, t_CPINT value) {
  t_CPWORD word = value;
  return call_member(self, name, &word, 1);
}
inline Chip_DL_Return get_member(Chip_Object* self, const char* name) {
  return call_member(self, name, nullptr, 0);
}

// Projects samples onto a tone of angular frequency w (radians a sample):
// accumulates sample(k) * e^(-i w n) with n = first + k, the phase the tone
// had at that sample. The amplitude of a tone cos(w n + phi) in the samples
// is then scale * |sum| / count, with scale 2 (1 at DC and Nyquist, where
// the tone has no second, mirrored half).
class ToneProjection {
 public:
  explicit ToneProjection(double w) : w_(w) {}
  void add(double sample, int n) {
    sum_ += sample * std::polar(1.0, -w_ * n);
    count_++;
  }
  double amplitude(double scale = 2.0) const { return scale * std::abs(sum_) / count_; }

 private:
  double w_;
  std::complex<double> sum_ = 0.0;
  int count_ = 0;
};

#endif
