// Keeping recordings: every finished recording is written at once, as its
// packet, to Documents/recordings/<yyyy-MM-dd-HH-mm-ss-SSS> (atomically; a
// name taken already gets "-1", "-2", ...). A recording that could not be
// sent waits in Documents/outbox/ under the same stamp ("-manual" added for
// a manual recording); the outbox keeps at most kOutboxCap files, dropping
// (and logging) the oldest. drainOutbox sends them oldest first and stops at
// the first that does not go; a file that is not a valid packet is set aside
// as "<name>.bad" rather than retried forever.
//
// The application's upload path (handleRecorded) keeps the recording,
// uploads it (automatic: a location fix is needed) and, when that does not
// succeed, puts it in the outbox; after a successful upload the outbox is
// drained.
//
// A recording whose owner may still send it itself (the recording
// controller's manual recording, which the player can upload again) has one
// Held place: putHeld writes it to the outbox once, however often its
// uploads fail; while held, drains pass it over; takeBack removes it before
// the owner sends it again; release hands it to the drains when the owner is
// done with the recording. So one recording is one outbox entry and one
// upload.
//
// Threads: any thread; the outbox is changed under one lock, and only one
// drain runs at a time (a second one returns at once).
#ifndef RECORDER_FLUVANERECORDINGS_H
#define RECORDER_FLUVANERECORDINGS_H

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "recorder/FluvaneSnippet.h"

class FluvaneRecordings {
 public:
  static constexpr size_t kOutboxCap = 200;

  static std::string recordingsDir();
  static std::string outboxDir();

  // Writes the packet (prepared) to recordings/; the path, or none.
  static std::optional<std::string> keep(const FluvaneSnippet& snippet);
  // Writes it to the outbox, then trims the outbox to the cap.
  static std::optional<std::string> addToOutbox(const FluvaneSnippet& snippet);
  // Outbox file names, oldest first.
  static std::vector<std::string> outbox();

  // The outbox place of one recording (see above); any thread.
  class Held {
   public:
    Held() = default;
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    // The outbox file while one waits, else "".
    std::string path() const;

   private:
    friend class FluvaneRecordings;
    mutable std::mutex mutex_;
    std::string path_;
    bool released_ = false;
  };
  // Writes the snippet to the outbox unless held already has an entry there;
  // the entry is held (once held was released, it is the drains' at once).
  // The path, or none when it cannot be written.
  static std::optional<std::string> putHeld(const FluvaneSnippet& snippet, Held& held);
  // Removes held's entry from the outbox; false when none waited.
  static bool takeBack(Held& held);
  // Lets the drains send held's entry, and any it gets later.
  static void release(Held& held);

  using Sender = std::function<bool(const FluvaneSnippet& snippet)>;
  // Sends the outbox oldest first (see above); the number sent.
  static size_t drainOutbox(const Sender& send);

  // The upload of one snippet as the application makes it (the sender of
  // handleRecorded and drainOutbox): SnippetUploadHelper, synchronous.
  static bool uploadSnippet(const FluvaneSnippet& snippet);
  // Aborts the upload uploadSnippet is making, if any, and refuses later
  // ones until allowUploads (shutdown; a new engine run allows them again).
  static void abortUpload();
  static void allowUploads();

  // The upload thread's hand-over for a finished recording: keep, upload,
  // outbox on failure, drain after success. The recording's path when kept.
  static std::optional<std::string> handleRecorded(std::unique_ptr<FluvaneSnippet> snippet,
                                                   const Sender& send = uploadSnippet);
};

#endif
