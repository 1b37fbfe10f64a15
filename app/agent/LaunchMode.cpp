#include "agent/LaunchMode.h"

#include <algorithm>
#include <string_view>

#include "common/TextUtils.h"

namespace velk::agent {

namespace {

constexpr std::string_view kScheme = "vezorodar:";

}  // namespace

bool isSchemeLink(const std::string& arg) {
    return arg.size() >= kScheme.size() &&
           core::iequalsAscii(std::string_view(arg).substr(0, kScheme.size()), kScheme);
}

bool shouldAskForWindow(const std::vector<std::string>& args) {
    return std::none_of(args.begin(), args.end(), isSchemeLink) &&
           std::find(args.begin(), args.end(), "--silent") == args.end();
}

LaunchMode chooseLaunchMode(const std::vector<std::string>& args, bool hasSenders) {
    // A link of the scheme in any form starts a protocol launch, as it never
    // asks a running agent for its window.
    const bool protocol = std::any_of(args.begin(), args.end(), isSchemeLink);
    const bool show = std::find(args.begin(), args.end(), "--show") != args.end();
    if (show && !protocol) {
        return LaunchMode::ShowWindow;
    }
    if (protocol) {
        return LaunchMode::SilentViaProtocol;
    }
    return hasSenders ? LaunchMode::SilentTrayOnly : LaunchMode::FirstRun;
}

}  // namespace velk::agent
