// Shreds and their stacks, and the statement temporaries a shred holds.
#include "chip/vm/chip_vm_shred.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_ugen.h"

// ---------------------------------------------------------------------------
// Chip_Shred_Stack

namespace {
// Bytes allocated below each stack's usable area.
const t_CPUWORD kStackLead = 16;

// Stacks from this size on are mapped rather than allocated. Sanitizer
// builds allocate every stack, so that their checks cover it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
const t_CPUWORD kMapFrom = ~static_cast<t_CPUWORD>(0);
#else
const t_CPUWORD kMapFrom = 0x8000;
#endif
}  // namespace

Chip_Shred_Stack::Chip_Shred_Stack()
    : stack(nullptr), sp(nullptr), sp_max(nullptr), initialized(FALSE), size(0), mapped(0) {}

Chip_Shred_Stack::~Chip_Shred_Stack() { shutdown(); }

t_CPBOOL Chip_Shred_Stack::initialize(t_CPUWORD bytes) {
  if (initialized) return FALSE;
  t_CPUWORD total = bytes + kStackLead;
  unsigned char* block = nullptr;
  if (total >= kMapFrom) {
    const t_CPUWORD page = static_cast<t_CPUWORD>(sysconf(_SC_PAGESIZE));
    const t_CPUWORD length = (total + page - 1) / page * page;
    void* area = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) return FALSE;
    block = static_cast<unsigned char*>(area);
    mapped = length;
  } else {
    block = static_cast<unsigned char*>(std::calloc(total, 1));
    if (!block) return FALSE;
  }
  stack = sp = block + kStackLead;
  sp_max = stack + total - total / 16;
  size = bytes;
  initialized = TRUE;
  return TRUE;
}

void Chip_Shred_Stack::shutdown() {
  if (initialized) {
    if (mapped) {
      munmap(stack - kStackLead, mapped);
    } else {
      std::free(stack - kStackLead);
    }
  }
  stack = sp = sp_max = nullptr;
  size = 0;
  mapped = 0;
  initialized = FALSE;
}

// ---------------------------------------------------------------------------
// Chip_VM_Shred

Chip_VM_Shred::Chip_VM_Shred()
    : mem(new Chip_Shred_Stack),
      reg(new Chip_Shred_Stack),
      base_ref(nullptr),
      code(nullptr),
      start_code(nullptr),
      instr(nullptr),
      parent(nullptr),
      pc(0),
      vm_ref(nullptr),
      now(0.0),
      start(0.0),
      wake_time(0.0),
      next_pc(1),
      is_done(FALSE),
      is_running(FALSE),
      is_abort(FALSE),
      is_dumped(FALSE),
      event(nullptr),
      id(0),
      prev(nullptr),
      next(nullptr) {}

Chip_VM_Shred::~Chip_VM_Shred() {
  shutdown();
  delete mem;
  delete reg;
  mem = reg = nullptr;
}

namespace {

// Gives back the shred's start code and then its keeper (which the code may
// belong to).
void release_start_code(Chip_VM_Shred* shred) {
  Chip_VM_Code* code = shred->start_code;
  if (!code) return;
  shred->start_code = nullptr;
  Chip_VM_Object* keeper = code->keeper;
  code->release();
  if (keeper) keeper->release();
}

}  // namespace

t_CPBOOL Chip_VM_Shred::initialize(Chip_VM_Code* c, t_CPUWORD mem_st_size,
                                   t_CPUWORD reg_st_size) {
  CHIP_CHECK(c != NULL);
  // The stack records go with shutdown; a shred initialised again gets new
  // ones.
  if (!mem) mem = new Chip_Shred_Stack;
  if (!reg) reg = new Chip_Shred_Stack;
  if (mem->initialized || reg->initialized) return FALSE;
  // The code's own frame lies at the bottom of the memory stack: the size
  // asked for is the room above it, however many variables the code has.
  if (!mem->initialize(mem_st_size + c->frame_depth)) {
    EM_printf("[chip](VM): OutOfMemory: while allocating stack '%s'\n", "memory");
    return FALSE;
  }
  if (!reg->initialize(reg_st_size)) {
    EM_printf("[chip](VM): OutOfMemory: while allocating stack '%s'\n", "register");
    mem->shutdown();
    return FALSE;
  }

  pc = 0;
  next_pc = 1;
  c->add_ref();
  if (c->keeper) c->keeper->add_ref();
  release_start_code(this);
  code = start_code = c;
  is_dumped = is_done = is_running = is_abort = FALSE;
  instr = c->instr;
  id = 0;

  // The shred is also the language's Shred object; without its table it
  // could not answer its members (memory short: reported).
  if (!initialize_object(this, &t_shred)) {
    shutdown();
    return FALSE;
  }
  return TRUE;
}

namespace {

// Releases the shred's temporaries of the frame at `frame` and the frames
// above it (all of them for null), newest first.
void release_temps_from(Chip_VM_Shred* shred, const unsigned char* frame) {
  std::vector<Chip_VM_Shred::Temp>& temps = shred->temps;
  while (!temps.empty() && (!frame || temps.back().frame >= frame)) {
    Chip_VM_Object* object = temps.back().object;
    temps.pop_back();
    object->release();
  }
}

}  // namespace

t_CPBOOL Chip_VM_Shred::shutdown() {
  if (!ugens.empty()) {
    // Taken out first (a swap, which needs no memory: a shred ends even when
    // memory is short): the graph work below frees nodes, and a node's
    // destruction would otherwise edit the registry being walked (or, for a
    // shred already gone, reach through a dangling back-pointer).
    std::map<Chip_UGen*, Chip_UGen*> owned;
    owned.swap(ugens);
    Chip_UGen::disconnect_owned(owned);
  }
  // Frames still open (a shred ended inside a call) give back what they hold,
  // then the temporaries of the statements cut short.
  chip_release_frames(this);
  release_temps_from(this, nullptr);
  if (mem) mem->shutdown();
  if (reg) reg->shutdown();
  delete mem;
  delete reg;
  mem = reg = nullptr;
  base_ref = nullptr;
  code = nullptr;
  instr = nullptr;
  release_start_code(this);
  return TRUE;
}

void chip_hold_temp(Chip_VM_Shred* shred, Chip_VM_Object* object) {
  if (!object || !shred) return;
  object->add_ref();
  shred->temps.push_back({object, shred->mem->sp});
}

void chip_adopt_temp(Chip_VM_Shred* shred, Chip_VM_Object* object, unsigned char* frame) {
  shred->temps.push_back({object, frame});
}

void chip_release_temps(Chip_VM_Shred* shred) { release_temps_from(shred, shred->mem->sp); }

void chip_pass_temps(Chip_VM_Shred* shred, unsigned char* from, unsigned char* to) {
  for (auto it = shred->temps.rbegin(); it != shred->temps.rend() && it->frame >= from; ++it) {
    it->frame = to;
  }
}

t_CPBOOL Chip_VM_Shred::add(Chip_UGen* ugen) {
  if (ugens.count(ugen)) return FALSE;
  ugens[ugen] = ugen;
  return TRUE;
}

t_CPBOOL Chip_VM_Shred::remove(Chip_UGen* ugen) {
  auto found = ugens.find(ugen);
  if (found == ugens.end()) return FALSE;
  ugens.erase(found);
  return TRUE;
}
