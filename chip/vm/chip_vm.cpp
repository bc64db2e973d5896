// The virtual machine: code, shreds, the shreduler, messages and the machine.
#include "chip/vm/chip_vm.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <new>
#include <stdexcept>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_instr_call.h"
#include "chip/vm/chip_instr_ops.h"
#include "chip/vm/chip_instr_stack.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm_decode.h"
#include "chip/vm/digiio_device.h"
#include "chip/vm/ugen_multi.h"

Chip_VM* g_vm = nullptr;

t_CPINT Chip_VM::our_priority = CHIP_VM_NO_PRIORITY;
void (*Chip_VM::our_detach)() = nullptr;

// ---------------------------------------------------------------------------
// Chip_VM_Code

Chip_VM_Code::Chip_VM_Code()
    : instr(nullptr),
      num_instr(0),
      stack_depth(0),
      frame_depth(0),
      reg_depth(0),
      need_this(FALSE),
      native_func(nullptr),
      native_func_type(NATIVE_NONE),
      decoded(nullptr) {}

Chip_VM_Code::~Chip_VM_Code() {
  delete[] decoded;
  decoded = nullptr;
  if (instr) {
    for (t_CPUINT i = 0; i < num_instr; i++) delete instr[i];
    delete[] instr;
    instr = nullptr;
  }
  num_instr = 0;
}

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

// ---------------------------------------------------------------------------
// Status records

Chip_VM_Shred_Status::Chip_VM_Shred_Status(t_CPUINT id, const std::string& name, t_CPTIME start,
                                           t_CPBOOL has_event)
    : id(id), name(name), start(start), has_event(has_event) {}

Chip_VM_Shred_Status::~Chip_VM_Shred_Status() = default;

Chip_VM_Status::Chip_VM_Status()
    : srate(0), now(0.0), t_second(0), t_minute(0), t_hour(0) {}

Chip_VM_Status::~Chip_VM_Status() { clear(); }

void Chip_VM_Status::clear() {
  for (Chip_VM_Shred_Status* entry : list) delete entry;
  list.clear();
}

// ---------------------------------------------------------------------------
// Chip_VM_Shreduler

Chip_VM_Shreduler::Chip_VM_Shreduler()
    : now(0.0),
      rt_audio(FALSE),
      bbq(nullptr),
      shred_list(nullptr),
      shred_tail(nullptr),
      current_shred(nullptr),
      dac(nullptr),
      adc(nullptr),
      blackhole(nullptr),
      num_dac_channels(0),
      num_adc_channels(0),
      max_block_size(0),
      adaptive(FALSE),
      samps_until_next_wake(-1.0) {}

Chip_VM_Shreduler::~Chip_VM_Shreduler() {
  status_record.clear();
  blocked.clear();
}

void Chip_VM_Shreduler::set_adc_dac(Chip_UGen* the_dac, Chip_UGen* the_adc,
                                    Chip_UGen* the_blackhole, t_CPUINT num_outs,
                                    t_CPUINT num_ins) {
  dac = the_dac;
  adc = the_adc;
  blackhole = the_blackhole;
  num_dac_channels = std::min<t_CPUINT>(num_outs, CHIP_VM_MAX_FRAME_CHANNELS);
  num_adc_channels = std::min<t_CPUINT>(num_ins, CHIP_VM_MAX_FRAME_CHANNELS);
}

void Chip_VM_Shreduler::set_adaptive(t_CPUINT max_block) {
  max_block_size = max_block > 1 ? max_block : 0;
  adaptive = max_block_size > 1;
}

namespace {
// The distance from now to the head's wake time, never negative; -1.0 for
// an empty list.
t_CPDUR until_head(Chip_VM_Shred* head, t_CPTIME now) {
  if (!head) return -1.0;
  t_CPDUR diff = head->wake_time - now;
  return diff < 0.0 ? 0.0 : diff;
}
}  // namespace

t_CPBOOL Chip_VM_Shreduler::shredule(Chip_VM_Shred* shred) { return shredule(shred, now); }

t_CPBOOL Chip_VM_Shreduler::shredule(Chip_VM_Shred* shred, t_CPTIME wake_time) {
  // A lone head has no links either: compare it too.
  if (shred->prev || shred->next || shred_list == shred) {
    EM_error3("[chip](VM): internal sanity check failed in shredule()");
    EM_error3("[chip](VM): (shred shreduled while shreduled)");
    return FALSE;
  }
  if (wake_time < now - CHIP_VM_WAKE_TOLERANCE) {
    EM_error3("[chip](VM): internal sanity check failed in shredule()");
    EM_error3("[chip](VM): (wake time is past) - %f : %f", wake_time, now);
    return FALSE;
  }

  shred->wake_time = wake_time;
  // After every shred due at or before wake_time: first in, first out.
  Chip_VM_Shred* before = shred_tail;
  Chip_VM_Shred* after = nullptr;
  while (before && before->wake_time > wake_time) {
    after = before;
    before = before->prev;
  }
  shred->prev = before;
  shred->next = after;
  if (before) {
    before->next = shred;
  } else {
    shred_list = shred;
  }
  if (after) {
    after->prev = shred;
  } else {
    shred_tail = shred;
  }

  samps_until_next_wake = until_head(shred_list, now);
  return TRUE;
}

Chip_VM_Shred* Chip_VM_Shreduler::get() {
  Chip_VM_Shred* shred = shred_list;
  if (!shred || shred->wake_time > now + CHIP_VM_WAKE_TOLERANCE) return nullptr;
  shred_list = shred->next;
  if (shred_list) {
    shred_list->prev = nullptr;
  } else {
    shred_tail = nullptr;
  }
  shred->next = shred->prev = nullptr;
  samps_until_next_wake = until_head(shred_list, now);
  return shred;
}

t_CPBOOL Chip_VM_Shreduler::is_listed(Chip_VM_Shred* shred) const {
  return shred->prev || shred->next || shred_list == shred;
}

t_CPBOOL Chip_VM_Shreduler::remove(Chip_VM_Shred* shred) {
  if (!is_listed(shred)) return FALSE;
  if (shred->prev) {
    shred->prev->next = shred->next;
  } else {
    shred_list = shred->next;
  }
  if (shred->next) {
    shred->next->prev = shred->prev;
  } else {
    shred_tail = shred->prev;
  }
  shred->prev = shred->next = nullptr;
  // Keeps the adaptive block bound true when the head leaves early.
  samps_until_next_wake = until_head(shred_list, now);
  return TRUE;
}

t_CPBOOL Chip_VM_Shreduler::add_blocked(Chip_VM_Shred* shred) {
  blocked[shred] = shred;
  return TRUE;
}

