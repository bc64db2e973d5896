// The unit-generator graph: combining, gain, pan and the magnitude guard,
// caching per sample, feedback, links and their references, channel rules,
// block mode, analysers and the nodes of an ending shred.
#include "chip/vm/chip_ugen.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "chip/types/chip_type.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_instr.h"
#include "chip/vm/chip_vm.h"
#include "log_capture.h"
#include "type_check_support.h"

// A node whose tick is scripted by the test and which counts its ticks and
// its destruction.
struct GraphTestNode : Chip_UGen {
  explicit GraphTestNode(int* deaths) : deaths(deaths) {}
  ~GraphTestNode() override {
    if (deaths) (*deaths)++;
    if (died) died->push_back(tag);
  }
  SAMPLE value = 0.0f;       // constant output, or what is added to the input
  bool add_input = false;    // output = input + value
  bool ramp = false;         // output = number of ticks so far
  unsigned long result = 1;  // the tick's valid flag
  int ticks = 0;
  SAMPLE last_in = -99.0f;
  int throw_at = 0;  // the tick of that number (from 1) throws
  int* deaths;
  std::vector<int>* died = nullptr;  // gets `tag` when the node is freed
  int tag = 0;
};

struct GraphTestAna : Chip_UAna {
  unsigned long result = 1;
  int tocks = 0;
};

namespace {

unsigned long test_tick(Chip_Object* self, SAMPLE in, SAMPLE* out, Chip_VM_Shred* shred) {
  EXPECT_EQ(shred, nullptr);  // the graph never passes a shred
  GraphTestNode* n = static_cast<GraphTestNode*>(self);
  n->ticks++;
  if (n->ticks == n->throw_at) throw std::runtime_error("test fault");
  n->last_in = in;
  if (n->ramp) {
    *out = static_cast<SAMPLE>(n->ticks);
  } else {
    *out = n->add_input ? in + n->value : n->value;
  }
  return n->result;
}

// The block form of test_tick, as the binding frame makes one: a fault
// is reported and ends the block at its frame.
unsigned long test_tick_v(Chip_Object* self, const SAMPLE* in, SAMPLE* out, unsigned long frames,
                          Chip_VM_Shred* shred) {
  unsigned long j = 0;
  try {
    for (; j < frames; j++) test_tick(self, in[j], &out[j], shred);
  } catch (...) {
    chip_dl_tick_fault(self);
  }
  return j;
}

unsigned long test_tock(Chip_Object* self, Chip_UAna* uana, Chip_UAnaBlobProxy* blob,
                        Chip_VM_Shred* shred) {
  (void)blob;
  EXPECT_EQ(self, uana);
  EXPECT_EQ(shred, nullptr);
  GraphTestAna* a = static_cast<GraphTestAna*>(uana);
  a->tocks++;
  return a->result;
}

// Makes nodes held by the test and, at the end, cuts every link and drops
// every hold; AddressSanitizer reports whatever a wrong count leaves behind.
class GraphTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (Chip_UGen* n : held) n->disconnect(TRUE);
    for (Chip_UGen* n : held) n->release();
    held.clear();
  }

  GraphTestNode* node(SAMPLE value = 0.0f) {
    GraphTestNode* n = new GraphTestNode(&deaths);
    n->tick = test_tick;
    n->block = CHIP_BLOCK_EXACT;
    n->value = value;
    hold(n);
    return n;
  }
  // A pass-through node: output = input.
  GraphTestNode* wire() {
    GraphTestNode* n = node(0.0f);
    n->add_input = true;
    return n;
  }
  // A node with `channels` pass-through channel nodes (not held by the test).
  GraphTestNode* multi(unsigned long ins, unsigned long outs) {
    GraphTestNode* n = wire();
    n->alloc_multi_chan(ins, outs);
    for (unsigned long i = 0; i < n->multi_chan_size; i++) {
      GraphTestNode* chan = new GraphTestNode(&deaths);
      chan->tick = test_tick;
      chan->block = CHIP_BLOCK_EXACT;
      chan->add_input = true;
      n->attach_chan(i, chan);
    }
    return n;
  }
  GraphTestAna* ana() {
    GraphTestAna* a = new GraphTestAna;
    a->tick = test_tick_ana;
    a->tock = test_tock;
    hold(a);
    return a;
  }
  void hold(Chip_UGen* n) {
    n->add_ref();
    held.push_back(n);
  }
  // Lets go of a node the test holds (it may live on through its links).
  void drop(Chip_UGen* n) {
    for (size_t i = 0; i < held.size(); i++) {
      if (held[i] == n) {
        held.erase(held.begin() + static_cast<long>(i));
        n->release();
        return;
      }
    }
    FAIL() << "node not held";
  }

  static unsigned long test_tick_ana(Chip_Object*, SAMPLE in, SAMPLE* out, Chip_VM_Shred*) {
    *out = in;
    return 1;
  }

  std::vector<Chip_UGen*> held;
  int deaths = 0;
};

// ---------------------------------------------------------------------------
// Combining, gain, pan, guard

