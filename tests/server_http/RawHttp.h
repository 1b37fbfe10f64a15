#pragma once

#include <chrono>
#include <map>
#include <string>

namespace velk::test {

// An answer read off the wire: status line, headers (names in lower case) and
// body as they arrived.
struct RawAnswer {
    int status = 0;  // 0: the connection closed (or the wait ended) without an answer
    std::map<std::string, std::string> headers;
    std::string body;

    std::string header(const std::string& lowerCaseName) const;
};

// One TCP connection to 127.0.0.1:port, for requests the HTTP client would
// not send and for holding connections open.
class RawConnection {
public:
    explicit RawConnection(int port);
    ~RawConnection();
    RawConnection(const RawConnection&) = delete;
    RawConnection& operator=(const RawConnection&) = delete;

    // Sends the bytes as given; stops quietly when the server closes.
    void send(const std::string& bytes);
    // Reads one answer: its head, then Content-Length bytes (else until the
    // end), so a server keeping the connection open is not waited for.
    RawAnswer readAnswer();
    // readAnswer gives up after this long without a byte (default: never).
    void setReceiveTimeout(std::chrono::milliseconds timeout);
    // True once the server has closed its end (read to the end of what it
    // sent); false when `deadline` passes first.
    bool waitForClose(std::chrono::milliseconds deadline);
    // True when the server has closed its end (checked now, without waiting).
    bool closedByServer();
    // Ends a send in progress on another thread.
    void shutdown();

private:
    int fd_;
};

// Sends the bytes exactly as given and reads the one answer (the request
// should ask for "Connection: close").
RawAnswer rawExchange(int port, const std::string& request);

// As rawExchange, but reads while the request is still being sent: for a
// server that answers before it has read the whole request.
RawAnswer rawExchangeWhileSending(int port, const std::string& request);

}  // namespace velk::test
