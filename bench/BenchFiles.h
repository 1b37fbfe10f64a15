#pragma once

#include <filesystem>
#include <string>

namespace velk::bench {

// A fresh folder under the system's temporary folder, removed with its
// content when the object goes.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& prefix);
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

void writeFile(const std::filesystem::path& path, const std::string& bytes);

// Seconds of the wall clock a call takes, the best of rounds calls.
template <typename F>
double bestSeconds(int rounds, F&& call);

}  // namespace velk::bench

#include <algorithm>
#include <chrono>
#include <limits>

template <typename F>
double velk::bench::bestSeconds(int rounds, F&& call) {
    double best = std::numeric_limits<double>::max();
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        call();
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}
