#include "chip/util/util_buffers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "chip/util/chip_errmsg.h"
#include "log_capture.h"

namespace {

typedef uintptr_t Item;  // the queues carry pointer-sized items

const Item kUnset = 0xDEADu;

// The log lines printed while fn ran with the log at the warning level.
template <typename Fn>
std::vector<std::string> warnings_of(Fn fn) {
  int saved = g_loglevel;
  g_loglevel = CP_LOG_WARNING;
  std::vector<std::string> lines = printed_lines(fn);
  g_loglevel = saved;
  return lines;
}

typedef std::vector<std::string> Lines;

// Puts the values first, first + 1, ... one call per value.
void put_seq(CBufferSimple& ring, Item first, int count) {
  for (int i = 0; i < count; i++) {
    Item v = first + i;
    ring.put(&v, 1);
  }
}

// ---------------------------------------------------------------------------
// CBufferSimple

struct SimpleCase {
  const char* name;
  int puts;                  // values 1..puts, into an empty ring of 4
  unsigned long want_ret;    // of get(10)
  std::vector<Item> want;    // items copied
};

// Test listings show the case's name rather than its bytes.
void PrintTo(const SimpleCase& c, std::ostream* os) { *os << c.name; }

class CBufferSimpleCapacity4 : public testing::TestWithParam<SimpleCase> {};

TEST_P(CBufferSimpleCapacity4, GetAfterPuts) {
  const SimpleCase& c = GetParam();
  CBufferSimple ring;
  ASSERT_TRUE(ring.initialize(4, sizeof(Item)));
  put_seq(ring, 1, c.puts);

  std::vector<Item> out(10, kUnset);
  EXPECT_EQ(c.want_ret, ring.get(out.data(), 10));
  std::vector<Item> expect = c.want;
  expect.resize(10, kUnset);  // nothing past the copied items is touched
  EXPECT_EQ(expect, out);

  EXPECT_EQ(0u, ring.get(out.data(), 10)) << "the ring must now be empty";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CBufferSimpleCapacity4,
    testing::Values(SimpleCase{"Nothing", 0, 0, {}},
                    SimpleCase{"ThreeOfFour", 3, 1, {1, 2, 3}},
                    // The write offset wraps onto the read offset: looks empty.
                    SimpleCase{"FullLooksEmpty", 4, 0, {}},
                    // The fifth item overwrote the first; only it is visible.
                    SimpleCase{"FifthOverwrites", 5, 1, {5}},
                    SimpleCase{"SeventhOverwrites", 7, 1, {5, 6, 7}}),
    [](const testing::TestParamInfo<SimpleCase>& p) { return p.param.name; });

TEST(CBufferSimpleTest, ReaderWrapsAroundAfterPartialGets) {
  CBufferSimple ring;
  ASSERT_TRUE(ring.initialize(4, sizeof(Item)));
  put_seq(ring, 1, 3);
  Item out[4] = {0, 0, 0, 0};
  EXPECT_EQ(1u, ring.get(out, 2));
  EXPECT_EQ(1u, out[0]);
  EXPECT_EQ(2u, out[1]);

  put_seq(ring, 4, 2);  // slots 3 and 0: three unread, read 2 / write 1
  Item rest[4] = {0, 0, 0, kUnset};
  EXPECT_EQ(1u, ring.get(rest, 4));
  EXPECT_EQ(3u, rest[0]);
  EXPECT_EQ(4u, rest[1]);
  EXPECT_EQ(5u, rest[2]);
  EXPECT_EQ(kUnset, rest[3]);
}

TEST(CBufferSimpleTest, ManyItemsInOnePutAndZeroCountGet) {
  CBufferSimple ring;
  ASSERT_TRUE(ring.initialize(8, sizeof(Item)));
  Item in[3] = {7, 8, 9};
  ring.put(in, 3);

  Item out[3] = {kUnset, kUnset, kUnset};
  EXPECT_EQ(1u, ring.get(out, 0)) << "non-empty ring, nothing asked";
  EXPECT_EQ(kUnset, out[0]);
  EXPECT_EQ(1u, ring.get(out, 3));
  EXPECT_EQ(7u, out[0]);
  EXPECT_EQ(8u, out[1]);
  EXPECT_EQ(9u, out[2]);
}

TEST(CBufferSimpleTest, WideItemsAreCopiedWhole) {
  struct Wide {
    uint64_t a, b, c;
  };
  CBufferSimple ring;
  ASSERT_TRUE(ring.initialize(3, sizeof(Wide)));
  for (uint64_t i = 0; i < 5; i++) {
    Wide w{i, i * 10, i * 100};
    ring.put(&w, 1);
    Wide got{0, 0, 0};
    ASSERT_EQ(1u, ring.get(&got, 1));
    EXPECT_EQ(w.a, got.a);
    EXPECT_EQ(w.b, got.b);
    EXPECT_EQ(w.c, got.c);
  }
}

TEST(CBufferSimpleTest, ReinitializeDropsContentsAndBadSizesLeaveNoStorage) {
  CBufferSimple ring;
  ASSERT_TRUE(ring.initialize(4, sizeof(Item)));
  put_seq(ring, 1, 2);
  ASSERT_TRUE(ring.initialize(4, sizeof(Item)));
  Item out = kUnset;
  EXPECT_EQ(0u, ring.get(&out, 1));

  EXPECT_FALSE(ring.initialize(0, sizeof(Item)));
  EXPECT_FALSE(ring.initialize(4, 0));
  EXPECT_FALSE(ring.initialize(ULONG_MAX, 16)) << "size overflow";
  // Without storage, writes are dropped and reads find nothing.
  put_seq(ring, 1, 3);
  EXPECT_EQ(0u, ring.get(&out, 1));
  EXPECT_EQ(kUnset, out);
}

TEST(CBufferSimpleTest, UninitializedIsSafeAndEmpty) {
  CBufferSimple ring;
  Item v = 1;
  ring.put(&v, 1);
  EXPECT_EQ(0u, ring.get(&v, 1));
}

// One writer and one reader thread. The writer never laps the reader: it
// waits until the reader has published that there is room. The reader must
// see every value, in order and intact.
TEST(CBufferSimpleTest, OneWriterOneReaderSeeEveryItemInOrder) {
  struct Pair {
    uint64_t seq;
    uint64_t check;  // ~seq: a torn or stale copy shows here
  };
  const uint64_t kCount = 100000;
  const unsigned long kCapacity = 64;  // small: the ring wraps often

  CBufferSimple ring;
  ASSERT_TRUE(ring.initialize(kCapacity, sizeof(Pair)));
  std::atomic<uint64_t> consumed{0};

  std::thread writer([&] {
    for (uint64_t i = 0; i < kCount; i++) {
      // At most capacity - 1 unread items: a full ring would look empty.
      while (i - consumed.load(std::memory_order_acquire) >= kCapacity - 1) {
        std::this_thread::yield();
      }
      Pair p{i, ~i};
      ring.put(&p, 1);
    }
  });

  uint64_t next = 0;
  uint64_t bad = 0;
  Pair batch[16];
  while (next < kCount) {
    for (Pair& p : batch) p = Pair{UINT64_MAX, UINT64_MAX};
    if (!ring.get(batch, 16)) {
      std::this_thread::yield();
      continue;
    }
    // get returns 1, not a count: the copied items are the filled slots.
    for (const Pair& p : batch) {
      if (p.seq == UINT64_MAX && p.check == UINT64_MAX) break;
      if (p.seq != next || p.check != ~next) bad++;
      next++;
    }
    consumed.store(next, std::memory_order_release);
  }
  writer.join();

  EXPECT_EQ(0u, bad);
  EXPECT_EQ(kCount, next);
  Pair extra;
  EXPECT_EQ(0u, ring.get(&extra, 1));
}

// ---------------------------------------------------------------------------
// CBufferAdvance

class CBufferAdvanceTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ring.initialize(4, sizeof(Item))); }

  void put(Item v) { ring.put(&v, 1); }

  // Everything reader index can get, in one call of up to 8 items.
  std::vector<Item> drain(unsigned long index) {
    Item out[8];
    unsigned long n = ring.get(out, 8, index);
    return std::vector<Item>(out, out + n);
  }

  CBufferAdvance ring;
};