t_CPBOOL Chip_VM_Shreduler::remove_blocked(Chip_VM_Shred* shred) {
  blocked.erase(shred);
  if (shred->event) shred->event->remove(shred);
  return TRUE;
}

t_CPBOOL Chip_VM_Shreduler::is_blocked(Chip_VM_Shred* shred) const {
  return blocked.count(shred) != 0;
}

Chip_VM_Shred* Chip_VM_Shreduler::lookup(t_CPUINT id) {
  if (current_shred && current_shred->id == id) return current_shred;
  for (Chip_VM_Shred* s = shred_list; s; s = s->next) {
    if (s->id == id) return s;
  }
  for (auto& entry : blocked) {
    if (entry.first->id == id) return entry.first;
  }
  return nullptr;
}

t_CPUINT Chip_VM_Shreduler::highest() {
  t_CPUINT top = 0;
  for (Chip_VM_Shred* s = shred_list; s; s = s->next) top = std::max(top, s->id);
  for (auto& entry : blocked) top = std::max(top, entry.first->id);
  return top;
}

void Chip_VM_Shreduler::advance() {
  now += 1.0;

  SAMPLE frame[CHIP_VM_MAX_FRAME_CHANNELS];
  if (rt_audio && adc) {
    bbq->digi_in()->tick_in(frame, num_adc_channels);
    SAMPLE sum = 0.0f;
    for (t_CPUINT c = 0; c < num_adc_channels; c++) {
      Chip_UGen* chan = adc->multi_chan[c];
      chan->current = frame[c] * chan->gain * adc->gain;
      chan->last = chan->current;
      chan->time = now;
      sum += chan->current;
    }
    if (num_adc_channels) adc->current = adc->last = sum / num_adc_channels;
    adc->time = now;
  }

  if (dac) {
    dac->system_tick(now);
    for (t_CPUINT c = 0; c < num_dac_channels; c++) frame[c] = dac->multi_chan[c]->current;
  }
  if (blackhole) blackhole->system_tick(now);

  // With audio off nobody hears the frame: it is not written anywhere.
  if (rt_audio && dac) bbq->digi_out()->tick_out(frame, num_dac_channels);
}

void Chip_VM_Shreduler::advance_v(t_CPWORD& frames_left) {
  // A negative count (endless) compares as a huge unsigned one.
  t_CPUWORD n = std::min<t_CPUWORD>(static_cast<t_CPUWORD>(frames_left), max_block_size);
  if (samps_until_next_wake >= 0.0) {
    if (samps_until_next_wake < static_cast<t_CPDUR>(n)) {
      n = static_cast<t_CPUWORD>(samps_until_next_wake);
    }
    if (n == 0) {
      n = 1;
      samps_until_next_wake -= 1.0;
    } else {
      samps_until_next_wake -= static_cast<t_CPDUR>(n);
    }
  }
  frames_left -= static_cast<t_CPWORD>(n);
  now += static_cast<t_CPDUR>(n);

  if (rt_audio && adc) {
    SAMPLE frame[CHIP_VM_MAX_FRAME_CHANNELS];
    for (t_CPUINT c = 0; c < num_adc_channels; c++) adc->multi_chan[c]->time = now;
    for (t_CPUWORD i = 0; i < n; i++) {
      bbq->digi_in()->tick_in(frame, num_adc_channels);
      SAMPLE sum = 0.0f;
      for (t_CPUINT c = 0; c < num_adc_channels; c++) {
        Chip_UGen* chan = adc->multi_chan[c];
        chan->current_v[i] = frame[c] * chan->gain * adc->gain;
        sum += chan->current_v[i];
      }
      adc->current_v[i] = num_adc_channels ? sum / num_adc_channels : 0.0f;
    }
    for (t_CPUINT c = 0; c < num_adc_channels; c++) {
      Chip_UGen* chan = adc->multi_chan[c];
      chan->last = chan->current_v[n - 1];
    }
    adc->last = adc->current_v[n - 1];
    adc->time = now;
  }

  if (dac) dac->system_tick_v(now, n);
  if (blackhole) blackhole->system_tick_v(now, n);

  if (rt_audio && dac) {
    SAMPLE frame[CHIP_VM_MAX_FRAME_CHANNELS];
    for (t_CPUWORD i = 0; i < n; i++) {
      for (t_CPUINT c = 0; c < num_dac_channels; c++) frame[c] = dac->multi_chan[c]->current_v[i];
      bbq->digi_out()->tick_out(frame, num_dac_channels);
    }
  }
}

void Chip_VM_Shreduler::status(Chip_VM_Status* record) {
  t_CPUINT srate = Digitalio::sampling_rate();
  unsigned long s = now > 0.0 ? static_cast<unsigned long>(now) : 0;
  unsigned long r = srate;
  unsigned long hours = 0, minutes = 0, seconds = 0;
  if (r) {
    hours = s / (r * 3600);
    s -= hours * r * 3600;
    minutes = s / (r * 60);
    s -= minutes * r * 60;
    seconds = s / r;
  }
  record->srate = srate;
  record->now = now;
  record->t_hour = static_cast<t_CPUINT>(hours);
  record->t_minute = static_cast<t_CPUINT>(minutes);
  record->t_second = static_cast<t_CPUINT>(seconds);

  std::vector<Chip_VM_Shred*> shreds;
  for (Chip_VM_Shred* shred = shred_list; shred; shred = shred->next) shreds.push_back(shred);
  for (auto& entry : blocked) shreds.push_back(entry.first);
  if (current_shred) shreds.push_back(current_shred);
  std::stable_sort(shreds.begin(), shreds.end(),
                   [](Chip_VM_Shred* a, Chip_VM_Shred* b) { return a->id < b->id; });

  record->clear();
  for (Chip_VM_Shred* shred : shreds) {
    record->list.push_back(
        new Chip_VM_Shred_Status(shred->id, shred->name, shred->start, shred->event != nullptr));
  }
}

void Chip_VM_Shreduler::status() {
  status(&status_record);
  Chip_VM_Status& rec = status_record;
  EM_printf("[chip](VM): status (now == %ldh%ldm%lds, %.1f samps) ...\n", (long)rec.t_hour,
            (long)rec.t_minute, (long)rec.t_second, rec.now);
  for (Chip_VM_Shred_Status* entry : rec.list) {
    t_CPDUR ago = rec.srate ? (rec.now - entry->start) / rec.srate : 0.0;
    EM_printf("    [shred id]: %ld  [source]: %s  [spork time]: %.2fs ago%s\n", (long)entry->id,
              mini(entry->name.c_str()), ago, entry->has_event ? " (blocked)" : "");
  }
}

