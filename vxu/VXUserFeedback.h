// Feedback and registration mail, composed for the user to send.
//
// generateFeedbackEmailWithType(type) flushes the log, builds the report
// (type line for 0 general, 1 crash, 2 freeze; product, build, device
// model, system, OS version, device id, location services, graphics
// version, reachability of the service, physical and available memory as
// 64-bit byte counts; this run's log; each saved log), deletes the saved
// logs, and hands "mailto:<feedback address>?subject=<product> Feedback
// &body=..." to the mail composer, which keeps the whole message as an .eml
// under Documents/mail and cuts a body too long for one program argument
// at a line end (see platform/MailComposer.h). Subject and body are escaped
// as values, so nothing in a log line (an "&", a "=") can add fields to
// the URL. generateRegisterEmail() sends the product and the device
// identifier (between triple braces) to the registration address.
//
// Secrets never reach the mail: the log never holds them, and nothing else
// of the report does.
//
// Threads: main thread.
#ifndef VXU_VXUSERFEEDBACK_H
#define VXU_VXUSERFEEDBACK_H

#include <cstdint>
#include <optional>
#include <string>

struct VXMemoryFacts {
  std::uint64_t physical = 0;   // bytes
  std::uint64_t available = 0;  // bytes
};

class VXUserFeedback {
 public:
  // The body of the report (without the mail's introduction).
  static std::string feedbackReport(int type);
  // The mail's whole body: "\n\ndebug information\n--------------------\n"
  // + report + "\n".
  static bool generateFeedbackEmailWithType(int type);
  static bool generateRegisterEmail();

  // The graphics library's version, as the GL host knows it (0.0 until it
  // says).
  static void setGraphicsVersion(int major, int minor);
  // MemTotal and MemAvailable of a /proc/meminfo text, in bytes.
  static VXMemoryFacts parseMeminfo(const std::string& text);
  static VXMemoryFacts memoryFacts();
};

#endif
