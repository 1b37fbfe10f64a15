#include "agent/PackageFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <random>
#include <utility>

#include "platform/AtomicFile.h"

namespace velk::agent {

namespace {

constexpr std::size_t kNameFieldBytes = 16;
constexpr std::string_view kPartialMark = ".part-";
// mkostemp's random part: six letters or digits.
constexpr std::size_t kPartialRandomChars = 6;
constexpr std::size_t kTakenRandomChars = 8;
// Taken names in a row before the folder counts as full of them.
constexpr int kNameAttempts = 16;

bool isOutOfSpace(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// The hidden name of the file while it is written: ".<name>.part-XXXXXX"
// in the target's folder, so that the rename stays within one file system.
std::string partialPattern(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + name + std::string(kPartialMark) + std::string(kPartialRandomChars, 'X');
}

bool isAsciiAlphanumeric(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

std::string randomPart() {
    static constexpr std::string_view kAlphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device source;
    std::uniform_int_distribution<std::size_t> pick(0, kAlphabet.size() - 1);
    std::string part;
    for (std::size_t i = 0; i < kTakenRandomChars; ++i) {
        part += kAlphabet[pick(source)];
    }
    return part;
}

// The target with a random part before the extension of its file name, so
// that the package manager still sees a package file.
std::string withRandomPart(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = target.rfind('.');
    const std::size_t cut = dot == std::string::npos || dot <= nameStart ? target.size() : dot;
    return target.substr(0, cut) + "-" + randomPart() + target.substr(cut);
}

// The target a partial file was written for, when the name is one; empty
// otherwise.
std::string_view partialTarget(std::string_view name) {
    const std::size_t suffix = kPartialMark.size() + kPartialRandomChars;
    if (name.size() <= 1 + suffix || name.front() != '.') {
        return {};
    }
    const std::string_view mark = name.substr(name.size() - suffix, kPartialMark.size());
    const std::string_view random = name.substr(name.size() - kPartialRandomChars);
    for (const char c : random) {
        if (!isAsciiAlphanumeric(c)) {
            return {};
        }
    }
    return mark == kPartialMark ? name.substr(1, name.size() - 1 - suffix) : std::string_view();
}

// Removes the named file when it is a regular file of this user that no
// process holds locked, as a running download does. Links are not followed.
bool removeIfLeftOver(int folderFd, const char* name) {
    struct stat named {};
    if (::fstatat(folderFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode) ||
        named.st_uid != ::geteuid()) {
        return false;
    }
    const platform::UniqueFd fd(
        ::openat(folderFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened {};
    if (!fd.valid() || ::fstat(fd.get(), &opened) != 0 || opened.st_dev != named.st_dev ||
        opened.st_ino != named.st_ino) {
        return false;
    }
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        return false;
    }
    return ::unlinkat(folderFd, name, 0) == 0;
}

struct FolderCloser {
    void operator()(DIR* folder) const { ::closedir(folder); }
};

}  // namespace

PackageFile::PackageFile(std::string target, std::int64_t maxBytes)
    : target_(std::move(target)), maxBytes_(maxBytes) {}

PackageFile::~PackageFile() {
    if (!kept_) {
        discard();
    }
}

bool PackageFile::isDebianPackageHead(std::string_view head) {
    if (head.size() < kHeadBytes || !head.starts_with(kArchiveMagic)) {
        return false;
    }
    std::string_view name = head.substr(kArchiveMagic.size(), kNameFieldBytes);
    while (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
    }
    if (name.ends_with('/')) {
        name.remove_suffix(1);
    }
    return name == kFirstMember;
}

bool PackageFile::open() {
    std::string pattern = partialPattern(target_);
    const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        return fail(Problem::WriteFailed, errno);
    }
    fd_ = platform::UniqueFd(fd);
    partial_ = std::move(pattern);
    // Held until the file is kept or removed: a download that runs is no
    // left-over. Where the file system has no such locks, no file counts as
    // one.
    ::flock(fd_.get(), LOCK_EX | LOCK_NB);
    return true;
}

bool PackageFile::append(std::string_view piece) {
    if (problem_ != Problem::None || !fd_.valid()) {
        return false;
    }
    if (static_cast<std::int64_t>(piece.size()) > maxBytes_ - size_) {
        return fail(Problem::TooLarge);
    }
    if (head_.size() < kHeadBytes) {
        head_.append(piece.substr(0, kHeadBytes - head_.size()));
        if (head_.size() == kHeadBytes && !isDebianPackageHead(head_)) {
            return fail(Problem::NotDebian);
        }
    }
    size_ += static_cast<std::int64_t>(piece.size());
    while (!piece.empty()) {
        const ssize_t n = ::write(fd_.get(), piece.data(), piece.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int error = errno;
            return fail(isOutOfSpace(error) ? Problem::OutOfSpace : Problem::WriteFailed, error);
        }
        piece.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool PackageFile::commit() {
    if (problem_ != Problem::None || !fd_.valid()) {
        return false;
    }
    if (!isDebianPackageHead(head_)) {
        return fail(Problem::NotDebian);
    }
    // The package manager reads it as root and may hand it to its own
    // unprivileged download user; it holds nothing secret.
    if (::fchmod(fd_.get(), 0644) != 0 || ::fsync(fd_.get()) != 0) {
        const int error = errno;
        return fail(isOutOfSpace(error) ? Problem::OutOfSpace : Problem::WriteFailed, error);
    }
    if (!publish()) {
        return false;
    }
    if (fd_.close() != 0) {
        const int error = errno;
        ::unlink(target_.c_str());
        return fail(isOutOfSpace(error) ? Problem::OutOfSpace : Problem::WriteFailed, error);
    }
    kept_ = true;
    return true;
}

bool PackageFile::publish() {
    std::string candidate = target_;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (attempt > 0) {
            candidate = withRandomPart(target_);
        }
        const int error = platform::moveWithoutReplacing(partial_, candidate);
        if (error == 0) {
            target_ = std::move(candidate);
            partial_.clear();
            return true;
        }
        if (error != EEXIST) {
            return fail(Problem::WriteFailed, error);
        }
    }
    return fail(Problem::WriteFailed, EEXIST);
}

int PackageFile::removeLeftOvers(const std::string& folder,
                                 const std::function<bool(std::string_view targetName)>& isTarget) {
    const std::unique_ptr<DIR, FolderCloser> entries(::opendir(folder.c_str()));
    if (!entries) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(entries.get())) {
        const std::string_view target = partialTarget(entry->d_name);
        if (!target.empty() && isTarget(target) && removeIfLeftOver(::dirfd(entries.get()), entry->d_name)) {
            ++removed;
        }
    }
    return removed;
}

bool PackageFile::fail(Problem problem, int error) {
    problem_ = problem;
    error_ = error;
    discard();
    return false;
}

void PackageFile::discard() {
    fd_.reset();
    if (!partial_.empty()) {
        ::unlink(partial_.c_str());
        partial_.clear();
    }
}

}  // namespace velk::agent
