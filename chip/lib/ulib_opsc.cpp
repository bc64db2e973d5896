// The Open Sound Control module "opsc": OscSend, OscRecv, OscEvent.
#include "chip/lib/ulib_opsc.h"

#include <algorithm>
#include <string>
#include <vector>

#include "chip/lib/util_opsc.h"
#include "chip/types/chip_import.h"
#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/ugen_frame.h"

t_CPWORD osc_send_offset_data = FRAME_NO_OFFSET;
t_CPWORD osc_recv_offset_data = FRAME_NO_OFFSET;
t_CPWORD osc_address_offset_data = FRAME_NO_OFFSET;
Chip_Type* osc_addr_type_ptr = nullptr;

namespace {

const char* text_of(Chip_String* s) { return s ? s->str.c_str() : nullptr; }

OSC_Transmitter* sender_of(Chip_Object* self) {
  return frame_state<OSC_Transmitter>(self, osc_send_offset_data);
}

OSC_Receiver* receiver_of(Chip_Object* self) {
  return frame_state<OSC_Receiver>(self, osc_recv_offset_data);
}

OSC_Address_Space* space_of(Chip_Object* self) {
  return self ? frame_state<OSC_Address_Space>(self, osc_address_offset_data) : nullptr;
}

bool port_in_range(t_CPINT port) {
  if (port >= 0 && port <= 65535) return true;
  EM_printf("[chip](via OSC): port %d outside 0..65535\n", (int)port);
  return false;
}

// ---------------------------------------------------------------------------
// OscSend

void OscSend_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  frame_set_state(SELF, osc_send_offset_data, new OSC_Transmitter);
}

void OscSend_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  delete frame_take_state<OSC_Transmitter>(SELF, osc_send_offset_data);
}

void OscSend_setHost(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  const char* host = text_of(GET_NEXT_STRING(ARGS));
  t_CPINT port = GET_NEXT_INT(ARGS);
  RETURN->v_int = 0;
  if (!host) {
    EM_printf("[chip](via OSC): OscSend.setHost: null host\n");
    return;
  }
  if (!port_in_range(port)) return;
  sender_of(SELF)->setHost(host, port);
}

void OscSend_startMsg(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  const char* address = text_of(GET_NEXT_STRING(ARGS));
  const char* args = text_of(GET_NEXT_STRING(ARGS));
  sender_of(SELF)->startMessage(address, args);
  RETURN->v_int = 0;
}

void OscSend_startMsg_spec(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  sender_of(SELF)->startMessage(text_of(GET_NEXT_STRING(ARGS)));
  RETURN->v_int = 0;
}

void OscSend_addInt(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  sender_of(SELF)->addInt(GET_NEXT_INT(ARGS));
  RETURN->v_int = 0;
}

void OscSend_addFloat(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  sender_of(SELF)->addFloat(static_cast<float>(GET_NEXT_FLOAT(ARGS)));
  RETURN->v_float = 0.0;
}

void OscSend_addString(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  sender_of(SELF)->addString(text_of(GET_NEXT_STRING(ARGS)));
  RETURN->v_string = nullptr;
}

void OscSend_openBundle(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  // The time is not used: bundles are delivered at once.
  sender_of(SELF)->openBundle(OSCTT_Immediately());
  RETURN->v_int = 0;
}

void OscSend_closeBundle(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  sender_of(SELF)->closeBundle();
  RETURN->v_int = 0;
}

void OscSend_hold(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  sender_of(SELF)->holdMessage(GET_NEXT_INT(ARGS) != 0);
  RETURN->v_int = 0;
}

void OscSend_kick(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  sender_of(SELF)->kickMessage();
  RETURN->v_int = 0;
}

// ---------------------------------------------------------------------------
// OscEvent

void OscEvent_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  OSC_Address_Space* space = new OSC_Address_Space;
  space->set_event(static_cast<Chip_Event*>(SELF));
  // A constructor that runs again (a subclass's) replaces the space.
  delete frame_take_state<OSC_Address_Space>(SELF, osc_address_offset_data);
  frame_set_state(SELF, osc_address_offset_data, space);
}

void OscEvent_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  // The space leaves its receiver: no listener reaches this event again.
  delete frame_take_state<OSC_Address_Space>(SELF, osc_address_offset_data);
}

void OscEvent_set(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  const char* spec = text_of(GET_NEXT_STRING(ARGS));
  if (!spec) EM_printf("[chip](via OSC): OscEvent.set: null spec\n");
  space_of(SELF)->setSpec(spec);
  RETURN->v_int = 0;
}

void OscEvent_hasMsg(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = space_of(SELF)->has_mesg() ? 1 : 0;
}

void OscEvent_nextMsg(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = space_of(SELF)->next_mesg() ? 1 : 0;
}

void OscEvent_getInt(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = space_of(SELF)->next_int();
}

void OscEvent_getFloat(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_float = space_of(SELF)->next_float();
}

