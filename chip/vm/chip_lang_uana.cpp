#include "chip/vm/chip_lang_uana.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <new>

#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_lang.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/hidio.h"

t_CPWORD uana_offset_blob = -1;
t_CPWORD uanablob_offset_when = -1;
t_CPWORD uanablob_offset_fvals = -1;
t_CPWORD uanablob_offset_cvals = -1;

t_CPWORD HidMsg_offset_device_type = -1;
t_CPWORD HidMsg_offset_device_num = -1;
t_CPWORD HidMsg_offset_type = -1;
t_CPWORD HidMsg_offset_which = -1;
t_CPWORD HidMsg_offset_idata = -1;
t_CPWORD HidMsg_offset_fdata = -1;
t_CPWORD HidMsg_offset_when = -1;
t_CPWORD HidMsg_offset_deltax = -1;
t_CPWORD HidMsg_offset_deltay = -1;
t_CPWORD HidMsg_offset_cursorx = -1;
t_CPWORD HidMsg_offset_cursory = -1;
t_CPWORD HidMsg_offset_scaledcursorx = -1;
t_CPWORD HidMsg_offset_scaledcursory = -1;
t_CPWORD HidMsg_offset_x = -1;
t_CPWORD HidMsg_offset_y = -1;
t_CPWORD HidMsg_offset_z = -1;
t_CPWORD HidMsg_offset_axis_position = -1;
t_CPWORD HidMsg_offset_axis_position2 = -1;
t_CPWORD HidMsg_offset_hat_position = -1;
t_CPWORD HidMsg_offset_ascii = -1;
t_CPWORD HidMsg_offset_key = -1;
t_CPWORD HidMsg_offset_scaled_axis_position = -1;

t_CPWORD HidIn_offset_data = -1;

