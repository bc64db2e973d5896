// Sound-file input: the header readers, the window reads and playback.
#include "chip/syn/syn_wvin.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "chip/syn/syn_wave_tables.h"

namespace {

const double kTwoPi = 6.283185307179586476925286766559;

uint16_t get16(const unsigned char* p, bool big) {
  return big ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
}

uint32_t get32(const unsigned char* p, bool big) {
  return big ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
             : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

// Bytes per sample of a format code (0 for an unknown code).
unsigned width_of(int format) {
  switch (format) {
    case WvIn::SINT8:
      return 1;
    case WvIn::SINT16:
      return 2;
    case WvIn::SINT32:
    case WvIn::FLOAT32:
      return 4;
    case WvIn::FLOAT64:
      return 8;
    default:
      return 0;
  }
}

// A sample of `width` bytes in file order, as an unsigned integer in host
// order (the file is big-endian when `big`).
uint64_t sample_bits(const unsigned char* p, unsigned width, bool big) {
  uint64_t v = 0;
  for (unsigned i = 0; i < width; i++) v = v << 8 | p[big ? i : width - 1 - i];
  return v;
}

// The 80-bit IEEE extended number of an AIFF sample rate (big-endian): its
// value, or -1 when it is negative, zero, not finite or denormal.
double extended_rate(const unsigned char* p) {
  const int exponent = (p[0] & 0x7F) << 8 | p[1];
  uint64_t mantissa = 0;
  for (int i = 2; i < 10; i++) mantissa = mantissa << 8 | p[i];
  if ((p[0] & 0x80) || exponent == 0 || exponent == 0x7FFF || mantissa == 0) return -1.0;
  return std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
}

}  // namespace

// ---------------------------------------------------------------------------
// WvIn

WvIn::WvIn() { message[0] = '\0'; }

WvIn::WvIn(const char* name, bool raw, bool doNormalize, bool generate) : WvIn() {
  openFile(name, raw, doNormalize, generate);
}

WvIn::~WvIn() { closeFile(); }

void WvIn::empty() {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
  loaded = false;
  finished = true;
  chunking = false;
  builtin = false;
  unsignedBytes = false;
  byteswap = false;
  fileFrames = 0;
  bufferFrames = 0;
  chunkStart = 0;
  dataOffset = 0;
  channels = 0;
  format = 0;
  gain = 1.0f;
  time = 0.0;
  std::fill(lastOutput.begin(), lastOutput.end(), 0.0f);
}

void WvIn::closeFile() { empty(); }

void WvIn::fail(const char* text, SynError::TYPE kind) {
  if (text != message) std::snprintf(message, sizeof message, "%s", text);
  empty();
  Syn::handleError(message, kind);
  throw SynError(message, kind);  // not reached: handleError throws for these kinds
}

void WvIn::openFile(const char* name, bool raw, bool doNormalize, bool generate) {
  empty();
  if (!name) name = "";
  path = name;
  if (generate && std::strstr(name, "special:")) {
    openTable(name);
  } else {
    openSoundFile(name, raw);
  }

  if (doNormalize) {
    if (chunking) {
      switch (format) {
        case SINT8:
          gain = 1.0f / 128.0f;
          break;
        case SINT16:
          gain = 1.0f / 32768.0f;
          break;
        case SINT32:
          gain = 1.0f / 2147483648.0f;
          break;
        default:
          gain = 1.0f;
          break;
      }
    } else {
      float peak = 0.0f;
      const size_t n = size_t(bufferFrames) * channels;
      for (size_t i = 0; i < n; i++) peak = std::max(peak, std::fabs(data[i]));
      if (peak > 0.0f && std::isfinite(peak)) {
        const float scale = 1.0f / peak;
        for (size_t i = 0; i < n + channels; i++) data[i] *= scale;
      }
    }
  }
  loaded = true;
  finished = false;
  interpolate = rate != std::floor(rate);
}

void WvIn::openTable(const char* name) {
  builtin = true;
  channels = 1;
  format = SINT16;
  fileRate = 22050.0f;
  if (std::strstr(name, "special:sinewave")) {
    bufferFrames = 1024;
    data.assign(bufferFrames + 1, 0.0f);
    for (size_t i = 0; i < bufferFrames; i++) {
      data[i] = static_cast<float>(32767.0 * std::sin(kTwoPi * double(i) / 1024.0));
    }
  } else {
    const Syn_Builtin_Table* table = nullptr;
    for (size_t t = 0; t < syn_builtin_table_count && !table; t++) {
      if (std::strstr(name, syn_builtin_tables[t].name)) table = &syn_builtin_tables[t];
    }
    if (!table) {
      std::snprintf(message, sizeof message, SYN_PREFIX_WVIN "Error reading file (%s).", name);
      fail(message, SynError::FILE_ERROR);
    }
    bufferFrames = table->size;
    fileRate = table->rate;
    data.assign(table->data, table->data + table->size);
    data.push_back(0.0f);
  }
  data[bufferFrames] = data[0];
  fileFrames = bufferFrames;
  lastOutput.assign(1, 0.0f);
  rate = fileRate / Syn::srate;
}

void WvIn::openSoundFile(const char* name, bool raw) {
  // Opened without blocking (a FIFO would wait for a writer), then checked
  // to be a regular file before anything is read.
  fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::snprintf(message, sizeof message, SYN_PREFIX_WVIN "Could not open or find file (%s).",
                  name);
    fail(message, SynError::FILE_NOT_FOUND);
  }
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
    std::snprintf(message, sizeof message, SYN_PREFIX_WVIN "Error reading file (%s).", name);
    fail(message, SynError::FILE_ERROR);
  }
  const uint64_t size = static_cast<uint64_t>(info.st_size);

  bool ok;
  if (raw) {
    ok = readHeaderRaw(size);
  } else {
    unsigned char head[12];
    if (!readAt(0, head, sizeof head)) {
      std::snprintf(message, sizeof message, SYN_PREFIX_WVIN "Error reading file (%s).", name);
      fail(message, SynError::FILE_ERROR);
    }
    if (!std::memcmp(head, "RIFF", 4) && !std::memcmp(head + 8, "WAVE", 4)) {
      ok = readHeaderWav(size);
    } else if (!std::memcmp(head, ".snd", 4)) {
      ok = readHeaderSnd(size);
    } else if (!std::memcmp(head, "FORM", 4) &&
               (!std::memcmp(head + 8, "AIFF", 4) || !std::memcmp(head + 8, "AIFC", 4))) {
      ok = readHeaderAif(size);
    } else {
      unsigned char mark[2];
      if (!readAt(126, mark, sizeof mark)) {
        std::snprintf(message, sizeof message, SYN_PREFIX_WVIN "Error reading file (%s).", name);
        fail(message, SynError::FILE_ERROR);
      }
      if ((mark[0] == 'M' && mark[1] == 'I') || (mark[0] == 'I' && mark[1] == 'M')) {
        ok = readHeaderMat(size);
      } else {
        ok = readHeaderRaw(size);
      }
    }
  }
  if (!ok) fail(message, SynError::FILE_ERROR);
  if (fileFrames == 0) {
    std::snprintf(message, sizeof message, SYN_PREFIX_WVIN "File (%s) data size is zero!", name);
    fail(message, SynError::FILE_ERROR);
  }

  chunking = fileFrames > kChunkThreshold;
  bufferFrames = chunking ? kChunkFrames : fileFrames;
  const uint64_t samples = (bufferFrames + 1) * channels;
  if (samples > kMaxSamples) {
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_WVIN
                  "File (%s) needs a larger buffer than the reader allows (%llu "
                  "samples).",
                  name, static_cast<unsigned long long>(samples));
    fail(message, SynError::FILE_ERROR);
  }
  data.assign(samples, 0.0f);
  lastOutput.assign(channels, 0.0f);
  rate = fileRate / Syn::srate;
  readData(0);
}

