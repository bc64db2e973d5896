// Module interface: unit-generator descriptions, module records, the
// registration operations, module binding and the guarded native calls.
#include "chip/vm/chip_dl.h"

#include <exception>
#include <new>
#include <stdexcept>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_vm.h"
#include "chip/vm/digiio_device.h"

Chip_UGen_Info::Chip_UGen_Info()
    : tick(nullptr),
      pmsg(nullptr),
      num_ins(1),
      num_outs(1),
      tock(nullptr),
      num_ins_ana(1),
      num_outs_ana(1),
      tick_v(nullptr),
      block(0) {}

Chip_UGen_Info::~Chip_UGen_Info() = default;

// ---------------------------------------------------------------------------
// Records

Chip_DL_Value::Chip_DL_Value(const std::string& type, const std::string& name,
                             unsigned long is_const, void* addr)
    : name(name), type(type), is_const(is_const), addr(addr) {}

Chip_DL_Func::Chip_DL_Func(const std::string& type, const std::string& name, void* addr)
    : name(name), type(type), addr(addr) {}

Chip_DL_Func::~Chip_DL_Func() {
  for (Chip_DL_Value* arg : args) delete arg;
}

void Chip_DL_Func::add_arg(const std::string& arg_type, const std::string& arg_name) {
  args.push_back(new Chip_DL_Value(arg_type, arg_name));
}

Chip_DL_Class::Chip_DL_Class(const std::string& name, const std::string& parent)
    : name(name), parent(parent), dtor(nullptr), ugen_tick(nullptr), ugen_pmsg(nullptr) {}

Chip_DL_Class::~Chip_DL_Class() {
  for (Chip_DL_Func* f : ctors) delete f;
  delete dtor;
  for (Chip_DL_Func* f : mfuns) delete f;
  for (Chip_DL_Func* f : sfuns) delete f;
  for (Chip_DL_Value* v : mvars) delete v;
  for (Chip_DL_Value* v : svars) delete v;
  for (Chip_DL_Ctrl* c : ugen_ctrl) delete c;
  for (Chip_DL_Class* c : classes) delete c;
}

Chip_DL_Func* make_new_mfun(const char* type, const char* name, f_mfun mfun) {
  return new Chip_DL_Func(type, name, reinterpret_cast<void*>(mfun));
}

Chip_DL_Func* make_new_sfun(const char* type, const char* name, f_sfun sfun) {
  return new Chip_DL_Func(type, name, reinterpret_cast<void*>(sfun));
}

// ---------------------------------------------------------------------------
// Registration operations

namespace {

// The class the operation needs, or null after reporting
// "class import: <op> invoked without begin_class...".
Chip_DL_Class* open_class(Chip_DL_Query* query, const char* op) {
  if (!query->curr_class) {
    EM_error2(0, "class import: %s invoked without begin_class...", op);
  }
  return query->curr_class;
}

}  // namespace

void cp_setname(Chip_DL_Query* query, const char* name) { query->name = name ? name : ""; }

void cp_begin_class(Chip_DL_Query* query, const char* name, const char* parent) {
  query->stack.push_back(query->curr_class);
  Chip_DL_Class* c = new Chip_DL_Class(name ? name : "", parent ? parent : "");
  if (query->curr_class) {
    query->curr_class->classes.push_back(c);
  } else {
    query->classes.push_back(c);
  }
  query->curr_class = c;
  query->curr_func = nullptr;
}

void cp_add_ctor(Chip_DL_Query* query, f_ctor ctor) {
  Chip_DL_Class* c = open_class(query, "add_ctor");
  if (!c) return;
  Chip_DL_Func* f = new Chip_DL_Func("void", "[ctor]", reinterpret_cast<void*>(ctor));
  c->ctors.push_back(f);
  query->curr_func = f;
}

void cp_add_dtor(Chip_DL_Query* query, f_dtor dtor) {
  Chip_DL_Class* c = open_class(query, "add_dtor");
  if (!c) return;
  if (c->dtor) {
    EM_error2(0, "class import: multiple dtor added ...");
    return;
  }
  c->dtor = new Chip_DL_Func("void", "[dtor]", reinterpret_cast<void*>(dtor));
  query->curr_func = nullptr;
}

void cp_add_mfun(Chip_DL_Query* query, f_mfun mfun, const char* type, const char* name) {
  Chip_DL_Class* c = open_class(query, "add_mfun");
  if (!c) return;
  Chip_DL_Func* f = make_new_mfun(type, name, mfun);
  c->mfuns.push_back(f);
  query->curr_func = f;
}

