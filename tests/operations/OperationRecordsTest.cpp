#include "operations/OperationRecords.h"

#include <gtest/gtest.h>

namespace velk::core::operations {
namespace {

TEST(ParamTypeNameTest, WireNames) {
    const struct {
        int value;
        const char* name;
    } cases[] = {
        {0, "string"},  {1, "integer"}, {2, "decimal"}, {3, "date"},   {4, "month"},   {5, "year"},
        {6, "boolean"}, {7, "eik"},     {8, "enum"},    {9, "string"}, {-1, "string"}, {1000, "string"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(paramTypeName(static_cast<ParamType>(c.value)), c.name) << "value " << c.value;
    }
}

TEST(InputKindNameTest, FolderOnlyForOneEverythingElseFile) {
    EXPECT_EQ(inputKindName(InputKind::File), "file");
    EXPECT_EQ(inputKindName(InputKind::Folder), "folder");
    EXPECT_EQ(inputKindName(static_cast<InputKind>(2)), "file");
    EXPECT_EQ(inputKindName(static_cast<InputKind>(-1)), "file");
}

TEST(ParamOrTest, StoredValueEvenWhenEmptyElseFallback) {
    const ParamMap params{{"year", "2025.000000"}, {"iban", ""}};
    EXPECT_EQ(paramOr(params, "year", "x"), "2025.000000");
    EXPECT_EQ(paramOr(params, "iban", "fallback"), "");
    EXPECT_EQ(paramOr(params, "month", "fallback"), "fallback");
    EXPECT_EQ(paramOr(params, "Year", "fallback"), "fallback");  // keys are case-sensitive
    EXPECT_EQ(paramOr({}, "year", ""), "");
}

TEST(ErrorResultTest, SetsStatusAndErrorKeepsTheRest) {
    InquiryResult result;
    result.columns = {{"id", "Номер"}};
    result.rows = {{"1"}, {"2"}};
    result.metadata = {{"status", "ok"}, {"error", "old"}, {"rowCount", "2"}};
    result.rawBody = "<html/>";

    const InquiryResult copy = errorResult(result, "Грешка при връзката");

    for (const InquiryResult* r : {static_cast<const InquiryResult*>(&result), &copy}) {
        EXPECT_EQ(r->metadata.size(), 3u);
        EXPECT_EQ(r->metadata.at("status"), "error");
        EXPECT_EQ(r->metadata.at("error"), "Грешка при връзката");
        EXPECT_EQ(r->metadata.at("rowCount"), "2");
        ASSERT_EQ(r->rows.size(), 2u);
        EXPECT_EQ(r->rows[1][0], "2");
        ASSERT_EQ(r->columns.size(), 1u);
        EXPECT_EQ(r->columns[0].label, "Номер");
        EXPECT_EQ(r->rawBody, "<html/>");
    }

    // The copy is independent of the given result.
    result.rows.clear();
    EXPECT_EQ(copy.rows.size(), 2u);
}

TEST(ErrorResultTest, InsertsKeysIntoAnEmptyResult) {
    InquiryResult result;
    const InquiryResult copy = errorResult(result, "");
    EXPECT_EQ(copy.metadata.at("status"), "error");
    EXPECT_EQ(copy.metadata.at("error"), "");
    EXPECT_TRUE(copy.rows.empty());
}

TEST(RecordDefaultsTest, EmptyAndUnsuccessful) {
    const SubmissionResult submission;
    EXPECT_FALSE(submission.success);
    for (const std::string* text : {&submission.incomeNumber, &submission.documentId,
                                    &submission.submissionDate, &submission.errorMessage, &submission.rawBody,
                                    &submission.rawBodyContentType, &submission.rawBodyUrl}) {
        EXPECT_TRUE(text->empty());
    }
    EXPECT_TRUE(submission.nativeErrors.empty());

    const InquiryResult inquiry;
    EXPECT_TRUE(inquiry.columns.empty());
    EXPECT_TRUE(inquiry.rows.empty());
    EXPECT_EQ(inquiry.metadata.count("status"), 0u);

    const ExecuteResult execute;
    EXPECT_FALSE(execute.success);
    EXPECT_TRUE(execute.error.empty());
    EXPECT_TRUE(execute.json.empty());

    EXPECT_FALSE(InputCheck{}.ok);

    const ResultsQuery query;
    EXPECT_TRUE(query.eik.empty());
    EXPECT_FALSE(query.year.has_value());
    EXPECT_FALSE(query.month.has_value());

    const ParamSpec declared;
    EXPECT_EQ(declared.type, ParamType::String);
    EXPECT_FALSE(declared.required);
    EXPECT_FALSE(declared.defaultValue.has_value());
}

}  // namespace
}  // namespace velk::core::operations
