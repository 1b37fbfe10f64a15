#include "agent/CryptoStore.h"

#include <cerrno>
#include <fstream>

#include <gtest/gtest.h>

#include "common/TextUtils.h"
#include "platform/DataProtection.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"

namespace velk::agent {
namespace {

using test::IsolatedHome;
using test::LogCapture;

class CryptoStoreTest : public testing::Test {
protected:
    IsolatedHome home_;
};

TEST_F(CryptoStoreTest, RoundTripsAnyBytes) {
    const std::string values[] = {
        "121212121",
        "Фирма ООД — ключ",
        std::string("a\0b\xff\x01", 5),
        std::string(5000, 'k'),
        "plain:not a prefix here",
    };
    for (const std::string& value : values) {
        const auto stored = CryptoStore::encrypt(value);
        ASSERT_TRUE(stored.has_value());
        EXPECT_TRUE(stored->starts_with("dpapi:"));
        EXPECT_EQ(stored->find(value), std::string::npos);
        EXPECT_TRUE(CryptoStore::isEncrypted(*stored));
        EXPECT_EQ(CryptoStore::decrypt(*stored), value);
    }
}

TEST_F(CryptoStoreTest, EmptyStaysEmptyWithoutPrefix) {
    EXPECT_EQ(CryptoStore::encrypt(""), std::string());
    EXPECT_EQ(CryptoStore::decrypt(""), std::string());
}

TEST_F(CryptoStoreTest, PrefixIsExactCaseAtTheVeryStart) {
    struct Case {
        std::string stored;
        bool encrypted;
    };
    const Case cases[] = {
        {"dpapi:", true},       {"keychain:", true},  {"plain:", true},    {"Dpapi:AAAA", false},
        {" dpapi:AAAA", false}, {"PLAIN:x", false},   {"xplain:x", false}, {"dpapi", false},
        {"keychai:x", false},   {"121212121", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(CryptoStore::isEncrypted(c.stored), c.encrypted) << c.stored;
        if (!c.encrypted) {
            EXPECT_EQ(CryptoStore::decrypt(c.stored), c.stored);  // clear text, unchanged
        }
    }
}

TEST_F(CryptoStoreTest, ForeignFormsAreRefusedNotRead) {
    for (const std::string stored : {"plain:secret-key", "plain:", "keychain:secret-key"}) {
        LogCapture log;
        EXPECT_EQ(CryptoStore::decrypt(stored), std::nullopt) << stored;
        EXPECT_EQ(log.count("WARN", "CryptoStore: cannot decrypt non-DPAPI token on Windows"), 1);
        for (const auto& line : log.stop()) {
            EXPECT_EQ(line.find("secret-key"), std::string::npos);
        }
    }
}

std::string flipLastByte(const std::string& stored) {
    auto blob = core::base64Decode(std::string_view(stored).substr(6));
    blob.back() ^= 0x01;
    return "dpapi:" + core::base64Encode(blob);
}

TEST_F(CryptoStoreTest, BlobsThatDoNotOpenFailWithTheCode) {
    const std::string good = *CryptoStore::encrypt("secret");
    std::vector<std::uint8_t> otherEntropy;
    ASSERT_EQ(platform::DataProtection::protect({reinterpret_cast<const std::uint8_t*>("secret"), 6},
                                                "another.label", otherEntropy),
              0);
    const std::string cases[] = {
        "dpapi:",
        "dpapi:AAAA",
        "dpapi:bm90IGEgYmxvYg==",
        flipLastByte(good),
        "dpapi:" + core::base64Encode(otherEntropy),
    };
    for (const std::string& stored : cases) {
        LogCapture log;
        EXPECT_EQ(CryptoStore::decrypt(stored), std::nullopt) << stored;
        EXPECT_EQ(log.count("ERROR", "CryptoStore: CryptUnprotectData failed: " + std::to_string(EBADMSG)), 1)
            << stored;
    }
}

TEST_F(CryptoStoreTest, StrayCharactersInTheBase64AreSkipped) {
    std::string stored = *CryptoStore::encrypt("secret");
    stored.insert(10, "\r\n ");
    EXPECT_EQ(CryptoStore::decrypt(stored), "secret");
}

TEST_F(CryptoStoreTest, ProtectionFailureIsAbsentWithAnErrorLine) {
    // A configuration "folder" that is a file: no key can be made.
    const std::string blocker = home_.dir().sub("blocker");
    std::ofstream(blocker) << "x";
    test::ScopedEnv config("XDG_CONFIG_HOME", blocker);
    LogCapture log;
    EXPECT_EQ(CryptoStore::encrypt("secret"), std::nullopt);
    EXPECT_EQ(log.count("ERROR", "CryptoStore: CryptProtectData failed: "), 1);
}

}  // namespace
}  // namespace velk::agent
