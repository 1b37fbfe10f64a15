#pragma once

#include <vector>

#include "operations/OperationRecords.h"

namespace velk::core::features {

// Parameters that many operations declare with the same label and type.
operations::ParamSpec eikParam(bool required);
operations::ParamSpec yearParam(bool required);
// Required, described "1-12".
operations::ParamSpec monthParam();
// eik, year and month, all required: a taxpayer's tax period on the portal.
std::vector<operations::ParamSpec> taxpayerPeriodParams();

}  // namespace velk::core::features
