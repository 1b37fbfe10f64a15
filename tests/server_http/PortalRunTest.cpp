#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "common/AgencyEndpoints.h"
#include "fakes/FakeCertStore.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/AgencyData.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/IInquiry.h"
#include "operations/OperationRegistry.h"
#include "platform/ProviderPinCache.h"
#include "server_http/ServerHarness.h"

namespace velk::test {
namespace {

using namespace core::operations;
using core::infra::portal::NapSession;

constexpr const char* kProbeOp = "zz_portal_probe";
constexpr const char* kPin = "4321";

// An inquiry of this test only: logs in with the run's session and reads the
// taxpayers the portal lists to that session.
class PortalProbe : public IInquiry {
public:
    std::string typeId() const override { return kProbeOp; }
    std::string displayName() const override { return "Проба на портала"; }
    std::string featureGroupId() const override { return "tests"; }
    std::string featureGroupName() const override { return "Тестове"; }
    std::int32_t backendKind() const override { return 0; }
    std::int32_t flowKind() const override { return 0; }
    std::string description() const override { return "Test operation."; }
    bool requiresSubmissionToken() const override { return false; }
    ResultSchema resultSchema() const override { return {}; }
    std::vector<ParamSpec> params() const override { return {}; }

    InquiryResult run(NapSession* session, const ParamMap&) const override {
        InquiryResult result;
        const bool loggedIn = session->ensureLoggedIn();
        result.metadata["loggedIn"] = loggedIn ? "true" : "false";
        result.metadata["lastError"] = session->lastError();
        if (loggedIn) {
            const auto taxpayers =
                session->httpGet(std::string(core::AgencyEndpoints::kPortalBaseUrl) + "/api/base/taxpayers");
            result.metadata["taxpayersStatus"] = std::to_string(taxpayers.status);
            result.metadata["taxpayers"] = taxpayers.body;
        }
        return result;
    }
};

const bool kRegistered =
    OperationRegistry::instance().registerOperation(kProbeOp, [] { return std::make_unique<PortalProbe>(); });

// The agency's login on loopback and the sender's certificate in the store.
class PortalRunTest : public ::testing::Test {
protected:
    PortalRunTest() {
        certificateId_ = store_.add("user", hosts_.pki().issue(), kPin, true);
        platform::ProviderPinCache::remember(certificateId_, kPin);
        auto withCertificate = testSender("a");
        withCertificate.certificateId = certificateId_;
        harness_.settings().upsertSender(withCertificate);
        auto withoutCertificate = testSender("b");
        withoutCertificate.certificateId.clear();
        harness_.settings().upsertSender(withoutCertificate);
    }
    ~PortalRunTest() override { platform::ProviderPinCache::clear(); }

    core::json probe(const std::string& senderId) {
        const Answer answer = harness_.post(std::string("/api/v1/operations/") + kProbeOp, "{}",
                                            {{"X-Velk-Sender-Id", senderId}});
        EXPECT_EQ(answer.status, 200) << answer.body;
        return answer.status == 200 ? answer.json().at("metadata") : core::json::object();
    }

    FakeCertStore store_;
    LoopbackHosts hosts_;
    FakeAgency agency_{hosts_};
    std::string certificateId_;
    ServerHarness harness_;
};

TEST_F(PortalRunTest, ARunLogsInWithTheSendersCertificate) {
    core::json result = probe("a");
    EXPECT_EQ(result.at("loggedIn"), "true") << result.dump();
    EXPECT_EQ(result.at("taxpayersStatus"), "200");
    EXPECT_EQ(result.at("taxpayers"), defaultTaxpayersJson());
    EXPECT_EQ(agency_.sessionsOpened(), 1);

    // The session stays logged in for the next run of the same sender.
    EXPECT_EQ(probe("a").at("loggedIn"), "true");
    EXPECT_EQ(agency_.sessionsOpened(), 1);
}

TEST_F(PortalRunTest, ASwitchOfSenderStartsAFreshSession) {
    EXPECT_EQ(probe("a").at("loggedIn"), "true");

    const core::json result = probe("b");
    EXPECT_EQ(result.at("loggedIn"), "false");
    EXPECT_EQ(result.at("lastError"), "Не е избран сертификат (certificateId is empty).");

    EXPECT_EQ(probe("a").at("loggedIn"), "true");
    EXPECT_EQ(agency_.sessionsOpened(), 2);
}

}  // namespace
}  // namespace velk::test
