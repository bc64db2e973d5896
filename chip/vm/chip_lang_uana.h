// The analysis classes UAna and UAnaBlob, the accessor of an analyser's
// results, and the device-input classes HidMsg and Hid.
//
// An analyser (UAna, a Chip_UAna node) keeps its results in a UAnaBlob
// object: the time of its last analysis frame ("m_when"), a float array
// ("m_fvals") and a complex array ("m_cvals"). Native code reaches the blob
// through a Chip_UAnaBlobProxy, which holds one reference to it; the proxy
// sits in the analyser's hidden member "@m_blob" (a pointer-wide word no
// script can name: a script-visible member of object type would hand
// scripts an engine pointer dressed as an object). Scripts reach the blob
// through upchip(), which brings the analysis up to date first, and through
// fvals/cvals/fval/cval. Only a class with a tock makes Chip_UAna nodes; a
// plain UAna object is a Chip_UGen node (is_uana 0) that has a blob but
// never analyses, so the natives read the node as an analyser only when
// is_uana says it is one.
//
// Hid is the language face of the device-input layer (hidio.h): each Hid
// object owns one HidIn reader in its hidden member "@Hid_data"; HidMsg is a
// plain object whose members receive a device message. The old class name
// "HidIn" is a deprecated alias of "Hid".
//
// Registration: init_class_blob (before init_class_uana) and init_class_uana
// run while the type system starts; init_class_HID when the compiler loads
// its internal modules. Each records the byte offsets of its members in the
// process-wide words below (-1 until registered) and answers FALSE, after
// closing its class, when an import step fails.
//
// Argument and member widths: an int or a reference is one word, float,
// time and dur are doubles, complex two doubles.
//
// Threads: registration runs on the thread that starts the engine; the
// native functions on the machine's thread.
#ifndef CHIP_CHIP_LANG_UANA_H
#define CHIP_CHIP_LANG_UANA_H

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_oo.h"

struct Chip_Env;
struct Chip_Type;
struct Chip_UAna;
struct Chip_VM_Shred;
struct HidMsg;

// ---------------------------------------------------------------------------
// Member offsets (bytes into an object's data; -1 until registered).
extern t_CPWORD uana_offset_blob;  // UAna "@m_blob": the proxy
extern t_CPWORD uanablob_offset_when;
extern t_CPWORD uanablob_offset_fvals;
extern t_CPWORD uanablob_offset_cvals;

extern t_CPWORD HidMsg_offset_device_type;
extern t_CPWORD HidMsg_offset_device_num;
extern t_CPWORD HidMsg_offset_type;
extern t_CPWORD HidMsg_offset_which;
extern t_CPWORD HidMsg_offset_idata;
extern t_CPWORD HidMsg_offset_fdata;
extern t_CPWORD HidMsg_offset_when;
extern t_CPWORD HidMsg_offset_deltax;
extern t_CPWORD HidMsg_offset_deltay;
extern t_CPWORD HidMsg_offset_cursorx;
extern t_CPWORD HidMsg_offset_cursory;
extern t_CPWORD HidMsg_offset_scaledcursorx;
extern t_CPWORD HidMsg_offset_scaledcursory;
extern t_CPWORD HidMsg_offset_x;
extern t_CPWORD HidMsg_offset_y;
extern t_CPWORD HidMsg_offset_z;
extern t_CPWORD HidMsg_offset_axis_position;
extern t_CPWORD HidMsg_offset_axis_position2;  // "axisPosition"
extern t_CPWORD HidMsg_offset_hat_position;
extern t_CPWORD HidMsg_offset_ascii;
extern t_CPWORD HidMsg_offset_key;
extern t_CPWORD HidMsg_offset_scaled_axis_position;

extern t_CPWORD HidIn_offset_data;  // Hid "@Hid_data": the HidIn

// ---------------------------------------------------------------------------
// Accessor of one analyser's result object (a UAnaBlob), of which it holds
// one reference (taken on construction, given back by the destructor).
struct Chip_UAnaBlobProxy {
  explicit Chip_UAnaBlobProxy(Chip_Object* blob);
  virtual ~Chip_UAnaBlobProxy();

