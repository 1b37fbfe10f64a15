#include "fakes/agency/JavaClientRoutes.h"

#include <array>

#include "common/AgencyEndpoints.h"
#include "platform/AtomicFile.h"

namespace velk::test {

namespace {

constexpr std::array<const char*, 4> kServedJars = {"VATClientService.jar", "SignerService.jar",
                                                    "LSManager.jar", "native/vatclient-win-x86_64.jar"};

}  // namespace

std::string JavaClientRoutes::clientDir() {
    return VELK_STANDIN_CLIENT_DIR;
}

std::string JavaClientRoutes::manifest() {
    return std::string(R"(<?xml version="1.0" encoding="UTF-8"?>
<jnlp spec="1.0+" codebase=")") +
           std::string(core::AgencyEndpoints::kPortalBaseUrl) + R"(/ls" href="java/zezizurls-vat.jnlp">
  <information>
    <title>ZezizUR VAT</title>
    <vendor>NRA</vendor>
  </information>
  <resources>
    <j2se version="11+"/>
    <jar href="VATClientService.jar" size="4096" main="true"/>
    <jar href="SignerService.jar"/>
    <jar href="LSManager.jar"/>
  </resources>
  <resources os="Windows" arch="amd64 x86_64">
    <nativelib href="native/vatclient-win-x86_64.jar"/>
  </resources>
  <resources os="Windows" arch="x86">
    <nativelib href="native/vatclient-win-x86.jar"/>
  </resources>
  <application-desc main-class="bg.nra.zezizur.Main"/>
</jnlp>
)";
}

void JavaClientRoutes::install(TestServer& portal) {
    portal.on("GET", "/ls/java/zezizurls-vat.jnlp", [](const RecordedRequest&) {
        Reply reply = Reply::text(200, manifest());
        reply.contentType = "application/x-java-jnlp-file";
        return reply;
    });
    for (const char* jar : kServedJars) {
        const std::string path = std::string("/ls/") + jar;
        const std::string file = clientDir() + "/" + jar;
        portal.on("GET", path, [file](const RecordedRequest&) {
            std::string bytes;
            if (platform::readWholeFile(file, bytes) != 0) {
                return Reply::text(404, "not built: " + file);
            }
            Reply reply = Reply::text(200, std::move(bytes));
            reply.contentType = "application/java-archive";
            return reply;
        });
    }
}

}  // namespace velk::test
