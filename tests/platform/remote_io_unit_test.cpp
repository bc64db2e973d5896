#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/AudioSession.h"
#include "platform/RemoteIOUnit.h"

namespace {

using namespace platform;
namespace fs = std::filesystem;

constexpr auto kSafety = std::chrono::seconds(20);

// What a render callback saw, shared with the test thread.
struct Probe {
  std::mutex mutex;
  std::condition_variable changed;
  int calls = 0;
  std::vector<std::uint32_t> frames;
  std::vector<std::uint32_t> buses;
  std::vector<std::uint32_t> bufferCounts;
  AudioStatus answer = kAudioOK;
  bool passThrough = true;  // render the microphone into the output
  std::int32_t constant = 0;  // else fill every sample with this

  void note(std::uint32_t bus, std::uint32_t n, std::uint32_t buffers) {
    std::lock_guard<std::mutex> lock(mutex);
    ++calls;
    if (frames.size() < 1000) {
      frames.push_back(n);
      buses.push_back(bus);
      bufferCounts.push_back(buffers);
    }
    changed.notify_all();
  }

  // Waits until pred() holds (checked after each call); false on time-out.
  bool waitFor(const std::function<bool()>& pred) {
    const auto deadline = std::chrono::steady_clock::now() + kSafety;
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      const int seen = calls;
      lock.unlock();
      if (pred()) return true;
      lock.lock();
      if (!changed.wait_until(lock, deadline, [&] { return calls != seen; })) return false;
    }
  }

  int callCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return calls;
  }
};

AudioStatus probeRender(void* refCon, RemoteIOUnit& unit, std::uint32_t bus, std::uint32_t frames,
                        AudioBufferList& io) {
  auto* probe = static_cast<Probe*>(refCon);
  AudioStatus status = kAudioOK;
  if (probe->passThrough) {
    status = unit.renderInput(frames, io);
  } else {
    for (std::uint32_t b = 0; b < io.numberBuffers; ++b)
      for (std::uint32_t i = 0; i < frames; ++i) static_cast<std::int32_t*>(io.buffers[b].data)[i] = probe->constant;
  }
  probe->note(bus, frames, io.numberBuffers);
  return status != kAudioOK ? status : probe->answer;
}

// ---------------------------------------------------------------------------
// What both back ends promise about properties and life cycle.

struct BackEnd {
  const char* name;
  std::function<std::shared_ptr<RemoteIOUnit>()> make;
};

class UnitContract : public ::testing::TestWithParam<BackEnd> {
 protected:
  void SetUp() override { setenv("SDL_AUDIODRIVER", "dummy", 1); }
};

TEST_P(UnitContract, PropertiesLiveOnlyWhereTheUnitHasThem) {
  std::shared_ptr<RemoteIOUnit> unit = GetParam().make();
  ASSERT_NE(unit, nullptr);

  StreamFormat format;
  ASSERT_EQ(unit->getStreamFormat(AudioScope::Input, kOutputElement, format), kAudioOK);
  EXPECT_EQ(format, canonicalFormat(format.sampleRate));
  EXPECT_GT(format.sampleRate, 0.0);
  EXPECT_EQ(format.bytesPerFrame, 4u);
  EXPECT_EQ(format.channelsPerFrame, 2u);
  EXPECT_NE(format.formatFlags & kFormatFlagIsNonInterleaved, 0u);

  const StreamFormat at16k = canonicalFormat(16000.0);
  EXPECT_EQ(unit->setStreamFormat(AudioScope::Input, kOutputElement, at16k), kAudioOK);
  EXPECT_EQ(unit->setStreamFormat(AudioScope::Output, kInputElement, at16k), kAudioOK);
  StreamFormat back;
  EXPECT_EQ(unit->getStreamFormat(AudioScope::Output, kInputElement, back), kAudioOK);
  EXPECT_EQ(back, at16k);

  StreamFormat interleaved = at16k;  // 8 bytes per frame: not a format the unit runs
  interleaved.bytesPerFrame = interleaved.bytesPerPacket = 8;
  interleaved.formatFlags &= ~kFormatFlagIsNonInterleaved;
  StreamFormat noRate = canonicalFormat(0.0);
  EXPECT_EQ(unit->setStreamFormat(AudioScope::Input, kOutputElement, interleaved), kAudioErrFormat);
  EXPECT_EQ(unit->setStreamFormat(AudioScope::Input, kOutputElement, noRate), kAudioErrFormat);

  struct Place {
    AudioScope scope;
    std::uint32_t element;
  };
  for (Place wrong : {Place{AudioScope::Output, kOutputElement}, Place{AudioScope::Input, kInputElement},
                      Place{AudioScope::Global, 0}, Place{AudioScope::Input, 2}}) {
    SCOPED_TRACE(std::to_string(int(wrong.scope)) + "/" + std::to_string(wrong.element));
    EXPECT_EQ(unit->getStreamFormat(wrong.scope, wrong.element, format), kAudioErrInvalidPlace);
    EXPECT_EQ(unit->setStreamFormat(wrong.scope, wrong.element, at16k), kAudioErrInvalidPlace);
    EXPECT_EQ(unit->setRenderCallback(wrong.scope, wrong.element, {probeRender, nullptr}), kAudioErrInvalidPlace);
  }
  EXPECT_EQ(unit->setRenderCallback(AudioScope::Output, kInputElement, {probeRender, nullptr}), kAudioErrInvalidPlace);
  EXPECT_EQ(unit->enableIO(AudioScope::Input, kInputElement, true), kAudioOK);
  EXPECT_EQ(unit->enableIO(AudioScope::Output, kOutputElement, true), kAudioOK);
  EXPECT_EQ(unit->enableIO(AudioScope::Input, kOutputElement, true), kAudioErrInvalidPlace);
  EXPECT_EQ(unit->enableIO(AudioScope::Global, 0, true), kAudioErrInvalidPlace);
}

