#include "java/TestZip.h"

#include <zlib.h>

#include <stdexcept>

namespace velk::test {

namespace {

void put16(std::string& out, std::uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

}  // namespace

std::string rawDeflate(const std::string& data) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("deflateInit2");
    }
    std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) {
        throw std::runtime_error("deflate");
    }
    return out;
}

std::string TestZip::bytes() const {
    std::string out;
    std::string directory;
    for (const TestZipEntry& entry : entries) {
        std::string stored = entry.method == 8 ? rawDeflate(entry.data) : entry.data;
        if (entry.cutCompressedTo >= 0) {
            stored.resize(static_cast<std::size_t>(entry.cutCompressedTo));
        }
        const std::uint32_t uncompressed = entry.declaredUncompressedSize >= 0
                                               ? static_cast<std::uint32_t>(entry.declaredUncompressedSize)
                                               : static_cast<std::uint32_t>(entry.data.size());
        const auto localOffset = static_cast<std::uint32_t>(out.size());
        const std::uint32_t crc =
            entry.declaredCrc >= 0
                ? static_cast<std::uint32_t>(entry.declaredCrc)
                : static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(entry.data.data()),
                                                   static_cast<uInt>(entry.data.size())));
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, 0);
        put16(out, entry.method);
        put32(out, 0);
        put32(out, crc);
        put32(out, static_cast<std::uint32_t>(stored.size()));
        put32(out, uncompressed);
        put16(out, static_cast<std::uint32_t>(entry.name.size()));
        put16(out, 0);
        out += entry.name;
        out += stored;

        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, entry.method);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, static_cast<std::uint32_t>(stored.size()));
        put32(directory, uncompressed);
        put16(directory, static_cast<std::uint32_t>(entry.name.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, localOffset);
        directory += entry.name;
    }
    const auto offset = static_cast<std::uint32_t>(out.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put16(out, static_cast<std::uint32_t>(entries.size()));
    put32(out, directorySize >= 0 ? static_cast<std::uint32_t>(directorySize)
                                  : static_cast<std::uint32_t>(directory.size()));
    put32(out, directoryOffset >= 0 ? static_cast<std::uint32_t>(directoryOffset) : offset);
    put16(out, static_cast<std::uint32_t>(comment.size()));
    out += comment;
    return out;
}

}  // namespace velk::test