void cp_add_sfun(Chip_DL_Query* query, f_sfun sfun, const char* type, const char* name) {
  Chip_DL_Class* c = open_class(query, "add_sfun");
  if (!c) return;
  Chip_DL_Func* f = make_new_sfun(type, name, sfun);
  c->sfuns.push_back(f);
  query->curr_func = f;
}

void cp_add_mvar(Chip_DL_Query* query, const char* type, const char* name,
                 unsigned long is_const) {
  Chip_DL_Class* c = open_class(query, "add_mvar");
  if (!c) return;
  c->mvars.push_back(new Chip_DL_Value(type, name, is_const));
  query->curr_func = nullptr;
}

void cp_add_svar(Chip_DL_Query* query, const char* type, const char* name, unsigned long is_const,
                 void* addr) {
  Chip_DL_Class* c = open_class(query, "add_svar");
  if (!c) return;
  c->svars.push_back(new Chip_DL_Value(type, name, is_const, addr));
  query->curr_func = nullptr;
}

void cp_add_arg(Chip_DL_Query* query, const char* type, const char* name) {
  if (!open_class(query, "add_arg")) return;
  if (!query->curr_func) {
    EM_error2(0, "class import: add_arg can only follow 'ctor', 'mfun', 'sfun', 'arg'...");
    return;
  }
  query->curr_func->add_arg(type, name);
}

void cp_add_ugen_func(Chip_DL_Query* query, f_tick tick, f_pmsg pmsg) {
  Chip_DL_Class* c = open_class(query, "add_ugen_func");
  if (!c) return;
  if (tick && c->ugen_tick) {
    EM_error2(0, "class import: ugen_tick already defined...");
    return;
  }
  if (pmsg && c->ugen_pmsg) {
    EM_error2(0, "class import: ugen_pmsg already defined...");
    return;
  }
  if (tick) c->ugen_tick = tick;
  if (pmsg) c->ugen_pmsg = pmsg;
  query->curr_func = nullptr;
}

void cp_add_ugen_ctrl(Chip_DL_Query* query, f_ctrl, f_cget, const char*, const char*) {
  // Controls are imported as ordinary member functions: nothing is recorded.
  if (!open_class(query, "add_ugen_ctrl")) return;
  query->curr_func = nullptr;
}

unsigned long cp_end_class(Chip_DL_Query* query) {
  if (!query->curr_class) {
    EM_error2(0, "class import: end_class invoked without begin_class...");
    return FALSE;
  }
  query->curr_class = query->stack.back();
  query->stack.pop_back();
  query->curr_func = nullptr;
  return TRUE;
}

// ---------------------------------------------------------------------------
// Query record

Chip_DL_Query::Chip_DL_Query()
    : setname(cp_setname),
      begin_class(cp_begin_class),
      add_ctor(cp_add_ctor),
      add_dtor(cp_add_dtor),
      add_mfun(cp_add_mfun),
      add_sfun(cp_add_sfun),
      add_mvar(cp_add_mvar),
      add_svar(cp_add_svar),
      add_arg(cp_add_arg),
      add_ugen_func(cp_add_ugen_func),
      add_ugen_ctrl(cp_add_ugen_ctrl),
      end_class(cp_end_class),
      curr_class(nullptr),
      curr_func(nullptr),
      name("[noname]"),
      srate(Digitalio::sampling_rate()),
      bufsize(Digitalio::buffer_size()) {}

Chip_DL_Query::~Chip_DL_Query() { clear(); }

void Chip_DL_Query::clear() {
  name = "[noname]";
  for (Chip_DL_Class* c : classes) delete c;
  classes.clear();
  // Whatever was left open went with its top-level class.
  stack.clear();
  curr_class = nullptr;
  curr_func = nullptr;
}

// ---------------------------------------------------------------------------
// Modules

Chip_DLL::Chip_DLL(const std::string& id)
    : m_handle(nullptr),
      m_filename(id),
      m_id(id),
      m_func("cp_query"),
      m_done_query(FALSE),
      m_query_func(nullptr) {}

Chip_DLL::~Chip_DLL() {
  if (m_handle || m_query_func) unload();
  m_query.clear();
}

t_CPBOOL Chip_DLL::load(f_ck_query query_func, t_CPBOOL lazy) {
  m_query_func = query_func;
  m_done_query = FALSE;
  m_func = "cp_query";
  if (lazy) return TRUE;
  return query() != nullptr;
}

