// Requests that reach the one bridge at once, and the two reading threads of
// a filing: run under ThreadSanitizer.
#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "infrastructure/java/ZezizUrBridge.h"
#include "java/FakeJavaHome.h"
#include "java/RecordingSigner.h"

namespace velk::core::infra::java {
namespace {

using test::FakeJavaHome;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

TEST(BridgeConcurrencyTest, ValidationsAtOnceTakeTurnsAndKeepTheirVerdicts) {
    FakeJavaHome home;
    ZezizUrBridge bridge;
    constexpr int kRuns = 4;
    std::vector<std::string> folders;
    for (int i = 0; i < kRuns; ++i) {
        folders.push_back(home.folder("vat" + std::to_string(i), "echo \"error of $dir\"; exit 1"));
    }
    std::vector<std::vector<std::string>> verdicts(kRuns);
    std::vector<std::thread> threads;
    for (int i = 0; i < kRuns; ++i) {
        threads.emplace_back([&, i] { verdicts[i] = bridge.validate(folders[i], {}); });
    }
    threads.emplace_back(
        [&] { bridge.setFetcher([](const std::string&) { return std::vector<std::uint8_t>(); }); });
    for (std::thread& thread : threads) {
        thread.join();
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

}  // namespace
}  // namespace velk::core::infra::java
