// The typed JSON projection of the operations' results: whatever texts a
// result holds (cells, metadata, receipts, raw bodies from outside), the
// projection never throws, always writes out as strict UTF-8 JSON, and gives
// each schema field a value of its declared type (null only when nullable).

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "FuzzCheck.h"
#include "common/JsonUtils.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/ResultProjection.h"
#include "operations/SubmissionResultSchema.h"

namespace {

using nlohmann::json;
using namespace velk::core::operations;

std::vector<std::string> splitOn(std::string_view text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t at = text.find(separator, start);
        parts.emplace_back(
            text.substr(start, at == std::string_view::npos ? std::string_view::npos : at - start));
        if (at == std::string_view::npos) {
            return parts;
        }
        start = at + 1;
    }
}

// Every name of the schema, members of tables included, so inputs can name them.
void collectNames(const std::vector<SchemaField>& fields, std::vector<std::string>& names) {
    for (const SchemaField& field : fields) {
        names.push_back(field.name);
        collectNames(field.fields, names);
    }
}

// "#<n>" names the schema's n-th name; any other text is itself.
std::string nameFrom(const std::string& text, const std::vector<std::string>& names) {
    if (text.size() >= 2 && text[0] == '#' && !names.empty()) {
        return names[static_cast<unsigned char>(text[1]) % names.size()];
    }
    return text;
}

// A schema made of the input's bytes, names drawn from a small pool.
ResultSchema fuzzedSchema(velk::fuzz::InputParts& parts) {
    static const char* const kNames[] = {"status", "error", "year", "rows",
                                         "amount", "date",  "flag", "items"};
    ResultSchema schema{"fuzzed", {}};
    const std::size_t count = parts.byte() % 8;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = parts.byte();
        SchemaField field;
        field.name = kNames[b % 8];
        field.type = static_cast<FieldType>((b >> 3) % 9);
        field.nullable = (b & 0x80) != 0;
        if (field.type == FieldType::ObjectArray) {
            const std::size_t members = parts.byte() % 5;
            for (std::size_t m = 0; m < members; ++m) {
                const std::uint8_t mb = parts.byte();
                SchemaField member;
                member.name = kNames[mb % 8];
                member.type = static_cast<FieldType>((mb >> 3) % 8);  // no nested tables
                member.nullable = (mb & 0x80) != 0;
                field.fields.push_back(std::move(member));
            }
        }
        schema.fields.push_back(std::move(field));
    }
    return schema;
}

bool hasType(const json& value, const SchemaField& field) {
    if (value.is_null()) {
        return field.nullable;
    }
    switch (field.type) {
        case FieldType::Integer:
            return value.is_number_integer();
        case FieldType::Number:
            return value.is_number();
        case FieldType::Boolean:
            return value.is_boolean();
        case FieldType::StringArray:
        case FieldType::ObjectArray:
            return value.is_array();
        default:
            return value.is_string();
    }
}

void checkInquiry(const ResultSchema& schema, const InquiryResult& result) {
    const json out = projectInquiryResult(schema, result);
    const std::string written = velk::core::dumpCompact(out);
    VELK_FUZZ_CHECK(velk::core::tryParseExternalJson(written).has_value());
    if (schema.fields.empty()) {
        VELK_FUZZ_CHECK(out.at("rows").size() == result.rows.size());
        VELK_FUZZ_CHECK(out.at("columns").size() == result.columns.size());
        return;
    }
    // A later field of the same name takes the place of an earlier one.
    std::map<std::string, const SchemaField*> byName;
    for (const SchemaField& field : schema.fields) {
        byName[field.name] = &field;
    }
    VELK_FUZZ_CHECK(out.size() == byName.size());
    for (const auto& [name, field] : byName) {
        const json& value = out.at(name);
        if (field->type == FieldType::ObjectArray) {
            VELK_FUZZ_CHECK(value.is_array() && value.size() == result.rows.size());
            std::map<std::string, const SchemaField*> members;
            for (const SchemaField& member : field->fields) {
                members[member.name] = &member;
            }
            for (const json& item : value) {
                VELK_FUZZ_CHECK(item.size() == members.size());
                for (const auto& [memberName, member] : members) {
                    VELK_FUZZ_CHECK(hasType(item.at(memberName), *member));
                }
            }
            continue;
        }
        VELK_FUZZ_CHECK(hasType(value, *field));
    }
}

void checkSubmission(const ResultSchema& schema, const SubmissionResult& result) {
    const json out = projectSubmissionResult(schema, result);
    const std::string written = velk::core::dumpCompact(out);
    VELK_FUZZ_CHECK(velk::core::tryParseExternalJson(written).has_value());
    VELK_FUZZ_CHECK(out.at("success") == result.success);
    VELK_FUZZ_CHECK(out.at("nativeErrors").size() == result.nativeErrors.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velk::fuzz::InputParts parts(data, size);
    const std::uint8_t choice = parts.byte();

    VELK_FUZZ_NO_THROW({
        ResultSchema schema;
        switch (choice % 10) {
            case 0:
                schema = debtPaymentsResultSchema();
                break;
            case 1:
                schema = debtPaymentsTypesResultSchema();
                break;
            case 2:
                schema = napCatalogResultSchema();
                break;
            case 3:
                schema = taxpayersResultSchema();
                break;
            case 4:
                schema = vatFilesParseResultSchema();
                break;
            case 5:
                schema = vatMonthlyFilesResultSchema();
                break;
            case 6:
                schema = vatValidationResultSchema();
                break;
            case 7:
                schema = submissionResultSchema("fuzz");
                break;
            case 8:
                schema = fuzzedSchema(parts);
                break;
            default:
                break;  // the generic envelope
        }
        std::vector<std::string> names;
        collectNames(schema.fields, names);

        // Columns, then metadata lines "key=value", then one row a part, cells split by tabs.
        InquiryResult result;
        for (const std::string& id : splitOn(parts.text(), '\t')) {
            result.columns.push_back({nameFrom(id, names), id});
        }
        for (const std::string& line : splitOn(parts.text(), '\n')) {
            const std::size_t eq = line.find('=');
            result.metadata[nameFrom(line.substr(0, eq), names)] =
                eq == std::string::npos ? std::string() : line.substr(eq + 1);
        }
        while (!parts.empty()) {
            result.rows.push_back(splitOn(parts.text(), '\t'));
        }
        checkInquiry(schema, result);
        checkInquiry(ResultSchema{}, result);

        SubmissionResult submission;
        submission.success = (choice & 0x80) != 0;
        const auto cell = [&result](std::size_t row, std::size_t column) {
            return row < result.rows.size() && column < result.rows[row].size() ? result.rows[row][column]
                                                                                : std::string();
        };
        submission.incomeNumber = cell(0, 0);
        submission.documentId = cell(0, 1);
        submission.submissionDate = cell(0, 2);
        submission.errorMessage = cell(0, 3);
        submission.rawBody = cell(1, 0);
        submission.rawBodyContentType = cell(1, 1);
        submission.rawBodyUrl = cell(1, 2);
        submission.nativeErrors = result.rows.empty() ? std::vector<std::string>() : result.rows.back();
        checkSubmission(submissionResultSchema("fuzz"), submission);
        checkSubmission(ResultSchema{}, submission);
    });
    return 0;
}
