#include "operations/ResultProjection.h"

#include <clocale>
#include <locale>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "operations/TestFixtures.h"

namespace velk::core::operations {
namespace {

SchemaField field(std::string name, FieldType type, bool nullable = false) {
    SchemaField f;
    f.name = std::move(name);
    f.label = f.name;
    f.type = type;
    f.nullable = nullable;
    return f;
}

SchemaField table(std::string name, std::vector<SchemaField> members) {
    SchemaField f = field(std::move(name), FieldType::ObjectArray);
    f.itemSchema = "Item";
    f.fields = std::move(members);
    return f;
}

TEST(CellToJsonTest, TypedByField) {
    using T = FieldType;
    const auto unknown = static_cast<FieldType>(42);
    const struct {
        FieldType type;
        const char* text;
        bool nullable;
        const char* json;
    } cases[] = {
        // Empty text: null when nullable, else the type's fallback.
        {T::String, "", false, R"("")"},
        {T::String, "", true, "null"},
        {T::Integer, "", false, "0"},
        {T::Integer, "", true, "null"},
        {T::Number, "", false, "0.0"},
        {T::Number, "", true, "null"},
        {T::Boolean, "", false, "false"},
        {T::Boolean, "", true, "null"},
        {T::Date, "", false, R"("")"},
        {T::DateTime, "", false, R"("")"},
        {T::Enum, "", false, R"("")"},
        {T::Enum, "", true, "null"},
        {T::StringArray, "", false, "[]"},
        {T::StringArray, "", true, "null"},
        {T::ObjectArray, "", false, "[]"},
        {T::ObjectArray, "", true, "null"},
        {unknown, "", false, R"("")"},
        {unknown, "", true, "null"},

        // Integer: strtoll prefix semantics, always an integer JSON number.
        {T::Integer, "42", false, "42"},
        {T::Integer, "12abc", false, "12"},
        {T::Integer, " 7", false, "7"},
        {T::Integer, "12.9", true, "12"},
        {T::Integer, "+3", false, "3"},
        {T::Integer, "-15", false, "-15"},
        {T::Integer, "9223372036854775807", false, "9223372036854775807"},
        {T::Integer, "-9223372036854775808", false, "-9223372036854775808"},
        {T::Integer, "9223372036854775808", false, "0"},
        {T::Integer, "9223372036854775808", true, "null"},
        {T::Integer, "abc", false, "0"},
        {T::Integer, "abc", true, "null"},
        {T::Integer, "-", false, "0"},

        // Number: strtod in the "C" locale, always a floating JSON number.
        {T::Number, "3.14", false, "3.14"},
        {T::Number, "42", false, "42.0"},
        {T::Number, "-0.5", true, "-0.5"},
        {T::Number, "3.14xyz", false, "3.14"},
        {T::Number, "1,5", false, "1.0"},
        {T::Number, " 2.5", false, "2.5"},
        {T::Number, "1e3", false, "1000.0"},
        {T::Number, "abc", false, "0.0"},
        {T::Number, "abc", true, "null"},
        {T::Number, "1e999", false, "0.0"},
        {T::Number, "1e999", true, "null"},
        // Non-finite values would otherwise serialize as null in a non-nullable field.
        {T::Number, "nan", false, "0.0"},
        {T::Number, "nan", true, "null"},
        {T::Number, "inf", false, "0.0"},
        {T::Number, "-Infinity", false, "0.0"},

        // Boolean: four spellings of true, everything else false.
        {T::Boolean, "true", false, "true"},
        {T::Boolean, "1", true, "true"},
        {T::Boolean, "TRUE", false, "true"},
        {T::Boolean, "True", false, "true"},
        {T::Boolean, "tRue", false, "false"},
        {T::Boolean, " true", false, "false"},
        {T::Boolean, "yes", true, "false"},
        {T::Boolean, "false", false, "false"},
        {T::Boolean, "0", false, "false"},
        {T::Boolean, "да", true, "false"},

        // Texts pass unchanged; dates and enum values are not checked.
        {T::String, "Иван Петров", false, R"("Иван Петров")"},
        {T::String, " 12 ", true, R"(" 12 ")"},
        {T::Date, "15.01.2026", false, R"("15.01.2026")"},
        {T::DateTime, "not a time", false, R"("not a time")"},
        {T::Enum, "not_implemented", false, R"("not_implemented")"},
        {unknown, "x", false, R"("x")"},

        // A text is never split into array elements.
        {T::StringArray, "a,b,c", false, "[]"},
        {T::StringArray, "a,b,c", true, "[]"},
        {T::ObjectArray, "[{\"a\":1}]", true, "[]"},
    };
    for (const auto& c : cases) {
        SchemaField f = field("f", c.type, c.nullable);
        f.enumValues = {"ok", "error"};
        EXPECT_EQ(cellToJson(c.text, f).dump(), c.json)
            << "type " << static_cast<int>(c.type) << ", text '" << c.text << "', nullable " << c.nullable;
    }
}

TEST(GenericEnvelopeTest, ErrorResultWithoutTable) {
    InquiryResult result;
    result.metadata = {{"status", "error"}, {"error", "Няма връзка"}};
    EXPECT_EQ(projectInquiryResult(ResultSchema{"AnyResult", {}}, result).dump(),
              R"({"columns":[],"metadata":{"error":"Няма връзка","status":"error"},"rows":[]})");
}

TEST(GenericEnvelopeTest, CellsStayTextsInOrder) {
    InquiryResult result;
    result.columns = {{"b", "Бе"}, {"a", "А"}, {"a", "dup"}};
    result.rows = {{"12", "true", "x"}, {"3.5"}, {}};
    result.metadata = {{"status", "ok"}};
    result.rawBody = "ignored";
    const auto envelope = genericEnvelope(result);
    EXPECT_EQ(envelope.dump(),
              R"({"columns":[{"id":"b","label":"Бе"},{"id":"a","label":"А"},{"id":"a","label":"dup"}],)"
              R"("metadata":{"status":"ok"},"rows":[["12","true","x"],["3.5"],[]]})");
    EXPECT_EQ(genericEnvelope(InquiryResult{}).dump(), R"({"columns":[],"metadata":{},"rows":[]})");
}

TEST(ProjectInquiryResultTest, UnfilledSchemaYieldsEveryKey) {
    const ResultSchema schema{"DemoResult",
                              {
                                  field("status", FieldType::Enum),
                                  field("error", FieldType::String, true),
                                  field("rowCount", FieldType::Integer),
                                  field("total", FieldType::Number),
                                  field("paid", FieldType::Boolean),
                                  field("from", FieldType::Date),
                                  field("at", FieldType::DateTime, true),
                                  field("tags", FieldType::StringArray, true),
                                  table("items", {field("a", FieldType::String)}),
                              }};
    EXPECT_EQ(projectInquiryResult(schema, InquiryResult{}).dump(),
              R"({"at":null,"error":null,"from":"","items":[],"paid":false,"rowCount":0,)"
              R"("status":"","tags":null,"total":0.0})");
}

TEST(ProjectInquiryResultTest, ErrorMetadataStillTyped) {
    const ResultSchema schema{
        "DemoResult",
        {field("status", FieldType::Enum), field("error", FieldType::String, true), table("items", {})}};
    InquiryResult result;
    result.columns = {{"a", "A"}};
    result.rows = {{"1"}};
    result.metadata = {{"status", "error"}, {"error", "boom"}, {"secret", "dropped"}};
    // An item schema without members still gives one (empty) object per row.
    EXPECT_EQ(projectInquiryResult(schema, result).dump(),
              R"({"error":"boom","items":[{}],"status":"error"})");
}

TEST(ProjectInquiryResultTest, RowsByColumnId) {
    const ResultSchema schema{"PaymentsResult",
                              {
                                  field("status", FieldType::String),
                                  table("items",
                                        {
                                            field("amount", FieldType::Number),
                                            field("count", FieldType::Integer),
                                            field("note", FieldType::String, true),
                                            field("paid", FieldType::Boolean),
                                            field("missing", FieldType::Integer, true),
                                            field("missingNumber", FieldType::Number),
                                        }),
                              }};
    InquiryResult result;
    // Column order differs from member order; "extra" is named by no member; "count" appears twice.
    result.columns = {{"note", "Бележка"}, {"extra", "X"}, {"count", "Брой"},
                      {"amount", "Сума"},  {"paid", "P"},  {"count", "Брой 2"}};
    result.rows = {
        {"първа", "x", "7", "100", "1", "999"},
        {"", "x", "n/a", "1,5", "no", "999"},
        {"кратък", "x", "3"},  // short row: amount and paid cells are missing
    };
    result.metadata = {{"status", "ok"}, {"rowCount", "3"}};

    EXPECT_EQ(projectInquiryResult(schema, result).dump(),
              R"({"items":[)"
              R"({"amount":100.0,"count":7,"missing":null,"missingNumber":0.0,"note":"първа","paid":true},)"
              R"({"amount":1.0,"count":0,"missing":null,"missingNumber":0.0,"note":null,"paid":false},)"
              R"({"amount":0.0,"count":3,"missing":null,"missingNumber":0.0,"note":"кратък","paid":false})"
              R"(],"status":"ok"})");
}

TEST(ProjectInquiryResultTest, ShortRowGivesNullForNullableMembers) {
    const ResultSchema schema{
        "R", {table("items", {field("a", FieldType::String, true), field("b", FieldType::Number, true)})}};
    InquiryResult result;
    result.columns = {{"a", ""}, {"b", ""}};
    result.rows = {{}, {"x"}};
    EXPECT_EQ(projectInquiryResult(schema, result).dump(),
              R"({"items":[{"a":null,"b":null},{"a":"x","b":null}]})");
}

TEST(ProjectInquiryResultTest, EveryTableFieldReadsTheSameTable) {
    const ResultSchema schema{
        "R",
        {
            table("first", {field("a", FieldType::Integer)}),
            table("second", {field("a", FieldType::String), field("b", FieldType::Integer)}),
        }};
    InquiryResult result;
    result.columns = {{"a", ""}};
    result.rows = {{"5"}};
    EXPECT_EQ(projectInquiryResult(schema, result).dump(),
              R"({"first":[{"a":5}],"second":[{"a":"5","b":0}]})");
}

TEST(ProjectInquiryResultTest, LaterFieldOfTheSameNameWins) {
    const ResultSchema schema{"R", {field("x", FieldType::Integer), field("x", FieldType::String)}};
    InquiryResult result;
    result.metadata = {{"x", "12"}};
    EXPECT_EQ(projectInquiryResult(schema, result).dump(), R"({"x":"12"})");
}

TEST(ProjectSubmissionResultTest, SixKeyFallbackWithoutFields) {
    SubmissionResult result;
    result.nativeErrors = {"ред 1: грешка", "ред 2"};
    result.rawBody = "body";
    result.rawBodyUrl = "https://example.invalid/r";
    EXPECT_EQ(
        projectSubmissionResult(ResultSchema{}, result).dump(),
        R"({"documentId":"","errorMessage":"","incomeNumber":"","nativeErrors":["ред 1: грешка","ред 2"],)"
        R"("submissionDate":"","success":false})");
}

TEST(ProjectSubmissionResultTest, ByFieldNameOnly) {
    SubmissionResult result;
    result.success = true;
    result.documentId = "D1";
    result.submissionDate = "2026-02-01";
    result.errorMessage = "none";
    result.rawBody = "<p/>";
    result.rawBodyContentType = "text/html";
    result.rawBodyUrl = "https://example.invalid/doc";
    // Declared types and nullability play no part: the value comes from the name.
    const ResultSchema schema{"Dec1SubmissionResult",
                              {
                                  field("success", FieldType::String, true),
                                  field("incomeNumber", FieldType::Integer, true),
                                  field("documentId", FieldType::String, true),
                                  field("submissionDate", FieldType::DateTime, true),
                                  field("errorMessage", FieldType::String, true),
                                  field("nativeErrors", FieldType::StringArray, true),
                                  field("rawBody", FieldType::String),
                                  field("rawBodyContentType", FieldType::String),
                                  field("rawBodyUrl", FieldType::String),
                                  field("receiptNumber", FieldType::String),
                              }};
    EXPECT_EQ(
        projectSubmissionResult(schema, result).dump(),
        R"({"documentId":"D1","errorMessage":"none","incomeNumber":"","nativeErrors":[],)"
        R"("rawBody":"<p/>","rawBodyContentType":"text/html","rawBodyUrl":"https://example.invalid/doc",)"
        R"("receiptNumber":null,"submissionDate":"2026-02-01","success":true})");

    const ResultSchema partial{"R", {field("rawBodyUrl", FieldType::String)}};
    EXPECT_EQ(projectSubmissionResult(partial, result).dump(),
              R"({"rawBodyUrl":"https://example.invalid/doc"})");
}

// Texts from outside may hold any bytes; the JSON writer throws on a string
// that is not UTF-8, so each projection hands on U+FFFD in their place.
TEST(ProjectionUtf8Test, BrokenBytesBecomeReplacementCharactersEverywhere) {
    const std::string broken = "a\xFF\xC3";
    const std::string repaired = "a\xEF\xBF\xBD\xEF\xBF\xBD";
    InquiryResult inquiry;
    inquiry.columns = {{"id", broken}};
    inquiry.rows = {{broken}};
    inquiry.metadata = {{"status", broken}, {broken, "x"}};
    SubmissionResult submission;
    submission.incomeNumber = broken;
    submission.documentId = broken;
    submission.submissionDate = broken;
    submission.errorMessage = broken;
    submission.nativeErrors = {broken};
    submission.rawBody = broken;
    submission.rawBodyContentType = broken;
    submission.rawBodyUrl = broken;
    const ResultSchema inquirySchema{
        "R", {field("status", FieldType::String), table("rows", {field("id", FieldType::String)})}};
    const ResultSchema submissionSchema{
        "S",
        {field("incomeNumber", FieldType::String), field("documentId", FieldType::String),
         field("submissionDate", FieldType::String), field("errorMessage", FieldType::String),
         field("nativeErrors", FieldType::StringArray), field("rawBody", FieldType::String),
         field("rawBodyContentType", FieldType::String), field("rawBodyUrl", FieldType::String)}};
    const std::vector<std::pair<const char*, nlohmann::json>> projections = {
        {"typed inquiry", projectInquiryResult(inquirySchema, inquiry)},
        {"envelope", genericEnvelope(inquiry)},
        {"typed submission", projectSubmissionResult(submissionSchema, submission)},
        {"six keys", projectSubmissionResult(ResultSchema{}, submission)},
    };
    for (const auto& [name, projection] : projections) {
        std::string text;
        ASSERT_NO_THROW(text = projection.dump()) << name;
        EXPECT_EQ(text.find("\xFF"), std::string::npos) << name;
        EXPECT_NE(text.find(repaired), std::string::npos) << name;
    }
    EXPECT_EQ(projectInquiryResult(inquirySchema, inquiry)["status"], repaired);
    EXPECT_EQ(genericEnvelope(inquiry)["metadata"][repaired], "x");
}

// Restores the process locale, C and C++, when the test ends.
class LocaleGuard {
public:
    LocaleGuard() : cLocale_(std::setlocale(LC_ALL, nullptr)), cppLocale_() {}
    ~LocaleGuard() {
        std::locale::global(cppLocale_);
        std::setlocale(LC_ALL, cLocale_.c_str());
    }

private:
    std::string cLocale_;
    std::locale cppLocale_;
};

TEST(ProjectionLocaleTest, CommaDecimalLocaleChangesNothing) {
    const ResultSchema schema{
        "R",
        {
            field("total", FieldType::Number),
            field("rate", FieldType::Number),
            table("items", {field("amount", FieldType::Number), field("n", FieldType::Integer)}),
        }};
    InquiryResult result;
    result.columns = {{"amount", ""}, {"n", ""}};
    result.rows = {{"3.14", "2"}, {"1,5", "3"}};
    result.metadata = {{"total", "1234.5"}, {"rate", "0.25"}};
    const ResultSchema fixtureSchema{
        "F", {field("amount", FieldType::Number), table("rows", {field("v", FieldType::Number)})}};

    const std::string expected =
        R"({"items":[{"amount":3.14,"n":2},{"amount":1.0,"n":3}],"rate":0.25,"total":1234.5})";
    const std::string expectedFixture = R"({"amount":12.34,"rows":[{"v":12.34},{"v":24.68}]})";
    ASSERT_EQ(projectInquiryResult(schema, result).dump(), expected);
    ASSERT_EQ(projectInquiryResult(fixtureSchema, demoInquiryResult(fixtureSchema)).dump(), expectedFixture);

    LocaleGuard guard;
    try {
        std::locale::global(std::locale("bg_BG.UTF-8"));
    } catch (const std::runtime_error&) {
        GTEST_SKIP() << "locale bg_BG.UTF-8 is not installed";
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");

    EXPECT_EQ(projectInquiryResult(schema, result).dump(), expected);
    EXPECT_EQ(demoValue(field("x", FieldType::Number), 1), "24.68");
    EXPECT_EQ(projectInquiryResult(fixtureSchema, demoInquiryResult(fixtureSchema)).dump(), expectedFixture);
}

}  // namespace
}  // namespace velk::core::operations
