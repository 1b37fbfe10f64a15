#pragma once

#include <memory>

#include "engine/InMemorySettings.h"
#include "engine/TestOperations.h"
#include "engine/VelkEngine.h"
#include "support/TempDir.h"

namespace velk::test {

// An engine, not yet initialised, over in-memory settings with the test
// senders "a" (active) and "b", in a private home (the session reads
// remembered PINs there).
class TwoSenderEngine {
protected:
    TwoSenderEngine() {
        auto store = std::make_unique<InMemorySettings>();
        settings = store.get();
        settings->upsertSender(testSender("a"));
        settings->upsertSender(testSender("b"));
        settings->setActiveSender("a");
        engine = std::make_unique<core::VelkEngine>(std::move(store));
    }

    IsolatedHome home;
    InMemorySettings* settings = nullptr;  // owned by the engine
    std::unique_ptr<core::VelkEngine> engine;
};

}  // namespace velk::test
