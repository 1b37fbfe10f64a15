// The VAT return's fixed-width text files (DEKLAR.TXT and the journals
// POKUPKI.TXT and PRODAGBI.TXT) and the first-line header readers of forms 1
// and 6: nothing throws, every field comes out as valid UTF-8 no longer than
// its bytes allow, the readers' JSON always writes out, and a header that is
// read names a real period and identifier.

#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "TempFolder.h"
#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "features/common/FormFileHeaders.h"
#include "features/vat/DeklarHeader.h"
#include "features/vat/VatTextFiles.h"

namespace {

namespace fs = std::filesystem;
using velk::core::json;
namespace vat = velk::core::features::vat;
namespace forms = velk::core::features;

// A windows-1251 byte becomes at most three UTF-8 bytes (the euro sign, the numero sign).
constexpr std::size_t kMaxUtf8PerByte = 3;

bool isFieldBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

bool allDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

void checkField(const std::string& field, std::size_t width) {
    VELK_FUZZ_CHECK(velk::core::isValidUtf8(field));
    VELK_FUZZ_CHECK(field.size() <= width * kMaxUtf8PerByte);
    VELK_FUZZ_CHECK(field.empty() || (!isFieldBlank(field.front()) && !isFieldBlank(field.back())));
}

// Every string in the value is a field of at most width bytes; the value writes out.
void checkFields(const json& value, std::size_t width) {
    (void)velk::core::dumpCompact(value);
    for (const json& item : value) {
        if (item.is_string()) {
            checkField(item.get<std::string>(), width);
        }
    }
}

void checkLines(std::string_view bytes) {
    const std::vector<std::string_view> lines = vat::splitLines(bytes);
    VELK_FUZZ_CHECK(lines.empty() == bytes.empty());
    std::size_t lineFeeds = 0;
    for (const char c : bytes) {
        lineFeeds += c == '\n' ? 1 : 0;
    }
    VELK_FUZZ_CHECK(lines.size() == lineFeeds + (bytes.empty() || bytes.back() == '\n' ? 0 : 1));
    for (const std::string_view line : lines) {
        VELK_FUZZ_CHECK(line.size() <= vat::kMaxVatLineBytes);
        VELK_FUZZ_CHECK(line.find('\n') == std::string_view::npos);
    }
}

void checkDeklar(std::string_view bytes) {
    const json deklar = vat::parseDeklar(bytes);
    (void)velk::core::dumpCompact(deklar);
    if (bytes.empty()) {
        VELK_FUZZ_CHECK(deklar.is_null());
        return;
    }
    VELK_FUZZ_CHECK(deklar.is_object());
    checkField(deklar.at("vatNumber").get<std::string>(), 15);
    checkField(deklar.at("name").get<std::string>(), 50);
    checkField(deklar.at("period").get<std::string>(), 6);
    if (deklar.contains("representative")) {
        checkField(deklar["representative"].at("egn").get<std::string>(), 10);
        checkField(deklar["representative"].at("name").get<std::string>(), 80);
    }
    for (const json& value : deklar.at("values")) {
        VELK_FUZZ_CHECK(!value.get<std::string>().empty());
        checkField(value.get<std::string>(), 15);
    }
}

void checkJournal(std::string_view bytes) {
    const json journal = vat::parseJournal(bytes);
    VELK_FUZZ_CHECK(journal.is_array());
    VELK_FUZZ_CHECK(journal.size() <= vat::splitLines(bytes).size());
    (void)velk::core::dumpCompact(journal);
    for (const json& record : journal) {
        checkFields(record, 50);
        for (const json& amount : record.at("amounts")) {
            VELK_FUZZ_CHECK(!amount.get<std::string>().empty());
            checkField(amount.get<std::string>(), 15);
        }
    }
}

// The whole-integer reader agrees with strtoll on text without NUL bytes.
void checkWholeInt(std::string_view text) {
    std::int32_t value = 0;
    const bool read = forms::tryParseWholeInt(text, value);
    if (text.find('\0') != std::string_view::npos) {
        return;
    }
    const std::string copy(text);
    const char* begin = copy.c_str();
    const char* digits = begin;
    while (*digits == ' ' || (*digits >= '\t' && *digits <= '\r')) {
        ++digits;
    }
    if (*digits == '+' || *digits == '-') {
        ++digits;
    }
    char* end = nullptr;
    errno = 0;
    const long long expected = std::strtoll(begin, &end, 10);
    const bool whole = *digits >= '0' && *digits <= '9' && end == begin + copy.size() && errno != ERANGE &&
                       expected >= INT32_MIN && expected <= INT32_MAX;
    VELK_FUZZ_CHECK(read == whole);
    VELK_FUZZ_CHECK(!read || value == expected);
}

void checkDec16Header(const std::optional<forms::Dec16FileHeader>& header) {
    if (header) {
        VELK_FUZZ_CHECK(header->year >= 2000 && header->year <= 2100);
        VELK_FUZZ_CHECK(header->month >= 1 && header->month <= 12);
        VELK_FUZZ_CHECK((header->eik.size() == 9 || header->eik.size() == 13) && allDigits(header->eik));
    }
}

void checkHeaderFiles(std::string_view bytes) {
    const fs::path folder = velk::fuzz::TempFolder::instance().path() / "work";
    const fs::path deklar = folder / "DEKLAR.TXT";
    velk::fuzz::TempFolder::writeFile(deklar, bytes);

    // The first line: bytes before the first LF less one CR, none past the limit or for no bytes.
    const std::optional<std::string> line = forms::readFirstLine(deklar);
    std::string_view expected = bytes.substr(0, bytes.find('\n'));
    if (bytes.empty() || expected.size() > forms::kMaxHeaderLineBytes) {
        VELK_FUZZ_CHECK(!line);
    } else {
        if (!expected.empty() && expected.back() == '\r') {
            expected.remove_suffix(1);
        }
        VELK_FUZZ_CHECK(line && *line == expected);
    }

    const vat::DeklarHeader header = vat::readDeklarHeader(deklar);
    if (header.ok) {
        VELK_FUZZ_CHECK(header.year >= 2000 && header.year <= 2100);
        VELK_FUZZ_CHECK(header.month >= 1 && header.month <= 12);
        VELK_FUZZ_CHECK(header.bulstat.size() == 9 || header.bulstat.size() == 10 ||
                        header.bulstat.size() == 13);
    }
    checkDec16Header(forms::readDec1Header(deklar));
    checkDec16Header(forms::readDec6Header(deklar));

    if (line) {
        const std::vector<std::string> fields = forms::splitCommaFields(*line);
        std::size_t commas = 0;
        for (const char c : *line) {
            commas += c == ',' ? 1 : 0;
        }
        VELK_FUZZ_CHECK(fields.size() == commas + 1);
        for (const std::string& field : fields) {
            checkWholeInt(field);
            const std::string stripped = forms::stripOuterQuotes(field);
            VELK_FUZZ_CHECK(stripped.size() + 2 >= field.size() && field.find(stripped) != std::string::npos);
        }
        for (const std::string& token : vat::splitOnDoubleSpace(*line)) {
            VELK_FUZZ_CHECK(!token.empty() && token.back() != ' ' && token.find("  ") == std::string::npos);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    VELK_FUZZ_NO_THROW({
        checkLines(bytes);
        checkDeklar(bytes);
        checkJournal(bytes);
        VELK_FUZZ_CHECK(forms::countDec16Records(bytes) <=
                        static_cast<std::int32_t>(vat::splitLines(bytes).size()));
        checkHeaderFiles(bytes);
    });
    return 0;
}
