#include "features/vat/VatTextFiles.h"

#include <array>
#include <filesystem>
#include <system_error>

#include "common/TextUtils.h"
#include "platform/RegularFile.h"

namespace velk::core::features::vat {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kDeklarVatNumber = 0;
constexpr std::size_t kDeklarName = 15;
constexpr std::size_t kDeklarPeriod = 65;
// The representative is looked for from here (the period's last byte) and
// stands only when its '/' is at least ten bytes further on.
constexpr std::size_t kRepresentativeFrom = 70;
constexpr std::size_t kEgnWidth = 10;
constexpr std::size_t kRepresentativeNameWidth = 80;
constexpr std::size_t kDeklarValues = 90;
constexpr std::size_t kJournalAmounts = 159;
constexpr std::size_t kFigureWidth = 15;

struct JournalField {
    const char* key;
    std::size_t offset;
    std::size_t width;
};

constexpr std::array<JournalField, 8> kJournalFields = {{
    {"vatNumber", 0, 15},
    {"periodCode", 15, 7},
    {"branch", 22, 11},
    {"documentNumber", 33, 21},
    {"documentDate", 54, 10},
    {"partnerVat", 64, 15},
    {"partnerName", 79, 50},
    {"description", 129, 30},
}};

constexpr bool isFieldBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view trimField(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && isFieldBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isFieldBlank(text[end - 1])) {
        --end;
    }
    return text.substr(begin, end - begin);
}

// Cut and trimmed, not yet converted.
std::string_view rawField(std::string_view line, std::size_t offset, std::size_t width) {
    if (offset >= line.size()) {
        return {};
    }
    return trimField(line.substr(offset, width));
}

bool isRegularFile(const fs::path& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::status(path, ec));
}

// A name from the disk as JSON text.
std::string nameText(const fs::path& path) {
    return toValidUtf8(path.filename().string());
}

// The file's content, or the error that keeps it out of the bundle.
std::optional<std::string> readBundleFile(const std::string& path, json& errors) {
    std::optional<std::string> bytes = readFileBytes(path);
    if (!bytes) {
        errors.push_back("Файлът не може да бъде прочетен: " + nameText(path));
    }
    return bytes;
}

}  // namespace

std::vector<std::string_view> splitLines(std::string_view bytes) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t lf = bytes.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? bytes.size() : lf;
        std::string_view line = bytes.substr(start, end - start);
        if (lf != std::string_view::npos && !line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        lines.push_back(line.substr(0, kMaxVatLineBytes));
        if (lf == std::string_view::npos) {
            break;
        }
        start = lf + 1;
    }
    return lines;
}

std::string fixedField(std::string_view line, std::size_t offset, std::size_t width) {
    return cp1251ToUtf8(rawField(line, offset, width));
}

std::vector<std::string> splitFixedFields(std::string_view line, std::size_t offset, std::size_t width) {
    std::vector<std::string> fields;
    for (std::size_t position = offset; position < line.size() && width > 0; position += width) {
        const std::string_view field = rawField(line, position, width);
        if (field.empty()) {
            break;
        }
        fields.push_back(cp1251ToUtf8(field));
    }
    return fields;
}

std::optional<std::string> readFileBytes(const std::string& path) {
    std::string bytes;
    if (platform::readWholeRegularFile(fs::path(path), bytes, kMaxVatFileBytes) !=
        platform::WholeFileStatus::Read) {
        return std::nullopt;
    }
    return bytes;
}

std::string findFileCaseInsensitive(const std::string& folder, const std::string& name) {
    const fs::path dir(folder);
    std::error_code ec;
    if (!fs::is_directory(fs::status(dir, ec))) {
        return {};
    }
    for (const std::string& candidate : {name, asciiUpper(name), asciiLower(name)}) {
        if (isRegularFile(dir / candidate)) {
            return (dir / candidate).string();
        }
    }
    const std::string wanted = asciiLower(name);
    fs::directory_iterator it(dir, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (asciiLower(it->path().filename().string()) == wanted && isRegularFile(it->path())) {
            return it->path().string();
        }
    }
    return {};
}

