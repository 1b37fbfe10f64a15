#include "infrastructure/portal/TaxpayerPinType.h"

#include <algorithm>

namespace velk::core::infra::portal {

IdentifierType taxpayerPinType(const std::vector<Taxpayer>& taxpayers, const std::string& pin) {
    for (const Taxpayer& taxpayer : taxpayers) {
        if (taxpayer.pin == pin) {
            return static_cast<IdentifierType>(taxpayer.pinType);
        }
    }
    const bool digitsOnly = std::all_of(pin.begin(), pin.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!digitsOnly) {
        return IdentifierType::None;
    }
    switch (pin.size()) {
        case 9:
            return IdentifierType::BUS_BULSTAT;
        case 10:
            return IdentifierType::IND_EGN;
        case 13:
            return IdentifierType::IND_BULSTAT;
        default:
            return IdentifierType::None;
    }
}

}  // namespace velk::core::infra::portal
