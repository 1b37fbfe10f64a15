// Walks the process-wide registry filled by the operation classes' own
// registrations and holds every class against its published constants.
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "features/common/SubmissionResultInquiry.h"
#include "operations/IInquiry.h"
#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"
#include "operations/ResultProjection.h"

namespace velk::core::operations {
namespace {

struct SubmissionConstants {
    std::int32_t inputKind;
    bool requiresFilePath;
    const char* documentTypeCode;
    std::int32_t reservedInt;
    bool reservedFlagA;
    bool reservedFlagB;
};

struct Expected {
    const char* typeId;
    std::int32_t kind;
    std::int32_t backendKind;
    std::int32_t flowKind;
    const char* category;
    bool requiresSubmissionToken;
    std::int64_t cacheTtl;  // inquiries only
    std::optional<SubmissionConstants> submission;
    const char* schemaName;
};

constexpr const char* kInquiries = "Справки";
constexpr const char* kDeclarations = "Декларации";
constexpr const char* kPayload = "SubmissionResultPayload";

const std::vector<Expected> kOperations = {
    {"taxpayers", 1, 1, 3, kInquiries, false, 3600, {}, "TaxpayersResult"},
    {"nap_catalog", 1, 1, 1, kInquiries, false, 3600, {}, "NapCatalogResult"},
    {"debt_payments_types", 1, 1, 3, kInquiries, false, 3600, {}, "DebtPaymentsTypesResult"},
    {"debt_payments", 1, 1, 3, kInquiries, true, 3600, {}, "DebtPaymentsResult"},
    {"due_amounts", 1, 1, 3, kInquiries, true, 21600, {}, "DueAmountsResult"},
    {"dec1_6_portal_files", 1, 1, 3, kInquiries, true, 3600, {}, "Dec16PortalFilesResult"},
    {"vat_portal_files", 1, 1, 3, kInquiries, true, 3600, {}, "VatPortalFilesResult"},
    {"vat_monthly_files", 1, 1, 3, kInquiries, true, 3600, {}, "VatMonthlyFilesResult"},
    {"dec6_files_scan", 1, 0, 7, kDeclarations, true, 3600, {}, "Dec6FilesScanResult"},
    {"dec1_files_scan", 1, 0, 7, kDeclarations, true, 3600, {}, "Dec1FilesScanResult"},
    {"vat_files_scan", 1, 0, 7, kDeclarations, true, 3600, {}, "VatFilesScanResult"},
    {"vat_files_parse", 1, 0, 1, kDeclarations, true, 3600, {}, "VatFilesParseResult"},
    {"vat_validate", 1, 3, 1, "Валидация", true, 60, {}, "VatValidationResult"},
    {"odit", 0, 1, 2, kDeclarations, true, 0, SubmissionConstants{0, true, "20", 0, false, true},
     "OditSubmissionResult"},
    {"dec731", 0, 1, 2, kDeclarations, true, 0, SubmissionConstants{0, true, "19", 0, false, false},
     "Dec731SubmissionResult"},
    {"dec736", 0, 1, 2, kDeclarations, true, 0, SubmissionConstants{0, true, "19", 0, false, false},
     "Dec736SubmissionResult"},
    {"high_fisc_risk", 0, 2, 4, kDeclarations, true, 0, SubmissionConstants{0, true, "0", 0, false, false},
     "HighFiscRiskSubmissionResult"},
    {"etz123", 0, 2, 4, kDeclarations, true, 0, SubmissionConstants{0, true, "0", 0, false, false},
     "Etz123SubmissionResult"},
    {"etz62", 0, 2, 4, kDeclarations, true, 0, SubmissionConstants{0, true, "0", 0, false, false},
     "Etz62SubmissionResult"},
    {"dec1_6", 0, 2, 4, kDeclarations, true, 0, SubmissionConstants{0, false, "0", 0, false, false},
     "Dec16SubmissionResult"},
    {"vat", 0, 3, 5, kDeclarations, true, 0, SubmissionConstants{1, true, "0", 1, true, true},
     "VatSubmissionResult"},
    {"odit_result", 1, 1, 3, kInquiries, true, 3600, {}, kPayload},
    {"dec731_result", 1, 1, 3, kInquiries, true, 3600, {}, kPayload},
    {"dec736_result", 1, 1, 3, kInquiries, true, 3600, {}, kPayload},
    {"vat_result", 1, 1, 3, kInquiries, true, 3600, {}, kPayload},
    {"dec1_6_result", 1, 2, 4, kInquiries, true, 3600, {}, kPayload},
    {"etz62_result", 1, 2, 4, kInquiries, true, 3600, {}, kPayload},
    {"etz123_result", 1, 2, 4, kInquiries, true, 3600, {}, kPayload},
    {"high_fisc_risk_result", 1, 2, 4, kInquiries, true, 3600, {}, kPayload},
};

// What the portal session selects for each portal handler; absent for the
// operations that are no portal handler.
struct HandlerNames {
    const char* serviceName;
    const char* submitLinkName;
    const char* reportLinkName;
    const char* plsModule;
};

const std::map<std::string, HandlerNames> kHandlers = {
    {"debt_payments_types", {"dept-and-payments-report", "", "dept-and-payments-report-1", ""}},
    {"debt_payments", {"dept-and-payments-report", "", "dept-and-payments-report-1", ""}},
    {"due_amounts", {"dept-and-payments-report", "", "dept-and-payments-report-1", ""}},
    {"dec1_6_portal_files", {"dec1-and-6", "", "dec1-and-6-2-1", ""}},
    {"vat_portal_files", {"vat-report", "", "vat-report-1", ""}},
    {"vat_monthly_files", {"vat-report", "", "vat-report-1", ""}},
    {"odit", {"odit-317", "odit-317-2", "odit-317-1", "DEC2009.IPUBXMLDEC"}},
    {"dec731",
     {"info-income-dif-73", "info-income-dif-73-2", "info-income-dif-73-1", "DEC2009.IPUBXSD_VAL_DEC"}},
    {"dec736",
     {"info-income-dif-73-6", "info-income-dif-73-6-25", "info-income-dif-73-6-1",
      "DEC2009.IPUBXSD_VAL_DEC"}},
    {"high_fisc_risk", {"", "", "", ""}},
    {"etz123", {"", "", "", ""}},
    {"etz62", {"", "", "", ""}},
    {"dec1_6", {"", "", "", ""}},
    {"vat", {"vat-report", "vat-report-2", "vat-report-1", "IVAT.PUB"}},
    {"odit_result", {"odit-317", "", "odit-317-1", "DEC2009.IPUBXMLDEC"}},
    {"dec731_result", {"info-income-dif-73", "", "info-income-dif-73-1", "DEC2009.IPUBXSD_VAL_DEC"}},
    {"dec736_result", {"info-income-dif-73-6", "", "info-income-dif-73-6-1", "DEC2009.IPUBXSD_VAL_DEC"}},
    {"vat_result", {"vat-report", "", "vat-report-1", "IVAT.PUB"}},
    {"dec1_6_result", {"", "", "", ""}},
    {"etz62_result", {"", "", "", ""}},
    {"etz123_result", {"", "", "", ""}},
    {"high_fisc_risk_result", {"", "", "", ""}},
};

const std::map<std::string, std::string> kResultPairs = {
    {"odit_result", "odit"},     {"dec731_result", "dec731"},
    {"dec736_result", "dec736"}, {"vat_result", "vat"},
    {"dec1_6_result", "dec1_6"}, {"etz62_result", "etz62"},
    {"etz123_result", "etz123"}, {"high_fisc_risk_result", "high_fisc_risk"},
};

std::unique_ptr<IVelkOperation> create(const std::string& typeId) {
    return OperationRegistry::instance().create(typeId);
}

TEST(OperationCatalog, ListsExactlyTheTwentyNineOperationsInByteOrder) {
    std::set<std::string> expected;
    for (const Expected& e : kOperations) {
        expected.insert(e.typeId);
    }
    std::vector<std::string> listed;
    for (const OperationDescriptor& descriptor : OperationRegistry::instance().list()) {
        listed.push_back(descriptor.typeId);
    }
    ASSERT_EQ(expected.size(), 29u);
    EXPECT_EQ(listed, std::vector<std::string>(expected.begin(), expected.end()));
}

void PrintTo(const Expected& e, std::ostream* os) {
    *os << e.typeId;
}

class OperationConstants : public ::testing::TestWithParam<Expected> {};

TEST_P(OperationConstants, MatchThePublishedTable) {
    const Expected& e = GetParam();
    const auto op = create(e.typeId);
    ASSERT_NE(op, nullptr);
    EXPECT_EQ(op->typeId(), e.typeId);
    EXPECT_EQ(op->kind(), e.kind);
    EXPECT_EQ(op->backendKind(), e.backendKind);
    EXPECT_EQ(op->flowKind(), e.flowKind);
    EXPECT_EQ(op->category(), e.category);
    EXPECT_EQ(op->requiresSubmissionToken(), e.requiresSubmissionToken);
    EXPECT_EQ(op->resultSchema().name, e.schemaName);
    EXPECT_FALSE(op->displayName().empty());
    EXPECT_FALSE(op->description().empty());

    // The engine casts by kind; the cast must agree with it.
    const auto* inquiry = dynamic_cast<const IInquiry*>(op.get());
    const auto* submission = dynamic_cast<const ISubmission*>(op.get());
    ASSERT_EQ(inquiry != nullptr, e.kind == 1);
    ASSERT_EQ(submission != nullptr, e.kind == 0);
    if (inquiry != nullptr) {
        EXPECT_EQ(inquiry->cacheTtl().count(), e.cacheTtl);
    } else {
        ASSERT_TRUE(e.submission.has_value());
        const SubmissionConstants& s = *e.submission;
        EXPECT_EQ(submission->inputKind(), s.inputKind);
        EXPECT_EQ(submission->requiresFilePath(), s.requiresFilePath);
        EXPECT_EQ(submission->documentTypeCode(), s.documentTypeCode);
        EXPECT_EQ(submission->reservedInt(), s.reservedInt);
        EXPECT_EQ(submission->reservedFlagA(), s.reservedFlagA);
        EXPECT_EQ(submission->reservedFlagB(), s.reservedFlagB);
        EXPECT_TRUE(submission->reservedFlagC());
    }
}

TEST_P(OperationConstants, NameTheirPortalServiceAndLinks) {
    const Expected& e = GetParam();
    const auto op = create(e.typeId);
    ASSERT_NE(op, nullptr);
    const auto* handler = dynamic_cast<const IPortalHandler*>(op.get());
    const auto names = kHandlers.find(e.typeId);
    ASSERT_EQ(handler != nullptr, names != kHandlers.end());
    if (handler == nullptr) {
        return;
    }
    EXPECT_EQ(handler->serviceName(), names->second.serviceName);
    EXPECT_EQ(handler->submitLinkName(), names->second.submitLinkName);
    EXPECT_EQ(handler->reportLinkName(), names->second.reportLinkName);
    EXPECT_EQ(handler->plsModule(), names->second.plsModule);
}

TEST_P(OperationConstants, DescriptorAgreesWithTheClass) {
    const Expected& e = GetParam();
    const auto op = create(e.typeId);
    ASSERT_NE(op, nullptr);
    for (const OperationDescriptor& d : OperationRegistry::instance().list()) {
        if (d.typeId == e.typeId) {
            EXPECT_EQ(d.displayName, op->displayName());
            EXPECT_EQ(d.category, op->category());
            EXPECT_EQ(d.featureGroupId, op->featureGroupId());
            EXPECT_EQ(d.featureGroupName, op->featureGroupName());
            EXPECT_EQ(d.kind, e.kind);
            EXPECT_EQ(d.requiresSubmissionToken, e.requiresSubmissionToken);
            return;
        }
    }
    ADD_FAILURE() << "not listed";
}

INSTANTIATE_TEST_SUITE_P(Registered, OperationConstants, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Expected>& info) {
                             return std::string(info.param.typeId);
                         });

TEST(OperationCatalog, ResultInquiriesShareTheirDeclarationsGroup) {
    for (const auto& [resultId, declarationId] : kResultPairs) {
        SCOPED_TRACE(resultId);
        const auto result = create(resultId);
        const auto declaration = create(declarationId);
        ASSERT_NE(result, nullptr);
        ASSERT_NE(declaration, nullptr);
        const auto* inquiry = dynamic_cast<const SubmissionResultInquiry*>(result.get());
        ASSERT_NE(inquiry, nullptr);
        EXPECT_EQ(inquiry->pairedSubmission()->typeId(), declarationId);
        EXPECT_EQ(result->featureGroupId(), declaration->featureGroupId());
        EXPECT_EQ(result->featureGroupName(), declaration->featureGroupName());
        EXPECT_FALSE(result->featureGroupId().empty());
    }
}

TEST(OperationCatalog, EveryTypeIdEndingInResultIsAResultInquiry) {
    for (const OperationDescriptor& d : OperationRegistry::instance().list()) {
        const bool named = d.typeId.size() > 7 && d.typeId.ends_with("_result");
        EXPECT_EQ(named, kResultPairs.count(d.typeId) == 1) << d.typeId;
    }
}

TEST(OperationCatalog, SixVatOperationsFormOneGroup) {
    for (const char* id : {"vat_files_scan", "vat_portal_files", "vat_monthly_files", "vat_files_parse",
                           "vat_validate", "vat"}) {
        const auto op = create(id);
        ASSERT_NE(op, nullptr);
        EXPECT_EQ(op->featureGroupId(), "vat") << id;
        EXPECT_EQ(op->featureGroupName(), "ДДС") << id;
    }
}

}  // namespace
}  // namespace velk::core::operations
