// The recorder and player of snippets, and the script class VCR over it.
//
// Scripts make two VCR objects: one for playback (use4playback) and one for
// recording (use4record). Each VCR object holds a FluvaneVCR through its
// hidden pointer-wide member "@me".
//
// Recording (audio thread): record reserves room for kMaxSnapshots
// snapshots, so snapshot never allocates; snapshot stores a packed state
// whenever it differs from the last one stored (the first one always), each
// of its four bytes clamped to 0..255; stop queues the recording as a
// snippet for the upload thread, cancel drops it. At kMaxSnapshots the
// recording stops by itself, as at the maximum recording time, and the
// host's maxRecordingReached hook is told. Start and stamps are doubles.
//
// Upload thread (started by use4record): takes each finished recording from
// the record queue, prepares its packet and hands it to the host's recorded
// hook (the application keeps, uploads or gives it to the recording
// controller). When the record VCR goes (its script object is freed, or
// FluvaneVCR_shutdown), the thread is told to stop, the upload in flight is
// aborted (abortRecorded hook), the thread is joined, a recording still
// running (the engine stopped under it: the program quit) is ended as a
// stop at the last time snapshot was called, and whatever is queued goes to
// the host's unsent hook (kept, and the outbox).
//
// Playback (audio thread): play takes the next queued snippet; its packet
// is checked (length 16 + 8n, header 0xFEED with a version below 2) before a
// field is read; more/next/getDelta/... walk its entries. skip (any thread)
// is a request the audio thread honours at its next more or next (never
// between more and the reads of the entry it promised); next stops at the
// end.
//
// Queues hold up to kQueueSlots owned snippets and refuse more: a refused
// recording goes to the unsent hook, a refused snippet to play is freed with
// an end-of-tune call. Writers are serialised by a mutex, so the globe's
// thread and the main thread may both queue snippets to play; the one reader
// takes without a lock.
//
// The host's hooks are installed before the engine starts and not changed
// while it runs. The tune callback (downloadSnippet) is atomic.
#ifndef RECORDER_FLUVANEVCR_H
#define RECORDER_FLUVANEVCR_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "recorder/FluvaneSnippet.h"
#include "chip/chip.h"

// A bounded ring of owned snippets: several writers under a mutex, one
// reader without a lock. Full: put refuses.
class SnippetQueue {
 public:
  explicit SnippetQueue(size_t slots);
  ~SnippetQueue();
  SnippetQueue(const SnippetQueue&) = delete;
  SnippetQueue& operator=(const SnippetQueue&) = delete;

  // Takes the snippet on success; false (snippet left with the caller) when
  // full.
  bool put(std::unique_ptr<FluvaneSnippet>& snippet);
  // The oldest snippet, or null when empty.
  std::unique_ptr<FluvaneSnippet> get();

 private:
  std::vector<FluvaneSnippet*> slots_;
  std::mutex writers_;
  std::atomic<size_t> head_{0};  // next to read
  std::atomic<size_t> tail_{0};  // next to write
};

struct FluvaneVCRHost {
  // Upload thread: a finished recording, packet prepared.
  std::function<void(std::unique_ptr<FluvaneSnippet>)> recorded;
  // Any thread: abort what recorded is doing (shutdown).
  std::function<void()> abortRecorded;
  // A recording that could not be handed on (shutdown, full queue).
  std::function<void(std::unique_ptr<FluvaneSnippet>)> unsent;
  // Audio thread: onState's state (-1 releases the holes shown).
  std::function<void(int)> playbackState;
  // Audio thread: the script ended a tune (onEOS).
  std::function<void()> playbackEnded;
  // Audio thread: a recording reached kMaxSnapshots and stopped.
  std::function<void()> maxRecordingReached;
};

using TuneCallback = void (*)(int pitch);

class FluvaneVCR {
 public:
  static constexpr size_t kQueueSlots = 1024;

  FluvaneVCR();
  ~FluvaneVCR();
  FluvaneVCR(const FluvaneVCR&) = delete;
  FluvaneVCR& operator=(const FluvaneVCR&) = delete;

