#include "agent/LaunchMode.h"

#include <algorithm>
#include <string_view>

namespace velk::agent {

namespace {

constexpr std::string_view kSchemePrefix = "vezorodar://";

}  // namespace

bool isProtocolLink(const std::string& arg) {
    return arg.starts_with(kSchemePrefix);
}

bool shouldAskForWindow(const std::vector<std::string>& args) {
    return std::none_of(args.begin(), args.end(), isProtocolLink) &&
           std::find(args.begin(), args.end(), "--silent") == args.end();
}

LaunchMode chooseLaunchMode(const std::vector<std::string>& args, bool hasSenders) {
    const bool protocol = std::any_of(args.begin(), args.end(), isProtocolLink);
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
