#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/UniqueFd.h"

namespace velk::platform {

// What is read whole from a file named from outside (a declaration to file, a
// match of a folder scan) stays below this.
inline constexpr std::uint64_t kMaxWholeFileMiB = 256;
inline constexpr std::uint64_t kMaxWholeFileBytes = kMaxWholeFileMiB * 1024 * 1024;

// What RegularFile reports for a path that names a FIFO, a socket or a device.
// No errno value is negative, so it is none of them.
inline constexpr int kNotRegularFileError = -1;

// strerror's text, and "not a regular file" for kNotRegularFileError.
std::string fileErrorText(int error);

// A file named from outside (by the user, a web page, a folder scan) open for
// reading. Only a regular file is opened, links followed: a FIFO, a socket, a
// device or a folder is refused before a byte is read, and the open never
// waits, so a FIFO without a writer cannot hold its caller for ever.
class RegularFile {
public:
    explicit RegularFile(const std::filesystem::path& path);

    bool isOpen() const { return fd_.valid(); }
    // Why it is not open: 0 when it is; ENOENT when nothing is there, EISDIR
    // for a folder, kNotRegularFileError for any other kind of file, else the
    // errno value of the failed call.
    int error() const { return error_; }
    // The size when the file was opened.
    std::uint64_t size() const { return size_; }
    // Up to capacity bytes; 0 at the end; nothing on a read error.
    std::optional<std::size_t> read(char* buffer, std::size_t capacity);

private:
    UniqueFd fd_;
    std::uint64_t size_ = 0;
    int error_ = 0;
};

enum class WholeFileStatus { Read, Unreadable, TooLarge };

// The whole of a regular file into bytes. Unreadable for what RegularFile
// refuses and for a read error; TooLarge for a file of more than maxBytes,
// told by its size before anything is read, or while reading one that grows.
// bytes is filled only on Read.
WholeFileStatus readWholeRegularFile(const std::filesystem::path& path, std::string& bytes,
                                     std::uint64_t maxBytes = kMaxWholeFileBytes);
WholeFileStatus readWholeRegularFile(const std::filesystem::path& path, std::vector<std::uint8_t>& bytes,
                                     std::uint64_t maxBytes = kMaxWholeFileBytes);

// The same read with the reason it failed: 0 when read, EFBIG when too large,
// RegularFile::error for a file it refuses, else the errno value of the read.
// What was read of a file that then failed is wiped, not left in freed memory.
int readWholeRegularFileOrError(const std::filesystem::path& path, std::string& bytes,
                                std::uint64_t maxBytes);

}  // namespace velk::platform
