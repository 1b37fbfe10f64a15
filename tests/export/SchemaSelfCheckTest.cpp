#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "export/FakeOperations.h"
#include "operations/SchemaFields.h"
#include "operations/SubmissionResultSchema.h"
#include "operations/TestFixtures.h"
#include "server/SchemaSelfCheck.h"

namespace velk::server {
namespace {

using core::operations::FieldType;
using core::operations::InquiryResult;
using core::operations::OperationRegistry;
using core::operations::SchemaField;
using core::operations::schemaField;
using nlohmann::json;
using test::BareOperation;
using test::FakeAnswers;
using test::fakeFactory;
using test::FakeInquiry;
using test::FakeSubmission;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const char* const kFallback =
    ": projected value is the type-fallback (likely a missing column id in testFixture)";
const char* const kEmptyTable = ": testFixture must populate at least one item; got empty array";
const char* const kMissing = ": field missing from projected fixture";
const char* const kNull = ": projected value is null but schema marks the field non-nullable";

SchemaField field(std::string name, FieldType type, bool nullable = false) {
    return schemaField(std::move(name), "", type, nullable, "");
}

SchemaField table(std::string name, std::vector<SchemaField> members) {
    return core::operations::rowsField(std::move(name), "", "", "Item", std::move(members));
}

TEST(SchemaSelfCheckFallback, CountsOnlyTheFallbackOfTheFieldsOwnJsonType) {
    struct Case {
        FieldType type;
        json value;
        bool fallback;
    };
    const std::vector<Case> cases = {
        {FieldType::Integer, 0, true},
        {FieldType::Integer, 0u, true},
        {FieldType::Integer, 0.0, false},
        {FieldType::Integer, 7, false},
        {FieldType::Integer, "0", false},
        {FieldType::Integer, false, false},
        {FieldType::Number, 0.0, true},
        {FieldType::Number, -0.0, true},
        {FieldType::Number, 0, false},
        {FieldType::Number, 0u, false},
        {FieldType::Number, 12.34, false},
        {FieldType::Boolean, false, true},
        {FieldType::Boolean, true, false},
        {FieldType::Boolean, 0, false},
        {FieldType::StringArray, json::array(), true},
        {FieldType::StringArray, json::array({"a"}), false},
        {FieldType::ObjectArray, json::array(), true},
        {FieldType::ObjectArray, "", false},
        {FieldType::String, "", true},
        {FieldType::String, "x", false},
        {FieldType::String, nullptr, false},
        {FieldType::Date, "", true},
        {FieldType::DateTime, "", true},
        {FieldType::Enum, "", true},
        {FieldType::Enum, "ok", false},
        {static_cast<FieldType>(9), "", false},
        {static_cast<FieldType>(-1), 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SchemaSelfCheck::isTypeFallback(c.value, field("f", c.type)), c.fallback)
            << "type " << static_cast<int>(c.type) << " value " << c.value.dump();
    }
}

TEST(SchemaSelfCheckWalk, ReportsEachProblemAtItsPath) {
    struct Case {
        const char* name;
        std::vector<SchemaField> fields;
        json value;
        std::vector<std::string> issues;
    };
    const SchemaField items =
        table("items", {field("id", FieldType::String), field("note", FieldType::String, true)});
    const std::vector<Case> cases = {
        {"not an object",
         {field("a", FieldType::String)},
         json::array(),
         {"op: expected JSON object, got array"}},
        {"null value", {}, nullptr, {"op: expected JSON object, got null"}},
        {"missing", {field("a", FieldType::String, true)}, json::object(), {std::string("op.a") + kMissing}},
        {"null where not allowed",
         {field("a", FieldType::Integer)},
         {{"a", nullptr}},
         {std::string("op.a") + kNull}},
        {"null where allowed", {field("a", FieldType::Integer, true)}, {{"a", nullptr}}, {}},
        {"nullable zero", {field("a", FieldType::Integer, true)}, {{"a", 0}}, {}},
        {"real zero", {field("a", FieldType::Integer)}, {{"a", 0}}, {std::string("op.a") + kFallback}},
        {"empty string array", {field("a", FieldType::StringArray)}, {{"a", json::array()}}, {}},
        {"null string array",
         {field("a", FieldType::StringArray)},
         {{"a", nullptr}},
         {std::string("op.a") + kNull}},
        {"empty table", {items}, {{"items", json::array()}}, {std::string("op.items") + kEmptyTable}},
        {"table not an array", {items}, {{"items", "x"}}, {std::string("op.items") + kEmptyTable}},
        {"item not an object", {items}, {{"items", {1}}}, {"op.items[0]: expected JSON object, got number"}},
        {"only the first item is walked",
         {items},
         {{"items", {{{"id", ""}, {"note", ""}}, {{"note", nullptr}}}}},
         {std::string("op.items[0].id") + kFallback}},
        {"every issue, in schema order",
         {field("z", FieldType::Boolean), field("a", FieldType::String), field("m", FieldType::Number)},
         {{"z", false}, {"m", 0.0}},
         {std::string("op.z") + kFallback, std::string("op.a") + kMissing, std::string("op.m") + kFallback}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> issues;
        SchemaSelfCheck::checkProjectedValue("op", c.fields, c.value, issues);
        EXPECT_EQ(issues, c.issues) << c.name;
    }
}

TEST(SchemaSelfCheckWalk, AppendsToTheIssuesAlreadyFound) {
    std::vector<std::string> issues = {"earlier"};
    SchemaSelfCheck::checkProjectedValue("op", {field("a", FieldType::String)}, json::object(), issues);
    EXPECT_THAT(issues, ElementsAre("earlier", std::string("op.a") + kMissing));
}

// --- the check over a registry ---

FakeAnswers withSchema(std::vector<SchemaField> fields) {
    FakeAnswers answers;
    answers.schema = {"Out", std::move(fields)};
    return answers;
}

TEST(SchemaSelfCheckFixtures, PassesDemoFixturesOfInquiriesAndSubmissions) {
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation(
        "inquiry",
        fakeFactory<FakeInquiry>(withSchema(
            {field("count", FieldType::Integer), field("total", FieldType::Number),
             table("items", {field("id", FieldType::String), field("when", FieldType::Date, true)})}))));
    FakeAnswers submission;
    submission.schema = core::operations::submissionResultSchema("Receipt");
    ASSERT_TRUE(registry.registerOperation("submission", fakeFactory<FakeSubmission>(submission)));

    EXPECT_THAT(SchemaSelfCheck::checkFixtures(registry), IsEmpty());
}

TEST(SchemaSelfCheckFixtures, ReportsATableWithoutRowsOnceAndNotItsFields) {
    FakeAnswers answers = withSchema({table("items", {field("id", FieldType::String)})});
    InquiryResult noRows;
    noRows.columns = {{"id", "Id"}};
    answers.inquiryFixture = noRows;
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("empty_rows", fakeFactory<FakeInquiry>(answers)));

