#include "recorder/FluvaneVCR.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>

#include "chip/chip.h"
#include "vxu/VXLog.h"

// ---------------------------------------------------------------------------
// SnippetQueue

SnippetQueue::SnippetQueue(size_t slots) : slots_(slots + 1, nullptr) {}

SnippetQueue::~SnippetQueue() {
  while (get()) {
  }
}

bool SnippetQueue::put(std::unique_ptr<FluvaneSnippet>& snippet) {
  std::lock_guard<std::mutex> lock(writers_);
  size_t tail = tail_.load(std::memory_order_relaxed);
  size_t next = (tail + 1) % slots_.size();
  if (next == head_.load(std::memory_order_acquire)) return false;  // full
  slots_[tail] = snippet.release();
  tail_.store(next, std::memory_order_release);
  return true;
}

std::unique_ptr<FluvaneSnippet> SnippetQueue::get() {
  size_t head = head_.load(std::memory_order_relaxed);
  if (head == tail_.load(std::memory_order_acquire)) return nullptr;
  std::unique_ptr<FluvaneSnippet> snippet(slots_[head]);
  slots_[head] = nullptr;
  head_.store((head + 1) % slots_.size(), std::memory_order_release);
  return snippet;
}

// ---------------------------------------------------------------------------
// Process-wide state

namespace {

FluvaneVCRHost g_host;
std::mutex g_vcrMutex;
std::shared_ptr<FluvaneVCR> g_playVCR;
std::shared_ptr<FluvaneVCR> g_recordVCR;
std::atomic<TuneCallback> g_tuneCallback{nullptr};

void tellTune(int pitch) {
  if (TuneCallback callback = g_tuneCallback.load(std::memory_order_acquire)) callback(pitch);
}

void handUnsent(std::unique_ptr<FluvaneSnippet> snippet) {
  if (g_host.unsent) {
    g_host.unsent(std::move(snippet));
  } else {
    VX_logf("VCR: no keeper for an unsent recording: dropped\n");
  }
}

uint32_t clampByte(double value) {
  if (!(value > 0.0)) return 0;  // negative and NaN
  if (value >= 255.0) return 255;
  return static_cast<uint32_t>(value);
}

}  // namespace

void FluvaneVCR_setHost(FluvaneVCRHost host) { g_host = std::move(host); }
const FluvaneVCRHost& FluvaneVCR_host() { return g_host; }

std::shared_ptr<FluvaneVCR> FluvaneVCR_playback() {
  std::lock_guard<std::mutex> lock(g_vcrMutex);
  return g_playVCR;
}

bool FluvaneVCR_usePlayback(const std::shared_ptr<FluvaneVCR>& vcr) {
  std::lock_guard<std::mutex> lock(g_vcrMutex);
  if (g_playVCR) {
    if (g_playVCR != vcr) VX_logf("VCR: a playback VCR exists already; keeping the first\n");
    return g_playVCR == vcr;
  }
  g_playVCR = vcr;
  return true;
}

bool FluvaneVCR_useRecord(const std::shared_ptr<FluvaneVCR>& vcr) {
  {
    std::lock_guard<std::mutex> lock(g_vcrMutex);
    if (g_recordVCR) {
      if (g_recordVCR != vcr) VX_logf("VCR: a record VCR exists already; keeping the first\n");
      return g_recordVCR == vcr;
    }
    g_recordVCR = vcr;
  }
  vcr->startUploadThread();
  return true;
}

void FluvaneVCR_shutdown() {
  std::shared_ptr<FluvaneVCR> recorder;
  {
    std::lock_guard<std::mutex> lock(g_vcrMutex);
    recorder = std::move(g_recordVCR);
    g_playVCR.reset();
  }
  if (recorder) recorder->stopUploadThread();
}

void FluvaneVCR_setTuneCallback(TuneCallback callback) {
  g_tuneCallback.store(callback, std::memory_order_release);
}

TuneCallback FluvaneVCR_tuneCallback() { return g_tuneCallback.load(std::memory_order_acquire); }

// ---------------------------------------------------------------------------
// FluvaneVCR

FluvaneVCR::FluvaneVCR() = default;

FluvaneVCR::~FluvaneVCR() { stopUploadThread(); }

