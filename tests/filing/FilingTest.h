#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "common/TextUtils.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/signing/SignerWin.h"
#include "portal_session/PortalSessionTest.h"
#include "support/TempDir.h"

namespace velk::core::infra::portal {

// A portal session against the fake agency that can sign: the store signer
// over the user's certificate, whose key the session's login used. Files to
// file are written to a temporary folder. Each test ends with the fake's own
// checks having refused nothing.
class FilingTest : public PortalSessionTest {
protected:
    void SetUp() override {
        PortalSessionTest::SetUp();
        session_.setSigner(&signer_);
    }
    void TearDown() override {
        EXPECT_TRUE(agency_.pls().rejections().empty()) << agency_.pls().rejections().front();
        EXPECT_TRUE(agency_.restApi().rejections().empty()) << agency_.restApi().rejections().front();
        PortalSessionTest::TearDown();
    }

    std::string writeFile(const std::string& name, const std::string& bytes) {
        const std::string path = files_.sub(name);
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    signing::SignerWin signer_;
    test::TempDir files_;
};

}  // namespace velk::core::infra::portal
