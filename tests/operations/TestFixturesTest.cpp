#include "operations/TestFixtures.h"

#include <string>

#include <gtest/gtest.h>

#include "operations/ResultProjection.h"

namespace velk::core::operations {
namespace {

SchemaField field(std::string name, FieldType type, bool nullable = false,
                  std::vector<std::string> enumValues = {}) {
    SchemaField f;
    f.name = std::move(name);
    f.label = "Етикет " + f.name;
    f.type = type;
    f.nullable = nullable;
    f.enumValues = std::move(enumValues);
    return f;
}

SchemaField table(std::string name, std::vector<SchemaField> members) {
    SchemaField f = field(std::move(name), FieldType::ObjectArray);
    f.itemSchema = "Item";
    f.fields = std::move(members);
    return f;
}

std::string projected(const ResultSchema& schema) {
    return projectInquiryResult(schema, demoInquiryResult(schema)).dump();
}

TEST(DemoValueTest, ByTypeAndRow) {
    using T = FieldType;
    const struct {
        FieldType type;
        std::vector<std::string> enumValues;
        std::int32_t row;
        const char* text;
    } cases[] = {
        {T::String, {}, 0, "demo-0"},
        {T::String, {}, 1, "demo-1"},
        {T::Integer, {}, 0, "42"},
        {T::Integer, {}, 1, "43"},
        {T::Number, {}, 0, "12.34"},
        {T::Number, {}, 1, "24.68"},
        {T::Date, {}, 0, "2026-01-15"},
        {T::Date, {}, 1, "2026-01-15"},
        {T::DateTime, {}, 0, "2026-01-15T10:00:00Z"},
        {T::DateTime, {}, 1, "2026-01-15T10:00:00Z"},
        {T::Boolean, {}, 0, "true"},
        {T::Boolean, {}, 1, "false"},
        {T::Enum, {"paid", "unpaid"}, 0, "paid"},
        {T::Enum, {"paid", "unpaid"}, 1, "paid"},
        {T::Enum, {}, 0, "demo"},
        {T::StringArray, {"a"}, 0, ""},
        {T::ObjectArray, {}, 1, ""},
        {static_cast<FieldType>(99), {}, 0, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(demoValue(field("f", c.type, false, c.enumValues), c.row), c.text)
            << "type " << static_cast<int>(c.type) << ", row " << c.row;
    }
}

TEST(DemoInquiryResultTest, TableFromFirstObjectArray) {
    const ResultSchema schema{
        "R",
        {
            field("count", FieldType::Integer),
            table("items", {field("source", FieldType::String), field("n", FieldType::Integer)}),
            table("other", {field("x", FieldType::Boolean)}),
        }};
    const InquiryResult result = demoInquiryResult(schema);
    ASSERT_EQ(result.columns.size(), 2u);
    EXPECT_EQ(result.columns[0].id, "source");
    EXPECT_EQ(result.columns[0].label, "Етикет source");
    EXPECT_EQ(result.columns[1].id, "n");
    const std::vector<std::vector<std::string>> rows{{"demo-0", "42"}, {"demo-1", "43"}};
    EXPECT_EQ(result.rows, rows);
    // Table fields get no metadata entry.
    EXPECT_EQ(result.metadata.size(), 1u);
    EXPECT_EQ(result.metadata.at("count"), "42");
    EXPECT_TRUE(result.rawBody.empty());
}

TEST(DemoInquiryResultTest, StatusBecomesOk) {
    const struct {
        SchemaField status;
    } cases[] = {
        {field("status", FieldType::String)},
        {field("status", FieldType::Enum, false, {"ok", "error"})},
        {field("status", FieldType::Enum, false, {"error", "ok"})},
        {field("status", FieldType::Enum)},
        {field("status", FieldType::Integer)},
    };
    for (const auto& c : cases) {
        const ResultSchema schema{"R", {c.status, field("error", FieldType::String, true)}};
        const InquiryResult result = demoInquiryResult(schema);
        EXPECT_EQ(result.metadata.at("status"), "ok") << "type " << static_cast<int>(c.status.type);
        EXPECT_EQ(result.metadata.at("error"), "demo-0");
    }

    const ResultSchema noStatus{"R", {field("message", FieldType::String)}};
    EXPECT_EQ(demoInquiryResult(noStatus).metadata.count("status"), 0u);
}

TEST(DemoInquiryResultTest, SchemaWithoutTableGivesMetadataOnly) {
    const ResultSchema schema{
        "StatusResult",
        {field("status", FieldType::String), field("incomeNumber", FieldType::String, true),
         field("rawBody", FieldType::String, true)}};
    const InquiryResult result = demoInquiryResult(schema);
    EXPECT_TRUE(result.columns.empty());
    EXPECT_TRUE(result.rows.empty());
    EXPECT_EQ(projected(schema), R"({"incomeNumber":"demo-0","rawBody":"demo-0","status":"ok"})");
}

TEST(DemoInquiryResultTest, EmptySchemaGivesEmptyResultAndEnvelope) {
    const ResultSchema schema{"EmptyResult", {}};
    const InquiryResult result = demoInquiryResult(schema);
    EXPECT_TRUE(result.columns.empty());
    EXPECT_TRUE(result.rows.empty());
    EXPECT_TRUE(result.metadata.empty());
    EXPECT_EQ(projected(schema), R"({"columns":[],"metadata":{},"rows":[]})");
}

TEST(FixtureProjectionTest, VatValidateLikeSchema) {
    const ResultSchema schema{
        "VatValidateResult",
        {
            field("status", FieldType::Enum, false, {"ok", "error"}),
            field("errorCount", FieldType::Integer),
            field("message", FieldType::String, true),
            table("items", {field("source", FieldType::String), field("message", FieldType::String)}),
        }};
    EXPECT_EQ(projected(schema),
              R"({"errorCount":42,"items":[{"message":"demo-0","source":"demo-0"},)"
              R"({"message":"demo-1","source":"demo-1"}],"message":"demo-0","status":"ok"})");
}

TEST(FixtureProjectionTest, EveryTypeFilledNullableToo) {
    const ResultSchema schema{"AllTypesResult",
                              {
                                  field("status", FieldType::Enum, false, {"error", "ok"}),
                                  field("error", FieldType::String, true),
                                  field("count", FieldType::Integer, true),
                                  field("total", FieldType::Number, true),
                                  field("flag", FieldType::Boolean, true),
                                  field("day", FieldType::Date, true),
                                  field("at", FieldType::DateTime, true),
                                  field("kind", FieldType::Enum, true, {"a", "b"}),
                                  field("tags", FieldType::StringArray, true),
                                  field("labels", FieldType::StringArray),
                                  table("items",
                                        {
                                            field("s", FieldType::String, true),
                                            field("i", FieldType::Integer, true),
                                            field("n", FieldType::Number, true),
                                            field("b", FieldType::Boolean, true),
                                            field("e", FieldType::Enum, true),
                                            field("list", FieldType::StringArray, true),
                                            field("nested", FieldType::ObjectArray),
                                        }),
                              }};
    EXPECT_EQ(projected(schema),
              R"({"at":"2026-01-15T10:00:00Z","count":42,"day":"2026-01-15","error":"demo-0","flag":true,)"
              R"("items":[{"b":true,"e":"demo","i":42,"list":null,"n":12.34,"nested":[],"s":"demo-0"},)"
              R"({"b":false,"e":"demo","i":43,"list":null,"n":24.68,"nested":[],"s":"demo-1"}],)"
              R"("kind":"a","labels":[],"status":"ok","tags":null,"total":12.34})");
}

TEST(FixtureProjectionTest, SecondTableSharesOnlyMatchingMembers) {
    const ResultSchema schema{
        "R",
        {
            table("first", {field("id", FieldType::Integer), field("name", FieldType::String)}),
            table("second", {field("id", FieldType::Integer), field("amount", FieldType::Number),
                             field("note", FieldType::String, true)}),
        }};
    EXPECT_EQ(projected(schema),
              R"({"first":[{"id":42,"name":"demo-0"},{"id":43,"name":"demo-1"}],)"
              R"("second":[{"amount":0.0,"id":42,"note":null},{"amount":0.0,"id":43,"note":null}]})");
}

TEST(DemoSubmissionResultTest, FixedReceipt) {
    const SubmissionResult result = demoSubmissionResult();
    EXPECT_TRUE(result.success);
    EXPECT_EQ(result.incomeNumber, "TEST-202601-12345");
    EXPECT_EQ(result.documentId, "DOC-TEST-12345");
    EXPECT_EQ(result.submissionDate, "2026-01-15T10:00:00Z");
    EXPECT_TRUE(result.errorMessage.empty());
    EXPECT_TRUE(result.nativeErrors.empty());
    EXPECT_TRUE(result.rawBody.empty());
    EXPECT_TRUE(result.rawBodyContentType.empty());
    EXPECT_TRUE(result.rawBodyUrl.empty());
}

TEST(FixtureProjectionTest, SubmissionReceipt) {
    const std::string expected =
        R"({"documentId":"DOC-TEST-12345","errorMessage":"","incomeNumber":"TEST-202601-12345",)"
        R"("nativeErrors":[],"submissionDate":"2026-01-15T10:00:00Z","success":true})";
    const ResultSchema shared{"Dec1SubmissionResult",
                              {
                                  field("success", FieldType::Boolean),
                                  field("incomeNumber", FieldType::String, true),
                                  field("documentId", FieldType::String, true),
                                  field("submissionDate", FieldType::DateTime, true),
                                  field("errorMessage", FieldType::String, true),
                                  field("nativeErrors", FieldType::StringArray, true),
                              }};
    EXPECT_EQ(projectSubmissionResult(shared, demoSubmissionResult()).dump(), expected);
    EXPECT_EQ(projectSubmissionResult(ResultSchema{}, demoSubmissionResult()).dump(), expected);
}

}  // namespace
}  // namespace velk::core::operations
