// The unit-generator graph.
//
// Sound is made by a graph of nodes: unit generators (Chip_UGen) and unit
// analysers (Chip_UAna). Programs link them with `=>` (an audio link), `=^`
// (an audio link that also carries analysis results) and unlink them with
// `=<`. The graph is pulled: once per sample the shreduler asks its sinks
// (dac and blackhole) for the sample at `now`, and every node first asks its
// sources for theirs; in block mode it asks for a block of frames at once.
// Each node remembers the time of the last sample it computed, so a node is
// computed once per sample however many nodes read it, and a cycle ends at
// the node reached a second time (it reports its previous sample).
// Analysers compute an analysis frame ("tock") only on demand.
//
// Combining (`op`): the first source's output starts the sum; each further
// valid source is subtracted (2), multiplied (3), divided (4) or, for every
// other op, added. op < 0 passes the sum through untouched, op 0 outputs 0,
// op > 0 runs the class's tick and scales by gain x pan. Outputs whose
// magnitude is not strictly between 1e-15 and 1e15 (and NaN) become 0.
//
// Channels: a multichannel node (dac, adc, stereo classes) owns one mono
// node per channel in `multi_chan`; links into and out of it go channel to
// channel (see add). A mono node is its own single channel.
//
// References: a link holds one, the destination's source list on the
// source: a node keeps what feeds it alive (dac and blackhole keep every
// node that reaches them), while the source's destination list and the
// analyser lists hold none. So a pair linked only to each other is freed as
// soon as the script drops it, instead of the two holding each other until
// the shred that made them ends; a destination that is freed lets go of its
// sources (a node it alone held goes with it), and nothing downstream of a
// source needs the source's holders. (A cycle of links, feedback, still
// holds itself until its shred ends.) A multichannel node holds one
// reference on each channel node;
// a channel node points back at its `owner` WITHOUT holding a reference
// (a counted back-reference would make a cycle that never frees): when the
// owner is destroyed it clears each channel's `owner` and releases it, so a
// channel that still sits in the graph goes on working on its own.
//
// Nodes made by a shred point back at it (`shred`) and are listed in the
// shred's registry. A node's destruction takes it out of that registry, so
// an ending shred must first clear those back-pointers: see
// Chip_UGen::disconnect_owned.
//
// Blocks. A block pull (system_tick_v) computes a node's frames at once:
// what it reads (sources, then channels), their combination into the
// node's buffer, the class's block tick in place, then its owner. It gives
// the samples a pull per sample would, bit for bit, when the graph the
// sinks reach has no feedback and only classes whose ticks are exact in
// blocks, at most one of them drawing from the shared random generator
// (CHIP_BLOCK_* of chip_dl.h). Feedback is a read of a node whose pull is
// under way: sample by sample it gives the previous sample, which a block
// cannot give before the node is done; with one exception. A channel node
// pulls its owner before it ticks, so whatever reads the channel during
// that pull gets its previous sample: a block pull ticks the channel before
// its owner and meanwhile lets it be read one frame late (`delayed`).
// block_exact checks all that; the shreduler keeps its answer until
// graph_version() moves (every link made or cut does that) and pulls
// sample by sample while the answer is no. A tick that faults inside a
// block silences its node from that frame, and the nodes reading it skip
// it from there, as sample by sample.
//
// Cutting links is linear: a node's links, or those of all the nodes of an
// ending shred, are cut in one pass over the lists they touch, each list
// keeping the order of what stays (the order of a node's sources is the
// order its inputs are summed in); references are given back in the order
// cutting them one by one would, so nodes freed by it go in that order.
//
// Threads: the graph belongs to the machine's thread (the audio thread in
// callback mode): links, unlinks, ticks and tocks all run there, without
// locks. No other thread may touch a node.
#ifndef CHIP_CHIP_UGEN_H
#define CHIP_CHIP_UGEN_H

#include <map>
#include <vector>

#include "chip/util/chip_def.h"
#include "chip/vm/chip_dl.h"
#include "chip/vm/chip_oo.h"

struct Chip_VM_Shred;
struct Chip_UAna;

// ---------------------------------------------------------------------------
// A unit generator: one node of the audio graph.
struct Chip_UGen : Chip_Object {
  Chip_UGen();
  ~Chip_UGen() override;

  // Sets every field to its initial value (below).
  virtual void init();
  // Tears the node down: out of its shred's registry, every link cut, lists
  // and block buffers freed. Channel nodes are handled by the destructor.
  virtual void done();

  // The block buffer: frees it, then (frames > 0) allocates `frames`
  // samples (contents undefined). FALSE when the allocation failed; frames
  // 0 only frees and returns TRUE.
  t_CPBOOL alloc_v(unsigned long frames);
  // Channel slots: multi_chan_size = max(ins, outs) zeroed slots; a size of
  // 1 becomes 0 with slot 0 pointing at the node itself. Stores num_ins and
  // num_outs. The slots of a multichannel node are then filled with
  // attach_chan.
  void alloc_multi_chan(unsigned long ins, unsigned long outs);
  // Puts `chan` in channel slot i (i < multi_chan_size, slot empty): the
  // node takes a reference on it and becomes its owner (not counted, see
  // above).
  void attach_chan(unsigned long i, Chip_UGen* chan);

