#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/RegularFile.h"

namespace velk::platform {

// Replaces a file's contents so that a crash, a kill or a full disk leaves the
// old file or the new one, never part of either: the bytes go to a private
// (0600) temporary file in the same folder, are flushed to disk and renamed
// over the target. A target that is a FIFO, a socket or a device (a link to
// one too) is never replaced: kNotRegularFileError. Returns 0, or an errno
// value after removing the temporary file; the target is then untouched.
int writeFileAtomically(const std::string& path, std::string_view contents);

// Gives what is at from the name to, never replacing anything already there:
// 0, or an errno value (EEXIST when to is taken, by a file or a link).
int moveWithoutReplacing(const std::string& from, const std::string& to);

// Makes a rename or link in the folder durable. A folder that cannot be
// synced does not undo what already happened, so nothing is reported.
void syncFolder(const std::string& folder);

// The per-user files read whole here (settings, remembered PINs, the desktop's
// lists) are small: a larger one is not one of them.
inline constexpr std::uint64_t kMaxSmallFileBytes = 4 * 1024 * 1024;

// Reads a whole regular file of at most maxBytes, as readWholeRegularFile does,
// so it never waits on a FIFO. Returns 0, or an errno value: ENOENT when it is
// missing, EISDIR for a folder, EFBIG when it is larger than maxBytes, or
// kNotRegularFileError for any other kind of file. contents is empty then.
int readWholeFile(const std::string& path, std::string& contents,
                  std::uint64_t maxBytes = kMaxSmallFileBytes);

// Removes what interrupted writeFileAtomically(path, ...) calls left beside the
// file: regular files named exactly "<name>.tmp-" and six letters or digits.
// Nothing else is touched. A crash leaves such a copy behind, and it may hold
// what the user has since deleted. Call it only while no write of that file is
// under way. Returns how many were removed.
int removeStaleTemporaryFiles(const std::string& path);

enum class KeepMode { Move, Copy };

// Keeps what is at path under the first free name of stem, stem.1, stem.2 ...
// and never replaces an existing file. Move renames it there (a folder too);
// Copy writes a private (0600) copy of a file and leaves the file in place.
// A FIFO, a socket or a device stays where it is: kNotRegularFileError.
// Returns 0 with the name chosen in keptAs, or an errno value (EEXIST when
// every name is taken).
int keepUnderFreeName(const std::string& path, const std::string& stem, KeepMode mode, std::string& keptAs);

}  // namespace velk::platform
