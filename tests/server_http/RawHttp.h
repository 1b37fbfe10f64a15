#pragma once

#include <map>
#include <string>

namespace velk::test {

// An answer read off the wire: status line, headers (names in lower case) and
// body as they arrived.
struct RawAnswer {
    int status = 0;  // 0: the connection closed without an answer
    std::map<std::string, std::string> headers;
    std::string body;
};

// Sends the bytes exactly as given to 127.0.0.1:port and reads the one answer
// (the request should ask for "Connection: close").
RawAnswer rawExchange(int port, const std::string& request);

}  // namespace velk::test