namespace {

// The array types of the blob's results and of readTiltSensor's answer,
// made at registration in the registering context (they live as long as the
// environment, and are made again by the next registration).
Chip_Type* g_float_array_type = nullptr;
Chip_Type* g_complex_array_type = nullptr;
Chip_Type* g_int_array_type = nullptr;

// Member words in an object's data.
template <typename T>
T load_member(const Chip_Object* object, t_CPWORD offset) {
  T value;
  std::memcpy(&value, object->data + offset, sizeof value);
  return value;
}

template <typename T>
void store_member(Chip_Object* object, t_CPWORD offset, T value) {
  std::memcpy(object->data + offset, &value, sizeof value);
}

// An int member: the language's 32-bit int, sign-extended in its word.
void store_int(Chip_Object* object, t_CPWORD offset, t_CPINT value) {
  store_member<t_CPWORD>(object, offset, static_cast<t_CPWORD>(value));
}

t_CPINT load_int(const Chip_Object* object, t_CPWORD offset) {
  return static_cast<t_CPINT>(load_member<t_CPWORD>(object, offset));
}

// ---------------------------------------------------------------------------
// Registration helpers: each answers FALSE when the import failed (the
// import interface printed why).

struct ArgSpec {
  const char* type;
  const char* name;
};

t_CPBOOL import_mfun(Chip_Env* env, const char* type, const char* name, f_mfun fn,
                     std::initializer_list<ArgSpec> args = {}) {
  Chip_DL_Func* func = make_new_mfun(type, name, fn);
  for (const ArgSpec& arg : args) func->add_arg(arg.type, arg.name);
  t_CPBOOL ok = type_engine_import_mfun(env, func);
  delete func;
  return ok;
}

t_CPBOOL import_sfun(Chip_Env* env, const char* type, const char* name, f_sfun fn,
                     std::initializer_list<ArgSpec> args = {}) {
  Chip_DL_Func* func = make_new_sfun(type, name, fn);
  for (const ArgSpec& arg : args) func->add_arg(arg.type, arg.name);
  t_CPBOOL ok = type_engine_import_sfun(env, func);
  delete func;
  return ok;
}

t_CPBOOL import_mvar(Chip_Env* env, const char* type, const char* name, t_CPWORD* offset) {
  unsigned long result = type_engine_import_mvar(env, type, name, FALSE);
  if (result == CHIP_IMPORT_BAD_OFFSET) return FALSE;
  *offset = static_cast<t_CPWORD>(result);
  return TRUE;
}

// Closes the open class after a failed step.
t_CPBOOL fail(Chip_Env* env) {
  type_engine_import_class_end(env);
  return FALSE;
}

// ---------------------------------------------------------------------------
// Blob access.

// The proxy in an analyser object's data. A UAna class without a tock
// makes plain Chip_UGen nodes (is_uana 0), so the object is read as a
// Chip_Object and only cast to Chip_UAna where is_uana says it is one.
Chip_UAnaBlobProxy* proxy_of(const Chip_Object* uana) {
  if (uana_offset_blob < 0 || !uana || !uana->data) return nullptr;
  return load_member<Chip_UAnaBlobProxy*>(uana, uana_offset_blob);
}

// The node as an analyser, or null for a node that cannot analyse.
Chip_UAna* as_uana(Chip_Object* object) {
  Chip_UGen* ugen = static_cast<Chip_UGen*>(object);
  return ugen->is_uana ? static_cast<Chip_UAna*>(ugen) : nullptr;
}

Chip_Array8* fvals_of(Chip_Object* blob) {
  if (!blob || uanablob_offset_fvals < 0 || !blob->data) return nullptr;
  return load_member<Chip_Array8*>(blob, uanablob_offset_fvals);
}

Chip_Array16* cvals_of(Chip_Object* blob) {
  if (!blob || uanablob_offset_cvals < 0 || !blob->data) return nullptr;
  return load_member<Chip_Array16*>(blob, uanablob_offset_cvals);
}

// Element index of the blob's float results, 0.0 out of range.
t_CPFLOAT fval_of(Chip_Object* blob, t_CPINT index) {
  Chip_Array8* arr = fvals_of(blob);
  t_CPFLOAT value = 0.0;
  if (arr && index >= 0 && index < arr->size()) arr->get(index, &value);
  return value;
}

t_CPCOMPLEX cval_of(Chip_Object* blob, t_CPINT index) {
  Chip_Array16* arr = cvals_of(blob);
  t_CPCOMPLEX value{0.0, 0.0};
  if (arr && index >= 0 && index < arr->size()) arr->get(index, &value);
  return value;
}

Chip_Object* blob_of_uana(Chip_Object* uana) {
  Chip_UAnaBlobProxy* proxy = proxy_of(uana);
  return proxy ? proxy->m_blob : nullptr;
}

// Brings the analysis of uana up to now: its channel nodes first, then its
// own frame (which brings its upstream analysers up to date).
void upchip_to(Chip_UAna* uana, t_CPTIME now) {
  if (uana->tock_time >= now) return;
  for (unsigned long i = 0; i < uana->multi_chan_size; i++) {
    Chip_UGen* chan = uana->multi_chan[i];
    if (chan && chan != uana && chan->is_uana) upchip_to(static_cast<Chip_UAna*>(chan), now);
  }
  uana->system_tock(now);
}

// ---------------------------------------------------------------------------
// Hid access.

HidIn* hidin_of(Chip_Object* self) {
  if (!self || HidIn_offset_data < 0 || !self->data) return nullptr;
  return load_member<HidIn*>(self, HidIn_offset_data);
}

// A new string object holding text (unreferenced), or null.
Chip_Object* new_string(const std::string& text, Chip_VM_Shred* shred) {
  Chip_Object* object = instantiate_and_initialize_object(&t_string, shred);
  if (object) static_cast<Chip_String*>(object)->set(text);
  return object;
}

void open_device(Chip_Object* self, long type, long num, Chip_DL_Return* ret) {
  HidIn* hin = hidin_of(self);
  ret->v_int = hin && hin->open(type, num) ? 1 : 0;
}

// The process-wide reader behind readTiltSensor, and whether the sensor is
// usable.
HidIn* g_tilt_sensor = nullptr;
t_CPBOOL g_tilt_sensor_usable = TRUE;

// Device and message types as the static constants of Hid, in registration
// order; each value is the storage of its static variable.
struct HidConstant {
  const char* name;
  t_CPWORD value;
};
HidConstant g_hid_constants[] = {
    {"JOYSTICK", CP_HID_DEV_JOYSTICK},
    {"KEYBOARD", CP_HID_DEV_KEYBOARD},
    {"MOUSE", CP_HID_DEV_MOUSE},
    {"WII_REMOTE", CP_HID_DEV_WIIREMOTE},
    {"TILT_SENSOR", CP_HID_DEV_TILTSENSOR},
    {"TABLET", CP_HID_DEV_TABLET},
    {"AXIS_MOTION", CP_HID_JOYSTICK_AXIS},
    {"BUTTON_DOWN", CP_HID_BUTTON_DOWN},
    {"BUTTON_UP", CP_HID_BUTTON_UP},
    {"JOYSTICK_HAT", CP_HID_JOYSTICK_HAT},
    {"JOYSTICK_BALL", CP_HID_JOYSTICK_BALL},
    {"MOUSE_MOTION", CP_HID_MOUSE_MOTION},
    {"MOUSE_WHEEL", CP_HID_MOUSE_WHEEL},
    {"DEVICE_CONNECTED", CP_HID_DEVICE_CONNECTED},
    {"DEVICE_DISCONNECTED", CP_HID_DEVICE_DISCONNECTED},
    {"ACCELEROMETER", CP_HID_ACCELEROMETER},
    {"LED", CP_HID_LED},
    {"FORCE_FEEDBACK", CP_HID_FORCE_FEEDBACK},
};

}  // namespace

