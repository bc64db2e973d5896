#include "Classes/FluvaneChipBridge.h"

#include <map>

#include "Classes/FluvanePreferences.h"
#include "recorder/FluvaneRecorderHost.h"
#include "platform/RunLoop.h"
#include "vxu/VXLog.h"
#include "vxu/VXUtils.h"
#include "vxu/vxall.h"
#include "vxu/vxign.h"

const std::string VXIGN_FINGER_STATE_KEY = "Fluvane: Finger state";
const std::string VXIGN_ECHO_KEY = "Fluvane: echo";
const std::string VXIGN_VIBRATO_RATE_KEY = "Fluvane: vibratoRate";
const std::string VXIGN_VIBRATO_DEPTH_KEY = "Fluvane: vibratoDepth";
const std::string VXIGN_VIBRATO_ENABLE_KEY = "Fluvane: vibrato enable";
const std::string VXIGN_MODE_KEY = "Fluvane: mode";
const std::string VXIGN_ROOT_KEY = "Fluvane: root";
const std::string VXIGN_BREATH_SENSITIVITY_KEY = "Fluvane: breath sensitivity";
const std::string VXIGN_APPSTATE_KEY = "Fluvane: App state";
const std::string VXIGN_ENABLE_SNIPPET_UPLOAD_KEY = "Fluvane: enable snippet upload";
const std::string VXIGN_ENABLE_TOUCH_MODE_KEY = "Fluvane: enable touch mode";
const std::string VXIGN_MANUAL_RECORD_COMMAND_KEY = "Fluvane: manual record command";
const std::string VXIGN_MAX_RECORDING_REACHED_KEY = "Fluvane: max recording reached";
const std::string VXIGN_UPLOAD_FREQUENCY_KEY = "Fluvane: snippet upload frequency";
const std::string VXIGN_UPLOAD_MIN_LENGTH_KEY = "Fluvane: snippet upload min length";
const std::string VXIGN_UPLOAD_MAX_LENGTH_KEY = "Fluvane: snippet upload max length";
const std::string VXIGN_UPLOAD_PREFERRED_ROOT_KEY = "Fluvane: snippet preferred root";
const std::string VXIGN_UPLOAD_PREFERRED_MODE_KEY = "Fluvane: snippet preferred mode";
const std::string VXIGN_MAX_MANUAL_RECORD_TIME_KEY = "Fluvane: max manual record time";

namespace {

Vexel_Integration& store() { return Vexel_Integration::instance(); }

}  // namespace

// What the main loop's relayed calls reach; lives as long as the last call
// posted for it.
struct FluvaneChipBridge::Listeners {
  // The current tune listener's handle (0: none). Read on the audio thread.
  std::atomic<std::uint64_t> tuneHandle{0};
  // Main thread only.
  std::uint64_t nextHandle = 1;
  std::map<std::uint64_t, std::weak_ptr<FluvaneChipBridgeCallback>> tunes;
  std::function<void()> maxRecordingHandler;
};

const std::vector<std::string>& FluvaneChipBridge::scriptNames() {
  static const std::vector<std::string> names = {"iPhone.chip", "Razede.chip", "Fluvane.chip",
                                                 "driver.chip"};
  return names;
}

