// The toolkit's sound-file reader and writer on their own: the built-in
// tables against the generator's formulas, round trips through every type,
// sample format and channel count, golden headers, hostile files (a table
// of them and a seeded mutation loop over valid headers), long sources
// read in windows and played past 2^24 frames, and the looping reader's
// wrap under hostile parameters.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "chip/syn/syn.h"
#include "chip/syn/syn_wave_tables.h"
#include "chip/syn/syn_wvin.h"
#include "chip/syn/syn_wvout.h"
#include "log_capture.h"
#include "sound_file_support.h"
#include "syn_table_formulas.h"

using namespace sound_files;

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

class SoundFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_rate = Syn::srate;
    saved_endian = little_endian;
    Syn::srate = 44100.0f;
    little_endian = 1;
    ASSERT_FALSE(dir.path().empty());
  }
  void TearDown() override {
    Syn::srate = saved_rate;
    little_endian = saved_endian;
  }

  // Opens path in r (no normalising); the printed lines; loaded or not.
  std::vector<std::string> open(WvIn& r, const std::string& path, bool raw = false) {
    return printed_lines([&] {
      try {
        r.openFile(path.c_str(), raw, false, true);
      } catch (const SynError&) {
      }
    });
  }

  TempDir dir;
  float saved_rate = 44100.0f;
  int saved_endian = 1;
};

// ---------------------------------------------------------------------------
// Built-in tables

TEST_F(SoundFileTest, SinewaveIsItsClosedForm) {
  Syn::srate = 22050.0f;
  WvIn r("special:sinewave", false, false, true);
  ASSERT_TRUE(r.isLoaded());
  ASSERT_EQ(r.getSize(), 1024u);
  for (int i = 0; i < 1024; i++) {
    EXPECT_EQ(r.data[i], static_cast<float>(32767.0 * std::sin(2.0 * M_PI * i / 1024.0))) << i;
  }
  EXPECT_EQ(r.data[256], 32767.0f);
  EXPECT_EQ(r.data[1024], r.data[0]);
  EXPECT_EQ(r.rate, 1.0f);
  Syn::srate = 44100.0f;
  WvIn n("special:sinewave", false, true, true);
  EXPECT_FLOAT_EQ(n.data[256], 1.0f);
  EXPECT_EQ(n.rate, 0.5f);
  EXPECT_TRUE(n.interpolate);
}

// Every stored table is what the generator's formula gives, sample for
// sample, with its size, rate and a peak of full scale (silence: 0).
TEST_F(SoundFileTest, StoredTablesAreTheGeneratorsFormulas) {
  size_t count = 0;
  const Syn_Table_Formula* formulas = syn_table_formulas(&count);
  ASSERT_EQ(count, syn_builtin_table_count);
  ASSERT_EQ(count, 23u);
  for (size_t t = 0; t < count; t++) {
    SCOPED_TRACE(formulas[t].name);
    EXPECT_STREQ(syn_builtin_tables[t].name, formulas[t].name);
    const std::vector<float> want = syn_table_samples(formulas[t]);
    WvIn r(formulas[t].name, false, false, true);
    ASSERT_TRUE(r.isLoaded());
    ASSERT_EQ(r.getSize(), want.size());
    EXPECT_EQ(r.fileRate, formulas[t].rate);
    EXPECT_EQ(r.rate, formulas[t].rate / 44100.0f);
    float peak = 0.0f;
    for (size_t i = 0; i < want.size(); i++) {
      ASSERT_EQ(r.data[i], want[i]) << i;
      peak = std::max(peak, std::fabs(r.data[i]));
    }
    EXPECT_EQ(r.data[want.size()], r.data[0]);
    const bool silent = std::string(formulas[t].name) == "special:silence";
    EXPECT_EQ(peak, silent ? 0.0f : 32767.0f);
  }
}

// The events the instruments play once (the mandolin's body, the Moog's
// attack, the modal bar's strike) start on zero and end on eight zeros: a
// one-shot reader at any rate up to 8, once past the end, holds 0 and not
// an offset.
TEST_F(SoundFileTest, OneShotTablesStartAndEndOnZero) {
  const std::vector<std::string> played_once = {"special:mand1", "special:mandpluk",
                                                "special:marmsyn1"};
  size_t count = 0;
  const Syn_Table_Formula* formulas = syn_table_formulas(&count);
  std::vector<std::string> one_shots;
  for (size_t t = 0; t < count; t++) {
    if (!formulas[t].one_shot) continue;
    SCOPED_TRACE(formulas[t].name);
    one_shots.push_back(formulas[t].name);
    const std::vector<float> samples = syn_table_samples(formulas[t]);
    EXPECT_EQ(samples.front(), 0.0f);
    for (size_t k = 1; k <= 8; k++) EXPECT_EQ(samples[samples.size() - k], 0.0f);
    for (double rate : {0.25, 0.5, 0.7, 1.0, 1.5, 2.0, 3.3, 8.0}) {
      SCOPED_TRACE(rate);
      WvIn r(formulas[t].name, true, true, true);
      r.setRate(rate);
      float sound = 0.0f;
      for (size_t i = 0; i < 4 * samples.size() + 8; i++) sound += std::fabs(r.tick());
      if (rate <= 1.0) {
        EXPECT_GT(sound, 0.0f);  // every sample read
      }
      EXPECT_TRUE(r.isFinished());
      EXPECT_EQ(r.lastOut(), 0.0f);
    }
  }
  EXPECT_EQ(one_shots, played_once);
}

TEST_F(SoundFileTest, TableShapesFollowTheirNames) {
  // impulsN: N equal cosine harmonics peak at 0 with N.
  for (int n : {10, 20, 40}) {
    const std::string name = "special:impuls" + std::to_string(n);
    WvIn r(name.c_str(), false, false, true);
    ASSERT_EQ(r.getSize(), 256u);
    EXPECT_EQ(r.data[0], 32767.0f);
    double sum = 0.0;
    for (int k = 1; k <= n; k++) sum += std::cos(2.0 * M_PI * k * 5 / 256.0);
    EXPECT_NEAR(r.data[5], 32767.0 * sum / n, 0.01) << n;
  }
  WvIn silence("special:silence", false, false, true);
  for (size_t i = 0; i <= silence.getSize(); i++) EXPECT_EQ(silence.data[i], 0.0f);
  // The "...blnk" tables are silent in their second half.
  WvIn blank("special:sineblnk", false, false, true);
  for (size_t i = 256; i < 512; i++) EXPECT_EQ(blank.data[i], 0.0f);
}

