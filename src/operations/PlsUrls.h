#pragma once

#include <string>
#include <string_view>

#include "common/PortalRecords.h"

namespace velk::core::operations {

// The portal's legacy PLS pages all live below this address ("https://<portal>/pls/pub/").
std::string plsBaseUrl();

// Removes the first of ".publicEntry", ".listDocuments", ".upload_file",
// ".showResult" that ends the text (ASCII case ignored); only one is removed.
std::string stripPlsSuffix(std::string_view pageUrl);

// The upper-cased PLS module named by the link's "url" property, or the
// fallback when the link has none or nothing is left of it.
std::string plsModuleOf(const ServiceLink& link, const std::string& fallbackModule);

// The link's "url" property, empty when it has none.
std::string linkUrlProperty(const ServiceLink& link);

}  // namespace velk::core::operations