bool WvIn::readAt(uint64_t offset, void* buffer, size_t bytes) {
  unsigned char* p = static_cast<unsigned char*>(buffer);
  while (bytes > 0) {
    if (offset > uint64_t(INT64_MAX)) return false;
    ssize_t n = ::pread(fd, p, bytes, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    bytes -= size_t(n);
    offset += uint64_t(n);
  }
  return true;
}

bool WvIn::finishHeader(uint64_t declaredBytes, uint64_t availableBytes, const char* bad) {
  const unsigned width = width_of(format);
  if (channels == 0 || channels > kMaxChannels || width == 0 || !(fileRate >= 1.0f) ||
      !(fileRate <= kMaxRate)) {
    std::snprintf(message, sizeof message, bad, path.c_str());
    return false;
  }
  uint64_t bytes = declaredBytes;
  const uint64_t frameBytes = uint64_t(width) * channels;
  if (bytes > availableBytes) {
    char warning[256];
    std::snprintf(warning, sizeof warning,
                  SYN_PREFIX_WVIN
                  "File (%s) holds less data than its header gives: reading the "
                  "%llu frames present.",
                  path.c_str(), static_cast<unsigned long long>(availableBytes / frameBytes));
    Syn::handleError(warning, SynError::WARNING);
    bytes = availableBytes;
  }
  fileFrames = bytes / frameBytes;
  return true;
}

uint64_t WvIn::bytesAfter(uint64_t offset, uint64_t fileSize) {
  return offset < fileSize ? fileSize - offset : 0;
}

bool WvIn::readHeaderRaw(uint64_t size) {
  format = SINT16;
  channels = 1;
  fileRate = 22050.0f;
  dataOffset = 0;
  byteswap = little_endian;
  fileFrames = size / 2;
  return true;
}

bool WvIn::readHeaderWav(uint64_t size) {
  char bad[200];
  std::snprintf(bad, sizeof bad, "%s", SYN_PREFIX_WVIN "Error reading WAV file (%s).");
  bool haveFormat = false;
  uint64_t pos = 12;
  while (pos + 8 <= size) {
    unsigned char tag[8];
    if (!readAt(pos, tag, sizeof tag)) break;
    const uint64_t chunk = get32(tag + 4, false);
    const uint64_t body = pos + 8;
    if (!std::memcmp(tag, "fmt ", 4)) {
      unsigned char fmt[16];
      if (chunk < 16 || !readAt(body, fmt, sizeof fmt)) break;
      const unsigned formatTag = get16(fmt, false);
      const unsigned bits = get16(fmt + 14, false);
      if (formatTag != 1 && formatTag != 3) {
        std::snprintf(message, sizeof message,
                      SYN_PREFIX_WVIN "%.180s contains an unsupported data format type (%u).",
                      path.c_str(), formatTag);
        return false;
      }
      format = 0;
      if (formatTag == 1 && bits == 8) format = SINT8;
      if (formatTag == 1 && bits == 16) format = SINT16;
      if (formatTag == 1 && bits == 32) format = SINT32;
      if (formatTag == 3 && bits == 32) format = FLOAT32;
      if (formatTag == 3 && bits == 64) format = FLOAT64;
      if (!format) {
        std::snprintf(message, sizeof message,
                      SYN_PREFIX_WVIN
                      "%u bits per sample with data format %u are not supported "
                      "(%.160s).",
                      bits, formatTag, path.c_str());
        return false;
      }
      channels = get16(fmt + 2, false);
      fileRate = static_cast<float>(get32(fmt + 4, false));
      haveFormat = true;
    } else if (!std::memcmp(tag, "data", 4)) {
      if (!haveFormat) break;
      dataOffset = body;
      unsignedBytes = true;
      byteswap = !little_endian;
      return finishHeader(chunk, bytesAfter(dataOffset, size), bad);
    }
    pos = body + chunk + (chunk & 1);
  }
  std::snprintf(message, sizeof message, bad, path.c_str());
  return false;
}

bool WvIn::readHeaderSnd(uint64_t size) {
  const char* bad = SYN_PREFIX_WVIN "Error reading SND file (%s).";
  unsigned char h[24];
  if (!readAt(0, h, sizeof h)) {
    std::snprintf(message, sizeof message, bad, path.c_str());
    return false;
  }
  switch (get32(h + 12, true)) {
    case 2:
      format = SINT8;
      break;
    case 3:
      format = SINT16;
      break;
    case 5:
      format = SINT32;
      break;
    case 6:
      format = FLOAT32;
      break;
    case 7:
      format = FLOAT64;
      break;
    default:
      std::snprintf(message, sizeof message,
                    SYN_PREFIX_WVIN "data format in file %s is not supported.", path.c_str());
      return false;
  }
  dataOffset = get32(h + 4, true);
  fileRate = static_cast<float>(get32(h + 16, true));
  const uint32_t ch = get32(h + 20, true);
  channels = ch > kMaxChannels ? 0 : ch;
  byteswap = little_endian;
  if (dataOffset < 24) {
    std::snprintf(message, sizeof message, bad, path.c_str());
    return false;
  }
  return finishHeader(get32(h + 8, true), bytesAfter(dataOffset, size), bad);
}

bool WvIn::readHeaderAif(uint64_t size) {
  const char* bad = SYN_PREFIX_WVIN "Error reading AIFF file (%s).";
  unsigned char form[12];
  if (!readAt(0, form, sizeof form)) {
    std::snprintf(message, sizeof message, bad, path.c_str());
    return false;
  }
  const bool aifc = !std::memcmp(form + 8, "AIFC", 4);
  bool haveComm = false, haveData = false;
  uint64_t frames = 0, dataBytes = 0;
  unsigned bits = 0;
  uint64_t pos = 12;
  while (pos + 8 <= size && !(haveComm && haveData)) {
    unsigned char tag[8];
    if (!readAt(pos, tag, sizeof tag)) break;
    const uint64_t chunk = get32(tag + 4, true);
    const uint64_t body = pos + 8;
    if (!std::memcmp(tag, "COMM", 4)) {
      unsigned char c[22];
      const size_t need = aifc ? 22 : 18;
      if (chunk < need || !readAt(body, c, need)) break;
      channels = get16(c, true);
      frames = get32(c + 2, true);
      bits = get16(c + 6, true);
      const double r = extended_rate(c + 8);
      fileRate = r > 0.0 && r <= kMaxRate ? static_cast<float>(r) : 0.0f;
      format = 0;
      const bool integer =
          !aifc || !std::memcmp(c + 18, "NONE", 4) || !std::memcmp(c + 18, "twos", 4);
      if (integer) {
        if (bits == 8) format = SINT8;
        if (bits == 16) format = SINT16;
        if (bits == 32) format = SINT32;
      } else if (bits == 32 &&
                 (!std::memcmp(c + 18, "fl32", 4) || !std::memcmp(c + 18, "FL32", 4))) {
        format = FLOAT32;
      } else if (bits == 64 &&
                 (!std::memcmp(c + 18, "fl64", 4) || !std::memcmp(c + 18, "FL64", 4))) {
        format = FLOAT64;
      }
      if (!format) {
        std::snprintf(message, sizeof message,
                      SYN_PREFIX_WVIN "%u bits per sample in file %s are not supported.", bits,
                      path.c_str());
        return false;
      }
      haveComm = true;
    } else if (!std::memcmp(tag, "SSND", 4)) {
      unsigned char s[8];
      if (chunk < 8 || !readAt(body, s, sizeof s)) break;
      const uint64_t offset = get32(s, true);
      if (offset > chunk - 8) break;
      dataOffset = body + 8 + offset;
      dataBytes = chunk - 8 - offset;
      haveData = true;
    }
    pos = body + chunk + (chunk & 1);
  }
  if (!haveComm || !haveData) {
    std::snprintf(message, sizeof message, bad, path.c_str());
    return false;
  }
  byteswap = little_endian;
  // The frames COMM gives, cut to what both SSND and the file hold.
  return finishHeader(frames * width_of(format) * channels,
                      std::min(dataBytes, bytesAfter(dataOffset, size)), bad);
}

bool WvIn::readHeaderMat(uint64_t size) {
  const char* bad = SYN_PREFIX_WVIN "Error reading MAT-file (%s).";
  const char* notMatrix =
      SYN_PREFIX_WVIN "The file does not contain a single Matlab array (or matrix) data element.";
  unsigned char h[176];
  if (!readAt(0, h, 4)) {
    std::snprintf(message, sizeof message, bad, path.c_str());
    return false;
  }
  if (!h[0] || !h[1] || !h[2] || !h[3]) {
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_WVIN
                  "%s appears to be a Version 4 MAT-file, which is not currently "
                  "supported.",
                  path.c_str());
    return false;
  }
  if (!readAt(0, h, sizeof h)) {
    std::snprintf(message, sizeof message, bad, path.c_str());
    return false;
  }
  // "IM" in the file is the mark written little-endian.
  const bool big = h[126] == 'M';
  if (get32(h + 128, big) != 14) {
    std::snprintf(message, sizeof message, "%s", notMatrix);
    return false;
  }
  const unsigned arrayClass = get32(h + 144, big) & 0xFF;
  if (get32(h + 136, big) != 6 || get32(h + 140, big) != 8 || get32(h + 152, big) != 5 ||
      get32(h + 156, big) != 8 || arrayClass < 6 || arrayClass > 13) {
    std::snprintf(message, sizeof message, "%s", notMatrix);
    return false;
  }
  const uint32_t rows = get32(h + 160, big);
  const uint32_t columns = get32(h + 164, big);
  // The name: a full element (type word, length, name padded to 8 bytes)
  // or one packed into its 8-byte tag.
  uint64_t next = 176;
  const uint32_t nameTag = get32(h + 168, big);
  if ((nameTag >> 16) == 0) next += (uint64_t(get32(h + 172, big)) + 7) / 8 * 8;
  unsigned char tag[8];
  if (!readAt(next, tag, sizeof tag)) {
    std::snprintf(message, sizeof message, bad, path.c_str());
    return false;
  }
  uint32_t type = get32(tag, big);
  uint64_t bytes;
  if ((type >> 16) != 0) {  // a small element: size and type in one word
    bytes = type >> 16;
    type &= 0xFFFF;
    dataOffset = next + 4;
  } else {
    bytes = get32(tag + 4, big);
    dataOffset = next + 8;
  }
  switch (type) {
    case 1:
      format = SINT8;
      break;
    case 3:
      format = SINT16;
      break;
    case 5:
      format = SINT32;
      break;
    case 7:
      format = FLOAT32;
      break;
    case 9:
      format = FLOAT64;
      break;
    default:
      std::snprintf(message, sizeof message,
                    SYN_PREFIX_WVIN "The MAT-file array data format (%u) is not supported.", type);
      return false;
  }
  if (rows >= columns) {
    std::snprintf(message, sizeof message,
                  SYN_PREFIX_WVIN
                  "Transpose the MAT-file array so that audio channels fill "
                  "matrix rows (not columns).");
    return false;
  }
  channels = rows > kMaxChannels ? 0 : rows;
  fileRate = 44100.0f;
  byteswap = big == bool(little_endian);
  // The matrix's samples, cut to what both its data element and the file
  // hold.
  return finishHeader(uint64_t(columns) * width_of(format) * rows,
                      std::min(bytes, bytesAfter(dataOffset, size)), bad);
}

