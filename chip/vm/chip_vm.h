// The virtual machine: the machine, its messages and its queues.
//
// Chip_VM ties together compiled code (chip_vm_code.h), shreds
// (chip_vm_shred.h) and the shreduler (chip_vm_shreduler.h). compute() runs
// every shred whose wake time is at most now + 0.5 samples, instruction by
// instruction (the loop is chip_vm_exec.h), until it advances time, waits on
// an event or ends; then it drains the event and message queues. run(frames)
// alternates compute() with the shreduler's advance.
//
// Threads: one thread runs the machine (the audio thread in callback mode,
// the caller of run() with audio off); every shred, instruction, message and
// graph operation happens there, and nothing on it takes a lock except the
// event queues of Chip_Event. Other threads reach the machine only through
// queue_msg (one writer thread) and queue_event (any number of writer
// threads: writers are serialised by a mutex, the reader stays lock-free)
// and through stop(). A silent endless run with nothing to compute sleeps
// until one of these comes (chip_vm_idle.h).
//
// Ownership: the machine holds one reference on each shred it sporked, from
// spork until the shred has been freed and then released with the dumped
// shreds. A freed shred is shut down at once (its stacks, open frames and
// temporaries given back, its unit generators taken out of the graph): only
// the small shred object waits in the dumped list.
//
// Limits a script can reach end its own shred, never the machine: a code is
// entered only when its register-stack bound (reg_depth) fits, and an
// instruction that runs out of memory ends its shred with OutOfMemory
// (chip_out_of_memory). Freeing a shred needs no memory.
#ifndef CHIP_CHIP_VM_H
#define CHIP_CHIP_VM_H

#include <atomic>
#include <string>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/util/util_buffers.h"
#include "chip/util/util_thread.h"
#include "chip/vm/chip_oo.h"
#include "chip/vm/chip_vm_code.h"
#include "chip/vm/chip_vm_idle.h"
#include "chip/vm/chip_vm_shred.h"
#include "chip/vm/chip_vm_shreduler.h"

class Chip_Event;
class BBQ;
struct Chip_UGen;

// Slots of each of the machine's three queues; a slot holds one pointer.
enum { CHIP_VM_QUEUE_SIZE = 1024 };

// The priority value that means "leave the thread's priority alone".
enum : t_CPINT { CHIP_VM_NO_PRIORITY = 2147483647 };

// ---------------------------------------------------------------------------
// A control request. Senders create it with new (every field zero) and hand
// it over with Chip_VM::queue_msg. Without a reply the machine deletes it
// after processing; with one it stores reply_value and puts the message on
// the reply queue, and the sender deletes it.
struct Chip_Msg {
  enum Kind : t_CPUINT {
    MSG_ADD = 1,
    MSG_REMOVE = 2,
    MSG_REMOVEALL = 3,
    MSG_REPLACE = 4,
    MSG_STATUS = 5,
    MSG_KILL = 7,
    MSG_TIME = 8,
    MSG_RESET_ID = 9
  };
  // The parameter of MSG_REMOVE that means the latest shred.
  static constexpr t_CPUINT LATEST = 0xFFFFFFFF;
  // The reply value of messages that carry no result.
  static constexpr t_CPUINT DONE = 0xFFFFFFF0;

  Chip_Msg();
  ~Chip_Msg();  // deletes args
  Chip_Msg(const Chip_Msg&) = delete;
  Chip_Msg& operator=(const Chip_Msg&) = delete;

  t_CPUINT kind;
  t_CPUINT param;                  // shred id, or LATEST
  Chip_VM_Code* code;              // code to spork or to put in place
  Chip_VM_Shred* shred;            // ready-made shred (instead of code)
  t_CPTIME reserved_time;          // not read by the machine
  Chip_VM_Status* status;          // record to fill for MSG_STATUS
  void* reply;                     // non-null: answer through the reply queue
  t_CPUINT reply_value;            // written by the machine
  t_CPUINT reserved_a;             // not read by the machine
  t_CPUINT reserved_b;             // not read by the machine
  std::vector<std::string>* args;  // arguments of a new shred (owned)
  // Run on the machine's thread before the message is carried out (null:
  // nothing); FALSE refuses the message with the reply value 0. A request
  // from another thread compiles its source here, where the compiler and
  // the type system are the machine's own.
  t_CPBOOL (*prepare)(Chip_Msg* msg);
  void* prepare_data;              // for prepare; not owned
};

