#pragma once

#include <functional>
#include <memory>
#include <string>

#include "fakes/TestServer.h"

namespace velk::test {

// Broken answers of the debts-and-payments endpoints, for the error paths.
enum class BrokenReply {
    ServerError,  // 500 with a JSON body
    NotAnArray,   // 200 with a JSON object holding no table
    NotJson,      // 200 with an HTML page
};

Reply brokenReply(BrokenReply kind);

// The obligations the portal serves unless a test sets its own. Each carries
// the members the agent reads plus "tin", "year" and "typeId", by which the
// fake selects them. The company (tin 1001) has three records of 2024 (kinds
// 1 and 12; one of them a payment without a kind or a document) and one of
// 2025; the person (tin 1002) has none.
std::string defaultObligationsJson();
// Kinds 1, 12 and 20, each naming its members differently.
std::string defaultDebtPaymentTypesJson();
// The default table wrapped in an object under the key, as the portal also answers.
std::string wrappedDebtPaymentTypesJson(const std::string& key);

// The portal's debts-and-payments endpoints:
// - GET /api/base/debt-payments?TYPE=&YEAR=: the obligations of the selected
//   taxpayer (cookie "selectedContext", the base64 of its tin) for the year,
//   of every kind for TYPE 0, else of that kind (percent-decoded), as a JSON
//   array; 400 when no taxpayer is selected;
// - GET /api/base/debt-payments/types: the reference table as set.
// Both answer 401 to a caller without a live session.
class DebtPaymentRoutes {
public:
    using LiveCheck = std::function<bool(const RecordedRequest&)>;

    DebtPaymentRoutes();

    // Installs the routes and puts the default data back.
    void install(TestServer& portal, LiveCheck live);

    // A text that is not a JSON array is served as it stands, unselected.
    void setObligationsJson(std::string json);
    void setTypesJson(std::string json);
    // Both endpoints answer this to every caller until install.
    void breakReplies(BrokenReply kind);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace velk::test
