// The audio layer over the platform's audio session and RemoteIO unit.
#include "vxu/vxall.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#include "vxu/VXLog.h"
#include "vxu/VXUtils.h"
#include "vxu/vxign.h"

using platform::AudioBufferList;
using platform::AudioScope;
using platform::AudioSession;
using platform::AudioStatus;
using platform::kAudioOK;
using platform::RemoteIOUnit;
using platform::StreamFormat;

std::atomic<bool> VXALL::m_hasInit{false};
std::atomic<bool> VXALL::m_isRunning{false};
std::atomic<bool> VXALL::m_isMute{false};
std::atomic<bool> VXALL::m_isInterrupted{false};
std::atomic<bool> VXALL::m_fullDuplex{false};
double VXALL::m_srate = 0.0;
double VXALL::m_hwSampleRate = 0.0;
unsigned long VXALL::m_numChannels = 2;
unsigned long VXALL::m_frameSize = 0;
int VXALL::m_iphoneGeneration = 0;
std::optional<std::string> VXALL::m_currentRoute;
std::atomic<double> VXALL::m_inputGain{1.0};
std::atomic<double> VXALL::m_outputGain{1.0};
VXALLCallback VXALL::m_callback = nullptr;
void* VXALL::m_bindle = nullptr;
VXALLIOInfo VXALL::m_info;
std::shared_ptr<RemoteIOUnit> VXALL::m_au;
RemoteIOUnit::RenderCallback VXALL::m_renderProc;
std::vector<std::function<void()>> VXALL::m_listeners;