TEST_F(CBufferAdvanceTest, ReaderSeesOnlyWhatIsWrittenAfterItJoined) {
  put(1);
  put(2);
  unsigned long r = ring.join();
  EXPECT_TRUE(ring.empty(r));
  EXPECT_EQ(std::vector<Item>{}, drain(r));

  put(3);
  EXPECT_FALSE(ring.empty(r));
  EXPECT_EQ(std::vector<Item>{3}, drain(r));
  EXPECT_TRUE(ring.empty(r));
}

TEST_F(CBufferAdvanceTest, ReadersKeepIndependentPositions) {
  unsigned long a = ring.join();
  put(1);
  put(2);
  unsigned long b = ring.join();
  EXPECT_NE(a, b);
  put(3);

  Item one;
  EXPECT_EQ(1u, ring.get(&one, 1, a)) << "a count, limited by the request";
  EXPECT_EQ(1u, one);
  EXPECT_EQ(std::vector<Item>{3}, drain(b));
  EXPECT_EQ((std::vector<Item>{2, 3}), drain(a));

  put(4);
  put(5);  // wraps to slot 0
  EXPECT_EQ((std::vector<Item>{4, 5}), drain(a));
  EXPECT_EQ((std::vector<Item>{4, 5}), drain(b));
}

TEST_F(CBufferAdvanceTest, IndexPastTheTableOrResignedReaderGetsNothing) {
  unsigned long a = ring.join();
  put(1);
  Item out = kUnset;
  EXPECT_EQ(0u, ring.get(&out, 1, a + 1));
  EXPECT_EQ(0u, ring.get(&out, 1, ULONG_MAX));
  EXPECT_EQ(kUnset, out);
  EXPECT_TRUE(ring.empty(a + 1));

  ring.resign(a);
  EXPECT_TRUE(ring.empty(a));
  EXPECT_EQ(0u, ring.get(&out, 1, a));
  ring.resign(a);         // already inactive: ignored
  ring.resign(a + 5);     // past the table: ignored

  // The freed slot is reused once, starting at the current write position.
  unsigned long again = ring.join();
  EXPECT_EQ(a, again);
  EXPECT_NE(a, ring.join()) << "a second join must not reuse the same slot";
  EXPECT_TRUE(ring.empty(again));
  put(2);
  EXPECT_EQ(std::vector<Item>{2}, drain(again));
}

