#pragma once

#include <string>
#include <string_view>

namespace velk::platform {

// Replaces a file's contents so that a crash, a kill or a full disk leaves the
// old file or the new one, never part of either: the bytes go to a private
// (0600) temporary file in the same folder, are flushed to disk and renamed
// over the target. Returns 0, or an errno value after removing the temporary
// file; the target is then untouched.
int writeFileAtomically(const std::string& path, std::string_view contents);

// Makes a rename or link in the folder durable. A folder that cannot be
// synced does not undo what already happened, so nothing is reported.
void syncFolder(const std::string& folder);

// Reads a whole file. Returns 0, or an errno value (ENOENT when it is missing).
int readWholeFile(const std::string& path, std::string& contents);

}  // namespace velk::platform
