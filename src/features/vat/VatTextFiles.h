#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/JsonUtils.h"
#include "platform/RegularFile.h"

namespace velk::core::features::vat {

// Readers of the VAT return's text files: DEKLAR.TXT (the declaration) and
// the journals POKUPKI.TXT, PRODAGBI.TXT and VIES.TXT, windows-1251 text of
// one fixed-width record a line. Fields are cut by byte offset from the raw
// bytes, trimmed, and only then converted to UTF-8; nothing is checked or
// turned into a number (that is the agency validator's work). The readers
// keep no state, never log and never throw for bad content.

// A line longer than this is cut here: no real record comes near it, and a
// file without line ends must not become one huge list of fields.
inline constexpr std::size_t kMaxVatLineBytes = 64 * 1024;
// A file larger than this is not read.
inline constexpr std::size_t kMaxVatFileBytes = platform::kMaxWholeFileBytes;

// Lines ended by LF, one CR before the LF removed; a last line without LF
// counts, a final LF adds no empty line. Views into bytes, each at most
// kMaxVatLineBytes long.
std::vector<std::string_view> splitLines(std::string_view bytes);

// Bytes offset .. offset+width-1 of the line (cut short at its end), trimmed
// of blank, tab, CR and LF, as UTF-8.
std::string fixedField(std::string_view line, std::size_t offset, std::size_t width);

// Consecutive fields of width from offset on, up to the end of the line or
// the first blank field, whichever comes first.
std::vector<std::string> splitFixedFields(std::string_view line, std::size_t offset, std::size_t width);

// The whole file; nothing when it is no regular file (a FIFO is never waited
// on), cannot be read or is larger than kMaxVatFileBytes.
std::optional<std::string> readFileBytes(const std::string& path);

// The full path of the regular file of the folder with this name in any ASCII
// case: the name as given first, then its upper- and lower-case forms, then
// the folder's entries in listing order. Empty when there is none.
std::string findFileCaseInsensitive(const std::string& folder, const std::string& name);

// The first line of DEKLAR.TXT: vatNumber, name, period, the representative
// when a '/' stands at offset 80 or later, and the values. JSON null for
// content without any line.
json parseDeklar(std::string_view bytes);
json parseJournalRecord(std::string_view line);
// One record per line that is not blank.
json parseJournal(std::string_view bytes);

// DEKLAR.TXT, POKUPKI.TXT and PRODAGBI.TXT of the folder as one JSON object:
// "directory", "declaration" (with its "sourceFile"), "purchases",
// "purchasesSourceFile", "sales", "salesSourceFile" and, when anything went
// wrong, "errors". A file that is there but cannot be read is an error too.
json parseVatFolder(const std::string& folder);

struct VatFolderCheck {
    bool ok = false;
    std::vector<std::string> missing;  // "DEKLAR.TXT", "POKUPKI.TXT", "PRODAGBI.TXT", in this order
    std::string folder;
};

// Whether the folder holds the three files a filing needs, names compared in
// any ASCII case.
VatFolderCheck checkVatFolderFiles(const std::string& folder);

}  // namespace velk::core::features::vat
