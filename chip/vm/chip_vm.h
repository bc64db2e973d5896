// The virtual machine: compiled code, shreds, the shreduler and the machine.
//
// Chip_VM_Code is a compiled unit (a file's top level or one function): an
// array of instructions plus what a call needs to know about it. A shred
// (Chip_VM_Shred) is one thread of the language: it runs one code with a
// program counter over two private stacks, has an id, a wake time, a parent
// and children, and records the unit generators it created. The shreduler
// (Chip_VM_Shreduler) keeps time ("now", a double count of samples) and the
// shreds that wait: a list sorted by wake time (equal wake times first in,
// first out) and a map of shreds blocked on events. Each sample, or each
// adaptive block of samples, it advances now, feeds input into `adc` and
// pulls the unit-generator graph from `dac` and `blackhole`.
//
// Chip_VM ties these together. compute() runs every shred whose wake time is
// at most now + 0.5 samples, instruction by instruction, until it advances
// time, waits on an event or ends; then it drains the event and message
// queues. run(frames) alternates compute() with the shreduler's advance.
//
// Threads: one thread runs the machine (the audio thread in callback mode,
// the caller of run() with audio off); every shred, instruction, message and
// graph operation happens there, and nothing on it takes a lock except the
// event queues of Chip_Event. Other threads reach the machine only through
// queue_msg (one writer thread) and queue_event (any number of writer
// threads: writers are serialised by a mutex, the reader stays lock-free)
// and through stop().
//
// Ownership: the machine holds one reference on each shred it sporked, from
// spork until the shred has been freed and then released with the dumped
// shreds. A freed shred is shut down at once (its stacks, open frames and
// temporaries given back, its unit generators taken out of the graph): only
// the small shred object waits in the dumped list. A shred holds one
// reference on the code it started with, and on that code's keeper. The
// shred's ugen registry holds no references; when the shred is shut down it
// clears each generator's back-pointer and disconnects it from the graph.
//
// Limits a script can reach end its own shred, never the machine: a code is
// entered only when its register-stack bound (reg_depth) fits, and an
// instruction that runs out of memory ends its shred with OutOfMemory
// (chip_out_of_memory). Freeing a shred needs no memory.
#ifndef CHIP_CHIP_VM_H
#define CHIP_CHIP_VM_H

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/util/util_buffers.h"
#include "chip/util/util_thread.h"
#include "chip/vm/chip_oo.h"

class Chip_Instr;
struct Chip_Decoded;
class Chip_Event;
class Chip_VM;
class BBQ;
struct Chip_UGen;
struct Chip_VM_Shred;
struct Chip_VM_Status;

// Stack sizes of every shred the machine creates, in bytes.
enum {
  CHIP_VM_MEM_STACK_SIZE = 0x10000,  // 65,536: locals, frames, file-level variables
  CHIP_VM_REG_STACK_SIZE = 0x4000    // 16,384: the instructions' operand stack
};

// Slots of each of the machine's three queues; a slot holds one pointer.
enum { CHIP_VM_QUEUE_SIZE = 1024 };

// A shred due at most this many samples in the future runs in this sample.
#define CHIP_VM_WAKE_TOLERANCE 0.5

// Largest channel count of one frame moved between the graph and the facade.
enum { CHIP_VM_MAX_FRAME_CHANNELS = 128 };

// The priority value that means "leave the thread's priority alone".
enum : t_CPINT { CHIP_VM_NO_PRIORITY = 2147483647 };

// ---------------------------------------------------------------------------
// Compiled code.
struct Chip_VM_Code : Chip_Object {
  // Kind of the native function of an imported function (0 for compiled code).
  enum NativeKind : t_CPUINT {
    NATIVE_NONE = 0,
    NATIVE_CTOR = 1,  // constructor (self, args, shred)
    NATIVE_MFUN = 2,  // member function (self, args, return, shred)
    NATIVE_SFUN = 3,  // static function (args, return, shred)
    NATIVE_DTOR = 4   // destructor (self, shred), run when the object is freed
  };

  // No instructions, count 0, empty name, every other field 0.
  Chip_VM_Code();
  // Deletes every non-null instruction, then the array.
  ~Chip_VM_Code() override;

  Chip_Instr** instr;            // num_instr instructions, owned (new[])
  t_CPUINT num_instr;
  std::string name;
  t_CPUWORD stack_depth;         // bytes of the arguments, `this` included
  t_CPUWORD frame_depth;         // bytes of the whole frame: arguments and locals
  // At most this many bytes are pushed on the register stack by the code's
  // own instructions above the depth at its entry (0 for native code). A
  // call, and a shred's start, refuses to enter the code when they would
  // not fit, so that no expression writes past the end of the stack.
  t_CPUWORD reg_depth;
  t_CPBOOL need_this;            // member function: takes the object pointer
  // Byte offsets in the frame of the local variables that hold objects.
  // Each holds one reference (or null); a call clears them on entry and the
  // frame gives their references back when it ends.
  std::vector<t_CPUWORD> obj_locals;
  void* native_func;             // native function of an imported function
  t_CPUINT native_func_type;     // a NativeKind
  // The instructions decoded for the machine's loop (chip_vm_decode.h),
  // made when the code first runs; owned.
  Chip_Decoded* decoded;
  // The object the code's instructions live as long as (the compilation
  // context of a file's code or of a spork), or null: a shred started from
  // the code holds it too, from its initialisation to its shutdown.
  Chip_VM_Object* keeper = nullptr;
};

