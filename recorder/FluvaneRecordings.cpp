#include "recorder/FluvaneRecordings.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "recorder/FluvaneWebCalls.h"
#include "platform/Clock.h"
#include "platform/DateFormat.h"
#include "platform/Paths.h"
#include "vxu/VXLog.h"

using platform::Clock;
using platform::Paths;

namespace {

std::mutex g_outboxMutex;
std::atomic<bool> g_draining{false};
std::set<std::string> g_held;  // outbox paths the drains pass over; under g_outboxMutex

std::mutex g_uploadMutex;
SnippetUploadHelper* g_upload = nullptr;
bool g_uploadsStopped = false;  // under g_uploadMutex

constexpr const char* kManualSuffix = "-manual";

bool isManualName(const std::string& name) {
  return name.size() > 7 && name.compare(name.size() - 7, 7, kManualSuffix) == 0;
}

// A free name in dir for the current time, with suffix.
std::string freeName(const std::string& dir, const std::string& suffix) {
  std::string stamp = platform::formatDate(platform::kDateFileStamp, Clock::now());
  std::string name = stamp + suffix;
  for (int i = 1; Paths::exists(Paths::join(dir, name)); i++) {
    name = stamp + "-" + std::to_string(i) + suffix;
  }
  return name;
}

std::optional<std::string> writePacket(const std::string& dir, const FluvaneSnippet& snippet,
                                       const std::string& suffix) {
  std::string error;
  if (!Paths::mkdirs(dir, &error)) {
    VXLog::sharedVXLog().log("cannot make %s: %s", dir.c_str(), error.c_str());
    return std::nullopt;
  }
  std::string path = Paths::join(dir, freeName(dir, suffix));
  if (!Paths::writeAtomic(path, snippet.packet)) {
    VXLog::sharedVXLog().log("cannot write %s", path.c_str());
    return std::nullopt;
  }
  return path;
}

// Outbox names, oldest first (the stamps sort by time).
std::vector<std::string> outboxNames() {
  std::vector<std::string> names;
  for (std::string& name : Paths::listDir(FluvaneRecordings::outboxDir())) {
    if (name.empty() || name[0] == '.' || name.ends_with(".bad")) continue;
    if (name.find(".tmp") != std::string::npos) continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

std::string FluvaneRecordings::recordingsDir() {
  return Paths::join(Paths::documents(), "recordings");
}

std::string FluvaneRecordings::outboxDir() { return Paths::join(Paths::documents(), "outbox"); }

std::optional<std::string> FluvaneRecordings::keep(const FluvaneSnippet& snippet) {
  static std::mutex keepMutex;  // two recordings in the same millisecond
  std::lock_guard<std::mutex> lock(keepMutex);
  return writePacket(recordingsDir(), snippet, "");
}

namespace {

// Writes to the outbox and trims it; with g_outboxMutex held.
std::optional<std::string> addLocked(const FluvaneSnippet& snippet) {
  std::optional<std::string> path =
      writePacket(FluvaneRecordings::outboxDir(), snippet, snippet.manual ? kManualSuffix : "");
  if (!path) return path;
  std::vector<std::string> names = outboxNames();
  for (size_t i = 0; names.size() - i > FluvaneRecordings::kOutboxCap; i++) {
    VXLog::sharedVXLog().log("outbox full: dropping %s", names[i].c_str());
    std::string dropped = Paths::join(FluvaneRecordings::outboxDir(), names[i]);
    Paths::remove(dropped);
    g_held.erase(dropped);
  }
  return path;
}

}  // namespace

std::optional<std::string> FluvaneRecordings::addToOutbox(const FluvaneSnippet& snippet) {
  std::lock_guard<std::mutex> lock(g_outboxMutex);
  return addLocked(snippet);
}

std::string FluvaneRecordings::Held::path() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return path_;
}

std::optional<std::string> FluvaneRecordings::putHeld(const FluvaneSnippet& snippet, Held& held) {
  std::lock_guard<std::mutex> heldLock(held.mutex_);
  std::lock_guard<std::mutex> lock(g_outboxMutex);
  if (!held.path_.empty() && Paths::exists(held.path_)) return held.path_;
  std::optional<std::string> path = addLocked(snippet);
  if (held.released_) return path;
  held.path_ = path.value_or(std::string());
  if (path) g_held.insert(*path);
  return path;
}

bool FluvaneRecordings::takeBack(Held& held) {
  std::lock_guard<std::mutex> heldLock(held.mutex_);
  if (held.path_.empty()) return false;
  std::lock_guard<std::mutex> lock(g_outboxMutex);
  g_held.erase(held.path_);
  const bool removed = Paths::remove(held.path_);
  held.path_.clear();
  return removed;
}

void FluvaneRecordings::release(Held& held) {
  std::lock_guard<std::mutex> heldLock(held.mutex_);
  std::lock_guard<std::mutex> lock(g_outboxMutex);
  if (!held.path_.empty()) g_held.erase(held.path_);
  held.path_.clear();
  held.released_ = true;
}

std::vector<std::string> FluvaneRecordings::outbox() {
  std::lock_guard<std::mutex> lock(g_outboxMutex);
  return outboxNames();
}

size_t FluvaneRecordings::drainOutbox(const Sender& send) {
  if (g_draining.exchange(true)) return 0;
  size_t sent = 0;
  for (const std::string& name : outbox()) {
    std::string path = Paths::join(outboxDir(), name);
    {
      std::lock_guard<std::mutex> lock(g_outboxMutex);
      if (g_held.count(path)) continue;  // its owner may still send it
    }
    std::optional<std::string> packet = Paths::readFile(path);
    if (!packet) continue;  // gone meanwhile (the cap)
    std::optional<FluvaneSnippet> snippet = snippetFromPacket(*packet);
    if (!snippet) {
      VXLog::sharedVXLog().log("outbox: %s is not a snippet packet; set aside", name.c_str());
      std::lock_guard<std::mutex> lock(g_outboxMutex);
      Paths::move(path, path + ".bad");
      continue;
    }
    snippet->manual = isManualName(name);
    if (!send(*snippet)) break;
    {
      std::lock_guard<std::mutex> lock(g_outboxMutex);
      Paths::remove(path);
    }
    sent++;
  }
  g_draining = false;
  return sent;
}

bool FluvaneRecordings::uploadSnippet(const FluvaneSnippet& snippet) {
  SnippetUploadHelper helper;
  if (!helper.prepareSnippetUpload(snippet, !snippet.manual, snippet.manual)) return false;
  {
    std::lock_guard<std::mutex> lock(g_uploadMutex);
    if (g_uploadsStopped) return false;
    g_upload = &helper;
  }
  bool ok = helper.uploadNow();
  std::lock_guard<std::mutex> lock(g_uploadMutex);
  g_upload = nullptr;
  return ok;
}

void FluvaneRecordings::abortUpload() {
  std::lock_guard<std::mutex> lock(g_uploadMutex);
  g_uploadsStopped = true;
  if (g_upload) g_upload->abort();
}

void FluvaneRecordings::allowUploads() {
  std::lock_guard<std::mutex> lock(g_uploadMutex);
  g_uploadsStopped = false;
}

std::optional<std::string> FluvaneRecordings::handleRecorded(
    std::unique_ptr<FluvaneSnippet> snippet, const Sender& send) {
  if (!snippet) return std::nullopt;
  if (snippet->packet.empty() && !prepare(*snippet)) return std::nullopt;
  std::optional<std::string> kept = keep(*snippet);
  if (!send(*snippet)) {
    addToOutbox(*snippet);
    return kept;
  }
  drainOutbox(send);
  return kept;
}
