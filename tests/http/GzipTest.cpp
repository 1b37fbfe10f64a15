#include "infrastructure/http/Gzip.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <string>

namespace velk::core::infra::http {
namespace {

// Inflates one gzip member; fails the test when it is not one.
std::string gunzip(const std::vector<std::uint8_t>& member) {
    z_stream zs{};
    EXPECT_EQ(inflateInit2(&zs, 15 + 16), Z_OK);
    std::string out(1 << 20, '\0');
    zs.next_in = const_cast<Bytef*>(member.data());
    zs.avail_in = static_cast<uInt>(member.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(inflate(&zs, Z_FINISH), Z_STREAM_END);
    EXPECT_EQ(zs.avail_in, 0u);
    out.resize(zs.total_out);
    inflateEnd(&zs);
    return out;
}

const std::vector<std::uint8_t> kHeader = {0x1F, 0x8B, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

TEST(GzipCompress, RoundTripsWithAFixedHeader) {
    std::string text;
    for (int i = 0; i < 2000; ++i) {
        text += "ред " + std::to_string(i) + "\r\n";
    }
    const auto member = gzipCompress(text.data(), text.size());
    ASSERT_GT(member.size(), 10u);
    EXPECT_LT(member.size(), text.size());
    EXPECT_EQ(std::vector<std::uint8_t>(member.begin(), member.begin() + 10), kHeader);
    EXPECT_EQ(gunzip(member), text);
    // Same input, same bytes.
    EXPECT_EQ(gzipCompress(text.data(), text.size()), member);
}

TEST(GzipCompress, EmptyInputIsAValidMember) {
    const auto member = gzipCompress(nullptr, 0);
    ASSERT_EQ(member.size(), 20u);
    EXPECT_EQ(std::vector<std::uint8_t>(member.begin(), member.begin() + 10), kHeader);
    EXPECT_EQ(gunzip(member), "");
}

}  // namespace
}  // namespace velk::core::infra::http
