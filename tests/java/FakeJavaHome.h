#pragma once

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "java/ChildScripts.h"
#include "support/TempDir.h"

namespace velk::test {

// A per-user data folder with the Java client installed (files that only
// need to exist), and JAVA_HOME pointing at a fake "java" that answers
// "-version" as a 64-bit OpenJDK and otherwise reads the DIR line, notes its
// arguments in the folder's args.txt and hands over to the folder's
// scenario.sh, which plays the child's side of the protocol. Unless a test
// serves the portal itself, no download can leave the machine: the portal
// host leads to a closed local port.
class FakeJavaHome {
public:
    // installed: the client's JARs and library are in place already.
    explicit FakeJavaHome(bool installed = true)
        : javaHome_("JAVA_HOME", home_.dir().sub("jdk")),
          connectTo_("VELK_TEST_CONNECT_TO", std::string("portal.nra.bg:443:127.0.0.1:9")) {
        std::filesystem::create_directories(home_.dir().sub("jdk/bin"));
        writeStandInJava(home_.dir().sub("jdk/bin/java"),
                         "IFS= read -r line\n"
                         "export dir=${line#DIR:}\n"
                         "printf '%s\\n' \"$@\" > \"$dir/args.txt\"\n"
                         "echo \"lc=$LC_ALL\" >> \"$dir/args.txt\"\n"
                         "exec /bin/sh \"$dir/scenario.sh\"\n");
        if (!installed) {
            return;
        }
        std::filesystem::create_directories(clientDir() + "/native");
        for (const char* jar : {"VATClientService.jar", "SignerService.jar", "LSManager.jar"}) {
            std::ofstream(clientDir() + "/" + jar) << "jar";
        }
        std::ofstream(clientDir() + "/native/vatclient.dll") << "dll";
    }

    std::string clientDir() const { return home_.dataHome() + "/VEZORodar/ZezizUR"; }

    // A VAT folder whose child plays the script.
    std::string folder(const std::string& name, const std::string& scenario) const {
        const std::string dir = home_.dir().sub(name);
        std::filesystem::create_directories(dir);
        std::ofstream(dir + "/scenario.sh") << scenario;
        return dir;
    }

    static std::vector<std::string> readLines(const std::string& path) {
        std::ifstream in(path);
        std::vector<std::string> out;
        for (std::string line; std::getline(in, line);) {
            out.push_back(line);
        }
        return out;
    }

private:
    IsolatedHome home_;
    ScopedEnv javaHome_;
    ScopedEnv connectTo_;
};

}  // namespace velk::test
