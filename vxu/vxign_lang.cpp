#include "vxu/vxign_lang.h"

#include <cstdio>

#include "chip/chip.h"
#include "vxu/vxign.h"

t_CPWORD vxign_queue_offset_me = FRAME_NO_OFFSET;

namespace {

// The key of a string argument; false for a null reference.
bool next_key(void*& cursor, const char** key) {
  Chip_String* s = GET_NEXT_STRING(cursor);
  if (!s) return false;
  *key = s->str.c_str();
  return true;
}

// The queue a VXign_Queue object names, or null.
VXign_Queue* queue_of(Chip_Object* self) {
  return frame_state<VXign_Queue>(self, vxign_queue_offset_me);
}

}  // namespace

// ---------------------------------------------------------------------------
// Registration

t_CPBOOL vxign_query(Chip_DL_Query* QUERY) {
  if (QUERY) QUERY->setname(QUERY, "VXIgn");
  Chip_Env* env = chip_env();
  if (!env) return FALSE;

  // VXIgn: the static functions, then the application's extra ones.
  bool declared =
      chip_class_begin(env, "VXIgn", "Object", nullptr, nullptr) &&
      frame_import_sfun(env, "float", "getFloat", getFloat_impl, {{"string", "key"}}) &&
      frame_import_sfun(env, "float", "setFloat", setFloat_impl,
                        {{"string", "key"}, {"float", "f"}}) &&
      frame_import_sfun(env, "int", "getInt", getInt_impl, {{"string", "key"}}) &&
      frame_import_sfun(env, "int", "setInt", setInt_impl, {{"string", "key"}, {"int", "i"}}) &&
      frame_import_sfun(env, "void", "callExternal", callExternal_impl, {{"string", "key"}}) &&
      Vexel_Integration::instance().vxign_register_extra_functions(env);
  if (!declared) {
    std::fprintf(stderr, "class import error!\n");
    chip_class_end(env);
    return FALSE;
  }
  if (!chip_class_end(env)) return FALSE;
  return add_VXign_Queue_in_chip(env);
}

t_CPBOOL add_VXign_Queue_in_chip(Chip_Env* env) {
  if (!chip_class_begin(env, "VXign_Queue", "Object", vxign_queue_ctor, nullptr)) {
    return FALSE;
  }
  t_CPWORD me = frame_import_state(env, "@me");
  if (me == FRAME_NO_OFFSET) return frame_fail(env);
  vxign_queue_offset_me = me;
  if (!frame_import_mfun(env, "void", "register", vxign_queue_register_impl,
                         {{"string", "queueName"}}) ||
      !frame_import_mfun(env, "int", "hasMore", vxign_queue_hasMore_impl) ||
      !frame_import_mfun(env, "void", "next", vxign_queue_next_impl) ||
      !frame_import_mfun(env, "float", "getFloatByName", vxign_queue_getFloatByName_impl,
                         {{"string", "key"}}) ||
      !frame_import_mfun(env, "float", "getFloatByParamIndex",
                         vxign_queue_getFloatByParamIndex_impl, {{"int", "index"}}) ||
      !frame_import_mfun(env, "int", "getInt", vxign_queue_getInt_impl, {{"string", "key"}})) {
    return frame_fail(env);
  }
  return chip_class_end(env);
}

// ---------------------------------------------------------------------------
// VXIgn

void getFloat_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  const char* key;
  RETURN->v_float = next_key(ARGS, &key) ? Vexel_Integration::instance().get_float(key) : 0.0;
}

void setFloat_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  const char* key;
  bool has_key = next_key(ARGS, &key);
  t_CPFLOAT f = GET_NEXT_FLOAT(ARGS);
  if (!has_key) {
    RETURN->v_float = 0.0;
    return;
  }
  Vexel_Integration& store = Vexel_Integration::instance();
  store.set_float(key, f);
  RETURN->v_float = store.get_float(key);
}

void getInt_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  const char* key;
  RETURN->v_int = next_key(ARGS, &key) ? Vexel_Integration::instance().get_int(key) : 0;
}

void setInt_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  const char* key;
  bool has_key = next_key(ARGS, &key);
  t_CPINT i = GET_NEXT_INT(ARGS);
  if (!has_key) {
    RETURN->v_int = 0;
    return;
  }
  Vexel_Integration& store = Vexel_Integration::instance();
  store.set_int(key, i);
  RETURN->v_int = store.get_int(key);
}

void callExternal_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)RETURN;
  (void)SHRED;
  const char* key;
  if (next_key(ARGS, &key)) Vexel_Integration::instance().call_external(key);
}

// ---------------------------------------------------------------------------
// VXign_Queue

void vxign_queue_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  frame_set_state<VXign_Queue>(SELF, vxign_queue_offset_me, nullptr);
}

void vxign_queue_register_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                               Chip_VM_Shred* SHRED) {
  (void)RETURN;
  (void)SHRED;
  const char* name;
  VXign_Queue* queue =
      next_key(ARGS, &name) ? Vexel_Integration::instance().lookup_queue(name) : nullptr;
  frame_set_state(SELF, vxign_queue_offset_me, queue);
}

void vxign_queue_hasMore_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                              Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  VXign_Queue* queue = queue_of(SELF);
  RETURN->v_int = queue && queue->has_more() ? 1 : 0;
}

void vxign_queue_next_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)RETURN;
  (void)SHRED;
  if (VXign_Queue* queue = queue_of(SELF)) queue->next();
}

void vxign_queue_getFloatByName_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                                     Chip_VM_Shred* SHRED) {
  (void)SHRED;
  VXign_Queue* queue = queue_of(SELF);
  const char* key;
  RETURN->v_float = queue && next_key(ARGS, &key) ? queue->get_float_by_name(key) : 0.0;
}

void vxign_queue_getFloatByParamIndex_impl(Chip_Object* SELF, void* ARGS,
                                           Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  VXign_Queue* queue = queue_of(SELF);
  t_CPINT index = GET_NEXT_INT(ARGS);
  RETURN->v_float = queue ? queue->get_float_by_param_index(index) : 0.0;
}

void vxign_queue_getInt_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                             Chip_VM_Shred* SHRED) {
  (void)SHRED;
  VXign_Queue* queue = queue_of(SELF);
  const char* key;
  RETURN->v_int = queue && next_key(ARGS, &key) ? queue->get_int(key) : 0;
}
