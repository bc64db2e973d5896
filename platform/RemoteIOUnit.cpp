#include "platform/RemoteIOUnit.h"

#include "platform/SdlAudio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace platform {

StreamFormat canonicalFormat(double rate) {
  StreamFormat f;
  f.sampleRate = rate;
  f.formatID = kFormatLinearPCM;
  f.formatFlags = kFormatFlagIsSignedInteger | kFormatFlagIsPacked | kFormatFlagIsNonInterleaved |
                  (24u << kFormatFractionBitsShift);
  f.bytesPerPacket = 4;
  f.framesPerPacket = 1;
  f.bytesPerFrame = 4;
  f.channelsPerFrame = 2;
  f.bitsPerChannel = 32;
  return f;
}

namespace {

bool acceptableFormat(const StreamFormat& format) {
  return format.sampleRate > 0.0 && format == canonicalFormat(format.sampleRate);
}

double defaultClientRate() {
  double rate = AudioSession::shared().preferredSampleRate();
  return rate > 0.0 ? rate : 44100.0;
}

std::mutex g_factoryMutex;
RemoteIOUnit::Factory g_factory;

}  // namespace

std::shared_ptr<RemoteIOUnit> RemoteIOUnit::create() {
  Factory factory;
  {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    factory = g_factory;
  }
  if (factory) return factory();
  return std::make_shared<SdlRemoteIOUnit>();
}

RemoteIOUnit::Factory RemoteIOUnit::installFactory(Factory factory) {
  std::lock_guard<std::mutex> lock(g_factoryMutex);
  Factory previous = std::move(g_factory);
  g_factory = std::move(factory);
  return previous;
}

// ---------------------------------------------------------------------------
// SDL2 back end

namespace {

// Interleaved stereo frames of 8.24 samples, one writer (the capture thread)
// and one reader (the playback thread). Indexes only grow; each side owns one.
class FrameRing {
 public:
  // Capacity is rounded up to a power of two. Not while either side runs.
  void reset(std::size_t capacityFrames) {
    std::size_t cap = 1;
    while (cap < capacityFrames) cap <<= 1;
    samples_.assign(cap * 2, 0);
    mask_ = cap - 1;
    head_.store(0, std::memory_order_relaxed);
    tail_.store(0, std::memory_order_relaxed);
  }

  // Writer: up to frames frames of S32 interleaved stereo; what does not fit
  // is dropped.
  void writeS32(const std::int32_t* interleaved, std::size_t frames) {
    const std::uint64_t head = head_.load(std::memory_order_relaxed);
    const std::uint64_t tail = tail_.load(std::memory_order_acquire);
    const std::size_t room = (mask_ + 1) - std::size_t(head - tail);
    const std::size_t n = std::min(frames, room);
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = std::size_t((head + i) & mask_) * 2;
      samples_[at] = interleaved[2 * i] >> 7;  // full scale 2^31 -> 2^24
      samples_[at + 1] = interleaved[2 * i + 1] >> 7;
    }
    head_.store(head + n, std::memory_order_release);
  }

  // Reader: the next frames frames into left and right (either may be null);
  // zeros for what has not arrived.
  void read(std::int32_t* left, std::int32_t* right, std::size_t frames) {
    const std::uint64_t tail = tail_.load(std::memory_order_relaxed);
    const std::uint64_t head = head_.load(std::memory_order_acquire);
    const std::size_t n = std::min(frames, std::size_t(head - tail));
    for (std::size_t i = 0; i < n; ++i) {
      const std::size_t at = std::size_t((tail + i) & mask_) * 2;
      if (left) left[i] = samples_[at];
      if (right) right[i] = samples_[at + 1];
    }
    for (std::size_t i = n; i < frames; ++i) {
      if (left) left[i] = 0;
      if (right) right[i] = 0;
    }
    tail_.store(tail + n, std::memory_order_release);
  }

 private:
  std::vector<std::int32_t> samples_ = std::vector<std::int32_t>(2, 0);
  std::size_t mask_ = 0;
  alignas(64) std::atomic<std::uint64_t> head_{0};
  alignas(64) std::atomic<std::uint64_t> tail_{0};
};

std::int32_t toS32(std::int32_t fixed824) {
  const std::int64_t v = std::int64_t(fixed824) * 128;
  if (v > std::numeric_limits<std::int32_t>::max()) return std::numeric_limits<std::int32_t>::max();
  if (v < std::numeric_limits<std::int32_t>::min()) return std::numeric_limits<std::int32_t>::min();
  return std::int32_t(v);
}

}  // namespace

