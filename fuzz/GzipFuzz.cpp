// gzip of the upload bodies: what is compressed inflates back to the same
// bytes (with zlib's own gzip reader and with the agent's raw inflater), the
// header carries no time or platform, and equal input gives equal output.
// The agent's inflater also reads the input itself as a deflate stream.

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "infrastructure/http/Gzip.h"
#include "infrastructure/java/ZipEntryReader.h"

namespace {

// zlib's gzip reader; false unless the stream is one whole gzip member.
bool gunzip(const std::vector<std::uint8_t>& in, std::string& out) {
    z_stream zs{};
    if (inflateInit2(&zs, 15 + 16) != Z_OK) {
        return false;
    }
    zs.next_in = const_cast<Bytef*>(in.data());
    zs.avail_in = static_cast<uInt>(in.size());
    int rc = Z_OK;
    char buffer[16384];
    while (rc == Z_OK) {
        zs.next_out = reinterpret_cast<Bytef*>(buffer);
        zs.avail_out = sizeof buffer;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - zs.avail_out);
        if (rc == Z_BUF_ERROR && zs.avail_in == 0) {
            break;
        }
    }
    const bool whole = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return whole;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace velk::core::infra;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    VELK_FUZZ_NO_THROW({
        const std::vector<std::uint8_t> packed = http::gzipCompress(data, size);
        VELK_FUZZ_CHECK(packed.size() >= 18);
        // Magic, deflate, no flags; time, extra flags and OS zeroed.
        VELK_FUZZ_CHECK(packed[0] == 0x1f && packed[1] == 0x8b && packed[2] == 8 && packed[3] == 0);
        for (std::size_t i = 4; i < 10; ++i) {
            VELK_FUZZ_CHECK(packed[i] == 0);
        }
        VELK_FUZZ_CHECK(http::gzipCompress(data, size) == packed);

        std::string unpacked;
        VELK_FUZZ_CHECK(gunzip(packed, unpacked));
        VELK_FUZZ_CHECK(unpacked == bytes);

        // The deflate stream between the 10-byte header and the 8-byte trailer.
        std::string inflated;
        VELK_FUZZ_CHECK(java::inflateRaw(packed.data() + 10, packed.size() - 18, size, inflated));
        VELK_FUZZ_CHECK(inflated == bytes);

        // Any bytes as a deflate stream: an answer, never more than the bound.
        std::string any;
        const bool ended = java::inflateRaw(data, size, size * 4, any);
        VELK_FUZZ_CHECK(any.size() <= java::kMaxInflatedBytes);
        (void)ended;
    });
    return 0;
}
