#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/UniqueFd.h"

namespace velk::agent {

// A downloaded package written to disk as it arrives, never held whole: the
// pieces go to a hidden file beside the target, which takes the target's
// name only when the whole package has come and passed the checks. Anything
// short of that leaves no file behind; a partial file that outlives a killed
// process is removed by the next download (removeLeftOvers).
//
// The folder may be shared with other users: every file is created anew and
// exclusively, and a name already taken, by a file or a link of whoever
// made it, is never written through or replaced; the package then gets the
// target's name with a random part before its extension (path()).
class PackageFile {
public:
    enum class Problem {
        None,
        TooLarge,     // more bytes than the limit
        NotDebian,    // no Debian package: another archive, a page, a script
        OutOfSpace,   // the disk or the user's quota is full
        WriteFailed,  // another error of the file system; see error()
    };

    // The signature of an ar archive and the name of a Debian package's
    // first member, which dpkg requires.
    static constexpr std::string_view kArchiveMagic = "!<arch>\n";
    static constexpr std::string_view kFirstMember = "debian-binary";
    // Archive magic and the 16-byte name field of the first member header.
    static constexpr std::size_t kHeadBytes = 24;

    PackageFile(std::string target, std::int64_t maxBytes);
    ~PackageFile();
    PackageFile(const PackageFile&) = delete;
    PackageFile& operator=(const PackageFile&) = delete;

    // Whether the first kHeadBytes bytes of a file are those of a Debian
    // package: the ar signature, then the member name "debian-binary" padded
    // with blanks, as dpkg writes it, or ended by '/', as GNU ar does.
    static bool isDebianPackageHead(std::string_view head);

    // Creates the hidden file. False when it cannot be made (see error()).
    bool open();
    // Writes one piece. False stops the download: problem() says why.
    bool append(std::string_view piece);
    // Flushes the whole download to disk and gives it the target's name,
    // or another one when that is taken. False when it falls short of a
    // package or cannot be kept.
    bool commit();

    // Where the package is: the target, or the name it got instead once
    // committed.
    const std::string& path() const { return target_; }

    // Removes the partial files that downloads into the folder left behind
    // when their process was killed: regular files of this user named as a
    // partial file of a target that isTarget accepts, which no running
    // download holds. Anything else in the folder stays. Returns how many
    // were removed.
    static int removeLeftOvers(const std::string& folder,
                               const std::function<bool(std::string_view targetName)>& isTarget);

    Problem problem() const { return problem_; }
    // errno of the failed file operation; 0 when none failed.
    int error() const { return error_; }
    std::int64_t size() const { return size_; }

private:
    bool fail(Problem problem, int error = 0);
    bool publish();
    void discard();

    std::string target_;
    std::string partial_;
    std::int64_t maxBytes_;
    std::int64_t size_ = 0;
    std::string head_;
    platform::UniqueFd fd_;
    Problem problem_ = Problem::None;
    int error_ = 0;
    bool kept_ = false;
};

}  // namespace velk::agent
