#pragma once

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
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

// A socket bound at the path; it stays there when the descriptor goes.
inline std::string makeSocketFile(const std::filesystem::path& path) {
    std::filesystem::create_directories(path.parent_path());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = path.string();
    if (name.size() >= sizeof address.sun_path) {
        throw std::runtime_error("socket path too long: " + name);
    }
    std::memcpy(address.sun_path, name.c_str(), name.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound =
        fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    if (!bound) {
        throw std::runtime_error("cannot bind a socket at " + name);
    }
    return name;
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
