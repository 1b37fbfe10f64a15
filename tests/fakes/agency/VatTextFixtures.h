#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velk::test {

// UTF-8 to windows-1251 for ASCII, Ё, ё, А-я and "№"; anything else becomes '?'.
std::string toWindows1251(std::string_view utf8);

// One line of a fixed-width VAT text file: texts placed at byte offsets,
// blanks between them, the whole encoded to windows-1251.
class FixedWidthLine {
public:
    // Places the windows-1251 form of text at offset, over what stood there.
    FixedWidthLine& at(std::size_t offset, std::string_view utf8);
    // Blanks up to this length.
    FixedWidthLine& padTo(std::size_t length);
    const std::string& bytes() const { return bytes_; }

private:
    std::string bytes_;
};

// A DEKLAR.TXT first line: VAT number at 0, name at 15, period at 65.
std::string deklarLine(std::string_view vatNumber, std::string_view name, std::string_view period);
// A journal record: VAT number at 0, period code at 15, document number at
// 33, partner's name at 79 and one amount at 159.
std::string journalLine(std::string_view vatNumber, std::string_view documentNumber,
                        std::string_view partnerName, std::string_view amount);

}  // namespace velk::test
