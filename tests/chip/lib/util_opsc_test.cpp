// Open Sound Control without sockets: the writer's bytes against hand-
// computed packets, the decoder on those packets and on a table of
// malformed datagrams, address patterns, and the address spaces' queues.
#include "chip/lib/util_opsc.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "chip/util/chip_errmsg.h"
#include "log_capture.h"

namespace {

// The bytes as 32-bit big-endian words in hex, blank-separated.
std::string words(const std::string& bytes) {
  std::string out;
  static const char digits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); i++) {
    if (i && i % 4 == 0) out += ' ';
    unsigned char b = static_cast<unsigned char>(bytes[i]);
    out += digits[b >> 4];
    out += digits[b & 15];
  }
  return out;
}

// Bytes from hex words ("2f610000 2c690000").
std::string bytes(const std::string& hex) {
  std::string out;
  int nibble = -1;
  for (char c : hex) {
    int v = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (v < 0) continue;
    if (nibble < 0) {
      nibble = v;
    } else {
      out += static_cast<char>(nibble * 16 + v);
      nibble = -1;
    }
  }
  return out;
}

// A transmitter that records what it sends (it has no destination: the
// socket send fails quietly, the record is kept).
struct Writer {
  OSC_Transmitter osc;
  std::vector<std::string> sent;
  Writer() { osc.record_sent(&sent); }
  std::vector<std::string> hex() const {
    std::vector<std::string> out;
    for (const std::string& s : sent) out.push_back(words(s));
    return out;
  }
};

const char kBundleHead[] = "2362756e 646c6500 00000000 00000001";

// ---------------------------------------------------------------------------
// Writer

TEST(OscWriter, MessagesHaveTheHandComputedBytes) {
  struct Case {
    const char* name;
    void (*write)(OSC_Transmitter&);
    std::vector<std::string> sent;
  };
  const Case cases[] = {
      {"int and float",
       [](OSC_Transmitter& o) {
         o.startMessage("/a", "if");
         o.addInt(1);
         o.addFloat(0.5f);
       },
       {"2f610000 2c696600 00000001 3f000000"}},
      {"string of 3 characters: 4 bytes",
       [](OSC_Transmitter& o) {
         o.startMessage("/s", "s");
         o.addString("abc");
       },
       {"2f730000 2c730000 61626300"}},
      {"string of 4 characters: 8 bytes",
       [](OSC_Transmitter& o) {
         o.startMessage("/s", "s");
         o.addString("abcd");
       },
       {"2f730000 2c730000 61626364 00000000"}},
      {"empty tag list: complete at once",
       [](OSC_Transmitter& o) { o.startMessage("/e", ""); },
       {"2f650000 2c000000"}},
      {"spec with blanks and commas",
       [](OSC_Transmitter& o) {
         o.startMessage("/x ,i f");
         o.addInt(-2);
         o.addFloat(-1.0f);
       },
       {"2f780000 2c696600 fffffffe bf800000"}},
      {"float 0.1 as the nearest single",
       [](OSC_Transmitter& o) {
         o.startMessage("/f", "f");
         o.addFloat(0.1f);
       },
       {"2f660000 2c660000 3dcccccd"}},
      {"flat bundle: /a ,fi 0.5 1 then /b ,i 2",
       [](OSC_Transmitter& o) {
         o.openBundle(OSCTT_Immediately());
         o.startMessage("/a", "fi");
         o.addFloat(0.5f);
         o.addInt(1);
         o.startMessage("/b", "i");
         o.addInt(2);
         o.closeBundle();
       },
       {std::string(kBundleHead) + " 00000010 2f610000 2c666900 3f000000 00000001"
                                   " 0000000c 2f620000 2c690000 00000002"}},
      {"nested bundle: inner size counts its header and messages",
       [](OSC_Transmitter& o) {
         o.openBundle(OSCTT_Immediately());
         o.openBundle(OSCTT_Immediately());
         o.startMessage("/a", "i");
         o.addInt(1);
         o.closeBundle();
         o.startMessage("/b", "i");
         o.addInt(2);
         o.closeBundle();
       },
       {std::string(kBundleHead) + " 00000020 " + kBundleHead +
        " 0000000c 2f610000 2c690000 00000001"
        " 0000000c 2f620000 2c690000 00000002"}},
      {"held packets leave on kick",
       [](OSC_Transmitter& o) {
         o.holdMessage(true);
         o.startMessage("/h", "i");
         o.addInt(7);
         o.kickMessage();
       },
       {"2f680000 2c690000 00000007"}},
  };
  for (const Case& c : cases) {
    Writer w;
    std::vector<std::string> printed = printed_lines([&] { c.write(w.osc); });
    EXPECT_EQ(w.hex(), c.sent) << c.name;
    EXPECT_TRUE(printed.empty()) << c.name << ": " << (printed.empty() ? "" : printed[0]);
    EXPECT_EQ(OSC_packetSize(&w.osc.state()), 0) << c.name;
  }
}