// ---------------------------------------------------------------------------
// One of a shred's two stacks. The allocation begins 16 bytes below `stack`;
// sp_max leaves a sixteenth of the allocation as a margin that the call
// instructions' overflow check relies on.
struct Chip_Shred_Stack {
  Chip_Shred_Stack();
  ~Chip_Shred_Stack();
  Chip_Shred_Stack(const Chip_Shred_Stack&) = delete;
  Chip_Shred_Stack& operator=(const Chip_Shred_Stack&) = delete;

  // Allocates size + 16 zeroed bytes: stack = sp = start + 16,
  // sp_max = stack + S - S/16 with S = size + 16. FALSE when already
  // initialised or the allocation fails. A large stack is mapped from the
  // system (outside sanitizer builds): its pages come zeroed and cost
  // memory only once used, so a shred pays for the depth it reaches.
  t_CPBOOL initialize(t_CPUWORD size);
  // Frees the allocation; the record can be initialised again.
  void shutdown();

  unsigned char* stack;   // start of the usable area
  unsigned char* sp;      // first free byte
  unsigned char* sp_max;  // overflow limit of the call instructions
  t_CPBOOL initialized;
  t_CPUWORD size;         // usable bytes (the argument of initialize)
  t_CPUWORD mapped;       // bytes mapped for a mapped stack, else 0
};

// ---------------------------------------------------------------------------
// One thread of the language.
struct Chip_VM_Shred : Chip_Object {
  Chip_VM_Shred();
  // Runs shutdown(), then drops its maps and arguments.
  ~Chip_VM_Shred() override;

  // Allocates both stacks (the memory stack with mem_st_size bytes above the
  // code's own frame), takes a reference on code and sets up the program
  // counter and flags; then initialises the shred as an object of the
  // language's Shred type. FALSE when the stacks exist already or cannot be
  // allocated ("[chip](VM): OutOfMemory: while allocating stack '%s'\n"), or
  // when the object cannot be initialised (the shred is then shut down).
  t_CPBOOL initialize(Chip_VM_Code* code, t_CPUWORD mem_st_size = CHIP_VM_MEM_STACK_SIZE,
                      t_CPUWORD reg_st_size = CHIP_VM_REG_STACK_SIZE);
  // Detaches and disconnects the unit generators it owns (each generator's
  // back-pointer is cleared first), frees both stacks and releases its code.
  // Safe to call more than once.
  t_CPBOOL shutdown();

  // The registry of unit generators created by this shred (no references).
  // add: FALSE when ugen is registered already; remove: FALSE when it is not.
  t_CPBOOL add(Chip_UGen* ugen);
  t_CPBOOL remove(Chip_UGen* ugen);

  Chip_Shred_Stack* mem;       // memory stack
  Chip_Shred_Stack* reg;       // register stack
  Chip_Shred_Stack* base_ref;  // stack holding the file-level variables
  Chip_VM_Code* code;          // code being executed
  Chip_VM_Code* start_code;    // code the shred started with (referenced)
  Chip_Instr** instr;          // code->instr
  Chip_VM_Shred* parent;       // the sporking shred, or null
  std::map<t_CPUINT, Chip_VM_Shred*> children;  // by id, no references
  t_CPUINT pc;                 // instruction to execute
  Chip_VM* vm_ref;             // owning machine
  t_CPTIME now;                // the shred's view of now (its wake time)
  t_CPTIME start;              // when it was sporked
  t_CPTIME wake_time;          // when it is to run next
  t_CPUINT next_pc;            // becomes pc after the current instruction
  t_CPBOOL is_done;            // finished, to be freed
  t_CPBOOL is_running;         // executing; cleared when it yields
  t_CPBOOL is_abort;           // asked to stop before its next instruction
  t_CPBOOL is_dumped;          // freed, waiting in the dumped list
  Chip_Event* event;           // event it waits on, or null
  std::map<Chip_UGen*, Chip_UGen*> ugens;  // generators it created
  t_CPUINT id;                 // 0 before spork and after freeing
  std::string name;
  std::vector<std::string> args;
  Chip_VM_Shred* prev;         // links of the shreduler's wake-time list
  Chip_VM_Shred* next;

  // Statement temporaries. An object made while a statement runs (a new
  // string or object, the value a function returns) is held here by one
  // reference, tagged with the memory-stack base of the frame whose
  // statement it belongs to, until that statement ends: whatever stored the
  // object took its own reference by then, and what nothing stored is freed.
  struct Temp {
    Chip_VM_Object* object;
    unsigned char* frame;
  };
  std::vector<Temp> temps;
};

// Holds object (if not null) as a temporary of the running frame's statement.
void chip_hold_temp(Chip_VM_Shred* shred, Chip_VM_Object* object);
// Takes over an existing reference on object as a temporary of the frame at
// `frame` (no count changes).
void chip_adopt_temp(Chip_VM_Shred* shred, Chip_VM_Object* object, unsigned char* frame);
// Releases the temporaries of the running frame and of the frames above it.
void chip_release_temps(Chip_VM_Shred* shred);
// A frame at `from` ends: its temporaries become those of the frame at `to`
// (the caller), whose statement is still using them.
void chip_pass_temps(Chip_VM_Shred* shred, unsigned char* from, unsigned char* to);

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
};

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
  // run_shred's loop over the shred's decoded code (chip_vm_decode.h).
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
};

// The one machine of the process: set by the driver right after construction
// and cleared before deletion. Object creation without a shred and the audio
// facade's start use it.
extern Chip_VM* g_vm;

#endif
