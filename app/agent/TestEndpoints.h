#pragma once

#include <string>

namespace velk::agent {

// Whether this machine talks to the agency's test REST endpoints instead of
// production: VELK_USE_TEST_ENDPOINTS set to a non-empty text, else the boolean
// "useTestEndpoints" of dev.json in the given folder. A missing or broken
// dev.json means production. Logs one WARN line when the answer is true.
bool detectTestEndpoints(const std::string& devJsonFolder);

// The process-wide answer, decided on the first call with dev.json beside the
// executable and kept for the life of the process.
bool testEndpointsEnabled();

}  // namespace velk::agent