TEST(OscWriter, NothingLeavesBeforeTheLastArgument) {
  Writer w;
  w.osc.startMessage("/a", "if");
  w.osc.addInt(1);
  EXPECT_TRUE(w.sent.empty());
  w.osc.addFloat(0.5f);
  EXPECT_EQ(w.sent.size(), 1u);
}

TEST(OscWriter, ThirtySecondBundleIsRefused) {
  Writer w;
  for (int i = 0; i < 31; i++)
    ASSERT_EQ(OSC_openBundle(const_cast<OSCbuf*>(&w.osc.state()), OSCTT_Immediately()), OSC_OK)
        << i;
  OSCbuf* buf = const_cast<OSCbuf*>(&w.osc.state());
  int size = OSC_packetSize(buf);
  EXPECT_EQ(OSC_openBundle(buf, OSCTT_Immediately()), OSC_ERR_NESTING);
  EXPECT_STREQ(OSC_errorMessage,
               "Bundles nested too deeply; change MAX_BUNDLE_NESTING in OpenSoundControl.h");
  EXPECT_EQ(OSC_packetSize(buf), size);
  EXPECT_EQ(buf->bundle_depth, 31);
}

TEST(OscWriter, KickMidBundleSendsTheBytesAsTheyAre) {
  Writer w;
  std::vector<std::string> printed = printed_lines([&] {
    w.osc.openBundle(OSCTT_Immediately());
    w.osc.startMessage("/a", "i");
    w.osc.addInt(3);
    w.osc.kickMessage();
  });
  ASSERT_EQ(printed.size(), 1u);
  EXPECT_EQ(printed[0], "[chip](via OSC): error -> sending incomplete packet!");
  // The message's size word is still the placeholder.
  EXPECT_EQ(w.hex(), std::vector<std::string>{std::string(kBundleHead) +
                                              " bbbbbbbb 2f610000 2c690000 00000003"});
  EXPECT_EQ(OSC_packetSize(&w.osc.state()), 0);
}