// ---------------------------------------------------------------------------
// The virtual machine. One per process (g_vm).
class Chip_VM : public Chip_Object {
 public:
  // Uninitialised: halt on, block on, everything else zero or empty.
  Chip_VM();
  // Shuts down first when still initialised.
  ~Chip_VM() override;

  // Creates the facade, the shreduler and the three queues and hands the
  // settings to the facade. 0 with last_error() on failure.
  t_CPBOOL initialize(t_CPBOOL audio, t_CPBOOL halt, t_CPUINT srate, t_CPUINT buffer_size,
                      t_CPUINT num_buffers, t_CPUINT dac, t_CPUINT adc, t_CPUINT dac_chan,
                      t_CPUINT adc_chan, t_CPBOOL block, t_CPUINT adaptive);
  // Creates dac, adc and blackhole and opens the audio facade.
  t_CPBOOL initialize_synthesis();
  // Tears everything down; 0 unless initialised. Shreds still alive
  // (waiting, blocked or interrupted) are freed and released, and links
  // among dac, adc and blackhole are cut before they are released.
  t_CPBOOL shutdown();

  // Runs until stopped (blocks the caller).
  t_CPBOOL run();
  // Computes that many frames (negative: endless). 1 when the machine
  // stopped during the call, 0 when the count ran out.
  t_CPBOOL run(t_CPWORD num_samps);
  // One pass of shred execution and queue draining; FALSE when the machine
  // should stop (halt on and no shred left). compute and run(frames) work on
  // any initialised machine until stop() is requested (run() itself is not
  // needed: the audio callback and tests drive them directly).
  t_CPBOOL compute();

  // A new shred for code (stacks of the standard sizes), scheduled now.
  Chip_VM_Shred* spork(Chip_VM_Code* code, Chip_VM_Shred* parent);
  // Gives an initialised shred its id and schedules it now.
  Chip_VM_Shred* spork(Chip_VM_Shred* shred);
  // Frees a shred and, first, its children; cascade must be TRUE. A freed
  // shred is shut down at once (stacks, frames, unit generators), unless it
  // is the one executing, which is shut down when it stops; the machine's
  // reference goes with the dumped shreds.
  t_CPBOOL free(Chip_VM_Shred* shred, t_CPBOOL cascade, t_CPBOOL dec = TRUE);
  // Asks the running shred to stop before its next instruction (machine's
  // thread).
  t_CPBOOL abort_current_shred();
  // The same from any thread: the shred running when the machine next looks
  // (before an instruction, or between shreds) is aborted; with none running
  // the request lapses.
  void request_abort();
  // Asks the machine to stop (any thread).
  t_CPBOOL stop();

  // Queue writers. queue_msg: one writer thread. queue_event: any thread;
  // writers are serialised. count must be 1; returns count.
  t_CPUINT queue_msg(Chip_Msg* msg, t_CPUINT count);
  t_CPUINT queue_event(Chip_Event* event, t_CPUINT count);
  // Reader of the reply queue (senders): a processed message that asked for
  // a reply, or null.
  Chip_Msg* get_reply();

  // Carries one message out; returns the reply value.
  t_CPUINT process_msg(Chip_Msg* msg);
  // Releases the dumped shreds.
  void release_dump();

  Chip_VM_Shreduler* shreduler() const { return m_shreduler; }
  // Sample rate of the audio facade.
  t_CPUINT srate() const;
  // Starts the audio units once (marks audio started in every case). FALSE
  // when the output side does not start: the last error says so and the
  // machine stops.
  t_CPBOOL start_audio();

