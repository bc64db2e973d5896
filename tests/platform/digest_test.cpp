// SHA-1, Base64 and value escaping against published vectors and against
// OpenSSL's own encoder.
#include "platform/Digest.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

namespace {

TEST(Digest, Sha1HexOfKnownTexts) {
  struct Case {
    std::string input, hex;
  };
  const std::vector<Case> cases = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::sha1Hex(c.input), c.hex) << c.input.substr(0, 20);
  }
}

TEST(Base64, Rfc4648VectorsBothWays) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
  };
  for (const auto& [plain, encoded] : vectors) {
    EXPECT_EQ(platform::base64Encode(plain), encoded);
    std::optional<std::string> decoded = platform::base64Decode(encoded);
    ASSERT_TRUE(decoded) << encoded;
    EXPECT_EQ(*decoded, plain);
  }
}

TEST(Base64, AgreesWithOpenSslOnEveryByteAndLength) {
  std::mt19937 random(12345);
  for (std::size_t length = 0; length < 70; ++length) {
    std::string data(length, '\0');
    for (char& c : data) c = static_cast<char>(random() & 255);
    std::vector<unsigned char> expected(4 * ((length + 2) / 3) + 1);
    int n = EVP_EncodeBlock(expected.data(), reinterpret_cast<const unsigned char*>(data.data()),
                            static_cast<int>(length));
    std::string openssl(reinterpret_cast<char*>(expected.data()), static_cast<std::size_t>(n));
    EXPECT_EQ(platform::base64Encode(data), openssl) << length;
    EXPECT_EQ(platform::base64Decode(openssl), data) << length;
  }
}

TEST(Base64, DecodingTakesWholeGroupsAndRefusesStrangers) {
  // Characters after the last whole group are ignored.
  EXPECT_EQ(platform::base64Decode("Zm9vYg"), std::optional<std::string>("foo"));
  EXPECT_EQ(platform::base64Decode("Zm8"), std::optional<std::string>(""));
  // Outside the alphabet, or padding in the middle: nothing.
  EXPECT_FALSE(platform::base64Decode("Zm9v!mFy"));
  EXPECT_FALSE(platform::base64Decode("Zg==Zm9v"));
  EXPECT_FALSE(platform::base64Decode("Z=9v"));
}

TEST(EscapeValue, EveryByteOutsideTheUnreservedSetBecomesUpperCaseHex) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a+b=c", "a%2Bb%3Dc"},
      {"AZaz09-._~", "AZaz09-._~"},
      {"x&bcc=evil@example.com", "x%26bcc%3Devil%40example.com"},
      {"line\nnext", "line%0Anext"},
      {"100% /?#", "100%25%20%2F%3F%23"},
      {std::string("\0\xff", 2), "%00%FF"},
      {"\xc3\xa9", "%C3%A9"},
      {"", ""},
  };
  for (const auto& [value, escaped] : cases) EXPECT_EQ(platform::escapeValue(value), escaped);
}

}  // namespace
