// The inquiries that fetch one month's filings back from the portal (forms 1
// and 6, the VAT returns, the VAT monthly files) check their parameters and
// the session alike, before the portal is asked anything.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "features/dec16/Dec16PortalFilesInquiry.h"
#include "features/vat/VatMonthlyFilesInquiry.h"
#include "features/vat/VatPortalFilesInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"

namespace velk::core::features {
namespace {

using operations::ParamMap;

using MonthFilingsInquiriesTest = PortalInquiryTest;

TEST_F(MonthFilingsInquiriesTest, ParametersAndSessionFailuresStopBeforeThePortalIsAsked) {
    const std::string required = "eik / year / month са задължителни";
    const std::string invalid = "Невалидни year / month";
    const std::string session = "<session>";  // the session's last error
    struct Case {
        ParamMap params;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{{"year", "2024"}, {"month", "3"}}, required},
        {{{"eik", ""}, {"year", "2024"}, {"month", "3"}}, required},
        {{{"eik", kCompanyEik}, {"year", ""}, {"month", "3"}}, required},
        {{{"eik", kCompanyEik}, {"year", "2024"}}, required},
        {{{"eik", kCompanyEik}, {"year", "2024"}, {"month", ""}}, required},
        {{{"eik", kCompanyEik}, {"year", "0"}, {"month", "3"}}, invalid},
        {{{"eik", kCompanyEik}, {"year", "-5"}, {"month", "3"}}, invalid},
        {{{"eik", kCompanyEik}, {"year", "x"}, {"month", "3"}}, invalid},
        {{{"eik", kCompanyEik}, {"year", "2024"}, {"month", "0"}}, invalid},
        {{{"eik", kCompanyEik}, {"year", "2024"}, {"month", "13"}}, invalid},
        {{{"eik", kCompanyEik}, {"year", "2024"}, {"month", "x"}}, invalid},
        {{{"eik", "999999999"}, {"year", "2024"}, {"month", "3"}}, session},
    };
    const dec16::Dec16PortalFilesInquiry forms16;
    const vat::VatPortalFilesInquiry vatFiles;
    const vat::VatMonthlyFilesInquiry vatMonthly;
    struct Inquiry {
        const operations::IInquiry* inquiry;
        std::size_t columns;  // laid out even on an error; 0: none asked for
    };
    for (const Inquiry& subject : {Inquiry{&forms16, 4}, Inquiry{&vatFiles, 0}, Inquiry{&vatMonthly, 0}}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(subject.inquiry->typeId() + " " + testing::PrintToString(c.params));
            const json typed = run(*subject.inquiry, c.params);
            EXPECT_EQ(typed["status"], "error");
            if (c.error == session) {
                EXPECT_FALSE(session_.lastError().empty());
                EXPECT_EQ(typed["error"], session_.lastError());
            } else {
                EXPECT_EQ(typed["error"], c.error);
            }
            EXPECT_TRUE(result_.rows.empty());
            EXPECT_TRUE(result_.rawBody.empty());
            if (subject.columns != 0) {
                EXPECT_EQ(columnIds().size(), subject.columns);
            }
        }
    }
    EXPECT_TRUE(portal_.requestsTo("/api/base/declarations/declarations-1-and-6").empty());
    EXPECT_TRUE(portal_.requestsTo("/pls/pub/ivat.pub.MonthdecQuery").empty());
}

}  // namespace
}  // namespace velk::core::features
