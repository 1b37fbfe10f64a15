// settings.json as the agent finds it on disk: loading any content never
// throws out of the store, what was loaded saves, and the saved file loads
// back to the same settings.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "TempFolder.h"
#include "agent/FileSettings.h"
#include "common/TextUtils.h"

namespace {

using velk::agent::FileSettings;

struct Snapshot {
    std::vector<velk::core::SenderProfile> senders;
    std::optional<std::string> activeId;
    std::optional<std::string> identifier;
    std::optional<std::string> apiKey;
    std::string submitUrl;
    std::string statusUrl;
    bool cloudEnabled = false;
    std::string cloudBaseUrl;
    std::string cloudPublicKey;
    std::string cloudIssuer;

    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshotOf(const FileSettings& settings) {
    Snapshot s;
    s.senders = settings.listSenders();
    s.activeId = settings.activeSenderId();
    s.identifier = settings.activeIdentifier();
    s.apiKey = settings.activeApiKey();
    s.submitUrl = settings.restSubmitUrl();
    s.statusUrl = settings.restStatusUrl();
    s.cloudEnabled = settings.cloudEnabled();
    s.cloudBaseUrl = settings.cloudBaseUrl();
    s.cloudPublicKey = settings.cloudPublicKey();
    s.cloudIssuer = settings.cloudIssuer();
    (void)settings.activeIdentifierType();
    (void)settings.activeCertificateId();
    (void)settings.reserved();
    for (const auto& sender : s.senders) {
        (void)settings.getSender(sender.id);
    }
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& temp = velk::fuzz::TempFolder::instance();
    const std::filesystem::path folder = temp.path() / "work";
    const std::string file = (folder / "settings.json").string();
    velk::fuzz::TempFolder::clear(folder);
    velk::fuzz::TempFolder::writeFile(file, std::string_view(reinterpret_cast<const char*>(data), size));

    VELK_FUZZ_NO_THROW({
        Snapshot first;
        {
            FileSettings settings(file);
            first = snapshotOf(settings);
            for (const auto& sender : first.senders) {
                VELK_FUZZ_CHECK(velk::core::isValidUtf8(sender.id));
                VELK_FUZZ_CHECK(velk::core::isValidUtf8(sender.displayName));
            }
            // The active sender is one of the senders whenever there are any;
            // when none is active, the first sender has no id (the fallback
            // names it, and the empty id names no sender).
            if (!first.senders.empty()) {
                if (first.activeId) {
                    VELK_FUZZ_CHECK(settings.getSender(*first.activeId).has_value());
                } else {
                    VELK_FUZZ_CHECK(first.senders.front().id.empty());
                }
            }
            VELK_FUZZ_CHECK(settings.save());
        }
        FileSettings again(file);
        VELK_FUZZ_CHECK(snapshotOf(again) == first);
    });
    return 0;
}
