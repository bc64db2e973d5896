// The integration store: values, key and set callbacks, the run-once
// registration, record queues, and many threads writing and reading at once.
#include "vxu/vxign.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "vx_log_capture.h"

namespace {

// Runs fn on a thread of its own; a call that does not return within the
// bound (a lock held across a callback deadlocks) ends the test program.
template <typename Fn>
void within_bound(Fn fn) {
  std::packaged_task<void()> task(fn);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
    std::fprintf(stderr, "store call did not return: a lock is held across a callback\n");
    std::abort();
  }
  runner.join();
  done.get();
}

// Records each call of a callback: the key and what the store held then.
struct Recorder {
  Vexel_Integration* store;
  std::vector<std::string> keys;
  std::vector<double> floats_seen;
  std::vector<int32_t> ints_seen;

  static void on_call(void* userData, const char* key) {
    auto* self = static_cast<Recorder*>(userData);
    self->keys.push_back(key);
    self->floats_seen.push_back(self->store->get_float(key));
    self->ints_seen.push_back(self->store->get_int(key));
  }
  VXIgn_Callback callback() { return {&Recorder::on_call, this}; }
};

TEST(IntegrationStore, ValuesReadZeroUntilWrittenAndTheTwoTablesAreSeparate) {
  Vexel_Integration store;
  EXPECT_EQ(store.get_float("never"), 0.0);
  EXPECT_EQ(store.get_int("never"), 0);

  store.set_float("k", 2.5);
  EXPECT_EQ(store.get_float("k"), 2.5);
  EXPECT_EQ(store.get_int("k"), 0);
  store.set_int("k", -7);
  EXPECT_EQ(store.get_int("k"), -7);
  EXPECT_EQ(store.get_float("k"), 2.5);

  store.set_float("k", -0.25);
  store.set_int("k", INT32_MAX);
  EXPECT_EQ(store.get_float("k"), -0.25);
  EXPECT_EQ(store.get_int("k"), INT32_MAX);
  // Keys compare byte-wise.
  EXPECT_EQ(store.get_float("K"), 0.0);
  EXPECT_EQ(store.get_float("k "), 0.0);
}

TEST(IntegrationStore, SetCallbackRunsAfterEveryWriteWithTheNewValueVisible) {
  Vexel_Integration store;
  Recorder rec{&store, {}, {}, {}};
  store.register_set_callback("watched", rec.callback());

  store.set_float("watched", 0.5);
  store.set_float("watched", 0.5);  // unchanged: still notified
  store.set_int("watched", 3);
  store.set_float("other", 1.0);  // no callback for this key
  EXPECT_EQ(rec.keys, (std::vector<std::string>{"watched", "watched", "watched"}));
  EXPECT_EQ(rec.floats_seen, (std::vector<double>{0.5, 0.5, 0.5}));
  EXPECT_EQ(rec.ints_seen, (std::vector<int32_t>{0, 0, 3}));

  // A set callback is not a key callback.
  store.call_external("watched");
  EXPECT_EQ(rec.keys.size(), 3u);
}

TEST(IntegrationStore, KeyCallbacksRunOnlyForTheirKeyAndALaterOneReplacesTheFirst) {
  Vexel_Integration store;
  Recorder first{&store, {}, {}, {}};
  Recorder second{&store, {}, {}, {}};

  store.call_external("iPhone: vibrate");  // no callback: nothing happens
  store.register_key_callback("iPhone: vibrate", first.callback());
  store.call_external("iPhone: vibrate");
  store.call_external("iPhone: chip ready");
  EXPECT_EQ(first.keys, std::vector<std::string>{"iPhone: vibrate"});

  store.register_key_callback("iPhone: vibrate", second.callback());
  store.call_external("iPhone: vibrate");
  EXPECT_EQ(first.keys.size(), 1u);
  EXPECT_EQ(second.keys, std::vector<std::string>{"iPhone: vibrate"});

  // Replacing a set callback likewise; a record without a function is silent.
  store.register_set_callback("v", first.callback());
  store.register_set_callback("v", second.callback());
  store.set_float("v", 1.0);
  EXPECT_EQ(first.keys.size(), 1u);
  EXPECT_EQ(second.keys.size(), 2u);
  store.register_set_callback("v", {nullptr, &first});
  store.register_key_callback("iPhone: vibrate", {nullptr, &first});
  store.set_float("v", 2.0);
  store.call_external("iPhone: vibrate");
  EXPECT_EQ(first.keys.size(), 1u);
  EXPECT_EQ(second.keys.size(), 2u);
  EXPECT_EQ(store.get_float("v"), 2.0);
}

