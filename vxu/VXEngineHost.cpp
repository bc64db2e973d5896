#include "vxu/VXEngineHost.h"

#include "chip/driver/chip_compile.h"
#include "chip/util/chip_errmsg.h"
#include "chip/vm/digiio_device.h"
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
  bool start(Callback cb, void* user) override { return VXALL::start(cb, user); }
  void stop() override { VXALL::stop(); }
};

void flushSharedLog() { VXLog::sharedVXLog().flushLog(); }

}  // namespace

void VXEngineHost::install() {
  static const EM_Sink sink{VX_vlogf, flushSharedLog};
  static VXALLDevice device;
  VXLog::sharedVXLog().prepareThread();
  EM_set_sink(&sink);
  Digitalio::set_device(&device);
  chip_provide_module("VXIgn", vxign_query);
}
