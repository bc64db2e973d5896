// Digests and the text codings of the web requests.
//
// sha1 is OpenSSL's SHA-1; sha1Hex writes it as 40 lowercase hexadecimal
// digits (two per byte). base64Encode uses the standard alphabet with "="
// padding and no line breaks. base64Decode reads whole groups of four
// characters (anything after the last whole group is ignored) and drops
// the bytes that the last group's "=" or "==" stand for; a character
// outside the alphabet, or "=" anywhere but at the end of the last group,
// makes it answer nothing. escapeValue writes every byte outside A-Z a-z
// 0-9 - . _ ~ as %XX with upper-case hexadecimal digits, so a value can be
// put in a form body, a query or a mailto: URL without changing its
// meaning ("a+b=c" becomes "a%2Bb%3Dc"); ordinary values pass unchanged.
//
// Threads: every function may be called from any thread.
#ifndef PLATFORM_DIGEST_H
#define PLATFORM_DIGEST_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

std::array<std::uint8_t, 20> sha1(std::string_view data);
std::string sha1Hex(std::string_view data);

std::string base64Encode(std::string_view data);
std::optional<std::string> base64Decode(std::string_view text);

std::string escapeValue(std::string_view value);

}  // namespace platform

#endif
