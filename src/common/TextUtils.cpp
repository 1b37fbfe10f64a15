#include "common/TextUtils.h"

#include <locale.h>
#include <array>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <limits>

namespace velk::core {

namespace {

// Unicode code points of windows-1251 bytes 0x80-0xBF; 0xC0-0xFF are U+0410-U+044F.
// 0x98 is unassigned in the code page and maps to U+0098.
constexpr std::array<char16_t, 64> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::int8_t kNotBase64 = -1;

const std::array<std::int8_t, 256>& base64DecodeTable() {
    static const std::array<std::int8_t, 256> table = [] {
        std::array<std::int8_t, 256> t{};
        t.fill(kNotBase64);
        for (int i = 0; i < 64; ++i) {
            t[static_cast<unsigned char>(kBase64Alphabet[i])] = static_cast<std::int8_t>(i);
        }
        return t;
    }();
    return table;
}

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// White space as the "C" locale's isspace sees it.
constexpr bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

constexpr char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
constexpr char upperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

locale_t cLocale() {
    static const locale_t loc = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return loc;
}

}  // namespace

std::string cp1251ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        if (b < 0x80) {
            out.push_back(ch);
        } else if (b >= 0xC0) {
            appendUtf8(out, static_cast<char32_t>(0x0410 + (b - 0xC0)));
        } else {
            appendUtf8(out, kCp1251High[b - 0x80]);
        }
    }
    return out;
}

std::string base64Encode(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    std::uint32_t acc = 0;
    int bits = 0;
    for (std::size_t i = 0; i < size; ++i) {
        acc = (acc << 8) | bytes[i];
        bits += 8;
        while (bits >= 6) {
            bits -= 6;
            out.push_back(kBase64Alphabet[(acc >> bits) & 0x3F]);
        }
    }
    if (bits > 0) {
        out.push_back(kBase64Alphabet[(acc << (6 - bits)) & 0x3F]);
    }
    while (out.size() % 4 != 0) {
        out.push_back('=');
    }
    return out;
}

std::string base64Encode(std::string_view bytes) {
    return base64Encode(bytes.data(), bytes.size());
}

std::string base64Encode(const std::vector<std::uint8_t>& bytes) {
    return base64Encode(bytes.data(), bytes.size());
}

std::vector<std::uint8_t> base64Decode(std::string_view text) {
    const auto& table = base64DecodeTable();
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 3 / 4);
    std::uint32_t acc = 0;
    int bits = 0;
    for (char ch : text) {
        const std::int8_t v = table[static_cast<unsigned char>(ch)];
        if (v == kNotBase64) {
            continue;
        }
        acc = (acc << 6) | static_cast<std::uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

std::string asciiLower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = lowerAscii(c);
    }
    return out;
}

std::string asciiUpper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = upperAscii(c);
    }
    return out;
}

bool iequalsAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

bool icontainsAscii(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) {
        return true;
    }
    if (needle.size() > haystack.size()) {
        return false;
    }
    for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
        if (iequalsAscii(haystack.substr(i, needle.size()), needle)) {
            return true;
        }
    }
    return false;
}

std::string_view trimView(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isCSpace(text[begin])) {
        ++begin;
    }
    while (end > begin && isCSpace(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

std::string trim(std::string_view text) {
    return std::string(trimView(text));
}

std::string utf8SafePrefix(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) {
        return std::string(text);
    }
    // Hold back the start of a character that needs more bytes than remain
    // before the limit; it begins in the last three bytes at most. Every other
    // byte stays, a stray continuation byte too, so a cut text is never more
    // than three bytes short of the limit.
    std::size_t cut = maxBytes;
    for (std::size_t back = 1; back <= 3 && back <= maxBytes; ++back) {
        const auto byte = static_cast<unsigned char>(text[maxBytes - back]);
        if ((byte & 0xC0) == 0x80) {
            continue;
        }
        const std::size_t length = byte >= 0xF5   ? 1
                                   : byte >= 0xF0 ? 4
                                   : byte >= 0xE0 ? 3
                                   : byte >= 0xC2 ? 2
                                                  : 1;
        if (length > back) {
            cut = maxBytes - back;
        }
        break;
    }
    return std::string(text.substr(0, cut));
}

namespace {

// Length of the well-formed UTF-8 character at pos, or 0 with `consumed` set
// to the bytes of its ill-formed start (at least one).
std::size_t utf8CharLength(std::string_view text, std::size_t pos, std::size_t& consumed) {
    const auto byteAt = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byteAt(pos);
    consumed = 1;
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80;  // allowed range of the second byte
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;   // no overlong forms
        high = lead == 0xED ? 0x9F : 0xBF;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;  // nothing above U+10FFFF
    } else {
        return 0;
    }
    for (std::size_t k = 1; k < length; ++k) {
        if (pos + k >= text.size()) {
            return 0;
        }
        const unsigned char b = byteAt(pos + k);
        const bool inRange = k == 1 ? (b >= low && b <= high) : (b >= 0x80 && b <= 0xBF);
        if (!inRange) {
            return 0;
        }
        consumed = k + 1;
    }
    return length;
}

}  // namespace

