// Sound files for the toolkit's tests: a temporary folder that removes
// itself, whole-file reads and writes, the count of open descriptors, and
// builders of valid headers of every format the reader takes (the seeds of
// the hostile-file tests and of the reader's fuzz target).
#ifndef TESTS_CHIP_SOUND_FILE_SUPPORT_H
#define TESTS_CHIP_SOUND_FILE_SUPPORT_H

#include <dirent.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace sound_files {

typedef std::vector<unsigned char> Bytes;

// A fresh folder under the system's temporary folder, removed with its
// contents when the object goes.
class TempDir {
 public:
  TempDir() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "fluvane-sound-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline Bytes read_file(const std::string& path) {
  Bytes bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  unsigned char buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
    bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return bytes;
}

inline bool write_file(const std::string& path, const Bytes& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// The descriptors this process has open.
inline int open_descriptors() {
  int count = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (readdir(d)) count++;
    closedir(d);
  }
  return count;
}

inline void put16(Bytes& b, uint32_t v, bool big) {
  if (big) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
  } else {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  }
}

inline void put32(Bytes& b, uint32_t v, bool big) {
  if (big) {
    put16(b, v >> 16, true);
    put16(b, v & 0xFFFF, true);
  } else {
    put16(b, v & 0xFFFF, false);
    put16(b, v >> 16, false);
  }
}

inline void put_text(Bytes& b, const char* text) {
  b.insert(b.end(), text, text + std::strlen(text));
}

inline uint32_t get32(const Bytes& b, size_t at, bool big) {
  return big ? uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 |
                   b[at + 3]
             : uint32_t(b[at + 3]) << 24 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 1]) << 8 |
                   b[at];
}

inline uint16_t get16(const Bytes& b, size_t at, bool big) {
  return big ? uint16_t(b[at] << 8 | b[at + 1]) : uint16_t(b[at + 1] << 8 | b[at]);
}

// A WAV header (format tag, channels, rate, bits) and a data chunk that
// declares `dataBytes` (the samples are not included).
inline Bytes wav_header(unsigned tag, unsigned channels, uint32_t rate, unsigned bits,
                        uint32_t dataBytes) {
  Bytes b;
  put_text(b, "RIFF");
  put32(b, 36 + dataBytes, false);
  put_text(b, "WAVEfmt ");
  put32(b, 16, false);
  put16(b, tag, false);
  put16(b, channels, false);
  put32(b, rate, false);
  put32(b, rate * channels * bits / 8, false);
  put16(b, channels * bits / 8, false);
  put16(b, bits, false);
  put_text(b, "data");
  put32(b, dataBytes, false);
  return b;
}

inline Bytes snd_header(uint32_t encoding, uint32_t channels, uint32_t rate, uint32_t dataBytes) {
  Bytes b;
  put_text(b, ".snd");
  put32(b, 24, true);
  put32(b, dataBytes, true);
  put32(b, encoding, true);
  put32(b, rate, true);
  put32(b, channels, true);
  return b;
}

// The 80-bit extended form of an integer rate.
inline void put_rate80(Bytes& b, uint32_t rate) {
  int top = 31;
  while (top > 0 && !(rate >> top)) top--;
  const uint64_t mantissa = rate ? uint64_t(rate) << (63 - top) : 0;
  put16(b, rate ? uint32_t(16383 + top) : 0, true);
  put32(b, uint32_t(mantissa >> 32), true);
  put32(b, uint32_t(mantissa), true);
}

