#include "vxu/VXChipBridge.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "chip/chip.h"
#include "platform/AudioSession.h"
#include "platform/RunLoop.h"
#include "vxu/VXEngineHost.h"
#include "vxu/VXLog.h"
#include "vxu/VXOB_File.h"
#include "vxu/VXUtils.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

namespace {

std::atomic<VXChipBridge*> g_chipBridge{nullptr};
std::atomic<VXChipBridgeDelegate*> g_fallbackDelegate{nullptr};

VXLog& vxlog() { return VXLog::sharedVXLog(); }

VXChipBridge* bridgeOf(void* user) { return static_cast<VXChipBridge*>(user); }

void onChipReady(void* user, const char*) { bridgeOf(user)->chipReady(); }

void onVibrate(void*, const char*) { VXALL::vibrate(); }

void onSwitchToSpeaker(void*, const char*) {
  vxlog().log("switching to speaker");
  if (platform::AudioSession::shared().setCategory(platform::kCategoryLiveAudio) !=
      platform::kAudioOK) {
    VX_logf("couldn't set audio category\n");
  }
}

void onSwitchToReceiver(void*, const char*) {
  if (platform::AudioSession::shared().setCategory(platform::kCategoryPlayAndRecord) !=
      platform::kAudioOK) {
    VX_logf("couldn't set audio category\n");
  }
}

void onMicPower(void* user, const char* key) {
  bridgeOf(user)->micPower(static_cast<float>(Vexel_Integration::instance().get_float(key)));
}

}  // namespace

// What the main run loop's calls reach after the bridge may be gone.
struct VXChipBridge::Shared {
  std::atomic<VXChipBridgeDelegate*> delegate{nullptr};
  // Whether the engine thread's body has ended, for a time-limited wait.
  std::mutex mutex;
  std::condition_variable ended;
  bool running = false;
};

VXChipBridge::VXChipBridge() : shared_(std::make_shared<Shared>()) {
  allowSpeakerAndMic_ = os_2_1_or_later();
  VXChipBridge* none = nullptr;
  if (!g_chipBridge.compare_exchange_strong(none, this)) {
    vxlog().log("gChipBridge == nil");
    return;
  }
  registered_ = true;
  Vexel_Integration& store = Vexel_Integration::instance();
  store.register_key_callback(VXIGN_CHIP_READY_KEY, {onChipReady, this});
  store.register_key_callback(VXIGN_VIBRATE_KEY, {onVibrate, this});
  store.register_key_callback(VXIGN_SWITCH_TO_SPEAKER_KEY, {onSwitchToSpeaker, this});
  store.register_key_callback(VXIGN_SWITCH_TO_RECEIVER_KEY, {onSwitchToReceiver, this});
  store.set_float(VXIGN_MIC_POWER_KEY, 0.0);
  store.register_set_callback(VXIGN_MIC_POWER_KEY, {onMicPower, this});
}

VXChipBridge::~VXChipBridge() {
  if (engine_.joinable()) shutdownChip();
  shared_->delegate = nullptr;
  if (!registered_) return;
  Vexel_Integration& store = Vexel_Integration::instance();
  for (const std::string* key : {&VXIGN_CHIP_READY_KEY, &VXIGN_VIBRATE_KEY,
                                 &VXIGN_SWITCH_TO_SPEAKER_KEY, &VXIGN_SWITCH_TO_RECEIVER_KEY}) {
    store.register_key_callback(*key, {nullptr, nullptr});
  }
  store.register_set_callback(VXIGN_MIC_POWER_KEY, {nullptr, nullptr});
  g_chipBridge = nullptr;
}

VXChipBridge* VXChipBridge::getChipBridge() { return g_chipBridge.load(); }

void VXChipBridge::setFallbackDelegate(VXChipBridgeDelegate* delegate) {
  g_fallbackDelegate = delegate;
}

VXChipBridgeDelegate* VXChipBridge::delegate() const { return shared_->delegate.load(); }

void VXChipBridge::setDelegate(VXChipBridgeDelegate* delegate) { shared_->delegate = delegate; }

void VXChipBridge::announce(bool ready) {
  platform::RunLoop::main().post([weak = std::weak_ptr<Shared>(shared_), ready] {
    std::shared_ptr<Shared> shared = weak.lock();
    if (!shared) return;
    VXChipBridgeDelegate* delegate = shared->delegate.load();
    if (!delegate) delegate = g_fallbackDelegate.load();
    if (!delegate) return;
    if (ready) {
      delegate->chipReady();
    } else {
      delegate->chipFinished();
    }
  });
}

void VXChipBridge::startChipWithFiles(const std::vector<std::string>& names) {
  if (alive_) {
    vxlog().log("chip already running");
    return;
  }
  if (engine_.joinable()) engine_.join();
  std::vector<std::string> list = names;
  list.push_back("iPhone.chip");
  startChipWithScripts(list);
}

