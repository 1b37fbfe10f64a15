#include "agent/PackageFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace velk::agent {

namespace {

constexpr std::size_t kNameFieldBytes = 16;

bool isOutOfSpace(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// The hidden name of the file while it is written: ".<name>.part-XXXXXX"
// in the target's folder, so that the rename stays within one file system.
std::string partialPattern(const std::string& target) {
    const std::size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + name + ".part-XXXXXX";
}

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
    if (fd_.close() != 0) {
        const int error = errno;
        return fail(isOutOfSpace(error) ? Problem::OutOfSpace : Problem::WriteFailed, error);
    }
    // rename replaces a link at the target rather than following it.
    if (::rename(partial_.c_str(), target_.c_str()) != 0) {
        return fail(Problem::WriteFailed, errno);
    }
    kept_ = true;
    return true;
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
