// The instrument's six endpoints, modelled in memory on a ServiceStub: what
// the real service is expected to do, as far as the instrument can tell.
//
//  - /fluvane/uploadsnippet/: checks the digest (SHA-1 of latitude,
//    longitude, the secret, device, Base64 snippet, name and mode, as
//    received after unescaping) with its own SHA-1, decodes the packet
//    (16 + 8n bytes), stores it with an id from 1 up; replies "Your melody
//    #<id>\n<link>" (subject, then body). A bad digest gets 403, a bad
//    packet 400.
//  - /fluvane/getsnippet/: the stored snippets in turn,
//    "<id>:<lat>:<long>:<name>:<base64>"; none stored: 404.
//  - /fluvane/getpreference1.2/: the policy text (setPolicy).
//  - /fluvane/fluvanemapcolor/: "<count>\n<palette>\n" and one
//    "<lat>:<long>:<id>:<index>" line per stored snippet.
//  - /fluvane/vote/: records (sid, vote), replies "1".
//  - /fluvane/fluvanestats/: checks the signature (device, secret and the
//    values by key order), records the fields, replies the next stats id.
// Forms are read with %XX unescaped and "+" kept as it is. Replies set with
// ServiceStub::on() win over the model, so a test can still make any of
// them fail, stall or drop.
//
// Threads: the stub's threads call the model; every member may be called
// from any thread.
#ifndef TESTS_SUPPORT_FLUVANE_SERVICE_H
#define TESTS_SUPPORT_FLUVANE_SERVICE_H

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "service_stub.h"

namespace stub {

using Form = std::map<std::string, std::string>;

// The form of a body, unescaped; repeated keys keep the last value.
Form parseForm(const std::string& body);
std::string percentDecode(const std::string& text);
std::string sha1HexOf(const std::string& data);
std::string base64Of(const std::string& data);
bool base64From(const std::string& text, std::string* data);

struct StoredSnippet {
  int id = 0;
  std::string latitude, longitude;  // as received
  std::string name;
  std::string packet;
  std::string mode;
  std::string device;
};

class FluvaneService {
 public:
  FluvaneService(ServiceStub& stub, std::string secret);
  FluvaneService(const FluvaneService&) = delete;
  FluvaneService& operator=(const FluvaneService&) = delete;

  void setPolicy(std::string text);
  // Puts a snippet in store (seeding), returns its id.
  int seed(const std::string& latitude, const std::string& longitude, const std::string& name,
           const std::string& packet);

  std::vector<StoredSnippet> snippets() const;
  std::vector<std::pair<std::string, std::string>> votes() const;
  std::vector<Form> stats() const;
  int refusedDigests() const;

 private:
  Reply upload(const Request& request);
  Reply getSnippet(const Request& request);
  Reply map(const Request& request);
  Reply vote(const Request& request);
  Reply statsUpload(const Request& request);

  std::string secret_;
  mutable std::mutex mutex_;
  std::string policy_ = "300:8:30:-1:-1:300";
  std::vector<StoredSnippet> snippets_;
  std::vector<std::pair<std::string, std::string>> votes_;
  std::vector<Form> stats_;
  size_t nextToServe_ = 0;
  int refused_ = 0;
};

}  // namespace stub

#endif
