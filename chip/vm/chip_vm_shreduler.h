// The shreduler: the machine's clock and the shreds that wait.
//
// The shreduler (Chip_VM_Shreduler) keeps time ("now", a double count of
// samples) and the shreds that wait: a list sorted by wake time (equal wake
// times first in, first out) and a map of shreds blocked on events. Each
// sample, or each adaptive block of samples, it advances now, feeds input
// into `adc` and pulls the unit-generator graph from `dac` and `blackhole`.
// It also takes the snapshots (Chip_VM_Status) the status message prints.
//
// An adaptive block ends where the next shred wakes, so every shred runs
// at the sample it would run at sample by sample and finds the graph as it
// would be there. Inside the block the graph is pulled a block at a time
// when that gives the same samples bit for bit (Chip_UGen::block_exact:
// no feedback, only classes exact in blocks), else sample by sample; the
// answer is kept until a link is made or cut.
#ifndef CHIP_CHIP_VM_SHREDULER_H
#define CHIP_CHIP_VM_SHREDULER_H

#include <map>
#include <string>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_oo.h"

class BBQ;
struct Chip_UGen;
struct Chip_VM_Shred;

// A shred due at most this many samples in the future runs in this sample.
#define CHIP_VM_WAKE_TOLERANCE 0.5

// Largest channel count of one frame moved between the graph and the facade.
enum { CHIP_VM_MAX_FRAME_CHANNELS = 128 };

// ---------------------------------------------------------------------------
// Snapshot of one shred, for the status message.
struct Chip_VM_Shred_Status : Chip_Object {
  Chip_VM_Shred_Status(t_CPUINT id, const std::string& name, t_CPTIME start, t_CPBOOL has_event);
  ~Chip_VM_Shred_Status() override;

  t_CPUINT id;
  std::string name;
  t_CPTIME start;      // spork time, in samples
  t_CPBOOL has_event;  // blocked on an event
};

// Snapshot of the shreduler: the time and its shreds sorted by id.
struct Chip_VM_Status : Chip_Object {
  Chip_VM_Status();
  ~Chip_VM_Status() override;  // clear()

  // Deletes every shred entry and empties the list.
  void clear();

  t_CPUINT srate;
  t_CPTIME now;          // samples
  t_CPUINT t_second;
  t_CPUINT t_minute;
  t_CPUINT t_hour;
  std::vector<Chip_VM_Shred_Status*> list;  // owned
};

// ---------------------------------------------------------------------------
// The time keeper and scheduler. Created and deleted by Chip_VM; everything
// here runs on the machine's thread.
struct Chip_VM_Shreduler : Chip_Object {
  Chip_VM_Shreduler();
  // Frees the status record and the blocked map; no shred is touched.
  ~Chip_VM_Shreduler() override;

  // Inserts shred into the wake-time list after every shred due at or before
  // wake_time (found walking back from the tail: a shred rescheduled is
  // mostly due no earlier than the last one, so this is mostly one step). Refused (0, with two messages) when the shred is linked
  // already or wake_time < now - 0.5.
  t_CPBOOL shredule(Chip_VM_Shred* shred);
  t_CPBOOL shredule(Chip_VM_Shred* shred, t_CPTIME wake_time);

  // The head of the list if it is due (wake time <= now + 0.5), unlinked, or
  // null. Updates samps_until_next_wake.
  Chip_VM_Shred* get();

  // Takes shred out of the wake-time list; FALSE when it is not linked.
  // samps_until_next_wake follows the new head, so that an adaptive block
  // never runs past the next shred's wake time.
  t_CPBOOL remove(Chip_VM_Shred* shred);

  // One sample: now + 1, input into adc, pull dac, output, pull blackhole.
  void advance();
  // One adaptive block; lowers frames_left by its length (see the source).
  void advance_v(t_CPWORD& frames_left);
  // Whether the graph the sinks reach renders exactly in blocks now.
  t_CPBOOL graph_in_blocks();

  // The blocked map. remove_blocked also takes the shred off its event.
  t_CPBOOL add_blocked(Chip_VM_Shred* shred);
  t_CPBOOL remove_blocked(Chip_VM_Shred* shred);
  t_CPBOOL is_blocked(Chip_VM_Shred* shred) const;

  // Is shred in the wake-time list?
  t_CPBOOL is_listed(Chip_VM_Shred* shred) const;

  // The current shred, a listed shred or a blocked shred with this id.
  Chip_VM_Shred* lookup(t_CPUINT id);
  // The highest id in the list and the blocked map (0 if none).
  t_CPUINT highest();

  // Fills a record; status() fills status_record and prints it.
  void status(Chip_VM_Status* record);
  void status();

  // Gives the shreduler the global generators and channel counts.
  void set_adc_dac(Chip_UGen* dac, Chip_UGen* adc, Chip_UGen* blackhole, t_CPUINT num_outs,
                   t_CPUINT num_ins);
  // 0 or 1 turns adaptive processing off; 2 or more sets the largest block.
  void set_adaptive(t_CPUINT max_block_size);

  t_CPTIME now;                  // samples since the machine started
  t_CPBOOL rt_audio;             // read input and write output
  BBQ* bbq;                      // audio facade (not owned)
  Chip_VM_Shred* shred_list;     // head of the wake-time list
  Chip_VM_Shred* shred_tail;     // its last shred (latest wake time)
  std::map<Chip_VM_Shred*, Chip_VM_Shred*> blocked;
  Chip_VM_Shred* current_shred;  // being executed, or null
  Chip_UGen* dac;                // not owned
  Chip_UGen* adc;
  Chip_UGen* blackhole;
  t_CPUINT num_dac_channels;
  t_CPUINT num_adc_channels;
  Chip_VM_Status status_record;  // what status() prints
  t_CPUINT max_block_size;       // 0 when adaptive processing is off
  t_CPBOOL adaptive;
  t_CPDUR samps_until_next_wake;  // -1.0 when no shred waits
  // graph_in_blocks' last answer, and the graph version it holds for.
  t_CPBOOL graph_blocks;
  t_CPBOOL graph_checked;
  unsigned long graph_version;
};

#endif
