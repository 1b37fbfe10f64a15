#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace velk::core::features {

// Called for every entry of a folder walk; false for a folder the walk must
// not enter.
using FolderVisitor = std::function<bool(const std::filesystem::directory_entry&)>;

// The walk of the folder scans: every entry below root, depth first in the
// file system's order (recursive), or only the root's own entries. Folders
// without access are skipped and links to folders are not entered. Empty
// when the walk went through, else the message of the file-system error that
// ended it early: such a walk has not seen everything and is no finished scan.
std::string walkFolder(const std::filesystem::path& root, bool recursive, const FolderVisitor& visit);

}  // namespace velk::core::features
