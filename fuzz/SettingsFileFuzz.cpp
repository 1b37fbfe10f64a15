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
#include "common/JsonUtils.h"
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

// The active id the loader must end with, read from the file on its own: a
// stored "activeSenderId" that one of the senders has, else the first
// sender's id (the empty id leaves none active). Nothing when the file holds
// no "senders" array (the legacy form) or no senders at all.
std::optional<std::optional<std::string>> expectedActiveId(
    std::string_view text, const std::vector<velk::core::SenderProfile>& senders) {
    if (senders.empty()) {
        return std::nullopt;
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    const std::optional<velk::core::json> root = velk::core::tryParseExternalJson(text);
    if (!root || !root->is_object() || !root->contains("senders") || !(*root)["senders"].is_array()) {
        return std::nullopt;
    }
    std::string stored;
    if (const auto it = root->find("activeSenderId"); it != root->end() && it->is_string()) {
        stored = it->get<std::string>();
    }
    for (const auto& sender : senders) {
        if (!stored.empty() && sender.id == stored) {
            return std::optional<std::string>(stored);
        }
    }
    const std::string& first = senders.front().id;
    return first.empty() ? std::optional<std::string>() : std::optional<std::string>(first);
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
            // The stored active id when a sender has it, else the first
            // sender's; an active id always names a sender.
            const auto expected =
                expectedActiveId(std::string_view(reinterpret_cast<const char*>(data), size), first.senders);
            if (expected) {
                VELK_FUZZ_CHECK(first.activeId == *expected);
            }
            if (!first.senders.empty() && first.activeId) {
                VELK_FUZZ_CHECK(settings.getSender(*first.activeId).has_value());
            }
            VELK_FUZZ_CHECK(settings.save());
        }
        FileSettings again(file);
        VELK_FUZZ_CHECK(snapshotOf(again) == first);
    });
    return 0;
}