// ---------------------------------------------------------------------------
// Chip_UAnaBlobProxy

Chip_UAnaBlobProxy::Chip_UAnaBlobProxy(Chip_Object* blob) : m_blob(blob) {
  CHIP_CHECK(m_blob != NULL);
  m_blob->add_ref();
}

Chip_UAnaBlobProxy::~Chip_UAnaBlobProxy() {
  m_blob->release();
  m_blob = nullptr;
}

t_CPTIME& Chip_UAnaBlobProxy::when() {
  CHIP_CHECK(uanablob_offset_when >= 0 && m_blob->data != NULL);
  return *reinterpret_cast<t_CPTIME*>(m_blob->data + uanablob_offset_when);
}

Chip_Array8& Chip_UAnaBlobProxy::fvals() {
  Chip_Array8* arr8 = fvals_of(m_blob);
  CHIP_CHECK(arr8 != NULL);
  return *arr8;
}

Chip_Array16& Chip_UAnaBlobProxy::cvals() {
  Chip_Array16* arr16 = cvals_of(m_blob);
  CHIP_CHECK(arr16 != NULL);
  return *arr16;
}

Chip_UAnaBlobProxy* getBlobProxy(const Chip_UAna* uana) { return proxy_of(uana); }

// ---------------------------------------------------------------------------
// Registration

t_CPBOOL init_class_blob(Chip_Env* env, Chip_Type* type) {
  EM_log(CP_LOG_SEVERE, "class 'uanablob'");
  if (!type_engine_import_class_begin(env, type, env->global(), uanablob_ctor, uanablob_dtor)) {
    return FALSE;
  }
  if (!import_mvar(env, "time", "m_when", &uanablob_offset_when)) return fail(env);
  if (!import_mvar(env, "float[]", "m_fvals", &uanablob_offset_fvals)) return fail(env);
  if (!import_mvar(env, "complex[]", "m_cvals", &uanablob_offset_cvals)) return fail(env);
  if (!import_mfun(env, "time", "when", uanablob_when)) return fail(env);
  if (!import_mfun(env, "float[]", "fvals", uanablob_fvals)) return fail(env);
  if (!import_mfun(env, "complex[]", "cvals", uanablob_cvals)) return fail(env);
  if (!import_mfun(env, "float", "fval", uanablob_fval, {{"int", "index"}})) return fail(env);
  if (!import_mfun(env, "complex", "cval", uanablob_cval, {{"int", "index"}})) return fail(env);
  type_engine_import_class_end(env);

  g_float_array_type = new_array_type(env, &t_array, 1, &t_float, env->global());
  g_complex_array_type = new_array_type(env, &t_array, 1, &t_complex, env->global());
  return TRUE;
}