TEST(OscWriter, MismatchesAreRefusedWithTheirTexts) {
  struct Case {
    const char* name;
    void (*write)(OSC_Transmitter&);
    std::vector<std::string> printed;
    std::vector<std::string> sent;
  };
  const Case cases[] = {
      {"int where a float is expected",
       [](OSC_Transmitter& o) {
         o.startMessage("/a", "fi");
         o.addInt(1);
         o.addFloat(0.5f);
         o.addInt(1);
       },
       {"* Expected i, string now fi",
        "[chip](via OSC): error writing packet: 9 According to the type tag I expected an "
        "argument of a different type."},
       {"2f610000 2c666900 3f000000 00000001"}},
      {"an argument after the last tag",
       [](OSC_Transmitter& o) {
         o.openBundle(OSCTT_Immediately());
         o.startMessage("/a", "i");
         o.addInt(1);
         o.addInt(2);
         o.closeBundle();
       },
       {"[chip](via OSC): error writing packet: 9 According to the type tag I didn't expect any "
        "more arguments."},
       {std::string(kBundleHead) + " 0000000c 2f610000 2c690000 00000001"}},
      {"closing with arguments missing",
       [](OSC_Transmitter& o) {
         o.openBundle(OSCTT_Immediately());
         o.startMessage("/a", "ii");
         o.addInt(1);
         o.closeBundle();
         o.addInt(2);
         o.closeBundle();
       },
       {},
       {std::string(kBundleHead) + " 00000010 2f610000 2c696900 00000001 00000002"}},
      {"a string where an int is expected",
       [](OSC_Transmitter& o) {
         o.startMessage("/a", "i");
         o.addString("x");
         o.addInt(4);
       },
       {"* Expected s, string now i",
        "[chip](via OSC): error writing packet: 9 According to the type tag I expected an "
        "argument of a different type."},
       {"2f610000 2c690000 00000004"}},
      {"a null string",
       [](OSC_Transmitter& o) {
         o.startMessage("/a", "s");
         o.addString(nullptr);
         o.addString("");
       },
       {"[chip](via OSC): error writing packet: 6 Can't write a null string"},
       {"2f610000 2c730000 00000000"}},
  };
  for (const Case& c : cases) {
    Writer w;
    std::vector<std::string> printed = printed_lines([&] { c.write(w.osc); });
    EXPECT_EQ(printed, c.printed) << c.name;
    EXPECT_EQ(w.hex(), c.sent) << c.name;
  }
}

TEST(OscWriter, ClosingWithArgumentsMissingNamesTheReason) {
  Writer w;
  w.osc.openBundle(OSCTT_Immediately());
  w.osc.startMessage("/a", "ii");
  w.osc.addInt(1);
  OSCbuf* buf = const_cast<OSCbuf*>(&w.osc.state());
  EXPECT_EQ(OSC_closeBundle(buf), OSC_ERR_TYPE);
  EXPECT_STREQ(OSC_errorMessage, "According to the type tag I expected more arguments.");
}

TEST(OscWriter, AddressAndTagsMustBothFitBeforeEitherIsWritten) {
  char storage[8];
  OSCbuf buf;
  OSC_initBuffer(&buf, sizeof storage, storage);
  // The address alone would fit (8 bytes); with its tags it does not.
  EXPECT_EQ(OSC_writeAddressAndTypes(&buf, "/abcdef", ",i"), OSC_ERR_OVERFLOW);
  EXPECT_EQ(OSC_packetSize(&buf), 0);
  EXPECT_EQ(buf.packet_state, 0);
  EXPECT_EQ(OSC_writeAddressAndTypes(&buf, "/a", ",i"), OSC_OK);
  EXPECT_EQ(OSC_packetSize(&buf), 8);
  // No room for the argument: nothing written, the tag still expected.
  EXPECT_EQ(OSC_writeIntArg(&buf, 1), OSC_ERR_OVERFLOW);
  EXPECT_EQ(OSC_packetSize(&buf), 8);
  ASSERT_NE(buf.type_cursor, nullptr);
  EXPECT_EQ(*buf.type_cursor, 'i');
}

TEST(OscWriter, SpecsOverTheWorkingBufferAreRefused) {
  Writer w;
  std::string address = "/" + std::string(507, 'a');  // 508 characters
  std::vector<std::string> printed = printed_lines([&] {
    EXPECT_TRUE(w.osc.startMessage(address.c_str(), "i"));  // 509 in all
    w.osc.addInt(1);
    EXPECT_FALSE(w.osc.startMessage(address.c_str(), "ii"));  // 510
    EXPECT_FALSE(w.osc.startMessage((address + "a,i").c_str()));
    EXPECT_FALSE(w.osc.startMessage(nullptr));
    EXPECT_FALSE(w.osc.startMessage("/a", nullptr));
  });
  EXPECT_EQ(w.sent.size(), 1u);
  EXPECT_EQ(printed.size(), 4u);
  EXPECT_EQ(OSC_packetSize(&w.osc.state()), 0);
}

