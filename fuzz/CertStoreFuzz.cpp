// The certificate store's folder as a user fills it: any bytes as a PKCS#12
// file and as the companion certificate beside it. Reading the store never
// throws and never asks for a PIN; every listed entry is named by the SHA-1
// of its certificate; using a listed key with a wrong PIN is refused, never
// a crash.

#include <openssl/sha.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "FuzzCheck.h"
#include "TempFolder.h"
#include "platform/CertStore.h"
#include "platform/ProviderPinCache.h"
#include "platform/StoreKey.h"

namespace {

using velk::platform::CertStore;
using velk::platform::PinAnswer;
using velk::platform::PinRequest;
using velk::platform::ProviderPinCache;
using velk::platform::StoreKey;

int prompts = 0;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& temp = velk::fuzz::TempFolder::instance();
    const std::string folder = CertStore::directory();
    VELK_FUZZ_CHECK(!folder.empty() && folder.starts_with(temp.path().string()));
    std::filesystem::create_directories(folder);
    velk::fuzz::TempFolder::clear(folder);

    velk::fuzz::InputParts parts(data, size);
    const std::uint8_t choice = parts.byte();
    velk::fuzz::TempFolder::writeFile(folder + "/user.p12", parts.text());
    // The companion in each of its names, or none.
    static constexpr const char* kCompanions[] = {"/user.crt", "/user.cer", "/user.pem", nullptr};
    if (const char* companion = kCompanions[choice % 4]) {
        velk::fuzz::TempFolder::writeFile(folder + companion, parts.rest());
    }

    ProviderPinCache::clear();
    ProviderPinCache::setPrompt([](const PinRequest&) {
        ++prompts;
        return PinAnswer{velk::platform::kStatusOk, "0000"};
    });
    prompts = 0;
    VELK_FUZZ_NO_THROW({
        int error = 0;
        const std::optional<CertStore> store = CertStore::openMy(error);
        VELK_FUZZ_CHECK(store.has_value());
        VELK_FUZZ_CHECK(prompts == 0);
        for (const auto& entry : store->certificates()) {
            unsigned char digest[SHA_DIGEST_LENGTH];
            SHA1(entry.der.data(), entry.der.size(), digest);
            VELK_FUZZ_CHECK(std::equal(entry.sha1.begin(), entry.sha1.end(), digest));
            std::uint32_t status = 0;
            if (std::optional<StoreKey> key = StoreKey::acquire(entry, status)) {
                std::string pin;
                (void)key->unlockedPin(pin);
            }
        }
    });
    return 0;
}