void VXChipBridge::startChipWithScripts(const std::vector<std::string>& names) {
  if (alive_) {
    vxlog().log("chip already running");
    return;
  }
  if (engine_.joinable()) engine_.join();
  VXEngineHost::clearStopRequest();
  alive_ = true;
  purged_ = false;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->running = true;
  }
  engine_ = std::thread([this, names, shared = shared_] {
    runChip(names);
    std::lock_guard<std::mutex> lock(shared->mutex);
    shared->running = false;
    shared->ended.notify_all();
  });
}

std::vector<std::string> VXChipBridge::engineArguments(
    const std::vector<std::string>& paths) const {
  std::vector<std::string> args = {"chip", "--out2", "--in2"};
  args.push_back("--bufsize" + std::to_string(bufferSize_));
  args.push_back("--bufnum" + std::to_string(numberOfBuffers_));
  args.push_back("--srate" + std::to_string(sampleRate_));
  args.push_back("--adaptive" + std::to_string(adaptiveBufferSize_));
  args.insert(args.end(), paths.begin(), paths.end());
  return args;
}

void VXChipBridge::runChip(const std::vector<std::string>& names) {
  vxlog().log("starting chip...");
  VXEngineHost::install();

  std::vector<std::string> paths;
  for (const std::string& name : names) {
    VXOB_File* file = VXOB_File::get_file_with_filename(name.c_str());
    if (!file) {
      vxlog().log("embedded script '%s' not found: skipped", name.c_str());
      continue;
    }
    paths.push_back(file->write_to_tmpfile());
  }
  std::vector<std::string> args = engineArguments(paths);
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  argv.push_back(nullptr);

  alive_ = true;
  chip_main(static_cast<int>(args.size()), argv.data());
  alive_ = false;
  announce(false);
  vxlog().log("chip finished...");
}

void VXChipBridge::pauseChip() {
  if (!alive_) return;
  if (!paused_ && VXALL::m_isRunning) {
    paused_ = true;
    VXALL::stop();
  }
}

void VXChipBridge::resumeChip() {
  if (!alive_) return;
  if (paused_) {
    paused_ = false;
    VXALL::resume();
  }
}

void VXChipBridge::muteChip(bool mute) { VXALL::m_isMute = mute; }

bool VXChipBridge::shutdownChip(double timeoutSeconds) {
  if (alive_) {
    vxlog().log("stopping chip");
    VXEngineHost::requestStop();
  }
  if (engine_.joinable() && engine_.get_id() != std::this_thread::get_id()) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    const bool ended = shared_->ended.wait_for(
        lock, std::chrono::duration<double>(std::max(0.0, timeoutSeconds)),
        [&] { return !shared_->running; });
    lock.unlock();
    if (!ended) {
      vxlog().log("the engine did not stop within %.1f s; its scripts are kept", timeoutSeconds);
      return false;
    }
    engine_.join();
  }
  paused_ = false;
  purgeScriptsOnce();
  return true;
}

void VXChipBridge::shutdownChip() {
  if (alive_) {
    vxlog().log("stopping chip");
    VXEngineHost::requestStop();
  }
  // The engine thread frees its machine itself once it has stopped.
  if (engine_.joinable() && engine_.get_id() != std::this_thread::get_id()) engine_.join();
  paused_ = false;
  purgeScriptsOnce();
}

void VXChipBridge::purgeScriptsOnce() {
  if (purged_) return;
  VXOB_cleanUpTempfiles();
  purged_ = true;
}

void VXChipBridge::chipReady() { announce(true); }

void VXChipBridge::micPower(float) {}

bool VXChipBridge::allowSwitch() {
  if (!allowRouteSwitchIsSet_) {
    allowRouteSwitch_ = Vexel_Integration::instance().get_int(VXIGN_IPHONE_GENERATION_KEY) > 2 &&
                        !allowSpeakerAndMic_;
    allowRouteSwitchIsSet_ = true;
  }
  return allowRouteSwitch_;
}

bool VXChipBridge::setCategory(unsigned int category, const char* note) {
  if (!alive_ || !allowSwitch()) return false;
  vxlog().log("%s", note);
  if (platform::AudioSession::shared().setCategory(category) != platform::kAudioOK) {
    VX_logf("couldn't set audio category\n");
    return false;
  }
  return true;
}

void VXChipBridge::switchToSpeaker() {
  setCategory(platform::kCategoryLiveAudio, "switching to speaker");
}

void VXChipBridge::switchToReceiverAndMicrophone() {
  setCategory(platform::kCategoryPlayAndRecord, "switching to receiver and microphone");
}

void VXChipBridge::switchToSpeakerAndMicrophone() {
  setCategory(platform::kCategoryPlayAndRecord, "switching to speaker and microphone");
}
