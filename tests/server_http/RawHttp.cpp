#include "server_http/RawHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "common/TextUtils.h"

namespace velk::test {

namespace {

class Socket {
public:
    explicit Socket(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            throw std::runtime_error("cannot connect");
        }
    }
    ~Socket() { ::close(fd_); }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    void sendAll(const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                return;  // the server may close early (an answer may still be there)
            }
            sent += static_cast<std::size_t>(n);
        }
    }

    // One answer: its head, then Content-Length bytes (else until the end),
    // so a server keeping the connection open is not waited for.
    std::string readAnswer() {
        std::string data;
        char buffer[4096];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof(buffer), 0)) > 0;) {
            data.append(buffer, static_cast<std::size_t>(n));
            const std::size_t headEnd = data.find("\r\n\r\n");
            if (headEnd == std::string::npos) {
                continue;
            }
            const std::string head = core::asciiLower(data.substr(0, headEnd));
            const std::size_t length = head.find("\r\ncontent-length:");
            if (length != std::string::npos &&
                data.size() >= headEnd + 4 + std::strtoull(head.c_str() + length + 17, nullptr, 10)) {
                break;
            }
        }
        return data;
    }

private:
    int fd_;
};

}  // namespace

RawAnswer rawExchange(int port, const std::string& request) {
    Socket socket(port);
    socket.sendAll(request);
    const std::string data = socket.readAnswer();

    RawAnswer answer;
    const std::size_t headEnd = data.find("\r\n\r\n");
    if (data.size() < 12 || headEnd == std::string::npos) {
        return answer;
    }
    answer.status = std::atoi(data.substr(9, 3).c_str());
    std::size_t lineStart = data.find("\r\n") + 2;
    while (lineStart < headEnd) {
        const std::size_t lineEnd = data.find("\r\n", lineStart);
        const std::string line = data.substr(lineStart, lineEnd - lineStart);
        if (const std::size_t colon = line.find(':'); colon != std::string::npos) {
            answer.headers[core::asciiLower(line.substr(0, colon))] = core::trim(line.substr(colon + 1));
        }
        lineStart = lineEnd + 2;
    }
    answer.body = data.substr(headEnd + 4);
    return answer;
}

}  // namespace velk::test
