// Sound-file output of the toolkit: WvOut records a stream of frames into a
// RAW (16-bit big-endian mono), WAV, SND, AIFF/AIFC or MAT version 5 file.
// It buffers kBufferFrames frames, converts them to the file's sample
// format, writes the header when the file is opened and puts the final
// sizes into it when the file is closed (or the writer destroyed).
//
// Conversion. Integer formats saturate: a sample beyond +-1 stores the full
// scale of its sign and NaN stores 0 (16- and 32-bit round half away from
// zero; 8-bit is signed s x 127 rounded, except WAV's unsigned 128 + s x 127
// cut towards zero). Float formats store the sample as it is.
//
// Limits. A file name with its extension must fit kNameBytes (with the
// final zero); longer names are refused, never cut. WAV and AIFF hold at
// most 65535 channels, and no writer takes more. The header's 32-bit size
// fields bound what a file can hold: a writer stops at the last whole frame
// that fits, with one message, and its header stays true. Files are
// created only as regular files (a FIFO would block the audio thread).
//
// Errors: bad arguments raise kind FUNCTION_ARGUMENT, a file that cannot be
// created or written kind FILE_ERROR, both after printing (Syn::handleError).
// After a failed openFile no file is open and ticks write nothing.
//
// Everything runs on the audio thread (file writes included), and at
// shutdown on the engine's thread (closeFile).
#ifndef CHIP_SYN_WVOUT_H
#define CHIP_SYN_WVOUT_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "chip/syn/syn.h"

class WvOut : public Syn {
 public:
  // File types.
  enum { RAW = 1, WAV = 2, SND = 3, AIF = 4, MAT = 5 };
  // Sample formats (as WvIn's).
  enum { SINT8 = 1, SINT16 = 2, SINT32 = 8, FLOAT32 = 16, FLOAT64 = 32 };

  static constexpr unsigned kBufferFrames = 1024;
  static constexpr unsigned kFlushFrames = 8192;
  static constexpr size_t kNameBytes = 128;
  static constexpr unsigned kMaxChannels = 65535;

  WvOut();
  ~WvOut() override;
  WvOut(const WvOut&) = delete;
  WvOut& operator=(const WvOut&) = delete;

  // Closes any open file, then creates `name` (its type's extension added
  // when the name does not contain it) and writes the header.
  void openFile(const char* name, unsigned int channels, int type, int format);
  // Writes what is buffered, finishes the header and closes the file;
  // the name becomes "" in every case.
  void closeFile();
  bool isOpen() const { return file != nullptr; }

  // One sample into every channel of the next frame.
  void tick(float sample);
  void tick(const float* vector, unsigned int size);
  // count interleaved frames of `channels` samples.
  void tickFrame(const float* frames, unsigned int count);
  // Converts and writes the first `frames` buffered frames.
  virtual void writeData(unsigned long frames);

  // Lowers the largest data size in bytes the open file may reach (it never
  // rises above what the header can hold); for testing the limit without
  // writing gigabytes.
  void setDataLimit(uint64_t bytes);
  const std::string& getFilename() const { return filename; }

  char message[256];
  FILE* file = nullptr;
  std::vector<float> data;  // kBufferFrames x channels
  int fileType = 0;
  int format = 0;
  bool byteswap = false;
  unsigned int channels = 0;
  unsigned int bufferedFrames = 0;
  uint64_t totalFrames = 0;  // frames written to the file
  std::string filename;
  unsigned int record = 1;
  std::string autoPrefix;
  unsigned int unflushedFrames = 0;

 private:
  [[noreturn]] void fail(SynError::TYPE kind);
  bool create(const char* path, const char* kind);
  bool writeHeader(const std::vector<unsigned char>& header, const char* kind);
  bool openRaw();
  bool openWav();
  bool openSnd();
  bool openAif();
  bool openMat();
  // Puts the final sizes into the header; false on a failed write.
  bool finishHeader();
  bool patch32(long offset, uint32_t value, bool big);

  char name_[kNameBytes];
  uint64_t dataLimit_ = 0;  // the most data bytes the header can hold
  bool limitReported_ = false;
  uint32_t matElement_ = 0;  // MAT: the matrix element's size at creation
  std::vector<unsigned char> bytes_;
};

#endif