bool isValidUtf8(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t consumed = 0;
        const std::size_t length = utf8CharLength(text, pos, consumed);
        if (length == 0) {
            return false;
        }
        pos += length;
    }
    return true;
}

std::string toValidUtf8(std::string_view text) {
    static constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD
    if (isValidUtf8(text)) {
        return std::string(text);
    }
    std::string out;
    out.reserve(text.size() + 16);
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t consumed = 0;
        const std::size_t length = utf8CharLength(text, pos, consumed);
        if (length == 0) {
            out.append(kReplacement);
            pos += consumed;
        } else {
            out.append(text.substr(pos, length));
            pos += length;
        }
    }
    return out;
}

std::string escapeControlBytes(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    const auto appendHex = [&out](unsigned char byte) {
        out.push_back(kHex[byte >> 4]);
        out.push_back(kHex[byte & 0xF]);
    };
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t consumed = 0;
        const std::size_t length = utf8CharLength(text, pos, consumed);
        const auto lead = static_cast<unsigned char>(text[pos]);
        if (length == 0) {
            // A stray byte: a reader that takes it for Latin-1 would see a
            // line break in 0x85, so no byte outside a character passes.
            out += "\\x";
            appendHex(lead);
            pos += 1;
            continue;
        }
        const std::string_view character = text.substr(pos, length);
        pos += length;
        if (length == 1 && (lead < 0x20 || lead == 0x7F)) {
            out += "\\x";
            appendHex(lead);
        } else if (length == 2 && lead == 0xC2 && static_cast<unsigned char>(character[1]) <= 0x9F) {
            // U+0080-U+009F (C2 80 - C2 9F), NEL among them: told by the
            // whole character, never by a byte 0x80-0x9F, which sits inside
            // every Cyrillic letter.
            out += "\\u00";
            appendHex(static_cast<unsigned char>(character[1]));
        } else if (character == "\xE2\x80\xA8" || character == "\xE2\x80\xA9") {
            out += character[2] == '\xA8' ? "\\u2028" : "\\u2029";
        } else {
            out.append(character);
        }
    }
    return out;
}

std::string loggableText(std::string_view text, std::size_t maxBytes) {
    return escapeControlBytes(text.size() > maxBytes ? utf8SafePrefix(text, maxBytes) : text);
}

std::string percentEncode(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char ch : value) {
        const auto c = static_cast<unsigned char>(ch);
        const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                                c == '-' || c == '.' || c == '_' || c == '~';
        if (unreserved) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string formatFixed(double value, int precision) {
    if (precision < 0) {
        precision = 0;
    }
    // Large enough for the longest fixed form of any finite double.
    std::string buf(330 + static_cast<std::size_t>(precision), '\0');
    const auto res =
        std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, precision);
    if (res.ec != std::errc()) {
        return {};
    }
    buf.resize(static_cast<std::size_t>(res.ptr - buf.data()));
    return buf;
}

std::optional<double> parseDoubleC(std::string_view text) {
    const std::string copy(text);  // strtod needs a terminated text
    const char* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    const double value = strtod_l(begin, &end, cLocale());
    if (end == begin || errno == ERANGE) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> parseInt64(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isCSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Accumulate as a negative number so INT64_MIN is representable.
    constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
    std::int64_t acc = 0;
    bool anyDigit = false;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        anyDigit = true;
        const int digit = text[i] - '0';
        if (acc < (kMin + digit) / 10) {
            overflow = true;
        } else {
            acc = acc * 10 - digit;
        }
    }
    if (!anyDigit || overflow) {
        return std::nullopt;
    }
    if (!negative) {
        if (acc == kMin) {
            return std::nullopt;
        }
        return -acc;
    }
    return acc;
}

std::optional<std::int32_t> parseInt32(std::string_view text) {
    const std::optional<std::int64_t> value = parseInt64(text);
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max()) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(*value);
}

}  // namespace velk::core
