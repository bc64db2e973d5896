#include "Classes/FluvaneMicInput.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>

#include "platform/RemoteIOUnit.h"

using platform::AudioBufferList;
using platform::AudioScope;
using platform::AudioStatus;
using platform::RemoteIOUnit;
using platform::StreamFormat;

namespace {

constexpr double kRiseSeconds = 0.02;
// Uniform noise of this peak is about 0.29 RMS.
constexpr double kNoisePeak = 0.5;

std::atomic<double> g_target{0.0};
std::atomic<std::uint64_t> g_frames{0};
// Audio thread only.
double g_level = 0.0;
std::uint32_t g_noise = 0x9e3779b9u;

std::mutex g_installMutex;
bool g_installed = false;
RemoteIOUnit::Factory g_previous;

double nextNoise() {
  // xorshift32: cheap, no allocation, never locks.
  g_noise ^= g_noise << 13;
  g_noise ^= g_noise >> 17;
  g_noise ^= g_noise << 5;
  return static_cast<double>(g_noise) / 2147483648.0 - 1.0;
}

// Passes everything on to the real unit; counts the rendered frames and adds
// the breath to the input.
class BreathUnit : public RemoteIOUnit {
 public:
  explicit BreathUnit(std::shared_ptr<RemoteIOUnit> inner) : inner_(std::move(inner)) {}

  AudioStatus enableIO(AudioScope scope, std::uint32_t element, bool enable) override {
    return inner_->enableIO(scope, element, enable);
  }
  AudioStatus setRenderCallback(AudioScope scope, std::uint32_t element,
                                RenderCallback callback) override {
    client_ = callback;
    return inner_->setRenderCallback(scope, element, RenderCallback{&trampoline, this});
  }
  AudioStatus getStreamFormat(AudioScope scope, std::uint32_t element,
                              StreamFormat& format) override {
    return inner_->getStreamFormat(scope, element, format);
  }
  AudioStatus setStreamFormat(AudioScope scope, std::uint32_t element,
                              const StreamFormat& format) override {
    if (scope == AudioScope::Output && element == platform::kInputElement) {
      rate_.store(format.sampleRate);
    }
    return inner_->setStreamFormat(scope, element, format);
  }
  AudioStatus initialize() override { return inner_->initialize(); }
  AudioStatus start() override { return inner_->start(); }
  AudioStatus stop() override { return inner_->stop(); }
  AudioStatus dispose() override { return inner_->dispose(); }
  bool isRunning() const override { return inner_->isRunning(); }
  AudioStatus renderInput(std::uint32_t frames, AudioBufferList& ioData) override {
    AudioStatus status = inner_->renderInput(frames, ioData);
    if (status != platform::kAudioOK) return status;
    FluvaneMicInput::mixBreath(ioData, frames, rate());
    return status;
  }

 private:
  static AudioStatus trampoline(void* refCon, RemoteIOUnit&, std::uint32_t bus,
                                std::uint32_t frames, AudioBufferList& ioData) {
    auto* self = static_cast<BreathUnit*>(refCon);
    g_frames.fetch_add(frames, std::memory_order_relaxed);
    if (!self->client_.proc) return platform::kAudioOK;
    return self->client_.proc(self->client_.refCon, *self, bus, frames, ioData);
  }

  double rate() const {
    const double r = rate_.load();
    return r > 0 ? r : 16000.0;
  }

  std::shared_ptr<RemoteIOUnit> inner_;
  RenderCallback client_;
  std::atomic<double> rate_{0.0};
};

}  // namespace

void FluvaneMicInput::install() {
  std::lock_guard<std::mutex> lock(g_installMutex);
  if (g_installed) return;
  g_installed = true;
  // The factory in place now (the SDL back end or the test hardware's).
  RemoteIOUnit::Factory inner = RemoteIOUnit::installFactory(nullptr);
  g_previous = inner;
  RemoteIOUnit::installFactory([inner]() -> std::shared_ptr<RemoteIOUnit> {
    std::shared_ptr<RemoteIOUnit> unit;
    if (inner) {
      unit = inner();
    } else {
      unit = std::make_shared<platform::SdlRemoteIOUnit>();
    }
    if (!unit) return nullptr;
    return std::make_shared<BreathUnit>(std::move(unit));
  });
}

void FluvaneMicInput::uninstall() {
  std::lock_guard<std::mutex> lock(g_installMutex);
  if (!g_installed) return;
  g_installed = false;
  RemoteIOUnit::installFactory(g_previous);
  g_previous = nullptr;
}

void FluvaneMicInput::setBreath(double level) {
  if (!std::isfinite(level)) level = 0.0;
  g_target.store(std::clamp(level, 0.0, 1.0));
}

double FluvaneMicInput::breath() { return g_target.load(); }

std::uint64_t FluvaneMicInput::framesRendered() { return g_frames.load(); }

void FluvaneMicInput::mixBreath(AudioBufferList& ioData, std::uint32_t frames, double rate) {
  const double target = g_target.load(std::memory_order_relaxed);
  if (target <= 0.0 && g_level <= 0.0) return;
  const double step = 1.0 / (kRiseSeconds * (rate > 0 ? rate : 16000.0));
  const double full = static_cast<double>(platform::kFixedPointOne);
  const std::uint32_t buffers = std::min(ioData.numberBuffers, platform::kMaxAudioBuffers);
  for (std::uint32_t i = 0; i < frames; i++) {
    if (g_level < target) {
      g_level = std::min(target, g_level + step);
    } else if (g_level > target) {
      g_level = std::max(target, g_level - step);
    }
    const double add = nextNoise() * kNoisePeak * g_level * full;
    // One breath, heard alike by every channel.
    for (std::uint32_t b = 0; b < buffers; b++) {
      platform::AudioBuffer& buffer = ioData.buffers[b];
      if (!buffer.data || i >= buffer.dataByteSize / 4) continue;
      auto* samples = static_cast<std::int32_t*>(buffer.data);
      samples[i] = static_cast<std::int32_t>(
          std::clamp(static_cast<double>(samples[i]) + add, -2147483648.0, 2147483647.0));
    }
  }
}
