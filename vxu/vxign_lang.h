// The script side of the integration store: the language classes VXIgn and
// VXign_Queue, declared by the module query vxign_query.
//
// VXIgn has only static functions over the store (Vexel_Integration::
// instance()): getFloat, setFloat, getInt, setInt (each setter answers the
// value read back after the write, its set callback having run) and
// callExternal. VXign_Queue is a handle on a named record queue of the store:
// its hidden "int" member "@me" (one pointer-wide word) holds the
// application-side VXign_Queue, or 0; register, hasMore, next,
// getFloatByName, getFloatByParamIndex and getInt work through it, and answer
// 0 (or do nothing) when it is 0. A null string argument is read as no key:
// the getters answer 0, the setters and callExternal do nothing (a setter
// still answers the value read back, 0), register leaves "@me" at 0. A broken
// queue contract (wrong member type, index out of range) answers 0.
//
// Threads: vxign_query runs once per process on the thread that starts the
// engine, registering into the engine's environment (chip_env()); every
// native runs on the machine's (audio) thread.
#ifndef VXU_VXIGN_LANG_H
#define VXU_VXIGN_LANG_H

#include "chip/chip.h"

struct Chip_Env;

// Byte offset of VXign_Queue's "@me" in an object's data; -1 until declared.
extern t_CPWORD vxign_queue_offset_me;

// The module's query (module name "VXIgn"): declares VXIgn, runs the store's
// extra registration functions, then declares VXign_Queue. FALSE on failure
// ("class import error!\n" on standard error when VXIgn fails).
t_CPBOOL vxign_query(Chip_DL_Query* QUERY);
// Declares VXign_Queue into env (part of vxign_query).
t_CPBOOL add_VXign_Queue_in_chip(Chip_Env* env);

// VXIgn's static functions (argument block, return slot, shred).
void getFloat_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void setFloat_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void getInt_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void setInt_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void callExternal_impl(void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);

// VXign_Queue's constructor and member functions.
void vxign_queue_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED);
void vxign_queue_register_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                               Chip_VM_Shred* SHRED);
void vxign_queue_hasMore_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                              Chip_VM_Shred* SHRED);
void vxign_queue_next_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                           Chip_VM_Shred* SHRED);
void vxign_queue_getFloatByName_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                                     Chip_VM_Shred* SHRED);
void vxign_queue_getFloatByParamIndex_impl(Chip_Object* SELF, void* ARGS,
                                           Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED);
void vxign_queue_getInt_impl(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN,
                             Chip_VM_Shred* SHRED);

#endif