TEST(OscWriter, ASecondAddressNeedsABundle) {
  Writer w;
  w.osc.holdMessage(true);
  w.osc.startMessage("/a", "i");
  w.osc.addInt(1);
  OSCbuf* buf = const_cast<OSCbuf*>(&w.osc.state());
  EXPECT_EQ(OSC_writeAddress(buf, "/b"), OSC_ERR_NOT_BUNDLE);
  EXPECT_EQ(OSC_openBundle(buf, OSCTT_Immediately()), OSC_ERR_BUNDLE_IN_MSG);
  EXPECT_EQ(OSC_closeBundle(buf), OSC_ERR_NO_BUNDLE);
}

// ---------------------------------------------------------------------------
// Decoder

// A receiver with spaces for the writer's addresses; values read back.
struct Delivery {
  OSC_Receiver receiver;
  OSC_Address_Space a_if{"/a,if"};
  OSC_Address_Space a_fi{"/a,fi"};
  OSC_Address_Space a_i{"/a,i"};
  OSC_Address_Space b_i{"/b,i"};
  OSC_Address_Space s_s{"/s,s"};
  OSC_Address_Space blob{"/blob,bi"};
  Delivery() {
    for (OSC_Address_Space* s : {&a_if, &a_fi, &a_i, &b_i, &s_s, &blob}) receiver.add_address(s);
  }
  int unread() {
    int n = 0;
    for (OSC_Address_Space* s : {&a_if, &a_fi, &a_i, &b_i, &s_s, &blob}) n += s->unread();
    return n;
  }
};

TEST(OscDecoder, WrittenPacketsRoundTrip) {
  Delivery d;
  Writer w;
  w.osc.startMessage("/a", "if");
  w.osc.addInt(1);
  w.osc.addFloat(0.5f);
  w.osc.startMessage("/s", "s");
  w.osc.addString("abcd");
  w.osc.openBundle(OSCTT_Immediately());
  w.osc.startMessage("/a", "fi");
  w.osc.addFloat(0.25f);
  w.osc.addInt(9);
  w.osc.openBundle(OSCTT_Immediately());
  w.osc.openBundle(OSCTT_Immediately());
  w.osc.startMessage("/b", "i");
  w.osc.addInt(2);
  w.osc.closeBundle();
  w.osc.startMessage("/b", "i");
  w.osc.addInt(3);
  w.osc.closeBundle();
  w.osc.startMessage("/b", "i");
  w.osc.addInt(4);
  w.osc.closeBundle();
  ASSERT_EQ(w.sent.size(), 3u);
  for (const std::string& packet : w.sent) d.receiver.onReceive(packet.data(), (int)packet.size());

  ASSERT_TRUE(d.a_if.next_mesg());
  EXPECT_EQ(d.a_if.next_int(), 1);
  EXPECT_EQ(d.a_if.next_float(), 0.5f);
  ASSERT_TRUE(d.s_s.next_mesg());
  std::string text;
  EXPECT_TRUE(d.s_s.next_string(&text));
  EXPECT_EQ(text, "abcd");
  ASSERT_TRUE(d.a_fi.next_mesg());
  EXPECT_EQ(d.a_fi.next_float(), 0.25f);
  EXPECT_EQ(d.a_fi.next_int(), 9);
  // Three levels deep, in order.
  for (int want : {2, 3, 4}) {
    ASSERT_TRUE(d.b_i.next_mesg()) << want;
    EXPECT_EQ(d.b_i.next_int(), want);
  }
  EXPECT_EQ(d.unread(), 0);
}

