// The unit-generator graph: links, the per-sample and per-block pulls, the
// analysis pull, and tearing nodes down.
#include "chip/vm/chip_ugen.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "chip/util/chip_errmsg.h"
#include "chip/vm/chip_vm.h"

namespace {

// Outputs must lie strictly between these magnitudes; everything else
// (denormal dust, blown-up feedback, infinities, NaN) becomes 0.
const SAMPLE kGuardLow = 1e-15f;
const SAMPLE kGuardHigh = 1e15f;

inline SAMPLE guard(SAMPLE value) {
  SAMPLE mag = std::fabs(value);
  return (mag > kGuardLow && mag < kGuardHigh) ? value : 0.0f;
}

// Appends node to a list that grows by doubling (8 entries at first).
void list_append(Chip_UGen**& list, unsigned long& cap, unsigned long& count, Chip_UGen* node) {
  if (count >= cap) {
    unsigned long new_cap = cap ? cap * 2 : 8;
    Chip_UGen** grown = new Chip_UGen*[new_cap]();
    for (unsigned long i = 0; i < count; i++) grown[i] = list[i];
    delete[] list;
    list = grown;
    cap = new_cap;
  }
  list[count++] = node;
}

// Removes entry i: later entries shift down, the vacated slot is cleared.
void list_remove_at(Chip_UGen** list, unsigned long& count, unsigned long i) {
  for (unsigned long j = i + 1; j < count; j++) list[j - 1] = list[j];
  count--;
  list[count] = nullptr;
}

// Index of the first occurrence of node, or count when there is none.
unsigned long list_find(Chip_UGen** list, unsigned long count, Chip_UGen* node) {
  unsigned long i = 0;
  while (i < count && list[i] != node) i++;
  return i;
}

// Removes, in one pass, every entry `drop` says so of; the others keep
// their order and the vacated slots are cleared. Returns how many went.
template <typename Drop>
unsigned long list_remove_if(Chip_UGen** list, unsigned long& count, Drop drop) {
  unsigned long kept = 0;
  for (unsigned long i = 0; i < count; i++) {
    if (!drop(list[i])) list[kept++] = list[i];
  }
  unsigned long removed = count - kept;
  for (unsigned long i = kept; i < count; i++) list[i] = nullptr;
  count = kept;
  return removed;
}

// Removes every occurrence of node; returns how many there were.
unsigned long list_remove_all(Chip_UGen** list, unsigned long& count, Chip_UGen* node) {
  return list_remove_if(list, count, [node](Chip_UGen* entry) { return entry == node; });
}

void list_free(Chip_UGen**& list, unsigned long& cap, unsigned long& count) {
  delete[] list;
  list = nullptr;
  cap = 0;
  count = 0;
}

// Combines one source value into the running sum by op.
inline void combine(long op, SAMPLE& sum, SAMPLE value) {
  switch (op) {
    case 2:
      sum -= value;
      break;
    case 3:
      sum *= value;
      break;
    case 4:
      sum /= value;
      break;
    default:
      sum += value;
      break;
  }
}

// Keeps a node alive while one of its own operations may drop the last
// reference on it (a link's reference is the only one a node needs). A node
// whose count is 0 is not held: it is being destroyed, or has no holder to
// lose.
class Hold {
 public:
  explicit Hold(Chip_UGen* node) : m_node(node->m_ref_count > 0 ? node : nullptr) {
    if (m_node) m_node->add_ref();
  }
  ~Hold() {
    if (m_node) m_node->release();
  }
  Hold(const Hold&) = delete;
  Hold& operator=(const Hold&) = delete;