void OscEvent_getString(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  std::string text;
  space_of(SELF)->next_string(&text);
  Chip_Object* object = instantiate_and_initialize_object(&t_string, SHRED);
  if (object) static_cast<Chip_String*>(object)->str = text;
  RETURN->v_string = static_cast<Chip_String*>(object);
}

void OscEvent_can_wait(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  RETURN->v_int = space_of(SELF)->has_mesg() ? 0 : 1;
}

// ---------------------------------------------------------------------------
// OscRecv

void OscRecv_ctor(Chip_Object* SELF, void*, Chip_VM_Shred*) {
  frame_set_state(SELF, osc_recv_offset_data, new OSC_Receiver);
}

void OscRecv_dtor(Chip_Object* SELF, Chip_VM_Shred*) {
  delete frame_take_state<OSC_Receiver>(SELF, osc_recv_offset_data);
}

void OscRecv_port(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT port = GET_NEXT_INT(ARGS);
  if (port_in_range(port)) receiver_of(SELF)->bind_to_port(port);
  RETURN->v_int = 0;
}

// Listens on the receiver's port; 1 when it does.
t_CPINT listen_now(OSC_Receiver* receiver, t_CPINT port) {
  if (port < 0) {
    EM_printf("[chip](via OSC): OscRecv.listen: no port set\n");
    return 0;
  }
  if (receiver->listen(port)) return 1;
  EM_printf("[chip](via OSC): cannot listen on port %d\n", (int)port);
  return 0;
}

void OscRecv_listen_port(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  t_CPINT port = GET_NEXT_INT(ARGS);
  RETURN->v_int = port_in_range(port) ? listen_now(receiver_of(SELF), port) : 0;
}

void OscRecv_listen(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  OSC_Receiver* receiver = receiver_of(SELF);
  RETURN->v_int = listen_now(receiver, receiver->listen_port());
}

void OscRecv_stop(Chip_Object* SELF, void*, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  receiver_of(SELF)->stopListening();
  RETURN->v_int = 0;
}

void OscRecv_add_address(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  OSC_Address_Space* space = space_of(GET_NEXT_OBJECT(ARGS));
  if (space) {
    receiver_of(SELF)->add_address(space);
  } else {
    EM_printf("[chip](via OSC): OscRecv.add_address: null event\n");
  }
  RETURN->v_int = 0;
}

void OscRecv_remove_address(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred*) {
  OSC_Address_Space* space = space_of(GET_NEXT_OBJECT(ARGS));
  if (space) receiver_of(SELF)->remove_address(space);
  RETURN->v_int = 0;
}

// A new OscEvent as a script's `new` makes it: the native constructors of
// its classes, base first. Null after the machine's message.
Chip_Object* new_osc_event(Chip_VM_Shred* shred) {
  if (!osc_addr_type_ptr) return nullptr;
  Chip_Object* object = instantiate_and_initialize_object(osc_addr_type_ptr, shred);
  if (!object) return nullptr;
  std::vector<Chip_Type*> chain;
  for (Chip_Type* t = osc_addr_type_ptr; t; t = t->parent) chain.push_back(t);
  std::reverse(chain.begin(), chain.end());
  for (Chip_Type* t : chain) {
    Chip_VM_Code* ctor = t->info ? t->info->pre_ctor : nullptr;
    if (!ctor || ctor->native_func_type != Chip_VM_Code::NATIVE_CTOR) continue;
    reinterpret_cast<f_ctor>(ctor->native_func)(object, nullptr, shred);
  }
  return object;
}

// The event for a spec made of one text or of an address and a type list.
void make_event(Chip_Object* self, const char* address, const char* types, bool split,
                Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  RETURN->v_object = nullptr;
  if (!address || (split && !types)) {
    EM_printf("[chip](via OSC): OscRecv.event: null address or type list\n");
    return;
  }
  Chip_Object* event = new_osc_event(SHRED);
  OSC_Address_Space* space = space_of(event);
  if (!space) return;
  if (split) {
    space->setSpec(address, types);
  } else {
    space->setSpec(address);
  }
  receiver_of(self)->add_address(space);
  RETURN->v_object = event;
}

void OscRecv_event_spec(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                        Chip_VM_Shred* SHRED) {
  make_event(SELF, text_of(GET_NEXT_STRING(ARGS)), nullptr, false, RETURN, SHRED);
}

void OscRecv_event(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  const char* address = text_of(GET_NEXT_STRING(ARGS));
  const char* types = text_of(GET_NEXT_STRING(ARGS));
  make_event(SELF, address, types, true, RETURN, SHRED);
}

// ---------------------------------------------------------------------------
// Registration

struct Osc_Func {
  const char* type;
  const char* name;
  f_mfun fn;
  Frame_Arg args[2];
};

