#include "infrastructure/java/ZipEntryReader.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <memory>

#include "common/Logger.h"
#include "common/TextUtils.h"

namespace velk::core::infra::java {

namespace {

constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::size_t kEndRecordBytes = 22;
constexpr std::size_t kCentralHeaderBytes = 46;
constexpr std::size_t kLocalHeaderBytes = 30;
constexpr std::size_t kMaxCommentBytes = 65535;
// A declared size is only a hint for the first reservation.
constexpr std::size_t kMaxReservation = 64 * 1024 * 1024;
constexpr std::size_t kWorkBufferBytes = 64 * 1024;

std::uint16_t read16(std::string_view bytes, std::uint64_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                      static_cast<std::uint8_t>(bytes[at + 1]) << 8);
}

std::uint32_t read32(std::string_view bytes, std::uint64_t at) {
    return static_cast<std::uint32_t>(read16(bytes, at)) | static_cast<std::uint32_t>(read16(bytes, at + 2))
                                                               << 16;
}

std::string methodName(std::uint16_t method) {
    switch (method) {
        case 0:
            return "STORED";
        case 8:
            return "DEFLATE";
        default:
            return "?";
    }
}

std::string baseName(const std::string& name) {
    const std::size_t slash = name.find_last_of("/\\");
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

// Whether the bytes taken out of an entry are the ones the directory
// declares: a damaged library must never be installed.
bool matchesDirectory(const ZipEntryInfo& entry, const std::string& bytes) {
    if (bytes.size() != entry.uncompressedSize) {
        logLine(LogLevel::Warn, "JnlpDownloader: size mismatch for '" + loggableText(entry.name) +
                                    "' (declared " + std::to_string(entry.uncompressedSize) + " bytes, got " +
                                    std::to_string(bytes.size()) + ")");
        return false;
    }
    uLong crc = ::crc32(0L, Z_NULL, 0);
    // zlib takes at most 4 GiB per call; an entry is smaller (32-bit sizes).
    crc = ::crc32(crc, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size()));
    if (static_cast<std::uint32_t>(crc) != entry.crc32) {
        logLine(LogLevel::Warn, "JnlpDownloader: CRC-32 mismatch for '" + loggableText(entry.name) + "'");
        return false;
    }
    return true;
}

struct InflateStream {
    z_stream stream{};
    bool open = false;
    ~InflateStream() {
        if (open) {
            inflateEnd(&stream);
        }
    }
};

}  // namespace

bool forEachZipEntry(std::string_view archive, const std::function<void(const ZipEntryInfo&)>& visitor) {
    const std::uint64_t size = archive.size();
    if (size < kEndRecordBytes) {
        return false;
    }
    // Backwards from the last place an end record fits, past the longest
    // comment at most.
    const std::uint64_t last = size - kEndRecordBytes;
    const std::uint64_t first = last > kMaxCommentBytes ? last - kMaxCommentBytes : 0;
    std::uint64_t end = 0;
    bool found = false;
    for (std::uint64_t at = last + 1; at-- > first;) {
        if (read32(archive, at) == kEndSignature) {
            end = at;
            found = true;
            break;
        }
    }
    if (!found) {
        return false;
    }
    const std::uint64_t directorySize = read32(archive, end + 12);
    const std::uint64_t directoryOffset = read32(archive, end + 16);
    const std::uint64_t directoryEnd = directoryOffset + directorySize;
    if (directoryEnd > size) {
        return false;
    }

    std::uint64_t at = directoryOffset;
    while (at < directoryEnd && directoryEnd - at >= kCentralHeaderBytes) {
        if (read32(archive, at) != kCentralSignature) {
            break;
        }
        ZipEntryInfo entry;
        entry.method = read16(archive, at + 10);
        entry.crc32 = read32(archive, at + 16);
        entry.compressedSize = read32(archive, at + 20);
        entry.uncompressedSize = read32(archive, at + 24);
        const std::uint64_t nameLength = read16(archive, at + 28);
        const std::uint64_t extraLength = read16(archive, at + 30);
        const std::uint64_t commentLength = read16(archive, at + 32);
        const std::uint64_t localOffset = read32(archive, at + 42);
        const std::uint64_t nameStart = at + kCentralHeaderBytes;
        if (nameStart + nameLength > size) {
            break;
        }
        entry.name = std::string(archive.substr(nameStart, nameLength));
        if (localOffset + kLocalHeaderBytes > size || read32(archive, localOffset) != kLocalSignature) {
            break;
        }
        entry.dataOffset = localOffset + kLocalHeaderBytes + read16(archive, localOffset + 26) +
                           read16(archive, localOffset + 28);
        if (entry.dataOffset + entry.compressedSize > size) {
            break;
        }
        visitor(entry);
        at += kCentralHeaderBytes + nameLength + extraLength + commentLength;
    }
    return true;
}