TEST_F(SoundFileTest, UnknownTablesAndUngeneratedNamesAreRefused) {
  WvIn r;
  EXPECT_EQ(
      open(r, "special:nosuchtable"),
      std::vector<std::string>{"[chip](via WvIn): Error reading file (special:nosuchtable)."});
  EXPECT_FALSE(r.isLoaded());
  WvIn g;
  auto lines = printed_lines(
      [&] { EXPECT_THROW(g.openFile("special:sinewave", false, false, false), SynError); });
  EXPECT_EQ(lines, std::vector<std::string>{
                       "[chip](via WvIn): Could not open or find file (special:sinewave)."});
}

// ---------------------------------------------------------------------------
// Round trips and golden headers

struct Layout {
  int type;
  int format;
};

// The value a written sample reads back as (on a scale of 1).
double read_back(const WvIn& r, size_t i) { return r.data[i] * double(r.outputScale()); }

// Every type, sample format and channel count: +-1, 0, halves and integer
// sample values come back exactly, or within one step of the format.
TEST_F(SoundFileTest, EveryFormatRoundTrips) {
  const Layout layouts[] = {
      {WvOut::WAV, WvOut::SINT8},   {WvOut::WAV, WvOut::SINT16},  {WvOut::WAV, WvOut::SINT32},
      {WvOut::WAV, WvOut::FLOAT32}, {WvOut::WAV, WvOut::FLOAT64}, {WvOut::SND, WvOut::SINT8},
      {WvOut::SND, WvOut::SINT16},  {WvOut::SND, WvOut::SINT32},  {WvOut::SND, WvOut::FLOAT32},
      {WvOut::SND, WvOut::FLOAT64}, {WvOut::AIF, WvOut::SINT8},   {WvOut::AIF, WvOut::SINT16},
      {WvOut::AIF, WvOut::SINT32},  {WvOut::AIF, WvOut::FLOAT32}, {WvOut::AIF, WvOut::FLOAT64},
      {WvOut::MAT, WvOut::FLOAT64}, {WvOut::RAW, WvOut::SINT16}};
  const double full[] = {0, 127.0, 32767.0, 0, 0, 0, 0, 0, 2147483647.0};
  for (const Layout& l : layouts) {
    for (unsigned channels : {1u, 2u, 5u}) {
      if (l.type == WvOut::RAW && channels > 1) continue;
      SCOPED_TRACE(testing::Message()
                   << "type " << l.type << " format " << l.format << " x" << channels);
      const bool integer = l.format <= WvOut::SINT32;
      const double step = integer ? 1.0 / full[l.format] : 0.0;
      std::vector<double> values = {1.0, -1.0, 0.0, 0.5, -0.25};
      if (integer) {
        for (double k : {3.0, -17.0, 100.0}) values.push_back(k / full[l.format]);
      } else {
        values.push_back(0.123456789);
      }
      const unsigned frames = 1500;  // more than one buffer of the writer
      std::vector<float> samples(frames * channels);
      for (size_t i = 0; i < samples.size(); i++) samples[i] = float(values[i % values.size()]);
      const std::string path = dir.file("trip");
      {
        WvOut w;
        printed_lines([&] { w.openFile(path.c_str(), channels, l.type, l.format); });
        ASSERT_TRUE(w.isOpen());
        w.tickFrame(samples.data(), frames);
        w.closeFile();
      }
      const char* ext[] = {"", ".raw", ".wav", ".snd", ".aif", ".mat"};
      WvIn r;
      auto lines = open(r, path + ext[l.type], l.type == WvOut::RAW);
      ASSERT_TRUE(r.isLoaded()) << (lines.empty() ? "" : lines[0]);
      ASSERT_EQ(r.getSize(), frames);
      ASSERT_EQ(r.getChannels(), channels);
      EXPECT_EQ(r.fileRate, l.type == WvOut::RAW   ? 22050.0f
                            : l.type == WvOut::MAT ? 44100.0f
                                                   : 44100.0f);
      for (size_t i = 0; i < samples.size(); i++) {
        const double want = samples[i];
        ASSERT_NEAR(read_back(r, i), want, step + 1e-7 * std::fabs(want)) << i;
        if (integer &&
            std::fabs(want * full[l.format] - std::round(want * full[l.format])) < 1e-6 &&
            !(l.type == WvOut::WAV && l.format == WvOut::SINT8 && want != std::round(want))) {
          ASSERT_NEAR(read_back(r, i), want, 1e-6) << i;
        }
      }
    }
  }
}

TEST_F(SoundFileTest, FullScaleIsStoredAsTheFormatsLargestValue) {
  const struct {
    int type, format;
    size_t at;
    bool big;
    int width;
    long plus, minus;
  } cases[] = {{WvOut::WAV, WvOut::SINT16, 44, false, 2, 32767, -32767},
               {WvOut::SND, WvOut::SINT8, 40, true, 1, 127, -127},
               {WvOut::WAV, WvOut::SINT8, 44, false, 1, 255, 1}};
  for (const auto& c : cases) {
    const std::string path = dir.file("scale");
    {
      WvOut w;
      w.openFile(path.c_str(), 1, c.type, c.format);
      w.tick(1.0f);
      w.tick(-1.0f);
    }
    Bytes b = read_file(path + (c.type == WvOut::WAV ? ".wav" : ".snd"));
    ASSERT_EQ(b.size(), c.at + 2 * c.width);
    auto value = [&](size_t at) -> long {
      if (c.width == 1) return c.type == WvOut::WAV ? long(b[at]) : long(int8_t(b[at]));
      return long(int16_t(get16(b, at, c.big)));
    };
    EXPECT_EQ(value(c.at), c.plus);
    EXPECT_EQ(value(c.at + c.width), c.minus);
  }
}

