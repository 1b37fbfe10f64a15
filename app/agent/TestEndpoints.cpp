#include "agent/TestEndpoints.h"

#include <cstdlib>
#include <exception>

#include "common/AgencyEndpoints.h"
#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "platform/AppPaths.h"
#include "platform/AtomicFile.h"

namespace velk::agent {

namespace {

using core::json;

// The first label of the test host, enough to recognise it in the log.
std::string_view testHostLabel() {
    const std::string_view host = core::AgencyEndpoints::kRestApiTestHost;
    return host.substr(0, host.find('.'));
}

bool devJsonAsksForTestEndpoints(const std::string& folder) {
    std::string text;
    // Without a folder there is no dev.json: never one in the current folder.
    if (folder.empty() || platform::readWholeFile(platform::joinPath(folder, "dev.json"), text) != 0) {
        return false;
    }
    try {
        // Throws for a parse error, a top level that is no object and a value
        // that is no boolean; each of them means production.
        return json::parse(text).value("useTestEndpoints", false);
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

bool detectTestEndpoints(const std::string& devJsonFolder) {
    std::string_view source;
    const char* variable = std::getenv("VELK_USE_TEST_ENDPOINTS");
    if (variable != nullptr && *variable != '\0') {
        source = "VELK_USE_TEST_ENDPOINTS env var";
    } else if (devJsonAsksForTestEndpoints(devJsonFolder)) {
        source = "dev.json useTestEndpoints";
    } else {
        return false;
    }
    core::logLine(core::LogLevel::Warn, "VezoRodarC: NAP endpoints OVERRIDDEN to " +
                                            std::string(testHostLabel()) + " via " + std::string(source) +
                                            " — DEV MODE");
    return true;
}

bool testEndpointsEnabled() {
    static const bool enabled = detectTestEndpoints(platform::executableDir());
    return enabled;
}

}  // namespace velk::agent
