// Sound-file output: the header writers, the sample conversion and the
// size fix-up at close.
#include "chip/syn/syn_wvout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

unsigned width_of(int format) {
  switch (format) {
    case WvOut::SINT8:
      return 1;
    case WvOut::SINT16:
      return 2;
    case WvOut::SINT32:
    case WvOut::FLOAT32:
      return 4;
    case WvOut::FLOAT64:
      return 8;
    default:
      return 0;
  }
}

void put16(std::vector<unsigned char>& b, uint32_t v, bool big) {
  if (big) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
  } else {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  }
}

void put32(std::vector<unsigned char>& b, uint32_t v, bool big) {
  if (big) {
    put16(b, v >> 16, true);
    put16(b, v & 0xFFFF, true);
  } else {
    put16(b, v & 0xFFFF, false);
    put16(b, v >> 16, false);
  }
}

void put_text(std::vector<unsigned char>& b, const char* text, size_t bytes) {
  const size_t n = std::min(std::strlen(text), bytes);
  b.insert(b.end(), text, text + n);
  b.insert(b.end(), bytes - n, 0);
}

// An integer sample of full scale `scale` from s: saturated at +-1, NaN 0,
// rounded half away from zero.
int64_t saturate(float s, double scale) {
  if (!(s == s)) return 0;
  const double v = std::max(-1.0, std::min(1.0, double(s))) * scale;
  return static_cast<int64_t>(std::round(v));
}

const char* type_name(int type) {
  switch (type) {
    case WvOut::RAW:
      return "RAW";
    case WvOut::WAV:
      return "WAV";
    case WvOut::SND:
      return "SND";
    case WvOut::AIF:
      return "AIF";
    default:
      return "MAT";
  }
}

const char* extension_of(int type) {
  switch (type) {
    case WvOut::RAW:
      return ".raw";
    case WvOut::WAV:
      return ".wav";
    case WvOut::SND:
      return ".snd";
    case WvOut::AIF:
      return ".aif";
    default:
      return ".mat";
  }
}

}  // namespace

WvOut::WvOut() {
  message[0] = '\0';
  name_[0] = '\0';
}

WvOut::~WvOut() {
  try {
    closeFile();
  } catch (const SynError&) {
    // Already printed; the file is closed.
  }
}

void WvOut::fail(SynError::TYPE kind) {
  if (file) {
    std::fclose(file);
    file = nullptr;
  }
  filename.clear();
  totalFrames = 0;
  bufferedFrames = 0;
  Syn::handleError(message, kind);
  throw SynError(message, kind);  // not reached: handleError throws for these kinds
}

void WvOut::openFile(const char* name, unsigned int nChannels, int type, int nFormat) {
  closeFile();
  if (!name) name = "";
  filename = name;
  if (nChannels < 1) {
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_WVOUT "the channels argument must be greater than zero!");
    fail(SynError::FUNCTION_ARGUMENT);
  }
  if (width_of(nFormat) == 0) {
    std::snprintf(message, sizeof message, SYN_PREFIX_WVOUT "Unknown data type specified (%ld).",
                  long(nFormat));
    fail(SynError::FUNCTION_ARGUMENT);
  }
  if (type < RAW || type > MAT) {
    std::snprintf(message, sizeof message, SYN_PREFIX_WVOUT "Unknown file type specified (%ld).",
                  long(type));
    fail(SynError::FUNCTION_ARGUMENT);
  }
  if (type == RAW && nChannels > 1) {
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_WVOUT
                  "SYN RAW files are, by definition, always monaural (channels = "
                  "%d not supported)!",
                  int(nChannels));
    fail(SynError::FUNCTION_ARGUMENT);
  }
  if (nChannels > kMaxChannels) {
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_WVOUT
                  "%s files hold at most 65535 channels (channels = %u not "
                  "supported)!",
                  type_name(type), nChannels);
    fail(SynError::FUNCTION_ARGUMENT);
  }
  const char* extension = extension_of(type);
  const size_t length = std::strlen(name) + (std::strstr(name, extension) ? 0 : 4);
  if (length + 1 > kNameBytes) {
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_WVOUT
                  "File name too long for a %s file (%zu characters, at most "
                  "%zu): %s",
                  type_name(type), length, kNameBytes - 1, name);
    fail(SynError::FUNCTION_ARGUMENT);
  }
  std::snprintf(name_, sizeof name_, "%s%s", name, std::strstr(name, extension) ? "" : extension);

  fileType = type;
  channels = nChannels;
  format = nFormat;
  limitReported_ = false;
  bool ok = false;
  switch (type) {
    case RAW:
      ok = openRaw();
      break;
    case WAV:
      ok = openWav();
      break;
    case SND:
      ok = openSnd();
      break;
    case AIF:
      ok = openAif();
      break;
    case MAT:
      ok = openMat();
      break;
  }
  if (!ok) fail(SynError::FILE_ERROR);
  data.assign(size_t(channels) * kBufferFrames, 0.0f);
  bufferedFrames = 0;
  totalFrames = 0;
  unflushedFrames = 0;
}