 private:
  Chip_UGen* m_node;
};

// Moves with every link made or cut (the shreduler's check of the graph
// keeps its answer until then). Shared by every machine of the process.
std::atomic<unsigned long> g_graph_version{0};

void graph_changed() { g_graph_version.fetch_add(1, std::memory_order_relaxed); }

// Marks for the graph walks: each walk takes fresh values, so no node's
// mark needs clearing afterwards.
std::atomic<unsigned long> g_marks{0};

// The first of `count` values no walk has used.
unsigned long fresh_marks(unsigned long count) {
  return g_marks.fetch_add(count, std::memory_order_relaxed) + 1;
}

// ---------------------------------------------------------------------------
// Cutting links
//
// Every link between a set of nodes and the rest of the graph, and among
// them, goes in two passes, each over the lists concerned once:
//  1. each node that stays but is linked with a leaving one drops the
//     leaving nodes from its lists, giving back the references its source
//     list held on them (the leaving nodes are held by the caller: nothing
//     is freed in this pass);
//  2. each leaving node, in the given order, empties its lists and gives
//     back the references on its sources. Sources freed by that cut their
//     own links as they go; none of them is linked with a leaving node any
//     more.
// Removing each leaving node's links one by one (every destination removes
// it, then it removes each of its sources) ends in the same graph, with
// each remaining list in the same order, and frees the same nodes in the
// same order; it costs a search and a shift per link.

// Drops every entry marked `leaving` from node's lists.
void drop_leaving(Chip_UGen* node, unsigned long leaving) {
  auto is_leaving = [leaving](Chip_UGen* entry) { return entry->mark == leaving; };
  list_remove_if(node->src_list, node->num_src, [leaving](Chip_UGen* entry) {
    if (entry->mark != leaving) return false;
    entry->release();
    return true;
  });
  list_remove_if(node->dest_list, node->m_num_dest, is_leaving);
  list_remove_if(node->src_uana_list, node->num_src_uana, is_leaving);
  list_remove_if(node->dest_uana_list, node->num_dest_uana, is_leaving);
}

// Empties node's source list and gives back its references in the order
// removing the sources one by one would: all of a source's references at
// its first place in the list.
void release_sources(Chip_UGen* node) {
  Chip_UGen** list = node->src_list;
  const unsigned long count = node->num_src;
  node->num_src = 0;
  // Whether some source is listed twice (the marks are scratch: nothing
  // is freed before the releases below).
  const unsigned long seen = fresh_marks(1);
  bool twice = false;
  for (unsigned long i = 0; i < count && !twice; i++) {
    twice = list[i]->mark == seen;
    list[i]->mark = seen;
  }
  if (!twice) {
    for (unsigned long i = 0; i < count; i++) {
      Chip_UGen* src = list[i];
      list[i] = nullptr;
      src->release();
    }
    return;
  }
  // Each source with its number of places, in the order of its first one.
  std::vector<std::pair<Chip_UGen*, unsigned long>> order;
  const unsigned long base = fresh_marks(count + 1);
  for (unsigned long i = 0; i < count; i++) list[i]->mark = base;
  for (unsigned long i = 0; i < count; i++) list[i]->mark++;
  for (unsigned long i = 0; i < count; i++) {
    Chip_UGen* src = list[i];
    list[i] = nullptr;
    if (src->mark == base) continue;
    order.emplace_back(src, src->mark - base);
    src->mark = base;
  }
  for (const auto& [src, links] : order) {
    for (unsigned long k = 0; k < links; k++) src->release();
  }
}

// Cuts every link of the nodes of [first, last) (node_of gives the node of
// an entry); see above.
template <typename Iter, typename NodeOf>
void cut_links(Iter first, Iter last, NodeOf node_of) {
  const unsigned long touched = fresh_marks(2);
  const unsigned long leaving = touched + 1;
  for (Iter it = first; it != last; ++it) node_of(*it)->mark = leaving;
  auto touch = [touched, leaving](Chip_UGen* const* list, unsigned long count) {
    for (unsigned long i = 0; i < count; i++) {
      Chip_UGen* node = list[i];
      if (node->mark == touched || node->mark == leaving) continue;
      node->mark = touched;
      drop_leaving(node, leaving);
    }
  };
  for (Iter it = first; it != last; ++it) {
    Chip_UGen* node = node_of(*it);
    touch(node->src_list, node->num_src);
    touch(node->dest_list, node->m_num_dest);
    touch(node->src_uana_list, node->num_src_uana);
    touch(node->dest_uana_list, node->num_dest_uana);
  }
  for (Iter it = first; it != last; ++it) {
    Chip_UGen* node = node_of(*it);
    list_remove_if(node->dest_list, node->m_num_dest, [](Chip_UGen*) { return true; });
    list_remove_if(node->src_uana_list, node->num_src_uana, [](Chip_UGen*) { return true; });
    list_remove_if(node->dest_uana_list, node->num_dest_uana, [](Chip_UGen*) { return true; });
    release_sources(node);
  }
  graph_changed();
}

}  // namespace

