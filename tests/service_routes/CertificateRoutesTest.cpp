#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "infrastructure/signing/PinStore.h"
#include "server_http/ServerHarness.h"
#include "support/FileText.h"
#include "support/LogCapture.h"

namespace velk::test {
namespace {

using signing::PinStore;

constexpr const char* kPin = "834271";
// A store certificate's thumbprint and a PKCS#11 slot:key id.
constexpr const char* kThumbprint = "3F2A9C0B7D41E5A8C6B2D9F0E1A7C4B3D2E1F0A9";
constexpr const char* kTokenKey = "0:0A1B2C";

class CertificateRoutesTest : public ::testing::Test {
protected:
    std::string pinPath(const std::string& id) const { return "/api/certificates/" + id + "/pin"; }
    std::string pinBody(const std::string& pin) const { return R"({"pin":")" + pin + R"("})"; }
    // Every line of the requests so far: a request's access line is written
    // after its answer, and a stopped server has written them all.
    const std::vector<std::string>& linesOf(LogCapture& log) {
        harness.server().stop();
        return log.stop();
    }

    ServerHarness harness;
};

TEST_F(CertificateRoutesTest, TheCertificateListAndChoiceAreFixedAnswers) {
    EXPECT_EQ(harness.get("/api/certificates").body, "[]");
    for (const std::string& id :
         {std::string(kThumbprint), std::string(kTokenKey), std::string("anything")}) {
        const Answer answer = harness.post("/api/certificates/" + id + "/select", R"({"ignored":true})");
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, R"({"status":"selected"})");
    }
    EXPECT_EQ(harness.post("/api/certificates/x/select", "not json").body, R"({"status":"selected"})");
    EXPECT_FALSE(std::filesystem::exists(PinStore::path()));
}

TEST_F(CertificateRoutesTest, StoresAndDeletesPinsInThePinStoreWithoutLoggingThem) {
    LogCapture log;
    Answer answer = harness.post(pinPath(kThumbprint), pinBody(kPin));
    EXPECT_EQ(answer.status, 204);
    EXPECT_EQ(answer.body, "");
    answer = harness.post(pinPath(kTokenKey), pinBody("4711"));
    EXPECT_EQ(answer.status, 204);

    EXPECT_EQ(PinStore::path(), harness.home().dataHome() + "/VEZORodar/pins.dat");
    EXPECT_EQ(PinStore::get(kThumbprint), kPin);
    EXPECT_EQ(PinStore::get(kTokenKey), "4711");
    EXPECT_EQ(readFileText(PinStore::path()).find(kPin), std::string::npos);

    // A new PIN replaces the old one.
    EXPECT_EQ(harness.post(pinPath(kThumbprint), pinBody("000111")).status, 204);
    EXPECT_EQ(PinStore::get(kThumbprint), "000111");

    answer = harness.del(pinPath(kThumbprint));
    EXPECT_EQ(answer.status, 204);
    EXPECT_EQ(answer.body, "");
    EXPECT_FALSE(PinStore::get(kThumbprint));
    EXPECT_EQ(PinStore::get(kTokenKey), "4711");

    for (const auto& line : linesOf(log)) {
        for (const char* pin : {kPin, "4711", "000111"}) {
            EXPECT_EQ(line.find(pin), std::string::npos) << line;
        }
    }
    EXPECT_EQ(log.count("INFO", "POST /api/certificates/" + std::string(kThumbprint) + "/pin -> 204"), 2);
}

TEST_F(CertificateRoutesTest, DeletingAPinThatIsNotStoredIsNoError) {
    EXPECT_EQ(harness.del(pinPath(kThumbprint)).status, 204);
    EXPECT_FALSE(std::filesystem::exists(PinStore::path()));
}

TEST_F(CertificateRoutesTest, RefusesAMissingPinAndStoresNothing) {
    LogCapture log;
    struct Case {
        std::string body;
        int status;
        std::string answer;
    };
    const std::vector<Case> cases = {
        {"", 400, R"({"error":"pin required"})"},
        {"{}", 400, R"({"error":"pin required"})"},
        {R"({"pin":""})", 400, R"({"error":"pin required"})"},
        {"pin=834271", 400, R"({"error":"pin required"})"},
        {R"({"pin":834271})", 500, R"({"error":"internal error"})"},
        {R"({"pin":null})", 500, R"({"error":"internal error"})"},
        {R"(["834271"])", 500, R"({"error":"internal error"})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        const Answer answer = harness.post(pinPath(kThumbprint), c.body);
        EXPECT_EQ(answer.status, c.status);
        EXPECT_EQ(answer.body, c.answer);
    }
    EXPECT_FALSE(std::filesystem::exists(PinStore::path()));
    for (const auto& line : linesOf(log)) {
        EXPECT_EQ(line.find(kPin), std::string::npos) << line;
    }
}

// Any page may call the route; pins.dat must not grow by ids of any size.
TEST_F(CertificateRoutesTest, StoresAPinOnlyForAnIdOfAtMost256Bytes) {
    const std::string kTooLong = R"json({"error":"certificate id too long (at most 256 bytes)"})json";
    const std::string cyrillicA = "\xD0\xB0";  // two bytes, one character
    struct Case {
        std::string id;
        int status;
    };
    std::string cyrillic128;
    for (int i = 0; i < 128; ++i) {
        cyrillic128 += cyrillicA;
    }
    const std::vector<Case> cases = {
        {std::string(256, 'a'), 204},
        {std::string(257, 'b'), 400},
        {cyrillic128, 204},              // 256 bytes
        {cyrillic128 + cyrillicA, 400},  // 129 characters, 258 bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id.size());
        const Answer answer = harness.post(pinPath(c.id), pinBody(kPin));
        EXPECT_EQ(answer.status, c.status);
        if (c.status == 400) {
            EXPECT_EQ(answer.body, kTooLong);
        }
        EXPECT_EQ(PinStore::get(c.id).has_value(), c.status == 204);
    }
}

TEST_F(CertificateRoutesTest, APinThatCannotBeWrittenIsAnErrorWithoutThePinInTheLog) {
    // The data folder is taken by a file, so pins.dat cannot be written.
    std::filesystem::create_directories(harness.home().dataHome());
    std::ofstream(harness.home().dataHome() + "/VEZORodar") << "not a folder";

    LogCapture log;
    const Answer answer = harness.post(pinPath(kThumbprint), pinBody(kPin));
    EXPECT_EQ(answer.status, 500);
    EXPECT_EQ(answer.body, R"({"error":"could not persist pin"})");
    for (const auto& line : linesOf(log)) {
        EXPECT_EQ(line.find(kPin), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace velk::test
