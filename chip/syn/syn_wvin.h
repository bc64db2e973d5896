// Sound-file input of the toolkit: WvIn reads a sound into memory (or, for
// a source longer than kChunkThreshold frames, a window of kChunkFrames
// frames at a time) and plays it at an adjustable rate with linear
// interpolation; WaveLoop plays the same data as an endless table
// oscillator. Sources: WAV (little-endian integer 8 (unsigned), 16, 32 and
// float 32, 64), SND (big-endian, encodings 2, 3, 5, 6, 7), AIFF (integer
// 8, 16, 32) and AIFC (fl32/FL32, fl64/FL64; NONE/twos as integers), MAT
// version 5 (one real matrix, one row per channel, of int8, int16, int32,
// single or double data found by the data element's own tag), headerless
// 16-bit big-endian mono at 22050 Hz, and the built-in "special:" tables
// (chip/syn/syn_wave_tables.h, and "special:sinewave" computed at open).
//
// Samples are kept unscaled in single precision (a 16-bit sample of 1000
// is 1000.0f; 8-bit samples are signed, WAV's unsigned bytes less 128);
// outputScale() is the factor that brings the source's full scale to 1.
// The read position `time` is a double and every file offset 64-bit, so a
// source of any length plays to its end.
//
// Hostile files. Every read and seek of a header is checked, chunk sizes
// are 64-bit sums, odd chunks skip their pad byte, and a data size past
// the end of the file (or 0xFFFFFFFF, "unknown") is cut to the whole
// frames present with one warning. Refused, with the format's message and
// kind FILE_ERROR: 0 channels, more than kMaxChannels, a sample rate below
// 1 Hz or above kMaxRate, a WAV fmt chunk under 16 bytes, a buffer of more
// than kMaxSamples floats, and anything that is not a regular file (a FIFO
// would block the audio thread). A reader that failed to open is empty:
// not loaded, finished, no file open, and it ticks 0.
//
// Playback. WvIn::tickFrame runs from `time` by `rate` frames per sample
// and finishes when it leaves the data, holding its last frame; WaveLoop
// wraps time (and its phase offset) into [0, fileFrames) with fmod, so no
// value loops or indexes out of the data. Setters ignore values that are
// not finite numbers.
//
// Everything runs on the audio thread; a chunked source reads from disk in
// its ticks.
#ifndef CHIP_SYN_WVIN_H
#define CHIP_SYN_WVIN_H

#include <cstdint>
#include <string>
#include <vector>

#include "chip/syn/syn.h"

class WvIn : public Syn {
 public:
  // Sample formats (the `format` codes).
  enum { SINT8 = 1, SINT16 = 2, SINT32 = 8, FLOAT32 = 16, FLOAT64 = 32 };

  static constexpr uint64_t kChunkFrames = 1024;
  // Sources of more frames than this are read in windows.
  static constexpr uint64_t kChunkThreshold = 5000000;
  // The most floats the sample buffer may hold (256 MiB).
  static constexpr uint64_t kMaxSamples = uint64_t(1) << 26;
  static constexpr uint64_t kMaxChannels = 65535;
  static constexpr double kMaxRate = 10000000.0;

  // Nothing loaded.
  WvIn();
  // openFile(name, raw, doNormalize, true).
  WvIn(const char* name, bool raw = false, bool doNormalize = true, bool generate = true);
  ~WvIn() override;
  WvIn(const WvIn&) = delete;
  WvIn& operator=(const WvIn&) = delete;

  // Opens a source (see the header comment); on failure prints the message
  // and throws a SynError (kind FILE_NOT_FOUND or FILE_ERROR), leaving the
  // reader empty. With generate, a name that contains "special:" names a
  // built-in table. doNormalize scales the data to a peak of 1 (a chunked
  // source gets the gain of its format's full scale instead).
  virtual void openFile(const char* name, bool raw = false, bool doNormalize = true,
                        bool generate = true);
  // Closes the file and empties the reader.
  void closeFile();

  // Moves the read position by t frames (held to [0, fileFrames]; reaching
  // the end finishes). Non-finite t is ignored.
  virtual void addTime(double t);
  // The mean of the last frame's channels (0 when empty).
  float lastOut() const;
  float tick();
  float* tick(float* vector, unsigned int size);
  const float* lastFrame() const { return lastOutput.data(); }
  // The next frame (the last one again once finished or when empty).
  virtual const float* tickFrame();
  float* tickFrame(float* frames, unsigned int count);
  // Moves the window to hold frame `index` and reads it (kind FILE_ERROR
  // on a failed read, which also empties the reader).
  virtual void readData(uint64_t index);