// ---------------------------------------------------------------------------
// Chip_UGen

Chip_UGen::Chip_UGen() { init(); }

Chip_UGen::~Chip_UGen() {
  done();
  // The channel nodes this node owns: they may live on in the graph, so
  // they forget their owner before the reference is dropped.
  if (multi_chan) {
    for (unsigned long i = 0; i < multi_chan_size; i++) {
      Chip_UGen* chan = multi_chan[i];
      multi_chan[i] = nullptr;
      if (!chan) continue;
      if (chan->owner == this) {
        chan->owner = nullptr;
        graph_changed();
      }
      chan->release();
    }
    delete[] multi_chan;
    multi_chan = nullptr;
    multi_chan_size = 0;
  }
}

void Chip_UGen::init() {
  tick = nullptr;
  pmsg = nullptr;
  tick_v = nullptr;
  block = 0;
  multi_chan = nullptr;
  multi_chan_size = 0;
  num_ins = 1;
  num_outs = 1;
  src_list = nullptr;
  src_cap = 0;
  num_src = 0;
  dest_list = nullptr;
  dest_cap = 0;
  m_num_dest = 0;
  src_uana_list = nullptr;
  src_uana_cap = 0;
  num_src_uana = 0;
  dest_uana_list = nullptr;
  dest_uana_cap = 0;
  num_dest_uana = 0;
  max_src = -1;
  time = 0.0;
  valid = 1;
  sum = 0.0f;
  current = 0.0f;
  last = 0.0f;
  gain = 1.0f;
  pan = 1.0f;
  op = 1;
  current_v = nullptr;
  size_v = 0;
  valid_upto = 0;
  mark = 0;
  delayed = FALSE;
  shred = nullptr;
  owner = nullptr;
  is_uana = 0;
}

void Chip_UGen::done() {
  if (shred) {
    shred->remove(this);
    shred = nullptr;
  }
  CHIP_CHECK(this->m_ref_count == 0);
  // A node nothing holds is no node's source any more (each destination
  // holds its sources); it still holds its own sources, given back here,
  // and whatever an inconsistent graph kept is cut too.
  Chip_UGen* self = this;
  cut_links(&self, &self + 1, [](Chip_UGen* node) { return node; });
  valid = 0;
  list_free(src_list, src_cap, num_src);
  list_free(dest_list, dest_cap, m_num_dest);
  list_free(src_uana_list, src_uana_cap, num_src_uana);
  list_free(dest_uana_list, dest_uana_cap, num_dest_uana);
  alloc_v(0);
}

t_CPBOOL Chip_UGen::alloc_v(unsigned long frames) {
  delete[] current_v;
  current_v = nullptr;
  size_v = 0;
  if (frames == 0) return TRUE;
  // Zeroed: a pull never reads a buffer before its node fills it, but a
  // direct pull of a cyclic graph would.
  current_v = new (std::nothrow) SAMPLE[frames]();
  if (!current_v) return FALSE;
  size_v = frames;
  return TRUE;
}

void Chip_UGen::alloc_multi_chan(unsigned long ins, unsigned long outs) {
  // Only a fresh node gets its slots (the destructor releases filled ones).
  CHIP_CHECK(multi_chan == NULL);
  multi_chan_size = ins > outs ? ins : outs;
  if (multi_chan_size > 0) multi_chan = new Chip_UGen*[multi_chan_size]();
  if (multi_chan_size == 1) {
    // A mono node is its own single channel.
    multi_chan_size = 0;
    multi_chan[0] = this;
  }
  num_ins = ins;
  num_outs = outs;
}

void Chip_UGen::attach_chan(unsigned long i, Chip_UGen* chan) {
  CHIP_CHECK(i < multi_chan_size && multi_chan[i] == NULL && chan != NULL);
  multi_chan[i] = chan;
  chan->add_ref();
  chan->owner = this;
  graph_changed();
}

// ---------------------------------------------------------------------------
// Pulling samples