t_CPBOOL init_class_uana(Chip_Env* env, Chip_Type* type) {
  EM_log(CP_LOG_SEVERE, "class 'uana'");
  // The description of a plain UGen (the class's tock comes with a subclass).
  Chip_UGen_Info* info = new Chip_UGen_Info;
  info->tick = __ugen_tick;
  info->tick_v = __ugen_tick_v;
  info->block = CHIP_BLOCK_EXACT;
  info->add_ref();
  if (type->ugen_info) type->ugen_info->release();
  type->ugen_info = info;

  if (!type_engine_import_class_begin(env, type, env->global(), uana_ctor, uana_dtor)) {
    return FALSE;
  }
  // Hidden: it holds the engine's proxy, not an object a script may use.
  if (!import_mvar(env, "int", "@m_blob", &uana_offset_blob)) return fail(env);
  if (!import_mfun(env, "UAnaBlob", "upchip", uana_upchip)) return fail(env);
  if (!import_mfun(env, "float[]", "fvals", uana_fvals)) return fail(env);
  if (!import_mfun(env, "complex[]", "cvals", uana_cvals)) return fail(env);
  if (!import_mfun(env, "float", "fval", uana_fval, {{"int", "index"}})) return fail(env);
  if (!import_mfun(env, "complex", "cval", uana_cval, {{"int", "index"}})) return fail(env);
  if (!import_mfun(env, "int", "isUpConnectedTo", uana_connected, {{"UAna", "right"}})) {
    return fail(env);
  }
  return type_engine_import_class_end(env);
}