  Chip_UAnaBlobProxy(const Chip_UAnaBlobProxy&) = delete;
  Chip_UAnaBlobProxy& operator=(const Chip_UAnaBlobProxy&) = delete;

  // Time of the last analysis, in samples.
  t_CPTIME& when();
  // The blob's float and complex result arrays (engine fault when unset).
  Chip_Array8& fvals();
  Chip_Array16& cvals();

  Chip_Object* m_blob;
};

// The proxy held in the analyser's "@m_blob" member, or NULL (UAna not
// registered, or an analyser whose constructor did not run).
Chip_UAnaBlobProxy* getBlobProxy(const Chip_UAna* uana);

// ---------------------------------------------------------------------------
// Registration.
t_CPBOOL init_class_blob(Chip_Env* env, Chip_Type* type);
// Also gives the type the unit-generator description of a plain UGen
// (__ugen_tick, 1 in, 1 out, 1 analysis in and out, no tock).
t_CPBOOL init_class_uana(Chip_Env* env, Chip_Type* type);
// HidMsg, the deprecation "HidIn" -> "Hid", then Hid, in the global
// namespace.
t_CPBOOL init_class_HID(Chip_Env* env);

// ---------------------------------------------------------------------------
// UAnaBlob
// "m_when" 0, "m_fvals" a new float[] and "m_cvals" a new complex[] of 8
// zero elements each, one reference held by the blob.
void uanablob_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
// Releases both arrays and clears the members.
void uanablob_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
void uanablob_when(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void uanablob_fvals(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void uanablob_cvals(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// Element `index` (one int argument); 0.0 / (0, 0) out of range.
void uanablob_fval(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void uanablob_cval(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// UAna
// Makes the analyser's blob (constructed) and its proxy in "@m_blob".
void uana_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
// Deletes the proxy (giving back its blob reference) and clears "@m_blob".
void uana_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
// The blob, after bringing the analysis up to the shred's machine's now
// (channels first). Not set without a shred or machine (reported).
void uana_upchip(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void uana_fvals(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void uana_cvals(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void uana_fval(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void uana_cval(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// isUpConnectedTo(UAna right): right takes SELF as an incoming analyser.
void uana_connected(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// ---------------------------------------------------------------------------
// HidMsg predicates ("type" compared with a message type).
void HidMsg_is_axis_motion(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);
void HidMsg_is_button_down(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);
void HidMsg_is_button_up(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                         Chip_VM_Shred* SHRED);
void HidMsg_is_mouse_motion(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                            Chip_VM_Shred* SHRED);
void HidMsg_is_hat_motion(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                          Chip_VM_Shred* SHRED);
void HidMsg_is_wheel_motion(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                            Chip_VM_Shred* SHRED);

// Spreads a device message over a HidMsg object's members ("when" is left
// alone), and builds a record from its first five members (the rest zero).
void HidMsg_from_record(Chip_Object* msg_obj, const HidMsg& msg);
void HidMsg_to_record(Chip_Object* msg_obj, HidMsg* msg);

// ---------------------------------------------------------------------------
// Hid
// A new HidIn owned by the object, with the object as its owner event.
void HidIn_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
// Deletes the HidIn and clears "@Hid_data".
void HidIn_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED);
void HidIn_open(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_open_joystick(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                         Chip_VM_Shred* SHRED);
void HidIn_open_mouse(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_open_keyboard(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                         Chip_VM_Shred* SHRED);
void HidIn_open_tiltsensor(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);
void HidIn_good(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_num(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_name(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_printerr(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_recv(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_read(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_send(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_can_wait(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// Static: int[3] of the tilt sensor's accelerometer (zeros without one),
// returned with one reference taken.
void HidIn_read_tilt_sensor(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_ctrl_tiltPollRate(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_cget_tiltPollRate(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_start_cursor_track(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void HidIn_stop_cursor_track(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
// Forgets the process-wide tilt-sensor reader of readTiltSensor (deleted),
// so the next call tries the sensor again. For shutdown and tests.
void HidIn_forget_tilt_sensor();

#endif