// Samples beyond +-1 saturate and NaN stores 0 in every integer format.
TEST_F(SoundFileTest, IntegerFormatsSaturateAndStoreNaNAsZero) {
  const float hostile[] = {1.5f, -1.5f, float(kInf), float(-kInf), float(kNaN), 1e30f};
  const struct {
    int format;
    long full;
  } cases[] = {{WvOut::SINT8, 127}, {WvOut::SINT16, 32767}, {WvOut::SINT32, 2147483647}};
  for (const auto& c : cases) {
    for (int type : {WvOut::SND, WvOut::WAV}) {
      const std::string path = dir.file("sat");
      {
        WvOut w;
        w.openFile(path.c_str(), 1, type, c.format);
        w.tick(hostile, 6);
      }
      WvIn r;
      open(r, path + (type == WvOut::SND ? ".snd" : ".wav"));
      ASSERT_EQ(r.getSize(), 6u);
      const double want[] = {1, -1, 1, -1, 0, 1};
      for (int i = 0; i < 6; i++) {
        EXPECT_NEAR(read_back(r, i), want[i], 1e-6) << c.format << " " << type << " " << i;
      }
    }
  }
}

TEST_F(SoundFileTest, WavHeaderIsGolden) {
  const std::string path = dir.file("golden.wav");
  {
    WvOut w;
    w.openFile(path.c_str(), 1, WvOut::WAV, WvOut::SINT16);
    for (int i = 0; i < 1000; i++) w.tick(0.25f);
  }
  Bytes b = read_file(path);
  ASSERT_EQ(b.size(), 44u + 2000u);
  Bytes want = wav_header(1, 1, 44100, 16, 2000);
  EXPECT_EQ(Bytes(b.begin(), b.begin() + 44), want);
  EXPECT_EQ(get32(b, 4, false), 2036u);
  WvIn r;
  open(r, path);
  EXPECT_EQ(r.getSize(), 1000u);
  EXPECT_EQ(r.rate, 1.0f);
  EXPECT_FALSE(r.interpolate);
}

TEST_F(SoundFileTest, SndAiffAndAifcHeadersAreGolden) {
  {
    WvOut w;
    w.openFile(dir.file("g").c_str(), 1, WvOut::SND, WvOut::SINT16);
    for (int i = 0; i < 3; i++) w.tick(0.0f);
  }
  Bytes snd = read_file(dir.file("g.snd"));
  Bytes want;
  put_text(want, ".snd");
  put32(want, 40, true);
  put32(want, 6, true);
  put32(want, 3, true);
  put32(want, 44100, true);
  put32(want, 1, true);
  put_text(want, "Created by SYN");
  want.resize(40, 0);
  ASSERT_EQ(snd.size(), 46u);
  EXPECT_EQ(Bytes(snd.begin(), snd.begin() + 40), want);

  const float frame[2] = {0.5f, -0.5f};
  {
    WvOut w;
    w.openFile(dir.file("g").c_str(), 2, WvOut::AIF, WvOut::SINT16);
    for (int i = 0; i < 10; i++) w.tickFrame(frame, 1);
  }
  Bytes aif = read_file(dir.file("g.aif"));
  ASSERT_EQ(aif.size(), 54u + 40u);
  EXPECT_EQ(Bytes(aif.begin(), aif.begin() + 54), aif_header(2, 10, 16, 44100, 40));
  EXPECT_EQ(get32(aif, 4, true), 86u);
  EXPECT_EQ(get32(aif, 22, true), 10u);
  EXPECT_EQ(get32(aif, 42, true), 48u);
  const unsigned char rate[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(aif.begin() + 28, aif.begin() + 38), Bytes(rate, rate + 10));

  {
    WvOut w;
    w.openFile(dir.file("f").c_str(), 2, WvOut::AIF, WvOut::FLOAT32);
    for (int i = 0; i < 10; i++) w.tickFrame(frame, 1);
  }
  Bytes aifc = read_file(dir.file("f.aif"));
  ASSERT_EQ(aifc.size(), 60u + 80u);
  EXPECT_EQ(Bytes(aifc.begin(), aifc.begin() + 60), aif_header(2, 10, 32, 44100, 80, "fl32"));
  EXPECT_EQ(get32(aifc, 4, true), 132u);
}

TEST_F(SoundFileTest, MatHeaderNamesItsArray) {
  const struct {
    const char* file;
    std::string array;
  } cases[] = {{"abcd.mat", "abcd"},
               {"a_forty_character_name_for_a_mat_file_xx.mat", "a_forty_character_name_for_a_ma"}};
  for (const auto& c : cases) {
    const std::string path = dir.file(c.file);
    std::vector<std::string> lines;
    {
      WvOut w;
      lines = printed_lines([&] { w.openFile(path.c_str(), 2, WvOut::MAT, WvOut::SINT16); });
      const float frame[2] = {0.25f, -0.75f};
      for (int i = 0; i < 3; i++) w.tickFrame(frame, 1);
    }
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0],
              "[chip](via WvOut): Using 64-bit floating-point data format for file " + path);
    EXPECT_EQ(lines[1], "[chip]:(via SYN): creating MAT-file (" + path +
                            ") containing MATLAB array: " + c.array);
    Bytes b = read_file(path);
    const uint32_t padded = c.array.size() <= 4 ? 0 : uint32_t((c.array.size() + 7) / 8 * 8);
    const size_t header = 136 + 48 + padded;
    ASSERT_EQ(b.size(), header + 48);
    EXPECT_EQ(get16(b, 124, false), 0x0100);
    EXPECT_EQ(b[126], 'I');
    EXPECT_EQ(b[127], 'M');
    EXPECT_EQ(get32(b, 128, false), 14u);
    EXPECT_EQ(get32(b, 132, false), 48u + padded + 48u);
    EXPECT_EQ(get32(b, 160, false), 2u);
    EXPECT_EQ(get32(b, 164, false), 3u);
    if (padded == 0) {
      EXPECT_EQ(get32(b, 168, false), 4u << 16 | 1u);
      EXPECT_EQ(std::string(b.begin() + 172, b.begin() + 176), c.array);
    } else {
      EXPECT_EQ(get32(b, 168, false), 1u);
      EXPECT_EQ(get32(b, 172, false), 31u);
      EXPECT_EQ(std::string(b.begin() + 176, b.begin() + 207), c.array);
    }
    EXPECT_EQ(get32(b, header - 8, false), 9u);
    EXPECT_EQ(get32(b, header - 4, false), 48u);
    const std::string text(b.begin(), b.begin() + 116);
    EXPECT_EQ(text.find("MATLAB"), std::string::npos);
    WvIn r;
    open(r, path);
    ASSERT_TRUE(r.isLoaded());
    EXPECT_EQ(r.getChannels(), 2u);
    EXPECT_EQ(r.data[1], -0.75f);
  }
}

