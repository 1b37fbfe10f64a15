// The text helpers that outside bytes pass through: windows-1251 to UTF-8,
// base64 both ways, the UTF-8-safe cut, the repair to valid UTF-8 and the
// escaping for the log.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "LogLineCheck.h"
#include "common/TextUtils.h"

using namespace velk::core;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    VELK_FUZZ_NO_THROW({
        // Every byte is one character: at least one output byte per input byte.
        const std::string converted = cp1251ToUtf8(bytes);
        VELK_FUZZ_CHECK(isValidUtf8(converted));
        VELK_FUZZ_CHECK(converted.size() >= bytes.size());

        // Decoding what was encoded gives the bytes back; decoding anything never fails.
        const std::string encoded = base64Encode(bytes);
        VELK_FUZZ_CHECK(encoded.size() % 4 == 0);
        const std::vector<std::uint8_t> decoded = base64Decode(encoded);
        VELK_FUZZ_CHECK(std::string_view(reinterpret_cast<const char*>(decoded.data()), decoded.size()) ==
                        bytes);
        const std::vector<std::uint8_t> anything = base64Decode(bytes);
        VELK_FUZZ_CHECK(anything.size() <= bytes.size());

        // The repair keeps valid text and makes any text valid.
        const bool valid = isValidUtf8(bytes);
        const std::string repaired = toValidUtf8(bytes);
        VELK_FUZZ_CHECK(isValidUtf8(repaired));
        VELK_FUZZ_CHECK(!valid || repaired == bytes);

        // A cut never returns more than asked, is a prefix, and stays valid.
        const std::size_t chosen = size > 0 ? data[0] % (size + 1) : 0;
        const std::size_t limits[] = {0,    1,        2,     3, 4, 5, size / 2, size > 0 ? size - 1 : 0,
                                      size, size + 1, chosen};
        for (const std::size_t limit : limits) {
            const std::string cut = utf8SafePrefix(bytes, limit);
            VELK_FUZZ_CHECK(cut.size() <= limit);
            VELK_FUZZ_CHECK(bytes.substr(0, cut.size()) == cut);
            VELK_FUZZ_CHECK(!valid || isValidUtf8(cut));
            VELK_FUZZ_CHECK(limit < bytes.size() || cut.size() == bytes.size());
            VELK_FUZZ_CHECK(cut.size() + 3 >= std::min(limit, bytes.size()));
            // Whatever the bytes, only the start of the one character that the
            // limit cuts is left out: a lead byte that needs more bytes than
            // remain, then continuation bytes.
            const std::string_view left =
                bytes.substr(cut.size(), std::min(limit, bytes.size()) - cut.size());
            if (!left.empty()) {
                const auto lead = static_cast<unsigned char>(left[0]);
                const std::size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                                           : lead >= 0xE0 && lead <= 0xEF ? 3
                                           : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                                          : 1;
                VELK_FUZZ_CHECK(left.size() < length);
                VELK_FUZZ_CHECK(std::all_of(left.begin() + 1, left.end(), [](char c) {
                    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
                }));
            }
        }

        // The log escaping leaves nothing that ends or fakes a line, and
        // leaves text that holds nothing of the kind as it is.
        const std::string escaped = escapeControlBytes(bytes);
        VELK_FUZZ_CHECK(velk::fuzz::staysOneLogLine(escaped));
        VELK_FUZZ_CHECK(!velk::fuzz::staysOneLogLine(bytes) || escaped == bytes);
        VELK_FUZZ_CHECK(escaped.size() <= 4 * bytes.size());
        for (const std::size_t limit : limits) {
            VELK_FUZZ_CHECK(loggableText(bytes, limit) == escapeControlBytes(utf8SafePrefix(bytes, limit)));
        }
        VELK_FUZZ_CHECK(loggableText(bytes) == escaped);
        const std::string encodedForUrl = percentEncode(bytes);
        VELK_FUZZ_CHECK(encodedForUrl.find_first_of("&=?/#+ ") == std::string::npos);
    });
    return 0;
}
