#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/AgentVersion.h"
#include "operations/OperationRegistry.h"
#include "support/FileText.h"
#include "support/TempDir.h"

namespace velk::agent {
namespace {

using nlohmann::json;
using test::readFileText;
using ::testing::HasSubstr;

struct Outcome {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// Runs the built agent as a desktop-less build step would: no display, no Qt
// platform, a home of its own; standard output and error land in files.
Outcome runAgent(const std::vector<std::string>& args) {
    const test::TempDir dir;
    const std::string outPath = dir.sub("stdout");
    const std::string errPath = dir.sub("stderr");
    const pid_t pid = fork();
    if (pid == 0) {
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
            unsetenv(name);
        }
        setenv("HOME", dir.str().c_str(), 1);
        setenv("XDG_DATA_HOME", dir.sub("data").c_str(), 1);
        setenv("XDG_CONFIG_HOME", dir.sub("config").c_str(), 1);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, STDOUT_FILENO) < 0 || dup2(err, STDERR_FILENO) < 0) {
            _exit(127);
        }
        std::vector<char*> argv;
        std::string program = VELK_AGENT_EXE;
        argv.push_back(program.data());
        std::vector<std::string> copies = args;
        for (auto& arg : copies) {
            argv.push_back(arg.data());
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    Outcome outcome;
    int status = 0;
    pid_t waited = -1;
    do {
        waited = pid > 0 ? waitpid(pid, &status, 0) : -1;
    } while (waited < 0 && errno == EINTR);
    if (waited == pid) {
        // A signal shows as its negative number, so a crash is told apart from an exit code.
        outcome.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
    outcome.out = readFileText(outPath);
    outcome.err = readFileText(errPath);
    return outcome;
}

void collectRefs(const json& value, std::vector<std::string>& refs) {
    if (value.is_object()) {
        for (const auto& [key, member] : value.items()) {
            if (key == "$ref" && member.is_string()) {
                refs.push_back(member.get<std::string>());
            } else {
                collectRefs(member, refs);
            }
        }
    } else if (value.is_array()) {
        for (const auto& element : value) {
            collectRefs(element, refs);
        }
    }
}

TEST(AgentExecutable, ExportsOnePathPerOperationWithoutADisplay) {
    const Outcome run = runAgent({"--export-schema"});
    ASSERT_EQ(run.exitCode, 0) << run.err;

    // Standard output is the document alone; the registrations' log lines went to standard error.
    const json document = json::parse(run.out);
    EXPECT_EQ(run.out, document.dump(2) + "\n");
    EXPECT_THAT(run.err, HasSubstr("OperationRegistry: registered"));

    EXPECT_EQ(document["openapi"], "3.0.3");
    EXPECT_EQ(document["info"]["version"], core::versionString());
    EXPECT_EQ(document["servers"][0]["url"], "http://127.0.0.1:5123");

    const auto descriptors = core::operations::OperationRegistry::instance().list();
    ASSERT_EQ(descriptors.size(), 29u);
    const json& paths = document["paths"];
    ASSERT_EQ(paths.size(), 29u);
    std::set<std::string> tagNames;
    for (const auto& tag : document["tags"]) {
        EXPECT_TRUE(tagNames.insert(tag["name"].get<std::string>()).second) << tag.dump();
        EXPECT_FALSE(tag["name"].get<std::string>().empty());
    }
    for (const auto& descriptor : descriptors) {
        const std::string path = "/api/v1/operations/" + descriptor.typeId;
        ASSERT_TRUE(paths.contains(path)) << path;
        const json& post = paths[path]["post"];
        EXPECT_EQ(paths[path].size(), 1u) << path;
        EXPECT_EQ(post["operationId"], descriptor.typeId);
        EXPECT_EQ(post["summary"], descriptor.displayName);
        EXPECT_EQ(post["requestBody"]["required"], true) << path;
        EXPECT_EQ(post["responses"].size(), 4u) << path;
        for (const char* code : {"200", "401", "426", "502"}) {
            EXPECT_TRUE(post["responses"].contains(code)) << path << " " << code;
        }
        EXPECT_EQ(post.contains("security"), descriptor.requiresSubmissionToken) << path;
        EXPECT_EQ(post["tags"], json({descriptor.featureGroupId})) << path;
        EXPECT_TRUE(descriptor.featureGroupId.empty() || tagNames.count(descriptor.featureGroupId) == 1)
            << path;
    }

    // Every reference points at a component of the document.
    std::vector<std::string> refs;
    collectRefs(document, refs);
    EXPECT_FALSE(refs.empty());
    const json& schemas = document["components"]["schemas"];
    const std::string prefix = "#/components/schemas/";
    for (const auto& ref : refs) {
        ASSERT_EQ(ref.rfind(prefix, 0), 0u) << ref;
        EXPECT_TRUE(schemas.contains(ref.substr(prefix.size()))) << ref;
    }
    EXPECT_TRUE(document["components"]["securitySchemes"].contains("BearerAuth"));
}

TEST(AgentExecutable, IgnoresEveryOtherArgumentWhenExporting) {
    const Outcome plain = runAgent({"--export-schema"});
    const Outcome mixed = runAgent({"--show", "vezorodar://open?x=1", "--export-schema", "--silent"});
    EXPECT_EQ(mixed.exitCode, 0) << mixed.err;
    EXPECT_EQ(mixed.out, plain.out);
}

}  // namespace
}  // namespace velk::agent