unsigned long Chip_UGen::system_tick(t_CPTIME now) {
  if (time >= now) return valid;
  // Stamped before any source is visited: a cycle that leads back here
  // reads the previous sample instead of recursing.
  time = now;
  sum = 0.0f;

  if (num_src > 0) {
    Chip_UGen* first = src_list[0];
    if (first->time < now) first->system_tick(now);
    sum = first->current;
    // The count is re-read: a tick may change the graph.
    for (unsigned long i = 1; i < num_src; i++) {
      Chip_UGen* src = src_list[i];
      if (src->time < now) src->system_tick(now);
      if (!src->valid) continue;
      combine(op, sum, src->current);
    }
  }

  if (multi_chan_size > 0) {
    SAMPLE chan_sum = 0.0f;
    for (unsigned long i = 0; i < multi_chan_size; i++) {
      Chip_UGen* chan = multi_chan[i];
      if (!chan) continue;  // a channel node that could not be made
      if (chan->time < now) chan->system_tick(now);
      chan_sum += chan->current;
    }
    sum += chan_sum / static_cast<SAMPLE>(multi_chan_size);
  }

  if (owner && owner->time < now) owner->system_tick(now);

  if (op < 0) {
    current = last = sum;
    return 1;
  }
  if (op == 0) {
    current = last = 0.0f;
    return 1;
  }

  // A tick that throws silences the node for good (op 0 outputs 0).
  if (tick && !chip_dl_call_tick(tick, this, sum, &current, nullptr, &valid)) {
    op = 0;
    valid = 0;
  }
  if (!valid) current = 0.0f;
  current = guard((gain * pan) * current);
  last = current;
  return valid;
}

namespace {

// Combines a source's block into the running sums by op.
void combine_block(long op, SAMPLE* sum, const SAMPLE* in, unsigned long frames) {
  switch (op) {
    case 2:
      for (unsigned long j = 0; j < frames; j++) sum[j] -= in[j];
      break;
    case 3:
      for (unsigned long j = 0; j < frames; j++) sum[j] *= in[j];
      break;
    case 4:
      for (unsigned long j = 0; j < frames; j++) sum[j] /= in[j];
      break;
    default:
      for (unsigned long j = 0; j < frames; j++) sum[j] += in[j];
      break;
  }
}

// Frames of the channels' mean summed at a time (on the stack).
const unsigned long kChanChunk = 64;

// Frames [start, start + n) of what a node reads of `from`: its block, or,
// while `from` waits for its owner (see system_tick_v), its previous sample
// followed by its block, one frame late.
inline const SAMPLE* frames_of(const Chip_UGen* from, unsigned long start) {
  return from->delayed ? from->current_v + start - 1 : from->current_v + start;
}

}  // namespace