  // The sample for `now`; returns the valid flag.
  unsigned long system_tick(t_CPTIME now);
  // `frames` (>= 1, at most the block buffer's size) samples up to `now`
  // into current_v.
  unsigned long system_tick_v(t_CPTIME now, unsigned long frames);

  // Whether pulling the sinks in blocks of up to `frames` gives, bit for
  // bit, what pulling them sample by sample would (see the note at the
  // top); a node whose block buffer is shorter (made for another machine)
  // makes the answer no. The `computed` nodes count as already up to date
  // (adc and its channels when the shreduler fills them from the input).
  static t_CPBOOL block_exact(unsigned long frames, Chip_UGen* const* sinks, size_t num_sinks,
                              Chip_UGen* const* computed, size_t num_computed);
  // Moves whenever a link is made or cut anywhere (any machine).
  static unsigned long graph_version();

  // Links src into this node (`=>`; with upchip non-zero `=^`).
  t_CPBOOL add(Chip_UGen* src, unsigned long upchip);
  // Unlinks every occurrence of src from this node (`=<`).
  t_CPBOOL remove(Chip_UGen* src);
  // Unlinks this node from all its destinations and, when recursive, all
  // its sources from it. Always TRUE.
  t_CPBOOL disconnect(unsigned long recursive);
  // src is a source of this node or of one of its channel nodes.
  t_CPBOOL is_connected_from(Chip_UGen* src);

  // Takes the nodes of an ending shred out of the graph. `owned` is a copy
  // of the shred's registry (the shred empties its own afterwards, never
  // while this runs). Each node is held while this runs, its `shred`
  // back-pointer cleared, then disconnected recursively; the holds are
  // dropped last, which frees the nodes nothing else holds. Neither the
  // registry nor the shred is touched.
  static void disconnect_owned(const std::vector<Chip_UGen*>& owned);
  // The same for the registry itself, taken out of the shred (the nodes are
  // its keys); needs no memory.
  static void disconnect_owned(const std::map<Chip_UGen*, Chip_UGen*>& owned);

  // Class behaviour (copied from the class's Chip_UGen_Info).
  f_tick tick;
  f_pmsg pmsg;          // never called by the graph
  f_tick_v tick_v;      // block form of tick, or null
  unsigned long block;  // CHIP_BLOCK_* flags

  // Channels.
  Chip_UGen** multi_chan;
  unsigned long multi_chan_size;  // 0 for a mono node
  unsigned long num_ins;
  unsigned long num_outs;

  // Links: sources (nodes linked into this one), destinations (nodes this
  // one is linked into), and the analyser links made with `=^`.
  Chip_UGen** src_list;
  unsigned long src_cap;
  unsigned long num_src;
  Chip_UGen** dest_list;
  unsigned long dest_cap;
  unsigned long m_num_dest;
  Chip_UGen** src_uana_list;  // incoming analysers
  unsigned long src_uana_cap;
  unsigned long num_src_uana;
  Chip_UGen** dest_uana_list;  // nodes taking this one's analysis
  unsigned long dest_uana_cap;
  unsigned long num_dest_uana;
  long max_src;  // limit on num_src; -1 unlimited

  // Sample state.
  t_CPTIME time;        // time of the last computed sample
  unsigned long valid;  // result of the last tick (0: no valid output)
  SAMPLE sum;           // combined input of the current sample
  SAMPLE current;       // output of the current sample
  SAMPLE last;          // last output
  SAMPLE gain;
  SAMPLE pan;  // second output factor (set per channel by stereo classes)
  long op;     // combining operation (see the note at the top)
  SAMPLE* current_v;     // the last block: combined input, then output
  unsigned long size_v;  // frames of current_v
  // Frames of the last block that were valid (all of them, or those
  // before a tick that faulted inside the block).
  unsigned long valid_upto;
  unsigned long mark;  // scratch of the graph walks (block_exact, cutting links)
  // Set while a block pull of this node waits for its owner: readers take
  // `current` and then the block, one frame late.
  t_CPBOOL delayed;

  Chip_VM_Shred* shred;  // shred that made the node, or null
  Chip_UGen* owner;      // multichannel node owning this channel, or null
  unsigned long is_uana;
};

// ---------------------------------------------------------------------------
// A unit analyser: a node that also computes analysis frames on demand.
struct Chip_UAna : Chip_UGen {
  Chip_UAna();
  ~Chip_UAna() override;

  // The analysis frame for `now`: upstream analysers first, then this
  // node's tock (unless op <= 0); the blob is stamped with now.
  unsigned long system_tock(t_CPTIME now);
  // src takes part as an incoming analyser (linked with `=^`).
  t_CPBOOL is_up_connected_from(Chip_UAna* src);
  unsigned long numIncomingUAnae();
  // The blob of incoming analyser `index`; NULL past the last one.
  Chip_UAnaBlobProxy* getIncomingBlob(unsigned long index);
  // This analyser's own blob.
  Chip_UAnaBlobProxy* blobProxy();

  f_tock tock;
  t_CPTIME tock_time;  // time of the last analysis frame
};

// ---------------------------------------------------------------------------
// Analysis results: an analyser's blob and its accessor Chip_UAnaBlobProxy,
// with getBlobProxy and the member offsets, live with the analysis classes.
#include "chip/vm/chip_lang_uana.h"  // IWYU pragma: export

#endif
