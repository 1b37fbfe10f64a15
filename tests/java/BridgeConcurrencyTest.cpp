// Requests that reach the one bridge at once, the two reading threads of a
// filing, and the runs that another thread ends (a time limit, shut-down):
// run under ThreadSanitizer.
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "infrastructure/java/JavaDiscovery.h"
#include "infrastructure/java/JavaProbes.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "java/ChildScripts.h"
#include "java/FakeJavaHome.h"
#include "java/RecordingSigner.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::core::infra::java {
namespace {

using test::FakeJavaHome;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kBusy =
    "В момента се изпълнява друга операция с Java (валидация или подаване на ДДС). Опитайте отново, когато "
    "тя приключи.";
constexpr const char* kClosing = "Агентът се затваря; операцията с Java не беше стартирана.";

// Polls the condition until it holds or the deadline passes.
bool eventually(const std::function<bool()>& condition) {
    const auto end = std::chrono::steady_clock::now() + test::kChildDeadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

std::vector<std::string> linesOf(const std::string& path) {
    return FakeJavaHome::readLines(path);
}

void touch(const std::string& path) {
    const std::ofstream file(path);
}

// What children of the fake Java home left running: their processes carry
// the home's JAVA_HOME in their environment, whatever their group.
std::vector<pid_t> leftOverChildren() {
    return test::liveProcessesWithEnvironment(std::string("JAVA_HOME=") + std::getenv("JAVA_HOME"));
}

int leftOverCount() {
    return static_cast<int>(leftOverChildren().size());
}

// Whether the run ends in time; when it does not, its children are killed,
// so the test fails instead of waiting for ever.
template <typename T>
bool endsInTime(std::future<T>& run) {
    if (run.wait_for(test::kChildDeadline) == std::future_status::ready) {
        return true;
    }
    for (const pid_t pid : leftOverChildren()) {
        ::kill(pid, SIGKILL);
    }
    return false;
}

// A child that notes its start and then waits for the test to let it go: a
// file that appears ("go" in the shared folder), or never.
std::string heldScenario(const std::string& shared, const std::string& name) {
    return "echo \"start " + name + "\" >> '" + shared + "/order'\n" + "while [ ! -e '" + shared +
           "/go' ]; do sleep 0.02; done\n" + "echo \"end " + name + "\" >> '" + shared + "/order'\n" +
           "echo \"error of $dir\"; exit 1\n";
}

TEST(BridgeConcurrencyTest, ValidationsAtOnceTakeTurnsAndKeepTheirVerdicts) {
    FakeJavaHome home;
    const std::string shared = home.folder("shared", "");
    std::atomic<int> waiting{0};
    ZezizUrBridgeOptions options;
    options.onWaitForTurn = [&] { ++waiting; };
    ZezizUrBridge bridge(options);
    constexpr int kRuns = 4;
    std::vector<std::string> folders;
    for (int i = 0; i < kRuns; ++i) {
        folders.push_back(home.folder("vat" + std::to_string(i), heldScenario(shared, std::to_string(i))));
    }
    // Whatever happens below, no child is left waiting for the go.
    struct Release {
        std::string go;
        ~Release() { touch(go); }
    } release{shared + "/go"};

    std::vector<std::vector<std::string>> verdicts(kRuns);
    std::vector<std::thread> threads;
    threads.emplace_back([&] { verdicts[0] = bridge.validate(folders[0], {}); });
    ASSERT_TRUE(eventually([&] { return !linesOf(shared + "/order").empty(); }))
        << "the first child never ran";
    for (int i = 1; i < kRuns; ++i) {
        threads.emplace_back([&, i] { verdicts[i] = bridge.validate(folders[i], {}); });
    }
    threads.emplace_back(
        [&] { bridge.setFetcher([](const std::string&) { return std::vector<std::uint8_t>(); }); });
    // The other runs wait for their turn while the first child is held; none
    // starts a child of its own meanwhile.
    const bool settled =
        eventually([&] { return waiting == kRuns - 1 || linesOf(shared + "/order").size() > 1; });
    EXPECT_TRUE(settled) << "the other validations neither waited nor ran";
    EXPECT_EQ(waiting, kRuns - 1);
    EXPECT_THAT(linesOf(shared + "/order"), ElementsAre("start 0"));

    touch(shared + "/go");
    for (std::thread& thread : threads) {
        thread.join();
    }
    // Each run ended before the next one started.
    const std::vector<std::string> order = linesOf(shared + "/order");
    ASSERT_EQ(order.size(), 2u * kRuns);
    for (std::size_t i = 0; i < order.size(); i += 2) {
        ASSERT_EQ(order[i].rfind("start ", 0), 0u) << order[i];
        EXPECT_EQ(order[i + 1], "end " + order[i].substr(6)) << "runs overlapped";
    }
    for (int i = 0; i < kRuns; ++i) {
        EXPECT_THAT(verdicts[i], ElementsAre("error of " + folders[i]));
    }
}

TEST(BridgeConcurrencyTest, OutputAndProgressOfBothStreamsArriveWhole) {
    FakeJavaHome home;
    ZezizUrBridge bridge;
    test::RecordingSigner signer;
    std::vector<std::string> progress;  // not thread-safe by itself
    const ZezizUrSubmitResult result = bridge.submit(
        home.folder("vat",
                    "i=0; while [ $i -lt 50 ]; do\n"
                    "  echo \"Прогрес: $i\" >&2; echo \"err $i\" >&2\n"
                    "  echo \"SIGN:QUJD\"; IFS= read -r answer; echo \"out $i $answer\"\n"
                    "  i=$((i+1))\n"
                    "done; echo SUCCESS"),
        signer, "7:A107", "", "MIIcert", "", [&](const std::string& text) { progress.push_back(text); });
    EXPECT_TRUE(result.ok) << result.message;
    EXPECT_EQ(signer.requests.size(), 50u);
    EXPECT_THAT(result.output, HasSubstr("out 49 SIGNATURE:c2lnbmVkOkFCQw==\n"));
    EXPECT_THAT(result.output, HasSubstr("err 49\n"));
    EXPECT_EQ(std::count(progress.begin(), progress.end(), "Подписване с електронен подпис…"), 50);
    EXPECT_EQ(std::count(progress.begin(), progress.end(), "49"), 1);
}

TEST(BridgeConcurrencyTest, AValidationPastItsTimeLimitIsEndedWithWhatItStarted) {
    FakeJavaHome home;
    ZezizUrBridgeOptions options;
    options.validationTimeLimit = std::chrono::milliseconds(500);
    ZezizUrBridge bridge(options);
    test::LogCapture log;
    auto verdict = std::async(std::launch::async, [&] {
        return bridge.validate(home.folder("vat", "echo 'checking'; sleep 1000 & sleep 1000 & wait"), {});
    });
    ASSERT_TRUE(endsInTime(verdict)) << "the validation never ended";
    EXPECT_THAT(verdict.get(),
                ElementsAre("Валидацията беше прекратена: Java не завърши в допустимото време. "
                            "Подробности има във VezoRodarC.log."));
    EXPECT_TRUE(test::waitUntilNoneLive(leftOverCount)) << "the child's processes outlived the limit";
    EXPECT_EQ(
        log.count("WARN", "ZezizUR validate: no end after 500 ms; the Java child's process group was ended"),
        1);
}

// A run of either kind holds the bridge: the local API's validation is
// refused at once, a caller that waits is answered at shut-down, and
// shut-down ends the run in progress with its own text.
TEST(BridgeConcurrencyTest, ARunInProgressRefusesTheApiAndShutDownEndsItAndTheWaiting) {
    struct Case {
        std::string holder;
        std::string interrupted;
    };
    const std::vector<Case> cases = {
        {"validation", "Валидацията беше прекъсната, защото агентът се затваря."},
        {"filing",
         "Подаването беше прекъснато, защото агентът се затваря. Проверете в портала на НАП кои документи са "
         "подадени, преди да подадете отново."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.holder);
        FakeJavaHome home;
        std::atomic<int> waiting{0};
        ZezizUrBridgeOptions options;
        options.onWaitForTurn = [&] { ++waiting; };
        ZezizUrBridge bridge(options);
        test::RecordingSigner signer;
        test::LogCapture log;
        const std::string held = home.folder("held", "echo started > \"$dir/started\"; sleep 1000 & wait");
        auto holder = std::async(std::launch::async, [&] {
            if (c.holder == "validation") {
                const std::vector<std::string> errors = bridge.validate(held, {});
                return errors.size() == 1 ? errors.front() : "errors: " + std::to_string(errors.size());
            }
            return bridge.submit(held, signer, "7:A107", "", "MIIcert", "", {}).message;
        });
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(held + "/started"); }))
            << "the held child never ran";