TEST(IntegrationStore, CallbacksMayUseTheStoreBecauseNoLockIsHeldWhileTheyRun) {
  Vexel_Integration store;
  struct Ctx {
    Vexel_Integration* store;
    int calls = 0;
  } ctx{&store};
  auto reenter = [](void* userData, const char* key) {
    auto* c = static_cast<Ctx*>(userData);
    if (++c->calls > 1) return;
    // Writes (inserting new keys), registrations and a nested notification.
    c->store->set_float(std::string(key) + " echo", c->store->get_float(key) * 2);
    c->store->set_int("fresh", 1);
    c->store->register_key_callback("late", {nullptr, nullptr});
    c->store->call_external(key);
    c->store->lookup_queue("q");
  };
  store.register_set_callback("x", {reenter, &ctx});
  store.register_key_callback("x", {reenter, &ctx});
  within_bound([&] { store.set_float("x", 4.0); });
  EXPECT_EQ(store.get_float("x echo"), 8.0);
  EXPECT_EQ(ctx.calls, 2);  // the set callback, then the key callback it fired
  ctx.calls = 0;
  within_bound([&] { store.call_external("x"); });
  EXPECT_EQ(ctx.calls, 2);  // the key callback, then the one it fired itself
}

TEST(IntegrationStore, ManyThreadsWritingAndReadingAtOnce) {
  Vexel_Integration store;
  constexpr int kWriters = 4, kReaders = 4, kKeys = 300;
  std::atomic<int> notified{0};
  store.register_set_callback("w0 k0", {[](void* n, const char*) {
                                          static_cast<std::atomic<int>*>(n)->fetch_add(1);
                                        },
                                        &notified});
  std::atomic<bool> writing{true};
  std::atomic<long> reads{0};
  // Writers start once every reader has read once, so the reads overlap the
  // writes even when the machine is busy and schedules the writers first.
  std::atomic<int> readers_reading{0};
  std::vector<std::thread> threads;
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      while (readers_reading.load() < kReaders) std::this_thread::yield();
      for (int i = 0; i < kKeys; ++i) {
        std::string key = "w" + std::to_string(w) + " k" + std::to_string(i);
        store.set_float(key, i + 0.5);
        store.set_int(key, i);
        store.lookup_queue(key);
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      // Each value read is either absent (0) or the one final value.
      bool counted = false;
      while (writing.load()) {
        for (int i = 0; i < kKeys; i += 7) {
          std::string key = "w" + std::to_string(r % kWriters) + " k" + std::to_string(i);
          double f = store.get_float(key);
          int32_t n = store.get_int(key);
          if ((f != 0.0 && f != i + 0.5) || (n != 0 && n != i)) {
            ADD_FAILURE() << key << " read " << f << " / " << n;
            if (!counted) readers_reading.fetch_add(1);  // never keep writers waiting
            return;
          }
          store.call_external(key);
          reads.fetch_add(1);
        }
        if (!counted) {
          counted = true;
          readers_reading.fetch_add(1);
        }
      }
    });
  }
  for (int w = 0; w < kWriters; ++w) threads[w].join();
  writing = false;
  for (size_t t = kWriters; t < threads.size(); ++t) threads[t].join();

  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(notified.load(), 2);  // set_float and set_int of "w0 k0"
  for (int w = 0; w < kWriters; ++w) {
    for (int i = 0; i < kKeys; ++i) {
      std::string key = "w" + std::to_string(w) + " k" + std::to_string(i);
      ASSERT_EQ(store.get_float(key), i + 0.5) << key;
      ASSERT_EQ(store.get_int(key), i) << key;
      ASSERT_TRUE(store.has_queue_entry(key)) << key;
    }
  }
}