namespace {

constexpr float kFullScale = 16777216.0f;  // 8.24: 1 << 24
constexpr std::size_t kRouteTextSize = 255;

// The frame count of the last render call (audio thread only).
std::uint32_t g_lastFrames = 0;

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The route name as ASCII text that fits the 255-byte buffer, "(unknown)"
// when it does not convert.
std::string routeText(const std::optional<std::string>& route) {
  if (!route || route->size() >= kRouteTextSize) return "(unknown)";
  for (unsigned char c : *route) {
    if (c >= 0x80 || c == 0) return "(unknown)";
  }
  return *route;
}

// Speaker unless the route is a headset or headphones.
std::uint32_t overrideForRoute(const std::optional<std::string>& route) {
  if (route && (contains(*route, "Headset") || contains(*route, "Headphone"))) {
    return platform::kRouteOverrideNone;
  }
  return platform::kRouteOverrideSpeaker;
}

void setOverrideForRoute(const std::optional<std::string>& route) {
  if (AudioSession::shared().setRouteOverride(overrideForRoute(route)) != kAudioOK) {
    VX_detailf("couldn't set speaker override\n");
  }
}

void logConfiguration() {
  VX_detailf("using iPhone %uG VXALL configuration\n", (unsigned)VXALL::m_iphoneGeneration);
  VX_detailf("route = '%s' : output gain = %lf : input gain = %lf\n",
          routeText(VXALL::m_currentRoute).c_str(), VXALL::m_outputGain.load(),
          VXALL::m_inputGain.load());
}

// A float output sample times the gain as 8.24, saturated at the limits of
// the 32-bit sample (NaN is silence).
std::int32_t toFixed(float x, float g) {
  float v = x * g;
  if (!(v == v)) return 0;
  if (v >= 2147483648.0f) return INT32_MAX;
  if (v <= -2147483648.0f) return INT32_MIN;
  return (std::int32_t)v;
}

void silence(AudioBufferList& ioData, std::uint32_t fromFrame) {
  for (std::uint32_t b = 0; b < ioData.numberBuffers && b < platform::kMaxAudioBuffers; b++) {
    platform::AudioBuffer& buffer = ioData.buffers[b];
    if (!buffer.data) continue;
    std::size_t from = (std::size_t)fromFrame * sizeof(std::int32_t);
    if (from < buffer.dataByteSize) {
      std::memset(static_cast<char*>(buffer.data) + from, 0, buffer.dataByteSize - from);
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Set-up

bool VXALL::init(double srate, unsigned long frames, unsigned long /*channels*/) {
  if (m_hasInit) {
    VX_detailf("init called when already has init\n");
    return false;
  }

  m_renderProc = RemoteIOUnit::RenderCallback{&VXALLRenderProc, nullptr};
  m_info.capacity = kCapacity;
  m_info.format = StreamFormat{};
  m_info.format.sampleRate = srate;
  m_info.format.formatID = platform::kFormatLinearPCM;
  m_info.format.channelsPerFrame = 2;
  m_info.format.bitsPerChannel = 32;
  m_info.format.bytesPerFrame = 8;
  m_info.format.bytesPerPacket = 8;
  m_info.format.framesPerPacket = 1;
  m_outputGain = 1.0;
  // A block of at least one frame, so that the render callback always
  // advances.
  m_frameSize = std::clamp<unsigned long>(frames, 1, kCapacity);
  m_srate = srate;
  m_numChannels = 2;

  AudioSession& session = AudioSession::shared();
  if (session.initialize([](std::uint32_t state) { rioInterruptionListener(&m_au, state); }) !=
      kAudioOK) {
    VX_detailf("couldn't initialize audio session\n");
    return false;
  }

  if (os_2_1_or_later()) {
    bool otherAudioPlaying = false;
    if (session.getOtherAudioIsPlaying(otherAudioPlaying) != kAudioOK || otherAudioPlaying) {
      VX_detailf("VXALL: other audio playing\n");
      return false;
    }
  }

  if (session.setActive(true) != kAudioOK) {
    VX_detailf("couldn't set audio session active\n");
    return false;
  }

  std::uint32_t category = m_fullDuplex ? platform::kCategoryPlayAndRecord : platform::kCategoryLiveAudio;
  if (session.setCategory(category) != kAudioOK) {
    VX_detailf("couldn't set audio category\n");
    return false;
  }

  if (os_2_1_or_later()) {
    std::optional<std::string> route;
    if (session.getRoute(route) != kAudioOK) VX_detailf("couldn't get new audio route\n");
    if (session.setRouteOverride(overrideForRoute(route)) != kAudioOK) {
      VX_detailf("couldn't set speaker override\n");
      return false;
    }
  }

  if (session.addRouteChangeListener(&propListener) != kAudioOK) {
    VX_detailf("couldn't set property listener\n");
    return false;
  }

  session.setPreferredBufferDuration((float)((double)m_frameSize / srate));
  session.setPreferredSampleRate(srate);
  double hwRate = 0.0;
  if (session.getCurrentSampleRate(hwRate) != kAudioOK) {
    VX_detailf("couldn't get hw sample rate\n");
    return false;
  }
  m_hwSampleRate = hwRate;

  std::optional<std::string> route;
  if (session.getRoute(route) != kAudioOK) {
    VX_detailf("couldn't get new audio route\n");
  } else if (route) {
    m_currentRoute = route;
    VX_detailf("route is '%s'\n", routeText(route).c_str());
  }

  m_iphoneGeneration = hardware_id() == 1 ? 2 : 3;
  Vexel_Integration::instance().set_int(VXIGN_IPHONE_GENERATION_KEY, m_iphoneGeneration);
  Vexel_Integration::instance().set_int(VXIGN_GENERATION_KEY, m_iphoneGeneration);

  configureGains();
  logConfiguration();

  if (!setupRemoteIO(m_au, m_renderProc, m_info)) {
    VX_detailf("couldn't setup remote i/o unit\n");
    return false;
  }

  m_info.buffer.reset(new (std::nothrow) float[(std::size_t)m_info.capacity * m_numChannels]());
  if (!m_info.buffer) {
    VX_detailf("couldn't allocate memory for I/O buffer\n");
    return false;
  }

  m_hasInit = true;
  m_isInterrupted = false;
  return true;
}

bool VXALL::setupRemoteIO(std::shared_ptr<RemoteIOUnit>& slot,
                          const RemoteIOUnit::RenderCallback& renderProc, VXALLIOInfo& info) {
  slot = RemoteIOUnit::create();
  if (!slot) {
    VX_detailf("couldn't open the remote I/O unit\n");
    return false;
  }
  RemoteIOUnit& unit = *slot;

  if (unit.enableIO(AudioScope::Input, platform::kInputElement, true) != kAudioOK) {
    VX_detailf("couldn't enable input on the remote I/O unit\n");
    return false;
  }
  if (unit.setRenderCallback(AudioScope::Input, platform::kOutputElement, renderProc) != kAudioOK) {
    VX_detailf("couldn't set remote i/o render callback\n");
    return false;
  }

  StreamFormat format;
  if (unit.getStreamFormat(AudioScope::Input, platform::kOutputElement, format) != kAudioOK) {
    VX_detailf("couldn't get the remote I/O unit's output client format\n");
    return false;
  }
  format.sampleRate = info.format.sampleRate;
  if (unit.setStreamFormat(AudioScope::Input, platform::kOutputElement, format) != kAudioOK) {
    VX_detailf("couldn't set the remote I/O unit's input client format\n");
    return false;
  }
  if (unit.getStreamFormat(AudioScope::Input, platform::kOutputElement, info.format) != kAudioOK) {
    VX_detailf("couldn't get the remote I/O unit's output client format\n");
    return false;
  }
  // The microphone is delivered in the same format.
  if (unit.setStreamFormat(AudioScope::Output, platform::kInputElement, info.format) != kAudioOK) {
    VX_detailf("couldn't set the remote I/O unit's output client format\n");
    return false;
  }

  if (unit.initialize() != kAudioOK) {
    VX_detailf("couldn't initialize the remote I/O unit\n");
    return false;
  }
  return true;
}

void VXALL::configureGains() {
  int generation = m_iphoneGeneration;
  if (generation != 2 && generation != 3) return;

  const std::string route = m_currentRoute.value_or("");
  if (contains(route, "Receiver")) {
    m_outputGain = generation == 2 ? 1.0 : 6.0;
  } else if (contains(route, "Speaker")) {
    m_outputGain = generation == 2 ? 1.0 : 0.8;
  } else if (contains(route, "Headset") || contains(route, "Headphone")) {
    m_outputGain = 1.0;
  } else {
    VX_detailf("VXALL: warning: unknown route, using default output gain\n");
  }
  m_inputGain = generation == 2 ? 1.5 : 1.25;
}

// ---------------------------------------------------------------------------
// Lifecycle

bool VXALL::start(VXALLCallback callback, void* user) {
  if (!m_hasInit) {
    VX_detailf("start called when not inited\n");
    return false;
  }
  if (m_isRunning) {
    VX_detailf("start called when already running\n");
    return false;
  }
  if (callback == nullptr) {
    VX_detailf("callback != NULL\n");
    return false;
  }

  m_callback = callback;
  m_bindle = user;
  if (!m_au || m_au->start() != kAudioOK) {
    VX_detailf("couldn't start audio unit...\n");
    return false;
  }
  m_isRunning = true;
  return true;
}

void VXALL::stop() {
  if (!m_isRunning) return;
  if (m_au) m_au->stop();
  m_isRunning = false;
}

bool VXALL::resume() {
  if (!m_hasInit) {
    VX_detailf("resume called when not inited\n");
    return false;
  }
  if (m_isRunning) {
    VX_detailf("resume called when already running\n");
    return false;
  }
  if (m_isInterrupted) {
    VX_detailf("resume called when interrupted\n");
    return false;
  }

  // The music players need a fresh unit after a stop.
  unsigned hardware = hardware_id();
  if (hardware == 3 || hardware == 4) {
    if (m_au) m_au->dispose();
    if (!setupRemoteIO(m_au, m_renderProc, m_info)) {
      VX_detailf("couldn't setup remote i/o unit\n");
      return false;
    }
  }

  if (!m_au || m_au->start() != kAudioOK) {
    VX_detailf("couldn't start audio unit...\n");
    return false;
  }
  m_isRunning = true;
  return true;
}

void VXALL::vibrate() { AudioSession::shared().playSystemSound(kVibrateSound); }

void VXALL::setAudioOutput(VXAudioOutput output) {
  if (output == kVXAudioOutputDefault) {
    if (AudioSession::shared().setRouteOverride(platform::kRouteOverrideNone) != kAudioOK) {
      VX_detailf("couldn't set speaker override\n");
    }
    return;
  }
  // A speaker request waits for a known route.
  if (!m_currentRoute) return;
  setOverrideForRoute(m_currentRoute);
}

void VXALL::setFullDuplex(bool fullDuplex) {
  m_fullDuplex = fullDuplex;
  if (!m_hasInit) return;

  AudioSession& session = AudioSession::shared();
  std::uint32_t current = 0;
  if (session.getCategory(current) != kAudioOK) {
    VX_detailf("couldn't get audio category\n");
    return;
  }
  std::uint32_t wanted = fullDuplex ? platform::kCategoryPlayAndRecord : platform::kCategoryLiveAudio;
  if (current != wanted && session.setCategory(wanted) != kAudioOK) {
    VX_detailf("couldn't set audio category\n");
  }
}

void VXALL::audioDeviceChanged() {
  for (const std::function<void()>& listener : m_listeners) {
    if (listener) listener();
  }
}

void VXALL::addDeviceListener(std::function<void()> listener) { m_listeners.push_back(std::move(listener)); }

// ---------------------------------------------------------------------------
// Session listeners (main thread)

void VXALL::rioInterruptionListener(void* /*inClientData*/, std::uint32_t inInterruption) {
  VX_detailf("Session interrupted --- %s ---\n",
          inInterruption == platform::kBeginInterruption ? "Begin Interruption" : "End Interruption");

  if (inInterruption == platform::kBeginInterruption) {
    if (m_au) m_au->stop();
    m_isInterrupted = true;
    return;
  }

  m_isInterrupted = false;
  AudioSession::shared().setActive(true);
  // Before init has set the unit up there is nothing to rebuild.
  if (!m_hasInit) return;
  if (m_au) m_au->dispose();
  if (!setupRemoteIO(m_au, m_renderProc, m_info)) {
    VX_detailf("couldn't setup remote i/o unit\n");
    return;
  }
  m_au->start();
}

void VXALL::propListener(const platform::RouteChange& change) {
  AudioSession& session = AudioSession::shared();
  std::optional<std::string> route;
  if (session.getRoute(route) != kAudioOK) {
    VX_detailf("couldn't get new audio route\n");
    return;
  }

  if (route && !m_isInterrupted && route != m_currentRoute) {
    m_currentRoute = route;
    VX_detailf("new route is '%s'\n", routeText(route).c_str());

    // A running unit is stopped before it goes, so that no render call is
    // left running over it.
    if (m_au) {
      if (m_au->isRunning()) m_au->stop();
      if (m_au->dispose() != kAudioOK) {
        VX_detailf("couldn't dispose remote i/o unit\n");
        return;
      }
    }
    if (os_2_1_or_later()) setOverrideForRoute(m_currentRoute);
    configureGains();
    logConfiguration();
    if (!setupRemoteIO(m_au, m_renderProc, m_info)) {
      VX_detailf("couldn't setup remote i/o unit\n");
      return;
    }
    double hwRate = 0.0;
    if (session.getCurrentSampleRate(hwRate) != kAudioOK) {
      VX_detailf("couldn't get new sample rate\n");
      return;
    }
    m_hwSampleRate = hwRate;
    if (m_isRunning && m_au->start() != kAudioOK) {
      VX_detailf("couldn't start unit\n");
      return;
    }
  }

  if (change.dataSize != 4) {
    VX_detailf("invalid data size in propListener\n");
    return;
  }
  auto reason = change.dictionary.find(platform::kRouteChangeReasonKey);
  std::int32_t value = reason == change.dictionary.end() ? -1 : reason->second;
  if (value == platform::kRouteChangeReasonNewDeviceAvailable ||
      value == platform::kRouteChangeReasonOldDeviceUnavailable) {
    audioDeviceChanged();
  }
}

// ---------------------------------------------------------------------------
// Render callback (audio thread)

AudioStatus VXALL::VXALLRenderProc(void* /*inRefCon*/, RemoteIOUnit& unit, std::uint32_t /*inBusNumber*/,
                                   std::uint32_t inNumberFrames, AudioBufferList& ioData) {
  AudioStatus err = unit.renderInput(inNumberFrames, ioData);
  if (err != kAudioOK) {
    VX_detailf("VXALL: render procedure encountered error %d\n", (int)err);
    return err;
  }

  if (m_isMute) {
    silence(ioData, 0);
    return kAudioOK;
  }

  if (inNumberFrames != g_lastFrames) {
    VX_detailf("VXALL: RIO requested %u frames\n", (unsigned)inNumberFrames);
    g_lastFrames = inNumberFrames;
  }

  // Only two buffers can be converted; only up to the capacity fits the
  // float buffer. Everything else is silence.
  float* buffer = m_info.buffer.get();
  VXALLCallback callback = m_callback;
  if (ioData.numberBuffers != 2 || !buffer || !callback) {
    silence(ioData, 0);
    return kAudioOK;
  }
  std::uint32_t frames = std::min<std::uint32_t>(ioData.buffers[0].dataByteSize / 4,
                                                 ioData.buffers[1].dataByteSize / 4);
  frames = std::min(frames, m_info.capacity);
  auto* left = static_cast<std::int32_t*>(ioData.buffers[0].data);
  auto* right = static_cast<std::int32_t*>(ioData.buffers[1].data);

  float divisor = kFullScale / (float)m_inputGain.load(std::memory_order_relaxed);
  for (std::uint32_t i = 0; i < frames; i++) {
    buffer[2 * i] = (float)left[i] / divisor;
    buffer[2 * i + 1] = (float)right[i] / divisor;
  }

  unsigned long block = m_frameSize;
  for (std::uint32_t offset = 0; offset < frames; offset += block) {
    unsigned long length = std::min<unsigned long>(block, frames - offset);
    callback(buffer + 2 * offset, length, m_bindle);
  }

  float g = (float)(m_outputGain.load(std::memory_order_relaxed) * 16777216.0);
  for (std::uint32_t i = 0; i < frames; i++) {
    left[i] = toFixed(buffer[2 * i], g);
    right[i] = toFixed(buffer[2 * i + 1], g);
  }
  silence(ioData, frames);
  return kAudioOK;
}

// ---------------------------------------------------------------------------

void VXALL::resetForTesting() {
  if (m_au) {
    m_au->stop();
    m_au->dispose();
  }
  m_au.reset();
  m_hasInit = false;
  m_isRunning = false;
  m_isMute = false;
  m_isInterrupted = false;
  m_fullDuplex = false;
  m_srate = 0.0;
  m_hwSampleRate = 0.0;
  m_numChannels = 2;
  m_frameSize = 0;
  m_iphoneGeneration = 0;
  m_currentRoute.reset();
  m_inputGain = 1.0;
  m_outputGain = 1.0;
  m_callback = nullptr;
  m_bindle = nullptr;
  m_info = VXALLIOInfo{};
  m_renderProc = RemoteIOUnit::RenderCallback{};
  m_listeners.clear();
  g_lastFrames = 0;
}