struct SdlRemoteIOUnit::Impl {
  SdlRemoteIOUnit* self = nullptr;
  bool inputEnabled = false;
  bool outputEnabled = true;
  bool initialized = false;
  bool disposed = false;
  bool sdlUp = false;
  RenderCallback callback;
  StreamFormat outputFormat;  // input scope of element 0
  StreamFormat inputFormat;   // output scope of element 1
  SDL_AudioDeviceID playback = 0;
  SDL_AudioDeviceID capture = 0;
  std::atomic<bool> running{false};
  std::uint32_t deviceFrames = 0;
  FrameRing ring;
  std::vector<std::int32_t> left, right;  // the render callback's buffers

  static void playbackCallback(void* user, Uint8* stream, int len);
  static void captureCallback(void* user, Uint8* stream, int len);
  void render(std::int32_t* out, std::uint32_t frames);
};

void SdlRemoteIOUnit::Impl::playbackCallback(void* user, Uint8* stream, int len) {
  auto* impl = static_cast<Impl*>(user);
  auto* out = reinterpret_cast<std::int32_t*>(stream);
  std::uint32_t frames = std::uint32_t(len) / 8;
  const std::uint32_t chunk = std::uint32_t(impl->left.size());
  while (frames > 0) {
    const std::uint32_t n = std::min(frames, chunk);
    impl->render(out, n);
    out += 2 * n;
    frames -= n;
  }
}

void SdlRemoteIOUnit::Impl::render(std::int32_t* out, std::uint32_t frames) {
  std::fill_n(left.data(), frames, 0);
  std::fill_n(right.data(), frames, 0);
  AudioBufferList list;
  list.numberBuffers = 2;
  list.buffers[0] = {1, frames * 4, left.data()};
  list.buffers[1] = {1, frames * 4, right.data()};
  AudioStatus status = kAudioErrNotInitialized;
  if (callback.proc) status = callback.proc(callback.refCon, *self, kOutputElement, frames, list);
  if (status != kAudioOK) {
    std::fill_n(out, std::size_t(frames) * 2, 0);
    return;
  }
  for (std::uint32_t i = 0; i < frames; ++i) {
    out[2 * i] = toS32(left[i]);
    out[2 * i + 1] = toS32(right[i]);
  }
}

void SdlRemoteIOUnit::Impl::captureCallback(void* user, Uint8* stream, int len) {
  auto* impl = static_cast<Impl*>(user);
  impl->ring.writeS32(reinterpret_cast<const std::int32_t*>(stream), std::size_t(len) / 8);
}

SdlRemoteIOUnit::SdlRemoteIOUnit() : impl_(std::make_unique<Impl>()) {
  impl_->self = this;
  const double rate = defaultClientRate();
  impl_->outputFormat = canonicalFormat(rate);
  impl_->inputFormat = canonicalFormat(rate);
}

SdlRemoteIOUnit::~SdlRemoteIOUnit() { dispose(); }

AudioStatus SdlRemoteIOUnit::enableIO(AudioScope scope, std::uint32_t element, bool enable) {
  if (impl_->disposed) return kAudioErrDisposed;
  if (scope == AudioScope::Input && element == kInputElement)
    impl_->inputEnabled = enable;
  else if (scope == AudioScope::Output && element == kOutputElement)
    impl_->outputEnabled = enable;
  else
    return kAudioErrInvalidPlace;
  return kAudioOK;
}

AudioStatus SdlRemoteIOUnit::setRenderCallback(AudioScope scope, std::uint32_t element, RenderCallback callback) {
  if (impl_->disposed) return kAudioErrDisposed;
  if (scope != AudioScope::Input || element != kOutputElement) return kAudioErrInvalidPlace;
  // A playback device is open only once SDL is loaded.
  if (impl_->playback != 0) sdlAudio()->SDL_LockAudioDevice(impl_->playback);
  impl_->callback = callback;
  if (impl_->playback != 0) sdlAudio()->SDL_UnlockAudioDevice(impl_->playback);
  return kAudioOK;
}

AudioStatus SdlRemoteIOUnit::getStreamFormat(AudioScope scope, std::uint32_t element, StreamFormat& format) {
  if (impl_->disposed) return kAudioErrDisposed;
  if (scope == AudioScope::Input && element == kOutputElement)
    format = impl_->outputFormat;
  else if (scope == AudioScope::Output && element == kInputElement)
    format = impl_->inputFormat;
  else
    return kAudioErrInvalidPlace;
  return kAudioOK;
}

