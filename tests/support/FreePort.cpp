#include "support/FreePort.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <vector>

namespace velk::test {

namespace {

// Below the usual start of the system's own range, and clear of the
// well-known and commonly configured ports.
constexpr int kLowestPort = 20'000;
constexpr int kAttempts = 400;

struct PortRange {
    int first = 0;
    int last = 0;
};

// The ports the system picks for port 0 and outgoing connections.
PortRange systemRange() {
    PortRange range{32'768, 60'999};
    std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
    int first = 0;
    int last = 0;
    if (in >> first >> last && first > 0 && first <= last && last <= 65'535) {
        range = {first, last};
    }
    return range;
}

// One descriptor, closed when the process ends.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor& operator=(Descriptor&&) = delete;

    int get() const { return fd_; }

private:
    int fd_;
};

// A claim on the port among the tests of this machine: a name in the
// abstract socket namespace, which the kernel frees when the process ends,
// however it ends.
bool claim(int port, std::vector<Descriptor>& claims) {
    Descriptor fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        return false;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const int length =
        std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1, "velk-test-port-%d", port);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), size) != 0) {
        return false;
    }
    claims.push_back(std::move(fd));
    return true;
}

// Nothing listens on the port or holds it in any state that would refuse a
// bind now.
bool bindable(int port) {
    const Descriptor fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return ::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

}  // namespace

int freePort() {
    static std::mutex mutex;
    static std::vector<Descriptor> claims;
    static std::mt19937 random{std::random_device{}()};
    std::lock_guard lock(mutex);

    const PortRange system = systemRange();
    // Below the system's range when there is room, else above it.
    const PortRange ours = system.first - 1 - kLowestPort >= 1'000 ? PortRange{kLowestPort, system.first - 1}
                                                                   : PortRange{system.last + 1, 65'535};
    if (ours.first > ours.last) {
        return 0;
    }
    std::uniform_int_distribution<int> pick(ours.first, ours.last);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int port = pick(random);
        if (claim(port, claims)) {
            if (bindable(port)) {
                return port;
            }
            claims.pop_back();  // someone else's port: the claim goes, the port stays theirs
        }
    }
    return 0;
}

}  // namespace velk::test
