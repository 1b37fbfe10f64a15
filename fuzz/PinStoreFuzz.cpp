// pins.dat as the agent finds it on disk: reading any content never throws,
// a PIN stored over it reads back, the other entries stay as they were, and
// a removed PIN is gone.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "FuzzCheck.h"
#include "TempFolder.h"
#include "common/JsonUtils.h"
#include "infrastructure/signing/PinStore.h"
#include "platform/AppPaths.h"

namespace {

using velk::core::json;
using velk::signing::PinStore;

json readDocument(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::optional<json> document = velk::core::tryParseExternalJson(text);
    return document && document->is_object() ? std::move(*document) : json::object();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto& temp = velk::fuzz::TempFolder::instance();
    const std::string dataDir = velk::platform::dataDir();
    VELK_FUZZ_CHECK(!dataDir.empty() && dataDir.starts_with(temp.path().string()));
    std::filesystem::create_directories(dataDir);
    velk::fuzz::TempFolder::clear(dataDir);
    const std::string file = PinStore::path();
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    velk::fuzz::TempFolder::writeFile(file, bytes);

    VELK_FUZZ_NO_THROW({
        const json before = readDocument(file);
        (void)PinStore::get("cert-1");
        if (!before.empty()) {
            (void)PinStore::get(before.begin().key());
        }

        const std::string id = "fuzz-cert";
        VELK_FUZZ_CHECK(PinStore::store(id, "4321"));
        const std::optional<std::string> pin = PinStore::get(id);
        VELK_FUZZ_CHECK(pin && *pin == "4321");
        json after = readDocument(file);
        VELK_FUZZ_CHECK(after.contains(id));
        json expected = before;
        expected.erase(id);
        after.erase(id);
        VELK_FUZZ_CHECK(after == expected);

        VELK_FUZZ_CHECK(PinStore::remove(id));
        VELK_FUZZ_CHECK(!PinStore::get(id).has_value());
        VELK_FUZZ_CHECK(readDocument(file) == expected);
    });
    return 0;
}
