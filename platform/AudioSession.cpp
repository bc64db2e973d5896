#include "platform/AudioSession.h"

#include "platform/SdlAudio.h"

#include <utility>

namespace platform {

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<AudioSession> g_shared;

}  // namespace

AudioSession& AudioSession::shared() {
  std::lock_guard<std::mutex> lock(g_sharedMutex);
  if (!g_shared) g_shared = std::make_shared<SdlAudioSession>();
  return *g_shared;
}

std::shared_ptr<AudioSession> AudioSession::install(std::shared_ptr<AudioSession> session) {
  std::lock_guard<std::mutex> lock(g_sharedMutex);
  std::shared_ptr<AudioSession> previous = std::move(g_shared);
  g_shared = std::move(session);
  return previous;
}

// ---------------------------------------------------------------------------
// SDL2 back end

SdlAudioSession::SdlAudioSession() = default;

SdlAudioSession::~SdlAudioSession() {
  if (sdlAudioUp_) sdlAudio()->SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

AudioStatus SdlAudioSession::initialize(InterruptionListener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (initialized_) return kAudioErrAlreadyInitialized;
  const SdlAudioApi* sdl = sdlAudio();
  if (!sdl || sdl->SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return kAudioErrDevice;
  sdlAudioUp_ = true;
  initialized_ = true;
  interruptionListener_ = std::move(listener);
  return kAudioOK;
}

AudioStatus SdlAudioSession::setActive(bool active) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  active_ = active;
  return kAudioOK;
}

AudioStatus SdlAudioSession::getOtherAudioIsPlaying(bool& playing) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  playing = false;  // a desktop mixes every application's audio
  return kAudioOK;
}

AudioStatus SdlAudioSession::getCategory(std::uint32_t& category) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  category = category_;
  return kAudioOK;
}

AudioStatus SdlAudioSession::setCategory(std::uint32_t category) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  if (category != kCategoryLiveAudio && category != kCategoryPlayAndRecord) return kAudioErrInvalidValue;
  category_ = category;
  return kAudioOK;
}

AudioStatus SdlAudioSession::getRoute(std::optional<std::string>& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  // Initialised: SDL is loaded.
  const SdlAudioApi& sdl = *sdlAudio();
  char* defaultName = nullptr;
  SDL_AudioSpec spec;
  if (sdl.SDL_GetDefaultAudioInfo(&defaultName, &spec, 0) == 0 && defaultName != nullptr) {
    name = std::string(defaultName);
    sdl.SDL_free(defaultName);
    return kAudioOK;
  }
  if (sdl.SDL_GetNumAudioDevices(0) > 0) {
    if (const char* first = sdl.SDL_GetAudioDeviceName(0, 0)) {
      name = std::string(first);
      return kAudioOK;
    }
  }
  const char* driver = sdl.SDL_GetCurrentAudioDriver();
  if (driver != nullptr)
    name = std::string(driver);
  else
    name.reset();
  return kAudioOK;
}

AudioStatus SdlAudioSession::setRouteOverride(std::uint32_t override) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  if (override != kRouteOverrideNone && override != kRouteOverrideSpeaker) return kAudioErrInvalidValue;
  override_ = override;  // the desktop decides where sound goes; kept for the record
  return kAudioOK;
}

AudioStatus SdlAudioSession::setPreferredBufferDuration(float seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  if (!(seconds > 0.0f)) return kAudioErrInvalidValue;
  bufferDuration_ = seconds;
  return kAudioOK;
}

AudioStatus SdlAudioSession::setPreferredSampleRate(double rate) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  if (!(rate > 0.0)) return kAudioErrInvalidValue;
  sampleRate_ = rate;
  return kAudioOK;
}

AudioStatus SdlAudioSession::getCurrentSampleRate(double& rate) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  rate = sampleRate_ > 0.0 ? sampleRate_ : 44100.0;  // SDL converts to whatever the device runs
  return kAudioOK;
}

AudioStatus SdlAudioSession::addRouteChangeListener(RouteChangeListener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!initialized_) return kAudioErrNotInitialized;
  // TODO: report device hot-plug (SDL_AUDIODEVICEADDED/REMOVED) once the SDL
  // host pumps events; until then routes never change.
  routeListeners_.push_back(std::move(listener));
  return kAudioOK;
}

void SdlAudioSession::playSystemSound(std::uint32_t) {}

float SdlAudioSession::preferredBufferDuration() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bufferDuration_;
}

double SdlAudioSession::preferredSampleRate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sampleRate_;
}

// ---------------------------------------------------------------------------
// Test back end

AudioStatus TestAudioSession::failure(Op op) const {
  auto it = failures_.find(op);
  return it == failures_.end() ? kAudioOK : it->second;
}

AudioStatus TestAudioSession::initialize(InterruptionListener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::Initialize)) return s;
  if (initialized_) return kAudioErrAlreadyInitialized;
  initialized_ = true;
  interruptionListener_ = std::move(listener);
  return kAudioOK;
}

