// HTTP POST of a form body, the way the web service is reached.
//
// HttpClient::post sends one HTTP/1.1 POST with the body as it is and only
// the headers "Host" and "Content-Length", and answers the reply's status,
// body and whether it carried "Content-Encoding: deflate" (nothing here
// inflates such a body). Status -1 means no usable reply: a transport
// failure (no route, refused, reset, a certificate that does not verify,
// time-outs), an abort, a reply past the size cap, or a URL that is not
// http or https; result.failure says which, result.error has the reason.
// A reply with any status keeps its body; a failure has none.
//
// The rules it never bends: only http and https, no redirects followed,
// TLS peers and host names always verified (the system's certificates plus
// the file named by FLUVANE_CA_FILE), a connect time-out, a stall time-out
// (no byte of the reply for stallTimeout seconds), the
// reply capped at maxBody bytes as it arrives. The abort flag, when given,
// is looked at at least every pollInterval seconds while the exchange
// waits, so an abort ends the post within tens of milliseconds whether or
// not the server sends anything. Limits has the production values by
// default; tests shorten them.
//
// Threads: post blocks the calling thread (never the main thread in the
// application) and may run on several threads at once. The abort flag is
// written by any thread.
#ifndef PLATFORM_HTTPCLIENT_H
#define PLATFORM_HTTPCLIENT_H

#include <atomic>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct HttpLimits {
  double connectTimeout = 10.0;  // seconds
  double stallTimeout = 30.0;    // seconds without a byte of the reply
  std::size_t maxBody = 16 * 1024 * 1024;
  long pollMilliseconds = 36;  // longest wait between looks at the abort flag
};

struct HttpResult {
  enum class Failure { None, BadUrl, Aborted, TooLarge, Transport };
  int status = -1;
  std::optional<std::string> body;  // none unless a reply came
  bool deflated = false;            // "Content-Encoding: deflate" (value case-sensitive)
  Failure failure = Failure::None;
  std::string error;  // the reason of a failure
};

class HttpClient {
 public:
  static HttpResult post(const std::string& url, std::string_view body,
                         const std::atomic<bool>* abortFlag = nullptr,
                         const HttpLimits& limits = HttpLimits());
};

// Whether the URL begins with "http://" or "https://" (either case).
bool isHttpUrl(std::string_view url);

}  // namespace platform

#endif