// ---------------------------------------------------------------------------
// Chip_Msg

Chip_Msg::Chip_Msg()
    : kind(0),
      param(0),
      code(nullptr),
      shred(nullptr),
      reserved_time(0.0),
      status(nullptr),
      reply(nullptr),
      reply_value(0),
      reserved_a(0),
      reserved_b(0),
      args(nullptr),
      prepare(nullptr),
      prepare_data(nullptr) {}

Chip_Msg::~Chip_Msg() {
  delete args;
  args = nullptr;
}

// ---------------------------------------------------------------------------
// Chip_VM: lifecycle

Chip_VM::Chip_VM()
    : m_adc(nullptr),
      m_dac(nullptr),
      m_blackhole(nullptr),
      m_num_adc_channels(0),
      m_num_dac_channels(0),
      m_halt(TRUE),
      m_audio(FALSE),
      m_block(TRUE),
      m_init(FALSE),
      m_audio_started(FALSE),
      m_audio_failed(FALSE),
      m_num_shreds(0),
      m_last_shred_id(0),
      m_shreduler(nullptr),
      m_num_dumped_shreds(0),
      m_bbq(nullptr),
      m_msg_buffer(nullptr),
      m_reply_buffer(nullptr),
      m_event_buffer(nullptr),
      m_is_running(FALSE),
      m_stop_requested(FALSE) {}

Chip_VM::~Chip_VM() {
  if (m_init) shutdown();
}

t_CPBOOL Chip_VM::initialize(t_CPBOOL audio, t_CPBOOL halt, t_CPUINT srate, t_CPUINT buffer_size,
                             t_CPUINT num_buffers, t_CPUINT dac, t_CPUINT adc,
                             t_CPUINT dac_chan, t_CPUINT adc_chan, t_CPBOOL block,
                             t_CPUINT adaptive) {
  if (m_init) {
    m_last_error = "VM already initialized!";
    return FALSE;
  }

  EM_log(CP_LOG_SYSTEM, "initializing virtual machine...");
  EM_pushlog();
  EM_log(CP_LOG_SYSTEM, "behavior: %s", halt ? "HALT" : "LOOP");
  // The memory a shortage's report will need, set aside while there is some.
  chip_memory_reserve();

  // From here on the locked global objects cannot be freed by a release.
  Chip_VM_Object::lock_all();

  m_bbq = new BBQ;
  m_halt = halt;
  m_audio = audio;
  m_block = block;

  EM_log(CP_LOG_SYSTEM, "allocating shreduler...");
  m_shreduler = new Chip_VM_Shreduler;
  m_shreduler->bbq = m_bbq;
  m_shreduler->rt_audio = audio;
  m_shreduler->set_adaptive(adaptive);
  m_shreduler->samps_until_next_wake = -1.0;

  EM_log(CP_LOG_SYSTEM, "allocating messaging buffers...");
  m_msg_buffer = new CBufferSimple;
  m_msg_buffer->initialize(CHIP_VM_QUEUE_SIZE, sizeof(Chip_Msg*));
  m_reply_buffer = new CBufferSimple;
  m_reply_buffer->initialize(CHIP_VM_QUEUE_SIZE, sizeof(Chip_Msg*));
  m_event_buffer = new CBufferSimple;
  m_event_buffer->initialize(CHIP_VM_QUEUE_SIZE, sizeof(Chip_Event*));

  EM_log(CP_LOG_SYSTEM, "real-time audio: %s", audio ? "YES" : "NO");
  EM_log(CP_LOG_SYSTEM, "mode: %s", block ? "BLOCKING" : "CALLBACK");
  EM_log(CP_LOG_SYSTEM, "sample rate: %ld", (long)srate);
  EM_log(CP_LOG_SYSTEM, "buffer size: %ld", (long)buffer_size);
  if (audio) {
    EM_log(CP_LOG_SYSTEM, "num buffers: %ld", (long)num_buffers);
    EM_log(CP_LOG_SYSTEM, "devices adc: %ld dac: %d (default 0)", (long)adc, (int)dac);
    EM_log(CP_LOG_SYSTEM, "adaptive block processing: %ld", (long)m_shreduler->max_block_size);
  }
  EM_log(CP_LOG_SYSTEM, "channels in: %ld out: %ld", (long)adc_chan, (long)dac_chan);

  m_num_adc_channels = adc_chan;
  m_num_dac_channels = dac_chan;
  m_bbq->set_srate(srate);
  m_bbq->set_bufsize(buffer_size);
  m_bbq->set_numbufs(num_buffers);
  m_bbq->set_inouts(adc, dac);
  m_bbq->set_chans(adc_chan, dac_chan);

  EM_poplog();
  m_init = TRUE;
  return TRUE;
}

namespace {

// Makes one of the machine's multichannel nodes (dac or adc) of type with
// the given channel count, held and locked; null when instantiation fails.
Chip_UGen* make_global_node(Chip_Type* type, t_CPUINT channels) {
  type->ugen_info->num_ins = channels;
  type->ugen_info->num_outs = channels;
  Chip_Object* object = instantiate_and_initialize_object(type, nullptr);
  if (!object) return nullptr;
  Chip_UGen* node = static_cast<Chip_UGen*>(object);
  // TODO(built-in classes): object_ctor(node, ...) runs here first, once
  // the Object class has its constructor.
  stereo_ctor(node, nullptr, nullptr);
  multi_ctor(node, nullptr, nullptr);
  node->add_ref();
  node->lock();
  return node;
}

}  // namespace

