#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velk::test {

// Writes ZIP archives for the reader's tests, with ways to damage them.
struct TestZipEntry {
    std::string name;
    std::string data;          // the entry's bytes before compression
    std::uint16_t method = 0;  // 0 stored, 8 deflated (raw deflate), other: data stored as is
    // Overrides of what the central directory says; -1 keeps the true value.
    std::int64_t declaredUncompressedSize = -1;
    std::int64_t cutCompressedTo = -1;  // the stored compressed bytes cut to this many
    std::int64_t declaredCrc = -1;      // the CRC-32 the headers give
};

struct TestZip {
    std::vector<TestZipEntry> entries;
    std::string comment;
    // Overrides of the end record; -1 keeps the true value.
    std::int64_t directoryOffset = -1;
    std::int64_t directorySize = -1;

    std::string bytes() const;
};

// Raw deflate (no header) of the data.
std::string rawDeflate(const std::string& data);

}  // namespace velk::test
