#pragma once

// Shared by the fuzz targets: invariant checks that stop the run with a
// message libFuzzer keeps (the sanitizer's report channel survives
// -close_fd_mask), and small helpers for splitting one input into parts.

#include <sanitizer/common_interface_defs.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace velk::fuzz {

[[noreturn]] inline void fail(const char* file, int line, const char* what) {
    const std::string text =
        std::string("velk-fuzz invariant failed: ") + what + " at " + file + ":" + std::to_string(line);
    std::fprintf(stderr, "%s\n", text.c_str());
    __sanitizer_report_error_summary(text.c_str());
    std::abort();
}

// An exception out of a call whose contract says it never throws.
[[noreturn]] inline void unexpectedException(const char* file, int line, const char* call) {
    std::string what = std::string("exception escaped ") + call;
    try {
        throw;
    } catch (const std::exception& e) {
        what += std::string(": ") + e.what();
    } catch (...) {
        what += ": (not a std::exception)";
    }
    fail(file, line, what.c_str());
}

// Reads an input as a sequence of parts: a byte or two of choice, then
// texts separated by a fixed delimiter.
class InputParts {
public:
    InputParts(const std::uint8_t* data, std::size_t size)
        : rest_(reinterpret_cast<const char*>(data), size) {}

    std::uint8_t byte() {
        if (rest_.empty()) {
            return 0;
        }
        const auto b = static_cast<std::uint8_t>(rest_.front());
        rest_.remove_prefix(1);
        return b;
    }

    // The text up to the next delimiter (which is consumed), else all that is left.
    std::string_view text(std::string_view delimiter = "\n--\n") {
        const std::size_t at = rest_.find(delimiter);
        std::string_view out = rest_.substr(0, at);
        rest_.remove_prefix(at == std::string_view::npos ? rest_.size() : at + delimiter.size());
        return out;
    }

    std::string_view rest() const { return rest_; }
    bool empty() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

}  // namespace velk::fuzz

#define VELK_FUZZ_CHECK(cond) ((cond) ? static_cast<void>(0) : ::velk::fuzz::fail(__FILE__, __LINE__, #cond))

// Runs statements that must not throw.
#define VELK_FUZZ_NO_THROW(...)                                                  \
    do {                                                                         \
        try {                                                                    \
            __VA_ARGS__;                                                         \
        } catch (...) {                                                          \
            ::velk::fuzz::unexpectedException(__FILE__, __LINE__, #__VA_ARGS__); \
        }                                                                        \
    } while (0)