TEST(OscDecoder, BlobsAreQueuedButAreNeitherStringsNorInts) {
  Delivery d;
  std::string packet = bytes("2f626c6f 62000000 2c626900 00000005 68656c6c 6f000000 00000007");
  d.receiver.onReceive(packet.data(), (int)packet.size());
  ASSERT_TRUE(d.blob.next_mesg());
  std::string text;
  EXPECT_FALSE(d.blob.next_string(&text));  // a blob is no string
  d.blob.next_int();                        // still at the blob: refused too
  EXPECT_EQ(d.blob.unread(), 0);
}

TEST(OscDecoder, MalformedDatagramsQueueNothing) {
  const std::string good = bytes("2f610000 2c690000 0000002a");
  const std::string head = kBundleHead;
  struct Case {
    const char* name;
    std::string datagram;
  };
  // Bundles nested 70 deep around a good message.
  std::string deep = good;
  for (int i = 0; i < 70; i++) {
    uint32_t size = htonl(static_cast<uint32_t>(deep.size()));
    deep = bytes(head) + std::string(reinterpret_cast<const char*>(&size), 4) + deep;
  }
  std::vector<Case> cases = {
      {"bundle under 16 bytes", bytes("2362756e 646c6500 00000000")},
      {"not #bundle", bytes("2362756e 646c6578 00000000 00000001 0000000c") + good},
      {"element size negative", bytes(head + " fffffff4") + good},
      {"element size unaligned", bytes(head + " 0000000b") + good},
      {"element size past the end", bytes(head + " 00000010") + good},
      {"element size zero", bytes(head + " 00000000") + good},
      {"element size truncated", bytes(head + " 0000")},
      {"address without its zero", bytes("2f612f62 2f632f64")},
      {"tags without their zero", bytes("2f610000 2c696969")},
      {"address filling the message without its zero", bytes("2f616263")},
      {"int past the end", bytes("2f610000 2c690000")},
      {"int cut short", bytes("2f610000 2c690000 000000")},
      {"string without its zero", bytes("2f730000 2c730000 61626364")},
      {"blob size past the end", bytes("2f626c6f 62000000 2c626900 00000064 00000000 00000001")},
      {"blob size negative", bytes("2f626c6f 62000000 2c626900 ffffffff 00000001")},
      {"good message, then a bad element",
       bytes(head + " 0000000c") + good + bytes("0000000c 2f610000 2c690000")},
      {"nested bundle too short", bytes(head + " 00000008 2362756e 646c6500") + good},
      {"nesting over 64 deep", deep},
      {"nothing", std::string()},
  };
  for (const Case& c : cases) {
    Delivery d;
    std::vector<OSC_Message> out;
    EXPECT_FALSE(osc_decode(c.datagram.data(), c.datagram.size(), &out)) << c.name;
    EXPECT_TRUE(out.empty()) << c.name;
    d.receiver.onReceive(c.datagram.data(), (int)c.datagram.size());
    EXPECT_EQ(d.unread(), 0) << c.name;
    // The next good datagram still arrives.
    d.receiver.onReceive(good.data(), (int)good.size());
    ASSERT_TRUE(d.a_i.next_mesg()) << c.name;
    EXPECT_EQ(d.a_i.next_int(), 42) << c.name;
  }
}

TEST(OscDecoder, UntypedMessagesMatchNoSpace) {
  Delivery d;
  std::string untyped = bytes("2f610000 0000002a");
  d.receiver.onReceive(untyped.data(), (int)untyped.size());
  EXPECT_EQ(d.unread(), 0);
}

// ---------------------------------------------------------------------------
// Patterns

