#pragma once

#include <functional>
#include <string>
#include <vector>

namespace velk::core::infra::java {

// The agent's handle on the agency's Java VAT client. Start-up creates one and
// hands non-owning pointers to the engine (for the portal session) and to the
// local API.
//
// So far only what the local API's validation route calls is declared; the
// installation and the filing come with the bridge itself. validate stays
// virtual so the local API can be tested with a validator that answers from a
// script.
class ZezizUrBridge {
public:
    // Progress texts of a run; may be empty.
    using Progress = std::function<void(const std::string&)>;

    virtual ~ZezizUrBridge() = default;

    // Validates the VAT declaration folder with the agency's Java client on
    // the calling thread and returns its error texts, empty when the folder
    // passed. A validation that cannot run returns the one text that says why.
    virtual std::vector<std::string> validate(const std::string& declarationDir,
                                              const Progress& progress) = 0;
};

}  // namespace velk::core::infra::java