TEST_F(SoundFileTest, WriterRefusesBadArgumentsAndLongNames) {
  const std::string longName = dir.file(std::string(130, 'n'));
  const std::string fits = dir.file(std::string(127 - dir.path().size() - 1 - 4, 'm'));
  const struct {
    std::string name;
    unsigned channels;
    int type, format;
    std::string message;
  } cases[] = {
      {dir.file("x"), 0, WvOut::WAV, WvOut::SINT16,
       "[chip](via WvOut): the channels argument must be greater than zero!"},
      {dir.file("x"), 1, WvOut::WAV, 3, "[chip](via WvOut): Unknown data type specified (3)."},
      {dir.file("x"), 1, 9, WvOut::SINT16, "[chip](via WvOut): Unknown file type specified (9)."},
      {dir.file("x"), 2, WvOut::RAW, WvOut::SINT16,
       "[chip](via WvOut): SYN RAW files are, by definition, always monaural (channels = 2 not "
       "supported)!"},
      {dir.file("x"), 65536, WvOut::WAV, WvOut::SINT16,
       "[chip](via WvOut): WAV files hold at most 65535 channels (channels = 65536 not "
       "supported)!"},
      {dir.file("x"), 65536, WvOut::AIF, WvOut::SINT16,
       "[chip](via WvOut): AIF files hold at most 65535 channels (channels = 65536 not "
       "supported)!"},
      {dir.file("nodir/x"), 1, WvOut::SND, WvOut::SINT16,
       "[chip](via WvOut): Could not create SND file: " + dir.file("nodir/x.snd")},
      {dir.file("folder"), 1, WvOut::WAV, WvOut::SINT16,
       "[chip](via WvOut): Could not create WAV file: " + dir.file("folder.wav")},
      {dir.file("fifo"), 1, WvOut::AIF, WvOut::SINT16,
       "[chip](via WvOut): Could not create AIF file: " + dir.file("fifo.aif")},
  };
  // Neither a folder nor a FIFO (which would block) is written to.
  ASSERT_TRUE(std::filesystem::create_directory(dir.file("folder.wav")));
  ASSERT_EQ(mkfifo(dir.file("fifo.aif").c_str(), 0600), 0);
  for (const auto& c : cases) {
    WvOut w;
    auto lines = printed_lines(
        [&] { EXPECT_THROW(w.openFile(c.name.c_str(), c.channels, c.type, c.format), SynError); });
    EXPECT_EQ(lines, std::vector<std::string>{c.message.substr(0, 255)});
    EXPECT_FALSE(w.isOpen());
    EXPECT_EQ(w.getFilename(), "");
    w.tick(0.5f);  // nothing open: nothing written
  }
  // A name of 124 characters takes its extension; one longer is refused
  // whole rather than cut.
  {
    WvOut w;
    w.openFile(fits.c_str(), 1, WvOut::WAV, WvOut::SINT16);
    EXPECT_TRUE(w.isOpen());
  }
  EXPECT_TRUE(std::filesystem::exists(fits + ".wav"));
  WvOut w;
  auto lines = printed_lines(
      [&] { EXPECT_THROW(w.openFile(longName.c_str(), 1, WvOut::WAV, WvOut::SINT16), SynError); });
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("[chip](via WvOut): File name too long for a WAV file", 0), 0u);
  EXPECT_LE(lines[0].size(), 255u);
  EXPECT_FALSE(std::filesystem::exists(longName.substr(0, 127)));
}

TEST_F(SoundFileTest, RawIsAlways16BitWithAWarning) {
  WvOut w;
  auto lines =
      printed_lines([&] { w.openFile(dir.file("r").c_str(), 1, WvOut::RAW, WvOut::FLOAT32); });
  EXPECT_EQ(lines, std::vector<std::string>{"[chip](via WvOut): Using 16-bit signed integer data "
                                            "format for file " +
                                            dir.file("r.raw") + "."});
  EXPECT_EQ(w.format, WvOut::SINT16);
}

// Past the largest size a header can hold the writer stops, once, at the
// last whole frame, and the header stays true.
TEST_F(SoundFileTest, WriterStopsWhereTheHeaderCanHoldNoMore) {
  for (int type : {WvOut::WAV, WvOut::AIF, WvOut::SND, WvOut::MAT}) {
    const std::string path = dir.file("limit");
    std::vector<std::string> lines;
    {
      WvOut w;
      printed_lines([&] { w.openFile(path.c_str(), 2, type, WvOut::SINT16); });
      const uint64_t width = type == WvOut::MAT ? 8 : 2;
      w.setDataLimit(1000 * 2 * width + 3);  // 1000 frames and a part of one
      lines = printed_lines([&] {
        for (int i = 0; i < 3000; i++) w.tick(0.5f);
        w.closeFile();
      });
    }
    ASSERT_EQ(lines.size(), 1u) << type;
    EXPECT_NE(lines[0].find("reached the largest size its header can hold"), std::string::npos);
    const char* ext[] = {"", ".raw", ".wav", ".snd", ".aif", ".mat"};
    WvIn r;
    open(r, path + ext[type]);
    EXPECT_EQ(r.getSize(), 1000u) << type;
    EXPECT_EQ(read_file(path + ext[type]).size(), (type == WvOut::WAV   ? 44u
                                                   : type == WvOut::SND ? 40u
                                                   : type == WvOut::AIF ? 54u
                                                                        : 192u) +
                                                      1000u * 2u * (type == WvOut::MAT ? 8u : 2u));
  }
}

// A second file with more channels on the same writer gets a buffer of its
// size (no overrun), and the first file is finished.
TEST_F(SoundFileTest, ReopeningWithMoreChannelsGrowsTheBuffer) {
  WvOut w;
  w.openFile(dir.file("one").c_str(), 1, WvOut::WAV, WvOut::SINT16);
  for (int i = 0; i < 100; i++) w.tick(0.5f);
  w.openFile(dir.file("six").c_str(), 6, WvOut::WAV, WvOut::SINT16);
  std::vector<float> frames(6 * 2000, 0.25f);
  w.tickFrame(frames.data(), 2000);
  w.closeFile();
  WvIn a, b;
  open(a, dir.file("one.wav"));
  open(b, dir.file("six.wav"));
  EXPECT_EQ(a.getSize(), 100u);
  EXPECT_EQ(b.getSize(), 2000u);
  EXPECT_EQ(b.getChannels(), 6u);
}

