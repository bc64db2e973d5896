// The integration store: the one key/value table through which the
// application and the running scripts talk.
//
// Vexel_Integration keeps four tables, keyed by text compared byte-wise:
// floats (double), integers (32-bit signed), key callbacks (fired by
// call_external) and set callbacks (run after every write of their key). The
// float and integer tables are separate: one key may live in both with
// unrelated values. A fifth table names record queues (VXign_Queue) that the
// store does not own. A read of a missing key answers 0 and creates nothing.
//
// Writes notify: set_float / set_int store the value first and then run the
// key's set callback, on the writer's thread, before they return, so the
// callback may read the value it is told about.
//
// Threads: the store is used from the main thread, the engine thread and the
// audio thread (the script natives). One reader/writer lock guards the
// tables, so a key inserted on one thread never disturbs a lookup on
// another. The lock is never held while a callback runs: the callback record
// is copied under the lock and called after it is released, so callbacks may
// use the store freely (also re-entrantly).
//
// VXign_Queue is a named queue of fixed-width records, one writer thread
// (push) and one reader thread (has_more / next / the getters, the audio
// thread for scripts) without a lock. Its members (name, type tag, byte
// offset inside a record) are declared before the queue is shared. Before
// the first next() the current record is all zeros. A getter that breaks the
// queue's contract (a member of the other type, an index past the member
// list) answers 0 and logs the broken condition; it never stops the process.
#ifndef VXU_VXIGN_H
#define VXU_VXIGN_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <shared_mutex>
#include <string>
#include <vector>

#include "chip/chip.h"

struct Chip_Env;

// A callback of the store: the function gets the user data and the key.
struct VXIgn_Callback {
  void (*func)(void* userData, const char* key);
  void* userData;
};

// Type tags of queue record members.
enum : uint32_t {
  kVXIgnTypeFloat = 0x54666C6F,  // 'Tflo': a 32-bit float
  kVXIgnTypeInt = 0x54696E74,    // 'Tint': a 32-bit signed integer
};

// A member of a queue record: its type tag and byte offset in the record.
struct VXIgn_Member_Data {
  uint32_t type;
  size_t offset;
};

// A named queue of fixed-width records (see above).
class VXign_Queue {
 public:
  // A queue of records of record_width bytes, holding up to capacity - 1
  // unread records (a writer that laps the reader overwrites them).
  VXign_Queue(size_t record_width, size_t capacity);
  ~VXign_Queue();
  VXign_Queue(const VXign_Queue&) = delete;
  VXign_Queue& operator=(const VXign_Queue&) = delete;

  // Declaration (before the queue is shared): a member of the given tag at
  // the byte offset. False when the name is taken, the tag unknown or the
  // 4-byte member does not fit in a record.
  bool declare_member(const std::string& name, uint32_t type, size_t offset);
  size_t record_width() const { return m_record_width; }
  size_t member_count() const { return m_indexed_data_desc.size(); }

  // Writer side: copies one record of record_width bytes in.
  void push(const void* record);

  // Reader side. has_more: at least one record waits. next: the oldest
  // waiting record becomes the current record (nothing when none waits).
  bool has_more();
  void next();
  // Members of the current record (0 until next() found a record): by name,
  // by declaration index, widened to double / as integer. 0 for a missing
  // name, an index out of range or a member of the other type.
  double get_float_by_name(const std::string& name) const;
  double get_float_by_param_index(long paramIndex) const;
  int32_t get_int(const std::string& name) const;

 private:
  double float_of(const VXIgn_Member_Data& memberData) const;

  size_t m_record_width;
  CBufferSimple m_buffer;
  std::vector<unsigned char> m_waiting;  // a record taken from the ring early
  bool m_has_waiting = false;
  std::vector<unsigned char> m_current;
  std::map<std::string, VXIgn_Member_Data> m_named_data_desc;
  std::vector<VXIgn_Member_Data> m_indexed_data_desc;
};

// Keys of the device (global text constants).
extern const std::string VXIGN_IPHONE_GENERATION_KEY;   // "iPhone: g"
extern const std::string VXIGN_GENERATION_KEY;          // "G"
extern const std::string VXIGN_CHIP_READY_KEY;          // "iPhone: chip ready"
extern const std::string VXIGN_VIBRATE_KEY;             // "iPhone: vibrate"
extern const std::string VXIGN_SWITCH_TO_SPEAKER_KEY;   // "iPhone: switch to speaker"
extern const std::string VXIGN_SWITCH_TO_RECEIVER_KEY;  // "iPhone: to receiver and mic"
extern const std::string VXIGN_MIC_POWER_KEY;           // "iPhone: Mic power"

class Vexel_Integration {
 public:
  // A registration function run with the type environment while the script
  // classes are declared; false on failure.
  using ExtraFunction = bool (*)(Chip_Env* env);

  // The process's store, made on first call (thread-safe), destroyed at exit.
  static Vexel_Integration& instance();

  // Tests build stores of their own; the application uses instance().
  Vexel_Integration();
  virtual ~Vexel_Integration();
  Vexel_Integration(const Vexel_Integration&) = delete;
  Vexel_Integration& operator=(const Vexel_Integration&) = delete;

  // Values: a missing key reads 0. A write stores, then runs the key's set
  // callback (when it has a function). Any thread.
  double get_float(const std::string& key) const;
  void set_float(const std::string& key, double value);
  int32_t get_int(const std::string& key) const;
  void set_int(const std::string& key, int32_t value);
  // Whether a value was ever written under the key (tests, diagnostics).
  bool has_float(const std::string& key) const;
  bool has_int(const std::string& key) const;
  // Forgets every value (not the callbacks or queues): a test that writes
  // keys of the process's store leaves none behind for the next one.
  void clear_values();

  // Callbacks: a later registration for a key replaces the earlier. Any
  // thread.
  void register_key_callback(const std::string& key, VXIgn_Callback cb);
  void register_set_callback(const std::string& key, VXIgn_Callback cb);
  // Runs the key callback of the key (when it has a function), on the
  // calling thread; nothing for a key without one.
  void call_external(const std::string& key);

  // Queues (not owned; a queue must outlive every script that uses it).
  // lookup_queue: the queue under the name, or null; an unknown name gains
  // an empty entry. set_queue puts a queue under the name.
  VXign_Queue* lookup_queue(const std::string& name);
  void set_queue(const std::string& name, VXign_Queue* queue);
  // Whether the queue table has an entry under the name (empty or not).
  bool has_queue_entry(const std::string& name) const;

  // Run once per process while the script classes are declared (on the
  // thread that starts the engine): sets vxign_query_called and runs each
  // extra function in order, false at the first failure. A second run is a
  // programming error: it logs "vxign.vxign_query_called == false" and
  // answers false.
  bool vxign_register_extra_functions(Chip_Env* env);
  void add_extra_function(ExtraFunction fn);

  // True once the script classes were declared. Tests that declare them into
  // a new type environment set it back to false first.
  std::atomic<bool> vxign_query_called{false};

 private:
  bool callback_for(const std::map<std::string, VXIgn_Callback>& table, const std::string& key,
                    VXIgn_Callback* out) const;

  mutable std::shared_mutex m_lock;  // guards every table below
  std::map<std::string, VXIgn_Callback> m_key_callbacks;
  std::map<std::string, VXIgn_Callback> m_set_callbacks;
  std::map<std::string, double> m_floats;
  std::map<std::string, int32_t> m_ints;
  std::map<std::string, VXign_Queue*> m_queues;
  std::vector<ExtraFunction> m_extra_functions;
};

#endif