const Osc_Func kSendFuncs[] = {
    {"int", "setHost", OscSend_setHost, {{"string", "address"}, {"int", "port"}}},
    {"int", "startMsg", OscSend_startMsg, {{"string", "address"}, {"string", "args"}}},
    {"int", "startMsg", OscSend_startMsg_spec, {{"string", "spec"}, {}}},
    {"int", "addInt", OscSend_addInt, {{"int", "value"}, {}}},
    {"float", "addFloat", OscSend_addFloat, {{"float", "value"}, {}}},
    {"string", "addString", OscSend_addString, {{"string", "value"}, {}}},
    {"int", "openBundle", OscSend_openBundle, {{"time", "value"}, {}}},
    {"int", "closeBundle", OscSend_closeBundle, {{}, {}}},
    {"int", "hold", OscSend_hold, {{"int", "on"}, {}}},
    {"int", "kick", OscSend_kick, {{}, {}}},
};

const Osc_Func kEventFuncs[] = {
    {"int", "set", OscEvent_set, {{"string", "addr"}, {}}},
    {"int", "hasMsg", OscEvent_hasMsg, {{}, {}}},
    {"int", "nextMsg", OscEvent_nextMsg, {{}, {}}},
    {"int", "getInt", OscEvent_getInt, {{}, {}}},
    {"float", "getFloat", OscEvent_getFloat, {{}, {}}},
    {"string", "getString", OscEvent_getString, {{}, {}}},
    {"int", "can_wait", OscEvent_can_wait, {{}, {}}},
};

const Osc_Func kRecvFuncs[] = {
    {"int", "port", OscRecv_port, {{"int", "port"}, {}}},
    {"int", "listen", OscRecv_listen_port, {{"int", "port"}, {}}},
    {"int", "listen", OscRecv_listen, {{}, {}}},
    {"int", "stop", OscRecv_stop, {{}, {}}},
    {"int", "add_address", OscRecv_add_address, {{"OscEvent", "addr"}, {}}},
    {"int", "remove_address", OscRecv_remove_address, {{"OscEvent", "addr"}, {}}},
    {"OscEvent", "event", OscRecv_event_spec, {{"string", "spec"}, {}}},
    {"OscEvent", "event", OscRecv_event, {{"string", "address"}, {"string", "type"}}},
    {"OscEvent", "address", OscRecv_event_spec, {{"string", "spec"}, {}}},
    {"OscEvent", "address", OscRecv_event, {{"string", "address"}, {"string", "type"}}},
};

// The failure path after a class was begun.
t_CPBOOL import_error(Chip_Env* env) {
  EM_printf("class import error!\n");
  return frame_fail(env);
}

template <size_t N>
t_CPBOOL import_funcs(Chip_Env* env, const Osc_Func (&funcs)[N]) {
  for (const Osc_Func& f : funcs) {
    Chip_DL_Func* func = make_new_mfun(f.type, f.name, f.fn);
    for (const Frame_Arg& arg : f.args) {
      if (arg.type) func->add_arg(arg.type, arg.name);
    }
    t_CPBOOL ok = type_engine_import_mfun(env, func);
    delete func;
    if (!ok) return FALSE;
  }
  return TRUE;
}

// Begins a class with its hidden member; FALSE as the query must answer.
t_CPBOOL import_class(Chip_Env* env, const char* name, const char* parent, f_ctor ctor, f_dtor dtor,
                      const char* member, t_CPWORD* offset, Chip_Type** type,
                      t_CPBOOL (*funcs)(Chip_Env*)) {
  Chip_Type* begun = type_engine_import_class_begin(env, name, parent, env->global(), ctor, dtor);
  if (!begun) return FALSE;
  t_CPWORD at = frame_import_state(env, member);
  if (at == FRAME_NO_OFFSET) return import_error(env);
  *offset = at;
  if (type) *type = begun;
  if (!funcs(env)) return import_error(env);
  return type_engine_import_class_end(env);
}

}  // namespace

t_CPBOOL opensoundcontrol_query(Chip_DL_Query* QUERY) {
  Chip_Env* env = Chip_Env::instance();
  QUERY->setname(QUERY, "opsc");
  if (!import_class(env, "OscSend", "Object", OscSend_ctor, OscSend_dtor, "@OscSend_data",
                    &osc_send_offset_data, nullptr,
                    [](Chip_Env* e) { return import_funcs(e, kSendFuncs); })) {
    return FALSE;
  }
  if (!import_class(env, "OscEvent", "Event", OscEvent_ctor, OscEvent_dtor, "@OscEvent_Data",
                    &osc_address_offset_data, &osc_addr_type_ptr,
                    [](Chip_Env* e) { return import_funcs(e, kEventFuncs); })) {
    return FALSE;
  }
  return import_class(env, "OscRecv", "Object", OscRecv_ctor, OscRecv_dtor, "@OscRecv_data",
                      &osc_recv_offset_data, nullptr,
                      [](Chip_Env* e) { return import_funcs(e, kRecvFuncs); });
}