t_CPBOOL init_class_HID(Chip_Env* env) {
  EM_log(CP_LOG_SEVERE, "class 'HidMsg'");
  if (!type_engine_import_class_begin(env, "HidMsg", "Object", env->global(), nullptr, nullptr)) {
    return FALSE;
  }
  struct MemberSpec {
    const char* type;
    const char* name;
    t_CPWORD* offset;
  };
  const MemberSpec members[] = {
      {"int", "deviceType", &HidMsg_offset_device_type},
      {"int", "deviceNum", &HidMsg_offset_device_num},
      {"int", "type", &HidMsg_offset_type},
      {"int", "which", &HidMsg_offset_which},
      {"int", "idata", &HidMsg_offset_idata},
      {"float", "fdata", &HidMsg_offset_fdata},
      {"time", "when", &HidMsg_offset_when},
      {"int", "deltaX", &HidMsg_offset_deltax},
      {"int", "deltaY", &HidMsg_offset_deltay},
      {"int", "cursorX", &HidMsg_offset_cursorx},
      {"int", "cursorY", &HidMsg_offset_cursory},
      {"float", "scaledCursorX", &HidMsg_offset_scaledcursorx},
      {"float", "scaledCursorY", &HidMsg_offset_scaledcursory},
      {"int", "x", &HidMsg_offset_x},
      {"int", "y", &HidMsg_offset_y},
      {"int", "z", &HidMsg_offset_z},
      {"int", "axis_position", &HidMsg_offset_axis_position},
      {"float", "axisPosition", &HidMsg_offset_axis_position2},
      {"int", "hatPosition", &HidMsg_offset_hat_position},
      {"int", "ascii", &HidMsg_offset_ascii},
      {"int", "key", &HidMsg_offset_key},
      {"float", "scaled_axis_position", &HidMsg_offset_scaled_axis_position},
  };
  for (const MemberSpec& m : members) {
    if (!import_mvar(env, m.type, m.name, m.offset)) return fail(env);
  }
  struct PredicateSpec {
    const char* name;
    f_mfun fn;
  };
  const PredicateSpec predicates[] = {
      {"is_axis_motion", HidMsg_is_axis_motion},   {"isAxisMotion", HidMsg_is_axis_motion},
      {"is_button_down", HidMsg_is_button_down},   {"isButtonDown", HidMsg_is_button_down},
      {"is_button_up", HidMsg_is_button_up},       {"isButtonUp", HidMsg_is_button_up},
      {"is_mouse_motion", HidMsg_is_mouse_motion}, {"isMouseMotion", HidMsg_is_mouse_motion},
      {"is_hat_motion", HidMsg_is_hat_motion},     {"isHatMotion", HidMsg_is_hat_motion},
      {"isWheelMotion", HidMsg_is_wheel_motion},
  };
  for (const PredicateSpec& p : predicates) {
    if (!import_mfun(env, "int", p.name, p.fn)) return fail(env);
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  type_engine_register_deprecate(env, "HidIn", "Hid");

  EM_log(CP_LOG_SEVERE, "class 'Hid'");
  if (!type_engine_import_class_begin(env, "Hid", "Event", env->global(), HidIn_ctor, HidIn_dtor)) {
    return FALSE;
  }
  if (!import_mfun(env, "int", "open", HidIn_open, {{"int", "type"}, {"int", "num"}}) ||
      !import_mfun(env, "int", "openJoystick", HidIn_open_joystick, {{"int", "num"}}) ||
      !import_mfun(env, "int", "openMouse", HidIn_open_mouse, {{"int", "num"}}) ||
      !import_mfun(env, "int", "openKeyboard", HidIn_open_keyboard, {{"int", "num"}}) ||
      !import_mfun(env, "int", "openTiltSensor", HidIn_open_tiltsensor) ||
      !import_mfun(env, "int", "good", HidIn_good) || !import_mfun(env, "int", "num", HidIn_num) ||
      !import_mfun(env, "string", "name", HidIn_name) ||
      !import_mfun(env, "void", "printerr", HidIn_printerr, {{"int", "print_or_not"}}) ||
      !import_mfun(env, "int", "recv", HidIn_recv, {{"HidMsg", "msg"}}) ||
      !import_mfun(env, "int", "read", HidIn_read,
                   {{"int", "type"}, {"int", "which"}, {"HidMsg", "msg"}}) ||
      !import_mfun(env, "int", "send", HidIn_send, {{"HidMsg", "msg"}}) ||
      !import_mfun(env, "int", "can_wait", HidIn_can_wait) ||
      !import_sfun(env, "int[]", "readTiltSensor", HidIn_read_tilt_sensor) ||
      !import_sfun(env, "dur", "globalTiltPollRate", HidIn_ctrl_tiltPollRate, {{"dur", "d"}}) ||
      !import_sfun(env, "dur", "globalTiltPollRate", HidIn_cget_tiltPollRate) ||
      !import_sfun(env, "int", "startCursorTrack", HidIn_start_cursor_track) ||
      !import_sfun(env, "int", "stopCursorTrack", HidIn_stop_cursor_track)) {
    return fail(env);
  }
  if (!import_mvar(env, "int", "@Hid_data", &HidIn_offset_data)) return fail(env);
  for (HidConstant& constant : g_hid_constants) {
    if (!type_engine_import_svar(env, "int", constant.name, TRUE,
                                 reinterpret_cast<unsigned long>(&constant.value))) {
      return fail(env);
    }
  }
  if (!type_engine_import_class_end(env)) return FALSE;

  g_int_array_type = new_array_type(env, &t_array, 1, &t_int, env->global());
  return TRUE;
}

// ---------------------------------------------------------------------------
// UAnaBlob

void uanablob_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  store_member<t_CPTIME>(SELF, uanablob_offset_when, 0.0);

  // An array that cannot be initialised could not answer its members: the
  // blob fails as out of memory (the calling shred's OutOfMemory).
  Chip_Array8* fvals = new Chip_Array8(8);
  if (g_float_array_type && !initialize_object(fvals, g_float_array_type)) {
    delete fvals;
    throw std::bad_alloc();
  }
  fvals->add_ref();
  store_member<Chip_Array8*>(SELF, uanablob_offset_fvals, fvals);

  Chip_Array16* cvals = new Chip_Array16(8);
  if (g_complex_array_type && !initialize_object(cvals, g_complex_array_type)) {
    delete cvals;
    throw std::bad_alloc();
  }
  cvals->add_ref();
  store_member<Chip_Array16*>(SELF, uanablob_offset_cvals, cvals);
}

void uanablob_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  if (!SELF || !SELF->data) return;  // never initialised: nothing to let go
  if (Chip_Array8* fvals = fvals_of(SELF)) fvals->release();
  store_member<Chip_Array8*>(SELF, uanablob_offset_fvals, nullptr);
  if (Chip_Array16* cvals = cvals_of(SELF)) cvals->release();
  store_member<Chip_Array16*>(SELF, uanablob_offset_cvals, nullptr);
  store_member<t_CPTIME>(SELF, uanablob_offset_when, 0.0);
}

