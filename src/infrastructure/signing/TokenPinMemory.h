#pragma once

#include <map>
#include <optional>
#include <string>

namespace velk::signing {

// The last PIN each token accepted, keyed by slot and token serial number, so
// that a signature asked for without a PIN (the Java client's, a REST call's)
// can still log in. In memory only; not thread-safe (its owner locks).
class TokenPinMemory {
public:
    TokenPinMemory() = default;
    ~TokenPinMemory();
    TokenPinMemory(const TokenPinMemory&) = delete;
    TokenPinMemory& operator=(const TokenPinMemory&) = delete;

    void remember(unsigned long slotId, const std::string& tokenSerial, const std::string& pin);
    // The PIN of the token now in the slot; an entry made for another token
    // (the serial changed) is dropped.
    std::optional<std::string> recall(unsigned long slotId, const std::string& tokenSerial);
    void forget(unsigned long slotId);

private:
    struct Entry {
        std::string tokenSerial;
        std::string pin;
    };
    std::map<unsigned long, Entry> entries_;
};

}  // namespace velk::signing