uint32_t FluvaneVCR::pack(int state, double accelX, double accelY, double breath) {
  return clampByte(state) | clampByte(breath * 128.0) << 8 | clampByte(accelX * 12.8) << 16 |
         clampByte(accelY * 128.0) << 24;
}

void FluvaneVCR::record(int root, int mode, double start) {
  try {
    snapshots_.reserve(kMaxSnapshots);
  } catch (const std::bad_alloc&) {
    VX_logf("VCR: no memory to record\n");
    state_ = 0;
    return;
  }
  state_ = 1;
  snapshots_.clear();
  lastStamp_ = -1.0;
  root_ = root;
  mode_ = mode;
  startTime_ = start;
  lastSeen_ = start;
}

void FluvaneVCR::snapshot(double stamp, int state, double accelX, double accelY, double breath) {
  if (state_ != 1) return;
  lastSeen_ = std::max(lastSeen_, stamp);
  uint32_t packed = pack(state, accelX, accelY, breath);
  if (lastStamp_ < 0.0) {
    lastStamp_ = stamp;
    lastPacked_ = 0;
  } else if (packed == lastPacked_) {
    return;
  }
  snapshots_.push_back({static_cast<float>(stamp - lastStamp_), packed});
  lastStamp_ = stamp;
  lastPacked_ = packed;
  if (snapshots_.size() >= kMaxSnapshots) {
    stop(stamp, false);
    if (g_host.maxRecordingReached) g_host.maxRecordingReached();
  }
}

void FluvaneVCR::stop(double end, bool cancel) {
  if (state_ != 1) return;
  state_ = 0;
  if (snapshots_.empty()) return;
  if (cancel) {
    snapshots_.clear();
    return;
  }
  std::unique_ptr<FluvaneSnippet> snippet;
  try {
    snippet = std::make_unique<FluvaneSnippet>();
    snippet->root = static_cast<uint32_t>(root_);
    snippet->mode = static_cast<uint32_t>(mode_);
    snippet->duration = static_cast<float>(end - startTime_);
    snippet->snapshots.assign(snapshots_.begin(), snapshots_.end());
  } catch (const std::bad_alloc&) {
    VX_logf("FluvaneVCR::stop(): out of memory!\n");
    return;
  }
  snapshots_.clear();
  if (!queue_.put(snippet)) {
    VX_logf("VCR: recording queue full\n");
    handUnsent(std::move(snippet));
    return;
  }
  wake_.notify_one();
}

void FluvaneVCR::honourSkip() {
  if (!skipRequested_.exchange(false, std::memory_order_acq_rel)) return;
  if (!current_) return;
  skipped_ = true;
  cursor_ = end_;
}

int FluvaneVCR::playNext() {
  current_.reset();
  cursor_ = end_ = 0;
  std::unique_ptr<FluvaneSnippet> snippet = queue_.get();
  if (!snippet) return 0;
  skipped_ = false;
  skipRequested_.store(false, std::memory_order_release);
  if (!validPacketLength(snippet->packet.size())) {
    VX_logf("malformed snippet packet, ignoring\n");
    tellTune(-1);
    return 0;
  }
  const auto* p = reinterpret_cast<const unsigned char*>(snippet->packet.data());
  snippet->header = readLE32(p);
  snippet->root = readLE32(p + 4);
  snippet->mode = readLE32(p + 8);
  snippet->duration = readLEFloat(p + 12);
  uint32_t header = snippet->header;
  if (header >> 16 != 0xFEED) {
    VX_logf("VCR: snippet header does not match...\n");
    tellTune(-1);
    return 0;
  }
  unsigned version = (header >> 8) & 0xFF;
  if (version >= 2) {
    VX_logf("VCR: snippet version (%u) too high...\n", version);
    tellTune(-1);
    return 0;
  }
  end_ = packetEntryCount(snippet->packet.size());
  current_ = std::move(snippet);
  return 1;
}

bool FluvaneVCR::more() {
  honourSkip();
  return current_ && cursor_ < end_;
}

void FluvaneVCR::next() {
  honourSkip();
  if (current_ && cursor_ < end_) cursor_++;
}

// The accessors read the entry `more()` promised: a skip is honoured only
// by `more()` and `next()`, so one that arrives between the check and the
// reads cannot turn the entry the script is reading into nothing (a delta of
// -1 would be a time in the past to the script).
const unsigned char* FluvaneVCR::entry() {
  if (!current_ || cursor_ >= end_) return nullptr;
  return reinterpret_cast<const unsigned char*>(current_->packet.data()) + SNIPPET_HEADER_SIZE +
         SNAPSHOT_PACKET_SIZE * cursor_;
}

