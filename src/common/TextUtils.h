#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::core {

// windows-1251 bytes to UTF-8. Every byte maps to a character (0x98, unused in
// the code page, maps to U+0098), so the conversion never fails.
std::string cp1251ToUtf8(std::string_view bytes);

// Standard base64 (RFC 4648) with padding.
std::string base64Encode(const void* data, std::size_t size);
std::string base64Encode(std::string_view bytes);
std::string base64Encode(const std::vector<std::uint8_t>& bytes);
// Never fails: characters outside the alphabet are skipped wherever they stand,
// left-over bits at the end are dropped.
std::vector<std::uint8_t> base64Decode(std::string_view text);

// ASCII-only case folding and white-space trimming; other bytes stay as they are.
std::string asciiLower(std::string_view text);
std::string asciiUpper(std::string_view text);
bool iequalsAscii(std::string_view a, std::string_view b);
bool icontainsAscii(std::string_view haystack, std::string_view needle);
std::string_view trimView(std::string_view text);
std::string trim(std::string_view text);

// The longest prefix of at most maxBytes bytes that does not cut a UTF-8
// character in two: only the first bytes of a character that the limit cuts
// are left out (three at most); any other byte, ill-formed or not, stays.
std::string utf8SafePrefix(std::string_view text, std::size_t maxBytes);

// Whether the bytes are well-formed UTF-8 (no overlong forms, surrogates or
// code points above U+10FFFF).
bool isValidUtf8(std::string_view text);
// The text with every ill-formed sequence (its longest valid-looking start,
// at least one byte) replaced by U+FFFD; valid text comes back unchanged.
// For outside text that must go into JSON, which takes UTF-8 only.
std::string toValidUtf8(std::string_view text);

// Keeps outside text from breaking or faking a log line: the control
// characters below U+0020 and U+007F as "\xNN", the C1 controls U+0080-U+009F
// (NEL among them) and the separators U+2028 and U+2029 as "\uNNNN", and every
// byte that is no part of a well-formed UTF-8 character as "\xNN", all with
// upper-case hex digits. Every other character, Cyrillic too, stays as it is.
std::string escapeControlBytes(std::string_view text);
// Outside text on its way into a log line: cut to at most maxBytes bytes
// without splitting a character, then escaped as above.
std::string loggableText(std::string_view text, std::size_t maxBytes = std::string_view::npos);

// Percent-encodes every byte but the unreserved characters of RFC 3986, so a
// value from outside cannot add parameters or paths to a URL.
std::string percentEncode(std::string_view value);

// printf("%.*f") in the "C" locale, whatever the process locale.
std::string formatFixed(double value, int precision);

// strtod in the "C" locale: leading white space skipped, the longest valid
// prefix taken. Empty when nothing converts or the conversion reports a range
// error.
std::optional<double> parseDoubleC(std::string_view text);

// strtoll base 10: leading white space skipped, optional sign, the longest run
// of digits, the rest ignored. Empty when there is no digit or the value lies
// outside the 64-bit range.
std::optional<std::int64_t> parseInt64(std::string_view text);
// The same, empty also outside the 32-bit range.
std::optional<std::int32_t> parseInt32(std::string_view text);

}  // namespace velk::core