void listZipEntries(std::string_view archive, const std::string& label) {
    int count = 0;
    forEachZipEntry(archive, [&](const ZipEntryInfo& entry) {
        ++count;
        logLine(LogLevel::Info, "  [" + label + "] " + loggableText(entry.name) + " (" +
                                    methodName(entry.method) + ", " + std::to_string(entry.uncompressedSize) +
                                    " bytes)");
    });
    logLine(LogLevel::Info, "  [" + label + "] total " + std::to_string(count) + " entries");
}

bool extractZipEntry(std::string_view archive, const std::string& wantedName, std::string& out) {
    const std::string wanted = asciiLower(wantedName);
    bool found = false;
    out.clear();
    forEachZipEntry(archive, [&](const ZipEntryInfo& entry) {
        if (found) {
            return;
        }
        if (asciiLower(baseName(entry.name)) != wanted && asciiLower(entry.name) != wanted) {
            return;
        }
        const std::string_view data = archive.substr(entry.dataOffset, entry.compressedSize);
        if (entry.method == 0) {
            out.assign(data);
            found = matchesDirectory(entry, out);
        } else if (entry.method == 8) {
            if (inflateRaw(reinterpret_cast<const std::uint8_t*>(data.data()), data.size(),
                           entry.uncompressedSize, out)) {
                found = matchesDirectory(entry, out);
            } else {
                logLine(LogLevel::Warn,
                        "JnlpDownloader: inflate failed for '" + loggableText(entry.name) + "'");
            }
        } else {
            logLine(LogLevel::Warn, "JnlpDownloader: entry '" + loggableText(entry.name) +
                                        "' uses unsupported compression method " +
                                        std::to_string(entry.method));
        }
    });
    if (!found) {
        out.clear();
    }
    return found;
}

bool inflateRaw(const std::uint8_t* data, std::size_t size, std::size_t expectedSize, std::string& out) {
    InflateStream z;
    if (inflateInit2(&z.stream, -15) != Z_OK) {
        return false;
    }
    z.open = true;
    out.clear();
    const std::size_t hint =
        expectedSize > 0 ? expectedSize : (size > kMaxReservation / 4 ? kMaxReservation : size * 4);
    out.reserve(std::min(hint, kMaxReservation));

    const auto work = std::make_unique<std::array<char, kWorkBufferBytes>>();
    // zlib takes at most 4 GiB per call; ZIP sizes are 32-bit anyway.
    z.stream.next_in = const_cast<Bytef*>(data);
    z.stream.avail_in = static_cast<uInt>(std::min<std::size_t>(size, UINT32_MAX));
    int rc = Z_OK;
    do {
        z.stream.next_out = reinterpret_cast<Bytef*>(work->data());
        z.stream.avail_out = static_cast<uInt>(work->size());
        rc = inflate(&z.stream, Z_NO_FLUSH);
        const std::size_t produced = work->size() - z.stream.avail_out;
        if (out.size() + produced > kMaxInflatedBytes) {
            return false;
        }
        out.append(work->data(), produced);
    } while (rc == Z_OK);
    return rc == Z_STREAM_END;
}

}  // namespace velk::core::infra::java