TEST_F(CBufferAdvanceTest, ReinitializeCatchesReadersUp) {
  unsigned long a = ring.join();
  put(1);
  put(2);
  put(3);
  ASSERT_TRUE(ring.initialize(2, sizeof(Item)));  // smaller than a's position
  EXPECT_TRUE(ring.empty(a));
  put(9);
  EXPECT_EQ(std::vector<Item>{9}, drain(a));
}

TEST(CBufferAdvanceNoStorageTest, IsSafe) {
  CBufferAdvance ring;
  unsigned long r = ring.join();
  Item v = 1;
  ring.put(&v, 1);
  EXPECT_EQ(0u, ring.get(&v, 1, r));
  EXPECT_TRUE(ring.empty(r));
}

// ---------------------------------------------------------------------------
// AccumBuffer and DeccumBuffer

std::vector<float> accum_get(AccumBuffer& b, unsigned long n) {
  std::vector<float> out(n, -1.0f);
  b.get(out.data(), n);
  return out;
}

std::vector<float> deccum_get(DeccumBuffer& b, unsigned long n) {
  std::vector<float> out(n, -1.0f);
  b.get(out.data(), n);
  return out;
}

typedef std::vector<float> Samples;

TEST(AccumBufferTest, GetIsOldestFirstCutOrZeroPadded) {
  AccumBuffer b;
  ASSERT_EQ(1u, b.resize(4));
  for (float s = 1; s <= 5; s++) b.put(s);

  const struct {
    unsigned long n;
    Samples want;
  } cases[] = {
      {4, {2, 3, 4, 5}},
      {6, {2, 3, 4, 5, 0, 0}},
      {2, {2, 3}},
      {0, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.want, accum_get(b, c.n)) << "get of " << c.n;
  }
}

TEST(AccumBufferTest, ResizeKeepsOldestFirstContents) {
  AccumBuffer b;
  ASSERT_EQ(1u, b.resize(4));
  for (float s = 1; s <= 5; s++) b.put(s);

  EXPECT_EQ(4u, b.resize(4)) << "same size: the size comes back";
  EXPECT_EQ((Samples{2, 3, 4, 5}), accum_get(b, 4));

  ASSERT_EQ(1u, b.resize(6));
  EXPECT_EQ((Samples{2, 3, 4, 5, 0, 0}), accum_get(b, 6));
  b.put(7);  // the write position restarted at 0
  EXPECT_EQ((Samples{3, 4, 5, 0, 0, 7}), accum_get(b, 6));

  ASSERT_EQ(1u, b.resize(2));  // keeps the oldest two
  EXPECT_EQ((Samples{3, 4, 0}), accum_get(b, 3));
}