t_CPBOOL Chip_VM::initialize_synthesis() {
  if (!m_init) {
    m_last_error = "VM initialize_synthesis() called on raw VM";
    return FALSE;
  }
  if (!g_t_dac || !g_t_adc || !g_t_dac->ugen_info || !g_t_adc->ugen_info) {
    m_last_error = "VM initialize_synthesis() called before type system initialized";
    return FALSE;
  }
  if (m_dac) {
    m_last_error = "VM synthesis already initialized";
    return FALSE;
  }

  EM_log(CP_LOG_SYSTEM, "initializing synthesis engine...");
  EM_pushlog();

  EM_log(CP_LOG_SYSTEM, "initializing 'dac'...");
  m_dac = make_global_node(g_t_dac, m_num_dac_channels);
  EM_log(CP_LOG_SYSTEM, "initializing 'adc'...");
  m_adc = make_global_node(g_t_adc, m_num_adc_channels);
  if (!m_dac || !m_adc) {
    m_last_error = "VM initialize_synthesis() could not create 'dac' and 'adc'";
    EM_poplog();
    return FALSE;
  }

  EM_log(CP_LOG_SYSTEM, "initializing 'blackhole'...");
  m_blackhole = new Chip_UGen;
  m_blackhole->add_ref();
  m_blackhole->lock();
  initialize_object(m_blackhole, &t_ugen);
  m_blackhole->alloc_v(m_shreduler->max_block_size);

  m_shreduler->set_adc_dac(m_dac, m_adc, m_blackhole, m_num_dac_channels, m_num_adc_channels);

  EM_log(CP_LOG_SYSTEM, "initializing '%s' audio...", m_audio ? "real-time" : "fake-time");
  if (!m_bbq->initialize(m_num_dac_channels, m_num_adc_channels, Digitalio::sampling_rate(),
                         BBQ_BITS_PER_SAMPLE, Digitalio::buffer_size(), Digitalio::num_buffers(),
                         Digitalio::dac_num(), Digitalio::adc_num(), m_block, this, m_audio,
                         nullptr, nullptr)) {
    m_last_error = "cannot initialize audio device (try using --silent/-s)";
    EM_poplog();
    return FALSE;
  }

  EM_poplog();
  return TRUE;
}

t_CPBOOL Chip_VM::shutdown() {
  if (!m_init) return FALSE;

  EM_log(CP_LOG_SYSTEM, "shutting down virtual machine...");
  EM_pushlog();
  // The locked global objects may be freed from here on.
  Chip_VM_Object::unlock_all();

  m_stop_requested = TRUE;
  if (m_is_running) {
    EM_log(CP_LOG_SEVERE, "requesting STOP virtual machine...");
    m_is_running = FALSE;
    Digitalio::m_end = TRUE;
    usleep(50000);
  }

  if (m_audio) {
    EM_log(CP_LOG_SYSTEM, "shutting down real-time audio...");
    m_bbq->digi_out()->cleanup();
    m_bbq->digi_in()->cleanup();
    m_audio = FALSE;
  }
  // Always: with audio off the facade still holds its buffers and its
  // initialised state, which a later machine of this process starts afresh.
  m_bbq->shutdown();

  // Every shred still alive (waiting, blocked, or interrupted by a stop) is
  // freed while the shreduler and the graph still exist, so that it can
  // leave both; then the dumped shreds are released.
  EM_log(CP_LOG_SEVERE, "clearing shreds...");
  std::vector<Chip_VM_Shred*> alive;
  for (Chip_VM_Shred* s = m_shreduler->shred_list; s; s = s->next) alive.push_back(s);
  for (auto& entry : m_shreduler->blocked) alive.push_back(entry.first);
  if (m_shreduler->current_shred) alive.push_back(m_shreduler->current_shred);
  m_shreduler->current_shred = nullptr;
  for (Chip_VM_Shred* s : alive) {
    if (!s->is_dumped) free(s, TRUE, TRUE);
  }
  for (Chip_VM_Shred* s : m_shreds) s->release();
  m_shreds.clear();
  m_num_shreds = 0;
  m_last_shred_id = 0;
  EM_pushlog();
  EM_log(CP_LOG_SEVERE, "freeing dumped shreds...");
  release_dump();
  EM_poplog();

  EM_log(CP_LOG_SYSTEM, "freeing bbq subsystem...");
  delete m_bbq;
  m_bbq = nullptr;
  EM_log(CP_LOG_SYSTEM, "freeing shreduler...");
  delete m_shreduler;
  m_shreduler = nullptr;
  EM_log(CP_LOG_SYSTEM, "freeing msg/reply/event buffers...");
  // Messages nobody will process go with the queue; the reply queue's
  // messages belong to their senders.
  Chip_Msg* msg = nullptr;
  while (m_msg_buffer->get(&msg, 1)) delete msg;
  delete m_msg_buffer;
  delete m_reply_buffer;
  delete m_event_buffer;
  m_msg_buffer = m_reply_buffer = m_event_buffer = nullptr;

  EM_log(CP_LOG_SYSTEM, "freeing special ugens...");
  // Links among the global nodes themselves (adc => dac) hold references
  // both ways and no shred owns them: they are cut first, so that releasing
  // the nodes frees them and their channels.
  for (Chip_UGen* node : {m_dac, m_adc, m_blackhole}) {
    if (!node) continue;
    for (unsigned long c = 0; c < node->multi_chan_size; c++) node->multi_chan[c]->disconnect(TRUE);
    node->disconnect(TRUE);
  }
  if (m_dac) m_dac->release();
  if (m_adc) m_adc->release();
  if (m_blackhole) m_blackhole->release();
  m_dac = m_adc = m_blackhole = nullptr;

  m_init = FALSE;
  EM_poplog();
  return TRUE;
}

// ---------------------------------------------------------------------------
// Chip_VM: running

t_CPBOOL Chip_VM::run() {
  if (!m_dac) {
    m_last_error = "VM and/or synthesis not initialized...";
    return FALSE;
  }
  if (m_is_running) {
    m_last_error = "virtual machine already running...";
    return FALSE;
  }

  m_is_running = TRUE;
  m_stop_requested = FALSE;
  EM_log(CP_LOG_SYSTEM, "running virtual machine...");
  EM_pushlog();
  EM_log(CP_LOG_SEVERE, "initializing audio buffers...");
  if (!m_bbq->digi_out()->initialize()) {
    m_last_error = "cannot open audio output (option: use --silent/-s)";
    m_is_running = FALSE;
    EM_poplog();
    return FALSE;
  }
  m_bbq->digi_in()->initialize();
  EM_log(CP_LOG_SEVERE, "virtual machine running...");
  EM_poplog();

  if (m_block) {
    run(-1);
    return m_audio_failed ? FALSE : TRUE;
  }

  // Callback mode: the command-line files' shreds run here until they first
  // yield; from then on the audio callback drives the machine.
  if (!compute()) {
    m_is_running = FALSE;
    EM_log(CP_LOG_SYSTEM, "virtual machine stopped...");
    return TRUE;
  }
  if (!start_audio()) return FALSE;
  while (m_is_running) sleep(1);
  return TRUE;
}

t_CPBOOL Chip_VM::run(t_CPWORD num_samps) {
  while (num_samps != 0) {
    // A stopped machine computes nothing more (in blocking mode this is how
    // stop() ends run()).
    if (m_stop_requested) return TRUE;
    if (!compute()) {
      m_is_running = FALSE;
      EM_log(CP_LOG_SYSTEM, "virtual machine stopped...");
      return TRUE;
    }
    if (!m_audio_started && !start_audio()) return TRUE;
    if (m_shreduler->adaptive) {
      m_shreduler->advance_v(num_samps);
    } else {
      m_shreduler->advance();
      if (num_samps > 0) num_samps--;
    }
  }
  return FALSE;
}

