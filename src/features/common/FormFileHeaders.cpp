#include "features/common/FormFileHeaders.h"

#include <limits>

#include "common/TextUtils.h"
#include "platform/RegularFile.h"

namespace velk::core::features {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool allDigits(std::string_view text) {
    for (const char c : text) {
        if (!isDigit(c)) {
            return false;
        }
    }
    return true;
}

bool isIdentifier(std::string_view text) {
    return (text.size() == 9 || text.size() == 13) && allDigits(text);
}

}  // namespace

std::optional<std::string> readFirstLine(const std::filesystem::path& path) {
    platform::RegularFile file(path);
    if (!file.isOpen()) {
        return std::nullopt;
    }
    std::string line;
    bool anyByte = false;
    char chunk[4096];
    for (bool lineEnded = false; !lineEnded;) {
        const std::optional<std::size_t> got = file.read(chunk, sizeof chunk);
        if (!got || *got == 0) {
            break;
        }
        anyByte = true;
        const std::string_view bytes(chunk, *got);
        const std::size_t lf = bytes.find('\n');
        lineEnded = lf != std::string_view::npos;
        const std::string_view part = bytes.substr(0, lf);
        if (line.size() + part.size() > kMaxHeaderLineBytes) {
            return std::nullopt;
        }
        line.append(part);
    }
    if (!anyByte) {
        return std::nullopt;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    return line;
}

namespace {

std::optional<std::vector<std::string>> firstLineFields(const std::filesystem::path& path) {
    const std::optional<std::string> line = readFirstLine(path);
    if (!line) {
        return std::nullopt;
    }
    return splitCommaFields(*line);
}

bool validPeriod(std::int32_t year, std::int32_t month) {
    return month >= 1 && month <= 12 && year >= 2000 && year <= 2100;
}

}  // namespace

std::optional<Dec16FileHeader> readDec6Header(const std::filesystem::path& path) {
    const std::optional<std::vector<std::string>> fields = firstLineFields(path);
    if (!fields || fields->size() < 11) {
        return std::nullopt;
    }
    std::string eik = stripOuterQuotes((*fields)[0]);
    if (!isIdentifier(eik) || fields->size() < 12) {
        return std::nullopt;
    }
    // The last field is never a marker.
    for (std::size_t i = 10; i + 2 <= fields->size(); ++i) {
        const std::string marker = stripOuterQuotes((*fields)[i]);
        if (marker != "5" && marker != "8") {
            continue;
        }
        if (stripOuterQuotes((*fields)[i - 2]).find('/') == std::string::npos) {
            continue;
        }
        std::int32_t month = 0;
        std::int32_t year = 0;
        if (!tryParseWholeInt((*fields)[i - 4], month) || !tryParseWholeInt((*fields)[i - 3], year) ||
            !validPeriod(year, month)) {
            continue;
        }
        return Dec16FileHeader{year, month, std::move(eik)};
    }
    return std::nullopt;
}

std::optional<Dec16FileHeader> readDec1Header(const std::filesystem::path& path) {
    const std::optional<std::vector<std::string>> fields = firstLineFields(path);
    if (!fields || fields->size() < 8) {
        return std::nullopt;
    }
    std::int32_t month = 0;
    std::int32_t year = 0;
    if (!tryParseWholeInt((*fields)[0], month) || !tryParseWholeInt((*fields)[1], year) ||
        !validPeriod(year, month)) {
        return std::nullopt;
    }
    std::string eik = stripOuterQuotes((*fields)[2]);
    if (!isIdentifier(eik)) {
        return std::nullopt;
    }
    const std::string number = stripOuterQuotes((*fields)[3]);
    if ((number.size() != 9 && number.size() != 10) || !allDigits(number)) {
        return std::nullopt;
    }
    return Dec16FileHeader{year, month, std::move(eik)};
}

std::int32_t countDec16Records(std::string_view bytes) {
    std::int32_t records = 0;
    bool lineHasContent = false;
    for (const char c : bytes) {
        if (c == '\x1A') {
            break;
        }
        if (c == '\n') {
            if (lineHasContent && records < std::numeric_limits<std::int32_t>::max()) {
                ++records;
            }
            lineHasContent = false;
        } else if (c != ' ' && c != '\t' && c != '\r') {
            lineHasContent = true;
        }
    }
    if (lineHasContent && records < std::numeric_limits<std::int32_t>::max()) {
        ++records;
    }
    return records;
}

bool tryParseWholeInt(std::string_view text, std::int32_t& value) {
    std::size_t i = 0;
    while (i < text.size() && isCSpace(text[i])) {
        ++i;
    }
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    const std::size_t digitsStart = i;
    while (i < text.size() && isDigit(text[i])) {
        ++i;
    }
    if (i == digitsStart || i != text.size()) {
        return false;
    }
    const std::optional<std::int32_t> parsed = parseInt32(text);
    if (!parsed) {
        return false;
    }
    value = *parsed;
    return true;
}

std::vector<std::string> splitCommaFields(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == ',') {
            fields.emplace_back(line.substr(start, i - start));
            start = i + 1;
        }
    }
    fields.emplace_back(line.substr(start));
    return fields;
}

std::string stripOuterQuotes(std::string_view field) {
    if (!field.empty() && field.front() == '"') {
        field.remove_prefix(1);
    }
    if (!field.empty() && field.back() == '"') {
        field.remove_suffix(1);
    }
    return std::string(field);
}

}  // namespace velk::core::features
