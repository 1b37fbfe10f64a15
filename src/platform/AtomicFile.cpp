#include "platform/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "platform/SecureWipe.h"
#include "platform/UniqueFd.h"

namespace velk::platform {

namespace {

int writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What writeFileAtomically names its temporary file: the target's name, the
// suffix and the six letters or digits mkostemp puts in place of XXXXXX.
constexpr std::string_view kTemporarySuffix = ".tmp-";
constexpr std::size_t kTemporaryRandomLength = 6;

bool isTemporaryNameOf(std::string_view candidate, std::string_view name) {
    if (candidate.size() != name.size() + kTemporarySuffix.size() + kTemporaryRandomLength ||
        !candidate.starts_with(name) ||
        candidate.substr(name.size(), kTemporarySuffix.size()) != kTemporarySuffix) {
        return false;
    }
    for (const char c : candidate.substr(name.size() + kTemporarySuffix.size())) {
        const bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        if (!alnum) {
            return false;
        }
    }
    return true;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

constexpr int kMaxKeptNames = 1000;

std::string keptName(const std::string& stem, int index) {
    return index == 0 ? stem : stem + "." + std::to_string(index);
}

// A FIFO, a socket or a device at the path, or a link to one: such a file is
// the user's own arrangement, never replaced or moved by the agent.
bool isSpecialFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode);
}

int copyWithoutReplacing(std::string_view contents, const std::string& to) {
    UniqueFd fd(::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return errno;
    }
    int rc = writeAll(fd.get(), contents);
    if (rc == 0 && ::fsync(fd.get()) != 0) {
        rc = errno;
    }
    if (fd.close() != 0 && rc == 0) {
        rc = errno;
    }
    if (rc != 0) {
        ::unlink(to.c_str());
    }
    return rc;
}

}  // namespace

int moveWithoutReplacing(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return 0;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) {
        return errno;
    }
    // A file system without the flag: a hard link is just as exclusive...
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno == EEXIST) {
        return EEXIST;
    }
    // ...and where there is none (a folder, a file system without links),
    // look first; nothing narrower exists there.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        return EEXIST;
    }
    if (errno != ENOENT) {
        return errno;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void syncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        ::fsync(fd.get());
    }
}

int writeFileAtomically(const std::string& path, std::string_view contents) {
    if (isSpecialFile(path)) {
        return kNotRegularFileError;
    }
    std::string tmp = path + ".tmp-XXXXXX";
    UniqueFd fd(::mkostemp(tmp.data(), O_CLOEXEC));
    if (!fd.valid()) {
        return errno;
    }
    int rc = writeAll(fd.get(), contents);
    if (rc == 0 && ::fsync(fd.get()) != 0) {
        rc = errno;
    }
    if (fd.close() != 0 && rc == 0) {
        rc = errno;
    }
    if (rc == 0 && ::rename(tmp.c_str(), path.c_str()) != 0) {
        rc = errno;
    }
    if (rc != 0) {
        ::unlink(tmp.c_str());
        return rc;
    }
    syncFolder(folderOf(path));
    return 0;
}

int removeStaleTemporaryFiles(const std::string& path) {
    const std::string name = nameOf(path);
    if (name.empty()) {
        return 0;
    }
    const std::unique_ptr<DIR, DirCloser> dir(::opendir(folderOf(path).c_str()));
    if (!dir) {
        return 0;
    }
    const int dirFd = ::dirfd(dir.get());
    int removed = 0;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (!isTemporaryNameOf(entry->d_name, name)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            ::unlinkat(dirFd, entry->d_name, 0) == 0) {
            ++removed;
        }
    }
    return removed;
}

int keepUnderFreeName(const std::string& path, const std::string& stem, KeepMode mode, std::string& keptAs) {
    std::string contents;
    ScopedWipe wipeContents(contents);  // settings may hold values typed in clear
    if (mode == KeepMode::Copy) {
        if (const int rc = readWholeFile(path, contents); rc != 0) {
            return rc;
        }
    } else if (isSpecialFile(path)) {
        return kNotRegularFileError;
    }
    for (int index = 0; index < kMaxKeptNames; ++index) {
        const std::string candidate = keptName(stem, index);
        const int rc = mode == KeepMode::Move ? moveWithoutReplacing(path, candidate)
                                              : copyWithoutReplacing(contents, candidate);
        if (rc == EEXIST) {
            continue;
        }
        if (rc == 0) {
            syncFolder(folderOf(candidate));
            keptAs = candidate;
        }
        return rc;
    }
    return EEXIST;
}

int readWholeFile(const std::string& path, std::string& contents, std::uint64_t maxBytes) {
    contents.clear();
    return readWholeRegularFileOrError(path, contents, maxBytes);
}

}  // namespace velk::platform