int FluvaneVCR::getRoot() const { return current_ ? static_cast<int>(current_->root) : 0; }
int FluvaneVCR::getMode() const { return current_ ? static_cast<int>(current_->mode) : 0; }
double FluvaneVCR::getDuration() const { return current_ ? current_->duration : 0.0; }

double FluvaneVCR::getDelta() {
  const unsigned char* e = entry();
  return e ? static_cast<double>(readLEFloat(e)) : -1.0;
}

int FluvaneVCR::getState() {
  const unsigned char* e = entry();
  return e ? e[4] : -1;
}

double FluvaneVCR::getBreath() {
  const unsigned char* e = entry();
  return e ? e[5] / 128.0 : 0.0;
}

double FluvaneVCR::getAccelX() {
  const unsigned char* e = entry();
  return e ? e[6] / 12.8 : 0.0;
}

double FluvaneVCR::getAccelY() {
  const unsigned char* e = entry();
  return e ? e[7] / 128.0 : 0.0;
}

// ---------------------------------------------------------------------------
// Upload thread

void FluvaneVCR::startUploadThread() {
  if (uploader_.joinable()) return;
  stopFlag_ = false;
  uploader_ = std::thread([this] { uploadSnippets(); });
}

void FluvaneVCR::finishRecording() { stop(lastSeen_, false); }

void FluvaneVCR::stopUploadThread() {
  if (!uploader_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(wakeMutex_);
    stopFlag_ = true;
  }
  wake_.notify_all();
  if (g_host.abortRecorded) g_host.abortRecorded();
  uploader_.join();
  finishRecording();
  while (std::unique_ptr<FluvaneSnippet> snippet = queue_.get()) {
    if (snippet->packet.empty()) prepare(*snippet);
    handUnsent(std::move(snippet));
  }
}

void FluvaneVCR::uploadSnippets() {
  while (!stopFlag_) {
    std::unique_ptr<FluvaneSnippet> snippet = queue_.get();
    if (!snippet) {
      // The audio thread wakes the wait without taking the lock, so a wake
      // may be missed: the wait is bounded at 100 ms.
      std::unique_lock<std::mutex> lock(wakeMutex_);
      wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stopFlag_.load(); });
      continue;
    }
    if (!prepare(*snippet)) continue;
    if (g_host.recorded) {
      g_host.recorded(std::move(snippet));
    } else {
      VX_logf("VCR: no keeper for a finished recording: dropped\n");
    }
  }
}

// ---------------------------------------------------------------------------
// Snippet functions

void downloadSnippet(std::string_view packet, TuneCallback callback) {
  std::shared_ptr<FluvaneVCR> vcr = FluvaneVCR_playback();
  if (!vcr) return;
  FluvaneVCR_setTuneCallback(callback);
  VX_logf("loading snippet into VCR...\n");
  if (!validPacketLength(packet.size())) {
    VX_logf("malformed snippet packet, ignoring\n");
    tellTune(-1);
    return;
  }
  std::unique_ptr<FluvaneSnippet> snippet;
  try {
    snippet = std::make_unique<FluvaneSnippet>();
    snippet->packet.assign(packet.data(), packet.size());
  } catch (const std::bad_alloc&) {
    VX_logf("FluvaneVCR::stop(): out of memory!\n");
    return;
  }
  VX_logf("downloadSnippet(): size: %zu\n", packet.size());
  if (!vcr->enqueue(snippet)) {
    VX_logf("VCR: playback queue full, snippet dropped\n");
    tellTune(-1);
  }
}

bool playSnipetNow(std::unique_ptr<FluvaneSnippet> snippet) {
  std::shared_ptr<FluvaneVCR> vcr = FluvaneVCR_playback();
  if (!vcr || !snippet) return false;
  if (snippet->packet.empty() && !prepare(*snippet)) return false;
  if (!vcr->enqueue(snippet)) {
    VX_logf("VCR: playback queue full, snippet dropped\n");
    return false;
  }
  return true;
}