// ---------------------------------------------------------------------------
// Reading

struct Hostile {
  const char* what;
  Bytes bytes;
  const char* message;  // the first line printed, up to the path ("" plays quietly)
  bool plays;
};

Bytes with_samples(Bytes b, size_t bytes) {
  for (size_t i = 0; i < bytes; i++) b.push_back(uint8_t(i * 7));
  return b;
}

Bytes wav_with_chunk_first(uint32_t size, size_t present) {
  Bytes b;
  put_text(b, "RIFF");
  put32(b, 100, false);
  put_text(b, "WAVE");
  put_text(b, "LIST");
  put32(b, size, false);
  b.insert(b.end(), present, 'L');
  if (size & 1) b.push_back(0);
  Bytes w = wav_header(1, 1, 44100, 16, 8);
  b.insert(b.end(), w.begin() + 12, w.end());
  return with_samples(b, 8);
}

std::vector<Hostile> hostile_files() {
  Bytes fmt0 = wav_header(1, 1, 44100, 16, 8);
  fmt0[16] = 0;  // fmt chunk size 0
  Bytes fmt14 = wav_header(1, 1, 44100, 16, 8);
  fmt14[16] = 14;
  Bytes mat4 = with_samples(mat_header(1, 4, 9, 32), 32);
  mat4[0] = 0;
  return {
      {"empty", {}, "[chip](via WvIn): Error reading file (", false},
      {"eleven bytes", with_samples({}, 11), "[chip](via WvIn): Error reading file (", false},
      {"fmt size 0", with_samples(fmt0, 8), "[chip](via WvIn): Error reading WAV file (", false},
      {"fmt size 14", with_samples(fmt14, 8), "[chip](via WvIn): Error reading WAV file (", false},
      {"odd chunk before fmt", wav_with_chunk_first(5, 5), "", true},
      {"chunk past the end", wav_with_chunk_first(100000, 4),
       "[chip](via WvIn): Error reading WAV file (", false},
      {"chunk 0xFFFFFFFF", wav_with_chunk_first(0xFFFFFFFFu, 4),
       "[chip](via WvIn): Error reading WAV file (", false},
      {"data past the end", with_samples(wav_header(1, 1, 44100, 16, 1000000), 8),
       "[chip](via WvIn): File (", true},
      {"data 0xFFFFFFFF", with_samples(wav_header(1, 1, 44100, 16, 0xFFFFFFFFu), 8),
       "[chip](via WvIn): File (", true},
      {"data size 0", wav_header(1, 1, 44100, 16, 0), "[chip](via WvIn): File (", false},
      {"0 channels", with_samples(wav_header(1, 0, 44100, 16, 8), 8),
       "[chip](via WvIn): Error reading WAV file (", false},
      {"65535 channels", with_samples(wav_header(1, 65535, 8000, 8, 65535 * 2), 65535 * 2), "",
       true},
      {"0 bits", with_samples(wav_header(1, 1, 44100, 0, 8), 8),
       "[chip](via WvIn): 0 bits per sample with data format 1 are not supported (", false},
      {"24 bits", with_samples(wav_header(1, 1, 44100, 24, 9), 9),
       "[chip](via WvIn): 24 bits per sample with data format 1 are not supported (", false},
      {"format tag 2", with_samples(wav_header(2, 1, 44100, 16, 8), 8),
       "[chip](via WvIn): ", false},
      {"WAV rate 0", with_samples(wav_header(1, 1, 0, 16, 8), 8),
       "[chip](via WvIn): Error reading WAV file (", false},
      {"SND rate 0", with_samples(snd_header(3, 1, 0, 8), 8),
       "[chip](via WvIn): Error reading SND file (", false},
      {"SND 0 channels", with_samples(snd_header(3, 0, 8000, 8), 8),
       "[chip](via WvIn): Error reading SND file (", false},
      {"SND 4e9 channels", with_samples(snd_header(3, 4000000000u, 8000, 8), 8),
       "[chip](via WvIn): Error reading SND file (", false},
      {"SND encoding 1", with_samples(snd_header(1, 1, 8000, 8), 8),
       "[chip](via WvIn): data format in file ", false},
      {"SND data 0xFFFFFFFF", with_samples(snd_header(3, 1, 8000, 0xFFFFFFFFu), 8),
       "[chip](via WvIn): File (", true},
      {"AIFF rate 0", with_samples(aif_header(1, 4, 16, 0, 8), 8),
       "[chip](via WvIn): Error reading AIFF file (", false},
      {"AIFF frames past the end", with_samples(aif_header(1, 1000, 16, 8000, 8), 8),
       "[chip](via WvIn): File (", true},
      {"AIFF 24 bits", with_samples(aif_header(1, 4, 24, 8000, 12), 12),
       "[chip](via WvIn): 24 bits per sample in file ", false},
      {"AIFC ulaw", with_samples(aif_header(1, 4, 16, 8000, 8, "ulaw"), 8),
       "[chip](via WvIn): 16 bits per sample in file ", false},
      {"MAT version 4", mat4, "[chip](via WvIn): ", false},
      {"MAT transposed", with_samples(mat_header(4, 1, 9, 32), 32),
       "[chip](via WvIn): Transpose the MAT-file array", false},
      {"MAT cell class", with_samples(mat_header(1, 4, 9, 32, "x", 1), 32),
       "[chip](via WvIn): The file does not contain a single Matlab array", false},
      {"MAT uint8 data", with_samples(mat_header(1, 4, 2, 4), 4),
       "[chip](via WvIn): The MAT-file array data format (2) is not supported.", false},
      {"MAT data past the end", with_samples(mat_header(1, 400, 9, 3200), 32),
       "[chip](via WvIn): File (", true},
  };
}

