#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace velk::bench {

struct LoadResult {
    double requestsPerSecond = 0;
    std::int64_t answers = 0;
    std::int64_t failures = 0;  // answers other than 200, and broken connections
};

// An in-process HTTP/1.1 load client: each connection has its own thread
// that sends one fixed request after the other on a kept-open loopback
// connection with TCP_NODELAY, reading every answer whole (Content-Length)
// before the next request. A connection the server closes (its keep-alive
// limit) is opened again and counts on.
class LoadClient {
public:
    LoadClient(int port, std::string request);

    LoadResult run(int connections, std::chrono::milliseconds duration) const;

    // "GET path" with the headers a browser's fetch would not shrink below.
    static std::string getRequest(const std::string& path);
    static std::string postRequest(const std::string& path, const std::string& body,
                                   const std::string& extraHeaders);

private:
    int port_;
    std::string request_;
};

}  // namespace velk::bench