TEST_F(GraphTest, SourcesCombineByOp) {
  // Sources 6, 2, 3 into a pass-through sink with gain 2: op > 0 ticks and
  // scales, op < 0 passes the sum through unscaled, op 0 outputs 0; neither
  // of the last two calls the tick.
  struct Case {
    long op;
    SAMPLE expected;
    int sink_ticks;
  };
  const Case cases[] = {
      {1, 22.0f, 1},  {2, 2.0f, 1},   {3, 72.0f, 1}, {4, 2.0f, 1},
      {9, 22.0f, 1},  {-1, 11.0f, 0}, {-7, 11.0f, 0}, {0, 0.0f, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("op " + std::to_string(c.op));
    GraphTestNode* sink = wire();
    sink->gain = 2.0f;
    sink->op = c.op;
    GraphTestNode* srcs[] = {node(6.0f), node(2.0f), node(3.0f)};
    for (GraphTestNode* s : srcs) ASSERT_TRUE(sink->add(s, 0));
    EXPECT_EQ(sink->system_tick(1.0), 1u);
    EXPECT_FLOAT_EQ(sink->current, c.expected);
    EXPECT_FLOAT_EQ(sink->last, c.expected);
    EXPECT_EQ(sink->ticks, c.sink_ticks);
    for (GraphTestNode* s : srcs) EXPECT_EQ(s->ticks, 1);
  }
}

TEST_F(GraphTest, NodeWithoutSourcesTicksWithZeroInput) {
  GraphTestNode* n = wire();
  n->value = 0.25f;
  n->system_tick(1.0);
  EXPECT_EQ(n->last_in, 0.0f);
  EXPECT_FLOAT_EQ(n->current, 0.25f);
}

TEST_F(GraphTest, GainPanAndTheMagnitudeGuard) {
  const SAMPLE inf = std::numeric_limits<SAMPLE>::infinity();
  const SAMPLE nan = std::numeric_limits<SAMPLE>::quiet_NaN();
  struct Case {
    SAMPLE value, gain, pan, expected;
  };
  const Case cases[] = {
      {0.5f, 1.0f, 1.0f, 0.5f},    {-0.5f, 1.0f, 1.0f, -0.5f}, {1.0f, 0.5f, 0.5f, 0.25f},
      {0.25f, 2.0f, 1.0f, 0.5f},   {1e-16f, 1.0f, 1.0f, 0.0f}, {1e-15f, 1.0f, 1.0f, 0.0f},
      {1e-14f, 1.0f, 1.0f, 1e-14f}, {2e15f, 1.0f, 1.0f, 0.0f},  {1e15f, 1.0f, 1.0f, 0.0f},
      {1e14f, 20.0f, 1.0f, 0.0f},  {1e14f, 1.0f, 1.0f, 1e14f}, {-inf, 1.0f, 1.0f, 0.0f},
      {nan, 1.0f, 1.0f, 0.0f},     {0.5f, 0.0f, 1.0f, 0.0f},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.value) + " x " + std::to_string(c.gain) + " x " +
                 std::to_string(c.pan));
    GraphTestNode* n = node(c.value);
    n->gain = c.gain;
    n->pan = c.pan;
    n->system_tick(1.0);
    EXPECT_EQ(n->current, c.expected);
    EXPECT_EQ(n->last, c.expected);
  }
}

TEST_F(GraphTest, SilencedNodeStillTicksItsSources) {
  GraphTestNode* sink = wire();
  GraphTestNode* src = node(1.0f);
  sink->add(src, 0);
  sink->gain = 0.0f;
  sink->system_tick(1.0);
  EXPECT_EQ(sink->current, 0.0f);
  EXPECT_EQ(src->ticks, 1);
}

TEST_F(GraphTest, DivisionByZeroLeavesSilence) {
  GraphTestNode* sink = wire();
  sink->op = 4;
  sink->add(node(1.0f), 0);
  sink->add(node(0.0f), 0);
  sink->system_tick(1.0);
  EXPECT_TRUE(std::isinf(sink->sum));
  EXPECT_EQ(sink->current, 0.0f);
}

TEST_F(GraphTest, InvalidSources) {
  // A later source whose tick failed is skipped: with op 3 the product
  // would otherwise be 0.
  GraphTestNode* sink = wire();
  sink->op = 3;
  GraphTestNode* bad = node(5.0f);
  bad->result = 0;
  sink->add(node(2.0f), 0);
  sink->add(bad, 0);
  sink->add(node(3.0f), 0);
  sink->system_tick(1.0);
  EXPECT_EQ(bad->current, 0.0f);
  EXPECT_FLOAT_EQ(sink->current, 6.0f);

  // A first source counts whatever its flag: its output, 0 after a failed
  // tick, starts the sum.
  GraphTestNode* sink2 = wire();
  GraphTestNode* bad2 = node(5.0f);
  bad2->result = 0;
  sink2->add(bad2, 0);
  sink2->add(node(2.0f), 0);
  sink2->add(node(3.0f), 0);
  EXPECT_EQ(bad2->system_tick(1.0), 0u);
  sink2->system_tick(1.0);
  EXPECT_FLOAT_EQ(sink2->current, 5.0f);

  // A node without a tick function keeps its output and flag.
  GraphTestNode* still = node(0.0f);
  still->tick = nullptr;
  still->current = 0.75f;
  EXPECT_EQ(still->system_tick(1.0), 1u);
  EXPECT_FLOAT_EQ(still->current, 0.75f);
}

TEST_F(GraphTest, EachNodeComputesOncePerSample) {
  GraphTestNode* src = node(1.0f);
  GraphTestNode* a = wire();
  GraphTestNode* b = wire();
  a->add(src, 0);
  b->add(src, 0);
  for (int t = 1; t <= 3; t++) {
    a->system_tick(t);
    b->system_tick(t);
    a->system_tick(t);  // cached
  }
  EXPECT_EQ(src->ticks, 3);
  EXPECT_EQ(a->ticks, 3);
  EXPECT_EQ(b->ticks, 3);
  // An older time is answered from the cache too.
  a->system_tick(2.0);
  EXPECT_EQ(a->ticks, 3);
}