// Each hostile file gives a message or plays; the reader is empty after a
// failure; no descriptor stays open.
TEST_F(SoundFileTest, HostileFilesGiveAMessageOrPlay) {
  const int descriptors = open_descriptors();
  for (const Hostile& h : hostile_files()) {
    SCOPED_TRACE(h.what);
    const std::string path = dir.file("hostile");
    ASSERT_TRUE(write_file(path, h.bytes));
    {
      WvIn r;
      auto lines = open(r, path);
      EXPECT_EQ(r.isLoaded(), h.plays);
      if (*h.message) {
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines[0].rfind(h.message, 0), 0u) << lines[0];
      } else {
        EXPECT_TRUE(lines.empty()) << lines[0];
      }
      if (!h.plays) {
        EXPECT_TRUE(r.isFinished());
        EXPECT_EQ(r.fd, -1);
        EXPECT_EQ(r.getChannels(), 0u);
      }
      for (int i = 0; i < 32; i++) {
        const float y = r.tick();
        if (!h.plays) {
          ASSERT_EQ(y, 0.0f);
        }
      }
    }
    EXPECT_EQ(open_descriptors(), descriptors);
  }
}

// A FIFO or a folder is refused at once (a FIFO would block).
TEST_F(SoundFileTest, OnlyRegularFilesAreRead) {
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {fifo, dir.path()}) {
    WvIn r;
    EXPECT_EQ(open(r, path),
              std::vector<std::string>{"[chip](via WvIn): Error reading file (" + path + ")."});
    EXPECT_FALSE(r.isLoaded());
    EXPECT_EQ(r.fd, -1);
  }
}

// Every header cut at every length, and a seeded loop of mutations over
// every valid header: a message or sound, never a fault.
TEST_F(SoundFileTest, CutAndMutatedHeadersNeverFault) {
  const int descriptors = open_descriptors();
  const std::string path = dir.file("mutant");
  std::mt19937 random(20240611u);
  int played = 0, refused = 0;
  auto attempt = [&](const Bytes& bytes) {
    ASSERT_TRUE(write_file(path, bytes));
    WvIn r;
    auto lines = open(r, path);
    if (r.isLoaded()) {
      played++;
      for (int i = 0; i < 40; i++) r.tick();
      r.setRate(-0.75);
      for (int i = 0; i < 40; i++) r.tick();
    } else {
      refused++;
      ASSERT_FALSE(lines.empty());
      EXPECT_EQ(lines.back().rfind("[chip](via WvIn): ", 0), 0u) << lines.back();
      EXPECT_EQ(r.tick(), 0.0f);
    }
    WaveLoop loop;
    open(loop, path);
    for (int i = 0; i < 40; i++) loop.tick();
  };
  for (const Bytes& valid : valid_sound_files()) {
    for (size_t n = 0; n <= valid.size(); n++) attempt(Bytes(valid.begin(), valid.begin() + n));
    const uint32_t words[] = {0, 1, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFu};
    for (int m = 0; m < 150; m++) {
      Bytes b = valid;
      const int edits = 1 + int(random() % 4);
      for (int e = 0; e < edits; e++) {
        const size_t at = random() % std::min<size_t>(b.size(), 200);
        if (random() % 2 && at + 4 <= b.size()) {
          const uint32_t w = words[random() % 6];
          std::memcpy(&b[at], &w, 4);
        } else {
          b[at] = uint8_t(random());
        }
      }
      attempt(b);
    }
  }
  EXPECT_GT(played, 0);
  EXPECT_GT(refused, 0);
  EXPECT_EQ(open_descriptors(), descriptors);
}

// Odd chunks are padded; SSND's offset is honoured; 8-bit samples are
// signed except in WAV.
TEST_F(SoundFileTest, PadBytesOffsetsAndSignedBytes) {
  WvIn r;
  ASSERT_TRUE(write_file(dir.file("odd.wav"), wav_with_chunk_first(5, 5)));
  open(r, dir.file("odd.wav"));
  ASSERT_TRUE(r.isLoaded());
  EXPECT_EQ(r.getSize(), 4u);
  EXPECT_EQ(r.data[1], float(int16_t(7 * 2 | (7 * 3) << 8)));

  Bytes aif = aif_header(1, 2, 16, 8000, 4, nullptr, 6);
  put16(aif, 1000, true);
  put16(aif, uint32_t(-2000) & 0xFFFF, true);
  ASSERT_TRUE(write_file(dir.file("off.aif"), aif));
  open(r, dir.file("off.aif"));
  ASSERT_TRUE(r.isLoaded());
  EXPECT_EQ(r.data[0], 1000.0f);
  EXPECT_EQ(r.data[1], -2000.0f);
  EXPECT_EQ(r.fileRate, 8000.0f);

  const unsigned char bytes[] = {0x7F, 0x81, 0x00, 0xFF};
  const float signedValues[] = {127, -127, 0, -1};
  const float wavValues[] = {-1, 1, -128, 127};
  Bytes snd = snd_header(2, 1, 8000, 4), aif8 = aif_header(1, 4, 8, 8000, 4),
        mat8 = mat_header(1, 4, 1, 4), wav8 = wav_header(1, 1, 8000, 8, 4);
  for (Bytes* b : {&snd, &aif8, &mat8, &wav8}) b->insert(b->end(), bytes, bytes + 4);
  const struct {
    const Bytes* file;
    const float* want;
  } cases[] = {
      {&snd, signedValues}, {&aif8, signedValues}, {&mat8, signedValues}, {&wav8, wavValues}};
  for (const auto& c : cases) {
    ASSERT_TRUE(write_file(dir.file("eight"), *c.file));
    open(r, dir.file("eight"));
    ASSERT_TRUE(r.isLoaded());
    for (int i = 0; i < 4; i++) EXPECT_EQ(r.data[i], c.want[i]) << i;
    EXPECT_FLOAT_EQ(r.outputScale(), 1.0f / 127.0f);
  }
}

// The AIFF rate is the 80-bit number decoded, for any exponent.
TEST_F(SoundFileTest, AiffRatesDecodeForEveryExponent) {
  for (uint32_t rate :
       {1u, 2u, 3u, 8000u, 11025u, 22050u, 44100u, 48000u, 96000u, 192000u, 1000000u}) {
    ASSERT_TRUE(write_file(dir.file("r.aif"), with_samples(aif_header(1, 2, 16, rate, 4), 4)));
    WvIn r;
    open(r, dir.file("r.aif"));
    ASSERT_TRUE(r.isLoaded()) << rate;
    EXPECT_EQ(r.fileRate, float(rate));
  }
  // 8000.5 Hz: a fractional rate survives.
  Bytes b = aif_header(1, 2, 16, 8000, 4);
  b[31] = 0x04;  // mantissa bit 50, half a unit below 8000 << 51
  ASSERT_TRUE(write_file(dir.file("f.aif"), with_samples(b, 4)));
  WvIn r;
  open(r, dir.file("f.aif"));
  EXPECT_EQ(r.fileRate, 8000.5f);
  // Absurd rates are refused.
  b = aif_header(1, 2, 16, 8000, 4);
  b[28] = 0x7F;
  ASSERT_TRUE(write_file(dir.file("a.aif"), with_samples(b, 4)));
  EXPECT_EQ(open(r, dir.file("a.aif")).size(), 1u);
  EXPECT_FALSE(r.isLoaded());
}

