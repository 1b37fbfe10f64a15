#include "agent/TestSeams.h"

#include <charconv>
#include <cstdlib>
#include <string_view>

#include "common/Logger.h"
#include "common/TextUtils.h"

namespace velk::agent {

namespace {

// The variable's value, or the empty text when it is unset.
std::string_view environmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string_view(value) : std::string_view();
}

void warn(std::string_view name, std::string_view value, std::string_view effect) {
    core::logLine(core::LogLevel::Warn, "VezoRodarC: test seam " + std::string(name) + "=" +
                                            core::escapeControlBytes(value) + " — " + std::string(effect));
}

}  // namespace

ApiPortChoice apiPortFromEnvironment() {
    ApiPortChoice choice;
    const std::string_view text = environmentValue("VELK_TEST_PORT");
    if (text.empty()) {
        return choice;
    }
    choice.fromTestSeam = true;
    choice.rawValue = std::string(text);
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    choice.valid = error == std::errc() && end == text.data() + text.size() && value >= 1 && value <= 65535;
    if (choice.valid) {
        choice.port = static_cast<std::uint16_t>(value);
    }
    return choice;
}

void logTestSeams(const ApiPortChoice& port) {
    if (port.fromTestSeam) {
        warn("VELK_TEST_PORT", port.rawValue, "local API on this port in place of 5123");
    }
    if (const auto connectTo = environmentValue("VELK_TEST_CONNECT_TO"); !connectTo.empty()) {
        warn("VELK_TEST_CONNECT_TO", connectTo, "outgoing connections redirected");
    }
    if (const auto caFile = environmentValue("VELK_TEST_CA_FILE"); !caFile.empty()) {
        warn("VELK_TEST_CA_FILE", caFile, "TLS trusts this CA file in place of the system's");
    }
}

}  // namespace velk::agent
