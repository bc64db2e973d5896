// One running instance per home folder.
//
// Two copies of a program on the same files would both play and both write
// them (the second launch count lost, logs rotated under the first, the
// recordings' queue sent twice). acquire() takes an exclusive lock on a file
// (created when missing, mode 0600) with flock on a descriptor the object
// keeps open: the lock lasts as long as the object, and the system drops it
// when the process ends in any way, a crash or a kill included, so a stale
// lock file never keeps the next start out. The file holds the owner's
// process id, for a person to read; the lock itself is what counts.
//
// Threads: any; an object belongs to one thread at a time.
#ifndef PLATFORM_INSTANCELOCK_H
#define PLATFORM_INSTANCELOCK_H

#include <string>

namespace platform {

class InstanceLock {
 public:
  enum class Result { Acquired, Taken, Failed };

  InstanceLock() = default;
  ~InstanceLock();
  InstanceLock(InstanceLock&& other) noexcept;
  InstanceLock& operator=(InstanceLock&& other) noexcept;
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

  // Takes the lock on path: Acquired (this object holds it), Taken (another
  // holder has it; *owner gets the process id the file names, when it can be
  // read) or Failed (the file cannot be opened or locked; *error says why).
  Result acquire(const std::string& path, std::string* owner = nullptr,
                 std::string* error = nullptr);
  bool held() const { return fd_ >= 0; }
  // Lets go of the lock (the file stays).
  void release();

 private:
  int fd_ = -1;
};

}  // namespace platform

#endif
