#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "common/TextUtils.h"
#include "infrastructure/signing/PinStore.h"
#include "platform/AtomicFile.h"
#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::signing {
namespace {

using test::IsolatedHome;
using test::LogCapture;
using test::readFileText;
using test::ScopedEnv;
using test::writeFileText;

class PinStoreTest : public testing::Test {
protected:
    nlohmann::json fileJson() const { return nlohmann::json::parse(readFileText(PinStore::path())); }

    IsolatedHome home_;
};

class PinRoundTripTest : public PinStoreTest, public testing::WithParamInterface<std::string> {};

TEST_P(PinRoundTripTest, StoredPinComesBackUnchanged) {
    const std::string& pin = GetParam();
    ASSERT_TRUE(PinStore::store("A1B2", pin));
    EXPECT_EQ(PinStore::get("A1B2"), pin);
    // The file holds the protected form only.
    if (pin.size() >= 4) {
        EXPECT_EQ(readFileText(PinStore::path()).find(pin), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Pins, PinRoundTripTest,
                         testing::Values(std::string("1234"), std::string("пин-Щ123"),
                                         std::string("\x00\x01\xFF\xFE\x80", 5), std::string()));

TEST_F(PinStoreTest, FileIsAPrivateObjectOfBase64TextsInTheDataFolder) {
    ASSERT_TRUE(PinStore::store("1:A1", "1234"));
    ASSERT_TRUE(PinStore::store("ABCDEF", "5678"));
    EXPECT_EQ(PinStore::path(), home_.dataHome() + "/VEZORodar/pins.dat");
    struct stat st {};
    ASSERT_EQ(::stat(PinStore::path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = readFileText(PinStore::path());
    EXPECT_NE(text.find("\n  \""), std::string::npos) << "indented by two blanks";
    const nlohmann::json doc = fileJson();
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc.size(), 2u);
    EXPECT_EQ(core::base64Encode(core::base64Decode(doc["1:A1"].get<std::string>())), doc["1:A1"]);
}

TEST_F(PinStoreTest, WithoutFileNothingIsFoundOrWritten) {
    LogCapture log;
    EXPECT_EQ(PinStore::get("X"), std::nullopt);
    EXPECT_TRUE(PinStore::remove("X"));
    EXPECT_TRUE(log.stop().empty());
    EXPECT_FALSE(std::filesystem::exists(PinStore::path()));
}

TEST_F(PinStoreTest, StoreReplacesAndRemoveDeletes) {
    ASSERT_TRUE(PinStore::store("X", "1111"));
    ASSERT_TRUE(PinStore::store("Y", "2222"));
    ASSERT_TRUE(PinStore::store("X", "3333"));
    EXPECT_EQ(fileJson().size(), 2u);
    EXPECT_EQ(PinStore::get("X"), "3333");
    EXPECT_TRUE(PinStore::remove("X"));
    EXPECT_EQ(PinStore::get("X"), std::nullopt);
    EXPECT_EQ(PinStore::get("Y"), "2222");
}

TEST_F(PinStoreTest, EmptyIdIsRefusedWithoutTouchingTheFile) {
    EXPECT_FALSE(PinStore::store("", "1234"));
    EXPECT_FALSE(std::filesystem::exists(PinStore::path()));
}

TEST_F(PinStoreTest, BlobOfAnotherUserIsRefused) {
    ASSERT_TRUE(PinStore::store("X", "1234"));
    test::TempDir otherUser;
    ScopedEnv config("XDG_CONFIG_HOME", otherUser.str());
    ASSERT_TRUE(PinStore::store("Y", "5678"));  // the other user's own key
    LogCapture log;
    EXPECT_EQ(PinStore::get("X"), std::nullopt);
    EXPECT_EQ(log.count("ERROR", "CryptUnprotectData failed: "), 1);
}

TEST_F(PinStoreTest, TamperedBlobFailsWithOneErrorLineAndLeavesOthersWorking) {
    ASSERT_TRUE(PinStore::store("X", "1234"));
    ASSERT_TRUE(PinStore::store("Y", "5678"));
    nlohmann::json doc = fileJson();
    auto blob = core::base64Decode(doc["X"].get<std::string>());
    blob[blob.size() / 2] ^= 0x40;
    doc["X"] = core::base64Encode(blob);
    writeFileText(PinStore::path(), doc.dump(2));

    LogCapture log;
    EXPECT_EQ(PinStore::get("X"), std::nullopt);
    EXPECT_EQ(PinStore::get("Y"), "5678");
    EXPECT_EQ(log.count("ERROR"), 1);
    EXPECT_EQ(log.count("ERROR", "CryptUnprotectData failed: "), 1);
}

TEST_F(PinStoreTest, EmptyFileIsCorruptUntilAStoreRewritesIt) {
    writeFileText(PinStore::path(), "");
    {
        LogCapture log;
        EXPECT_EQ(PinStore::get("X"), std::nullopt);
        EXPECT_EQ(PinStore::get("X"), std::nullopt);
        EXPECT_EQ(log.count("WARN", "Corrupt pins.dat — starting fresh"), 2);
    }
    ASSERT_TRUE(PinStore::store("X", "1234"));
    LogCapture log;
    EXPECT_EQ(PinStore::get("X"), "1234");
    EXPECT_EQ(log.count("WARN"), 0);
}

class NonObjectPinsFileTest : public PinStoreTest, public testing::WithParamInterface<std::string> {};

TEST_P(NonObjectPinsFileTest, GetFindsNothingRemoveKeepsItStoreReplacesIt) {
    writeFileText(PinStore::path(), GetParam());
    EXPECT_EQ(PinStore::get("X"), std::nullopt);
    EXPECT_TRUE(PinStore::remove("X"));
    EXPECT_EQ(readFileText(PinStore::path()), GetParam());
    ASSERT_TRUE(PinStore::store("X", "1234"));
    EXPECT_TRUE(fileJson().is_object());
    EXPECT_EQ(PinStore::get("X"), "1234");
}

INSTANTIATE_TEST_SUITE_P(Documents, NonObjectPinsFileTest,
                         testing::Values(std::string("[1,2]"), std::string("42"), std::string("\"text\""),
                                         std::string("null")));

TEST_F(PinStoreTest, ValueOfAnotherTypeIsNoPin) {
    writeFileText(PinStore::path(), R"({"X": 5})");
    EXPECT_EQ(PinStore::get("X"), std::nullopt);
}

TEST_F(PinStoreTest, ConcurrentStoresOfDifferentIdsAllLand) {
    constexpr int kThreads = 6;
    std::vector<std::thread> threads;
    std::vector<bool> stored(kThreads);
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(
            [&, i] { stored[i] = PinStore::store("id" + std::to_string(i), std::to_string(i)); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_TRUE(stored[i]);
        EXPECT_EQ(PinStore::get("id" + std::to_string(i)), std::to_string(i));
    }
}

// A deeply nested document would run the stack out when it is written back.
TEST_F(PinStoreTest, TooDeepFileIsCorruptAndReplacedByTheNextStore) {
    const std::string deep = R"({"Y":)" + std::string(100000, '[') + std::string(100000, ']') + "}";
    writeFileText(PinStore::path(), deep);
    LogCapture log;
    EXPECT_EQ(PinStore::get("Y"), std::nullopt);
    EXPECT_TRUE(PinStore::remove("Y"));
    ASSERT_TRUE(PinStore::store("X", "1234"));
    EXPECT_EQ(log.count("WARN", "Corrupt pins.dat — starting fresh"), 3);
    EXPECT_EQ(fileJson().size(), 1u);
    EXPECT_EQ(PinStore::get("X"), "1234");
}

// A FIFO in the file's place is the user's: no read waits on it, no PIN is
// taken from it and none is written over it.
TEST_F(PinStoreTest, AFifoIsNeitherWaitedOnNorReplaced) {
    const std::string file = PinStore::path();
    test::makeFifo(file);
    const test::ChildOutput out = test::runInChildForText([&] {
        LogCapture log;
        const bool found = PinStore::get("X").has_value();
        const bool stored = PinStore::store("X", "1234");
        const bool removed = PinStore::remove("X");
        return nlohmann::json{found, stored, removed,
                              log.count("WARN", "PinStore: cannot read " + file + ": not a regular file")}
            .dump();
    });
    ASSERT_EQ(out.end, 0) << out.text;
    // Nothing found, nothing stored, nothing to remove; each read says why.
    EXPECT_EQ(nlohmann::json::parse(out.text), nlohmann::json::parse("[false, false, true, 3]"));
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// Read whole into memory, pins.dat is held to a bound even when it is valid.
TEST_F(PinStoreTest, AFileLargerThanAnyPinsFileIsCorruptUnread) {
    ASSERT_TRUE(PinStore::store("X", "1234"));
    std::ofstream(PinStore::path(), std::ios::app) << std::string(platform::kMaxSmallFileBytes, ' ');
    LogCapture log;
    EXPECT_EQ(PinStore::get("X"), std::nullopt);
    EXPECT_EQ(log.count("WARN", "Corrupt pins.dat — starting fresh"), 1);
}

// A crash in the middle of a save leaves the writer's temporary copy, which
// still holds a PIN the user may have removed since.
class StaleCopiesTest : public PinStoreTest, public testing::WithParamInterface<bool> {};

TEST_P(StaleCopiesTest, AreRemovedWhileEverythingElseStays) {
    const bool atStartUp = GetParam();
    const std::string dir = home_.dataHome() + "/VEZORodar/";
    writeFileText(dir + "pins.dat", R"({"X":"AAAA"})");
    const std::vector<std::string> stale = {"pins.dat.tmp-a1B2c3", "pins.dat.tmp-ZZZZZZ"};
    const std::vector<std::string> kept = {"pins.dat", "pins.dat.tmp-a1B2c", "pins.dat.tmp-a1B2c3d",
                                           "settings.json.tmp-a1B2c3", "pins.dat.bad"};
    for (const auto& name : stale) {
        writeFileText(dir + name, R"({"Deleted":"BBBB"})");
    }
    for (const auto& name : kept) {
        if (name != "pins.dat") {
            writeFileText(dir + name, "x");
        }
    }
    if (atStartUp) {
        PinStore::removeStaleCopies();
    } else {
        EXPECT_EQ(PinStore::get("Deleted"), std::nullopt);
    }
    for (const auto& name : stale) {
        EXPECT_FALSE(std::filesystem::exists(dir + name)) << name;
    }
    for (const auto& name : kept) {
        EXPECT_TRUE(std::filesystem::exists(dir + name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(When, StaleCopiesTest, testing::Values(true, false),
                         [](const auto& info) { return info.param ? "AtStartUp" : "AtFirstRead"; });

TEST_F(PinStoreTest, DataFolderIsPrivate) {
    ASSERT_TRUE(PinStore::store("X", "1234"));
    struct stat st {};
    ASSERT_EQ(::stat((home_.dataHome() + "/VEZORodar").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
}  // namespace velk::signing
