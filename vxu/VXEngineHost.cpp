#include "vxu/VXEngineHost.h"

#include <mutex>

#include "chip/chip.h"
#include "vxu/VXLog.h"
#include "vxu/vxall.h"
#include "vxu/vxign_lang.h"

namespace {

// The audio layer as the engine's audio device.
class VXALLDevice : public Chip_Audio_Device {
 public:
  bool init(double srate, unsigned long frames, unsigned long channels) override {
    return VXALL::init(srate, frames, channels);
  }

  // user is the machine (the facade hands it over).
  bool start(Callback cb, void* user) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto* machine = static_cast<Chip_VM*>(user);
    if (stopRequested_) {
      machine_ = machine;
      chip_stop_machine(machine);
      return true;  // the matching stop() comes at shutdown
    }
    if (!VXALL::start(cb, user)) {
      VX_detailf("audio did not start: stopping the engine\n");
      chip_stop_machine(machine);
      return false;
    }
    machine_ = machine;
    return true;
  }

  void stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    machine_ = nullptr;
    VXALL::stop();
  }

  bool requestStop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = true;
    if (!machine_) return false;
    chip_stop_machine(machine_);
    return true;
  }

  void clearStopRequest() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopRequested_ = false;
  }

 private:
  std::mutex mutex_;
  Chip_VM* machine_ = nullptr;  // between a started audio and its stop
  bool stopRequested_ = false;
};

VXALLDevice& device() {
  static VXALLDevice* instance = new VXALLDevice;
  return *instance;
}

void flushSharedLog() { VXLog::sharedVXLog().flushLog(); }

}  // namespace

void VXEngineHost::install() {
  static const EM_Sink sink{VX_vlogf, flushSharedLog};
  VXLog::sharedVXLog().prepareThread();
  EM_set_sink(&sink);
  chip_set_audio_device(&device());
  chip_provide_module("VXIgn", vxign_query);
}

bool VXEngineHost::requestStop() { return device().requestStop(); }

void VXEngineHost::clearStopRequest() { device().clearStopRequest(); }
