#include "infrastructure/http/Pkcs11KeyId.h"

#include <algorithm>

namespace velk::core::infra::http {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHexDigit(char c) {
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool isPkcs11SlotId(std::string_view id) {
    const std::size_t colon = id.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    const std::string_view slot = id.substr(0, colon);
    const std::string_view key = id.substr(colon + 1);
    return std::all_of(slot.begin(), slot.end(), isDigit) && !key.empty() && key.size() % 2 == 0 &&
           std::all_of(key.begin(), key.end(), isHexDigit);
}

bool isPkcs11CertificateId(std::string_view id) {
    return id.starts_with("pkcs11:") || isPkcs11SlotId(id);
}

std::string pkcs11EngineKeyId(std::string_view id) {
    const std::size_t colon = id.find(':');
    const std::string_view slot = id.substr(0, colon);
    const std::string_view key = colon == std::string_view::npos ? std::string_view() : id.substr(colon + 1);
    return "slot_" + std::string(slot) + "-id_" + std::string(key);
}

}  // namespace velk::core::infra::http
