#pragma once

// What a text from outside may hold once it is escaped for the log: nothing a
// reader of the log file could take for the end of a line or a control.

#include <cstddef>
#include <string_view>

#include "common/TextUtils.h"

namespace velk::fuzz {

// Valid UTF-8 without C0 controls, DEL, the C1 controls U+0080-U+009F or the
// separators U+2028 and U+2029. In valid UTF-8 a C2 byte always leads a
// character and E2 80 A8 is always U+2028, so the bytes tell it.
inline bool staysOneLogLine(std::string_view text) {
    if (!core::isValidUtf8(text)) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x20 || byte == 0x7F) {
            return false;
        }
        const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
        if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
            return false;
        }
        const std::string_view three = text.substr(i, 3);
        if (three == "\xE2\x80\xA8" || three == "\xE2\x80\xA9") {
            return false;
        }
    }
    return true;
}

}  // namespace velk::fuzz
