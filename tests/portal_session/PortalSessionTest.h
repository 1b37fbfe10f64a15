#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "fakes/FakeCertStore.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/portal/NapSession.h"
#include "platform/ProviderPinCache.h"
#include "support/TempDir.h"

namespace velk::core::infra::portal {

// A session against the fake agency under the production host names, for
// the user's certificate in the store. The waits are recorded, not slept, and
// the process-wide caches start empty.
class PortalSessionTest : public testing::Test {
protected:
    static constexpr const char* kPin = "4321";
    static constexpr const char* kCompanyEik = "123456789";

    PortalSessionTest() { certificateId_ = store_.add("user", hosts_.pki().issue(), kPin, true); }

    void SetUp() override {
        platform::ProviderPinCache::remember(certificateId_, kPin);
        NapSession::resetProcessCachesForTests();
        session_.configure(identity(certificateId_));
    }
    void TearDown() override {
        platform::ProviderPinCache::clear();
        NapSession::resetProcessCachesForTests();
    }

    static SessionIdentity identity(const std::string& certificateId) {
        SessionIdentity id;
        id.identifier = kCompanyEik;
        id.identifierType = 5;
        id.certificateId = certificateId;
        id.apiKey = "api-key-1";
        return id;
    }

    // A second certificate of the test CA in the store, remembered with its PIN.
    std::string addCertificate(const std::string& name, const std::string& commonName) {
        test::CertificateSpec certSpec;
        certSpec.commonName = commonName;
        const std::string id = store_.add(name, hosts_.pki().issue(certSpec), kPin, true);
        platform::ProviderPinCache::remember(id, kPin);
        return id;
    }

    test::IsolatedHome home_;
    test::FakeCertStore store_;
    test::LoopbackHosts hosts_;
    test::FakeAgency agency_{hosts_};
    test::TestServer& portal_ = agency_.portal();
    test::TestServer& login_ = agency_.login();
    std::string certificateId_;
    std::vector<std::chrono::milliseconds> sleeps_;
    NapSession session_{[this](std::chrono::milliseconds wait) { sleeps_.push_back(wait); }};
};

}  // namespace velk::core::infra::portal