bool WvOut::create(const char* path, const char* kind) {
  // Created without blocking and only as a regular file.
  int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0644);
  struct stat info;
  if (fd >= 0 && (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
                  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)) {
    ::close(fd);
    fd = -1;
  }
  if (fd >= 0) file = fdopen(fd, "wb");
  if (!file) {
    if (fd >= 0) ::close(fd);
    std::snprintf(message, sizeof message, SYN_PREFIX_WVOUT "Could not create %s file: %s", kind,
                  path);
    return false;
  }
  return true;
}

bool WvOut::writeHeader(const std::vector<unsigned char>& header, const char* kind) {
  // Flushed at once: the file holds a valid (empty) sound from its start.
  if (std::fwrite(header.data(), 1, header.size(), file) != header.size() ||
      std::fflush(file) != 0) {
    std::snprintf(message, sizeof message, SYN_PREFIX_WVOUT "Could not write %s header for file %s",
                  kind, name_);
    return false;
  }
  return true;
}

bool WvOut::openRaw() {
  if (format != SINT16) {
    format = SINT16;
    char warning[256];
    std::snprintf(warning, sizeof warning,
                  SYN_PREFIX_WVOUT "Using 16-bit signed integer data format for file %s.", name_);
    Syn::handleError(warning, SynError::WARNING);
  }
  byteswap = little_endian;
  dataLimit_ = UINT64_MAX;
  return create(name_, "RAW");
}

bool WvOut::openWav() {
  if (!create(name_, "WAV")) return false;
  const unsigned bits = width_of(format) * 8;
  const uint32_t rate = static_cast<uint32_t>(Syn::srate);
  const uint32_t align = channels * bits / 8;
  std::vector<unsigned char> h;
  put_text(h, "RIFF", 4);
  put32(h, 36, false);
  put_text(h, "WAVE", 4);
  put_text(h, "fmt ", 4);
  put32(h, 16, false);
  put16(h, format == FLOAT32 || format == FLOAT64 ? 3 : 1, false);
  put16(h, channels, false);
  put32(h, rate, false);
  put32(h, rate * align, false);
  put16(h, align, false);
  put16(h, bits, false);
  put_text(h, "data", 4);
  put32(h, 0, false);
  byteswap = !little_endian;
  dataLimit_ = 0xFFFFFFFFull - 36;
  return writeHeader(h, "WAV");
}

bool WvOut::openSnd() {
  if (!create(name_, "SND")) return false;
  uint32_t encoding = 3;
  switch (format) {
    case SINT8:
      encoding = 2;
      break;
    case SINT16:
      encoding = 3;
      break;
    case SINT32:
      encoding = 5;
      break;
    case FLOAT32:
      encoding = 6;
      break;
    case FLOAT64:
      encoding = 7;
      break;
  }
  std::vector<unsigned char> h;
  put_text(h, ".snd", 4);
  put32(h, 40, true);
  put32(h, 0, true);
  put32(h, encoding, true);
  put32(h, static_cast<uint32_t>(Syn::srate), true);
  put32(h, channels, true);
  put_text(h, "Created by SYN", 16);
  byteswap = little_endian;
  dataLimit_ = 0xFFFFFFFEull;  // 0xFFFFFFFF would mean "size unknown"
  return writeHeader(h, "SND");
}