TEST_P(UnitContract, StartNeedsInitializeAndDisposeEndsEverything) {
  std::shared_ptr<RemoteIOUnit> unit = GetParam().make();
  ASSERT_NE(unit, nullptr);
  Probe probe;
  ASSERT_EQ(unit->setRenderCallback(AudioScope::Input, kOutputElement, {probeRender, &probe}), kAudioOK);
  EXPECT_EQ(unit->start(), kAudioErrNotInitialized);
  EXPECT_FALSE(unit->isRunning());

  ASSERT_EQ(unit->initialize(), kAudioOK);
  ASSERT_EQ(unit->start(), kAudioOK);
  EXPECT_TRUE(unit->isRunning());
  EXPECT_EQ(unit->start(), kAudioOK);  // already running: nothing changes
  EXPECT_EQ(unit->stop(), kAudioOK);
  EXPECT_FALSE(unit->isRunning());
  EXPECT_EQ(unit->stop(), kAudioOK);
  ASSERT_EQ(unit->start(), kAudioOK);  // a stopped unit starts again

  EXPECT_EQ(unit->dispose(), kAudioOK);
  EXPECT_FALSE(unit->isRunning());
  StreamFormat format;
  EXPECT_EQ(unit->start(), kAudioErrDisposed);
  EXPECT_EQ(unit->initialize(), kAudioErrDisposed);
  EXPECT_EQ(unit->getStreamFormat(AudioScope::Input, kOutputElement, format), kAudioErrDisposed);
  EXPECT_EQ(unit->enableIO(AudioScope::Input, kInputElement, true), kAudioErrDisposed);
  EXPECT_EQ(unit->dispose(), kAudioOK);
}

