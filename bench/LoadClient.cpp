#include "LoadClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <string_view>
#include <thread>
#include <vector>

namespace velk::bench {

namespace {

using Clock = std::chrono::steady_clock;

class Connection {
public:
    explicit Connection(int port) : port_(port) {}
    ~Connection() { close(); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    bool open() {
        close();
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        if (fd_ < 0) {
            return false;
        }
        const int one = 1;
        ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port_));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        buffer_.clear();
        return ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }

    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    bool isOpen() const { return fd_ >= 0; }

    bool send(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n <= 0) {
                return false;
            }
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    // One answer: its status, and whether the server will close.
    bool readAnswer(int& status, bool& closing) {
        std::size_t headEnd;
        while ((headEnd = buffer_.find("\r\n\r\n")) == std::string::npos) {
            if (!fill()) {
                return false;
            }
        }
        std::string head = buffer_.substr(0, headEnd);
        std::transform(head.begin(), head.end(), head.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        status = head.size() > 12 ? std::atoi(head.c_str() + 9) : 0;
        closing = head.find("\r\nconnection: close") != std::string::npos;
        std::size_t length = 0;
        if (const auto at = head.find("\r\ncontent-length:"); at != std::string::npos) {
            length = std::strtoull(head.c_str() + at + 17, nullptr, 10);
        }
        const std::size_t total = headEnd + 4 + length;
        while (buffer_.size() < total) {
            if (!fill()) {
                return false;
            }
        }
        buffer_.erase(0, total);
        return true;
    }

private:
    bool fill() {
        char chunk[65536];
        const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
        if (n <= 0) {
            return false;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
        return true;
    }

    int port_;
    int fd_ = -1;
    std::string buffer_;
};

}  // namespace

LoadClient::LoadClient(int port, std::string request) : port_(port), request_(std::move(request)) {}

std::string LoadClient::getRequest(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n\r\n";
}

std::string LoadClient::postRequest(const std::string& path, const std::string& body,
                                    const std::string& extraHeaders) {
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: */*\r\n" + extraHeaders +
           "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
           body;
}

LoadResult LoadClient::run(int connections, std::chrono::milliseconds duration) const {
    std::atomic<std::int64_t> answers{0};
    std::atomic<std::int64_t> failures{0};
    std::atomic<bool> go{false};
    Clock::time_point end;
    std::vector<std::thread> threads;
    for (int i = 0; i < connections; ++i) {
        threads.emplace_back([&] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            Connection connection(port_);
            std::int64_t mine = 0;
            std::int64_t failed = 0;
            while (Clock::now() < end) {
                if (!connection.isOpen() && !connection.open()) {
                    ++failed;
                    connection.close();
                    continue;
                }
                int status = 0;
                bool closing = false;
                if (!connection.send(request_) || !connection.readAnswer(status, closing)) {
                    ++failed;
                    connection.close();
                    continue;
                }
                status == 200 ? ++mine : ++failed;
                if (closing) {
                    connection.close();
                }
            }
            answers += mine;
            failures += failed;
        });
    }
    const auto start = Clock::now();
    end = start + duration;
    go = true;
    for (auto& thread : threads) {
        thread.join();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return LoadResult{static_cast<double>(answers.load()) / seconds, answers.load(), failures.load()};
}

}  // namespace velk::bench
