// The unit-generator graph: links, the per-sample and per-block pulls, the
// analysis pull, and tearing nodes down.
#include "chip/vm/chip_ugen.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

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

// Removes every occurrence of node; returns how many there were.
unsigned long list_remove_all(Chip_UGen** list, unsigned long& count, Chip_UGen* node) {
  unsigned long removed = 0;
  unsigned long i = 0;
  while (i < count) {
    if (list[i] == node) {
      list_remove_at(list, count, i);
      removed++;
    } else {
      i++;
    }
  }
  return removed;
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
      if (chan->owner == this) chan->owner = nullptr;
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
  sum_v = nullptr;
  current_v = nullptr;
  size_v = 0;
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
  // holds its sources); it still holds its own sources, given back here.
  // The first loop cuts whatever an inconsistent graph kept.
  while (m_num_dest > 0) {
    Chip_UGen* dest = dest_list[0];
    if (!dest->remove(this) && m_num_dest > 0 && dest_list[0] == dest) {
      list_remove_at(dest_list, m_num_dest, 0);
    }
  }
  while (num_src > 0) {
    Chip_UGen* src = src_list[0];
    if (!remove(src) && num_src > 0 && src_list[0] == src) {
      list_remove_at(src_list, num_src, 0);
    }
  }
  valid = 0;
  list_free(src_list, src_cap, num_src);
  list_free(dest_list, dest_cap, m_num_dest);
  list_free(src_uana_list, src_uana_cap, num_src_uana);
  list_free(dest_uana_list, dest_uana_cap, num_dest_uana);
  alloc_v(0);
}

t_CPBOOL Chip_UGen::alloc_v(unsigned long frames) {
  delete[] sum_v;
  delete[] current_v;
  sum_v = nullptr;
  current_v = nullptr;
  size_v = 0;
  if (frames == 0) return TRUE;
  sum_v = new (std::nothrow) SAMPLE[frames];
  current_v = new (std::nothrow) SAMPLE[frames];
  if (!sum_v || !current_v) {
    delete[] sum_v;
    delete[] current_v;
    sum_v = nullptr;
    current_v = nullptr;
    return FALSE;
  }
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

unsigned long Chip_UGen::system_tick_v(t_CPTIME now, unsigned long frames) {
  if (time >= now) return valid;
  CHIP_CHECK(frames >= 1 && frames <= size_v);
  time = now;

  if (num_src == 0) {
    for (unsigned long j = 0; j < frames; j++) sum_v[j] = 0.0f;
  } else {
    Chip_UGen* first = src_list[0];
    if (first->time < now) first->system_tick_v(now, frames);
    std::memcpy(sum_v, first->current_v, frames * sizeof(SAMPLE));
    for (unsigned long i = 1; i < num_src; i++) {
      Chip_UGen* src = src_list[i];
      if (src->time < now) src->system_tick_v(now, frames);
      if (!src->valid) continue;
      const SAMPLE* in = src->current_v;
      switch (op) {
        case 2:
          for (unsigned long j = 0; j < frames; j++) sum_v[j] -= in[j];
          break;
        case 3:
          for (unsigned long j = 0; j < frames; j++) sum_v[j] *= in[j];
          break;
        case 4:
          for (unsigned long j = 0; j < frames; j++) sum_v[j] /= in[j];
          break;
        default:
          for (unsigned long j = 0; j < frames; j++) sum_v[j] += in[j];
          break;
      }
    }
  }

  if (multi_chan_size > 0) {
    SAMPLE share = 1.0f / static_cast<SAMPLE>(multi_chan_size);
    for (unsigned long i = 0; i < multi_chan_size; i++) {
      Chip_UGen* chan = multi_chan[i];
      if (!chan) continue;
      if (chan->time < now) chan->system_tick_v(now, frames);
      const SAMPLE* in = chan->current_v;
      for (unsigned long j = 0; j < frames; j++) sum_v[j] += share * in[j];
    }
  }

  if (owner && owner->time < now) owner->system_tick_v(now, frames);

  if (op <= 0) {
    if (op < 0) {
      std::memcpy(current_v, sum_v, frames * sizeof(SAMPLE));
    } else {
      for (unsigned long j = 0; j < frames; j++) current_v[j] = 0.0f;
    }
    last = current_v[frames - 1];
    return 1;
  }

  if (tick) {
    for (unsigned long j = 0; j < frames; j++) {
      if (!chip_dl_call_tick(tick, this, sum_v[j], &current_v[j], nullptr, &valid)) {
        op = 0;
        valid = 0;
        break;
      }
    }
  }
  if (!valid) {
    for (unsigned long j = 0; j < frames; j++) current_v[j] = 0.0f;
  } else {
    SAMPLE factor = gain * pan;
    for (unsigned long j = 0; j < frames; j++) current_v[j] = guard(factor * current_v[j]);
  }
  last = current_v[frames - 1];
  return valid;
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
    list_remove_all(src_uana_list, num_src_uana, src);
    t_CPBOOL found = FALSE;
    unsigned long i;
    while ((i = list_find(src_list, num_src, src)) < num_src) {
      list_remove_at(src_list, num_src, i);
      list_remove_all(src->dest_uana_list, src->num_dest_uana, this);
      list_remove_all(src->dest_list, src->m_num_dest, this);
      src->release();
      found = TRUE;
    }
    return found;
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
  while (m_num_dest > 0) {
    Chip_UGen* dest = dest_list[0];
    if (!dest->remove(this) && m_num_dest > 0 && dest_list[0] == dest) {
      list_remove_at(dest_list, m_num_dest, 0);
    }
  }
  if (recursive) {
    while (num_src > 0) {
      Chip_UGen* src = src_list[0];
      if (!remove(src) && num_src > 0 && src_list[0] == src) {
        list_remove_at(src_list, num_src, 0);
      }
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
  // Held first: disconnecting one node may drop the last link reference on
  // another node of the list.
  for (const auto& entry : owned) node_of(entry)->add_ref();
  // The shred is going away: no node may reach it again, not even when its
  // destruction (below or much later) takes it out of the shred's registry.
  for (const auto& entry : owned) node_of(entry)->shred = nullptr;
  for (const auto& entry : owned) node_of(entry)->disconnect(TRUE);
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