json parseDeklar(std::string_view bytes) {
    const std::vector<std::string_view> lines = splitLines(bytes);
    if (lines.empty()) {
        return nullptr;
    }
    const std::string_view line = lines.front();
    json deklar = json::object();
    deklar["vatNumber"] = fixedField(line, kDeklarVatNumber, 15);
    deklar["name"] = fixedField(line, kDeklarName, 50);
    deklar["period"] = fixedField(line, kDeklarPeriod, 6);
    if (line.size() > kRepresentativeFrom) {
        const std::string_view rest = line.substr(kRepresentativeFrom);
        const std::size_t slash = rest.find('/');
        // Only the first '/' is tried: one before offset 80 means none.
        if (slash != std::string_view::npos && slash >= kEgnWidth) {
            deklar["representative"] = {
                {"egn", fixedField(rest, slash - kEgnWidth, kEgnWidth)},
                {"name", fixedField(rest, slash + 1, kRepresentativeNameWidth)},
            };
        }
    }
    deklar["values"] = splitFixedFields(line, kDeklarValues, kFigureWidth);
    return deklar;
}

json parseJournalRecord(std::string_view line) {
    json record = json::object();
    for (const JournalField& field : kJournalFields) {
        record[field.key] = fixedField(line, field.offset, field.width);
    }
    record["amounts"] = splitFixedFields(line, kJournalAmounts, kFigureWidth);
    return record;
}

json parseJournal(std::string_view bytes) {
    json records = json::array();
    for (const std::string_view line : splitLines(bytes)) {
        if (!trimField(line).empty()) {
            records.push_back(parseJournalRecord(line));
        }
    }
    return records;
}

json parseVatFolder(const std::string& folder) {
    json bundle = json::object();
    bundle["directory"] = toValidUtf8(folder);
    json errors = json::array();
    std::error_code ec;
    if (!fs::is_directory(fs::status(fs::path(folder), ec))) {
        errors.push_back("Папката не съществува: " + toValidUtf8(folder));
        bundle["errors"] = std::move(errors);
        return bundle;
    }

    if (const std::string path = findFileCaseInsensitive(folder, "DEKLAR.TXT"); !path.empty()) {
        json declaration = json::object();
        if (const std::optional<std::string> bytes = readBundleFile(path, errors)) {
            if (json parsed = parseDeklar(*bytes); parsed.is_object()) {
                declaration = std::move(parsed);
            }
        }
        declaration["sourceFile"] = nameText(path);
        bundle["declaration"] = std::move(declaration);
    } else {
        errors.push_back("Липсва файл DEKLAR.TXT");
    }

    struct Journal {
        const char* fileName;
        const char* key;
        const char* sourceKey;
    };
    for (const Journal& journal : {Journal{"POKUPKI.TXT", "purchases", "purchasesSourceFile"},
                                   Journal{"PRODAGBI.TXT", "sales", "salesSourceFile"}}) {
        const std::string path = findFileCaseInsensitive(folder, journal.fileName);
        if (path.empty()) {
            errors.push_back(std::string("Липсва файл ") + journal.fileName);
            continue;
        }
        const std::optional<std::string> bytes = readBundleFile(path, errors);
        bundle[journal.key] = bytes ? parseJournal(*bytes) : json::array();
        bundle[journal.sourceKey] = nameText(path);
    }

    if (!errors.empty()) {
        bundle["errors"] = std::move(errors);
    }
    return bundle;
}

VatFolderCheck checkVatFolderFiles(const std::string& folder) {
    static constexpr std::array<const char*, 3> kRequired = {"DEKLAR.TXT", "POKUPKI.TXT", "PRODAGBI.TXT"};
    VatFolderCheck check;
    check.folder = folder;
    std::array<bool, 3> present{};
    const fs::path dir(folder);
    std::error_code ec;
    if (fs::is_directory(fs::status(dir, ec))) {
        fs::directory_iterator it(dir, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            const std::string upper = asciiUpper(it->path().filename().string());
            for (std::size_t i = 0; i < kRequired.size(); ++i) {
                if (upper == kRequired[i] && isRegularFile(it->path())) {
                    present[i] = true;
                }
            }
        }
    }
    for (std::size_t i = 0; i < kRequired.size(); ++i) {
        if (!present[i]) {
            check.missing.emplace_back(kRequired[i]);
        }
    }
    check.ok = check.missing.empty();
    return check;
}

}  // namespace velk::core::features::vat