INSTANTIATE_TEST_SUITE_P(
    BothBackEnds, UnitContract,
    ::testing::Values(BackEnd{"Sdl", [] { return std::make_shared<SdlRemoteIOUnit>(); }},
                      BackEnd{"Test", [] { return std::make_shared<TestRemoteIOUnit>(); }}),
    [](const ::testing::TestParamInfo<BackEnd>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// The test back end.

struct StartedTestUnit {
  TestAudioHardware hardware;
  std::shared_ptr<RemoteIOUnit> unit = RemoteIOUnit::create();
  TestRemoteIOUnit& test = *hardware.unit();
  Probe probe;

  StartedTestUnit(bool input = true) {
    EXPECT_EQ(unit.get(), &test);
    EXPECT_EQ(unit->enableIO(AudioScope::Input, kInputElement, input), kAudioOK);
    EXPECT_EQ(unit->setRenderCallback(AudioScope::Input, kOutputElement, {probeRender, &probe}), kAudioOK);
    EXPECT_EQ(unit->initialize(), kAudioOK);
    EXPECT_EQ(unit->start(), kAudioOK);
  }
};

TEST(TestRemoteIOUnit, PumpCallsTheCallbackSynchronouslyOnlyWhileRunning) {
  StartedTestUnit s;
  EXPECT_EQ(s.test.renderCallback().refCon, &s.probe);
  EXPECT_TRUE(s.test.inputEnabled());
  s.probe.passThrough = false;
  s.probe.constant = 1234;

  EXPECT_EQ(s.test.pump(5), kAudioOK);
  EXPECT_EQ(s.probe.calls, 1);  // already happened: synchronous
  EXPECT_EQ(s.probe.frames, std::vector<std::uint32_t>{5});
  EXPECT_EQ(s.probe.buses, std::vector<std::uint32_t>{kOutputElement});
  EXPECT_EQ(s.probe.bufferCounts, std::vector<std::uint32_t>{2});
  EXPECT_EQ(s.test.outputLeft(), std::vector<std::int32_t>(5, 1234));
  EXPECT_EQ(s.test.outputRight(), std::vector<std::int32_t>(5, 1234));

  s.probe.answer = -7;  // the callback's status comes back
  EXPECT_EQ(s.test.pump(3, {}, 3), -7);
  EXPECT_EQ(s.probe.bufferCounts.back(), 3u);
  ASSERT_EQ(s.test.output().size(), 3u);
  EXPECT_EQ(s.test.output()[2], std::vector<std::int32_t>(3, 1234));

  ASSERT_EQ(s.unit->stop(), kAudioOK);
  EXPECT_EQ(s.test.pump(4), kAudioErrNotRunning);
  EXPECT_EQ(s.probe.calls, 2);
  EXPECT_EQ(s.test.outputLeft(), std::vector<std::int32_t>(4, TestRemoteIOUnit::kUnwrittenSample));
  EXPECT_EQ(s.test.starts(), 1);
  EXPECT_EQ(s.test.stops(), 1);
}

TEST(TestRemoteIOUnit, RenderInputDeliversThePumpedMicrophone) {
  struct Case {
    const char* name;
    bool inputEnabled;
    std::uint32_t buffers;
    std::vector<std::int32_t> input;  // interleaved
    std::vector<std::vector<std::int32_t>> expected;
  };
  const std::vector<Case> cases = {
      {"stereo", true, 2, {1, -1, 2, -2, 3, -3}, {{1, 2, 3}, {-1, -2, -3}}},
      {"short input reads as zeros", true, 2, {1, -1}, {{1, 0, 0}, {-1, 0, 0}}},
      {"one buffer gets the left channel", true, 1, {1, -1, 2, -2, 3, -3}, {{1, 2, 3}}},
      {"a third buffer gets zeros", true, 3, {1, -1, 2, -2, 3, -3}, {{1, 2, 3}, {-1, -2, -3}, {0, 0, 0}}},
      {"input not enabled", false, 2, {1, -1, 2, -2, 3, -3}, {{0, 0, 0}, {0, 0, 0}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StartedTestUnit s(c.inputEnabled);
    EXPECT_EQ(s.test.pump(3, c.input, c.buffers), kAudioOK);
    EXPECT_EQ(s.test.output(), c.expected);
  }
}

TEST(TestRemoteIOUnit, HardwareMakesEachOperationFail) {
  struct Case {
    TestUnitOp op;
    std::function<AudioStatus(RemoteIOUnit&)> call;
  };
  StreamFormat format;
  const std::vector<Case> cases = {
      {TestUnitOp::EnableIO, [](RemoteIOUnit& u) { return u.enableIO(AudioScope::Input, kInputElement, true); }},
      {TestUnitOp::SetRenderCallback,
       [](RemoteIOUnit& u) { return u.setRenderCallback(AudioScope::Input, kOutputElement, {}); }},
      {TestUnitOp::GetStreamFormat,
       [&](RemoteIOUnit& u) { return u.getStreamFormat(AudioScope::Input, kOutputElement, format); }},
      {TestUnitOp::SetStreamFormat,
       [](RemoteIOUnit& u) { return u.setStreamFormat(AudioScope::Input, kOutputElement, canonicalFormat(8000)); }},
      {TestUnitOp::Initialize, [](RemoteIOUnit& u) { return u.initialize(); }},
      {TestUnitOp::Start, [](RemoteIOUnit& u) { return u.start(); }},
      {TestUnitOp::Stop, [](RemoteIOUnit& u) { return u.stop(); }},
      {TestUnitOp::Dispose, [](RemoteIOUnit& u) { return u.dispose(); }},
      {TestUnitOp::RenderInput,
       [](RemoteIOUnit& u) {
         AudioBufferList none;
         return u.renderInput(1, none);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.op));
    TestAudioHardware hardware;
    std::shared_ptr<RemoteIOUnit> unit = RemoteIOUnit::create();
    ASSERT_NE(unit, nullptr);
    if (c.op == TestUnitOp::Start || c.op == TestUnitOp::Stop) {
      ASSERT_EQ(unit->initialize(), kAudioOK);
      if (c.op == TestUnitOp::Stop) {
        ASSERT_EQ(unit->start(), kAudioOK);
      }
    }
    const bool wasRunning = unit->isRunning();
    hardware.fail(c.op, -9);  // reaches units already made...
    EXPECT_EQ(c.call(*unit), -9);
    EXPECT_EQ(unit->isRunning(), wasRunning);
    EXPECT_FALSE(hardware.unit()->disposed());
    EXPECT_EQ(c.call(*RemoteIOUnit::create()), -9);  // ...and units to come
    hardware.clearFailure(c.op);
    EXPECT_EQ(c.call(*unit), kAudioOK);
  }

  TestAudioHardware hardware;
  hardware.fail(TestUnitOp::Create);
  EXPECT_EQ(RemoteIOUnit::create(), nullptr);
  EXPECT_EQ(hardware.unitsCreated(), 0);
  hardware.clearFailures();
  EXPECT_NE(RemoteIOUnit::create(), nullptr);
  EXPECT_EQ(hardware.unitsCreated(), 1);
}

TEST(TestAudioHardware, InstallsItsBackEndsForItsScopeOnly) {
  {
    TestAudioHardware hardware;
    EXPECT_EQ(&AudioSession::shared(), &hardware.session());
    EXPECT_EQ(hardware.unit(), nullptr);
    std::shared_ptr<RemoteIOUnit> first = RemoteIOUnit::create();
    std::shared_ptr<RemoteIOUnit> second = RemoteIOUnit::create();
    EXPECT_EQ(hardware.unit().get(), second.get());
    EXPECT_EQ(hardware.unitsCreated(), 2);
  }
  EXPECT_NE(dynamic_cast<SdlAudioSession*>(&AudioSession::shared()), nullptr);
  setenv("SDL_AUDIODRIVER", "dummy", 1);
  std::shared_ptr<RemoteIOUnit> unit = RemoteIOUnit::create();
  EXPECT_NE(dynamic_cast<SdlRemoteIOUnit*>(unit.get()), nullptr);
}

TEST(TestAudioHardware, UnitsTakeTheSessionsPreferredRateAsTheirFormat) {
  TestAudioHardware hardware;
  ASSERT_EQ(hardware.session().initialize(nullptr), kAudioOK);
  ASSERT_EQ(hardware.session().setPreferredSampleRate(16000.0), kAudioOK);
  StreamFormat format;
  ASSERT_EQ(RemoteIOUnit::create()->getStreamFormat(AudioScope::Input, kOutputElement, format), kAudioOK);
  EXPECT_EQ(format, canonicalFormat(16000.0));
}

// ---------------------------------------------------------------------------
// The SDL back end, headless.

// A fresh SDL session for one test, with the driver and the 16 kHz / 256-frame
// preferences the audio layer asks for.
struct SdlScope {
  std::shared_ptr<SdlAudioSession> session = std::make_shared<SdlAudioSession>();
  std::shared_ptr<AudioSession> previous;

  explicit SdlScope(const char* driver) {
    setenv("SDL_AUDIODRIVER", driver, 1);
    previous = AudioSession::install(session);
    EXPECT_EQ(session->initialize(nullptr), kAudioOK);
    EXPECT_EQ(session->setPreferredSampleRate(16000.0), kAudioOK);
    EXPECT_EQ(session->setPreferredBufferDuration(256.0f / 16000.0f), kAudioOK);
  }
  ~SdlScope() { AudioSession::install(previous); }
};

std::shared_ptr<SdlRemoteIOUnit> startSdlUnit(Probe& probe) {
  auto unit = std::make_shared<SdlRemoteIOUnit>();
  EXPECT_EQ(unit->enableIO(AudioScope::Input, kInputElement, true), kAudioOK);
  EXPECT_EQ(unit->setRenderCallback(AudioScope::Input, kOutputElement, {probeRender, &probe}), kAudioOK);
  EXPECT_EQ(unit->setStreamFormat(AudioScope::Input, kOutputElement, canonicalFormat(16000.0)), kAudioOK);
  EXPECT_EQ(unit->setStreamFormat(AudioScope::Output, kInputElement, canonicalFormat(16000.0)), kAudioOK);
  EXPECT_EQ(unit->initialize(), kAudioOK);
  EXPECT_EQ(unit->start(), kAudioOK);
  return unit;
}

TEST(SdlRemoteIOUnit, DummyDriverRunsTheCallbackUntilStopped) {
  SdlScope scope("dummy");
  Probe probe;
  std::shared_ptr<SdlRemoteIOUnit> unit = startSdlUnit(probe);
  ASSERT_TRUE(unit->isRunning());
  EXPECT_EQ(unit->deviceFrames(), 256u);
  ASSERT_TRUE(probe.waitFor([&] { return probe.callCount() >= 3; }));
  EXPECT_EQ(unit->stop(), kAudioOK);
  EXPECT_FALSE(unit->isRunning());
  EXPECT_EQ(unit->deviceFrames(), 0u);

  std::lock_guard<std::mutex> lock(probe.mutex);
  for (std::size_t i = 0; i < probe.frames.size(); ++i) {
    EXPECT_EQ(probe.frames[i], 256u);
    EXPECT_EQ(probe.buses[i], kOutputElement);
    EXPECT_EQ(probe.bufferCounts[i], 2u);
  }
}

std::vector<std::int32_t> readS32(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::int32_t> samples(bytes.size() / 4);
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
  return samples;
}

// The output's frames with the silent ones (latency, late capture) left out.
std::vector<std::int32_t> soundingFrames(const std::vector<std::int32_t>& interleaved) {
  std::vector<std::int32_t> kept;
  for (std::size_t i = 0; i + 1 < interleaved.size(); i += 2) {
    if (interleaved[i] == 0 && interleaved[i + 1] == 0) continue;
    kept.push_back(interleaved[i]);
    kept.push_back(interleaved[i + 1]);
  }
  return kept;
}

TEST(SdlRemoteIOUnit, DiskDriverPassesTheMicrophoneThroughToTheOutput) {
  const fs::path dir = fs::path(std::getenv("FLUVANE_HOME")) / "disk-audio";
  fs::create_directories(dir);
  const fs::path inPath = dir / "in.raw";
  const fs::path outPath = dir / "out.raw";

  // Distinct, never silent frames, exact in 8.24 and in the device's 32 bits.
  constexpr int kFrames = 3000;
  std::vector<std::int32_t> input;
  for (int i = 1; i <= kFrames; ++i) {
    input.push_back(i * 64 * 128);
    input.push_back(-i * 32 * 128);
  }
  {
    std::ofstream out(inPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(input.data()), std::streamsize(input.size() * 4));
  }
  setenv("SDL_DISKAUDIOFILE", outPath.c_str(), 1);
  setenv("SDL_DISKAUDIOFILEIN", inPath.c_str(), 1);

  SdlScope scope("disk");
  Probe probe;
  std::shared_ptr<SdlRemoteIOUnit> unit = startSdlUnit(probe);
  ASSERT_TRUE(unit->isRunning());
  // The driver writes its file after each callback and through a stdio
  // buffer: look again after every callback until the whole input is there.
  const bool arrived = probe.waitFor([&] { return soundingFrames(readS32(outPath)).size() >= input.size(); });
  EXPECT_EQ(unit->stop(), kAudioOK);
  ASSERT_TRUE(arrived) << "output holds " << soundingFrames(readS32(outPath)).size() / 2 << " sounding frames";
  EXPECT_EQ(soundingFrames(readS32(outPath)), input);
}

}  // namespace