void WvIn::placeWindow(uint64_t index) {
  if (index >= fileFrames) index = fileFrames - 1;
  chunkStart = index / kChunkFrames * kChunkFrames;
  bufferFrames = std::min(kChunkFrames, fileFrames - chunkStart);
}

bool WvIn::readFrames(uint64_t first, uint64_t count, uint64_t at) {
  const unsigned width = width_of(format);
  if (width == 0) {  // no format: nothing to read, nothing left over
    std::fill(data.begin(), data.end(), 0.0f);
    return true;
  }
  const size_t samples = size_t(count) * channels;
  const size_t bytes = samples * width;
  if (scratch.size() < bytes) scratch.resize(bytes);
  if (!readAt(dataOffset + first * channels * width, scratch.data(), bytes)) return false;
  const bool big = little_endian ? byteswap : !byteswap;
  float* out = data.data() + at * channels;
  const unsigned char* p = scratch.data();
  for (size_t i = 0; i < samples; i++, p += width) {
    const uint64_t v = sample_bits(p, width, big);
    switch (format) {
      case SINT8:
        out[i] = unsignedBytes ? float(int(v) - 128) : float(int8_t(uint8_t(v)));
        break;
      case SINT16:
        out[i] = float(int16_t(uint16_t(v)));
        break;
      case SINT32:
        out[i] = float(int32_t(uint32_t(v)));
        break;
      case FLOAT32: {
        const uint32_t b = uint32_t(v);
        float f;
        std::memcpy(&f, &b, sizeof f);
        out[i] = f;
        break;
      }
      case FLOAT64: {
        double d;
        std::memcpy(&d, &v, sizeof d);
        out[i] = static_cast<float>(d);
        break;
      }
    }
  }
  return true;
}

