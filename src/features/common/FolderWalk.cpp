#include "features/common/FolderWalk.h"

#include <system_error>

#include "common/TextUtils.h"

namespace velk::core::features {

namespace fs = std::filesystem;

namespace {

// The message the throwing form of the walk would have carried.
std::string walkErrorText(const char* what, const std::error_code& ec) {
    return toValidUtf8(fs::filesystem_error(what, ec).what());
}

}  // namespace

std::string walkFolder(const fs::path& root, bool recursive, const FolderVisitor& visit) {
    std::error_code ec;
    const auto options = fs::directory_options::skip_permission_denied;
    if (recursive) {
        fs::recursive_directory_iterator it(root, options, ec);
        const char* step = "cannot open directory";
        for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            step = "cannot increment recursive directory iterator";
            if (!visit(*it)) {
                it.disable_recursion_pending();
            }
        }
        return ec ? walkErrorText(step, ec) : std::string();
    }
    fs::directory_iterator it(root, options, ec);
    const char* step = "cannot open directory";
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        step = "cannot increment directory iterator";
        visit(*it);
    }
    return ec ? walkErrorText(step, ec) : std::string();
}

}  // namespace velk::core::features
