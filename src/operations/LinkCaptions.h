#pragma once

#include <string_view>

#include "common/PortalRecords.h"

namespace velk::core::operations {

// Case-insensitive for ASCII letters only: Cyrillic is matched with its exact
// case. An empty needle is always contained.
bool containsIgnoreCase(std::string_view haystack, std::string_view needle);

// Whether the link's title names a filing ("Submit" in any ASCII case, "Подаване", "Подай").
bool isSubmitCaption(const ServiceLink& link);

// Whether the link's title names a report or the submitted documents.
bool isReportCaption(const ServiceLink& link);

}  // namespace velk::core::operations
