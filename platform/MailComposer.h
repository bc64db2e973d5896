// Composing an e-mail for the user to send.
//
// compose() writes the whole message (To, Subject, Date, MIME-Version,
// Content-Type text/plain in UTF-8, then the body) to
// Documents/mail/<kind>-<yyyy-MM-dd-HH-mm-ss>.eml with mode 0600 (a number
// is added to the name when one of that second exists), then builds the
// mailto: URL "mailto:<to>?subject=<subject>&body=<body>" with subject and
// body escaped as values, so nothing in them (an "&", a "=", a line end)
// can add fields to the URL. When that URL would be longer than one program
// argument may be (UrlOpener::kMaxUrlBytes), the body in the URL keeps as
// many of its first lines as fit, cut at a line end, followed by the line
// "Full report: <path of the .eml>"; the file always has everything.
// send() composes and hands the URL to the installed UrlOpener.
//
// Header values lose their line ends (a subject cannot add headers); a
// subject that is not plain ASCII is written as an encoded word.
//
// Threads: any thread.
#ifndef PLATFORM_MAILCOMPOSER_H
#define PLATFORM_MAILCOMPOSER_H

#include <optional>
#include <string>

namespace platform {

struct MailMessage {
  std::string kind;  // names the file ("feedback", "register")
  std::string to;
  std::string subject;
  std::string body;
};

struct ComposedMail {
  std::string emlPath;
  std::string url;
  bool bodyCut = false;
};

class MailComposer {
 public:
  // Nothing (with the reason) when the file cannot be written or the
  // address is not plain.
  static std::optional<ComposedMail> compose(const MailMessage& message,
                                             std::string* problem = nullptr);
  // compose, then open the URL; false with the reason when either fails.
  static bool send(const MailMessage& message, ComposedMail* composed = nullptr,
                   std::string* problem = nullptr);
  // The URL for a body as it is (no cut).
  static std::string mailtoUrl(const std::string& to, const std::string& subject,
                               const std::string& body);
};

}  // namespace platform

#endif