void Chip_VM::run_shred(Chip_VM_Shred* shred) {
  shred->now = shred->wake_time;
  shred->instr = shred->code->instr;
  shred->is_running = TRUE;
  // A shred's first run enters its code: what the code pushes must fit on
  // the register stack (above what a spork put there), as for a call.
  if (shred->pc == 0 && shred->code == shred->start_code && !chip_reg_fits(shred, shred->code)) {
    chip_stack_overflow(shred);
    return;
  }
  m_executing = shred;

  try {
    run_decoded(shred);
  } catch (const std::bad_alloc&) {
    // Whatever the instruction was making could not be made: the shred
    // ends (its stacks go with it), the machine goes on.
    chip_out_of_memory(shred);
  } catch (const std::length_error&) {
    chip_out_of_memory(shred);
  }
  if (shred->is_abort && !shred->is_done) {
    EM_log(CP_LOG_SYSTEM, "aborting shred (id: %d)", (int)shred->id);
    shred->is_done = TRUE;
    shred->is_running = FALSE;
  }
  m_executing = nullptr;
}

void Chip_VM::run_decoded(Chip_VM_Shred* shred) {
  using namespace chip_ops;
  // Threaded: each operation ends by going straight to the next one's
  // handler (one indirect jump per operation, each predicted on its own).
  // The loop keeps the shred's place, the register stack's top and the
  // frame's and the file's variables in locals; they go back to the shred
  // before any instruction runs through its own execute (which may call,
  // return, yield or fail) and are read again after it, and whenever the
  // loop leaves.
  static const void* const kHandlers[] = {
      &&op_execute,
      &&op_push_imm,
      &&op_push_imm2,
      &&op_push_mem,
      &&op_push_mem2,
      &&op_push_mem_addr,
      &&op_push_base,
      &&op_push_base2,
      &&op_push_base_addr,
      &&op_pop,
      &&op_assign,
      &&op_assign2,
      &&op_add_int,
      &&op_minus_int,
      &&op_times_int,
      &&op_lt_int,
      &&op_gt_int,
      &&op_le_int,
      &&op_ge_int,
      &&op_eq_int,
      &&op_neq_int,
      &&op_preinc_int,
      &&op_postinc_int,
      &&op_predec_int,
      &&op_postdec_int,
      &&op_add_float,
      &&op_minus_float,
      &&op_times_float,
      &&op_divide_float,
      &&op_lt_float,
      &&op_gt_float,
      &&op_le_float,
      &&op_ge_float,
      &&op_eq_float,
      &&op_neq_float,
      &&op_branch_eq_int,
      &&op_branch_neq_int,
      &&op_goto};
  static_assert(sizeof kHandlers / sizeof *kHandlers == CHIP_OP_COUNT, "one handler per op");
  Chip_VM_Code* code = shred->code;
  const Chip_Decoded* ops = chip_decoded(code);
  t_CPUINT pc = shred->pc;
  t_CPUINT next = pc + 1;
  const Chip_Decoded* d = nullptr;
  unsigned char* sp = shred->reg->sp;
  unsigned char* mem = shred->mem->sp;
  unsigned char* base = shred->base_ref ? shred->base_ref->stack : nullptr;
  auto keep = [&](t_CPUINT at) {
    shred->pc = at;
    shred->next_pc = at + 1;
    shred->reg->sp = sp;
  };

// On to the instruction after this one.
#define CHIP_NEXT()          \
  do {                       \
    pc = next;               \
    d = &ops[pc];            \
    next = pc + 1;           \
    goto* kHandlers[d->op];  \
  } while (0)
// On to next after a jump or a call: going back, a stop or an abort is
// looked for first.
#define CHIP_JUMPED()      \
  do {                     \
    if (next <= pc) {      \
      pc = next;           \
      goto checkpoint;     \
    }                      \
    CHIP_NEXT();           \
  } while (0)

  // A stop or an abort is looked for when the shred starts running and at
  // every jump back and call (a call enters at 0): code that does neither
  // runs straight to its end or to its next wait, so a request is seen as
  // soon as anything could repeat.
checkpoint:
  if (m_stop_requested) {
    keep(pc);
    return;
  }
  // The request is read before it is taken: an exchange at every jump back
  // would cost a locked instruction per turn of a loop.
  if (shred->is_abort || (m_abort_requested.load(std::memory_order_relaxed) &&
                          m_abort_requested.exchange(FALSE, std::memory_order_relaxed))) {
    EM_log(CP_LOG_SYSTEM, "aborting shred (id: %d)", (int)shred->id);
    shred->is_done = TRUE;
    shred->is_running = FALSE;
    keep(pc);
    return;
  }
  d = &ops[pc];
  next = pc + 1;
  goto* kHandlers[d->op];

op_push_imm:
  push<t_CPWORD>(sp, static_cast<t_CPWORD>(d->word));
  CHIP_NEXT();
op_push_imm2:
  push<t_CPFLOAT>(sp, d->real);
  CHIP_NEXT();
op_push_mem:
  push<t_CPWORD>(sp, chip_load<t_CPWORD>(mem + d->word));
  CHIP_NEXT();
op_push_mem2:
  push<t_CPFLOAT>(sp, chip_load<t_CPFLOAT>(mem + d->word));
  CHIP_NEXT();
op_push_mem_addr:
  push<t_CPWORD>(sp, reinterpret_cast<t_CPWORD>(mem + d->word));
  CHIP_NEXT();
op_push_base:
  push<t_CPWORD>(sp, chip_load<t_CPWORD>(base + d->word));
  CHIP_NEXT();
op_push_base2:
  push<t_CPFLOAT>(sp, chip_load<t_CPFLOAT>(base + d->word));
  CHIP_NEXT();
op_push_base_addr:
  push<t_CPWORD>(sp, reinterpret_cast<t_CPWORD>(base + d->word));
  CHIP_NEXT();
op_pop:
  sp -= d->word;
  CHIP_NEXT();
op_assign:
  assign_top<t_CPWORD>(sp);
  CHIP_NEXT();
op_assign2:
  assign_top<t_CPFLOAT>(sp);
  CHIP_NEXT();
op_add_int:
  int_binary(sp, add_int);
  CHIP_NEXT();
op_minus_int:
  int_binary(sp, minus_int);
  CHIP_NEXT();
op_times_int:
  int_binary(sp, times_int);
  CHIP_NEXT();
op_lt_int:
  int_binary(sp, lt<t_CPINT>);
  CHIP_NEXT();
op_gt_int:
  int_binary(sp, gt<t_CPINT>);
  CHIP_NEXT();
op_le_int:
  int_binary(sp, le<t_CPINT>);
  CHIP_NEXT();
op_ge_int:
  int_binary(sp, ge<t_CPINT>);
  CHIP_NEXT();
op_eq_int:
  int_binary(sp, eq<t_CPINT>);
  CHIP_NEXT();
op_neq_int:
  int_binary(sp, neq<t_CPINT>);
  CHIP_NEXT();
op_preinc_int:
  step_int(sp, 1, true);
  CHIP_NEXT();
op_postinc_int:
  step_int(sp, 1, false);
  CHIP_NEXT();
op_predec_int:
  step_int(sp, -1, true);
  CHIP_NEXT();
op_postdec_int:
  step_int(sp, -1, false);
  CHIP_NEXT();
op_add_float:
  float_binary(sp, add_float);
  CHIP_NEXT();
op_minus_float:
  float_binary(sp, minus_float);
  CHIP_NEXT();
op_times_float:
  float_binary(sp, times_float);
  CHIP_NEXT();
op_divide_float:
  float_binary(sp, divide_float);
  CHIP_NEXT();
op_lt_float:
  compare<t_CPFLOAT>(sp, lt<t_CPFLOAT>);
  CHIP_NEXT();
op_gt_float:
  compare<t_CPFLOAT>(sp, gt<t_CPFLOAT>);
  CHIP_NEXT();
op_le_float:
  compare<t_CPFLOAT>(sp, le<t_CPFLOAT>);
  CHIP_NEXT();
op_ge_float:
  compare<t_CPFLOAT>(sp, ge<t_CPFLOAT>);
  CHIP_NEXT();
op_eq_float:
  compare<t_CPFLOAT>(sp, eq<t_CPFLOAT>);
  CHIP_NEXT();
op_neq_float:
  compare<t_CPFLOAT>(sp, neq<t_CPFLOAT>);
  CHIP_NEXT();
op_branch_eq_int:
  if (branch_taken<t_CPWORD>(sp, int_eq)) next = static_cast<t_CPUINT>(d->word);
  CHIP_JUMPED();
op_branch_neq_int:
  if (branch_taken<t_CPWORD>(sp, int_neq)) next = static_cast<t_CPUINT>(d->word);
  CHIP_JUMPED();
op_goto:
  next = static_cast<t_CPUINT>(d->word);
  CHIP_JUMPED();
op_execute:
  keep(pc);
  d->instr->execute(this, shred);
  next = shred->next_pc;
  sp = shred->reg->sp;
  mem = shred->mem->sp;
  base = shred->base_ref ? shred->base_ref->stack : nullptr;
  if (!shred->is_running || !shred->code) {
    // Yielded, finished or failed: it resumes at the next instruction.
    shred->pc = next;
    shred->next_pc = next + 1;
    return;
  }
  if (shred->code != code) {
    code = shred->code;
    ops = chip_decoded(code);
  }
  CHIP_JUMPED();
#undef CHIP_NEXT
#undef CHIP_JUMPED
}

