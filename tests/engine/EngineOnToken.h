#pragma once

// The engine for one company sender whose key lives on a SoftHSM token,
// against the fake agency, with a private home folder: what the end-to-end
// filing tests share. The pkcs11 engine is process-wide and SoftHSM reads its
// configuration once, so a test program makes one of these for all its tests.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/JsonUtils.h"
#include "engine/InMemorySettings.h"
#include "engine/VelkEngine.h"
#include "fakes/LoopbackHosts.h"
#include "fakes/agency/FakeAgency.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/signing/SignerPkcs11.h"
#include "support/SoftHsmToken.h"
#include "support/TempDir.h"

namespace velk::core::infra::java {
class ZezizUrBridge;
}

namespace velk::test {

class EngineOnToken {
public:
    static constexpr const char* kSender = "s-000000000001";
    static constexpr const char* kEik = "123456789";

    struct Options {
        std::vector<std::uint8_t> ckaId{};
        std::string apiKey{};                                // the sender's REST API key, if any
        core::infra::java::ZezizUrBridge* bridge = nullptr;  // outlives this object
    };

    explicit EngineOnToken(const Options& options) : agency_(hosts_) {
        token_.addIdentity(hosts_.pki().issue(), options.ckaId);
        const std::string certificateId = token_.certificateId(options.ckaId);
        // The signer opens the module once the token holds the key.
        module_ = std::make_unique<ScopedEnv>("VELK_PKCS11_MODULE", SoftHsmToken::modulePath());
        signer_ = std::make_unique<signing::SignerPkcs11>(SoftHsmToken::modulePath());
        core::infra::portal::NapSession::resetProcessCachesForTests();

        auto settings = std::make_unique<InMemorySettings>();
        core::SenderProfile sender;
        sender.id = kSender;
        sender.displayName = "Тест ЕООД";
        sender.identifier = kEik;
        sender.identifierType = core::IdentifierType::BUS_BULSTAT;
        sender.certificateId = certificateId;
        if (!options.apiKey.empty()) {
            sender.apiKey = options.apiKey;
        }
        settings->upsertSender(sender);
        settings->setActiveSender(kSender);
        // The session's pauses are recorded, not slept: the filings pause for
        // the portal several seconds each.
        engine_ =
            std::make_unique<core::VelkEngine>(std::move(settings), [this](std::chrono::milliseconds pause) {
                std::lock_guard lock(pausesMutex_);
                pauses_.push_back(pause);
            });
        engine_->setSigner(signer_.get());
        if (options.bridge != nullptr) {
            engine_->setZezizUrBridge(options.bridge);
        }
        engine_->initialise();
        engine_->setPin(certificateId, token_.userPin());
    }

    ~EngineOnToken() {
        engine_.reset();
        core::infra::portal::NapSession::resetProcessCachesForTests();
    }

    EngineOnToken(const EngineOnToken&) = delete;
    EngineOnToken& operator=(const EngineOnToken&) = delete;

    // The operation's JSON answer for the sender; fails the test when the run
    // did not succeed.
    core::json run(const std::string& typeId, const core::json& params,
                   std::optional<std::string> filePath = {}) {
        const core::operations::ExecuteResult result =
            engine_->execute(typeId, params.dump(), filePath, {}, kSender);
        EXPECT_TRUE(result.success) << typeId << ": " << result.error;
        return result.json.empty() ? core::json::object() : core::json::parse(result.json);
    }

    // The pauses the portal session asked for so far, in order.
    std::vector<std::chrono::milliseconds> pauses() {
        std::lock_guard lock(pausesMutex_);
        return pauses_;
    }

    IsolatedHome& home() { return home_; }
    LoopbackHosts& hosts() { return hosts_; }
    FakeAgency& agency() { return agency_; }

private:
    // Declared in the order they are made; destroyed in reverse.
    IsolatedHome home_;
    LoopbackHosts hosts_;
    FakeAgency agency_;
    SoftHsmToken token_;
    std::unique_ptr<ScopedEnv> module_;
    std::unique_ptr<signing::SignerPkcs11> signer_;
    std::mutex pausesMutex_;
    std::vector<std::chrono::milliseconds> pauses_;
    std::unique_ptr<core::VelkEngine> engine_;
};

}  // namespace velk::test
