#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velk::platform {

// Overwrites a secret (PIN, key, plaintext) with zeros and empties it. The
// compiler may not drop the overwrite even though the buffer dies right after.
void secureWipe(std::string& text);
void secureWipe(std::vector<std::uint8_t>& bytes);

// Wipes the referenced buffer when the scope ends, however it ends.
template <class T>
class ScopedWipe {
public:
    explicit ScopedWipe(T& secret) : secret_(secret) {}
    ~ScopedWipe() { secureWipe(secret_); }
    ScopedWipe(const ScopedWipe&) = delete;
    ScopedWipe& operator=(const ScopedWipe&) = delete;

private:
    T& secret_;
};

}  // namespace velk::platform