void stopCurrentSnippet() {
  std::shared_ptr<FluvaneVCR> vcr = FluvaneVCR_playback();
  if (!vcr) return;
  VX_logf("skipping current snippet...\n");
  vcr->skip();
}

// ---------------------------------------------------------------------------
// The script class VCR

namespace {

t_CPWORD g_offsetMe = FRAME_NO_OFFSET;

using Holder = std::shared_ptr<FluvaneVCR>;

FluvaneVCR* vcr_of(Chip_Object* self) {
  Holder* holder = frame_state<Holder>(self, g_offsetMe);
  return holder ? holder->get() : nullptr;
}

void vcr_ctor(Chip_Object* SELF, void* ARGS, Chip_VM_Shred* SHRED) {
  (void)ARGS;
  (void)SHRED;
  Holder* holder = nullptr;
  try {
    holder = new Holder(std::make_shared<FluvaneVCR>());
  } catch (const std::bad_alloc&) {
    VX_logf("VCR: out of memory\n");
  }
  frame_set_state(SELF, g_offsetMe, holder);
}

void vcr_dtor(Chip_Object* SELF, Chip_VM_Shred* SHRED) {
  (void)SHRED;
  Holder* holder = frame_take_state<Holder>(SELF, g_offsetMe);
  if (!holder) return;
  std::shared_ptr<FluvaneVCR> recorder;
  {
    std::lock_guard<std::mutex> lock(g_vcrMutex);
    if (g_playVCR == *holder) g_playVCR.reset();
    if (g_recordVCR == *holder) recorder = std::move(g_recordVCR);
  }
  if (recorder) recorder->stopUploadThread();
  delete holder;
}

#define VCR_MFUN(name) \
  void name(Chip_Object* SELF, void* ARGS, Chip_DL_Return* RETURN, Chip_VM_Shred* SHRED)

VCR_MFUN(vcr_use4playback) {
  (void)ARGS, (void)RETURN, (void)SHRED;
  if (Holder* holder = frame_state<Holder>(SELF, g_offsetMe)) FluvaneVCR_usePlayback(*holder);
}

VCR_MFUN(vcr_use4record) {
  (void)ARGS, (void)RETURN, (void)SHRED;
  if (Holder* holder = frame_state<Holder>(SELF, g_offsetMe)) FluvaneVCR_useRecord(*holder);
}

VCR_MFUN(vcr_more) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_int = vcr && vcr->more() ? 1 : 0;
}

VCR_MFUN(vcr_next) {
  (void)ARGS, (void)RETURN, (void)SHRED;
  if (FluvaneVCR* vcr = vcr_of(SELF)) vcr->next();
}

VCR_MFUN(vcr_record) {
  (void)RETURN, (void)SHRED;
  t_CPINT root = GET_NEXT_INT(ARGS);
  t_CPINT mode = GET_NEXT_INT(ARGS);
  t_CPTIME start = GET_NEXT_TIME(ARGS);
  if (FluvaneVCR* vcr = vcr_of(SELF)) vcr->record(root, mode, start);
}

VCR_MFUN(vcr_snapshot) {
  (void)RETURN, (void)SHRED;
  t_CPTIME stamp = GET_NEXT_TIME(ARGS);
  t_CPINT state = GET_NEXT_INT(ARGS);
  t_CPFLOAT x = GET_NEXT_FLOAT(ARGS);
  t_CPFLOAT y = GET_NEXT_FLOAT(ARGS);
  t_CPFLOAT breath = GET_NEXT_FLOAT(ARGS);
  if (FluvaneVCR* vcr = vcr_of(SELF)) vcr->snapshot(stamp, state, x, y, breath);
}

VCR_MFUN(vcr_stop) {
  (void)RETURN, (void)SHRED;
  t_CPTIME end = GET_NEXT_TIME(ARGS);
  if (FluvaneVCR* vcr = vcr_of(SELF)) vcr->stop(end, false);
}

VCR_MFUN(vcr_cancel) {
  (void)RETURN, (void)SHRED;
  t_CPTIME end = GET_NEXT_TIME(ARGS);
  if (FluvaneVCR* vcr = vcr_of(SELF)) vcr->stop(end, true);
}

VCR_MFUN(vcr_play) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_int = vcr ? vcr->playNext() : 0;
}

VCR_MFUN(vcr_rewind) { (void)SELF, (void)ARGS, (void)RETURN, (void)SHRED; }