  // The language's rate: non-finite ignored; a negative rate from time 0
  // starts from the end; interpolation follows the fractional part.
  void setRate(double value);
  // Back to the start: time 0, last frame zeroed, not finished.
  void reset();
  // The factor that scales samples of this source to a full scale of 1:
  // 1/32767 for 16-bit sources and the built-in tables, 1/127 for 8-bit,
  // 1/2147483647 for 32-bit integers, 1 for floats.
  float outputScale() const;

  // The name given to the last openFile.
  const std::string& getPath() const { return path; }
  uint64_t getSize() const { return fileFrames; }
  unsigned int getChannels() const { return channels; }
  bool isLoaded() const { return loaded; }
  bool isFinished() const { return finished; }
  double getTime() const { return time; }

  char message[256];
  std::string path;
  int fd = -1;              // open while reading a header or a chunked source
  std::vector<float> data;  // (bufferFrames + 1) x channels, interleaved
  std::vector<float> lastOutput;
  bool chunking = false;
  bool finished = true;
  bool interpolate = false;
  bool byteswap = false;
  bool unsignedBytes = false;  // 8-bit samples are WAV's unsigned bytes
  bool builtin = false;        // the source is a built-in table
  uint64_t fileFrames = 0;
  uint64_t bufferFrames = 0;
  uint64_t dataOffset = 0;
  unsigned int channels = 0;
  uint64_t chunkStart = 0;
  int format = 0;
  float fileRate = 0.0f;
  float gain = 1.0f;
  double time = 0.0;
  float rate = 1.0f;
  bool loaded = false;

 protected:
  // Prints and throws kind after emptying the reader.
  [[noreturn]] void fail(const char* text, SynError::TYPE kind);
  // Fills data with frames [first, first + count) converted from the file
  // at data frame `at`; false on a failed read.
  bool readFrames(uint64_t first, uint64_t count, uint64_t at);
  // The window's frame count and position for frame index (chunked).
  void placeWindow(uint64_t index);
  // Wraps x into [0, fileFrames) (0 for values that do not wrap).
  double wrap(double x) const;

 private:
  void empty();
  void openTable(const char* name);
  void openSoundFile(const char* name, bool raw);
  bool readHeaderRaw(uint64_t size);
  bool readHeaderWav(uint64_t size);
  bool readHeaderSnd(uint64_t size);
  bool readHeaderAif(uint64_t size);
  bool readHeaderMat(uint64_t size);
  // Shared checks of every header: channels, rate, and the bytes of sample
  // data the header declares against those available (cut to them, with a
  // warning); fills fileFrames. false with `bad` in message.
  bool finishHeader(uint64_t declaredBytes, uint64_t availableBytes, const char* bad);
  static uint64_t bytesAfter(uint64_t offset, uint64_t fileSize);
  bool readAt(uint64_t offset, void* buffer, size_t bytes);

  std::vector<unsigned char> scratch;  // raw bytes of one read
};

class WaveLoop : public WvIn {
 public:
  WaveLoop();
  // Opens name as WvIn's constructor does (generate always true).
  WaveLoop(const char* name, bool raw = false, bool doNormalize = true);
  ~WaveLoop() override = default;

  // Wraps like the loop.
  void addTime(double t) override;
  // Always interpolates; never finishes.
  const float* tickFrame() override;
  using WvIn::tickFrame;
  // At the end of the source the guard frame is the source's first frame,
  // so interpolation wraps to the start.
  void readData(uint64_t index) override;

  // One pass through the table per period: rate = fileFrames f / srate.
  // Non-finite f is ignored.
  void setFrequency(double f);
  // Moves time by value periods (wrapped); the position in periods after.
  double addPhase(double value);
  // A read offset of value periods (it replaces the old one).
  void addPhaseOffset(double value);
  double getPhase() const { return fileFrames ? time / double(fileFrames) : 0.0; }

  float phaseOffset = 0.0f;  // frames
  float frequency = 0.0f;    // Hz, as last set
};

#endif