bool WvOut::openAif() {
  if (!create(name_, "AIF")) return false;
  const bool aifc = format == FLOAT32 || format == FLOAT64;
  const unsigned bits = width_of(format) * 8;
  std::vector<unsigned char> h;
  put_text(h, "FORM", 4);
  put32(h, aifc ? 52 : 46, true);
  put_text(h, aifc ? "AIFC" : "AIFF", 4);
  put_text(h, "COMM", 4);
  put32(h, aifc ? 24 : 18, true);
  put16(h, channels, true);
  put32(h, 0, true);
  put16(h, bits, true);
  // The rate as an 80-bit extended number: exponent 16383 + the position of
  // its highest bit, the integer shifted up to the top of the mantissa.
  const uint32_t rate = static_cast<uint32_t>(Syn::srate);
  int top = 31;
  while (top > 0 && !(rate >> top)) top--;
  const uint64_t mantissa = rate ? uint64_t(rate) << (63 - top) : 0;
  put16(h, rate ? uint32_t(16383 + top) : 0, true);
  put32(h, uint32_t(mantissa >> 32), true);
  put32(h, uint32_t(mantissa), true);
  if (aifc) {
    put_text(h, format == FLOAT32 ? "fl32" : "fl64", 4);
    put16(h, 0, true);
  }
  put_text(h, "SSND", 4);
  put32(h, 8, true);
  put32(h, 0, true);
  put32(h, 0, true);
  byteswap = little_endian;
  dataLimit_ = 0xFFFFFFFFull - (aifc ? 52 : 46);
  return writeHeader(h, "AIF");
}

bool WvOut::openMat() {
  if (format != FLOAT64) {
    format = FLOAT64;
    char warning[256];
    std::snprintf(warning, sizeof warning,
                  SYN_PREFIX_WVOUT "Using 64-bit floating-point data format for file %s", name_);
    Syn::handleError(warning, SynError::WARNING);
  }
  if (!create(name_, "MAT")) return false;
  // The array's name: the file's own name without its folder and ".mat",
  // at most 31 characters.
  std::string array = name_;
  const size_t slash = array.rfind('/');
  if (slash != std::string::npos) array.erase(0, slash + 1);
  const size_t dot = array.rfind(".mat");
  if (dot != std::string::npos) array.erase(dot, 4);
  if (array.size() > 31) array.resize(31);

  const bool big = !little_endian;  // host order
  std::vector<unsigned char> h;
  put_text(h,
           "Level 5 MAT-file of recorded sound: one double-precision array, one row per "
           "channel, one column per frame.",
           116);
  while (h.size() < 124) h.push_back(' ');
  for (size_t i = 0; i < 116; i++) {
    if (h[i] == 0) h[i] = ' ';
  }
  put16(h, 0x0100, big);
  put16(h, 0x4D49, big);  // "IM" in a little-endian file
  const uint32_t padded = array.size() <= 4 ? 0 : uint32_t((array.size() + 7) / 8 * 8);
  matElement_ = 48 + padded;
  put32(h, 14, big);
  put32(h, matElement_, big);
  put32(h, 6, big);
  put32(h, 8, big);
  put32(h, 6, big);  // double-precision class
  put32(h, 0, big);
  put32(h, 5, big);
  put32(h, 8, big);
  put32(h, channels, big);
  put32(h, 0, big);
  if (array.size() <= 4) {
    put32(h, uint32_t(array.size()) << 16 | 1, big);
    put_text(h, array.c_str(), 4);
  } else {
    put32(h, 1, big);
    put32(h, uint32_t(array.size()), big);
    put_text(h, array.c_str(), padded);
  }
  put32(h, 9, big);
  put32(h, 0, big);
  byteswap = false;
  dataLimit_ = 0xFFFFFFFFull - matElement_;
  if (!writeHeader(h, "MAT-file")) return false;
  syn_warn("[chip]:(via SYN): creating MAT-file (%s) containing MATLAB array: %s", name_,
           array.c_str());
  return true;
}

void WvOut::setDataLimit(uint64_t bytes) { dataLimit_ = std::min(dataLimit_, bytes); }

void WvOut::tick(float sample) {
  if (!file) return;
  float* frame = data.data() + size_t(bufferedFrames) * channels;
  for (unsigned c = 0; c < channels; c++) frame[c] = sample;
  if (++bufferedFrames == kBufferFrames) {
    bufferedFrames = 0;
    writeData(kBufferFrames);
  }
}

void WvOut::tick(const float* vector, unsigned int size) {
  for (unsigned int i = 0; i < size; i++) tick(vector[i]);
}

void WvOut::tickFrame(const float* frames, unsigned int count) {
  for (unsigned int i = 0; i < count && file; i++) {
    std::copy_n(frames + size_t(i) * channels, channels,
                data.begin() + size_t(bufferedFrames) * channels);
    if (++bufferedFrames == kBufferFrames) {
      bufferedFrames = 0;
      writeData(kBufferFrames);
    }
  }
}

