// The toolkit module: the registration frame, the guard around every call
// into a toolkit object, and the language class SynInstrument.
//
// Native functions carry no user data, so the frame hands the import
// interface trampolines: class trampolines (constructor, destructor, tick)
// indexed by the class's place in a table of registered descriptors, and
// member trampolines indexed by a table of registered members. Registering
// the same descriptor again (every compiler loads the module) finds its old
// place, so the tables never grow past the classes and members that exist.
#include "chip/syn/ugen_syn.h"

#include <array>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"

t_CPWORD Instrmnt_offset_data = FRAME_NO_OFFSET;

namespace {

// The module's classes in registration order.
const char* const kClassNames[] = {
    "SynInstrument", "BandedWG", "BlowBotl",  "BlowHole", "Bowed",    "Brass",    "Clarinet",
    "Flute",         "Mandolin", "ModalBar",  "Moog",     "Saxofony", "Shakers",  "Sitar",
    "StifKarp",      "VoicForm", "FM",        "BeeThree", "FMVoices", "HevyMetl", "PercFlut",
    "Rhodey",        "TubeBell", "Wurley",    "Delay",    "DelayA",   "DelayL",   "Echo",
    "Envelope",      "ADSR",     "FilterSyn", "OnePole",  "TwoPole",  "OneZero",  "TwoZero",
    "PoleZero",      "JCRev",    "NRev",      "KestRev",  "Chorus",   "Modulate", "PitShift",
    "SubNoise",      "WvIn",     "WaveLoop",  "WvOut",    "BLT",      "Blit",     "BlitSaw",
    "BlitSquare",    "JetTabl",  "Mesh2D"};
constexpr size_t kClassCount = sizeof kClassNames / sizeof kClassNames[0];
static_assert(kClassCount == 52, "the toolkit module has 52 classes");

// ---------------------------------------------------------------------------
// SynInstrument: the frame of every instrument (Instrmnt).

const Syn_Member kInstrumentMembers[] = {
    syn_method("noteOn", "float",
               [](Syn_Slot& s, void* args, Chip_DL_Return*) {
                 Instrmnt& in = s.as<Instrmnt>();
                 in.noteOn(static_cast<float>(in.m_frequency),
                           static_cast<float>(GET_NEXT_FLOAT(args)));
               },
               {"float", "value"}),
    syn_method("noteOff", "float",
               [](Syn_Slot& s, void* args, Chip_DL_Return*) {
                 s.as<Instrmnt>().noteOff(static_cast<float>(GET_NEXT_FLOAT(args)));
               },
               {"float", "value"}),
    syn_prop(
        "freq", "float",
        [](Syn_Slot& s, double v) {
          Instrmnt& in = s.as<Instrmnt>();
          in.setFrequency(static_cast<float>(v));
          return in.m_frequency;
        },
        [](Syn_Slot& s) { return s.as<Instrmnt>().m_frequency; }),
    syn_method("controlChange", "void",
               [](Syn_Slot& s, void* args, Chip_DL_Return*) {
                 t_CPINT number = GET_NEXT_INT(args);
                 double value = GET_NEXT_FLOAT(args);
                 s.as<Instrmnt>().controlChange(number, static_cast<float>(value));
               },
               {"int", "ctrl"}, {"float", "value"}),
};

const Syn_Class_Desc kInstrument[] = {
    {"SynInstrument", "UGen", "@Instrmnt_data", &Instrmnt_offset_data, nullptr,
     [](Syn_Slot& s, SAMPLE) { return s.as<Instrmnt>().tick(); }, syn_pmsg_true,
     SYN_MEMBERS(kInstrumentMembers)},
};

const Syn_Class_Desc* instrument_classes(size_t* count) {
  *count = sizeof kInstrument / sizeof kInstrument[0];
  return kInstrument;
}

// The families syn_query asks for descriptors.
typedef const Syn_Class_Desc* (*Syn_Family)(size_t* count);
const Syn_Family kFamilies[] = {
    instrument_classes, syn_envelope_classes, syn_noise_classes,  syn_tables_classes,
    syn_filter_classes, syn_delay_classes,    syn_reverb_classes,
};

// ---------------------------------------------------------------------------
// The guard.

// The text of a caught toolkit error, unless raising it printed it already.
void report(const SynError& error) {
  if (error.wasReported()) return;
  const char* text = error.getMessage();
  if (std::strncmp(text, "[chip](via ", 11) == 0) {
    syn_warn("%s", text);
  } else {
    syn_warn(SYN_PREFIX "%s", text);
  }
}

// Runs fn; false (after the report) when it raised a toolkit error.
template <typename Fn>
bool guarded(Fn&& fn) {
  try {
    fn();
    return true;
  } catch (const SynError& error) {
    report(error);
    return false;
  }
}

// ---------------------------------------------------------------------------
// Class trampolines.

constexpr size_t kMaxClasses = 64;
const Syn_Class_Desc* g_classes[kMaxClasses];
size_t g_class_count = 0;

void run_ctor(const Syn_Class_Desc& desc, Chip_Object* self) {
  t_CPWORD offset = *desc.offset;
  Syn_Slot* slot = frame_state<Syn_Slot>(self, offset);
  if (!desc.make) {
    // A declaring class without an object of its own only clears its member.
    if (slot) {
      delete slot->obj;
      delete slot;
    }
    frame_set_state<Syn_Slot>(self, offset, nullptr);
    return;
  }
  if (!slot) {
    slot = new Syn_Slot;
    frame_set_state(self, offset, slot);
  }
  // A parent's object gives way to this class's: drop it first, so that a
  // failing make leaves the slot empty rather than holding the wrong class.
  delete slot->obj;
  *slot = Syn_Slot();
  Syn* obj = nullptr;
  guarded([&] { obj = desc.make(self); });
  slot->obj = obj;
}

void run_dtor(const Syn_Class_Desc& desc, Chip_Object* self) {
  Syn_Slot* slot = frame_take_state<Syn_Slot>(self, *desc.offset);
  if (!slot) return;
  delete slot->obj;
  delete slot;
}

unsigned long run_tick(const Syn_Class_Desc& desc, Chip_Object* self, SAMPLE in, SAMPLE* out) {
  Syn_Slot* slot = frame_state<Syn_Slot>(self, *desc.offset);
  if (!out) {
    if (slot) slot->warn_once(31, SYN_PREFIX "we warned you...");
    return 0;
  }
  SAMPLE y = 0.0f;
  if (slot && slot->obj && !slot->tick_failed) {
    if (!guarded([&] { y = desc.tick(*slot, in); })) {
      slot->tick_failed = true;
      y = 0.0f;
    }
  }
  *out = y;
  return 1;
}

template <size_t I>
void class_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  run_ctor(*g_classes[I], SELF);
}

