// Snippet packets and their text form.
#include "recorder/FluvaneSnippet.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

// A packet of n entries with the given header.
std::string packetOf(size_t n, uint32_t header = kSnippetHeader) {
  FluvaneSnippet s;
  s.header = header;
  s.root = 62;
  s.mode = 3;
  s.duration = 1234.5f;
  for (size_t i = 0; i < n; i++) {
    s.snapshots.push_back({static_cast<float>(i) * 0.5f, static_cast<uint32_t>(0x01020300 + i)});
  }
  EXPECT_TRUE(prepare(s));
  return s.packet;
}

TEST(FluvaneSnippet, PacketLengthsAreCheckedBeforeAnythingIsRead) {
  struct Case {
    size_t length;
    bool valid;
  };
  const Case cases[] = {{0, false},  {16, false}, {23, false},
                        {24, true},  {28, false}, {32, true},
                        {16 + 8 * 1000, true},    {16 + 8 * kMaxSnapshots, true},
                        {16 + 8 * (kMaxSnapshots + 1), false}};
  for (const Case& c : cases) {
    EXPECT_EQ(validPacketLength(c.length), c.valid) << c.length;
    std::string bytes(c.length, '\x11');
    EXPECT_EQ(snippetFromPacket(bytes).has_value(), c.valid) << c.length;
  }
}

TEST(FluvaneSnippet, PacketIsLittleEndianWordsThenEntries) {
  std::string packet = packetOf(2);
  ASSERT_EQ(packet.size(), 32u);
  const auto* p = reinterpret_cast<const unsigned char*>(packet.data());
  EXPECT_EQ(p[0], 0x01);
  EXPECT_EQ(p[1], 0x01);
  EXPECT_EQ(p[2], 0xED);
  EXPECT_EQ(p[3], 0xFE);
  EXPECT_EQ(readLE32(p + 4), 62u);
  EXPECT_EQ(readLE32(p + 8), 3u);
  EXPECT_EQ(readLEFloat(p + 12), 1234.5f);
  EXPECT_EQ(readLEFloat(p + 24), 0.5f);
  EXPECT_EQ(readLE32(p + 28), 0x01020301u);

  std::optional<FluvaneSnippet> back = snippetFromPacket(packet);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->header, kSnippetHeader);
  EXPECT_EQ(back->root, 62u);
  EXPECT_EQ(back->mode, 3u);
  EXPECT_EQ(back->duration, 1234.5f);
  ASSERT_EQ(back->snapshots.size(), 2u);
  EXPECT_EQ(back->snapshots[1].state, 0x01020301u);
  EXPECT_EQ(back->packet, packet);
}

TEST(FluvaneSnippet, CopyIsIndependentAndPrepared) {
  FluvaneSnippet s;
  s.snapshots = {{0.0f, 5}, {10.0f, 6}};
  s.manual = true;
  std::unique_ptr<FluvaneSnippet> copy = CopySnipet(s);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->packet.size(), 32u);
  EXPECT_TRUE(copy->manual);
  s.snapshots.clear();
  EXPECT_EQ(copy->snapshots.size(), 2u);
}

TEST(FluvaneSnippet, TextRoundTrip) {
  FluvaneSnippet s;
  s.root = 67;
  s.mode = 5;
  s.duration = 48000.25f;
  s.snapshots = {{0.0f, 1}, {1600.5f, 0x80604003u}, {3.25f, 0xFFFFFFFFu}};
  std::string text = snippetText(s);
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "header: -18022143, root: 67, mode: 5, duration: 48000.250000, snapshots: 3");
  EXPECT_NE(text.find("\ns 1600.500000 -2141175805\n"), std::string::npos);

  FluvaneSnippet back;
  ASSERT_TRUE(parseSnippetText(back, text));
  EXPECT_EQ(back.header, kSnippetHeader);
  EXPECT_EQ(back.root, 67u);
  EXPECT_EQ(back.mode, 5u);
  EXPECT_EQ(back.duration, 48000.25f);
  ASSERT_EQ(back.snapshots.size(), 3u);
  for (size_t i = 0; i < 3; i++) {
    EXPECT_EQ(back.snapshots[i].delta, s.snapshots[i].delta);
    EXPECT_EQ(back.snapshots[i].state, s.snapshots[i].state);
  }
  EXPECT_EQ(back.packet.size(), 16u + 8u * 3u);
}