FluvaneChipBridge::FluvaneChipBridge() : listeners_(std::make_shared<Listeners>()) {
  Vexel_Integration& s = store();
  s.set_int(VXIGN_MAX_RECORDING_REACHED_KEY, 0);
  s.register_set_callback(VXIGN_MAX_RECORDING_REACHED_KEY, {&maxRecordingReached, this});
  s.set_int(VXIGN_FINGER_STATE_KEY, 0);
  s.set_int(VXIGN_ROOT_KEY, 60);
  s.set_int(VXIGN_MODE_KEY, 4);
  s.set_float(VXIGN_ECHO_KEY, 0.2);
  s.set_float(VXIGN_VIBRATO_RATE_KEY, 0.0);
  s.set_float(VXIGN_VIBRATO_DEPTH_KEY, 0.0);
  s.set_int(VXIGN_APPSTATE_KEY, 0);
  s.set_int(VXIGN_ENABLE_SNIPPET_UPLOAD_KEY, 1);
  s.set_int(VXIGN_ENABLE_TOUCH_MODE_KEY, 0);
  s.set_int(VXIGN_MANUAL_RECORD_COMMAND_KEY, 0);
  s.set_int(VXIGN_UPLOAD_FREQUENCY_KEY, 5);
  s.set_int(VXIGN_UPLOAD_MIN_LENGTH_KEY, 8);
  s.set_int(VXIGN_UPLOAD_MAX_LENGTH_KEY, 30);
  s.set_int(VXIGN_UPLOAD_PREFERRED_ROOT_KEY, -1);
  s.set_int(VXIGN_UPLOAD_PREFERRED_MODE_KEY, -1);
  FluvaneGfx::setChipBridge(this);
}

namespace {

// The bridge that hears the played tune's notes: the player's callback is a
// plain function, run on the audio thread.
std::atomic<FluvaneChipBridge*> g_tuneBridge{nullptr};

void relayTune(int value) {
  if (FluvaneChipBridge* bridge = g_tuneBridge.load()) bridge->tuneCallback(value);
}

}  // namespace

FluvaneChipBridge::~FluvaneChipBridge() {
  // Stop the engine while this object is still whole: its callbacks reach it.
  shutdownChip();
  // The engine has ended: the recorder's upload thread goes, and what it had
  // not handed on waits in the outbox.
  shutdownRecorder();
  FluvaneChipBridge* self = this;
  g_tuneBridge.compare_exchange_strong(self, nullptr);
  store().register_set_callback(VXIGN_MAX_RECORDING_REACHED_KEY, {nullptr, nullptr});
  FluvaneGfx::setChipBridge(nullptr);
  listeners_->tuneHandle = 0;
}

void FluvaneChipBridge::launchEngine() {
  setBufferSize(256);
  setNumberOfBuffers(6);
  setSampleRate(16000);
  setAdaptiveBufferSize(256);
  // The recorder: the scripts' VCR class, finished recordings kept and
  // uploaded (or handed to the recording controller), played states shown
  // on the holes, a recording stopped at its snapshot limit reported as at
  // the maximum time.
  FluvaneVCRHost hooks;
  hooks.playbackState = [](int state) { FluvaneGfx::gfxPlaybackStateChangedCallback(state); };
  hooks.maxRecordingReached = [] { store().set_int(VXIGN_MAX_RECORDING_REACHED_KEY, 1); };
  installApplicationRecorder(std::move(hooks));
  startChipWithScripts(scriptNames());
}

void FluvaneChipBridge::setState(int mask) { store().set_int(VXIGN_FINGER_STATE_KEY, mask); }
void FluvaneChipBridge::setEcho(float echo) { store().set_float(VXIGN_ECHO_KEY, echo); }
void FluvaneChipBridge::setVibratoRate(float rate) {
  store().set_float(VXIGN_VIBRATO_RATE_KEY, rate);
}
void FluvaneChipBridge::setVibratoDepth(float depth) {
  store().set_float(VXIGN_VIBRATO_DEPTH_KEY, depth);
}
void FluvaneChipBridge::setEnableVibrato(bool on) {
  store().set_int(VXIGN_VIBRATO_ENABLE_KEY, on ? 1 : 0);
}
void FluvaneChipBridge::setBreathSensitivity(float sensitivity) {
  store().set_float(VXIGN_BREATH_SENSITIVITY_KEY, sensitivity);
}
void FluvaneChipBridge::setEnableSnippetUpload(bool on) {
  store().set_int(VXIGN_ENABLE_SNIPPET_UPLOAD_KEY, on ? 1 : 0);
}
void FluvaneChipBridge::setEnableTouchMode(bool on) {
  store().set_int(VXIGN_ENABLE_TOUCH_MODE_KEY, on ? 1 : 0);
}
void FluvaneChipBridge::sendManualRecordingCommand(int command) {
  store().set_int(VXIGN_MANUAL_RECORD_COMMAND_KEY, command);
}