void WvIn::readData(uint64_t index) {
  if (fileFrames == 0 || channels == 0) return;
  if (chunking) {
    placeWindow(index);
  } else {
    chunkStart = 0;
    bufferFrames = fileFrames;
  }
  const bool atEnd = chunkStart + bufferFrames == fileFrames;
  if (!readFrames(chunkStart, atEnd ? bufferFrames : bufferFrames + 1, 0)) {
    fail(SYN_PREFIX_WVIN "Error reading file data.", SynError::FILE_ERROR);
  }
  if (atEnd) {
    std::copy_n(data.begin() + (bufferFrames - 1) * channels, channels,
                data.begin() + bufferFrames * channels);
  }
  if (!chunking && fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

void WvIn::addTime(double t) {
  if (!std::isfinite(t)) return;
  time += t;
  if (time < 0.0) time = 0.0;
  if (time >= double(fileFrames)) {
    time = double(fileFrames);
    finished = true;
  }
}

float WvIn::lastOut() const {
  if (channels == 0 || lastOutput.empty()) return 0.0f;
  if (channels == 1) return lastOutput[0];
  float sum = 0.0f;
  for (unsigned c = 0; c < channels; c++) sum += lastOutput[c];
  return sum / float(channels);
}

float WvIn::tick() {
  tickFrame();
  return lastOut();
}

float* WvIn::tick(float* vector, unsigned int size) {
  for (unsigned int i = 0; i < size; i++) vector[i] = tick();
  return vector;
}

float* WvIn::tickFrame(float* frames, unsigned int count) {
  for (unsigned int i = 0; i < count; i++) {
    const float* frame = tickFrame();
    for (unsigned c = 0; c < channels; c++) frames[size_t(i) * channels + c] = frame[c];
  }
  return frames;
}

const float* WvIn::tickFrame() {
  if (finished || !loaded || channels == 0) return lastOutput.data();
  double t = time;
  if (!(t >= 0.0 && t < double(fileFrames))) {
    finished = true;
    return lastOutput.data();
  }
  if (chunking && (t < double(chunkStart) || t >= double(chunkStart + bufferFrames))) {
    readData(static_cast<uint64_t>(t));
  }
  t -= double(chunkStart);
  const size_t i = std::min(static_cast<size_t>(t), size_t(bufferFrames) - 1);
  const float alpha = static_cast<float>(t - double(i));
  const float* d = data.data() + i * channels;
  for (unsigned c = 0; c < channels; c++) {
    float y = interpolate ? d[c] + alpha * (d[c + channels] - d[c]) : d[c];
    lastOutput[c] = chunking ? y * gain : y;
  }
  time += rate;
  if (!(time >= 0.0 && time < double(fileFrames))) finished = true;
  return lastOutput.data();
}

void WvIn::setRate(double value) {
  if (!std::isfinite(value)) return;
  rate = syn_float(value);
  if (rate < 0.0f && time == 0.0) time = double(fileFrames) + rate;
  interpolate = rate != std::floor(rate);
}

void WvIn::reset() {
  time = 0.0;
  std::fill(lastOutput.begin(), lastOutput.end(), 0.0f);
  finished = false;
}

float WvIn::outputScale() const {
  if (builtin) return 1.0f / 32767.0f;
  switch (format) {
    case SINT8:
      return 1.0f / 127.0f;
    case SINT16:
      return 1.0f / 32767.0f;
    case SINT32:
      return 1.0f / 2147483647.0f;
    default:
      return 1.0f;
  }
}

double WvIn::wrap(double x) const {
  const double n = double(fileFrames);
  if (x >= 0.0 && x < n) return x;
  if (n <= 0.0) return 0.0;
  x = std::fmod(x, n);
  if (x < 0.0) x += n;
  return (x >= 0.0 && x < n) ? x : 0.0;
}

// ---------------------------------------------------------------------------
// WaveLoop

WaveLoop::WaveLoop() = default;

WaveLoop::WaveLoop(const char* name, bool raw, bool doNormalize) {
  openFile(name, raw, doNormalize, true);
}

void WaveLoop::addTime(double t) {
  if (!std::isfinite(t)) return;
  time = wrap(time + t);
}

void WaveLoop::readData(uint64_t index) {
  WvIn::readData(index);
  if (chunkStart + bufferFrames != fileFrames || channels == 0) return;
  if (chunkStart == 0) {
    std::copy_n(data.begin(), channels, data.begin() + bufferFrames * channels);
  } else if (!readFrames(0, 1, bufferFrames)) {  // the source's first frame
    fail(SYN_PREFIX_WVIN "Error reading file data.", SynError::FILE_ERROR);
  }
}

const float* WaveLoop::tickFrame() {
  if (!loaded || channels == 0 || fileFrames == 0) return lastOutput.data();
  time = wrap(time);
  double t = time;
  if (phaseOffset != 0.0f) t = wrap(t + phaseOffset);
  if (chunking && (t < double(chunkStart) || t >= double(chunkStart + bufferFrames))) {
    readData(static_cast<uint64_t>(t));
  }
  t -= double(chunkStart);
  const size_t i = std::min(static_cast<size_t>(t), size_t(bufferFrames) - 1);
  const float alpha = static_cast<float>(t - double(i));
  const float* d = data.data() + i * channels;
  for (unsigned c = 0; c < channels; c++) {
    const float y = d[c] + alpha * (d[c + channels] - d[c]);
    lastOutput[c] = chunking ? y * gain : y;
  }
  time = wrap(time + rate);
  return lastOutput.data();
}

void WaveLoop::setFrequency(double f) {
  if (!std::isfinite(f)) return;
  frequency = syn_float(f);
  rate = syn_float(double(fileFrames) * f / Syn::srate);
  interpolate = true;
}

double WaveLoop::addPhase(double value) {
  if (std::isfinite(value) && fileFrames > 0) time = wrap(time + value * double(fileFrames));
  return getPhase();
}

void WaveLoop::addPhaseOffset(double value) {
  if (!std::isfinite(value)) return;
  const double frames = value * double(fileFrames);
  if (std::isfinite(frames)) phaseOffset = syn_float(frames);
}
