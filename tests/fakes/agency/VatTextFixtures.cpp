#include "fakes/agency/VatTextFixtures.h"

namespace velk::test {

std::string toWindows1251(std::string_view utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            ++i;
            continue;
        }
        const std::size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 4;
        char32_t cp = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
        for (std::size_t k = 1; k < length && i + k < utf8.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        if (cp >= 0x410 && cp <= 0x44F) {
            out.push_back(static_cast<char>(0xC0 + (cp - 0x410)));
        } else if (cp == 0x401) {
            out.push_back(static_cast<char>(0xA8));
        } else if (cp == 0x451) {
            out.push_back(static_cast<char>(0xB8));
        } else if (cp == 0x2116) {
            out.push_back(static_cast<char>(0xB9));
        } else {
            out.push_back('?');
        }
        i += length;
    }
    return out;
}

FixedWidthLine& FixedWidthLine::at(std::size_t offset, std::string_view utf8) {
    const std::string text = toWindows1251(utf8);
    padTo(offset + text.size());
    bytes_.replace(offset, text.size(), text);
    return *this;
}

FixedWidthLine& FixedWidthLine::padTo(std::size_t length) {
    if (bytes_.size() < length) {
        bytes_.resize(length, ' ');
    }
    return *this;
}

std::string deklarLine(std::string_view vatNumber, std::string_view name, std::string_view period) {
    return FixedWidthLine().at(0, vatNumber).at(15, name).at(65, period).bytes();
}

std::string journalLine(std::string_view vatNumber, std::string_view documentNumber,
                        std::string_view partnerName, std::string_view amount) {
    return FixedWidthLine()
        .at(0, vatNumber)
        .at(15, "202403")
        .at(33, documentNumber)
        .at(79, partnerName)
        .at(159, amount)
        .bytes();
}

}  // namespace velk::test
