// The ZIP entry reader of the agency's JARs: every entry it visits lies
// inside the archive, extraction gives only bytes of the size and CRC-32
// that a matching entry declares (never outgrowing its bound), and nothing
// throws.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <zlib.h>

#include "FuzzCheck.h"
#include "common/TextUtils.h"
#include "infrastructure/java/ZipEntryReader.h"

namespace {

using velk::core::infra::java::ZipEntryInfo;

std::string baseNameOf(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Some visited entry of that name declares exactly these bytes.
bool declaredByAMatch(const std::vector<ZipEntryInfo>& entries, const std::string& wanted,
                      const std::string& bytes) {
    using velk::core::iequalsAscii;
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    for (const ZipEntryInfo& entry : entries) {
        const bool named = iequalsAscii(baseNameOf(entry.name), wanted) || iequalsAscii(entry.name, wanted);
        if (named && entry.uncompressedSize == bytes.size() && entry.crc32 == crc) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velk::core::infra::java;
    const std::string_view archive(reinterpret_cast<const char*>(data), size);

    VELK_FUZZ_NO_THROW({
        std::vector<ZipEntryInfo> entries;
        const bool read = forEachZipEntry(archive, [&](const ZipEntryInfo& entry) {
            VELK_FUZZ_CHECK(entry.dataOffset <= size);
            VELK_FUZZ_CHECK(entry.compressedSize <= size - entry.dataOffset);
            entries.push_back(entry);
        });
        VELK_FUZZ_CHECK(read || entries.empty());
        VELK_FUZZ_CHECK(size >= 22 || !read);

        std::vector<std::string> wanted = {"MANIFEST.MF", "a.txt", ""};
        if (!entries.empty()) {
            wanted.push_back(entries.front().name);
            wanted.push_back(entries.back().name);
        }
        for (const std::string& name : wanted) {
            std::string out;
            if (extractZipEntry(archive, name, out)) {
                VELK_FUZZ_CHECK(out.size() <= kMaxInflatedBytes);
                VELK_FUZZ_CHECK(declaredByAMatch(entries, name, out));
            }
        }
        listZipEntries(archive, "fuzz");
    });
    return 0;
}
