// Portal JSON replies that a reader must refuse without crashing or throwing:
// nesting deep enough to run the stack out of anything that recurses per
// level, and a number out of the double range.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>

#include "common/TextUtils.h"
#include "features/catalog/NapCatalogInquiry.h"
#include "features/due_amounts/DueAmountsInquiry.h"
#include "features/payments/DebtPaymentsInquiry.h"
#include "features/payments/DebtPaymentsTypesInquiry.h"
#include "features/taxpayers/TaxpayersInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"

namespace velk::core::features {
namespace {

using test::Reply;
using testing::StartsWith;

// Arrays nested this deep, holding nothing.
std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

// Where the hostile text goes: a member of an element the reader lays out,
// and a member no reader asks for.
const std::vector<std::pair<std::string, std::string>> kHostileMembers = {
    {"too deep", nested(200000)},
    {"out of range", "1e400"},
};

using HostileRepliesTest = PortalInquiryTest;

TEST_F(HostileRepliesTest, EveryPortalReaderReportsAParseError) {
    struct Reader {
        const char* name;
        std::function<void(const std::string& member)> arrange;
        std::function<json()> run;
        std::string error;
    };
    // The taxpayers come last: their listing is also what every other reader
    // selects a taxpayer from.
    const std::vector<Reader> readers = {
        {"due amounts",
         [this](const std::string& member) {
             portal_.on("GET", "/api/base/debt-payments",
                        Reply::json(200, R"([{"debtTypeName":"ДДФЛ","documentNumber":)" + member + "}]"));
         },
         [this] {
             return run(due_amounts::DueAmountsInquiry(), {{"eik", kCompanyEik}, {"year", "2024"}});
         },
         "Parse грешка: "},
        {"debts and payments",
         [this](const std::string& member) {
             portal_.on("GET", "/api/base/debt-payments",
                        Reply::json(200, R"([{"debtTypeName":"ДДФЛ","datePayment":)" + member + "}]"));
         },
         [this] {
             return run(payments::DebtPaymentsInquiry(), {{"eik", kCompanyEik}, {"year", "2024"}});
         },
         "Parse грешка: "},
        {"debt and payment types",
         [this](const std::string& member) {
             portal_.on("GET", "/api/base/debt-payments/types",
                        Reply::json(200, R"({"items":[{"id":1,"name":)" + member + "}]}"));
         },
         [this] { return run(payments::DebtPaymentsTypesInquiry()); }, "Parse грешка: "},
        // Link properties are written back as text: the catalogue is refused whole.
        {"catalogue",
         [this](const std::string& member) {
             agency_.setCatalogueJson(R"([{"id":"c","name":"cat","services":[{"id":"s","name":"s",)"
                                      R"("links":[{"id":"l","name":"l","props":{"x":)" +
                                      member + "}}]}]}])");
             ASSERT_TRUE(session_.ensureLoggedIn());
         },
         [this] { return run(catalog::NapCatalogInquiry()); }, "Категориите не се заредиха от НАП."},
        {"taxpayers",
         [this](const std::string& member) {
             ASSERT_TRUE(session_.ensureLoggedIn());
             // The session probe only reads the status.
             portal_.on("GET", "/api/base/taxpayers",
                        Reply::json(200, R"([{"pin":"123456789","name":)" + member + "}]"));
         },
         [this] { return run(taxpayers::TaxpayersInquiry()); }, "Parse грешка: "},
    };
    for (const Reader& reader : readers) {
        for (const auto& [kind, member] : kHostileMembers) {
            SCOPED_TRACE(std::string(reader.name) + ", " + kind);
            infra::portal::NapSession::resetProcessCachesForTests();
            reader.arrange(member);
            json answer;
            ASSERT_NO_THROW(answer = reader.run());
            EXPECT_EQ(answer["status"], "error");
            EXPECT_THAT(answer["error"].get<std::string>(), StartsWith(reader.error));
            EXPECT_TRUE(result_.rows.empty());
            EXPECT_NO_THROW(dumpCompact(answer));
        }
    }
}

}  // namespace
}  // namespace velk::core::features