TEST(AccumBufferTest, FailedResizeLogsAndDropsStorage) {
  AccumBuffer b;
  ASSERT_EQ(1u, b.resize(4));
  b.put(1);
  unsigned long huge = ULONG_MAX / 2;  // more bytes than a size_t holds
  unsigned long result = 1;
  Lines log = warnings_of([&] { result = b.resize(huge); });
  EXPECT_EQ(0u, result);
  EXPECT_EQ(Lines{"[chip]:(4:WARN!!): AccumBuffer:resize(" +
                  std::to_string(static_cast<long>(huge)) + ") failed to allocated..."},
            log);

  b.put(2);  // no storage: dropped
  EXPECT_EQ((Samples{0, 0}), accum_get(b, 2));
  ASSERT_EQ(1u, b.resize(2));
  b.put(3);
  EXPECT_EQ((Samples{0, 3}), accum_get(b, 2));
}

TEST(DeccumBufferTest, OverlapAddThenTakeSampleBySample) {
  DeccumBuffer b;
  ASSERT_EQ(1u, b.resize(4));
  const float ones[4] = {1, 1, 1, 1};
  b.put(ones, 4);
  b.put(ones, 2);
  EXPECT_EQ((Samples{2, 2, 1, 1, 0}), deccum_get(b, 5));

  Samples taken;
  for (int i = 0; i < 4; i++) {
    float s = -1;
    b.get(&s);
    taken.push_back(s);
  }
  EXPECT_EQ((Samples{2, 2, 1, 1}), taken);
  EXPECT_EQ((Samples{0, 0, 0, 0}), deccum_get(b, 4)) << "taken slots are cleared";
}

TEST(DeccumBufferTest, PutStartsAtTheReadPositionAndWraps) {
  DeccumBuffer b;
  ASSERT_EQ(1u, b.resize(4));
  const float frame[4] = {1, 2, 3, 4};
  b.put(frame, 4);
  float s;
  b.get(&s);  // takes 1; read position 1
  b.put(frame, 4);
  // From the read position: slot 1 = 2+1, 2 = 3+2, 3 = 4+3, 0 = 0+4.
  EXPECT_EQ((Samples{3, 5, 7, 4}), deccum_get(b, 4));
}

TEST(DeccumBufferTest, ExcessOfAFrameIsDroppedWithAWarning) {
  DeccumBuffer b;
  ASSERT_EQ(1u, b.resize(4));
  const float frame[6] = {1, 2, 3, 4, 5, 6};
  Lines log = warnings_of([&] { b.put(frame, 6); });
  EXPECT_EQ(Lines{"[chip]:(4:WARN!!): (IFFT): discarding data during OLA synthesis..."}, log);
  EXPECT_EQ((Samples{1, 2, 3, 4}), deccum_get(b, 4));

  EXPECT_EQ(Lines{}, warnings_of([&] { b.put(frame, 4); })) << "a frame that fits is quiet";
}

TEST(DeccumBufferTest, ResizeMovesFromTheReadPositionAndRestartsAtZero) {
  DeccumBuffer b;
  ASSERT_EQ(1u, b.resize(4));
  const float frame[4] = {1, 2, 3, 4};
  b.put(frame, 4);
  float s;
  b.get(&s);
  EXPECT_EQ(4u, b.resize(4));
  EXPECT_EQ((Samples{2, 3, 4, 0}), deccum_get(b, 4)) << "same size changes nothing";

  ASSERT_EQ(1u, b.resize(5));
  b.get(&s);
  EXPECT_EQ(2.0f, s);
  EXPECT_EQ((Samples{3, 4, 0, 0, 0}), deccum_get(b, 5));
}

TEST(DeccumBufferTest, FailedResizeLogsAndLeavesASafeEmptyBuffer) {
  DeccumBuffer b;
  ASSERT_EQ(1u, b.resize(4));
  unsigned long result = 1;
  Lines log = warnings_of([&] { result = b.resize(ULONG_MAX); });
  EXPECT_EQ(0u, result);
  EXPECT_EQ(Lines{"[chip]:(4:WARN!!): DeccumBuffer:resize(-1) failed to allocated..."}, log);

  float s = -1;
  b.get(&s);
  EXPECT_EQ(0.0f, s);
  EXPECT_EQ((Samples{0, 0}), deccum_get(b, 2));
}

}  // namespace
