#include "vxu/VXUserFeedback.h"

#include <atomic>
#include <sstream>

#include "platform/MailComposer.h"
#include "platform/Paths.h"
#include "vxu/VXConfig.h"
#include "vxu/VXHttp.h"
#include "vxu/VXLocation.h"
#include "vxu/VXLog.h"
#include "vxu/VXUtils.h"

using platform::Paths;

namespace {

std::atomic<int> g_glMajor{0};
std::atomic<int> g_glMinor{0};

VXLog& vxlog() { return VXLog::sharedVXLog(); }

bool sendMail(const std::string& kind, const std::string& to, const std::string& subject,
              const std::string& body) {
  platform::MailMessage message{kind, to, subject, body};
  platform::ComposedMail composed;
  std::string problem;
  bool sent = platform::MailComposer::send(message, &composed, &problem);
  if (!composed.emlPath.empty()) vxlog().log("mail kept as %s", composed.emlPath.c_str());
  if (!sent) vxlog().log("cannot hand the mail on: %s", problem.c_str());
  return sent;
}

}  // namespace

void VXUserFeedback::setGraphicsVersion(int major, int minor) {
  g_glMajor = major;
  g_glMinor = minor;
}

VXMemoryFacts VXUserFeedback::parseMeminfo(const std::string& text) {
  VXMemoryFacts facts;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string name, unit;
    unsigned long long value = 0;
    if (!(fields >> name >> value)) continue;
    fields >> unit;
    std::uint64_t bytes = unit == "kB" ? value * 1024ull : value;
    if (name == "MemTotal:") facts.physical = bytes;
    if (name == "MemAvailable:") facts.available = bytes;
  }
  return facts;
}

VXMemoryFacts VXUserFeedback::memoryFacts() {
  return parseMeminfo(Paths::readFile("/proc/meminfo").value_or(""));
}

std::string VXUserFeedback::feedbackReport(int type) {
  std::ostringstream body;
  switch (type) {
    case 0:
      body << "Report type: General\n";
      break;
    case 1:
      body << "Report type: Crash\n";
      break;
    case 2:
      body << "Report type: Freeze\n";
      break;
    default:
      break;
  }
  vexelLocation& location = vexelLocation::sharedInstance();
  VXMemoryFacts memory = memoryFacts();
  body << "Product: " << product_name() << "\n"
       << "Build: " << build_id() << "\n"
       << "Device Model: " << device_model() << "\n"
       << "Device System: " << system_name() << " " << system_version() << "\n"
       << "OS version: " << system_version() << "\n"
       << "Device ID: " << VXDeviceIdentifier() << "\n"
       << "Location Services Enabled: " << (location.locationServicesEnabled() ? 1 : 0) << "\n"
       << "Location Services Status: " << location.getStatus().value_or("(null)") << "\n"
       << "EAGL Version: " << g_glMajor.load() << "." << g_glMinor.load() << "\n"
       << "VExel is reachable: " << (isVexelReachable() ? 1 : 0) << "\n"
       << "physical memory: " << memory.physical << "\n"
       << "real memory available: " << memory.available << "\n";
  body << "*** Begin Log ***\n";
  for (const std::string& entry : vxlog().logEntries()) body << entry << "\n";
  body << "*** End Log ***\n";
  std::string saved = vxlog().savedLogDirectory();
  if (!saved.empty()) {
    for (const std::string& name : Paths::listDir(saved)) {
      body << "*** Begin Log (" << name << ") ***\n";
      if (std::optional<std::string> text = Paths::readFile(Paths::join(saved, name)))
        body << *text;
      body << "*** End Log (" << name << ") ***\n";
    }
  }
  return body.str();
}

bool VXUserFeedback::generateFeedbackEmailWithType(int type) {
  vxlog().log("generateFeedbackEmailWithType flushing log");
  vxlog().flushLog();
  std::string report = feedbackReport(type);
  vxlog().purgeSavedLogs();
  return sendMail("feedback", APP_FEEDBACK_ADDRESS, product_name() + " Feedback",
                  "\n\ndebug information\n--------------------\n" + report + "\n");
}

bool VXUserFeedback::generateRegisterEmail() {
  vxlog().log("generateRegisterEmail");
  std::string body = "Product: " + product_name() + "\n{{{" + VXDeviceIdentifier() + "}}}\n";
  return sendMail("register", APP_REGISTRATION_ADDRESS, product_name() + " Register",
                  "Press Send to register, you will receive a new message to validate your "
                  "account.\n\nRegistration Information\n--------------------\n" +
                      body + "\n");
}