        const std::string other = home.folder("other", "exit 0");
        auto refused = std::async(
            std::launch::async, [&] { return bridge.validate(other, {}, ZezizUrBridge::WhenBusy::Refuse); });
        ASSERT_TRUE(endsInTime(refused)) << "the refusing validation waited for the run in progress";
        EXPECT_THAT(refused.get(), ElementsAre(kBusy));
        auto waiter = std::async(std::launch::async, [&] { return bridge.validate(other, {}); });
        if (!eventually([&] { return waiting == 1; })) {
            endsInTime(holder);
            FAIL() << "the waiting validation never waited";
        }

        bridge.shutDown();
        ASSERT_TRUE(endsInTime(holder)) << "shut-down left the run";
        EXPECT_EQ(holder.get(), c.interrupted);
        ASSERT_TRUE(endsInTime(waiter)) << "shut-down left the waiter";
        EXPECT_THAT(waiter.get(), ElementsAre(kClosing));
        EXPECT_TRUE(test::waitUntilNoneLive(leftOverCount))
            << "the held child's processes outlived shut-down";
        // Nothing starts after shut-down.
        EXPECT_THAT(bridge.validate(other, {}), ElementsAre(kClosing));
        EXPECT_EQ(bridge.submit(other, signer, "7:A107", "", "MIIcert", "", {}).message, kClosing);
        EXPECT_FALSE(bridge.ensureInstalled({}));
        EXPECT_FALSE(std::filesystem::exists(other + "/args.txt"));
        EXPECT_EQ(log.count("WARN", "the agent is shutting down; the Java child was ended"), 1);
        EXPECT_TRUE(signer.requests.empty());
    }
}

