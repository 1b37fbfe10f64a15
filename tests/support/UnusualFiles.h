#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace velk::test {

// A named pipe with no writer: whoever opens it for reading and waits, waits
// for ever.
inline std::string makeFifo(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    if (::mkfifo(path.c_str(), 0644) != 0) {
        throw std::runtime_error("mkfifo failed: " + path.string());
    }
    return path.string();
}

// A file of size bytes that begins with head; the rest is a hole, so a file
// past any read bound costs no disk.
inline std::string writeSparseFile(const std::filesystem::path& path, const std::string& head,
                                   std::uintmax_t size) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << head;
    std::filesystem::resize_file(path, size);
    return path.string();
}

}  // namespace velk::test
