#include "infrastructure/http/Gzip.h"

#include <algorithm>
#include <limits>

#include <zlib.h>

namespace velk::core::infra::http {

namespace {

constexpr int kGzipWindowBits = 15 + 16;  // 15 plus the gzip wrapper
constexpr int kMemLevel = 8;

// Ends the stream however the compression ends.
class DeflateStream {
public:
    DeflateStream() = default;
    ~DeflateStream() {
        if (open_) {
            deflateEnd(&stream_);
        }
    }
    DeflateStream(const DeflateStream&) = delete;
    DeflateStream& operator=(const DeflateStream&) = delete;

    bool init() {
        open_ = deflateInit2(&stream_, Z_BEST_COMPRESSION, Z_DEFLATED, kGzipWindowBits, kMemLevel,
                             Z_DEFAULT_STRATEGY) == Z_OK;
        return open_;
    }
    z_stream& get() { return stream_; }

private:
    z_stream stream_{};
    bool open_ = false;
};

}  // namespace

std::vector<std::uint8_t> gzipCompress(const void* data, std::size_t size) {
    // zlib counts input and output in 32 bits; a larger input is refused
    // rather than cut short silently.
    if (size > std::numeric_limits<uInt>::max() / 2) {
        return {};
    }
    DeflateStream deflater;
    if (!deflater.init()) {
        return {};
    }
    z_stream& zs = deflater.get();
    std::vector<std::uint8_t> out(deflateBound(&zs, size) + 16);
    zs.next_in = static_cast<Bytef*>(const_cast<void*>(data));
    zs.avail_in = static_cast<uInt>(size);
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    if (deflate(&zs, Z_FINISH) != Z_STREAM_END) {
        return {};
    }
    out.resize(zs.total_out);
    if (out.size() >= 10) {
        std::fill(out.begin() + 4, out.begin() + 10, std::uint8_t{0});
    }
    return out;
}

}  // namespace velk::core::infra::http