// A "-version" probe that never answers, under an installation of the bridge:
// shut-down ends the probe with its process group, and the search with it;
// the caller is told the agent is closing, and no later probe starts.
TEST(BridgeConcurrencyTest, ShutDownEndsAJavaProbeThatNeverAnswersAndTheSearch) {
    FakeJavaHome home(false);
    const test::TempDir silent;
    std::filesystem::create_directories(silent.sub("bin"));
    test::writeStandInJava(silent.sub("bin/java"), "exit 0\n",
                           "sleep 100000 &\necho $$ > '" + silent.sub("started.tmp") + "' && mv '" +
                               silent.sub("started.tmp") + "' '" + silent.sub("started") + "'\nwait\n");
    const test::ScopedEnv javaHome("JAVA_HOME", silent.str());
    JavaProbes probes(std::chrono::hours(24));
    ZezizUrBridgeOptions options;
    options.javaProbes = &probes;
    ZezizUrBridge bridge(options);
    test::LogCapture log;
    auto verdict =
        std::async(std::launch::async, [&] { return bridge.validate(home.folder("vat", "exit 0"), {}); });
    ASSERT_TRUE(eventually([&] { return std::filesystem::exists(silent.sub("started")); }))
        << "the probe never ran";
    const pid_t group = static_cast<pid_t>(std::stol(FakeJavaHome::readLines(silent.sub("started")).at(0)));

    bridge.shutDown();
    probes.endAll();
    if (verdict.wait_for(test::kChildDeadline) != std::future_status::ready) {
        ::kill(-group, SIGKILL);  // so the test fails instead of waiting for ever
        FAIL() << "shut-down left the probe running";
    }
    EXPECT_THAT(verdict.get(), ElementsAre(kClosing));
    EXPECT_TRUE(test::waitUntilGroupGone(group));
    // A probe after shut-down starts nothing.
    test::writeStandInJava(silent.sub("later"), "",
                           "touch '" + silent.sub("later-ran") + "'\n" + test::kStandInJavaVersionReport);
    EXPECT_FALSE(probeJava(silent.sub("later"), probes));
    EXPECT_FALSE(std::filesystem::exists(silent.sub("later-ran")));
    EXPECT_EQ(log.count("INFO", "Java: "), 0);
    EXPECT_EQ(log.count("WARN", "no answer to -version"), 0);
}

}  // namespace
}  // namespace velk::core::infra::java
