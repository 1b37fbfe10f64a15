#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <utility>
#include <vector>

namespace velk::platform {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

template <typename Bytes>
WholeFileStatus readWhole(const std::filesystem::path& path, Bytes& bytes, std::uint64_t maxBytes) {
    RegularFile file(path);
    if (!file.isOpen()) {
        return WholeFileStatus::Unreadable;
    }
    if (file.size() > maxBytes) {
        return WholeFileStatus::TooLarge;
    }
    Bytes read;
    read.reserve(static_cast<std::size_t>(file.size()));
    std::vector<char> chunk(kChunkBytes);
    for (;;) {
        const std::optional<std::size_t> got = file.read(chunk.data(), chunk.size());
        if (!got) {
            return WholeFileStatus::Unreadable;
        }
        if (*got == 0) {
            break;
        }
        // A file that grows while it is read is held to the bound too.
        if (read.size() + *got > maxBytes) {
            return WholeFileStatus::TooLarge;
        }
        read.insert(read.end(), chunk.data(), chunk.data() + *got);
    }
    bytes = std::move(read);
    return WholeFileStatus::Read;
}

}  // namespace

RegularFile::RegularFile(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        return;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return;
    }
    // Reads of a regular file never wait anyway; blocking mode keeps it so
    // on file systems that would honour the flag.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return;
    }
    size_ = static_cast<std::uint64_t>(info.st_size);
    fd_ = std::move(fd);
}

std::optional<std::size_t> RegularFile::read(char* buffer, std::size_t capacity) {
    if (!fd_.valid()) {
        return std::nullopt;
    }
    for (;;) {
        const ssize_t got = ::read(fd_.get(), buffer, capacity);
        if (got >= 0) {
            return static_cast<std::size_t>(got);
        }
        if (errno != EINTR) {
            return std::nullopt;
        }
    }
}

WholeFileStatus readWholeRegularFile(const std::filesystem::path& path, std::string& bytes,
                                     std::uint64_t maxBytes) {
    return readWhole(path, bytes, maxBytes);
}

WholeFileStatus readWholeRegularFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes,
                                     std::uint64_t maxBytes) {
    return readWhole(path, bytes, maxBytes);
}

}  // namespace velk::platform
