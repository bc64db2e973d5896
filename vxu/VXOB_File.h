// Embedded files: scripts the program carries in its own data, written out
// to temporary files when the engine needs them.
//
// Each embedded file is a VXOB_File object defined by a source that the
// build generates from the file (see vxob_embed_files in CMakeLists.txt):
// its bytes scrambled with a key (XOR with the key repeated), registered
// under the file's name when the program starts. write_to_tmpfile() writes
// the unscrambled bytes to a new private file "temp.XXXXXX" in
// Documents/tmp (made with mode 0700 when missing) and answers its path;
// the bytes are unscrambled once, in place, and a second call answers the
// same path without writing again. VXOB_cleanUpTempfiles() deletes every
// entry of Documents/tmp and every "temp." entry of Documents, and forgets
// the written paths, so a later write_to_tmpfile() writes a new file.
//
// The registry is a function-local table, built on first use, so objects
// of other files' static initialisers may register in any order. A later
// registration of a name replaces the earlier one; a destroyed object
// leaves the registry. A key of length 0 scrambles nothing. Paths have no
// length limit.
//
// Messages (application log): "tmp dir not found, creating", "failed to
// create tmp dir", "failed to create tmp file", "purging tmp files" and
// "error: unable to purge tmp file '<path>' (<reason>)". The path is
// answered even when writing failed; whoever opens it then reports that.
//
// Threads: registration runs during static initialisation; write_to_tmpfile
// (engine thread) and VXOB_cleanUpTempfiles (main thread) may come from any
// thread (the registry and each object take a lock).
#ifndef VXU_VXOB_FILE_H
#define VXU_VXOB_FILE_H

#include <mutex>
#include <string>

class VXOB_File {
 public:
  VXOB_File(const char* name, unsigned char* data, unsigned long size, const unsigned char* key,
            unsigned long keyLength);
  ~VXOB_File();
  VXOB_File(const VXOB_File&) = delete;
  VXOB_File& operator=(const VXOB_File&) = delete;

  // The registered object of that name, or null.
  static VXOB_File* get_file_with_filename(const char* name);

  // The path of a temporary file holding the unscrambled bytes (see above).
  std::string write_to_tmpfile();

  // data[i] ^= key[i mod keyLength], in place; nothing when keyLength is 0.
  static void xor_crypt(unsigned char* data, unsigned long length, const unsigned char* key,
                        unsigned long keyLength);

  const std::string& name() const { return name_; }
  unsigned long size() const { return size_; }
  // The path written, or "" when none is (any more).
  std::string path() const;
  // The bytes as held now (scrambled until the first write), and whether
  // they were unscrambled.
  const unsigned char* data() const { return data_; }
  bool unscrambled() const;

 private:
  friend void VXOB_cleanUpTempfiles();
  void forgetPath();

  const std::string name_;
  unsigned char* const data_;
  const unsigned long size_;
  const unsigned char* const key_;
  const unsigned long keyLength_;
  mutable std::mutex mutex_;
  bool unscrambled_ = false;
  int fd_ = -1;
  std::string path_;
};

// The temporary files' directory: Documents/tmp.
std::string VXOB_tmpDirectory();
void VXOB_cleanUpTempfiles();

#endif
