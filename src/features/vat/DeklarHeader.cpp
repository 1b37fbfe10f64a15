#include "features/vat/DeklarHeader.h"

#include <optional>

#include "common/TextUtils.h"
#include "features/common/FormFileHeaders.h"
#include "features/vat/VatTextFiles.h"

namespace velk::core::features::vat {

namespace {

bool allDigits(std::string_view text) {
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// The identifier less a "BG" prefix in any case, when longer than it.
std::string_view withoutBgPrefix(std::string_view id) {
    if (id.size() > 2 && (id[0] == 'B' || id[0] == 'b') && (id[1] == 'G' || id[1] == 'g')) {
        id.remove_prefix(2);
    }
    return id;
}

// 9 or 13 characters (a company's identifier), or 10 (the personal number of
// a natural person registered for VAT).
bool hasIdentifierLength(std::string_view id) {
    return id.size() == 9 || id.size() == 10 || id.size() == 13;
}

bool validPeriod(std::int32_t year, std::int32_t month) {
    return year >= 2000 && year <= 2100 && month >= 1 && month <= 12;
}

// Year and month of a period text's first six characters.
bool readPeriod(std::string_view period, DeklarHeader& header) {
    if (period.size() < 6) {
        return false;
    }
    return tryParseWholeInt(period.substr(0, 4), header.year) &&
           tryParseWholeInt(period.substr(4, 2), header.month) && validPeriod(header.year, header.month);
}

// The header as the fixed-width layout places it: a name that runs into the
// period, or holds a double blank, does not disturb it.
std::optional<DeklarHeader> fixedWidthHeader(std::string_view line) {
    const std::string vatNumber = fixedField(line, 0, 15);
    const std::string_view id = withoutBgPrefix(vatNumber);
    const std::string period = fixedField(line, 65, 6);
    if (!hasIdentifierLength(id) || !allDigits(id) || period.size() != 6 || !allDigits(period)) {
        return std::nullopt;
    }
    DeklarHeader header;
    if (!readPeriod(period, header)) {
        return std::nullopt;
    }
    header.bulstat = std::string(id);
    header.ok = true;
    return header;
}

DeklarHeader tokenHeader(std::string_view line) {
    const std::vector<std::string> tokens = splitOnDoubleSpace(line);
    if (tokens.size() < 3) {
        return {};
    }
    const std::string_view id = withoutBgPrefix(tokens[0]);
    if (!hasIdentifierLength(id)) {
        return {};
    }
    DeklarHeader header;
    if (!readPeriod(tokens[2], header)) {
        return {};
    }
    header.bulstat = std::string(id);
    header.ok = true;
    return header;
}

}  // namespace

DeklarHeader readDeklarHeader(const std::filesystem::path& path) {
    if (asciiUpper(path.filename().string()) != "DEKLAR.TXT") {
        return {};
    }
    const std::optional<std::string> line = readFirstLine(path);
    if (!line) {
        return {};
    }
    if (std::optional<DeklarHeader> header = fixedWidthHeader(*line)) {
        return *header;
    }
    return tokenHeader(*line);
}

std::vector<std::string> splitOnDoubleSpace(std::string_view line) {
    std::vector<std::string> tokens;
    std::string token;
    std::size_t blanks = 0;
    const auto emit = [&tokens, &token] {
        while (!token.empty() && token.back() == ' ') {
            token.pop_back();
        }
        if (!token.empty()) {
            tokens.push_back(std::move(token));
        }
        token.clear();
    };
    for (const char c : line) {
        if (c == ' ') {
            if (blanks == 0) {
                token.push_back(' ');
            }
            ++blanks;
            continue;
        }
        if (blanks >= 2) {
            emit();
        }
        token.push_back(c);
        blanks = 0;
    }
    emit();
    return tokens;
}

}  // namespace velk::core::features::vat
