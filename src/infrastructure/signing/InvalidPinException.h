#pragma once

#include <stdexcept>

namespace velk::signing {

// The card or token rejected the PIN, or the PIN is blocked.
class InvalidPinException : public std::runtime_error {
public:
    InvalidPinException();
};

}  // namespace velk::signing