AudioStatus TestAudioSession::setActive(bool active) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::SetActive)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  active_ = active;
  ++setActiveCalls_;
  return kAudioOK;
}

AudioStatus TestAudioSession::getOtherAudioIsPlaying(bool& playing) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::GetOtherAudioIsPlaying)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  playing = otherAudioPlaying_;
  return kAudioOK;
}

AudioStatus TestAudioSession::getCategory(std::uint32_t& category) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::GetCategory)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  category = category_;
  return kAudioOK;
}

AudioStatus TestAudioSession::setCategory(std::uint32_t category) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::SetCategory)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  if (category != kCategoryLiveAudio && category != kCategoryPlayAndRecord) return kAudioErrInvalidValue;
  category_ = category;
  return kAudioOK;
}

AudioStatus TestAudioSession::getRoute(std::optional<std::string>& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::GetRoute)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  name = route_;
  return kAudioOK;
}

AudioStatus TestAudioSession::setRouteOverride(std::uint32_t override) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::SetRouteOverride)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  if (override != kRouteOverrideNone && override != kRouteOverrideSpeaker) return kAudioErrInvalidValue;
  override_ = override;
  ++overrideSets_;
  return kAudioOK;
}

AudioStatus TestAudioSession::setPreferredBufferDuration(float seconds) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::SetPreferredBufferDuration)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  if (!(seconds > 0.0f)) return kAudioErrInvalidValue;
  bufferDuration_ = seconds;
  return kAudioOK;
}

AudioStatus TestAudioSession::setPreferredSampleRate(double rate) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::SetPreferredSampleRate)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  if (!(rate > 0.0)) return kAudioErrInvalidValue;
  preferredRate_ = rate;
  return kAudioOK;
}

AudioStatus TestAudioSession::getCurrentSampleRate(double& rate) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::GetCurrentSampleRate)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  rate = currentRate_;
  return kAudioOK;
}

AudioStatus TestAudioSession::addRouteChangeListener(RouteChangeListener listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (AudioStatus s = failure(Op::AddRouteChangeListener)) return s;
  if (!initialized_) return kAudioErrNotInitialized;
  routeListeners_.push_back(std::move(listener));
  return kAudioOK;
}

void TestAudioSession::playSystemSound(std::uint32_t soundId) {
  std::lock_guard<std::mutex> lock(mutex_);
  systemSounds_.push_back(soundId);
}

float TestAudioSession::preferredBufferDuration() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bufferDuration_;
}

double TestAudioSession::preferredSampleRate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return preferredRate_;
}

void TestAudioSession::fail(Op op, AudioStatus status) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_[op] = status == kAudioOK ? kAudioErrTest : status;
}

void TestAudioSession::clearFailure(Op op) {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.erase(op);
}

void TestAudioSession::clearFailures() {
  std::lock_guard<std::mutex> lock(mutex_);
  failures_.clear();
}

void TestAudioSession::setOtherAudioPlaying(bool playing) {
  std::lock_guard<std::mutex> lock(mutex_);
  otherAudioPlaying_ = playing;
}

void TestAudioSession::setRouteName(std::optional<std::string> name) {
  std::lock_guard<std::mutex> lock(mutex_);
  route_ = std::move(name);
}

void TestAudioSession::setCurrentSampleRate(double rate) {
  std::lock_guard<std::mutex> lock(mutex_);
  currentRate_ = rate;
}

bool TestAudioSession::initialized() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return initialized_;
}

bool TestAudioSession::active() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return active_;
}

int TestAudioSession::setActiveCalls() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return setActiveCalls_;
}

std::uint32_t TestAudioSession::category() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return category_;
}

std::uint32_t TestAudioSession::routeOverride() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return override_;
}

int TestAudioSession::routeOverrideSets() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return overrideSets_;
}

std::size_t TestAudioSession::routeChangeListenerCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return routeListeners_.size();
}

std::vector<std::uint32_t> TestAudioSession::systemSoundsPlayed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return systemSounds_;
}

void TestAudioSession::beginInterruption() {
  InterruptionListener listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listener = interruptionListener_;
  }
  if (listener) listener(kBeginInterruption);
}

void TestAudioSession::endInterruption() {
  InterruptionListener listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listener = interruptionListener_;
  }
  if (listener) listener(kEndInterruption);
}

void TestAudioSession::changeRoute(std::optional<std::string> name, std::optional<std::int32_t> reason) {
  setRouteName(std::move(name));
  RouteChange change;
  if (reason) change.dictionary[kRouteChangeReasonKey] = *reason;
  fireRouteChange(change);
}

void TestAudioSession::fireRouteChange(const RouteChange& change) {
  std::vector<RouteChangeListener> listeners;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    listeners = routeListeners_;
  }
  for (auto& listener : listeners)
    if (listener) listener(change);
}

}  // namespace platform