template <size_t I>
void class_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  run_dtor(*g_classes[I], SELF);
}

template <size_t I>
unsigned long class_tick(Chip_Object* SELF, SAMPLE in, SAMPLE* out, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  return run_tick(*g_classes[I], SELF, in, out);
}

struct Class_Trampolines {
  f_ctor ctor;
  f_dtor dtor;
  f_tick tick;
};

template <size_t... I>
constexpr std::array<Class_Trampolines, sizeof...(I)> make_class_trampolines(
    std::index_sequence<I...>) {
  return {{Class_Trampolines{&class_ctor<I>, &class_dtor<I>, &class_tick<I>}...}};
}

constexpr auto kClassTrampolines = make_class_trampolines(std::make_index_sequence<kMaxClasses>());

// ---------------------------------------------------------------------------
// Member trampolines.

enum Member_Form { FORM_SET, FORM_GET, FORM_METHOD };

struct Member_Entry {
  const Syn_Class_Desc* desc;
  const Syn_Member* member;
  Member_Form form;
};

constexpr size_t kMaxMembers = 1024;
Member_Entry g_members[kMaxMembers];
size_t g_member_count = 0;

bool is_int_type(const char* type) { return std::strcmp(type, "int") == 0; }

// A property value into the result by its type; an int out of range (or
// NaN) is clamped (0 for NaN).
void put_value(Chip_DL_Return* ret, bool is_int, double value) {
  if (!is_int) {
    ret->v_float = value;
    return;
  }
  t_CPINT n = 0;
  if (value >= 2147483647.0) {
    n = 2147483647;
  } else if (value <= -2147483648.0) {
    n = static_cast<t_CPINT>(-2147483647 - 1);
  } else if (value == value) {
    n = static_cast<t_CPINT>(value);
  }
  ret->v_int = n;
}