TEST_F(GraphTest, FeedbackLoopReadsThePreviousSample) {
  // a <- b <- a, each adding 1: the node reached a second time within the
  // loop reports the output it computed for the previous sample.
  GraphTestNode* a = wire();
  GraphTestNode* b = wire();
  a->value = b->value = 1.0f;
  a->add(b, 0);
  b->add(a, 0);
  const SAMPLE expected_b[] = {1.0f, 3.0f, 5.0f};
  const SAMPLE expected_a[] = {2.0f, 4.0f, 6.0f};
  for (int t = 1; t <= 3; t++) {
    a->system_tick(t);
    EXPECT_FLOAT_EQ(b->current, expected_b[t - 1]);
    EXPECT_FLOAT_EQ(a->current, expected_a[t - 1]);
  }
  EXPECT_EQ(a->ticks, 3);
  EXPECT_EQ(b->ticks, 3);
}

// ---------------------------------------------------------------------------
// Links and references

TEST_F(GraphTest, LinksHoldTheirSourceAndUnlinkRemovesEveryOccurrence) {
  GraphTestNode* src = node(1.0f);
  GraphTestNode* sink = wire();
  ASSERT_TRUE(sink->add(src, 0));
  ASSERT_TRUE(sink->add(src, 0));
  EXPECT_EQ(sink->num_src, 2u);
  EXPECT_EQ(src->m_num_dest, 2u);
  EXPECT_EQ(src->m_ref_count, 3u);   // the test and each link
  EXPECT_EQ(sink->m_ref_count, 1u);  // the test only
  sink->system_tick(1.0);
  EXPECT_FLOAT_EQ(sink->current, 2.0f);  // summed twice

  EXPECT_TRUE(sink->remove(src));
  EXPECT_EQ(sink->num_src, 0u);
  EXPECT_EQ(src->m_num_dest, 0u);
  EXPECT_EQ(src->m_ref_count, 1u);
  EXPECT_EQ(sink->m_ref_count, 1u);
  EXPECT_FALSE(sink->remove(src));  // nothing linked

  GraphTestNode* other = node(1.0f);
  sink->add(other, 0);
  EXPECT_FALSE(sink->remove(src));  // linked list without src: unchanged
  EXPECT_EQ(sink->num_src, 1u);
}

TEST_F(GraphTest, ListsGrowPastTheirFirstCapacity) {
  GraphTestNode* sink = wire();
  std::vector<GraphTestNode*> srcs;
  for (int i = 0; i < 20; i++) {
    srcs.push_back(node(1.0f));
    ASSERT_TRUE(sink->add(srcs.back(), 0));
  }
  EXPECT_EQ(sink->src_cap, 32u);
  sink->system_tick(1.0);
  EXPECT_FLOAT_EQ(sink->current, 20.0f);
  EXPECT_TRUE(sink->remove(srcs[3]));
  EXPECT_EQ(sink->num_src, 19u);
  EXPECT_EQ(sink->src_list[3], srcs[4]);
  EXPECT_EQ(sink->src_list[19], nullptr);
}

TEST_F(GraphTest, MaxSourcesRefusesSilently) {
  GraphTestNode* sink = wire();
  sink->max_src = 1;
  GraphTestNode* a = node(1.0f);
  GraphTestNode* b = node(1.0f);
  EXPECT_TRUE(sink->add(a, 0));
  std::vector<std::string> lines = printed_lines([&] { EXPECT_FALSE(sink->add(b, 0)); });
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(sink->num_src, 1u);
  EXPECT_EQ(b->m_ref_count, 1u);
}

TEST_F(GraphTest, DisconnectCutsDestinationsThenOptionallySources) {
  GraphTestNode* src = node(1.0f);
  GraphTestNode* n = wire();
  GraphTestNode* d1 = wire();
  GraphTestNode* d2 = wire();
  n->add(src, 0);
  d1->add(n, 0);
  d2->add(n, 0);
  EXPECT_TRUE(n->disconnect(FALSE));
  EXPECT_EQ(d1->num_src, 0u);
  EXPECT_EQ(d2->num_src, 0u);
  EXPECT_EQ(n->m_num_dest, 0u);
  EXPECT_EQ(n->num_src, 1u);
  EXPECT_TRUE(n->disconnect(TRUE));
  EXPECT_EQ(n->num_src, 0u);
  for (GraphTestNode* x : {src, n, d1, d2}) EXPECT_EQ(x->m_ref_count, 1u);
}

TEST_F(GraphTest, NodesLiveThroughTheirLinksAndDieWithTheLast) {
  // A source nothing else holds lives through the link, and the unlink
  // that drops its last reference frees it.
  GraphTestNode* sink = wire();
  GraphTestNode* src = node(0.5f);
  sink->add(src, 0);
  drop(src);
  sink->system_tick(1.0);
  EXPECT_FLOAT_EQ(sink->current, 0.5f);
  EXPECT_EQ(deaths, 0);
  EXPECT_TRUE(sink->remove(src));
  EXPECT_EQ(deaths, 1);

  // A node is held by the nodes it feeds, not by those feeding it: a pair
  // linked only to each other goes as soon as nothing else holds its
  // destination, and the destination lets go of what only it held.
  GraphTestNode* a = node(1.0f);
  GraphTestNode* b = wire();
  GraphTestNode* c = wire();
  b->add(a, 0);
  b->add(a, 0);
  c->add(b, 0);
  drop(b);
  EXPECT_EQ(deaths, 1);  // b lives through c's link
  drop(c);
  EXPECT_EQ(deaths, 3);  // c, and with it b
  EXPECT_EQ(a->m_num_dest, 0u);
  EXPECT_EQ(a->m_ref_count, 1u);

  // A source held only through its link is freed by the unlink its own
  // disconnect asks for, and the disconnect does not touch it afterwards.
  GraphTestNode* d = node(1.0f);
  GraphTestNode* e = wire();
  e->add(d, 0);
  drop(d);
  d->disconnect(TRUE);
  EXPECT_EQ(deaths, 4);
  EXPECT_EQ(e->num_src, 0u);
}