t_CPBOOL Chip_VM::compute() {
  for (;;) {
    Chip_VM_Shred* shred = m_shreduler->get();
    if (shred) {
      m_shreduler->current_shred = shred;
      run_shred(shred);
      if (shred->is_done) {
        free(shred, TRUE, TRUE);
        // Freed while it ran (its parent was ended from inside it): what it
        // holds goes now that it has stopped.
        shred->shutdown();
        // A shred that ran out of memory gave back the reserve for its
        // report; with the shred gone there may be room to set it aside.
        chip_memory_reserve();
        if (m_num_shreds == 0 && m_halt) {
          m_shreduler->current_shred = nullptr;
          return FALSE;
        }
      } else if (shred->is_running) {
        // The machine was stopped under the shred: it goes back to the list,
        // where it would resume (or shutdown frees it), and the pass ends.
        shred->is_running = FALSE;
        if (!shred->is_dumped) m_shreduler->shredule(shred, m_shreduler->now);
        m_shreduler->current_shred = nullptr;
        return TRUE;
      }
      m_shreduler->current_shred = nullptr;
      continue;
    }

    // No shred is due: deliver other threads' broadcasts, carry out
    // messages, release what was freed.
    t_CPBOOL handled = FALSE;
    Chip_Event* event = nullptr;
    while (m_event_buffer->get(&event, 1)) {
      event->deliver_queued_broadcast();
      handled = TRUE;
    }
    Chip_Msg* msg = nullptr;
    while (m_msg_buffer->get(&msg, 1)) {
      try {
        process_msg(msg);
      } catch (const std::bad_alloc&) {
        // A shred to add or to put in place could not be made.
        EM_printf("[chip](VM): OutOfMemory: while processing a message\n");
      }
      handled = TRUE;
    }
    // An abort asked for by another thread while no shred ran lapses (after
    // the messages, so that a request that came before them cannot reach a
    // shred they sporked).
    if (m_abort_requested.exchange(FALSE)) {
      EM_log(CP_LOG_SEVERE, "cannot abort shred: nothing currently running!");
    }
    if (m_num_dumped_shreds > 0) release_dump();
    if (!handled) return TRUE;
  }
}

// ---------------------------------------------------------------------------
// Chip_VM: shreds

Chip_VM_Shred* Chip_VM::spork(Chip_VM_Code* code, Chip_VM_Shred* parent) {
  Chip_VM_Shred* shred = new Chip_VM_Shred;
  if (!shred->initialize(code, CHIP_VM_MEM_STACK_SIZE, CHIP_VM_REG_STACK_SIZE)) {
    delete shred;
    return nullptr;
  }
  shred->name = code->name;
  shred->parent = parent;
  shred->base_ref = parent ? parent->base_ref : shred->mem;
  return spork(shred);
}

void Chip_VM::make_room_to_dump(t_CPUINT more) {
  // Every shred alive (and each that replaces one) may end up dumped before
  // the next release: room for all of them is made here, where running out
  // of memory ends the shred that asked, so that freeing never needs any.
  const size_t wanted = m_dumped.size() + m_num_shreds + more;
  if (m_dumped.capacity() < wanted) m_dumped.reserve(wanted + wanted / 2 + 16);
}