void FluvaneChipBridge::setRoot(const std::string& rootName) {
  store().set_int(VXIGN_ROOT_KEY, FluvanePreferences::rootIndexForRootName(rootName));
}

void FluvaneChipBridge::setMode(const std::string& modeName) {
  store().set_int(VXIGN_MODE_KEY, FluvanePreferences::modeIndexForModeName(modeName));
}

void FluvaneChipBridge::setFluvaneMode(int mode) {
  // Only the first-generation phone cannot play and record on its speaker.
  if (hardware_id() == 1) {
    if (mode == 2) {
      VXALL::setFullDuplex(false);
      VXALL::setAudioOutput(kVXAudioOutputDefault);
    } else if (mode == 1) {
      VXALL::setFullDuplex(true);
      VXALL::setAudioOutput(kVXAudioOutputSpeaker);
    }
  }
  store().set_int(VXIGN_APPSTATE_KEY, mode);
}

void FluvaneChipBridge::setFluvaneRecordingConfiguration(const std::array<int, 6>& policy) {
  VXLog::sharedVXLog().log("Setting Chip Snipets Params");
  Vexel_Integration& s = store();
  s.set_int(VXIGN_UPLOAD_FREQUENCY_KEY, policy[0]);
  s.set_int(VXIGN_UPLOAD_MIN_LENGTH_KEY, policy[1]);
  s.set_int(VXIGN_UPLOAD_MAX_LENGTH_KEY, policy[2]);
  s.set_int(VXIGN_UPLOAD_PREFERRED_ROOT_KEY, policy[3]);
  s.set_int(VXIGN_UPLOAD_PREFERRED_MODE_KEY, policy[4]);
  s.set_int(VXIGN_MAX_MANUAL_RECORD_TIME_KEY, policy[5]);
}

void FluvaneChipBridge::micPower(float power) { FluvaneGfx::breathControl(power); }

void FluvaneChipBridge::playTune(const std::vector<std::uint8_t>& packet,
                                 const std::shared_ptr<FluvaneChipBridgeCallback>& callback) {
  Listeners& l = *listeners_;
  const std::uint64_t handle = l.nextHandle++;
  l.tunes.clear();
  if (callback) l.tunes[handle] = callback;
  l.tuneHandle = callback ? handle : 0;
  g_tuneBridge = this;
  downloadSnippet(std::string_view(reinterpret_cast<const char*>(packet.data()), packet.size()),
                  relayTune);
}

void FluvaneChipBridge::stopTune() { stopCurrentSnippet(); }

void FluvaneChipBridge::tuneCallback(int value) {
  const std::uint64_t handle = listeners_->tuneHandle.load();
  if (handle == 0) return;
  platform::RunLoop::main().post(
      [weak = std::weak_ptr<Listeners>(listeners_), handle, value] {
        std::shared_ptr<Listeners> l = weak.lock();
        if (!l) return;
        auto found = l->tunes.find(handle);
        if (found == l->tunes.end()) return;
        std::shared_ptr<FluvaneChipBridgeCallback> listener = found->second.lock();
        if (!listener) return;
        if (value < 0) {
          listener->finishedPlayingTune();
        } else {
          listener->playedNote(value);
        }
      });
}

void FluvaneChipBridge::setRecordingMaxTimeReachedHandler(std::function<void()> handler) {
  listeners_->maxRecordingHandler = std::move(handler);
}

void FluvaneChipBridge::maxRecordingReached(void* user, const char*) {
  auto* bridge = static_cast<FluvaneChipBridge*>(user);
  platform::RunLoop::main().post([weak = std::weak_ptr<Listeners>(bridge->listeners_)] {
    std::shared_ptr<Listeners> l = weak.lock();
    if (l && l->maxRecordingHandler) l->maxRecordingHandler();
  });
}
