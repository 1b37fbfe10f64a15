#pragma once

#include "infrastructure/http/HttpResponse.h"

namespace velk::core::infra::portal {

// The headers a page of the portal open in a browser sends. Every portal
// request passes one of these; a caller that needs more copies and adds.
// Built during static initialisation: not for use by other static
// initialisers.
extern const http::HttpHeaders PortalPageHeaders;  // HTML pages
extern const http::HttpHeaders PortalJsonHeaders;  // the portal's JSON endpoints

}  // namespace velk::core::infra::portal
