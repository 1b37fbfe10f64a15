#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::core::features {

// Readers of the first line of the form 1 (EMPL2021.TXT, "D1") and form 6
// (NRA62007.TXT, "D6") files: which taxpayer and which month a file belongs
// to. The files are handled as bytes: every character the rules test is
// ASCII. The readers keep no state, report nothing and never log; a file
// that breaks the rules gives nothing and the caller words the failure.

struct Dec16FileHeader {
    std::int32_t year = 0;   // 2000..2100
    std::int32_t month = 0;  // 1..12
    std::string eik;         // 9 or 13 ASCII digits, one pair of quotes removed
};

// A first line longer than this is no header: a file without line ends is
// never read whole to find one.
inline constexpr std::size_t kMaxHeaderLineBytes = 64 * 1024;

// The bytes before the first LF, less one CR at the end; nothing for a file
// that cannot be read, an empty one, or a first line past the limit.
std::optional<std::string> readFirstLine(const std::filesystem::path& path);

// Form 6: the identifier in field 0, the period found back from a marker
// field "5" or "8" (month four fields before it, year three, a date with '/'
// two).
std::optional<Dec16FileHeader> readDec6Header(const std::filesystem::path& path);
// Form 1: month, year, identifier and a 9- or 10-digit number in fields 0..3.
std::optional<Dec16FileHeader> readDec1Header(const std::filesystem::path& path);

// Records in the raw content of a D1 or D6 file: lines holding a byte other
// than blank, tab and CR; the first 0x1A ends the count; a last line without
// LF counts.
std::int32_t countDec16Records(std::string_view bytes);

// strtol with nothing allowed after the digits: leading white space and one
// sign, then digits up to the end, within the 32-bit range. Never throws.
bool tryParseWholeInt(std::string_view text, std::int32_t& value);

// Every comma ends a field, quotes or not; N commas give N + 1 fields.
std::vector<std::string> splitCommaFields(std::string_view line);

// At most one double quote removed from each end.
std::string stripOuterQuotes(std::string_view field);

}  // namespace velk::core::features