// Freeing a long chain of nodes, each held only by the next, takes no
// deeper a native stack than freeing one: the last release frees them all.
TEST_F(GraphTest, FreeingALongChainDoesNotNest) {
  const int length = 200000;
  // Held here, not in the test's list: each is let go of as the next one
  // takes it as its source.
  GraphTestNode* last = new GraphTestNode(&deaths);
  last->add_ref();
  for (int i = 1; i < length; i++) {
    GraphTestNode* next = new GraphTestNode(&deaths);
    next->add_ref();
    next->add(last, 0);
    last->release();
    last = next;
  }
  EXPECT_EQ(deaths, 0);
  last->release();
  EXPECT_EQ(deaths, length);
}

TEST_F(GraphTest, UpchipLinksListAnalysersWithoutReferences) {
  GraphTestAna* up = ana();
  GraphTestAna* down = ana();
  GraphTestNode* plain = node(1.0f);
  ASSERT_TRUE(down->add(up, 1));
  ASSERT_TRUE(down->add(plain, 0));
  EXPECT_EQ(down->numIncomingUAnae(), 1u);
  EXPECT_TRUE(down->is_up_connected_from(up));
  EXPECT_FALSE(up->is_up_connected_from(down));
  EXPECT_EQ(up->num_dest_uana, 1u);
  EXPECT_EQ(up->m_ref_count, 2u);  // the test and the audio link
  EXPECT_EQ(down->m_ref_count, 1u);  // the test only
  EXPECT_EQ(down->getIncomingBlob(down->numIncomingUAnae()), nullptr);
  EXPECT_TRUE(down->remove(up));
  EXPECT_EQ(down->numIncomingUAnae(), 0u);
  EXPECT_EQ(up->num_dest_uana, 0u);
  EXPECT_EQ(up->m_ref_count, 1u);
  EXPECT_EQ(down->m_ref_count, 1u);
}

// ---------------------------------------------------------------------------
// Channels

TEST_F(GraphTest, ChannelSlots) {
  struct Case {
    unsigned long ins, outs, size;
  };
  const Case cases[] = {{1, 1, 0}, {0, 2, 2}, {2, 1, 2}, {2, 2, 2}, {0, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.ins) + "/" + std::to_string(c.outs));
    GraphTestNode* n = multi(c.ins, c.outs);
    EXPECT_EQ(n->multi_chan_size, c.size);
    EXPECT_EQ(n->num_ins, c.ins);
    EXPECT_EQ(n->num_outs, c.outs);
    if (c.ins == 1 && c.outs == 1) {
      EXPECT_EQ(n->multi_chan[0], n);
    }
    for (unsigned long i = 0; i < n->multi_chan_size; i++) {
      EXPECT_EQ(n->multi_chan[i]->owner, n);
      EXPECT_EQ(n->multi_chan[i]->m_ref_count, 1u);
      EXPECT_EQ(n->m_ref_count, 1u);  // channels do not hold their owner
    }
  }
}

TEST_F(GraphTest, StereoLinksPairChannels) {
  GraphTestNode* left = node(0.2f);
  GraphTestNode* right = node(0.6f);
  GraphTestNode* src = multi(2, 2);
  src->multi_chan[0]->add(left, 0);
  src->multi_chan[1]->add(right, 0);
  GraphTestNode* dest = multi(2, 2);
  ASSERT_TRUE(dest->add(src, 0));
  EXPECT_EQ(dest->num_src, 0u);
  EXPECT_EQ(dest->multi_chan[0]->src_list[0], src->multi_chan[0]);
  EXPECT_EQ(dest->multi_chan[1]->src_list[0], src->multi_chan[1]);
  EXPECT_TRUE(dest->is_connected_from(src->multi_chan[1]));
  EXPECT_FALSE(dest->is_connected_from(src));

  dest->system_tick(1.0);
  EXPECT_FLOAT_EQ(dest->multi_chan[0]->current, 0.2f);
  EXPECT_FLOAT_EQ(dest->multi_chan[1]->current, 0.6f);
  EXPECT_FLOAT_EQ(dest->current, 0.4f);  // the mean of its channels

  EXPECT_TRUE(dest->remove(src));
  EXPECT_EQ(dest->multi_chan[0]->num_src, 0u);
  EXPECT_EQ(dest->multi_chan[1]->num_src, 0u);
  EXPECT_FALSE(dest->remove(src));
}

TEST_F(GraphTest, MonoIntoStereoFeedsBothChannels) {
  GraphTestNode* mono = node(0.3f);
  GraphTestNode* dest = multi(2, 2);
  ASSERT_TRUE(dest->add(mono, 0));
  EXPECT_EQ(mono->m_num_dest, 2u);
  EXPECT_TRUE(dest->is_connected_from(mono));
  dest->system_tick(1.0);
  EXPECT_FLOAT_EQ(dest->multi_chan[0]->current, 0.3f);
  EXPECT_FLOAT_EQ(dest->multi_chan[1]->current, 0.3f);
  EXPECT_EQ(mono->ticks, 1);
  EXPECT_TRUE(dest->remove(mono));
  EXPECT_EQ(mono->m_num_dest, 0u);
  EXPECT_EQ(mono->m_ref_count, 1u);
}

