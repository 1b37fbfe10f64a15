#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace velk::core::infra::java {

// One entry of a ZIP archive's central directory.
struct ZipEntryInfo {
    std::string name;          // bytes as stored
    std::uint16_t method = 0;  // 0 stored, 8 deflated
    std::uint64_t dataOffset = 0;
    std::uint32_t compressedSize = 0;
    std::uint32_t uncompressedSize = 0;
    std::uint32_t crc32 = 0;  // of the uncompressed bytes
};

// Reads ZIP archives (the agency's JARs) held whole in memory. Every offset
// and size is checked against the archive before a byte is read; ZIP64, data
// descriptors and encryption are not supported.

// Visits the entries in central-directory order. False when there is no end
// record or the directory lies outside the archive; a damaged entry ends the
// walk (true).
bool forEachZipEntry(std::string_view archive, const std::function<void(const ZipEntryInfo&)>& visitor);

// One INFO line per entry and a closing total line, labelled with the
// archive's name.
void listZipEntries(std::string_view archive, const std::string& label);

// The first entry whose base name, else full name, equals the wanted name
// without regard to ASCII case, and that is stored or inflates to the size
// and CRC-32 the directory declares (a damaged entry is logged and skipped).
bool extractZipEntry(std::string_view archive, const std::string& wantedName, std::string& out);

// One raw deflate stream; true only when it ends properly. The output never
// grows past kMaxInflatedBytes.
bool inflateRaw(const std::uint8_t* data, std::size_t size, std::size_t expectedSize, std::string& out);

inline constexpr std::size_t kMaxInflatedBytes = 512 * 1024 * 1024;

}  // namespace velk::core::infra::java