// AIFF (or AIFC with a compression type) with COMM and an SSND chunk of
// `dataBytes` samples after `offset` bytes of SSND padding.
inline Bytes aif_header(unsigned channels, uint32_t frames, unsigned bits, uint32_t rate,
                        uint32_t dataBytes, const char* compression = nullptr,
                        uint32_t offset = 0) {
  Bytes b;
  put_text(b, "FORM");
  put32(b, 0, true);
  put_text(b, compression ? "AIFC" : "AIFF");
  put_text(b, "COMM");
  put32(b, compression ? 24 : 18, true);
  put16(b, channels, true);
  put32(b, frames, true);
  put16(b, bits, true);
  put_rate80(b, rate);
  if (compression) {
    put_text(b, compression);
    put16(b, 0, true);
  }
  put_text(b, "SSND");
  put32(b, dataBytes + 8 + offset, true);
  put32(b, offset, true);
  put32(b, 0, true);
  b.insert(b.end(), offset, 0);
  const uint32_t form = uint32_t(b.size() - 8 + dataBytes);
  b[4] = uint8_t(form >> 24);
  b[5] = uint8_t(form >> 16);
  b[6] = uint8_t(form >> 8);
  b[7] = uint8_t(form);
  return b;
}

// A little-endian MAT 5 file header with one rows x columns matrix of class
// `arrayClass` whose data element has type `dataType` and `dataBytes`
// bytes, named `name`.
inline Bytes mat_header(uint32_t rows, uint32_t columns, uint32_t dataType, uint32_t dataBytes,
                        const char* name = "x", uint32_t arrayClass = 6) {
  Bytes b;
  put_text(b, "MATLAB 5.0 MAT-file test");
  b.resize(124, ' ');
  put16(b, 0x0100, false);
  b.push_back('I');
  b.push_back('M');
  const size_t n = std::strlen(name);
  const uint32_t nameBytes = n <= 4 ? 8 : uint32_t(8 + (n + 7) / 8 * 8);
  put32(b, 14, false);
  put32(b, 16 + 16 + nameBytes + 8 + dataBytes, false);
  put32(b, 6, false);
  put32(b, 8, false);
  put32(b, arrayClass, false);
  put32(b, 0, false);
  put32(b, 5, false);
  put32(b, 8, false);
  put32(b, rows, false);
  put32(b, columns, false);
  if (n <= 4) {
    put32(b, uint32_t(n) << 16 | 1, false);
    b.insert(b.end(), name, name + n);
    b.insert(b.end(), 4 - n, 0);
  } else {
    put32(b, 1, false);
    put32(b, uint32_t(n), false);
    b.insert(b.end(), name, name + n);
    b.insert(b.end(), (n + 7) / 8 * 8 - n, 0);
  }
  put32(b, dataType, false);
  put32(b, dataBytes, false);
  return b;
}

// Valid small files of every format, each with `frames` frames of a ramp:
// the seeds of the hostile-file tests and of the fuzz target.
inline std::vector<Bytes> valid_sound_files(unsigned frames = 8) {
  std::vector<Bytes> files;
  auto ramp = [&](Bytes b, unsigned width, bool big, unsigned channels) {
    for (unsigned i = 0; i < frames * channels; i++) {
      uint64_t v = (i * 37u + 5u) & 0x7F;
      for (unsigned k = 0; k < width; k++) {
        b.push_back(uint8_t(v >> (8 * (big ? width - 1 - k : k))));
      }
    }
    return b;
  };
  files.push_back(ramp(wav_header(1, 1, 44100, 16, frames * 2), 2, false, 1));
  files.push_back(ramp(wav_header(1, 2, 22050, 8, frames * 2), 1, false, 2));
  files.push_back(ramp(wav_header(3, 1, 44100, 32, frames * 4), 4, false, 1));
  files.push_back(ramp(snd_header(3, 1, 44100, frames * 2), 2, true, 1));
  files.push_back(ramp(snd_header(2, 2, 8000, frames * 2), 1, true, 2));
  files.push_back(ramp(aif_header(1, frames, 16, 44100, frames * 2), 2, true, 1));
  files.push_back(ramp(aif_header(2, frames, 32, 48000, frames * 8, "fl32"), 4, true, 2));
  files.push_back(ramp(mat_header(1, frames, 9, frames * 8), 8, false, 1));
  files.push_back(ramp(mat_header(2, frames, 3, frames * 4, "stereo"), 2, false, 2));
  return files;
}

}  // namespace sound_files

#endif