TEST(OscPattern, MatchesAsTheTableSays) {
  struct Case {
    const char* pattern;
    const char* test;
    bool match;
  };
  const Case cases[] = {
      {"/a/[!b]c", "/a/ac", true},
      {"/a/[!b]c", "/a/!c", true},
      {"/a/[!b]c", "/a/bc", false},
      {"/a/{x,yz}", "/a/x", true},
      {"/a/{x,yz}", "/a/yz", true},
      {"/a/{x,yz}", "/a/", false},
      {"/a/[a-c]", "/a/b", true},
      {"/a/[a-c]", "/a/-", false},
      {"/a/[x-]", "/a/-", true},
      {"/foo/*", "/foo/bar", true},
      {"/foo/bar", "/foo/*", false},
      {"*", "", true},
      {"", "", true},
      {"", "/a", false},
      {"/a?", "/ab", true},
      {"/a?", "/a", false},
      {"/a*b", "/a/x/b", true},
      {"/a*b", "/a/x/c", false},
      {"\\*", "*", true},
      {"\\*", "x", false},
      {"/a\\", "/a", false},
      {"/{ab,a}c", "/ac", true},
      {"/{a,ab}c", "/abc", true},
      {"**/z", "/y/z", true},
      {"/[]x", "/x", false},
      {"*{a,b}*{c,d}", "xxbyyd", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(PatternMatch(c.pattern, c.test), c.match) << c.pattern << " vs " << c.test;
  }
}

TEST(OscPattern, MalformedPatternsPrintAndFail) {
  struct Case {
    const char* pattern;
    const char* line;
  };
  const Case cases[] = {
      {"/a[bc", "[chip](via OSC): unterminated [ in pattern \".../[bc/...\""},
      {"/a{b,c", "[chip](via OSC): unterminated { in pattern \".../{b,c/...\""},
      {"/a]b", "[chip](via OSC): spurious ] in pattern \".../]b/...\""},
      {"/a}", "[chip](via OSC): spurious } in pattern \".../}/...\""},
  };
  for (const Case& c : cases) {
    bool matched = true;
    std::vector<std::string> printed =
        printed_lines([&] { matched = PatternMatch(c.pattern, "/ab"); });
    EXPECT_FALSE(matched) << c.pattern;
    EXPECT_EQ(printed, std::vector<std::string>{c.line}) << c.pattern;
  }
}

TEST(OscPattern, StarsAgainstALongAddressTakeLinearSteps) {
  // "*a*a...*a*b" against 4,000 characters: exponential for a naive
  // backtracking matcher, a few thousand steps here.
  std::string pattern;
  for (int i = 0; i < 200; i++) pattern += "*a";
  pattern += "*b";
  std::string address(4000, 'a');
  OSC_Pattern p;
  ASSERT_TRUE(p.compile(pattern.c_str()));
  EXPECT_FALSE(p.match(address.data(), address.size()));
  EXPECT_FALSE(p.exhausted());
  EXPECT_LT(p.steps(), 4 * (pattern.size() + address.size()));
  address.back() = 'b';
  EXPECT_TRUE(p.match(address.data(), address.size()));
  EXPECT_LT(p.steps(), 4 * (pattern.size() + address.size()));
  // Stars between variable-length alternatives keep their records too.
  pattern.clear();
  for (int i = 0; i < 100; i++) pattern += "*{a,aa}";
  pattern += "*b";
  ASSERT_TRUE(p.compile(pattern.c_str()));
  address.back() = 'a';
  EXPECT_FALSE(p.match(address.data(), address.size()));
  EXPECT_FALSE(p.exhausted());
}

TEST(OscPattern, AStepBudgetBoundsAnyPattern) {
  // Alternatives without stars: every split of the a's is a path.
  std::string pattern;
  for (int i = 0; i < 60; i++) pattern += "{a,aa}";
  pattern += "b";
  std::string address(90, 'a');
  OSC_Pattern p;
  ASSERT_TRUE(p.compile(pattern.c_str()));
  EXPECT_FALSE(p.match(address.data(), address.size()));
  EXPECT_TRUE(p.exhausted());
  EXPECT_LE(p.steps(), static_cast<size_t>(OSC_PATTERN_STEP_BUDGET) + 1);
}

// ---------------------------------------------------------------------------
// Address spaces

// One message for a space of /n with tags `types`: ints, or strings of a
// given size.
std::string int_message(int32_t value) {
  std::string m = bytes("2f6e0000 2c690000");
  uint32_t big = htonl(static_cast<uint32_t>(value));
  m.append(reinterpret_cast<const char*>(&big), 4);
  return m;
}

void deliver(OSC_Receiver& r, const std::string& m) { r.onReceive(m.data(), (int)m.size()); }

TEST(OscSpace, SpecsAreNormalised) {
  struct Case {
    const char* spec;
    const char* address;
    const char* types;
    size_t space_notes;
  };
  const Case cases[] = {
      {"/x  i f", "/x", "if", 2}, {"/x,i,f", "/x", "if", 0}, {"/x", "/x", "", 0}, {"", "", "", 0},
      {"/a/b,", "/a/b", "", 0},   {" /x", "", "/x", 0},
  };
  int saved = g_loglevel;
  g_loglevel = CP_LOG_INFO;
  for (const Case& c : cases) {
    OSC_Address_Space space;
    std::vector<std::string> printed = printed_lines([&] { space.setSpec(c.spec); });
    EXPECT_EQ(space.address(), c.address) << c.spec;
    EXPECT_EQ(space.types(), c.types) << c.spec;
    size_t notes = 0;
    for (const std::string& line : printed) {
      if (line.find("OSC-Address-Space: spaces in OSC type tag string! ignoring") !=
          std::string::npos) {
        notes++;
      }
    }
    EXPECT_EQ(notes, c.space_notes) << c.spec;
  }
  g_loglevel = saved;
}

TEST(OscSpace, ALongSpecIsCutToFitItsSeparator) {
  OSC_Address_Space space;
  std::string spec = "/" + std::string(600, 'x');
  space.setSpec(spec.c_str());
  EXPECT_EQ(space.spec().size(), 511u);
  EXPECT_EQ(space.spec().back(), ',');
  EXPECT_EQ(space.address(), spec.substr(0, 510));
  EXPECT_FALSE(space.setSpec(nullptr));
  EXPECT_EQ(space.spec().size(), 511u);
}

TEST(OscSpace, SixHundredUnreadMessagesGrowTheRingInOrder) {
  OSC_Receiver r;
  OSC_Address_Space space("/n,i");
  r.add_address(&space);
  EXPECT_EQ(space.capacity(), 512);
  for (int i = 0; i < 600; i++) deliver(r, int_message(i));
  EXPECT_EQ(space.capacity(), 1024);
  EXPECT_EQ(space.unread(), 600);
  for (int i = 0; i < 600; i++) {
    ASSERT_TRUE(space.next_mesg()) << i;
    ASSERT_EQ(space.next_int(), i);
  }
  EXPECT_FALSE(space.next_mesg());
}

TEST(OscSpace, ATakenMessageOutlivesTheSlotsReuse) {
  OSC_Receiver r;
  OSC_Address_Space space("/t,s");
  r.add_address(&space);
  deliver(r, bytes("2f740000 2c730000 66697273 74000000"));  // "first"
  ASSERT_TRUE(space.next_mesg());
  // A flood past the largest ring: the listener drops the oldest messages
  // and writes over every slot, the one "first" was taken from too.
  std::string other = bytes("2f740000 2c730000 6f746800");  // "oth"
  for (int i = 0; i < OSC_Address_Space::kMaxCapacity + 100; i++) deliver(r, other);
  EXPECT_EQ(space.capacity(), OSC_Address_Space::kMaxCapacity);
  std::string s;
  ASSERT_TRUE(space.next_string(&s));
  EXPECT_EQ(s, "first");
}

TEST(OscSpace, OwnedBytesAreCappedDroppingTheOldest) {
  OSC_Receiver r;
  OSC_Address_Space space("/big,s");
  r.add_address(&space);
  // Messages of 8,000-character strings: 16 MB hold about 2,097 of them.
  std::string text(8000, 'q');
  std::string base = bytes("2f626967 00000000 2c730000");
  int saved = g_loglevel;
  g_loglevel = CP_LOG_INFO;
  std::vector<std::string> printed = printed_lines([&] {
    for (int i = 0; i < 3000; i++) {
      std::string label = std::to_string(i);
      std::string m = base + label + text.substr(label.size()) + std::string(4, '\0');
      deliver(r, m);
    }
  });
  g_loglevel = saved;
  int kept = space.unread();
  EXPECT_LE(static_cast<size_t>(kept) * 8000, OSC_Address_Space::kMaxOwnedBytes);
  EXPECT_GT(kept, 2000);
  size_t notes = 0;
  for (const std::string& line : printed) {
    if (line.find("dropping oldest") != std::string::npos) notes++;
  }
  EXPECT_EQ(notes, 1u);
  // The newest are kept, oldest first.
  ASSERT_TRUE(space.next_mesg());
  std::string s;
  ASSERT_TRUE(space.next_string(&s));
  std::string first = std::to_string(3000 - kept);
  EXPECT_EQ(s.substr(0, first.size() + 1), first + "q");
}

TEST(OscSpace, ReadsWithoutAMessageOrOfTheWrongKindAnswerZero) {
  OSC_Receiver r;
  OSC_Address_Space space("/a,if");
  r.add_address(&space);
  int saved = g_loglevel;
  g_loglevel = CP_LOG_SEVERE;
  std::vector<std::string> printed = printed_lines([&] {
    EXPECT_EQ(space.next_int(), 0);
    deliver(r, bytes("2f610000 2c696600 00000005 3f000000"));
    ASSERT_TRUE(space.next_mesg());
    EXPECT_EQ(space.next_float(), 0.0f);  // an int is next
    EXPECT_EQ(space.next_int(), 5);
    EXPECT_EQ(space.next_float(), 0.5f);
    EXPECT_EQ(space.next_int(), 0);  // past the message
  });
  g_loglevel = saved;
  ASSERT_EQ(printed.size(), 3u);
  EXPECT_NE(printed[0].find("OscEvent: getVal(): nextMsg() must be called before reading data..."),
            std::string::npos);
  EXPECT_NE(printed[1].find("OscEvent: error -> message type integer != request type float"),
            std::string::npos);
  EXPECT_NE(printed[2].find("OscEvent: read position 2 outside message ..."), std::string::npos);
}

TEST(OscSpace, TypesAndAddressesMustMatch) {
  OSC_Receiver r;
  OSC_Address_Space bar("/foo/bar,i");
  OSC_Address_Space star("/foo/*,i");
  OSC_Address_Space floats("/foo/bar,f");
  for (OSC_Address_Space* s : {&bar, &star, &floats}) r.add_address(s);
  // /foo/* as an incoming pattern reaches /foo/bar; the registered /foo/*
  // is plain text that /foo/bar does not equal.
  deliver(r, bytes("2f666f6f 2f2a0000 2c690000 00000001"));
  deliver(r, bytes("2f666f6f 2f626172 00000000 2c690000 00000002"));
  EXPECT_EQ(bar.unread(), 2);
  EXPECT_EQ(star.unread(), 1);
  EXPECT_EQ(floats.unread(), 0);
}

TEST(OscSpace, SpacesBelongToOneReceiverAndForgetADestroyedOne) {
  OSC_Address_Space space("/a,i");
  OSC_Receiver* first = new OSC_Receiver;
  OSC_Receiver second;
  first->add_address(&space);
  second.add_address(&space);
  EXPECT_EQ(first->space_count(), 0u);
  EXPECT_EQ(space.receiver(), &second);
  first->add_address(&space);
  delete first;
  EXPECT_EQ(space.receiver(), nullptr);
  EXPECT_EQ(second.space_count(), 0u);
  {
    OSC_Address_Space leaving("/b,i");
    second.add_address(&leaving);
    EXPECT_EQ(second.space_count(), 1u);
  }
  EXPECT_EQ(second.space_count(), 0u);
}

}  // namespace
