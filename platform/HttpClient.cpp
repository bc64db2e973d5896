#include "platform/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <mutex>

namespace platform {

namespace {

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
    text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
    text.remove_suffix(1);
  return text;
}

using SteadyClock = std::chrono::steady_clock;

struct Exchange {
  SteadyClock::time_point lastByte = SteadyClock::now();
  std::string body;
  std::size_t maxBody = 0;
  bool tooLarge = false;
  std::string contentEncoding;
};

size_t writeBody(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  size_t bytes = size * count;
  exchange->lastByte = SteadyClock::now();
  if (exchange->body.size() + bytes > exchange->maxBody) {
    exchange->tooLarge = true;
    return 0;  // ends the transfer with a write error
  }
  exchange->body.append(data, bytes);
  return bytes;
}

size_t readHeader(char* data, size_t size, size_t count, void* user) {
  auto* exchange = static_cast<Exchange*>(user);
  exchange->lastByte = SteadyClock::now();
  std::string_view line(data, size * count);
  if (startsWithNoCase(line, "HTTP/")) {
    exchange->contentEncoding.clear();  // a new response's headers begin
  } else if (startsWithNoCase(line, "content-encoding:")) {
    exchange->contentEncoding = std::string(trim(line.substr(17)));
  }
  return size * count;
}

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

HttpResult failure(HttpResult::Failure kind, std::string reason) {
  HttpResult result;
  result.failure = kind;
  result.error = std::move(reason);
  return result;
}

}  // namespace

bool isHttpUrl(std::string_view url) {
  return startsWithNoCase(url, "http://") || startsWithNoCase(url, "https://");
}

HttpResult HttpClient::post(const std::string& url, std::string_view body,
                            const std::atomic<bool>* abortFlag, const HttpLimits& limits) {
  if (!isHttpUrl(url)) return failure(HttpResult::Failure::BadUrl, "not an http or https URL");
  initCurlOnce();

  std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
  std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
  if (!easy || !multi) return failure(HttpResult::Failure::Transport, "cannot create a transfer");

  Exchange exchange;
  exchange.maxBody = limits.maxBody;
  char errorText[CURL_ERROR_SIZE] = "";

  // Only Host and Content-Length go out: the headers libcurl would add on
  // its own are removed by naming them without a value.
  curl_slist* headers = nullptr;
  for (const char* header : {"Accept:", "Content-Type:", "Expect:"}) {
    headers = curl_slist_append(headers, header);
  }
  std::unique_ptr<curl_slist, ListDeleter> headerList(headers);

  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_POST, 1L);
  curl_easy_setopt(e, CURLOPT_POSTFIELDS, body.empty() ? "" : body.data());
  curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headerList.get());
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
  const char* caFile = std::getenv("FLUVANE_CA_FILE");
  if (caFile && *caFile) {
    // The extra certificate, and the system's certificates beside it.
    curl_easy_setopt(e, CURLOPT_CAINFO, caFile);
    curl_easy_setopt(e, CURLOPT_CAPATH, "/etc/ssl/certs");
  }
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                   static_cast<long>(std::max(0.001, limits.connectTimeout) * 1000.0));
  // libcurl's own stall check (whole seconds, at 1 byte a second) backs up
  // the finer one of the loop below.
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
  curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME,
                   static_cast<long>(std::max(1.0, std::ceil(limits.stallTimeout))));
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, writeBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &exchange);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, readHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &exchange);
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);

  if (curl_multi_add_handle(multi.get(), e) != CURLM_OK) {
    return failure(HttpResult::Failure::Transport, "cannot start the transfer");
  }
  bool aborted = false;
  bool stalled = false;
  const auto stallTicks = std::chrono::duration_cast<SteadyClock::duration>(
      std::chrono::duration<double>(std::max(0.0, limits.stallTimeout)));
  exchange.lastByte = SteadyClock::now();
  int running = 1;
  for (;;) {
    if (abortFlag && abortFlag->load()) {
      aborted = true;
      break;
    }
    if (SteadyClock::now() - exchange.lastByte > stallTicks) {
      stalled = true;
      break;
    }
    if (curl_multi_perform(multi.get(), &running) != CURLM_OK || running == 0) break;
    curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(limits.pollMilliseconds), nullptr);
  }

  CURLcode code = CURLE_OK;
  bool done = false;
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == e) {
      code = message->data.result;
      done = true;
    }
  }
  curl_multi_remove_handle(multi.get(), e);

  if (aborted) return failure(HttpResult::Failure::Aborted, "aborted");
  if (stalled) return failure(HttpResult::Failure::Transport, "the server stalled");
  if (exchange.tooLarge) {
    return failure(HttpResult::Failure::TooLarge,
                   "reply larger than " + std::to_string(limits.maxBody) + " bytes");
  }
  if (!done) return failure(HttpResult::Failure::Transport, "transfer did not complete");
  if (code != CURLE_OK) {
    std::string reason = errorText[0] ? errorText : curl_easy_strerror(code);
    return failure(HttpResult::Failure::Transport, reason);
  }
  long status = 0;
  curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
  if (status <= 0) return failure(HttpResult::Failure::Transport, "no response header");

  HttpResult result;
  result.status = static_cast<int>(status);
  result.body = std::move(exchange.body);
  result.deflated = exchange.contentEncoding == "deflate";
  return result;
}

}  // namespace platform