  // Sets the calling thread's real-time priority (round-robin).
  static t_CPBOOL set_priority(t_CPINT priority, Chip_VM* vm);
  // Priority of the engine's real-time threads; CHIP_VM_NO_PRIORITY: none.
  static t_CPINT our_priority;
  // Called by the kill message before the machine stops (the driver sets
  // it to its all_detach); may be null.
  static void (*our_detach)();
  // Whether a kill message stopped the machine (any thread).
  t_CPBOOL killed() const { return m_killed; }

  // Accessors.
  Chip_UGen* dac() const { return m_dac; }
  Chip_UGen* adc() const { return m_adc; }
  Chip_UGen* blackhole() const { return m_blackhole; }
  BBQ* bbq() const { return m_bbq; }
  const std::string& last_error() const { return m_last_error; }
  t_CPBOOL is_running() const { return m_is_running; }
  t_CPBOOL is_init() const { return m_init; }
  t_CPBOOL has_audio() const { return m_audio; }
  t_CPBOOL halt() const { return m_halt; }
  t_CPBOOL block() const { return m_block; }
  t_CPUINT num_shreds() const { return m_num_shreds; }
  t_CPUINT last_shred_id() const { return m_last_shred_id; }
  t_CPUINT num_dumped_shreds() const { return m_num_dumped_shreds; }
  t_CPUINT num_adc_channels() const { return m_num_adc_channels; }
  t_CPUINT num_dac_channels() const { return m_num_dac_channels; }

 protected:
  // Removal of the latest shred (MSG_REMOVE with Chip_Msg::LATEST).
  t_CPUINT remove_latest();
  // Takes a shred out of the list or the blocked map; FALSE when it is in
  // neither.
  t_CPBOOL unschedule(Chip_VM_Shred* shred);
  // Runs one ready shred until it yields, ends or is aborted.
  void run_shred(Chip_VM_Shred* shred);
  // run_shred's loop over the shred's decoded code (chip_vm_exec.h).
  void run_decoded(Chip_VM_Shred* shred);
  // Makes room in the dumped list for every shred alive and `more`, so that
  // free() needs no memory; throws std::bad_alloc when there is none.
  void make_room_to_dump(t_CPUINT more);

  Chip_UGen* m_adc;
  Chip_UGen* m_dac;
  Chip_UGen* m_blackhole;
  t_CPUINT m_num_adc_channels;
  t_CPUINT m_num_dac_channels;
  t_CPBOOL m_halt;
  t_CPBOOL m_audio;
  t_CPBOOL m_block;
  t_CPBOOL m_init;
  // Read by the audio callback, written by the thread that starts the device.
  std::atomic<t_CPBOOL> m_audio_started;
  t_CPBOOL m_audio_failed;  // the output side did not start
  std::string m_last_error;
  std::vector<Chip_VM_Shred*> m_shreds;  // never filled; emptied by shutdown
  t_CPUINT m_num_shreds;
  t_CPUINT m_last_shred_id;
  Chip_VM_Shreduler* m_shreduler;
  std::vector<Chip_VM_Shred*> m_dumped;
  t_CPUINT m_num_dumped_shreds;
  BBQ* m_bbq;
  CBufferSimple* m_msg_buffer;
  CBufferSimple* m_reply_buffer;
  CBufferSimple* m_event_buffer;
  XMutex m_event_writer_lock;  // serialises the writers of m_event_buffer
  std::atomic<t_CPBOOL> m_is_running;  // set by run(), cleared by stop()
  // Set by stop() (any thread) and shutdown, cleared by run(): shreds stop
  // before their next instruction and run(frames) returns.
  std::atomic<t_CPBOOL> m_stop_requested;
  // Set by request_abort (any thread), taken by the machine's thread.
  std::atomic<t_CPBOOL> m_abort_requested{FALSE};
  std::atomic<t_CPBOOL> m_killed{FALSE};
  // The shred inside run_shred, or null: free() leaves its stacks alone.
  Chip_VM_Shred* m_executing = nullptr;
  // Raised by queue_msg, queue_event and stop(): wakes an idle run.
  Chip_VM_Wake m_wake;
};

// The one machine of the process: set by the driver right after construction
// and cleared before deletion. Object creation without a shred and the audio
// facade's start use it.
extern Chip_VM* g_vm;

#endif
