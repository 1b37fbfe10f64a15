#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace velk::core::features::vat {

// Whose VAT return a DEKLAR.TXT is and of which period; the other fields mean
// nothing unless ok.
struct DeklarHeader {
    std::int32_t year = 0;
    std::int32_t month = 0;
    std::string bulstat;  // the VAT identifier less a "BG" prefix
    bool ok = false;
};

// Reads the first line of a file named DEKLAR.TXT (any ASCII case). The
// fixed-width layout is tried first: the VAT number in bytes 0..14 (9, 10 or
// 13 digits after an optional "BG") and the period YYYYMM in bytes 65..70. A
// line that does not fit it is read as tokens split at double blanks:
// identifier, name, period.
DeklarHeader readDeklarHeader(const std::filesystem::path& path);

// The tokens of a line separated by runs of two or more blanks; a single
// blank stays inside a token, and no token ends with a blank.
std::vector<std::string> splitOnDoubleSpace(std::string_view line);

}  // namespace velk::core::features::vat
