#include "infrastructure/signing/SigningCancelledException.h"

namespace velk::signing {

SigningCancelledException::SigningCancelledException() : std::runtime_error("Подписването беше отказано.") {}

}  // namespace velk::signing
