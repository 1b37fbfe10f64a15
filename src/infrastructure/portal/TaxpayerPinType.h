#pragma once

#include <string>
#include <vector>

#include "common/CodeTables.h"
#include "common/PortalRecords.h"

namespace velk::core::infra::portal {

// The identifier type of a taxpayer for the REST API: that of the first
// listed taxpayer with this identifier, else by its digits alone: 9 digits a
// company (BUS_BULSTAT), 10 a person (IND_EGN), 13 a branch (IND_BULSTAT);
// anything else, the empty text included, None.
IdentifierType taxpayerPinType(const std::vector<Taxpayer>& taxpayers, const std::string& pin);

}  // namespace velk::core::infra::portal