Chip_VM_Shred* Chip_VM::spork(Chip_VM_Shred* shred) {
  // What needs memory comes first, before anything changes: a shortage
  // leaves the machine as it was.
  make_room_to_dump(1);
  const t_CPUINT id = m_last_shred_id + 1;
  if (shred->parent) shred->parent->children[id] = shred;
  shred->start = shred->wake_time = shred->now = m_shreduler->now;
  shred->id = m_last_shred_id = id;
  shred->vm_ref = this;
  // The machine's reference, released with the dumped shreds.
  shred->add_ref();
  m_shreduler->shredule(shred);
  m_num_shreds++;
  return shred;
}

t_CPBOOL Chip_VM::free(Chip_VM_Shred* shred, t_CPBOOL cascade, t_CPBOOL dec) {
  CHIP_CHECK(cascade);
  EM_log(CP_LOG_FINER, "freeing shred (id==%d | ptr==%p)", (int)shred->id, (void*)shred);
  if (shred->is_dumped) return FALSE;
  shred->is_done = TRUE;

  // Children first, in ascending id order; each takes itself out of the map.
  while (!shred->children.empty()) {
    auto first = shred->children.begin();
    Chip_VM_Shred* child = first->second;
    if (!free(child, cascade, dec)) shred->children.erase(first);
  }

  // Out of the parent's children, unless a replacement holds the id now.
  if (shred->parent) {
    auto entry = shred->parent->children.find(shred->id);
    if (entry != shred->parent->children.end() && entry->second == shred) {
      shred->parent->children.erase(entry);
    }
  }

  if (m_shreduler->is_blocked(shred)) {
    m_shreduler->remove_blocked(shred);
  } else {
    m_shreduler->remove(shred);
  }

  EM_log(CP_LOG_FINER, "dumping shred (id==%d | ptr==%p)", (int)shred->id, (void*)shred);
  m_dumped.push_back(shred);
  shred->is_running = FALSE;
  shred->is_done = TRUE;
  shred->is_dumped = TRUE;
  shred->id = 0;
  m_num_dumped_shreds++;
  // Its stacks, frames, temporaries and unit generators go at once: a
  // finished shred holds no memory while it waits to be released (which
  // may be long: the dumped shreds are released only when no shred is due).
  // The shred that is executing an instruction keeps them until it stops.
  if (shred != m_executing) shred->shutdown();

  if (dec && m_num_shreds > 0) {
    m_num_shreds--;
    if (m_num_shreds == 0) m_last_shred_id = 0;
  }
  return TRUE;
}

void Chip_VM::release_dump() {
  EM_log(CP_LOG_FINER, "releasing dumped shreds...");
  // Taken out first: a shred's destruction never reaches this list, but the
  // list must be empty whatever the releases do.
  std::vector<Chip_VM_Shred*> dumped;
  dumped.swap(m_dumped);
  m_num_dumped_shreds = 0;
  for (Chip_VM_Shred* shred : dumped) shred->release();
}

t_CPBOOL Chip_VM::abort_current_shred() {
  Chip_VM_Shred* shred = m_shreduler ? m_shreduler->current_shred : nullptr;
  if (shred) {
    EM_log(CP_LOG_SEVERE, "trying to abort current shred (id: %d)", (int)shred->id);
    shred->is_abort = TRUE;
  } else {
    EM_log(CP_LOG_SEVERE, "cannot abort shred: nothing currently running!");
  }
  return shred != nullptr;
}

void Chip_VM::request_abort() {
  EM_log(CP_LOG_SEVERE, "requesting abort of the current shred...");
  m_abort_requested = TRUE;
}

t_CPBOOL Chip_VM::stop() {
  EM_log(CP_LOG_SEVERE, "requesting STOP virtual machine...");
  m_stop_requested = TRUE;
  m_is_running = FALSE;
  Digitalio::m_end = TRUE;
  return TRUE;
}

t_CPBOOL Chip_VM::start_audio() {
  if (m_audio && !m_audio_started) {
    EM_log(CP_LOG_SEVERE, "starting real-time audio...");
    m_audio_started = TRUE;
    // Without a running device no callback would ever come: nothing could
    // end the run, so the machine stops here instead.
    if (!m_bbq->digi_out()->start()) {
      m_last_error = "cannot open audio output (option: use --silent/-s)";
      m_audio_failed = TRUE;
      m_is_running = FALSE;
      EM_log(CP_LOG_SYSTEM, "virtual machine stopped...");
      return FALSE;
    }
    m_bbq->digi_in()->start();
  }
  // Set before the device started, when audio is on; set here for a silent run.
  if (!m_audio_started) m_audio_started = TRUE;
  return TRUE;
}

t_CPUINT Chip_VM::srate() const { return Digitalio::sampling_rate(); }

t_CPBOOL Chip_VM::set_priority(t_CPINT priority, Chip_VM* vm) {
  EM_log(CP_LOG_INFO, "setting thread priority to: %ld...", (long)priority);
  struct sched_param param;
  int policy = 0;
  if (pthread_getschedparam(pthread_self(), &policy, &param) != 0) {
    if (vm) vm->m_last_error = "could not get current scheduling parameters";
    return FALSE;
  }
  param.sched_priority = priority;
  if (pthread_setschedparam(pthread_self(), SCHED_RR, &param) != 0) {
    if (vm) vm->m_last_error = "could not set new scheduling parameters";
    return FALSE;
  }
  return TRUE;
}

// ---------------------------------------------------------------------------
// Chip_VM: queues and messages

t_CPUINT Chip_VM::queue_msg(Chip_Msg* msg, t_CPUINT count) {
  CHIP_CHECK(count == 1);
  if (!m_msg_buffer) return 0;
  m_msg_buffer->put(&msg, count);
  return count;
}

t_CPUINT Chip_VM::queue_event(Chip_Event* event, t_CPUINT count) {
  CHIP_CHECK(count == 1);
  if (!m_event_buffer) return 0;
  // Several threads may broadcast: one writer at a time; the machine reads
  // without the lock.
  m_event_writer_lock.acquire();
  m_event_buffer->put(&event, count);
  m_event_writer_lock.release();
  return count;
}

Chip_Msg* Chip_VM::get_reply() {
  Chip_Msg* msg = nullptr;
  if (!m_reply_buffer || !m_reply_buffer->get(&msg, 1)) return nullptr;
  return msg;
}

t_CPBOOL Chip_VM::unschedule(Chip_VM_Shred* shred) {
  if (m_shreduler->is_blocked(shred)) return m_shreduler->remove_blocked(shred);
  return m_shreduler->remove(shred);
}

