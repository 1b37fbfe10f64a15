#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "support/FreePort.h"

namespace velk::test {
namespace {

// The ports the system hands out for port 0 and outgoing connections: a
// server or client of a test running beside may take any of them at any time.
std::pair<int, int> systemRange() {
    std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
    int first = 32'768;
    int last = 60'999;
    in >> first >> last;
    return {first, last};
}

bool bindableNow(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

TEST(FreePortTest, PortsLieOutsideTheSystemsOwnRangeAndAreNeverHandedOutTwice) {
    const auto [first, last] = systemRange();
    std::set<int> seen;
    for (int i = 0; i < 50; ++i) {
        const int port = freePort();
        ASSERT_GT(port, 1023);
        EXPECT_TRUE(port < first || port > last) << port << " is in " << first << "-" << last;
        EXPECT_TRUE(seen.insert(port).second) << port << " handed out twice";
        EXPECT_TRUE(bindableNow(port)) << port;
    }
}

}  // namespace
}  // namespace velk::test