AudioStatus SdlRemoteIOUnit::setStreamFormat(AudioScope scope, std::uint32_t element, const StreamFormat& format) {
  if (impl_->disposed) return kAudioErrDisposed;
  StreamFormat* target = nullptr;
  if (scope == AudioScope::Input && element == kOutputElement)
    target = &impl_->outputFormat;
  else if (scope == AudioScope::Output && element == kInputElement)
    target = &impl_->inputFormat;
  else
    return kAudioErrInvalidPlace;
  if (!acceptableFormat(format)) return kAudioErrFormat;
  if (impl_->running.load()) return kAudioErrInvalidValue;  // the devices run at the old rate
  *target = format;
  return kAudioOK;
}

AudioStatus SdlRemoteIOUnit::initialize() {
  if (impl_->disposed) return kAudioErrDisposed;
  if (impl_->initialized) return kAudioOK;
  const SdlAudioApi* sdl = sdlAudio();
  if (!sdl || sdl->SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return kAudioErrDevice;
  impl_->sdlUp = true;
  impl_->initialized = true;
  return kAudioOK;
}

AudioStatus SdlRemoteIOUnit::start() {
  Impl& d = *impl_;
  if (d.disposed) return kAudioErrDisposed;
  if (!d.initialized) return kAudioErrNotInitialized;
  if (d.running.load()) return kAudioOK;

  // Initialised: SDL is loaded.
  const SdlAudioApi& sdl = *sdlAudio();
  const double rate = d.outputFormat.sampleRate;
  const float duration = AudioSession::shared().preferredBufferDuration();
  long frames = duration > 0.0f ? std::lround(double(duration) * rate) : 1024;
  frames = std::clamp(frames, 16L, 8192L);
  d.deviceFrames = std::uint32_t(frames);
  d.left.assign(d.deviceFrames, 0);
  d.right.assign(d.deviceFrames, 0);
  d.ring.reset(std::max<std::size_t>(4096, std::size_t(d.deviceFrames) * 16));

  SDL_AudioSpec want;
  std::memset(&want, 0, sizeof want);
  want.format = AUDIO_S32SYS;
  want.channels = 2;
  want.samples = Uint16(d.deviceFrames);
  want.userdata = &d;
  SDL_AudioSpec have;

  if (d.outputEnabled) {
    want.freq = int(std::lround(rate));
    want.callback = &Impl::playbackCallback;
    d.playback = sdl.SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (d.playback == 0) {
      d.deviceFrames = 0;
      return kAudioErrDevice;
    }
  }
  if (d.inputEnabled) {
    want.freq = int(std::lround(d.inputFormat.sampleRate));
    want.callback = &Impl::captureCallback;
    d.capture = sdl.SDL_OpenAudioDevice(nullptr, 1, &want, &have, 0);
    // No capture device: the microphone stays silent (renderInput answers zeros).
  }
  d.running.store(true);
  if (d.capture != 0) sdl.SDL_PauseAudioDevice(d.capture, 0);
  if (d.playback != 0) sdl.SDL_PauseAudioDevice(d.playback, 0);
  return kAudioOK;
}

AudioStatus SdlRemoteIOUnit::stop() {
  Impl& d = *impl_;
  if (d.disposed) return kAudioErrDisposed;
  if (!d.running.load()) return kAudioOK;
  // Closing waits for a callback in progress, so none runs once this returns.
  // Running: SDL is loaded.
  if (d.playback != 0) sdlAudio()->SDL_CloseAudioDevice(d.playback);
  if (d.capture != 0) sdlAudio()->SDL_CloseAudioDevice(d.capture);
  d.playback = 0;
  d.capture = 0;
  d.deviceFrames = 0;
  d.running.store(false);
  return kAudioOK;
}

AudioStatus SdlRemoteIOUnit::dispose() {
  Impl& d = *impl_;
  if (d.disposed) return kAudioOK;
  stop();
  if (d.sdlUp) sdlAudio()->SDL_QuitSubSystem(SDL_INIT_AUDIO);
  d.sdlUp = false;
  d.initialized = false;
  d.disposed = true;
  return kAudioOK;
}

bool SdlRemoteIOUnit::isRunning() const { return impl_->running.load(); }

std::uint32_t SdlRemoteIOUnit::deviceFrames() const { return impl_->deviceFrames; }

AudioStatus SdlRemoteIOUnit::renderInput(std::uint32_t frames, AudioBufferList& ioData) {
  Impl& d = *impl_;
  if (d.disposed) return kAudioErrDisposed;
  const std::uint32_t count = std::min(ioData.numberBuffers, kMaxAudioBuffers);
  std::int32_t* channel[2] = {nullptr, nullptr};
  std::uint32_t n = frames;
  for (std::uint32_t b = 0; b < count; ++b) {
    AudioBuffer& buffer = ioData.buffers[b];
    if (buffer.data == nullptr) continue;
    n = std::min(n, buffer.dataByteSize / 4);
    if (b < 2)
      channel[b] = static_cast<std::int32_t*>(buffer.data);
    else
      std::memset(buffer.data, 0, std::min<std::size_t>(buffer.dataByteSize, std::size_t(frames) * 4));
  }
  if (d.capture != 0) {
    d.ring.read(channel[0], channel[1], n);
  } else {
    for (auto* c : channel)
      if (c) std::fill_n(c, n, 0);
  }
  return kAudioOK;
}

// ---------------------------------------------------------------------------
// Test back end

AudioStatus TestUnitFaults::failure(TestUnitOp op) {
  std::lock_guard<std::mutex> lock(mutex);
  auto it = failures.find(op);
  return it == failures.end() ? kAudioOK : it->second;
}

void TestUnitFaults::noteChange() {
  { std::lock_guard<std::mutex> lock(mutex); }
  changed.notify_all();
}

TestRemoteIOUnit::TestRemoteIOUnit(std::shared_ptr<TestUnitFaults> faults)
    : faults_(faults ? std::move(faults) : std::make_shared<TestUnitFaults>()) {
  const double rate = defaultClientRate();
  outputFormat_ = canonicalFormat(rate);
  inputFormat_ = canonicalFormat(rate);
}

AudioStatus TestRemoteIOUnit::check(TestUnitOp op) const {
  if (AudioStatus s = faults_->failure(op)) return s;
  if (disposed_ && op != TestUnitOp::Dispose) return kAudioErrDisposed;
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::enableIO(AudioScope scope, std::uint32_t element, bool enable) {
  if (AudioStatus s = check(TestUnitOp::EnableIO)) return s;
  if (scope == AudioScope::Input && element == kInputElement)
    inputEnabled_ = enable;
  else if (scope == AudioScope::Output && element == kOutputElement)
    outputEnabled_ = enable;
  else
    return kAudioErrInvalidPlace;
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::setRenderCallback(AudioScope scope, std::uint32_t element, RenderCallback callback) {
  if (AudioStatus s = check(TestUnitOp::SetRenderCallback)) return s;
  if (scope != AudioScope::Input || element != kOutputElement) return kAudioErrInvalidPlace;
  callback_ = callback;
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::getStreamFormat(AudioScope scope, std::uint32_t element, StreamFormat& format) {
  if (AudioStatus s = check(TestUnitOp::GetStreamFormat)) return s;
  if (scope == AudioScope::Input && element == kOutputElement)
    format = outputFormat_;
  else if (scope == AudioScope::Output && element == kInputElement)
    format = inputFormat_;
  else
    return kAudioErrInvalidPlace;
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::setStreamFormat(AudioScope scope, std::uint32_t element, const StreamFormat& format) {
  if (AudioStatus s = check(TestUnitOp::SetStreamFormat)) return s;
  StreamFormat* target = nullptr;
  if (scope == AudioScope::Input && element == kOutputElement)
    target = &outputFormat_;
  else if (scope == AudioScope::Output && element == kInputElement)
    target = &inputFormat_;
  else
    return kAudioErrInvalidPlace;
  if (!acceptableFormat(format)) return kAudioErrFormat;
  *target = format;
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::initialize() {
  if (AudioStatus s = check(TestUnitOp::Initialize)) return s;
  initialized_ = true;
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::start() {
  if (AudioStatus s = check(TestUnitOp::Start)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  if (!running_.exchange(true)) {
    ++starts_;
    faults_->noteChange();
  }
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::stop() {
  if (AudioStatus s = check(TestUnitOp::Stop)) return s;
  if (running_.exchange(false)) {
    ++stops_;
    faults_->noteChange();
  }
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::dispose() {
  if (AudioStatus s = check(TestUnitOp::Dispose)) return s;
  running_.store(false);
  initialized_ = false;
  disposed_ = true;
  faults_->noteChange();
  return kAudioOK;
}

bool TestRemoteIOUnit::isRunning() const { return running_.load(); }

AudioStatus TestRemoteIOUnit::renderInput(std::uint32_t frames, AudioBufferList& ioData) {
  if (AudioStatus s = check(TestUnitOp::RenderInput)) return s;
  const std::uint32_t count = std::min(ioData.numberBuffers, kMaxAudioBuffers);
  for (std::uint32_t b = 0; b < count; ++b) {
    AudioBuffer& buffer = ioData.buffers[b];
    if (buffer.data == nullptr) continue;
    auto* samples = static_cast<std::int32_t*>(buffer.data);
    const std::uint32_t n = std::min(frames, buffer.dataByteSize / 4);
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t at = std::size_t(i) * 2 + b;
      samples[i] = (b < 2 && inputEnabled_ && pumpInput_ && at < pumpInput_->size()) ? (*pumpInput_)[at] : 0;
    }
  }
  return kAudioOK;
}

AudioStatus TestRemoteIOUnit::pump(std::uint32_t frames, const std::vector<std::int32_t>& input,
                                   std::uint32_t numberBuffers) {
  numberBuffers = std::min(numberBuffers, kMaxAudioBuffers);
  output_.assign(numberBuffers, std::vector<std::int32_t>(frames, kUnwrittenSample));
  if (!running_.load()) return kAudioErrNotRunning;
  if (!callback_.proc) return kAudioOK;
  AudioBufferList list;
  list.numberBuffers = numberBuffers;
  for (std::uint32_t b = 0; b < numberBuffers; ++b) list.buffers[b] = {1, frames * 4, output_[b].data()};
  pumpInput_ = &input;
  const AudioStatus status = callback_.proc(callback_.refCon, *this, kOutputElement, frames, list);
  pumpInput_ = nullptr;
  return status;
}

const std::vector<std::int32_t>& TestRemoteIOUnit::outputLeft() const {
  static const std::vector<std::int32_t> none;
  return output_.size() > 0 ? output_[0] : none;
}

const std::vector<std::int32_t>& TestRemoteIOUnit::outputRight() const {
  static const std::vector<std::int32_t> none;
  return output_.size() > 1 ? output_[1] : none;
}

TestAudioHardware::TestAudioHardware()
    : session_(std::make_shared<TestAudioSession>()),
      faults_(std::make_shared<TestUnitFaults>()),
      units_(std::make_shared<Units>()) {
  previousSession_ = AudioSession::install(session_);
  previousFactory_ = RemoteIOUnit::installFactory(
      [faults = faults_, units = units_]() -> std::shared_ptr<RemoteIOUnit> {
        if (faults->failure(TestUnitOp::Create) != kAudioOK) return nullptr;
        auto unit = std::make_shared<TestRemoteIOUnit>(faults);
        std::lock_guard<std::mutex> lock(units->mutex);
        units->last = unit;
        ++units->created;
        return unit;
      });
}

TestAudioHardware::~TestAudioHardware() {
  RemoteIOUnit::installFactory(std::move(previousFactory_));
  AudioSession::install(std::move(previousSession_));
}

std::shared_ptr<TestRemoteIOUnit> TestAudioHardware::unit() const {
  std::lock_guard<std::mutex> lock(units_->mutex);
  return units_->last;
}

bool TestAudioHardware::waitForRunning(bool running, double timeoutSeconds) {
  std::unique_lock<std::mutex> lock(faults_->mutex);
  return faults_->changed.wait_for(lock, std::chrono::duration<double>(timeoutSeconds), [&] {
    std::shared_ptr<TestRemoteIOUnit> last = unit();
    return last && last->isRunning() == running;
  });
}

int TestAudioHardware::unitsCreated() const {
  std::lock_guard<std::mutex> lock(units_->mutex);
  return units_->created;
}

void TestAudioHardware::fail(TestUnitOp op, AudioStatus status) {
  std::lock_guard<std::mutex> lock(faults_->mutex);
  faults_->failures[op] = status == kAudioOK ? kAudioErrTest : status;
}

void TestAudioHardware::clearFailure(TestUnitOp op) {
  std::lock_guard<std::mutex> lock(faults_->mutex);
  faults_->failures.erase(op);
}

void TestAudioHardware::clearFailures() {
  std::lock_guard<std::mutex> lock(faults_->mutex);
  faults_->failures.clear();
}

}  // namespace platform
