#include "platform/MailComposer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/Clock.h"
#include "platform/DateFormat.h"
#include "platform/Digest.h"
#include "platform/Paths.h"
#include "platform/UrlOpener.h"

namespace platform {

namespace {

bool refuse(std::string* problem, const std::string& reason) {
  if (problem) *problem = reason;
  return false;
}

// An address is used as it is: letters, digits and the few marks of an
// ordinary address, nothing that could start a URL field.
bool plainAddress(const std::string& to) {
  if (to.empty() || to.find('@') == std::string::npos) return false;
  for (char c : to) {
    bool ok = std::isalnum(static_cast<unsigned char>(c)) || std::strchr("@.-_+", c);
    if (!ok) return false;
  }
  return true;
}

std::string headerValue(const std::string& text) {
  std::string value;
  for (char c : text) value += (c == '\r' || c == '\n') ? ' ' : c;
  bool ascii = true;
  for (char c : value) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  return ascii ? value : "=?UTF-8?B?" + base64Encode(value) + "?=";
}

// "Tue, 01 Jan 2030 12:00:00 +0100", local time.
std::string mailDate(double time) {
  std::time_t seconds = static_cast<std::time_t>(time);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[64];
  std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S %z", &local);
  return text;
}

std::string withCrlf(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// Creates dir/name.eml (or name-2.eml, ...) with mode 0600 and writes text.
std::optional<std::string> writeNewFile(const std::string& dir, const std::string& name,
                                        const std::string& text, std::string* problem) {
  for (int n = 1; n < 1000; ++n) {
    std::string path = Paths::join(dir, name + (n == 1 ? "" : "-" + std::to_string(n)) + ".eml");
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      refuse(problem, "cannot create " + path + ": " + std::strerror(errno));
      return std::nullopt;
    }
    bool ok = Paths::writeAll(fd, text) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok) {
      ::unlink(path.c_str());
      refuse(problem, "cannot write " + path);
      return std::nullopt;
    }
    return path;
  }
  refuse(problem, "too many mails of one second");
  return std::nullopt;
}

}  // namespace

std::string MailComposer::mailtoUrl(const std::string& to, const std::string& subject,
                                    const std::string& body) {
  return "mailto:" + to + "?subject=" + escapeValue(subject) + "&body=" + escapeValue(body);
}

std::optional<ComposedMail> MailComposer::compose(const MailMessage& message,
                                                  std::string* problem) {
  if (!plainAddress(message.to)) {
    refuse(problem, "not a plain address: '" + message.to + "'");
    return std::nullopt;
  }
  std::string dir = Paths::join(Paths::documents(), "mail");
  std::string error;
  if (!Paths::mkdirs(dir, &error)) {
    refuse(problem, "cannot create " + dir + ": " + error);
    return std::nullopt;
  }
  ::chmod(dir.c_str(), 0700);

  double now = Clock::now();
  std::string text = "To: " + headerValue(message.to) + "\r\n" +
                     "Subject: " + headerValue(message.subject) + "\r\n" +
                     "Date: " + mailDate(now) + "\r\n" + "MIME-Version: 1.0\r\n" +
                     "Content-Type: text/plain; charset=UTF-8\r\n" +
                     "Content-Transfer-Encoding: 8bit\r\n\r\n" + withCrlf(message.body);
  std::string kind = message.kind.empty() ? "mail" : message.kind;
  for (char& c : kind) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') c = '_';
  }
  std::optional<std::string> path =
      writeNewFile(dir, kind + "-" + formatDate("yyyy-MM-dd-HH-mm-ss", now), text, problem);
  if (!path) return std::nullopt;

  ComposedMail composed;
  composed.emlPath = *path;
  composed.url = mailtoUrl(message.to, message.subject, message.body);
  if (composed.url.size() <= UrlOpener::kMaxUrlBytes) return composed;

  // Too long for one argument: whole lines from the start, then where the
  // rest is.
  composed.bodyCut = true;
  const std::string tail = "Full report: " + *path + "\n";
  std::string head = "mailto:" + message.to + "?subject=" + escapeValue(message.subject) + "&body=";
  std::size_t room = UrlOpener::kMaxUrlBytes - head.size() - escapeValue(tail).size();
  std::string kept;
  std::size_t used = 0;
  std::size_t at = 0;
  while (at < message.body.size()) {
    std::size_t end = message.body.find('\n', at);
    std::size_t next = end == std::string::npos ? message.body.size() : end + 1;
    std::string line = escapeValue(std::string_view(message.body).substr(at, next - at));
    if (used + line.size() > room) break;
    used += line.size();
    kept += line;
    at = next;
  }
  composed.url = head + kept + escapeValue(tail);
  return composed;
}

bool MailComposer::send(const MailMessage& message, ComposedMail* composed, std::string* problem) {
  std::optional<ComposedMail> mail = compose(message, problem);
  if (!mail) return false;
  if (composed) *composed = *mail;
  return UrlOpener::installed()->open(mail->url, problem);
}

}  // namespace platform
