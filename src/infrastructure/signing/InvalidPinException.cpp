#include "infrastructure/signing/InvalidPinException.h"

namespace velk::signing {

InvalidPinException::InvalidPinException() : std::runtime_error("Грешен PIN код.") {}

}  // namespace velk::signing