unsigned long Chip_UGen::system_tick_v(t_CPTIME now, unsigned long frames) {
  if (time >= now) return valid;
  CHIP_CHECK(frames >= 1 && frames <= size_v);
  time = now;

  // What this node reads comes first, in the order a pull per sample visits
  // it; then nothing else runs until its block is done, so its own buffer
  // holds the combined input and then, ticked in place, the output.
  for (unsigned long i = 0; i < num_src; i++) {
    Chip_UGen* src = src_list[i];
    if (src->time < now) src->system_tick_v(now, frames);
  }
  for (unsigned long i = 0; i < multi_chan_size; i++) {
    Chip_UGen* chan = multi_chan[i];
    if (chan && chan->time < now) chan->system_tick_v(now, frames);
  }

  SAMPLE* buf = current_v;
  if (num_src == 0) {
    for (unsigned long j = 0; j < frames; j++) buf[j] = 0.0f;
  } else {
    // The first source whatever its valid flag; the others for the frames
    // they were valid.
    const Chip_UGen* first = src_list[0];
    if (first->delayed) {
      buf[0] = first->current;
      std::memcpy(buf + 1, first->current_v, (frames - 1) * sizeof(SAMPLE));
    } else {
      std::memcpy(buf, first->current_v, frames * sizeof(SAMPLE));
    }
    for (unsigned long i = 1; i < num_src; i++) {
      const Chip_UGen* src = src_list[i];
      if (!src->delayed) {
        combine_block(op, buf, src->current_v, src->valid_upto);
        continue;
      }
      if (src->valid) combine(op, buf[0], src->current);
      const unsigned long n = src->valid_upto < frames ? src->valid_upto : frames - 1;
      combine_block(op, buf + 1, src->current_v, n);
    }
  }
  if (multi_chan_size > 0) {
    // As per sample: the channels' sum, divided by their number.
    const SAMPLE count = static_cast<SAMPLE>(multi_chan_size);
    for (unsigned long start = 0; start < frames; start += kChanChunk) {
      const unsigned long n = frames - start < kChanChunk ? frames - start : kChanChunk;
      SAMPLE chan_sum[kChanChunk] = {};
      for (unsigned long i = 0; i < multi_chan_size; i++) {
        const Chip_UGen* chan = multi_chan[i];
        if (!chan) continue;
        unsigned long j = 0;
        if (chan->delayed && start == 0) chan_sum[j++] += chan->current;
        const SAMPLE* in = frames_of(chan, start);
        for (; j < n; j++) chan_sum[j] += in[j];
      }
      for (unsigned long j = 0; j < n; j++) buf[start + j] += chan_sum[j] / count;
    }
  }
  const SAMPLE last_sum = buf[frames - 1];

  // The output, and for how many frames it is valid.
  unsigned long now_valid = valid;
  unsigned long upto = valid ? frames : 0;
  const bool passes = op <= 0;
  if (passes) {
    if (op == 0) {
      for (unsigned long j = 0; j < frames; j++) buf[j] = 0.0f;
    }
  } else {
    const SAMPLE factor = gain * pan;
    // Frames up to `good` keep their output (scaled and guarded); from there
    // on the node is silent.
    unsigned long good = frames;
    if (tick_v) {
      unsigned long made = 0;
      try {
        made = tick_v(this, buf, buf, frames, nullptr);
      } catch (...) {
        chip_dl_tick_fault(this);
      }
      now_valid = 1;
      upto = frames;
      if (made < frames) good = made;
    } else if (tick) {
      upto = 0;
      for (unsigned long j = 0; j < frames; j++) {
        if (!chip_dl_call_tick(tick, this, buf[j], &buf[j], nullptr, &now_valid)) {
          good = j;
          break;
        }
        if (!now_valid) buf[j] = 0.0f;
        if (now_valid && upto == j) upto = j + 1;
      }
    } else {
      // Without a tick the output stays, scaled again every frame.
      SAMPLE out = current;
      for (unsigned long j = 0; j < frames; j++) {
        if (!valid) out = 0.0f;
        out = guard(factor * out);
        buf[j] = out;
      }
    }
    if (good < frames) {
      // A faulting tick silences the node for good (op 0 outputs 0).
      op = 0;
      now_valid = 0;
      upto = good;
    }
    if (tick || tick_v) {
      for (unsigned long j = 0; j < good; j++) buf[j] = guard(factor * buf[j]);
      for (unsigned long j = good; j < frames; j++) buf[j] = 0.0f;
    }
  }

  // Sample by sample the owner is pulled before this node's tick, so what
  // it reads of this node (and what the nodes it pulls read of it) is the
  // previous sample: meanwhile this node is read one frame late, with its
  // previous valid flag for that frame.
  valid_upto = upto;
  if (owner && owner->time < now) {
    delayed = TRUE;
    owner->system_tick_v(now, frames);
    delayed = FALSE;
  }
  valid = now_valid;
  sum = last_sum;
  current = last = buf[frames - 1];
  return passes ? 1 : valid;
}

namespace {

// The walk of block_exact: visits nodes in the order a pull does.
struct Block_Check {
  unsigned long busy;     // mark of a node being visited
  unsigned long waiting;  // mark of a node whose owner is being visited
  unsigned long done;     // mark of a node visited
  unsigned long frames;   // the block's largest length
  unsigned long shared_random = 0;

  bool visit(Chip_UGen* node) {
    node->mark = busy;
    if (!(node->block & CHIP_BLOCK_EXACT) || node->size_v < frames) return false;
    if ((node->block & CHIP_BLOCK_SHARED_RANDOM) && ++shared_random > 1) return false;
    for (unsigned long i = 0; i < node->num_src; i++) {
      if (!read(node->src_list[i])) return false;
    }
    for (unsigned long i = 0; i < node->multi_chan_size; i++) {
      if (node->multi_chan[i] && !read(node->multi_chan[i])) return false;
    }
    // The owner is brought up to date, not read; meanwhile this node is
    // read one frame late (see system_tick_v).
    Chip_UGen* owner = node->owner;
    if (owner && owner->mark != busy && owner->mark != waiting && owner->mark != done) {
      node->mark = waiting;
      if (!visit(owner)) return false;
    }
    node->mark = done;
    return true;
  }

