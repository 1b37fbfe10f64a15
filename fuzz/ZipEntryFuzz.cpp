// The ZIP entry reader of the agency's JARs: every entry it visits lies
// inside the archive, extraction never outgrows its bound, and nothing
// throws.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "infrastructure/java/ZipEntryReader.h"

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
            }
        }
        listZipEntries(archive, "fuzz");
    });
    return 0;
}
