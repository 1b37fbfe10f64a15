#include "agent/ExportSchemaMode.h"

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "common/AgentVersion.h"
#include "server/OpenApiExporter.h"
#include "server/SchemaSelfCheck.h"

namespace velk::agent {

namespace {

constexpr std::string_view kExportSchemaFlag = "--export-schema";
constexpr int kExitOk = 0;
constexpr int kExitFailed = 2;

void reportIssues(std::ostream& err, const std::vector<std::string>& issues) {
    err << "ERROR: testFixture / resultSchema mismatch detected (" << issues.size() << " issue(s)):\n";
    for (const auto& issue : issues) {
        err << "  * " << issue << "\n";
    }
    err << "\nFix the listed operations' testFixture() so every schema field receives a real value. Build "
           "refuses to ship an installer where test mode would lie about the shape of production responses."
        << std::endl;
}

// The whole text is made before anything is written, so a failure leaves standard output empty.
std::string documentText(const core::operations::OperationRegistry& registry) {
    const nlohmann::json document = server::OpenApiExporter::buildDocument(
        "VELK Agent API", core::versionString(), "http://127.0.0.1:5123", registry);
    return document.dump(2, ' ', false, nlohmann::json::error_handler_t::strict);
}

}  // namespace

bool wantsSchemaExport(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && kExportSchemaFlag == argv[i]) {
            return true;
        }
    }
    return false;
}

int runSchemaExport(std::ostream& out, std::ostream& err,
                    const core::operations::OperationRegistry& registry) {
    std::string text;
    try {
        const std::vector<std::string> issues = server::SchemaSelfCheck::checkFixtures(registry);
        if (!issues.empty()) {
            reportIssues(err, issues);
            return kExitFailed;
        }
        text = documentText(registry);
    } catch (const std::exception& e) {
        // An operation that throws, or a text that is not UTF-8: no document rather than a crash.
        err << "ERROR: OpenAPI export failed: " << e.what() << std::endl;
        return kExitFailed;
    }
    out << text << '\n' << std::flush;
    if (!out) {
        // A document cut short (a full disk, a closed pipe) must not pass for a good one.
        err << "ERROR: the OpenAPI document could not be written to standard output" << std::endl;
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace velk::agent
