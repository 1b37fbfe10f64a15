#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "infrastructure/java/LineSplitter.h"
#include "infrastructure/java/ProcessRunner.h"
#include "infrastructure/java/SubmitConversation.h"
#include "java/RecordingSigner.h"
#include "support/LogCapture.h"

namespace velk::core::infra::java {
namespace {

using test::LogCapture;
using test::RecordingSigner;

// A signing request longer than a line may be reaches the conversation cut
// to a prefix; signing that prefix would sign other bytes than the client
// asked for, whatever the cut left of the line's length.
TEST(SubmitConversationTest, ASigningRequestCutAtTheLineLimitIsNeverSigned) {
    constexpr std::size_t kMaxLine = 32;
    struct Case {
        std::string label;
        std::string line;
        std::vector<std::string> signedData;
    };
    const std::vector<Case> cases = {
        {"a whole request", "SIGN:REVLTEFSIGJ5dGVz", {"DEKLAR bytes"}},
        {"a request four bytes short of the limit", "SIGN:" + std::string(23, 'A'), {std::string(17, '\0')}},
        {"an ASCII request past the limit", "SIGN:" + std::string(40, 'A'), {}},
        {"a stray continuation byte at the cut", "SIGN:" + std::string(27, 'A') + "\x80" + "AAAA", {}},
        {"a character across the cut", "SIGN:" + std::string(25, 'A') + "€AAAA", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ProcessRunner notStarted;
        RecordingSigner signer;
        const ZezizUrBridge::Progress noProgress;
        SubmitConversation conversation(notStarted, signer, "7:A107", noProgress, kMaxLine);
        LineSplitter splitter(kMaxLine);
        LogCapture log;
        splitter.feed(c.line + "\n", [&](const std::string& line) { conversation.handleSubmitLine(line); });

        std::vector<std::string> signedData;
        for (const RecordingSigner::Request& request : signer.requests) {
            signedData.push_back(request.data);
        }
        EXPECT_EQ(signedData, c.signedData);
        EXPECT_EQ(log.count("ERROR", "ZezizUR submit: signing request too long"),
                  c.signedData.empty() ? 1 : 0);
    }
}

}  // namespace
}  // namespace velk::core::infra::java