void uanablob_when(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_time = load_member<t_CPTIME>(SELF, uanablob_offset_when);
}

void uanablob_fvals(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_object = fvals_of(SELF);
}

void uanablob_cvals(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_object = cvals_of(SELF);
}

void uanablob_fval(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT index = GET_NEXT_INT(ARGS);
  RETURN->v_float = fval_of(SELF, index);
}

void uanablob_cval(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT index = GET_NEXT_INT(ARGS);
  RETURN->v_complex = cval_of(SELF, index);
}

// ---------------------------------------------------------------------------
// UAna

void uana_ctor(Chip_Object* SELF, void*, Chip_VM_Shred* SHRED) {
  Chip_Object* blob = instantiate_and_initialize_object(&t_uanablob, SHRED);
  if (!blob) {
    // Out of memory, reported by the instantiation: the shred ends; the
    // node stays without a blob (its members answer as for no analysis).
    if (SHRED) {
      SHRED->is_running = FALSE;
      SHRED->is_done = TRUE;
    }
    return;
  }
  Chip_UAnaBlobProxy* proxy = new Chip_UAnaBlobProxy(blob);
  store_member<Chip_UAnaBlobProxy*>(SELF, uana_offset_blob, proxy);
  uanablob_ctor(blob, nullptr, SHRED);
}

void uana_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  Chip_UAnaBlobProxy* proxy = proxy_of(SELF);
  if (!proxy) return;
  store_member<Chip_UAnaBlobProxy*>(SELF, uana_offset_blob, nullptr);
  delete proxy;
}

void uana_upchip(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  if (!SHRED) {
    EM_error3("UAna.upchip() encountered NULL shred; operation aborting!");
    return;
  }
  if (!SHRED->vm_ref) {
    EM_error3("UAna.upchip() encountered NULL VM ref; operation aborting!");
    return;
  }
  // A node without analysis (its class has no tock) answers its blob as is.
  if (Chip_UAna* uana = as_uana(SELF)) upchip_to(uana, SHRED->vm_ref->shreduler()->now);
  RETURN->v_object = blob_of_uana(SELF);
}

void uana_fvals(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_object = fvals_of(blob_of_uana(SELF));
}

void uana_cvals(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_object = cvals_of(blob_of_uana(SELF));
}

void uana_fval(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT index = GET_NEXT_INT(ARGS);
  RETURN->v_float = fval_of(blob_of_uana(SELF), index);
}

void uana_cval(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT index = GET_NEXT_INT(ARGS);
  RETURN->v_complex = cval_of(blob_of_uana(SELF), index);
}

void uana_connected(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Object* right = GET_NEXT_OBJECT(ARGS);
  RETURN->v_int = 0;
  if (!right) return;
  // right's incoming analysers (the list every node keeps; what
  // Chip_UAna::is_up_connected_from looks at).
  const Chip_UGen* dest = static_cast<Chip_UGen*>(right);
  for (unsigned long i = 0; i < dest->num_src_uana; i++) {
    if (dest->src_uana_list[i] == static_cast<Chip_UGen*>(SELF)) RETURN->v_int = 1;
  }
}

// ---------------------------------------------------------------------------
// HidMsg

namespace {

void is_type(Chip_Object* SELF, t_CPINT type, Chip_DL_Return* RETURN) {
  RETURN->v_int = load_int(SELF, HidMsg_offset_type) == type ? 1 : 0;
}

}  // namespace

void HidMsg_is_axis_motion(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  is_type(SELF, CP_HID_JOYSTICK_AXIS, RETURN);
}

void HidMsg_is_button_down(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  is_type(SELF, CP_HID_BUTTON_DOWN, RETURN);
}

void HidMsg_is_button_up(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  is_type(SELF, CP_HID_BUTTON_UP, RETURN);
}

void HidMsg_is_mouse_motion(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  is_type(SELF, CP_HID_MOUSE_MOTION, RETURN);
}

void HidMsg_is_hat_motion(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  is_type(SELF, CP_HID_JOYSTICK_HAT, RETURN);
}

void HidMsg_is_wheel_motion(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  is_type(SELF, CP_HID_MOUSE_WHEEL, RETURN);
}