t_CPUINT Chip_VM::remove_latest() {
  if (m_num_shreds == 0) {
    EM_error3("[chip](VM): no shreds to remove...");
    return 0;
  }
  for (t_CPUINT id = m_last_shred_id; id > 0; id--) {
    Chip_VM_Shred* shred = m_shreduler->lookup(id);
    if (!shred || shred == m_shreduler->current_shred) continue;
    if (m_shreduler->is_blocked(shred) || m_shreduler->is_listed(shred)) {
      EM_error3("[chip](VM): removing recent shred: %i (%s)...", (int)id,
                mini(shred->name.c_str()));
      free(shred, TRUE, TRUE);
      return id;
    }
  }
  EM_error3("[chip](VM): no shreds removed...");
  return 0;
}

t_CPUINT Chip_VM::process_msg(Chip_Msg* msg) {
  t_CPUINT retval = Chip_Msg::DONE;

  // A message whose preparation fails is answered with 0 and not carried out.
  t_CPUINT kind = msg->kind;
  if (msg->prepare && !msg->prepare(msg)) {
    kind = 0;
    retval = 0;
  }
  switch (kind) {
    case Chip_Msg::MSG_ADD: {
      Chip_VM_Shred* shred = nullptr;
      if (msg->shred) {
        shred = spork(msg->shred);
      } else if (msg->code) {
        shred = spork(msg->code, nullptr);
      }
      if (!shred) {
        retval = 0;
        break;
      }
      if (msg->args) shred->args = *msg->args;
      EM_error3("[chip](VM): sporking incoming shred: %i (%s)...", (int)shred->id,
                mini(shred->name.c_str()));
      retval = shred->id;
      break;
    }

    case Chip_Msg::MSG_REMOVE: {
      if (msg->param == Chip_Msg::LATEST) {
        retval = remove_latest();
        break;
      }
      Chip_VM_Shred* shred = m_shreduler->lookup(msg->param);
      if (!shred) {
        EM_error3("[chip](VM): cannot remove: no shred with id %i...", (int)msg->param);
        retval = 0;
        break;
      }
      if (shred != m_shreduler->current_shred && !m_shreduler->is_blocked(shred) &&
          !m_shreduler->is_listed(shred)) {
        EM_error3("[chip](VM): shreduler: cannot remove shred %i...", (int)msg->param);
        retval = 0;
        break;
      }
      EM_error3("[chip](VM): removing shred: %i (%s)...", (int)msg->param,
                mini(shred->name.c_str()));
      // free takes it off the blocked map or out of the list.
      free(shred, TRUE, TRUE);
      retval = msg->param;
      break;
    }

    case Chip_Msg::MSG_REMOVEALL: {
      EM_error3("[chip](VM): removing all (%i) shreds...", (int)m_num_shreds);
      for (t_CPUINT id = m_last_shred_id; id >= 1 && m_num_shreds > 0; id--) {
        Chip_VM_Shred* shred = m_shreduler->lookup(id);
        if (shred && (m_shreduler->is_blocked(shred) || m_shreduler->is_listed(shred))) {
          free(shred, TRUE, TRUE);
        }
      }
      m_last_shred_id = 0;
      m_num_shreds = 0;
      break;
    }

    case Chip_Msg::MSG_REPLACE: {
      // The old shred is dumped without leaving the count.
      make_room_to_dump(1);
      Chip_VM_Shred* old = m_shreduler->lookup(msg->param);
      if (!old) {
        EM_error3("[chip](VM): error replacing shred: no shred with id %i...", (int)msg->param);
        retval = 0;
        break;
      }
      Chip_VM_Shred* out = msg->shred;
      if (!out) {
        if (!msg->code) {
          retval = 0;
          break;
        }
        out = new Chip_VM_Shred;
        if (!out->initialize(msg->code, CHIP_VM_MEM_STACK_SIZE, CHIP_VM_REG_STACK_SIZE)) {
          delete out;
          retval = 0;
          break;
        }
        out->name = msg->code->name;
        out->base_ref = out->mem;
      }
      // The machine's reference, as spork takes it.
      out->add_ref();
      // The old shred must be waiting (in the list or on an event) and the
      // replacement must not be scheduled already; otherwise nothing moves.
      if ((!m_shreduler->is_blocked(old) && !m_shreduler->is_listed(old)) ||
          m_shreduler->is_listed(out)) {
        EM_error3("[chip](VM): shreduler ERROR replacing shred %i...", (int)old->id);
        out->release();
        retval = 0;
        break;
      }
      unschedule(old);
      out->id = msg->param;
      out->vm_ref = this;
      out->start = out->wake_time = out->now = m_shreduler->now;
      if (msg->args) out->args = *msg->args;
      if (out->parent) out->parent->children[out->id] = out;
      m_shreduler->shredule(out, m_shreduler->now);
      EM_error3("[chip](VM): replacing shred %i (%s) with %i (%s)...", (int)old->id,
                mini(old->name.c_str()), (int)out->id, mini(out->name.c_str()));
      free(old, TRUE, FALSE);
      retval = msg->param;
      break;
    }

    case Chip_Msg::MSG_STATUS:
      if (msg->reply && msg->status) {
        m_shreduler->status(msg->status);
      } else {
        m_shreduler->status();
      }
      break;

    case Chip_Msg::MSG_KILL:
      // The machine stops here and whoever runs it shuts down in order
      // (ending the process from the audio thread would tear resources out
      // from under the other threads).
      EM_error3("[chip](VM): KILL received....");
      if (our_detach) our_detach();
      EM_log(CP_LOG_INFO, "(VM): exiting...");
      m_killed = TRUE;
      stop();
      break;

    case Chip_Msg::MSG_TIME: {
      t_CPTIME now = m_shreduler->now;
      t_CPFLOAT rate = srate() ? static_cast<t_CPFLOAT>(srate()) : 1.0;
      EM_printf("[chip](VM): the values of now:\n");
      EM_printf("  now = %.6f (samp)\n", now);
      EM_printf("      = %.6f (second)\n", now / rate);
      EM_printf("      = %.6f (minute)\n", now / rate / 60.0);
      EM_printf("      = %.6f (hour)\n", now / rate / 60.0 / 60.0);
      EM_printf("      = %.6f (day)\n", now / rate / 60.0 / 60.0 / 24.0);
      EM_printf("      = %.6f (week)\n", now / rate / 60.0 / 60.0 / 24.0 / 7.0);
      break;
    }

    case Chip_Msg::MSG_RESET_ID:
      m_last_shred_id = m_shreduler->highest();
      EM_printf("[chip](VM): reseting shred id to %d...\n", (int)(m_last_shred_id + 1));
      break;

    default:
      break;
  }

  if (msg->reply) {
    msg->reply_value = retval;
    m_reply_buffer->put(&msg, 1);
  } else {
    delete msg;
  }
  return retval;
}
