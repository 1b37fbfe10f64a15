#pragma once

#include <stdexcept>

namespace velk::signing {

// The user cancelled the PIN entry or the signing.
class SigningCancelledException : public std::runtime_error {
public:
    SigningCancelledException();
};

}  // namespace velk::signing