void HidMsg_from_record(Chip_Object* m, const HidMsg& msg) {
  store_int(m, HidMsg_offset_device_type, msg.device_type);
  store_int(m, HidMsg_offset_device_num, msg.device_num);
  store_int(m, HidMsg_offset_type, msg.type);
  store_int(m, HidMsg_offset_which, msg.which);
  store_int(m, HidMsg_offset_idata, msg.idata[0]);
  store_member<t_CPFLOAT>(m, HidMsg_offset_fdata, msg.fdata[0]);
  store_int(m, HidMsg_offset_deltax, msg.idata[0]);
  store_int(m, HidMsg_offset_deltay, msg.idata[1]);
  store_int(m, HidMsg_offset_cursorx, msg.idata[2]);
  store_int(m, HidMsg_offset_cursory, msg.idata[3]);
  store_member<t_CPFLOAT>(m, HidMsg_offset_scaledcursorx, msg.fdata[0]);
  store_member<t_CPFLOAT>(m, HidMsg_offset_scaledcursory, msg.fdata[1]);
  store_int(m, HidMsg_offset_axis_position, msg.idata[0]);
  store_member<t_CPFLOAT>(m, HidMsg_offset_scaled_axis_position, msg.fdata[0]);
  store_member<t_CPFLOAT>(m, HidMsg_offset_axis_position2, msg.fdata[0]);
  store_int(m, HidMsg_offset_hat_position, msg.idata[0]);
  store_int(m, HidMsg_offset_key, msg.idata[1]);
  store_int(m, HidMsg_offset_ascii, msg.idata[2]);
  store_int(m, HidMsg_offset_x, msg.idata[0]);
  store_int(m, HidMsg_offset_y, msg.idata[1]);
  store_int(m, HidMsg_offset_z, msg.idata[2]);
}

void HidMsg_to_record(Chip_Object* m, HidMsg* msg) {
  msg->clear();
  msg->device_type = load_int(m, HidMsg_offset_device_type);
  msg->device_num = load_int(m, HidMsg_offset_device_num);
  msg->type = load_int(m, HidMsg_offset_type);
  msg->which = load_int(m, HidMsg_offset_which);
  msg->idata[0] = load_int(m, HidMsg_offset_idata);
}

// ---------------------------------------------------------------------------
// Hid

void HidIn_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  HidIn* hin = new HidIn;
  hin->SELF = dynamic_cast<Chip_Event*>(SELF);
  store_member<HidIn*>(SELF, HidIn_offset_data, hin);
}

void HidIn_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  HidIn* hin = hidin_of(SELF);
  if (!hin) return;  // constructor never ran
  store_member<HidIn*>(SELF, HidIn_offset_data, nullptr);
  delete hin;
}

void HidIn_open(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT type = GET_NEXT_INT(ARGS);
  t_CPINT num = GET_NEXT_INT(ARGS);
  open_device(SELF, type, num, RETURN);
}

void HidIn_open_joystick(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  open_device(SELF, CP_HID_DEV_JOYSTICK, GET_NEXT_INT(ARGS), RETURN);
}

void HidIn_open_mouse(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  open_device(SELF, CP_HID_DEV_MOUSE, GET_NEXT_INT(ARGS), RETURN);
}

void HidIn_open_keyboard(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  open_device(SELF, CP_HID_DEV_KEYBOARD, GET_NEXT_INT(ARGS), RETURN);
}

void HidIn_open_tiltsensor(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  open_device(SELF, CP_HID_DEV_TILTSENSOR, 0, RETURN);
}

void HidIn_good(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  HidIn* hin = hidin_of(SELF);
  RETURN->v_int = hin && hin->m_valid ? 1 : 0;
}

void HidIn_num(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  HidIn* hin = hidin_of(SELF);
  RETURN->v_int = hin && hin->m_valid ? static_cast<t_CPINT>(hin->m_num) : -1;
}

void HidIn_name(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  HidIn* hin = hidin_of(SELF);
  RETURN->v_object = new_string(hin ? hin->name() : " ", SHRED);
}

