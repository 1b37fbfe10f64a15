#include "platform/RegularFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/SecureWipe.h"

namespace velk::platform {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;

// 0, EFBIG, or why the file could not be opened or read. bytes is filled only
// on 0; everything read before a failure is wiped.
template <typename Bytes>
int readWhole(const std::filesystem::path& path, Bytes& bytes, std::uint64_t maxBytes) {
    RegularFile file(path);
    if (!file.isOpen()) {
        return file.error();
    }
    if (file.size() > maxBytes) {
        return EFBIG;
    }
    Bytes read;
    read.reserve(static_cast<std::size_t>(file.size()));
    std::string chunk(kChunkBytes, '\0');
    int error = 0;
    for (;;) {
        const std::optional<std::size_t> got = file.read(chunk.data(), chunk.size());
        if (!got) {
            error = errno != 0 ? errno : EIO;
            break;
        }
        if (*got == 0) {
            break;
        }
        // A file that grows while it is read is held to the bound too.
        if (read.size() + *got > maxBytes) {
            error = EFBIG;
            break;
        }
        read.insert(read.end(), chunk.data(), chunk.data() + *got);
    }
    secureWipe(chunk);  // may hold the tail of a secret
    if (error != 0) {
        secureWipe(read);
        return error;
    }
    bytes = std::move(read);
    return 0;
}

WholeFileStatus statusOf(int error) {
    if (error == 0) {
        return WholeFileStatus::Read;
    }
    return error == EFBIG ? WholeFileStatus::TooLarge : WholeFileStatus::Unreadable;
}

}  // namespace

RegularFile::RegularFile(const std::filesystem::path& path) {
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd.valid()) {
        error_ = errno;
        // A socket refuses the open itself (ENXIO), a device may too: either
        // is told apart from a missing or forbidden file.
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
            error_ = kNotRegularFileError;
        }
        return;
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) {
        error_ = errno;
        return;
    }
    if (!S_ISREG(info.st_mode)) {
        error_ = S_ISDIR(info.st_mode) ? EISDIR : kNotRegularFileError;
        return;
    }
    // Reads of a regular file never wait anyway; blocking mode keeps it so
    // on file systems that would honour the flag.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        error_ = errno;
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

std::string fileErrorText(int error) {
    if (error == kNotRegularFileError) {
        return "not a regular file";
    }
    return std::generic_category().message(error);
}

WholeFileStatus readWholeRegularFile(const std::filesystem::path& path, std::string& bytes,
                                     std::uint64_t maxBytes) {
    return statusOf(readWhole(path, bytes, maxBytes));
}

WholeFileStatus readWholeRegularFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes,
                                     std::uint64_t maxBytes) {
    return statusOf(readWhole(path, bytes, maxBytes));
}

int readWholeRegularFileOrError(const std::filesystem::path& path, std::string& bytes,
                                std::uint64_t maxBytes) {
    return readWhole(path, bytes, maxBytes);
}

}  // namespace velk::platform
