#include "features/vat/ScopedSessionFetcher.h"

#include <cstdint>
#include <string>
#include <vector>

#include "infrastructure/java/JnlpDownloader.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "infrastructure/portal/NapSession.h"

namespace velk::core::features::vat {

ScopedSessionFetcher::ScopedSessionFetcher(infra::java::ZezizUrBridge& bridge,
                                           infra::portal::NapSession& session)
    : bridge_(bridge) {
    bridge_.setFetcher([&session](const std::string& url) {
        const infra::portal::PortalResponse response = session.httpGetWithHeaders(url, {});
        if (response.status < 200 || response.status > 299 ||
            response.body.size() > infra::java::JnlpDownloader::kMaxDownloadBytes) {
            return std::vector<std::uint8_t>();
        }
        return std::vector<std::uint8_t>(response.body.begin(), response.body.end());
    });
}

ScopedSessionFetcher::~ScopedSessionFetcher() {
    bridge_.setFetcher({});
}

}  // namespace velk::core::features::vat