void run_member(const Member_Entry& entry, Chip_Object* self, void* args, Chip_DL_Return* ret) {
  const Syn_Member& member = *entry.member;
  ret->v_complex = t_CPCOMPLEX{0.0, 0.0};
  Syn_Slot* slot = frame_state<Syn_Slot>(self, *entry.desc->offset);
  if (!slot || !slot->obj) return;  // an empty object answers 0
  bool is_int = is_int_type(member.type);
  void* cursor = args;
  switch (entry.form) {
    case FORM_SET: {
      double value = is_int ? static_cast<double>(GET_NEXT_INT(cursor)) : GET_NEXT_FLOAT(cursor);
      double stored = 0.0;
      if (guarded([&] { stored = member.set(*slot, value); })) {
        put_value(ret, is_int, stored);
        slot->tick_failed = false;
      }
      break;
    }
    case FORM_GET: {
      double stored = 0.0;
      if (guarded([&] { stored = member.get(*slot); })) put_value(ret, is_int, stored);
      break;
    }
    case FORM_METHOD:
      if (guarded([&] { member.method(*slot, cursor, ret); })) {
        slot->tick_failed = false;
      } else {
        ret->v_complex = t_CPCOMPLEX{0.0, 0.0};
      }
      break;
  }
}

template <size_t I>
void member_fn(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  run_member(g_members[I], SELF, ARGS, RETURN);
}

template <size_t... I>
constexpr std::array<f_mfun, sizeof...(I)> make_member_trampolines(std::index_sequence<I...>) {
  return {{&member_fn<I>...}};
}

constexpr auto kMemberTrampolines =
    make_member_trampolines(std::make_index_sequence<kMaxMembers>());

// The place of a class, or of one form of a member, in its table (found
// again when registered before); -1 when the table is full.
long class_index(const Syn_Class_Desc* desc) {
  for (size_t i = 0; i < g_class_count; i++) {
    if (g_classes[i] == desc) return static_cast<long>(i);
  }
  if (g_class_count == kMaxClasses) return -1;
  g_classes[g_class_count] = desc;
  return static_cast<long>(g_class_count++);
}

long member_index(const Syn_Class_Desc* desc, const Syn_Member* member, Member_Form form) {
  for (size_t i = 0; i < g_member_count; i++) {
    const Member_Entry& e = g_members[i];
    if (e.desc == desc && e.member == member && e.form == form) return static_cast<long>(i);
  }
  if (g_member_count == kMaxMembers) return -1;
  g_members[g_member_count] = Member_Entry{desc, member, form};
  return static_cast<long>(g_member_count++);
}

// Imports one form of a member; FALSE on failure.
t_CPBOOL import_member(Chip_Env* env, const Syn_Class_Desc* desc, const Syn_Member* member,
                       Member_Form form) {
  long index = member_index(desc, member, form);
  if (index < 0) {
    syn_warn(SYN_PREFIX "too many members to register (%s.%s)", desc->name, member->name);
    return FALSE;
  }
  Chip_DL_Func* fun = make_new_mfun(member->type, member->name, kMemberTrampolines[index]);
  if (form == FORM_SET) {
    fun->add_arg(member->type, "value");
  } else if (form == FORM_METHOD) {
    for (const Frame_Arg& arg : member->args) {
      if (!arg.type) break;
      fun->add_arg(arg.type, arg.name);
    }
  }
  t_CPBOOL ok = type_engine_import_mfun(env, fun);
  delete fun;
  return ok;
}

}  // namespace