TEST(IntegrationStore, TheProcessHasOneStore) {
  Vexel_Integration* seen[4] = {};
  std::vector<std::thread> threads;
  for (auto& s : seen) threads.emplace_back([&s] { s = &Vexel_Integration::instance(); });
  for (auto& t : threads) t.join();
  for (auto* s : seen) EXPECT_EQ(s, &Vexel_Integration::instance());
}

TEST(IntegrationStore, DeviceKeysAreTheirTexts) {
  EXPECT_EQ(VXIGN_IPHONE_GENERATION_KEY, "iPhone: g");
  EXPECT_EQ(VXIGN_GENERATION_KEY, "G");
  EXPECT_EQ(VXIGN_CHIP_READY_KEY, "iPhone: chip ready");
  EXPECT_EQ(VXIGN_VIBRATE_KEY, "iPhone: vibrate");
  EXPECT_EQ(VXIGN_SWITCH_TO_SPEAKER_KEY, "iPhone: switch to speaker");
  EXPECT_EQ(VXIGN_SWITCH_TO_RECEIVER_KEY, "iPhone: to receiver and mic");
  EXPECT_EQ(VXIGN_MIC_POWER_KEY, "iPhone: Mic power");
}

// ---------------------------------------------------------------------------
// The run-once registration of extra functions.

std::vector<int> g_extra_calls;
bool extra_one(Chip_Env*) { return g_extra_calls.push_back(1), true; }
bool extra_two_fails(Chip_Env*) { return g_extra_calls.push_back(2), false; }
bool extra_three(Chip_Env*) { return g_extra_calls.push_back(3), true; }

TEST(IntegrationStore, ExtraFunctionsRunOnceInOrderAndStopAtTheFirstFailure) {
  {
    Vexel_Integration store;
    g_extra_calls.clear();
    store.add_extra_function(extra_one);
    store.add_extra_function(extra_three);
    EXPECT_FALSE(store.vxign_query_called);
    EXPECT_TRUE(store.vxign_register_extra_functions(nullptr));
    EXPECT_TRUE(store.vxign_query_called);
    EXPECT_EQ(g_extra_calls, (std::vector<int>{1, 3}));

    // A second run is refused and reported.
    g_extra_calls.clear();
    std::vector<std::string> lines =
        printed_lines([&] { EXPECT_FALSE(store.vxign_register_extra_functions(nullptr)); });
    EXPECT_EQ(lines, std::vector<std::string>{"vxign.vxign_query_called == false"});
    EXPECT_TRUE(g_extra_calls.empty());
  }
  {
    Vexel_Integration store;
    g_extra_calls.clear();
    store.add_extra_function(extra_one);
    store.add_extra_function(extra_two_fails);
    store.add_extra_function(extra_three);
    EXPECT_FALSE(store.vxign_register_extra_functions(nullptr));
    EXPECT_EQ(g_extra_calls, (std::vector<int>{1, 2}));
  }
}

// ---------------------------------------------------------------------------
// Record queues.

struct Record {
  float gain;
  int32_t note;
  float pitch;
};

class RecordQueueTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(queue.declare_member("gain", kVXIgnTypeFloat, offsetof(Record, gain)));
    ASSERT_TRUE(queue.declare_member("note", kVXIgnTypeInt, offsetof(Record, note)));
    ASSERT_TRUE(queue.declare_member("pitch", kVXIgnTypeFloat, offsetof(Record, pitch)));
  }
  void push(float gain, int32_t note, float pitch) {
    Record r{gain, note, pitch};
    queue.push(&r);
  }
  VXign_Queue queue{sizeof(Record), 8};
};

TEST_F(RecordQueueTest, DeclarationsAreChecked) {
  EXPECT_EQ(queue.member_count(), 3u);
  EXPECT_FALSE(queue.declare_member("gain", kVXIgnTypeFloat, 0));  // name taken
  EXPECT_FALSE(queue.declare_member("x", 0x54787878, 0));          // unknown tag
  EXPECT_FALSE(queue.declare_member("y", kVXIgnTypeInt, sizeof(Record) - 3));  // past the end
  EXPECT_TRUE(queue.declare_member("last", kVXIgnTypeInt, sizeof(Record) - 4));
  EXPECT_EQ(queue.member_count(), 4u);
}