  // Recording (audio thread).
  void record(int root, int mode, double start);
  void snapshot(double stamp, int state, double accelX, double accelY, double breath);
  void stop(double end, bool cancel);
  bool recording() const { return state_ == 1; }

  // Playback (audio thread).
  int playNext();
  bool more();
  void next();
  int getRoot() const;
  int getMode() const;
  double getDuration() const;
  double getDelta();
  int getState();
  double getBreath();
  double getAccelX();
  double getAccelY();
  bool skipped() const { return skipped_; }

  // Any thread.
  bool enqueue(std::unique_ptr<FluvaneSnippet>& snippet) { return queue_.put(snippet); }
  std::unique_ptr<FluvaneSnippet> dequeue() { return queue_.get(); }
  void skip() { skipRequested_.store(true, std::memory_order_release); }

  // The packed state: each of the four products truncated and clamped to
  // 0..255.
  static uint32_t pack(int state, double accelX, double accelY, double breath);

  // Starts the upload thread on this VCR (once).
  void startUploadThread();
  // Stops it: see the file comment. Called once the engine no longer runs
  // the VCR's script functions.
  void stopUploadThread();
  // Ends a running recording as stop would at the last time snapshot (or
  // record) saw; nothing when none runs.
  void finishRecording();

 private:
  void honourSkip();
  const unsigned char* entry();
  void uploadSnippets();

  // Recording.
  int state_ = 0;
  std::vector<FluvaneSnapshot> snapshots_;
  double lastStamp_ = -1.0;
  double lastSeen_ = 0.0;  // the latest time record or snapshot was given
  int root_ = 0;
  int mode_ = 0;
  double startTime_ = 0.0;
  uint32_t lastPacked_ = 0;

  // Playback.
  std::unique_ptr<FluvaneSnippet> current_;
  size_t cursor_ = 0;  // entry index
  size_t end_ = 0;     // entry count
  bool skipped_ = false;
  std::atomic<bool> skipRequested_{false};

  SnippetQueue queue_{kQueueSlots};

  // Upload thread.
  std::thread uploader_;
  std::atomic<bool> stopFlag_{false};
  std::mutex wakeMutex_;
  std::condition_variable wake_;
};

// The host's hooks (see above).
void FluvaneVCR_setHost(FluvaneVCRHost host);
const FluvaneVCRHost& FluvaneVCR_host();

// The process-wide playback VCR (null when none); held shared, so a caller
// keeps the one it got alive.
std::shared_ptr<FluvaneVCR> FluvaneVCR_playback();
// use4playback / use4record: makes vcr the process's playback (record) VCR;
// a second one is refused with a message and the first stays. The record
// VCR's upload thread starts here. True when vcr holds the place.
bool FluvaneVCR_usePlayback(const std::shared_ptr<FluvaneVCR>& vcr);
bool FluvaneVCR_useRecord(const std::shared_ptr<FluvaneVCR>& vcr);
// Forgets both VCRs, stopping the upload thread (the engine's end).
void FluvaneVCR_shutdown();

// The tune callback (null: none).
void FluvaneVCR_setTuneCallback(TuneCallback callback);
TuneCallback FluvaneVCR_tuneCallback();

// A downloaded packet to play (globe's thread or main thread): nothing
// without a playback VCR; else stores the callback, and queues a snippet
// holding a copy of the packet when its length is valid; a malformed packet
// ("malformed snippet packet, ignoring") or a full queue gets an end-of-tune
// call.
void downloadSnippet(std::string_view packet, TuneCallback callback);
// Queues a snippet to play (main thread); false when there is no playback
// VCR or its queue is full (the snippet is freed).
bool playSnipetNow(std::unique_ptr<FluvaneSnippet> snippet);
// Skips the snippet being played ("skipping current snippet...").
void stopCurrentSnippet();

// The module query: declares the class VCR (module name "VCR").
t_CPBOOL fluvaneVCR_query(Chip_DL_Query* QUERY);

#endif