void HidIn_printerr(Chip_Object* SELF, void* ARGS, Chip_DL_Return*, Chip_VM_Shred*) {
  t_CPINT print_or_not = GET_NEXT_INT(ARGS);
  HidIn* hin = hidin_of(SELF);
  if (hin) hin->m_suppress_output = print_or_not == 0 ? TRUE : FALSE;
}

void HidIn_recv(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Object* msg_obj = GET_NEXT_OBJECT(ARGS);
  HidIn* hin = hidin_of(SELF);
  RETURN->v_int = 0;
  // Without a message object nothing is taken.
  if (!hin || !msg_obj) return;
  HidMsg msg;
  if (hin->recv(&msg)) {
    HidMsg_from_record(msg_obj, msg);
    RETURN->v_int = 1;
  }
}

void HidIn_read(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT type = GET_NEXT_INT(ARGS);
  t_CPINT which = GET_NEXT_INT(ARGS);
  Chip_Object* msg_obj = GET_NEXT_OBJECT(ARGS);
  HidIn* hin = hidin_of(SELF);
  RETURN->v_int = 0;
  if (!hin || !msg_obj) return;
  HidMsg msg;
  if (hin->read(type, which, &msg)) {
    HidMsg_from_record(msg_obj, msg);
    RETURN->v_int = 1;
  }
}

void HidIn_send(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Object* msg_obj = GET_NEXT_OBJECT(ARGS);
  HidIn* hin = hidin_of(SELF);
  RETURN->v_int = 0;
  if (!hin || !msg_obj) return;
  HidMsg msg;
  HidMsg_to_record(msg_obj, &msg);
  RETURN->v_int = hin->send(&msg) ? 1 : 0;
}

void HidIn_can_wait(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  HidIn* hin = hidin_of(SELF);
  RETURN->v_int = !hin || hin->empty() ? 1 : 0;
}

void HidIn_read_tilt_sensor(void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  Chip_Array4* result = new Chip_Array4(FALSE, 3);
  if (g_int_array_type && !initialize_object(result, g_int_array_type)) {
    delete result;
    throw std::bad_alloc();
  }
  result->add_ref();
  RETURN->v_object = result;

  if (!g_tilt_sensor_usable) return;
  if (!g_tilt_sensor) {
    g_tilt_sensor = new HidIn;
    if (!g_tilt_sensor->open(CP_HID_DEV_TILTSENSOR, 0)) {
      g_tilt_sensor_usable = FALSE;
      return;
    }
  }
  HidMsg msg;
  if (!g_tilt_sensor->read(CP_HID_ACCELEROMETER, 0, &msg)) return;
  for (t_CPWORD i = 0; i < 3; i++) {
    result->set(i, static_cast<t_CPUWORD>(static_cast<t_CPWORD>(msg.idata[i])));
  }
}

void HidIn_forget_tilt_sensor() {
  delete g_tilt_sensor;
  g_tilt_sensor = nullptr;
  g_tilt_sensor_usable = TRUE;
}

void HidIn_ctrl_tiltPollRate(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  t_CPDUR d = GET_NEXT_DUR(ARGS);
  if (!SHRED || !SHRED->vm_ref) {
    std::fprintf(stderr, "[chip](via HID): can't set tiltPollRate on NULL shred/VM...\n");
    RETURN->v_dur = 0.0;
    return;
  }
  const t_CPFLOAT rate = SHRED->vm_ref->srate();
  long usec = static_cast<long>(d / rate * 1000000.0);
  if (usec < 0) usec = 0;
  RETURN->v_dur = TiltSensor_setPollRate(usec) * rate / 1000000.0;
}

void HidIn_cget_tiltPollRate(void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  if (!SHRED || !SHRED->vm_ref) {
    std::fprintf(stderr, "[chip](via HID): can't get tiltPollRate on NULL shred/VM...\n");
    RETURN->v_dur = 0.0;
    return;
  }
  const t_CPFLOAT rate = SHRED->vm_ref->srate();
  RETURN->v_dur = TiltSensor_getPollRate() * rate / 1000000.0;
}

void HidIn_start_cursor_track(void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = Mouse_start_cursor_track() == 0 ? 1 : 0;
}

void HidIn_stop_cursor_track(void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = Mouse_stop_cursor_track() == 0 ? 1 : 0;
}