TEST_F(RecordQueueTest, RecordsComeOutInOrderAndMembersReadByNameAndIndex) {
  EXPECT_FALSE(queue.has_more());
  EXPECT_EQ(queue.get_float_by_name("gain"), 0.0);  // no current record yet
  queue.next();                                     // nothing waits: nothing happens
  EXPECT_EQ(queue.get_int("note"), 0);

  push(0.25f, 60, 261.5f);
  push(-1.5f, -3, 7.0f);
  ASSERT_TRUE(queue.has_more());
  ASSERT_TRUE(queue.has_more());  // asking twice keeps the record
  queue.next();
  EXPECT_EQ(queue.get_float_by_name("gain"), 0.25);
  EXPECT_EQ(queue.get_int("note"), 60);
  EXPECT_EQ(queue.get_float_by_param_index(2), 261.5);
  ASSERT_TRUE(queue.has_more());
  queue.next();
  EXPECT_EQ(queue.get_float_by_param_index(0), -1.5);
  EXPECT_EQ(queue.get_int("note"), -3);
  EXPECT_FALSE(queue.has_more());
  queue.next();  // the current record stays
  EXPECT_EQ(queue.get_float_by_name("pitch"), 7.0);
}

TEST_F(RecordQueueTest, ABrokenContractAnswersZeroAndIsReported) {
  push(0.75f, 9, 1.0f);
  queue.next();
  struct Case {
    const char* what;
    std::function<double()> read;
    const char* message;
  };
  const Case cases[] = {
      {"int member as float by name", [&] { return queue.get_float_by_name("note"); },
       "VXign_Queue: memberData.type == kVXIgnTypeFloat"},
      {"int member as float by index", [&] { return queue.get_float_by_param_index(1); },
       "VXign_Queue: memberData.type == kVXIgnTypeFloat"},
      {"float member as int", [&] { return double(queue.get_int("gain")); },
       "VXign_Queue: memberData.type == kVXIgnTypeInt"},
      {"index past the members", [&] { return queue.get_float_by_param_index(3); },
       "VXign_Queue: paramIndex < m_indexed_data_desc.size()"},
      {"negative index", [&] { return queue.get_float_by_param_index(-1); },
       "VXign_Queue: paramIndex < m_indexed_data_desc.size()"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    double value = -1;
    std::vector<std::string> lines = printed_lines([&] { value = c.read(); });
    EXPECT_EQ(value, 0.0);
    EXPECT_EQ(lines, std::vector<std::string>{c.message});
  }
  // Unknown names are no breach: 0, silently.
  EXPECT_TRUE(printed_lines([&] {
                EXPECT_EQ(queue.get_float_by_name("nope"), 0.0);
                EXPECT_EQ(queue.get_int("nope"), 0);
              }).empty());
}

TEST_F(RecordQueueTest, OneWriterAndOneReaderThreadWithoutALock) {
  VXign_Queue big(sizeof(Record), 4096);
  ASSERT_TRUE(big.declare_member("note", kVXIgnTypeInt, offsetof(Record, note)));
  constexpr int kRecords = 4000;  // within the capacity: nothing is lapped
  std::thread writer([&] {
    for (int i = 1; i <= kRecords; ++i) {
      Record r{0.0f, i, 0.0f};
      big.push(&r);
    }
  });
  int expected = 1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (expected <= kRecords && std::chrono::steady_clock::now() < deadline) {
    if (!big.has_more()) continue;
    big.next();
    ASSERT_EQ(big.get_int("note"), expected);
    ++expected;
  }
  writer.join();
  EXPECT_EQ(expected, kRecords + 1);
}

TEST(IntegrationStore, QueueTableHoldsNamedQueuesItDoesNotOwn) {
  Vexel_Integration store;
  EXPECT_FALSE(store.has_queue_entry("notes"));
  EXPECT_EQ(store.lookup_queue("notes"), nullptr);
  EXPECT_TRUE(store.has_queue_entry("notes"));  // an empty entry now

  VXign_Queue queue(8, 4);
  store.set_queue("notes", &queue);
  EXPECT_EQ(store.lookup_queue("notes"), &queue);
  EXPECT_EQ(store.lookup_queue("other"), nullptr);
}

}  // namespace