TEST_F(SoundFileTest, MatRowsAreChannelsAndNarrowTypesAreFoundByTheirTag) {
  Bytes doubles = mat_header(1, 3, 9, 24);
  for (double v : {0.5, -0.25, 1.0}) {
    uint64_t bits;
    std::memcpy(&bits, &v, 8);
    for (int k = 0; k < 8; k++) doubles.push_back(uint8_t(bits >> (8 * k)));
  }
  ASSERT_TRUE(write_file(dir.file("d.mat"), doubles));
  WvIn r;
  open(r, dir.file("d.mat"));
  ASSERT_TRUE(r.isLoaded());
  EXPECT_EQ(r.getChannels(), 1u);
  EXPECT_EQ(r.data[1], -0.25f);
  // A double-class matrix stored as int16 (as writers compress it), with a
  // long name.
  Bytes shorts = mat_header(2, 3, 3, 12, "longer_name");
  for (int v : {100, -200, 300, -400, 500, -600}) put16(shorts, uint32_t(v) & 0xFFFF, false);
  ASSERT_TRUE(write_file(dir.file("s.mat"), shorts));
  open(r, dir.file("s.mat"));
  ASSERT_TRUE(r.isLoaded());
  EXPECT_EQ(r.getChannels(), 2u);
  EXPECT_EQ(r.getSize(), 3u);
  EXPECT_EQ(r.data[3], -400.0f);
  EXPECT_FLOAT_EQ(r.outputScale(), 1.0f / 32767.0f);
}

// After a failed reopen the reader is empty and silent, its old source
// gone: nothing stale plays from a regrown buffer.
TEST_F(SoundFileTest, AFailedReopenLeavesTheReaderEmpty) {
  ASSERT_TRUE(write_file(dir.file("ok.wav"), with_samples(wav_header(1, 2, 44100, 16, 400), 400)));
  WvIn r;
  open(r, dir.file("ok.wav"));
  ASSERT_TRUE(r.isLoaded());
  for (int i = 0; i < 10; i++) r.tick();
  EXPECT_EQ(open(r, "special:nothing").size(), 1u);
  EXPECT_FALSE(r.isLoaded());
  EXPECT_TRUE(r.isFinished());
  EXPECT_EQ(r.getChannels(), 0u);
  EXPECT_EQ(r.getSize(), 0u);
  for (int i = 0; i < 10; i++) EXPECT_EQ(r.tick(), 0.0f);
  WaveLoop loop;
  open(loop, dir.file("ok.wav"));
  open(loop, dir.file("missing.wav"));
  EXPECT_FALSE(loop.isLoaded());
  EXPECT_EQ(loop.addPhase(0.5), 0.0);
  for (int i = 0; i < 10; i++) EXPECT_EQ(loop.tick(), 0.0f);
  // A format code the reader does not know reads zeros.
  open(r, dir.file("ok.wav"));
  r.format = 99;
  r.readData(0);
  for (float x : r.data) EXPECT_EQ(x, 0.0f);
}

TEST_F(SoundFileTest, LongPathsAreCutInMessagesOnly) {
  const std::string path = dir.file(std::string(400, 'p'));
  WvIn r;
  auto lines = open(r, path);
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 255u);
  EXPECT_EQ(r.getPath(), path);
}

TEST_F(SoundFileTest, PlaybackFinishesOrLoops) {
  ASSERT_TRUE(write_file(dir.file("four.wav"), [] {
    Bytes b = wav_header(1, 1, 44100, 16, 8);
    for (int v : {10, 20, 30, 40}) put16(b, uint32_t(v), false);
    return b;
  }()));
  WvIn r;
  open(r, dir.file("four.wav"));
  float out[6];
  r.tick(out, 6);
  const float want[] = {10, 20, 30, 40, 40, 40};
  for (int i = 0; i < 6; i++) EXPECT_EQ(out[i], want[i]);
  EXPECT_TRUE(r.isFinished());
  r.reset();
  r.setRate(-1.0);
  EXPECT_EQ(r.getTime(), 3.0);
  EXPECT_EQ(r.tick(), 40.0f);
  EXPECT_EQ(r.tick(), 30.0f);
  WaveLoop loop;
  open(loop, dir.file("four.wav"));
  loop.tick(out, 6);
  const float looped[] = {10, 20, 30, 40, 10, 20};
  for (int i = 0; i < 6; i++) EXPECT_EQ(out[i], looped[i]);
  loop.setRate(0.5);
  loop.addTime(-1.5);  // from 2 to 0.5
  EXPECT_EQ(loop.tick(), 15.0f);
  loop.addTime(2.0);  // from 1 to 3: between 40 and the first frame again
  EXPECT_EQ(loop.tick(), 40.0f);
  EXPECT_EQ(loop.tick(), 25.0f);
}

// Huge, infinite and NaN settings of a loop neither hang nor read outside
// its data; non-finite ones are ignored.
TEST_F(SoundFileTest, LoopingSurvivesHostileSettings) {
  const double values[] = {kNaN, kInf, -kInf, 1e300, -1e300, 1e30, -1e30, 3e38, 1e-30, -0.5, 2.5};
  for (double v : values) {
    WaveLoop loop("special:sinewave", false, true);
    loop.setRate(v);
    loop.addTime(v);
    loop.addPhaseOffset(v);
    loop.setFrequency(v);
    loop.addPhase(v);
    for (int i = 0; i < 100; i++) {
      const float y = loop.tick();
      ASSERT_TRUE(std::fabs(y) <= 1.0f) << v;
      ASSERT_GE(loop.getTime(), 0.0);
    }
    EXPECT_TRUE(std::isfinite(loop.rate)) << v;
    WvIn once("special:sinewave", false, true, true);
    once.setRate(v);
    once.addTime(v);
    for (int i = 0; i < 10; i++) ASSERT_TRUE(std::fabs(once.tick()) <= 1.0f);
  }
  WaveLoop loop("special:sinewave", false, false);
  EXPECT_DOUBLE_EQ(loop.addPhase(0.5), 0.5);
  EXPECT_EQ(loop.getTime(), 512.0);
  EXPECT_DOUBLE_EQ(loop.addPhase(0.75), 0.25);
  loop.addPhaseOffset(0.25);
  EXPECT_EQ(loop.phaseOffset, 256.0f);
}