VCR_MFUN(vcr_getRoot) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_int = vcr ? vcr->getRoot() : 0;
}

VCR_MFUN(vcr_getMode) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_int = vcr ? vcr->getMode() : 0;
}

VCR_MFUN(vcr_getDuration) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_dur = vcr ? vcr->getDuration() : 0.0;
}

VCR_MFUN(vcr_getDelta) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_dur = vcr ? vcr->getDelta() : -1.0;
}

VCR_MFUN(vcr_getState) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_int = vcr ? vcr->getState() : -1;
}

VCR_MFUN(vcr_getBreath) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_float = vcr ? vcr->getBreath() : 0.0;
}

VCR_MFUN(vcr_getAccelX) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_float = vcr ? vcr->getAccelX() : 0.0;
}

VCR_MFUN(vcr_getAccelY) {
  (void)ARGS, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  RETURN->v_float = vcr ? vcr->getAccelY() : 0.0;
}

VCR_MFUN(vcr_onNote) {
  (void)SELF, (void)RETURN, (void)SHRED;
  tellTune(GET_NEXT_INT(ARGS));
}

VCR_MFUN(vcr_onState) {
  (void)SELF, (void)RETURN, (void)SHRED;
  t_CPINT state = GET_NEXT_INT(ARGS);
  if (g_host.playbackState) g_host.playbackState(state);
}

VCR_MFUN(vcr_onEOS) {
  (void)ARGS, (void)RETURN, (void)SHRED;
  FluvaneVCR* vcr = vcr_of(SELF);
  if (!(vcr && vcr->skipped())) tellTune(-1);
  if (g_host.playbackEnded) g_host.playbackEnded();
}

}  // namespace

t_CPBOOL fluvaneVCR_query(Chip_DL_Query* QUERY) {
  if (QUERY) QUERY->setname(QUERY, "VCR");
  Chip_Env* env = chip_env();
  if (!env) return FALSE;
  if (!chip_class_begin(env, "VCR", "Object", vcr_ctor, vcr_dtor)) return FALSE;
  t_CPWORD me = frame_import_state(env, "@me");
  if (me == FRAME_NO_OFFSET) return frame_fail(env);
  g_offsetMe = me;
  bool ok =
      frame_import_mfun(env, "void", "use4playback", vcr_use4playback) &&
      frame_import_mfun(env, "void", "use4record", vcr_use4record) &&
      frame_import_mfun(env, "int", "more", vcr_more) &&
      frame_import_mfun(env, "void", "next", vcr_next) &&
      frame_import_mfun(env, "void", "record", vcr_record,
                        {{"int", "root"}, {"int", "mode"}, {"time", "start"}}) &&
      frame_import_mfun(env, "void", "snapshot", vcr_snapshot,
                        {{"time", "stamp"}, {"int", "state"}, {"float", "accelX"},
                         {"float", "accelY"}, {"float", "breath"}}) &&
      frame_import_mfun(env, "void", "stop", vcr_stop, {{"time", "end"}}) &&
      frame_import_mfun(env, "void", "cancel", vcr_cancel, {{"time", "end"}}) &&
      frame_import_mfun(env, "int", "play", vcr_play) &&
      frame_import_mfun(env, "void", "rewind", vcr_rewind) &&
      frame_import_mfun(env, "int", "getRoot", vcr_getRoot) &&
      frame_import_mfun(env, "int", "getMode", vcr_getMode) &&
      frame_import_mfun(env, "dur", "getDuration", vcr_getDuration) &&
      frame_import_mfun(env, "dur", "getDelta", vcr_getDelta) &&
      frame_import_mfun(env, "int", "getState", vcr_getState) &&
      frame_import_mfun(env, "float", "getBreath", vcr_getBreath) &&
      frame_import_mfun(env, "float", "getAccelX", vcr_getAccelX) &&
      frame_import_mfun(env, "float", "getAccelY", vcr_getAccelY) &&
      frame_import_mfun(env, "void", "onNote", vcr_onNote, {{"int", "pitch"}}) &&
      frame_import_mfun(env, "void", "onState", vcr_onState, {{"int", "state"}}) &&
      frame_import_mfun(env, "void", "onEOS", vcr_onEOS);
  if (!ok) return frame_fail(env);
  return chip_class_end(env);
}
