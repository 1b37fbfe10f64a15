// What every portal reader shares: replies it must refuse without crashing or
// throwing (nesting deep enough to run the stack out of anything that recurses
// per level, a number out of the double range, bytes that are not UTF-8), the
// portal's broken answers reported with their bodies kept, a failed login,
// and required parameters checked before anything is asked.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

#include "common/TextUtils.h"
#include "fakes/agency/DebtPaymentRoutes.h"
#include "features/catalog/NapCatalogInquiry.h"
#include "features/due_amounts/DueAmountsInquiry.h"
#include "features/payments/DebtPaymentsInquiry.h"
#include "features/payments/DebtPaymentsTypesInquiry.h"
#include "features/taxpayers/TaxpayersInquiry.h"
#include "portal_inquiries/PortalInquiryTest.h"
#include "support/LogCapture.h"

namespace velk::core::features {
namespace {

using test::BrokenReply;
using test::Reply;
using testing::IsEmpty;
using testing::StartsWith;

const std::string kObligations = "/api/base/debt-payments";
const std::string kTypes = "/api/base/debt-payments/types";
const std::string kTaxpayers = "/api/base/taxpayers";

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

// The readers of the debts-and-payments endpoints and of the taxpayers, as a
// table: where each one's portal request goes and the words it says for what
// went wrong (runReader runs it by name).
struct PortalReader {
    const char* name;
    std::string path;
    std::string httpError;
    std::string notAnArray;
    std::string parseWarning;  // the WARN of a body that is no JSON; empty: none
    std::string loginFailure;
    std::string prepFailureWarning;  // the WARN of a failed login; empty: none
};

class PortalReadersTest : public PortalInquiryTest {
protected:
    json runDueAmounts() {
        return run(due_amounts::DueAmountsInquiry(), {{"eik", kCompanyEik}, {"year", "2024"}});
    }

    std::vector<PortalReader> readers() {
        return {
            {"due amounts", kObligations,
             "HTTP 500 от https://portal.nra.bg/api/base/debt-payments?TYPE=0&YEAR=2024",
             "Неочакван JSON — не е масив", "DueAmountsInquiry parse: [json.exception.parse_error.101]",
             "validation returned HTTP 401",
             "DueAmountsInquiry: portal prep failed: validation returned HTTP 401"},
            {"debts and payments", kObligations,
             "HTTP 500 от https://portal.nra.bg/api/base/debt-payments?TYPE=12&YEAR=2024",
             "Неочакван JSON — не е масив", "", "validation returned HTTP 401",
             "DebtPaymentsInquiry: portal prep failed: validation returned HTTP 401"},
            {"debt and payment types", kTypes,
             "HTTP 500 от https://portal.nra.bg/api/base/debt-payments/types",
             "Неочакван отговор — не е JSON масив",
             "DebtPaymentsTypesInquiry parse: ", "Неуспешен вход в НАП: validation returned HTTP 401", ""},
            {"taxpayers", kTaxpayers, "HTTP 500 от https://portal.nra.bg/api/base/taxpayers",
             "Неочакван JSON — не е масив", "", "Неуспешен вход в НАП: validation returned HTTP 401", ""},
        };
    }

    json runReader(const std::string& name) {
        if (name == "due amounts") {
            return runDueAmounts();
        }
        if (name == "debts and payments") {
            return run(payments::DebtPaymentsInquiry(),
                       {{"eik", kCompanyEik}, {"year", "2024"}, {"type", "12"}});
        }
        if (name == "debt and payment types") {
            return run(payments::DebtPaymentsTypesInquiry());
        }
        return run(taxpayers::TaxpayersInquiry());
    }