  // A node whose output is read: computed first unless it is. One whose
  // pull is under way would be read a sample late, which its block cannot
  // give before it is done.
  bool read(Chip_UGen* node) {
    if (node->mark == done || node->mark == waiting) return true;
    if (node->mark == busy) return false;
    return visit(node);
  }
};

}  // namespace

t_CPBOOL Chip_UGen::block_exact(unsigned long frames, Chip_UGen* const* sinks, size_t num_sinks,
                                Chip_UGen* const* computed, size_t num_computed) {
  const unsigned long marks = fresh_marks(3);
  Block_Check check{marks, marks + 1, marks + 2, frames};
  for (size_t i = 0; i < num_computed; i++) computed[i]->mark = check.done;
  for (size_t i = 0; i < num_sinks; i++) {
    if (sinks[i] && !check.read(sinks[i])) return FALSE;
  }
  return TRUE;
}

unsigned long Chip_UGen::graph_version() {
  return g_graph_version.load(std::memory_order_relaxed);
}

// ---------------------------------------------------------------------------
// Links

t_CPBOOL Chip_UGen::add(Chip_UGen* src, unsigned long upchip) {
  unsigned long ins = num_ins;
  unsigned long outs = src->num_outs;

  if (ins == 1 && outs >= 1) {
    if (num_src >= static_cast<unsigned long>(max_src)) return FALSE;
    list_append(src_list, src_cap, num_src, src);
    src->add_ref();
    // The source's entry for this node holds nothing: see the header.
    list_append(src->dest_list, src->dest_cap, src->m_num_dest, this);
    if (upchip) {
      list_append(src->dest_uana_list, src->dest_uana_cap, src->num_dest_uana, this);
      list_append(src_uana_list, src_uana_cap, num_src_uana, src);
    }
    graph_changed();
    return TRUE;
  }
  if (ins > 1 && outs == 1) {
    for (unsigned long i = 0; i < multi_chan_size; i++) {
      if (!multi_chan[i] || !multi_chan[i]->add(src, upchip)) return FALSE;
    }
    return TRUE;
  }
  if (ins > 1 && outs > 1) {
    for (unsigned long i = 0; i < multi_chan_size; i++) {
      Chip_UGen* from = src->multi_chan[i % outs];
      if (!multi_chan[i] || !from || !multi_chan[i]->add(from, upchip)) return FALSE;
    }
    return TRUE;
  }
  EM_error2(0, "internal error: unhandled UGen add: outs: %d ins: %d", static_cast<int>(outs),
            static_cast<int>(ins));
  return FALSE;
}

t_CPBOOL Chip_UGen::remove(Chip_UGen* src) {
  unsigned long ins = num_ins;
  unsigned long outs = src->num_outs;

  if (ins == 1 && outs != 0) {
    if (num_src == 0) return FALSE;
    // Dropping the links may drop the last reference on the source, whose
    // destruction may in turn drop references on this node.
    Hold hold_this(this);
    Hold hold_src(src);
    // Every occurrence in one pass over each list.
    unsigned long links = list_remove_all(src_list, num_src, src);
    if (links == 0) return FALSE;
    list_remove_all(src_uana_list, num_src_uana, src);
    list_remove_all(src->dest_uana_list, src->num_dest_uana, this);
    list_remove_all(src->dest_list, src->m_num_dest, this);
    graph_changed();
    while (links-- > 0) src->release();
    return TRUE;
  }
  if (ins > 1 && outs == 1) {
    for (unsigned long i = 0; i < multi_chan_size; i++) {
      if (!multi_chan[i] || !multi_chan[i]->remove(src)) return FALSE;
    }
    return TRUE;
  }
  if (ins > 1 && outs > 1) {
    for (unsigned long i = 0; i < multi_chan_size; i++) {
      Chip_UGen* from = src->multi_chan[i % outs];
      if (!multi_chan[i] || !from || !multi_chan[i]->remove(from)) return FALSE;
    }
    return TRUE;
  }
  return FALSE;
}