TEST_F(GraphTest, StereoIntoMonoIsOneLinkToTheNodeItself) {
  GraphTestNode* src = multi(2, 2);
  src->multi_chan[0]->add(node(0.2f), 0);
  src->multi_chan[1]->add(node(0.6f), 0);
  GraphTestNode* mono = wire();
  ASSERT_TRUE(mono->add(src, 0));
  ASSERT_EQ(mono->num_src, 1u);
  EXPECT_EQ(mono->src_list[0], src);
  mono->system_tick(1.0);
  EXPECT_FLOAT_EQ(mono->current, 0.4f);
  EXPECT_TRUE(mono->remove(src));
}

TEST_F(GraphTest, UnhandledChannelCountsAreReported) {
  GraphTestNode* no_ins = multi(0, 2);
  GraphTestNode* no_outs = multi(1, 0);
  GraphTestNode* mono = node(1.0f);
  struct Case {
    Chip_UGen* dest;
    Chip_UGen* src;
    const char* text;
  };
  const Case cases[] = {
      {no_ins, mono, "internal error: unhandled UGen add: outs: 1 ins: 0"},
      {mono, no_outs, "internal error: unhandled UGen add: outs: 0 ins: 1"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> lines = printed_lines([&] { EXPECT_FALSE(c.dest->add(c.src, 0)); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(c.text), std::string::npos) << lines[0];
    EXPECT_EQ(c.src->m_num_dest, 0u);
    EXPECT_FALSE(c.dest->remove(c.src));
  }
}

TEST_F(GraphTest, ChannelPullsItsOwner) {
  GraphTestNode* n = multi(2, 2);
  n->multi_chan[1]->system_tick(1.0);
  EXPECT_EQ(n->time, 1.0);
  EXPECT_EQ(n->ticks, 1);
  EXPECT_EQ(static_cast<GraphTestNode*>(n->multi_chan[0])->ticks, 1);
}

TEST_F(GraphTest, ChannelsOutliveTheirOwnerOnlyThroughLinks) {
  GraphTestNode* n = multi(2, 2);
  drop(n);
  EXPECT_EQ(deaths, 3);  // the node and both channels

  // A channel feeding another node lives on without its owner, and is
  // freed when that link goes.
  GraphTestNode* sink = wire();
  GraphTestNode* m = multi(2, 2);
  GraphTestNode* src = node(0.5f);
  Chip_UGen* chan = m->multi_chan[0];
  chan->add(src, 0);
  sink->add(chan, 0);
  drop(m);
  EXPECT_EQ(deaths, 5);  // m and its unlinked channel
  EXPECT_EQ(chan->owner, nullptr);
  sink->system_tick(1.0);
  EXPECT_FLOAT_EQ(sink->current, 0.5f);
  EXPECT_TRUE(sink->remove(chan));
  EXPECT_EQ(deaths, 6);
  EXPECT_EQ(src->m_num_dest, 0u);  // the channel let go of its source
  EXPECT_EQ(src->m_ref_count, 1u);
}

// ---------------------------------------------------------------------------
// Block mode

TEST_F(GraphTest, BlockPullMatchesSampleBySample) {
  const long ops[] = {1, 2, 3, 4, -1, 0};
  const unsigned long frames = 4;
  for (long op : ops) {
    SCOPED_TRACE("op " + std::to_string(op));
    // Two identical graphs: a ramp (1, 2, 3, ...) and a constant into a
    // scaled sink, plus a stereo node reading the sink on both channels.
    GraphTestNode* sinks[2];
    GraphTestNode* stereos[2];
    GraphTestNode* ramps[2];
    for (int g = 0; g < 2; g++) {
      ramps[g] = node();
      ramps[g]->ramp = true;
      sinks[g] = wire();
      sinks[g]->op = op;
      sinks[g]->gain = 0.5f;
      sinks[g]->add(ramps[g], 0);
      sinks[g]->add(node(2.0f), 0);
      stereos[g] = multi(2, 2);
      stereos[g]->add(sinks[g], 0);
      stereos[g]->multi_chan[1]->pan = 0.5f;
    }
    for (Chip_UGen* n : held) ASSERT_TRUE(n->alloc_v(frames));
    for (int g = 0; g < 2; g++) {
      for (unsigned long i = 0; i < stereos[g]->multi_chan_size; i++) {
        ASSERT_TRUE(stereos[g]->multi_chan[i]->alloc_v(frames));
      }
    }

    std::vector<SAMPLE> sink_ref, stereo_ref;
    for (unsigned long t = 1; t <= frames; t++) {
      stereos[0]->system_tick(static_cast<t_CPTIME>(t));
      sink_ref.push_back(sinks[0]->current);
      stereo_ref.push_back(stereos[0]->current);
    }
    EXPECT_EQ(stereos[1]->system_tick_v(static_cast<t_CPTIME>(frames), frames), 1u);
    // Bit for bit.
    for (unsigned long j = 0; j < frames; j++) {
      EXPECT_EQ(sinks[1]->current_v[j], sink_ref[j]) << "frame " << j;
      EXPECT_EQ(stereos[1]->current_v[j], stereo_ref[j]) << "frame " << j;
    }
    EXPECT_EQ(sinks[1]->last, sink_ref.back());
    EXPECT_EQ(stereos[1]->last, stereo_ref.back());
    EXPECT_EQ(stereos[1]->current, stereo_ref.back());
    EXPECT_EQ(ramps[1]->ticks, static_cast<int>(frames));
    // The same block again is cached.
    stereos[1]->system_tick_v(static_cast<t_CPTIME>(frames), frames);
    EXPECT_EQ(ramps[1]->ticks, static_cast<int>(frames));
    TearDown();
  }
}

// A channel node pulls its owner before it ticks: sample by sample the
// owner reads the channel's previous sample. A block pull lets the channel
// be read a frame late meanwhile, to the same bits.
TEST_F(GraphTest, BlockPullReadsAChannelWaitingForItsOwnerAFrameLate) {
  const unsigned long frames = 6;
  GraphTestNode* readers[2];
  for (int g = 0; g < 2; g++) {
    GraphTestNode* ramp = node();
    ramp->ramp = true;
    GraphTestNode* stereo = multi(2, 2);
    stereo->add(ramp, 0);
    stereo->multi_chan[1]->gain = 3.0f;
    readers[g] = wire();
    readers[g]->add(stereo->multi_chan[0], 0);  // the channel first,
    readers[g]->add(stereo, 0);                 // then its owner
    for (Chip_UGen* n : {static_cast<Chip_UGen*>(ramp), static_cast<Chip_UGen*>(stereo),
                         stereo->multi_chan[0], stereo->multi_chan[1],
                         static_cast<Chip_UGen*>(readers[g])}) {
      ASSERT_TRUE(n->alloc_v(frames));
    }
  }
  Chip_UGen* sink = readers[1];
  EXPECT_TRUE(Chip_UGen::block_exact(frames, &sink, 1, nullptr, 0));
  std::vector<SAMPLE> ref;
  for (unsigned long t = 1; t <= 2 * frames; t++) {
    readers[0]->system_tick(static_cast<t_CPTIME>(t));
    ref.push_back(readers[0]->current);
  }
  // ramp t, plus the owner's mean of the channels: (t - 1 + 3 t) / 2.
  EXPECT_EQ(ref[2], 3.0f + (2.0f + 9.0f) / 2.0f);
  for (unsigned long b = 1; b <= 2; b++) {
    readers[1]->system_tick_v(static_cast<t_CPTIME>(b * frames), frames);
    for (unsigned long j = 0; j < frames; j++) {
      EXPECT_EQ(readers[1]->current_v[j], ref[(b - 1) * frames + j])
          << "block " << b << " frame " << j;
    }
  }
}

TEST_F(GraphTest, BlockPullOfAFailedTickIsSilent) {
  GraphTestNode* n = node(0.5f);
  n->result = 0;
  ASSERT_TRUE(n->alloc_v(3));
  EXPECT_EQ(n->system_tick_v(3.0, 3), 0u);
  for (int j = 0; j < 3; j++) EXPECT_EQ(n->current_v[j], 0.0f);
  EXPECT_EQ(n->ticks, 3);
}

// A tick that faults inside a block silences its node from that frame on,
// and a node reading it skips it from there (op 3 would multiply by its
// 0), as sample by sample; the same with the block form of the tick.
TEST_F(GraphTest, BlockPullOfATickFaultingInsideTheBlock) {
  const unsigned long frames = 5;
  for (bool block_tick : {false, true}) {
    SCOPED_TRACE(block_tick ? "block tick" : "tick per frame");
    GraphTestNode* sinks[2];
    GraphTestNode* ramps[2];
    for (int g = 0; g < 2; g++) {
      sinks[g] = wire();
      sinks[g]->op = 3;
      sinks[g]->add(node(2.0f), 0);
      ramps[g] = node();
      ramps[g]->ramp = true;
      ramps[g]->throw_at = 3;
      if (block_tick) ramps[g]->tick_v = test_tick_v;
      sinks[g]->add(ramps[g], 0);
    }
    for (Chip_UGen* n : held) ASSERT_TRUE(n->alloc_v(frames));
    std::vector<SAMPLE> ref;
    std::vector<std::string> lines = printed_lines([&] {
      for (unsigned long t = 1; t <= frames; t++) {
        sinks[0]->system_tick(static_cast<t_CPTIME>(t));
        ref.push_back(sinks[0]->current);
      }
      sinks[1]->system_tick_v(static_cast<t_CPTIME>(frames), frames);
    });
    EXPECT_EQ(lines.size(), 2u);  // the fault, reported once each way
    EXPECT_EQ(ref, (std::vector<SAMPLE>{2.0f, 4.0f, 2.0f, 2.0f, 2.0f}));
    for (unsigned long j = 0; j < frames; j++) {
      EXPECT_EQ(sinks[1]->current_v[j], ref[j]) << "frame " << j;
      EXPECT_EQ(ramps[1]->current_v[j], j < 2 ? ramps[0]->ticks - 2.0f + j : 0.0f);
    }
    EXPECT_EQ(ramps[1]->valid, 0u);
    EXPECT_EQ(ramps[1]->valid_upto, 2u);
    EXPECT_EQ(ramps[1]->op, 0);
    TearDown();
  }
}

TEST_F(GraphTest, BlockBuffers) {
  GraphTestNode* n = node();
  EXPECT_TRUE(n->alloc_v(8));
  ASSERT_NE(n->current_v, nullptr);
  EXPECT_EQ(n->size_v, 8u);
  for (int j = 0; j < 8; j++) EXPECT_EQ(n->current_v[j], 0.0f);  // zeroed
  EXPECT_TRUE(n->alloc_v(0));
  EXPECT_EQ(n->current_v, nullptr);
  EXPECT_EQ(n->size_v, 0u);
}

// Which graphs render exactly in blocks: the walk meets every node a pull
// would, and refuses feedback (a node read while its pull is under way), a
// class not exact in blocks, and a second node drawing from the shared
// random generator. Nodes given as computed are not looked into.
TEST_F(GraphTest, BlockExactGraphs) {
  auto exact = [](Chip_UGen* sink, std::vector<Chip_UGen*> computed = {}) {
    return Chip_UGen::block_exact(0, &sink, 1, computed.data(), computed.size());
  };
  GraphTestNode* sink = wire();
  GraphTestNode* a = node(1.0f);
  GraphTestNode* b = wire();
  b->add(a, 0);
  sink->add(b, 0);
  sink->add(a, 0);  // read twice: no feedback
  EXPECT_TRUE(exact(sink));

  // A stereo node's channels pull their owner, which reads its channels:
  // no feedback either.
  GraphTestNode* stereo = multi(2, 2);
  stereo->add(b, 0);
  sink->add(stereo, 0);
  EXPECT_TRUE(exact(sink));
  EXPECT_TRUE(exact(stereo->multi_chan[1]));

  // A class that is not exact in blocks, anywhere in the graph.
  a->block = 0;
  EXPECT_FALSE(exact(sink));
  a->block = CHIP_BLOCK_EXACT;

  // A node whose buffer is shorter than the blocks.
  for (Chip_UGen* n : held) ASSERT_TRUE(n->alloc_v(8));
  for (unsigned long i = 0; i < 2; i++) ASSERT_TRUE(stereo->multi_chan[i]->alloc_v(8));
  Chip_UGen* sinks[] = {sink};
  EXPECT_TRUE(Chip_UGen::block_exact(8, sinks, 1, nullptr, 0));
  ASSERT_TRUE(a->alloc_v(4));
  EXPECT_FALSE(Chip_UGen::block_exact(8, sinks, 1, nullptr, 0));

  // Random draws: one such node, then two.
  a->block |= CHIP_BLOCK_SHARED_RANDOM;
  EXPECT_TRUE(exact(sink));
  GraphTestNode* noise = node();
  noise->block |= CHIP_BLOCK_SHARED_RANDOM;
  sink->add(noise, 0);
  EXPECT_FALSE(exact(sink));
  sink->remove(noise);
  EXPECT_TRUE(exact(sink));

  // Feedback: c reads b, which reads c.
  GraphTestNode* c = wire();
  c->add(b, 0);
  b->add(c, 0);
  EXPECT_FALSE(exact(sink));
  // ... unless c counts as computed (as adc does while it is filled from
  // the input).
  EXPECT_TRUE(exact(sink, {c}));
  b->remove(c);
  EXPECT_TRUE(exact(sink));

  // A node feeding itself.
  b->add(b, 0);
  EXPECT_FALSE(exact(sink));
  b->remove(b);
  EXPECT_TRUE(exact(sink));
}

TEST_F(GraphTest, GraphVersionMovesWithEveryLinkMadeOrCut) {
  GraphTestNode* a = node(1.0f);
  GraphTestNode* b = wire();
  GraphTestNode* c = wire();
  unsigned long version = Chip_UGen::graph_version();
  auto moved = [&] {
    unsigned long now = Chip_UGen::graph_version();
    bool changed = now != version;
    version = now;
    return changed;
  };
  b->add(a, 0);
  EXPECT_TRUE(moved());
  c->add(b, 0);
  EXPECT_TRUE(moved());
  EXPECT_FALSE(c->remove(a));  // nothing cut
  EXPECT_FALSE(moved());
  b->system_tick(1.0);
  EXPECT_FALSE(moved());
  EXPECT_TRUE(b->remove(a));
  EXPECT_TRUE(moved());
  EXPECT_TRUE(b->disconnect(FALSE));
  EXPECT_TRUE(moved());
  b->add(a, 0);
  moved();
  EXPECT_TRUE(b->disconnect(TRUE));
  EXPECT_TRUE(moved());
}

// Cutting the links of many nodes at once leaves every other list in its
// order (the order sources are summed in) and frees what it frees in the
// order cutting them one by one would: each node's sources by their first
// place in its list.
TEST_F(GraphTest, CuttingLinksKeepsOrderAndFreesAsOneByOne) {
  std::vector<int> died;
  GraphTestNode* sink = wire();
  GraphTestNode* fan = node(1.0f);  // a source of every leaving node
  GraphTestNode* keep[3];
  GraphTestNode* leave[2];
  for (int i = 0; i < 3; i++) keep[i] = node(static_cast<SAMPLE>(i));
  for (int i = 0; i < 2; i++) {
    leave[i] = wire();
    leave[i]->add(fan, 0);
  }
  for (GraphTestNode* n : {keep[0], leave[0], keep[1], leave[1], keep[2]}) sink->add(n, 0);
  // leave[0]'s own sources: x, y, x, held only by those links.
  GraphTestNode* x = node();
  GraphTestNode* y = node();
  x->died = y->died = &died;
  x->tag = 1;
  y->tag = 2;
  leave[0]->add(x, 0);
  leave[0]->add(y, 0);
  leave[0]->add(x, 0);
  drop(x);
  drop(y);

  Chip_UGen::disconnect_owned(std::vector<Chip_UGen*>{leave[1], leave[0]});
  ASSERT_EQ(sink->num_src, 3u);
  for (int i = 0; i < 3; i++) EXPECT_EQ(sink->src_list[i], keep[i]);
  EXPECT_EQ(sink->src_list[3], nullptr);  // vacated slots are cleared
  EXPECT_EQ(fan->m_num_dest, 0u);
  EXPECT_EQ(fan->m_ref_count, 1u);
  for (GraphTestNode* n : leave) {
    EXPECT_EQ(n->num_src + n->m_num_dest, 0u);
    EXPECT_EQ(n->m_ref_count, 1u);  // the test's
  }
  EXPECT_EQ(died, (std::vector<int>{1, 2}));
  for (GraphTestNode* n : keep) EXPECT_EQ(n->m_num_dest, 1u);
}

// ---------------------------------------------------------------------------
// Analysers

TEST_F(GraphTest, TockPullsUpstreamAnalysersOncePerTime) {
  GraphTestAna* up = ana();
  GraphTestAna* down = ana();
  GraphTestNode* plain = node(1.0f);
  down->add(up, 1);
  down->add(plain, 0);
  EXPECT_EQ(down->tock_time, -1.0);
  EXPECT_EQ(down->is_uana, 1u);

  EXPECT_EQ(down->system_tock(1.0), 1u);
  EXPECT_EQ(up->tocks, 1);
  EXPECT_EQ(down->tocks, 1);
  EXPECT_EQ(plain->ticks, 0);  // plain generators are not touched
  down->system_tock(1.0);
  EXPECT_EQ(down->tocks, 1);
  down->result = 0;
  EXPECT_EQ(down->system_tock(2.0), 0u);
  EXPECT_EQ(down->valid, 0u);
  EXPECT_EQ(up->tocks, 2);

  // op 0 never tocks, but still brings its upstream analysers up to date.
  down->op = 0;
  EXPECT_EQ(down->system_tock(3.0), 1u);
  EXPECT_EQ(down->tocks, 2);
  EXPECT_EQ(up->tocks, 3);
}

TEST_F(GraphTest, TockStampsTheBlob) {
  // A stand-in blob object whose data holds "m_when" at offset 0, and an
  // analyser whose data holds its proxy at offset 0.
  Chip_Object* blob = new Chip_Object;
  blob->size = sizeof(t_CPTIME);
  blob->data = static_cast<unsigned char*>(std::calloc(1, blob->size));
  Chip_UAnaBlobProxy* proxy = new Chip_UAnaBlobProxy(blob);
  EXPECT_EQ(blob->m_ref_count, 1u);
  GraphTestAna* a = ana();
  a->size = sizeof(Chip_UAnaBlobProxy*);
  a->data = static_cast<unsigned char*>(std::calloc(1, a->size));
  *reinterpret_cast<Chip_UAnaBlobProxy**>(a->data) = proxy;
  GraphTestAna* down = ana();
  down->add(a, 1);

  // The offsets as the analysis classes register them, put back afterwards.
  const t_CPWORD saved_blob = uana_offset_blob;
  const t_CPWORD saved_when = uanablob_offset_when;
  uana_offset_blob = -1;
  EXPECT_EQ(a->blobProxy(), nullptr);  // offsets not registered
  uana_offset_blob = 0;
  uanablob_offset_when = 0;
  EXPECT_EQ(a->blobProxy(), proxy);
  EXPECT_EQ(down->getIncomingBlob(0), proxy);
  a->system_tock(7.0);
  EXPECT_EQ(proxy->when(), 7.0);
  uana_offset_blob = saved_blob;
  uanablob_offset_when = saved_when;
  delete proxy;  // releases the blob, which frees it
}

// ---------------------------------------------------------------------------
// Nodes of an ending shred

TEST_F(GraphTest, NodesOfAnEndingShredLeaveTheGraphWithoutTouchingIt) {
  Chip_VM_Shred* shred = new Chip_VM_Shred;
  shred->add_ref();
  // a -> b -> sink, a and b made by the shred and held only by their links:
  // disconnecting b first frees a's last link while a is still to come.
  GraphTestNode* sink = wire();
  GraphTestNode* a = node(1.0f);
  GraphTestNode* b = wire();
  b->add(a, 0);
  sink->add(b, 0);
  for (GraphTestNode* n : {a, b}) {
    n->shred = shred;
    ASSERT_TRUE(shred->add(n));
    drop(n);
  }
  std::vector<Chip_UGen*> owned = {b, a};
  Chip_UGen::disconnect_owned(owned);
  EXPECT_EQ(deaths, 2);
  EXPECT_EQ(sink->num_src, 0u);
  EXPECT_EQ(shred->ugens.size(), 2u);  // the registry is the caller's to empty
  shred->ugens.clear();

  // A node that dies while its shred lives takes itself out of the registry.
  GraphTestNode* c = node();
  c->shred = shred;
  shred->add(c);
  drop(c);
  EXPECT_EQ(deaths, 3);
  EXPECT_TRUE(shred->ugens.empty());

  // A node still held elsewhere survives, cut loose from the shred.
  GraphTestNode* d = node(1.0f);
  sink->add(d, 0);
  d->shred = shred;
  shred->add(d);
  Chip_UGen::disconnect_owned({d});
  EXPECT_EQ(d->shred, nullptr);
  EXPECT_EQ(sink->num_src, 0u);
  EXPECT_EQ(d->m_ref_count, 1u);
  shred->ugens.clear();
  shred->release();
}

}  // namespace