    // Every later request to the path gets the reply; the debts-and-payments
    // endpoints through the fake's own switch, the taxpayers listing after the
    // one the login probe reads.
    void answerWith(const PortalReader& reader, BrokenReply kind) {
        if (reader.path != kTaxpayers) {
            agency_.debtPayments().breakReplies(kind);
            return;
        }
        answerTaxpayersWith(test::brokenReply(kind));
    }
    // Logged in first; the session's probe before the listing still sees the
    // list, the listing after it gets the reply.
    void answerTaxpayersWith(const Reply& reply) {
        ASSERT_TRUE(session_.ensureLoggedIn());
        auto calls = std::make_shared<std::atomic<int>>(0);
        portal_.on("GET", kTaxpayers, [calls, reply](const test::RecordedRequest&) {
            return ++*calls == 1 ? Reply::json(200, test::defaultTaxpayersJson()) : reply;
        });
    }
};

TEST_F(PortalReadersTest, BrokenAnswersAreErrorsWithTheirBodiesKept) {
    const std::vector<BrokenReply> kinds = {BrokenReply::ServerError, BrokenReply::NotAnArray,
                                            BrokenReply::NotJson};
    for (const PortalReader& reader : readers()) {
        for (const BrokenReply kind : kinds) {
            SCOPED_TRACE(std::string(reader.name) + ", broken reply " +
                         std::to_string(static_cast<int>(kind)));
            agency_.script();
            infra::portal::NapSession::resetProcessCachesForTests();
            answerWith(reader, kind);
            test::LogCapture log;
            const json answer = runReader(reader.name);
            EXPECT_EQ(answer["status"], "error");
            const std::string error = answer.value("error", "");
            switch (kind) {
                case BrokenReply::ServerError:
                    EXPECT_EQ(error, reader.httpError);
                    break;
                case BrokenReply::NotAnArray:
                    EXPECT_EQ(error, reader.notAnArray);
                    break;
                case BrokenReply::NotJson:
                    EXPECT_THAT(error, StartsWith("Parse грешка: [json.exception.parse_error.101]"));
                    break;
            }
            if (!reader.parseWarning.empty()) {
                EXPECT_EQ(log.count("WARN", reader.parseWarning), kind == BrokenReply::NotJson ? 1 : 0);
            }
            EXPECT_TRUE(result_.rows.empty());
            EXPECT_EQ(answer["items"], json::array());
            if (reader.path == kTaxpayers) {
                EXPECT_EQ(answer["count"], 0);
            } else {
                EXPECT_EQ(result_.rawBody, test::brokenReply(kind).body);
                EXPECT_EQ(meta("type"), "<absent>");
            }
        }
    }
}

// The due amounts also keep the body's type and report no totals.
TEST_F(PortalReadersTest, AFailedDueAmountsAnswerHasNoTotals) {
    agency_.debtPayments().breakReplies(BrokenReply::ServerError);
    const json answer = runDueAmounts();
    EXPECT_EQ(answer["totalOutstanding"], 0.0);
    EXPECT_EQ(answer["rowCount"], 0);
    EXPECT_EQ(meta("rawBodyContentType"), "application/json; charset=utf-8");
    EXPECT_EQ(meta("totalOutstanding"), "<absent>");
}

TEST_F(PortalReadersTest, AParseErrorQuotingBytesThatAreNotUtf8StaysValidText) {
    // The parser's message quotes the bytes it stopped at; the answer is
    // written as strict UTF-8, which must not fail on them.
    for (const PortalReader& reader : readers()) {
        SCOPED_TRACE(reader.name);
        agency_.script();
        infra::portal::NapSession::resetProcessCachesForTests();
        const Reply notUtf8 = Reply::json(200, "[{\"name\":\"\xC0\xFF\",\"debtTypeName\":\"\xC0\xFF\"}]");
        if (reader.path == kTaxpayers) {
            answerTaxpayersWith(notUtf8);
        } else {
            portal_.on("GET", reader.path, notUtf8);
        }
        runReader(reader.name);
        EXPECT_EQ(meta("status"), "error");
        const std::string error = meta("error");
        EXPECT_THAT(error, StartsWith("Parse грешка: [json.exception.parse_error.101]"));
        EXPECT_TRUE(isValidUtf8(error));
        EXPECT_NO_THROW(dumpCompact(json(result_.metadata)));
    }
}

TEST_F(PortalReadersTest, AFailedLoginStopsTheRunBeforeTheReadersRequest) {
    for (const PortalReader& reader : readers()) {
        SCOPED_TRACE(reader.name);
        agency_.script();
        infra::portal::NapSession::resetProcessCachesForTests();
        refuseLogin();
        portal_.clearRequests();
        test::LogCapture log;
        const json answer = runReader(reader.name);
        EXPECT_EQ(answer["status"], "error");
        EXPECT_EQ(answer["error"], reader.loginFailure);
        if (!reader.prepFailureWarning.empty()) {
            EXPECT_EQ(log.count("WARN", reader.prepFailureWarning), 1);
        }
        if (reader.path != kTaxpayers) {
            EXPECT_THAT(portal_.requestsTo(reader.path), IsEmpty());
        }
    }
}

TEST_F(PortalReadersTest, RequiredParametersAreCheckedBeforeAnythingIsAsked) {
    struct Case {
        const char* name;
        std::function<json(const operations::ParamMap&)> run;
        operations::ParamMap params;
        std::string error;
        std::size_t columns;
    };
    const auto dueAmounts = [this](const operations::ParamMap& p) {
        return run(due_amounts::DueAmountsInquiry(), p);
    };
    const auto debtPayments = [this](const operations::ParamMap& p) {
        return run(payments::DebtPaymentsInquiry(), p);
    };
    const std::vector<Case> cases = {
        {"due amounts, nothing", dueAmounts, {}, "eik е задължителен", 9},
        {"due amounts, empty eik", dueAmounts, {{"eik", ""}}, "eik е задължителен", 9},
        {"debts and payments, nothing", debtPayments, {}, "eik е задължителен", 13},
        {"debts and payments, empty eik",
         debtPayments,
         {{"year", "2024"}, {"eik", ""}},
         "eik е задължителен",
         13},
        {"debts and payments, no year", debtPayments, {{"eik", kCompanyEik}}, "year е задължителен", 13},
        {"debts and payments, empty year",
         debtPayments,
         {{"eik", kCompanyEik}, {"year", ""}},
         "year е задължителен",
         13},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const json answer = c.run(c.params);
        EXPECT_EQ(answer["status"], "error");
        EXPECT_EQ(answer["error"], c.error);
        EXPECT_EQ(answer["items"], json::array());
        EXPECT_EQ(columnIds().size(), c.columns);
    }
    EXPECT_THAT(portal_.requests(), IsEmpty());
}

}  // namespace
}  // namespace velk::core::features
