// The shreduler: time, the wake-time list, the blocked map and the status.
#include "chip/vm/chip_vm_shreduler.h"

#include <algorithm>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_ugen.h"
#include "chip/vm/chip_vm_shred.h"
#include "chip/vm/digiio_device.h"

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
      samps_until_next_wake(-1.0),
      graph_blocks(FALSE),
      graph_checked(FALSE),
      graph_version(0) {}

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
  graph_checked = FALSE;
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
  if (!graph_in_blocks()) {
    for (t_CPUWORD i = 0; i < n; i++) advance();
    return;
  }
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

t_CPBOOL Chip_VM_Shreduler::graph_in_blocks() {
  const unsigned long version = Chip_UGen::graph_version();
  if (graph_checked && version == graph_version) return graph_blocks;
  Chip_UGen* sinks[] = {dac, blackhole};
  // With audio, adc and its channels are filled from the input, never
  // pulled.
  Chip_UGen* computed[CHIP_VM_MAX_FRAME_CHANNELS + 1];
  size_t num_computed = 0;
  if (rt_audio && adc) {
    computed[num_computed++] = adc;
    for (t_CPUINT c = 0; c < num_adc_channels; c++) computed[num_computed++] = adc->multi_chan[c];
  }
  graph_blocks = Chip_UGen::block_exact(max_block_size, sinks, 2, computed, num_computed);
  graph_version = version;
  graph_checked = TRUE;
  return graph_blocks;
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