t_CPBOOL syn_import_class(Chip_Env* env, const Syn_Class_Desc* desc) {
  long index = class_index(desc);
  if (index < 0) {
    syn_warn(SYN_PREFIX "too many classes to register (%s)", desc->name);
    return FALSE;
  }
  const Class_Trampolines& t = kClassTrampolines[index];
  bool has_ctor = desc->make || desc->data_member;
  if (!type_engine_import_ugen_begin(env, desc->name, desc->parent, env->global(),
                                     has_ctor ? t.ctor : nullptr, desc->make ? t.dtor : nullptr,
                                     desc->tick ? t.tick : nullptr, desc->pmsg, CHIP_IMPORT_KEEP,
                                     CHIP_IMPORT_KEEP)) {
    return FALSE;
  }
  if (desc->data_member) {
    t_CPWORD offset = frame_import_state(env, desc->data_member);
    if (offset == FRAME_NO_OFFSET) return frame_fail(env);
    *desc->offset = offset;
  }
  for (size_t i = 0; i < desc->member_count; i++) {
    const Syn_Member* member = &desc->members[i];
    if (member->method) {
      if (!import_member(env, desc, member, FORM_METHOD)) return frame_fail(env);
      continue;
    }
    if (member->set && !import_member(env, desc, member, FORM_SET)) return frame_fail(env);
    if (member->get && !import_member(env, desc, member, FORM_GET)) return frame_fail(env);
  }
  return type_engine_import_class_end(env);
}

namespace {

// The descriptor of the named class among the families, or null.
const Syn_Class_Desc* find_class(const char* name) {
  for (Syn_Family family : kFamilies) {
    size_t count = 0;
    const Syn_Class_Desc* descs = family(&count);
    for (size_t i = 0; i < count; i++) {
      if (std::strcmp(descs[i].name, name) == 0) return &descs[i];
    }
  }
  return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Shared pieces.

void Syn_Slot::warn_once(unsigned bit, const char* format, ...) {
  unsigned mask = 1u << (bit & 31u);
  if (warned & mask) return;
  warned |= mask;
  char text[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  syn_warn("%s", text);
}

unsigned long syn_pmsg_true(Chip_Object* SELF, const char* MSG, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)MSG;
  (void)ARGS;
  (void)SHRED;
  return 1;
}

unsigned long syn_pmsg_false(Chip_Object* SELF, const char* MSG, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)SELF;
  (void)MSG;
  (void)ARGS;
  (void)SHRED;
  return 0;
}

Syn_Slot* syn_slot(Chip_Object* self, t_CPWORD offset) {
  return frame_state<Syn_Slot>(self, offset);
}

Syn* syn_object(Chip_Object* self, t_CPWORD offset) {
  Syn_Slot* slot = syn_slot(self, offset);
  return slot ? slot->obj : nullptr;
}

const char* const* syn_class_names(size_t* count) {
  *count = kClassCount;
  return kClassNames;
}

// ---------------------------------------------------------------------------
// The module.

t_CPBOOL syn_query(Chip_DL_Query* QUERY) {
  Chip_Env* env = Chip_Env::instance();
  CHIP_CHECK(env != NULL);
  if (QUERY->srate > 0) Syn::srate = static_cast<float>(QUERY->srate);
  little_endian = 1;

  for (const char* name : kClassNames) {
    const Syn_Class_Desc* desc = find_class(name);
    if (!desc) continue;  // its family is not built yet
    if (!syn_import_class(env, desc)) return FALSE;
  }
  return TRUE;
}

t_CPBOOL syn_detach(t_CPUINT type, void* data) {
  (void)type;
  (void)data;
  EM_log(CP_LOG_INFO, "(via SYN): detaching file handles...");
  // TODO(sound-file output): close every writer scripts left open.
  return TRUE;
}