// A sparse WAV of `frames` 16-bit mono frames whose samples at `marks`
// hold values of their own.
void sparse_wav(const std::string& path, uint64_t frames, const std::vector<uint64_t>& marks) {
  Bytes header = wav_header(1, 1, 44100, 16, uint32_t(frames * 2));
  ASSERT_TRUE(write_file(path, header));
  int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t(44 + frames * 2)), 0);
  for (uint64_t m : marks) {
    const int16_t v = int16_t(1 + m % 30000);
    ASSERT_EQ(pwrite(fd, &v, 2, off_t(44 + m * 2)), 2);
  }
  close(fd);
}

// 5,000,000 frames are read whole, 5,000,001 in windows; interpolating
// across every window edge, the two give the same samples.
TEST_F(SoundFileTest, WindowedReadsEqualWholeReads) {
  std::vector<uint64_t> marks;
  for (uint64_t f : {0ull, 1ull, 1023ull, 1024ull, 1025ull, 2047ull, 2048ull, 4095ull, 3000000ull,
                     3000063ull, 3000064ull, 4999998ull, 4999999ull}) {
    marks.push_back(f);
  }
  sparse_wav(dir.file("whole.wav"), 5000000, marks);
  marks.push_back(5000000);
  sparse_wav(dir.file("windows.wav"), 5000001, marks);
  WvIn whole, windows;
  open(whole, dir.file("whole.wav"));
  open(windows, dir.file("windows.wav"));
  ASSERT_TRUE(whole.isLoaded());
  ASSERT_TRUE(windows.isLoaded());
  EXPECT_FALSE(whole.chunking);
  EXPECT_TRUE(windows.chunking);
  EXPECT_EQ(windows.getSize(), 5000001u);
  for (uint64_t m : marks) {
    if (m >= 4999990) continue;  // the two files differ in their last frame
    for (double start : {double(m) - 0.5, double(m), double(m) + 0.25}) {
      if (start < 0) continue;
      for (WvIn* r : {&whole, &windows}) {
        r->reset();
        r->setRate(0.5);
        r->addTime(start);
      }
      for (int i = 0; i < 4 && !whole.isFinished(); i++) {
        ASSERT_EQ(whole.tick(), windows.tick()) << start;
      }
    }
  }
  for (WvIn* r : {&whole, &windows}) {
    r->reset();
    r->setRate(1.0);
    r->addTime(4999998);
    EXPECT_EQ(r->tick(), float(1 + 4999998 % 30000));
    EXPECT_EQ(r->tick(), float(1 + 4999999 % 30000));
  }
  EXPECT_TRUE(whole.isFinished());
  EXPECT_EQ(windows.tick(), float(1 + 5000000 % 30000));
  EXPECT_TRUE(windows.isFinished());
}

// A loop over a windowed source wraps its interpolation to the source's
// first frame, not the last window's.
TEST_F(SoundFileTest, AWindowedLoopWrapsToTheFirstFrame) {
  sparse_wav(dir.file("loop.wav"), 5000001, {0, 5000000});
  WaveLoop loop;
  open(loop, dir.file("loop.wav"));
  ASSERT_TRUE(loop.chunking);
  loop.setRate(0.5);
  loop.addTime(5000000.5);
  const float first = 1.0f, last = float(1 + 5000000 % 30000);
  EXPECT_EQ(loop.tick(), last + 0.5f * (first - last));
  EXPECT_EQ(loop.tick(), first);
}

// A source whose buffer would pass the cap is refused, not allocated.
TEST_F(SoundFileTest, BuffersPastTheCapAreRefused) {
  const uint32_t channels = 65535, frames = 1024;  // 1025 x 65535 floats > 2^26
  Bytes header = wav_header(1, channels, 8000, 8, channels * frames);
  ASSERT_TRUE(write_file(dir.file("wide.wav"), header));
  ASSERT_EQ(truncate(dir.file("wide.wav").c_str(), off_t(44 + uint64_t(channels) * frames)), 0);
  WvIn r;
  auto lines = open(r, dir.file("wide.wav"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0], "[chip](via WvIn): File (" + dir.file("wide.wav") +
                          ") needs a larger buffer than the reader allows (67173375 samples).");
  EXPECT_FALSE(r.isLoaded());
  EXPECT_EQ(r.fd, -1);
}

// Past 2^24 frames the read position still moves one frame per tick.
TEST_F(SoundFileTest, PlaybackPast2To24FramesKeepsAdvancing) {
  const uint64_t base = uint64_t(1) << 24;
  std::vector<uint64_t> marks;
  for (uint64_t k = 0; k < 24; k++) marks.push_back(base - 4 + k);
  sparse_wav(dir.file("long.wav"), base + 100, marks);
  WvIn r;
  open(r, dir.file("long.wav"));
  ASSERT_TRUE(r.chunking);
  r.addTime(double(base - 4));
  for (uint64_t k = 0; k < 24; k++) {
    EXPECT_EQ(r.tick(), float(1 + (base - 4 + k) % 30000)) << k;
  }
  EXPECT_EQ(r.getTime(), double(base + 20));
}

// The fuzz target's seeds are the valid headers these tests start from.
TEST_F(SoundFileTest, FuzzSeedsAreTheValidHeaders) {
  const std::string folder = std::string(FLUVANE_TESTS_DIR) + "/fuzz/seeds/syn_wvin";
  std::vector<Bytes> seeds;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    seeds.push_back(read_file(entry.path().string()));
  }
  const std::vector<Bytes> valid = valid_sound_files();
  EXPECT_EQ(seeds.size(), valid.size());
  for (const Bytes& b : valid) {
    EXPECT_NE(std::find(seeds.begin(), seeds.end(), b), seeds.end());
    ASSERT_TRUE(write_file(dir.file("seed"), b));
    WvIn r;
    open(r, dir.file("seed"));
    EXPECT_TRUE(r.isLoaded());
  }
}

}  // namespace
