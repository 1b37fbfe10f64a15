#include "server_http/RawHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "common/TextUtils.h"

namespace velk::test {

namespace {

RawAnswer parseAnswer(const std::string& data) {
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

}  // namespace

std::string RawAnswer::header(const std::string& lowerCaseName) const {
    const auto it = headers.find(lowerCaseName);
    return it == headers.end() ? std::string() : it->second;
}

RawConnection::RawConnection(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        throw std::runtime_error("cannot connect");
    }
}

RawConnection::~RawConnection() {
    ::close(fd_);
}

void RawConnection::send(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;  // the server may close early (an answer may still be there)
        }
        sent += static_cast<std::size_t>(n);
    }
}

RawAnswer RawConnection::readAnswer() {
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
    return parseAnswer(data);
}

void RawConnection::setReceiveTimeout(std::chrono::milliseconds timeout) {
    timeval value{};
    value.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>(timeout.count() % 1000 * 1000);
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &value, sizeof(value));
}

bool RawConnection::waitForClose(std::chrono::milliseconds deadline) {
    setReceiveTimeout(deadline);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof(buffer), 0);
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            return false;  // the deadline passed, or the connection failed otherwise
        }
    }
}

bool RawConnection::closedByServer() {
    char byte = 0;
    const ssize_t n = ::recv(fd_, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

void RawConnection::shutdown() {
    ::shutdown(fd_, SHUT_RDWR);
}

RawAnswer rawExchange(int port, const std::string& request) {
    RawConnection connection(port);
    connection.send(request);
    return connection.readAnswer();
}

RawAnswer rawExchangeWhileSending(int port, const std::string& request) {
    RawConnection connection(port);
    std::thread sender([&] { connection.send(request); });
    const RawAnswer answer = connection.readAnswer();
    connection.shutdown();
    sender.join();
    return answer;
}

}  // namespace velk::test
