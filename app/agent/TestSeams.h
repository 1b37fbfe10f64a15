#pragma once

#include <cstdint>
#include <string>

namespace velk::agent {

inline constexpr std::uint16_t kDefaultApiPort = 5123;

// The local API's port: VELK_TEST_PORT when it is set and not empty, else
// 5123. The single-instance name follows the port.
struct ApiPortChoice {
    std::uint16_t port = kDefaultApiPort;
    bool fromTestSeam = false;
    // False when VELK_TEST_PORT holds anything but a number from 1 to 65535.
    bool valid = true;
    std::string rawValue;  // VELK_TEST_PORT as given
};

// Reads the environment only; writes nothing (the log is not open yet).
ApiPortChoice apiPortFromEnvironment();

// One WARN line for each test seam in use (VELK_TEST_PORT, VELK_TEST_CONNECT_TO,
// VELK_TEST_CA_FILE), so that a log shows at once that the agent did not run
// as in production.
void logTestSeams(const ApiPortChoice& port);

}  // namespace velk::agent