void WvOut::writeData(unsigned long frames) {
  if (!file || frames == 0) return;
  const unsigned width = width_of(format);
  const uint64_t frameBytes = uint64_t(width) * channels;
  const uint64_t room = dataLimit_ / frameBytes - std::min(dataLimit_ / frameBytes, totalFrames);
  if (frames > room) {
    if (!limitReported_) {
      limitReported_ = true;
      char warning[256];
      std::snprintf(warning, sizeof warning,
                    SYN_PREFIX_WVOUT
                    "File %s reached the largest size its header can hold: "
                    "recording stops there.",
                    name_);
      Syn::handleError(warning, SynError::WARNING);
    }
    frames = static_cast<unsigned long>(room);
    if (frames == 0) return;
  }
  const size_t samples = size_t(frames) * channels;
  bytes_.resize(samples * width);
  const bool big = little_endian ? byteswap : !byteswap;
  unsigned char* out = bytes_.data();
  for (size_t i = 0; i < samples; i++, out += width) {
    const float s = data[i];
    uint64_t bits = 0;
    switch (format) {
      case SINT8:
        if (fileType == WAV) {
          const float v = s == s ? std::max(-1.0f, std::min(1.0f, s)) : 0.0f;
          bits = uint8_t(128.0f + v * 127.0f);
        } else {
          bits = uint8_t(int8_t(saturate(s, 127.0)));
        }
        break;
      case SINT16:
        bits = uint16_t(int16_t(saturate(s, 32767.0)));
        break;
      case SINT32:
        bits = uint32_t(int32_t(saturate(s, 2147483647.0)));
        break;
      case FLOAT32: {
        uint32_t b;
        std::memcpy(&b, &s, sizeof b);
        bits = b;
        break;
      }
      case FLOAT64: {
        const double d = s;
        std::memcpy(&bits, &d, sizeof bits);
        break;
      }
    }
    for (unsigned k = 0; k < width; k++) {
      out[big ? width - 1 - k : k] = uint8_t(bits >> (8 * k));
    }
  }
  if (std::fwrite(bytes_.data(), 1, bytes_.size(), file) != bytes_.size()) {
    std::snprintf(message, sizeof message, SYN_PREFIX_WVOUT "Error writing data to file.");
    Syn::handleError(message, SynError::FILE_ERROR);
  }
  totalFrames += frames;
  unflushedFrames += static_cast<unsigned>(frames);
  if (unflushedFrames >= kFlushFrames) {
    std::fflush(file);
    unflushedFrames = 0;
  }
}

bool WvOut::patch32(long offset, uint32_t value, bool big) {
  std::vector<unsigned char> b;
  put32(b, value, big);
  return std::fseek(file, offset, SEEK_SET) == 0 && std::fwrite(b.data(), 1, 4, file) == 4;
}

bool WvOut::finishHeader() {
  const uint64_t d = totalFrames * width_of(format) * channels;
  const uint32_t bytes = static_cast<uint32_t>(d);  // within the limit: fits
  switch (fileType) {
    case WAV:
      return patch32(4, 36 + bytes, false) && patch32(40, bytes, false);
    case SND:
      return patch32(8, bytes, true);
    case AIF: {
      const bool aifc = format == FLOAT32 || format == FLOAT64;
      return patch32(4, bytes + (aifc ? 52 : 46), true) &&
             patch32(22, uint32_t(totalFrames), true) && patch32(aifc ? 48 : 42, bytes + 8, true);
    }
    case MAT: {
      const bool big = !little_endian;
      return patch32(164, uint32_t(totalFrames), big) && patch32(132, matElement_ + bytes, big) &&
             patch32(132 + long(matElement_), bytes, big);
    }
    default:
      return true;
  }
}

void WvOut::closeFile() {
  if (file) {
    bool written = true;
    try {
      writeData(bufferedFrames);
    } catch (const SynError&) {
      written = false;  // printed; the header still gets what was written
    }
    bufferedFrames = 0;
    const bool finished = finishHeader();
    const bool closed = std::fclose(file) == 0;
    file = nullptr;
    totalFrames = 0;
    filename.clear();
    if (written && !(finished && closed)) {
      std::snprintf(message, sizeof message, SYN_PREFIX_WVOUT "Error writing data to file.");
      Syn::handleError(message, SynError::FILE_ERROR);
    }
    return;
  }
  filename.clear();
}
