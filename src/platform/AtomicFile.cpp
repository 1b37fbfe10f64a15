#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

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

}  // namespace

void syncFolder(const std::string& folder) {
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.valid()) {
        ::fsync(fd.get());
    }
}

int writeFileAtomically(const std::string& path, std::string_view contents) {
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

int readWholeFile(const std::string& path, std::string& contents) {
    contents.clear();
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return errno;
    }
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            contents.clear();
            return err;
        }
        if (n == 0) {
            return 0;
        }
        contents.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace velk::platform