t_CPBOOL Chip_UGen::disconnect(unsigned long recursive) {
  // Each removal drops references on this node; it must outlive the loops.
  Hold hold(this);
  if (recursive) {
    Chip_UGen* self = this;
    cut_links(&self, &self + 1, [](Chip_UGen* node) { return node; });
    return TRUE;
  }
  while (m_num_dest > 0) {
    Chip_UGen* dest = dest_list[0];
    if (!dest->remove(this) && m_num_dest > 0 && dest_list[0] == dest) {
      list_remove_at(dest_list, m_num_dest, 0);
      graph_changed();
    }
  }
  return TRUE;
}

t_CPBOOL Chip_UGen::is_connected_from(Chip_UGen* src) {
  if (list_find(src_list, num_src, src) < num_src) return TRUE;
  for (unsigned long i = 0; i < multi_chan_size; i++) {
    Chip_UGen* chan = multi_chan[i];
    if (chan && list_find(chan->src_list, chan->num_src, src) < chan->num_src) return TRUE;
  }
  return FALSE;
}

namespace {

template <typename List, typename Node>
void disconnect_all(const List& owned, Node node_of) {
  // Held first: cutting one node's links may drop the last link reference
  // on another node of the list.
  for (const auto& entry : owned) node_of(entry)->add_ref();
  // The shred is going away: no node may reach it again, not even when its
  // destruction (below or much later) takes it out of the shred's registry.
  for (const auto& entry : owned) node_of(entry)->shred = nullptr;
  cut_links(owned.begin(), owned.end(), node_of);
  for (const auto& entry : owned) node_of(entry)->release();
}

}  // namespace

void Chip_UGen::disconnect_owned(const std::vector<Chip_UGen*>& owned) {
  disconnect_all(owned, [](Chip_UGen* node) { return node; });
}

void Chip_UGen::disconnect_owned(const std::map<Chip_UGen*, Chip_UGen*>& owned) {
  disconnect_all(owned, [](const std::pair<Chip_UGen* const, Chip_UGen*>& e) { return e.first; });
}

// ---------------------------------------------------------------------------
// Chip_UAna

Chip_UAna::Chip_UAna() : tock(nullptr), tock_time(-1.0) {
  // Chip_UGen's constructor already ran init().
  is_uana = 1;
}

Chip_UAna::~Chip_UAna() = default;

unsigned long Chip_UAna::system_tock(t_CPTIME now) {
  if (tock_time >= now) return valid;
  tock_time = now;

  for (unsigned long i = 0; i < num_src; i++) {
    Chip_UGen* src = src_list[i];
    if (src->is_uana) {
      Chip_UAna* ana = static_cast<Chip_UAna*>(src);
      if (ana->tock_time < now) ana->system_tock(now);
    }
  }
  for (unsigned long i = 0; i < multi_chan_size; i++) {
    Chip_UGen* chan = multi_chan[i];
    if (chan && chan->is_uana) {
      Chip_UAna* ana = static_cast<Chip_UAna*>(chan);
      if (ana->tock_time < now) ana->system_tock(now);
    }
  }
  if (owner && owner->is_uana) {
    Chip_UAna* ana = static_cast<Chip_UAna*>(owner);
    if (ana->tock_time < now) ana->system_tock(now);
  }

  if (op <= 0) return 1;

  Chip_UAnaBlobProxy* blob = blobProxy();
  if (tock && !chip_dl_call_tock(tock, this, this, blob, nullptr, &valid)) {
    op = 0;
    valid = 0;
  }
  if (blob) blob->when() = now;
  return valid;
}

t_CPBOOL Chip_UAna::is_up_connected_from(Chip_UAna* src) {
  return list_find(src_uana_list, num_src_uana, src) < num_src_uana;
}

unsigned long Chip_UAna::numIncomingUAnae() { return num_src_uana; }

Chip_UAnaBlobProxy* Chip_UAna::getIncomingBlob(unsigned long index) {
  if (index >= num_src_uana) return nullptr;
  return getBlobProxy(static_cast<Chip_UAna*>(src_uana_list[index]));
}

Chip_UAnaBlobProxy* Chip_UAna::blobProxy() { return getBlobProxy(this); }
