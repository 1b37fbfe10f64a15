#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"
#include "operations/ResultProjection.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::operations {
namespace {

using ::testing::ElementsAre;

// Paths of the values that are null although their field is not nullable.
void collectNulls(const std::vector<SchemaField>& fields, const nlohmann::json& object,
                  const std::string& path, std::vector<std::string>& nulls) {
    for (const SchemaField& field : fields) {
        const std::string at = path + "." + field.name;
        if (!object.contains(field.name)) {
            nulls.push_back(at + " (missing)");
            continue;
        }
        const nlohmann::json& value = object.at(field.name);
        if (field.type == FieldType::ObjectArray) {
            if (!value.is_array()) {
                nulls.push_back(at + " (not an array)");
                continue;
            }
            for (std::size_t row = 0; row < value.size(); ++row) {
                collectNulls(field.fields, value[row], at + "[" + std::to_string(row) + "]", nulls);
            }
        } else if (value.is_null() && !field.nullable) {
            nulls.push_back(at);
        }
    }
}

nlohmann::json projectedFixture(const IVelkOperation& op) {
    if (const auto* inquiry = dynamic_cast<const IInquiry*>(&op)) {
        return projectInquiryResult(op.resultSchema(), inquiry->testFixture({}));
    }
    const auto& submission = dynamic_cast<const ISubmission&>(op);
    return projectSubmissionResult(op.resultSchema(), submission.testFixture({}));
}

TEST(OperationSchemas, EveryFixtureProjectsWithoutNullsInNonNullableFields) {
    const auto listed = OperationRegistry::instance().list();
    ASSERT_FALSE(listed.empty());
    for (const OperationDescriptor& descriptor : listed) {
        const auto op = OperationRegistry::instance().create(descriptor.typeId);
        ASSERT_NE(op, nullptr);
        const ResultSchema schema = op->resultSchema();
        const nlohmann::json projected = projectedFixture(*op);

        std::vector<std::string> nulls;
        collectNulls(schema.fields, projected, descriptor.typeId, nulls);
        EXPECT_THAT(nulls, ::testing::IsEmpty());
        EXPECT_EQ(projected.size(), schema.fields.size()) << descriptor.typeId << ": keys beside the schema";
    }
}

TEST(OperationSchemas, AreWellFormed) {
    for (const OperationDescriptor& descriptor : OperationRegistry::instance().list()) {
        SCOPED_TRACE(descriptor.typeId);
        const ResultSchema schema = OperationRegistry::instance().create(descriptor.typeId)->resultSchema();
        ASSERT_FALSE(schema.fields.empty());
        std::set<std::string> names;
        for (const SchemaField& field : schema.fields) {
            EXPECT_TRUE(names.insert(field.name).second) << "duplicate " << field.name;
            EXPECT_FALSE(field.label.empty()) << field.name;
            if (field.type == FieldType::Enum) {
                EXPECT_FALSE(field.enumValues.empty()) << field.name;
            }
            if (field.name == "status") {
                ASSERT_EQ(field.type, FieldType::Enum);
                EXPECT_EQ(field.enumValues.front(), "ok");
                EXPECT_FALSE(field.nullable);
            }
            if (field.type == FieldType::ObjectArray) {
                EXPECT_FALSE(field.itemSchema.empty()) << field.name;
                ASSERT_FALSE(field.fields.empty()) << field.name;
                for (const SchemaField& member : field.fields) {
                    EXPECT_NE(member.type, FieldType::ObjectArray) << member.name;
                    EXPECT_NE(member.type, FieldType::StringArray) << member.name;
                }
            }
        }
    }
}

TEST(OperationSchemas, EverySubmissionReturnsTheSixReceiptFields) {
    const ResultSchema schema = submissionResultSchema("AnySubmissionResult");
    EXPECT_EQ(schema.name, "AnySubmissionResult");
    std::vector<std::string> names;
    for (const SchemaField& field : schema.fields) {
        names.push_back(field.name);
    }
    EXPECT_THAT(names, ElementsAre("success", "incomeNumber", "documentId", "submissionDate", "errorMessage",
                                   "nativeErrors"));

    const auto vat = OperationRegistry::instance().create("vat");
    ASSERT_NE(vat, nullptr);
    const std::string projected = projectedFixture(*vat).dump();
    EXPECT_EQ(projected,
              R"({"documentId":"DOC-TEST-12345","errorMessage":"","incomeNumber":"TEST-202601-12345",)"
              R"("nativeErrors":[],"submissionDate":"2026-01-15T10:00:00Z","success":true})");
}

TEST(OperationSchemas, VatValidationListsEveryStatusItReports) {
    const auto op = OperationRegistry::instance().create("vat_validate");
    ASSERT_NE(op, nullptr);
    const ResultSchema schema = op->resultSchema();
    const SchemaField& status = schema.fields.at(1);
    ASSERT_EQ(status.name, "status");
    EXPECT_THAT(status.enumValues, ElementsAre("ok", "invalid", "unavailable", "error", "java_missing"));
    EXPECT_EQ(projectedFixture(*op).dump(),
              R"({"errorCount":42,"items":[{"message":"demo-0","source":"demo-0"},)"
              R"({"message":"demo-1","source":"demo-1"}],"message":"demo-0","status":"ok"})");
}

TEST(OperationSchemas, ResultInquiriesProjectOneFlatObject) {
    const auto op = OperationRegistry::instance().create("dec731_result");
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(projectedFixture(*op).dump(),
              R"({"error":"demo-0","rawBody":"demo-0","rawBodyContentType":"demo-0","rawBodyUrl":"demo-0",)"
              R"("status":"ok"})");
}

}  // namespace
}  // namespace velk::core::operations
