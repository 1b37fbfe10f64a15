#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "common/JsonUtils.h"
#include "common/PortalRecords.h"

namespace velk::core::infra::portal {

// The portal's identifier-type text ("EIK", "IND_EGN", ...) as an
// IdentifierType code, case-insensitively; 0 when unknown.
std::int32_t pinTypeFromText(std::string_view text);

// One element of the taxpayer list. Elements that are not objects give an
// empty record.
Taxpayer readTaxpayer(const json& element);

// The catalogue reply, a JSON array of categories with their services and
// links, in the portal's order.
std::vector<Category> readCatalogue(const json& array);

}  // namespace velk::core::infra::portal