    EXPECT_THAT(SchemaSelfCheck::checkFixtures(registry),
                ElementsAre(std::string("empty_rows.items") + kEmptyTable));
}

TEST(SchemaSelfCheckFixtures, ReportsAnItemFieldWhoseColumnIsMissing) {
    FakeAnswers answers =
        withSchema({table("items", {field("id", FieldType::String), field("name", FieldType::String)})});
    InquiryResult fixture;
    fixture.columns = {{"id", "Id"}};
    fixture.rows = {{"1"}};
    answers.inquiryFixture = fixture;
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("no_column", fakeFactory<FakeInquiry>(answers)));

    EXPECT_THAT(SchemaSelfCheck::checkFixtures(registry),
                ElementsAre(std::string("no_column.items[0].name") + kFallback));
}

TEST(SchemaSelfCheckFixtures, ReportsAFailedSubmissionReceipt) {
    FakeAnswers answers;
    answers.schema = core::operations::submissionResultSchema("Receipt");
    core::operations::SubmissionResult receipt = core::operations::demoSubmissionResult();
    receipt.success = false;
    answers.submissionFixture = receipt;
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("dec", fakeFactory<FakeSubmission>(answers)));

    EXPECT_THAT(SchemaSelfCheck::checkFixtures(registry),
                ElementsAre(std::string("dec.success") + kFallback));
}

TEST(SchemaSelfCheckFixtures, LeavesAnEnvelopeOperationUnchecked) {
    FakeAnswers answers;
    answers.fixtureThrows = true;
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("envelope", fakeFactory<FakeInquiry>(answers)));

    EXPECT_THAT(SchemaSelfCheck::checkFixtures(registry), IsEmpty());
}

TEST(SchemaSelfCheckFixtures, TurnsEveryBrokenOperationIntoIssuesAndGoesOn) {
    const std::vector<SchemaField> fields = {field("value", FieldType::String)};
    FakeAnswers throwing = withSchema(fields);
    throwing.fixtureThrows = true;
    FakeAnswers badSchema = withSchema(fields);
    badSchema.schemaThrows = true;
    FakeAnswers claimsInquiry = withSchema(fields);
    claimsInquiry.kind = 1;
    FakeAnswers claimsSubmission = withSchema(fields);
    claimsSubmission.kind = 0;
    FakeAnswers claimsOther = withSchema(fields);
    claimsOther.kind = 7;
    FakeAnswers missingValue = withSchema(fields);
    missingValue.inquiryFixture = InquiryResult{};

    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("a_gone", test::vanishingFactory()));
    ASSERT_TRUE(registry.registerOperation("b_throws", fakeFactory<FakeInquiry>(throwing)));
    ASSERT_TRUE(registry.registerOperation("c_bad_schema", fakeFactory<FakeSubmission>(badSchema)));
    ASSERT_TRUE(registry.registerOperation("d_bare", fakeFactory<BareOperation>(claimsInquiry)));
    ASSERT_TRUE(registry.registerOperation("e_bare", fakeFactory<BareOperation>(claimsSubmission)));
    ASSERT_TRUE(registry.registerOperation("f_bare", fakeFactory<BareOperation>(claimsOther)));
    ASSERT_TRUE(registry.registerOperation("g_missing", fakeFactory<FakeInquiry>(missingValue)));

    EXPECT_THAT(SchemaSelfCheck::checkFixtures(registry),
                ElementsAre("a_gone: registry returned null factory",
                            "b_throws: testFixture/project threw \u2014 fixture broke",
                            "c_bad_schema: testFixture/project threw \u2014 schema broke",
                            "d_bare: kind 1 but the operation is not an inquiry",
                            "e_bare: kind 0 but the operation is not a submission",
                            "f_bare: kind 7 but the operation is not an inquiry",
                            std::string("g_missing.value") + kFallback));
}

TEST(SchemaSelfCheckFixtures, PassesEveryOperationOfTheBuild) {
    EXPECT_EQ(OperationRegistry::instance().list().size(), 29u);
    EXPECT_THAT(SchemaSelfCheck::checkFixtures(), IsEmpty());
}

}  // namespace
}  // namespace velk::server