TEST(FluvaneSnippet, TextIsTheSameInAnyLocale) {
  FluvaneSnippet s;
  s.duration = 0.5f;
  s.snapshots = {{2.5f, 1}};
  std::string before = snippetText(s);
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  std::string saved = old ? old : "C";
  if (!std::setlocale(LC_NUMERIC, "de_DE.UTF-8") && !std::setlocale(LC_NUMERIC, "fr_FR.UTF-8")) {
    GTEST_SKIP() << "no locale with a decimal comma installed";
  }
  std::string after = snippetText(s);
  FluvaneSnippet back;
  bool parsed = parseSnippetText(back, before);
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(before, after);
  EXPECT_TRUE(parsed);
  EXPECT_EQ(back.snapshots.at(0).delta, 2.5f);
}

TEST(FluvaneSnippet, BrokenTextsGiveNoSnapshots) {
  const std::string head = "header: -18022143, root: 60, mode: 0, duration: 10.000000, ";
  const char* const cases[] = {
      // The count says 3, two lines follow.
      "snapshots: 3\ns 0.000000 1\ns 5.000000 2\n",
      // A count no recording can hold, then the first lines.
      "snapshots: 2147483647\ns 0.000000 1\n",
      "snapshots: 2147483648\ns 0.000000 1\n",
      "snapshots: -1\ns 0.000000 1\n",
      "snapshots: 65537\ns 0.000000 1\n",
      // Malformed lines.
      "snapshots: 1\nx 0.000000 1\n",
      "snapshots: 1\ns nan 1\n",
      "snapshots: 1\ns 1e300 1\n",
      "snapshots: 1\ns 0.0 99999999999\n",
      "snapshots: 1\ns 0.0\n",
      "snapshots: 1\ns  1\n",
      "snapshots: one\ns 0.0 1\n",
      "snapshots: 0\n",
  };
  for (const char* tail : cases) {
    FluvaneSnippet s;
    s.snapshots = {{1.0f, 1}};
    EXPECT_FALSE(parseSnippetText(s, head + tail)) << tail;
    EXPECT_TRUE(s.snapshots.empty()) << tail;
    EXPECT_EQ(s.packet.size(), 16u) << tail;
  }
  for (const char* text : {"", "\n", "header: x", "header: 1, root: 2", "s 0.0 1\n"}) {
    FluvaneSnippet s;
    EXPECT_FALSE(parseSnippetText(s, text)) << text;
    EXPECT_TRUE(s.snapshots.empty());
  }
}

TEST(FluvaneSnippet, FilesSaveAndLoad) {
  FluvaneSnippet s;
  s.snapshots = {{0.0f, 7}, {100.0f, 8}};
  std::string path = ::testing::TempDir() + "/fluvane_snippet_test.txt";
  ASSERT_TRUE(saveSnippet(s, path));
  FluvaneSnippet back;
  EXPECT_TRUE(loadSnippet(back, path));
  EXPECT_EQ(back.snapshots.size(), 2u);
  FluvaneSnippet missing;
  EXPECT_FALSE(loadSnippet(missing, path + ".none"));
  EXPECT_TRUE(missing.packet.empty());
}

}  // namespace

namespace {

TEST(FluvaneSnippet, TheHelpTuneLoads) {
  FluvaneSnippet tune;
  ASSERT_TRUE(loadSnippet(tune, FLUVANE_TUTORIAL));
  EXPECT_EQ(tune.header, kSnippetHeader);
  EXPECT_EQ(tune.root, 60u);
  ASSERT_EQ(tune.snapshots.size(), 26u);
  EXPECT_EQ(tune.packet.size(), 16u + 8u * 26u);
  float total = 0.0f;
  for (size_t i = 0; i < tune.snapshots.size(); i++) {
    const FluvaneSnapshot& s = tune.snapshots[i];
    EXPECT_LE(s.state & 0xFF, 15u);
    // Notes sound with breath, the gaps between them without.
    EXPECT_EQ((s.state >> 8) & 0xFF, i % 2 == 0 ? 89u : 0u) << i;
    total += s.delta;
  }
  EXPECT_LT(total, tune.duration);
}

}  // namespace