Chip_DL_Query* Chip_DLL::query() {
  if (!m_handle && !m_query_func) {
    m_last_error = "dynamic link library not loaded for query...";
    return nullptr;
  }
  if (m_done_query) return &m_query;
  if (!m_query_func) {
    // Only a library handle could get here, and none is ever opened: the
    // symbol lookup has nothing to search.
    m_last_error = "no query function found in dll '" + m_filename + "'";
    return nullptr;
  }
  m_query.clear();
  if (!m_query_func(&m_query)) {
    m_last_error = "unsuccessful query in dll '" + m_filename + "'";
    return nullptr;
  }
  m_done_query = TRUE;
  return &m_query;
}

t_CPBOOL Chip_DLL::unload() {
  if (!m_handle && !m_query_func) {
    m_last_error = "cannot unload dynamic library - nothing open...";
    return FALSE;
  }
  m_handle = nullptr;
  m_query_func = nullptr;
  return TRUE;
}

// ---------------------------------------------------------------------------
// Guarded native calls

namespace {

// The text of the exception being handled.
const char* fault_text() {
  try {
    throw;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

// Whether the exception being handled is a failed allocation.
bool out_of_memory() {
  try {
    throw;
  } catch (const std::bad_alloc&) {
    return true;
  } catch (const std::length_error&) {
    return true;
  } catch (...) {
    return false;
  }
}

// A throwing function of a shred: reported, the shred stopped. A failed
// allocation is the shred's OutOfMemory.
void shred_fault(Chip_VM_Shred* shred, const char* what) {
  if (shred && out_of_memory()) {
    chip_out_of_memory(shred);
    return;
  }
  if (shred) {
    chip_runtime_exception(shred, "[chip](VM): NativeException: shred[id=%d:%s], PC=[%d]: %s\n",
                           static_cast<int>(shred->id), shred->name.c_str(),
                           static_cast<int>(shred->pc), what);
  } else {
    EM_printf("[chip](VM): NativeException: %s\n", what);
  }
}

// A throwing hook of a unit generator: reported; the caller silences it.
void ugen_fault(Chip_Object* self, const char* what) {
  const char* type = self && self->type_ref ? self->type_ref->name.c_str() : "[unknown]";
  EM_printf("[chip](VM): NativeException: UGen '%s' silenced: %s\n", type, what);
}

}  // namespace

t_CPBOOL chip_dl_call_ctor(f_ctor fn, Chip_Object* self, void* args, Chip_VM_Shred* shred) {
  try {
    fn(self, args, shred);
    return TRUE;
  } catch (...) {
    shred_fault(shred, fault_text());
    return FALSE;
  }
}

t_CPBOOL chip_dl_call_dtor(f_dtor fn, Chip_Object* self, Chip_VM_Shred* shred) {
  try {
    fn(self, shred);
    return TRUE;
  } catch (...) {
    shred_fault(shred, fault_text());
    return FALSE;
  }
}

t_CPBOOL chip_dl_call_mfun(f_mfun fn, Chip_Object* self, void* args, Chip_DL_Return* ret,
                           Chip_VM_Shred* shred) {
  try {
    fn(self, args, ret, shred);
    return TRUE;
  } catch (...) {
    shred_fault(shred, fault_text());
    return FALSE;
  }
}

t_CPBOOL chip_dl_call_sfun(f_sfun fn, void* args, Chip_DL_Return* ret, Chip_VM_Shred* shred) {
  try {
    fn(args, ret, shred);
    return TRUE;
  } catch (...) {
    shred_fault(shred, fault_text());
    return FALSE;
  }
}

void chip_dl_tick_fault(Chip_Object* self) { ugen_fault(self, fault_text()); }

t_CPBOOL chip_dl_call_pmsg(f_pmsg fn, Chip_Object* self, const char* msg, void* args,
                           Chip_VM_Shred* shred, unsigned long* result) {
  try {
    unsigned long r = fn(self, msg, args, shred);
    if (result) *result = r;
    return TRUE;
  } catch (...) {
    ugen_fault(self, fault_text());
    return FALSE;
  }
}

t_CPBOOL chip_dl_call_tock(f_tock fn, Chip_Object* self, Chip_UAna* uana,
                           Chip_UAnaBlobProxy* blob, Chip_VM_Shred* shred,
                           unsigned long* result) {
  try {
    unsigned long r = fn(self, uana, blob, shred);
    if (result) *result = r;
    return TRUE;
  } catch (...) {
    ugen_fault(self, fault_text());
    return FALSE;
  }
}
