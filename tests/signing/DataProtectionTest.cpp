#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/AtomicFile.h"
#include "platform/DataProtection.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using test::IsolatedHome;
using test::ScopedEnv;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 0777;
}

class DataProtectionTest : public testing::Test {
protected:
    Bytes protect(const Bytes& plain, std::string_view entropy = "entropy-A") {
        Bytes blob;
        EXPECT_EQ(DataProtection::protect(plain, entropy, blob), 0);
        return blob;
    }
    int unprotect(const Bytes& blob, Bytes& plain, std::string_view entropy = "entropy-A") {
        return DataProtection::unprotect(blob, entropy, plain);
    }

    IsolatedHome home_;
};

TEST_F(DataProtectionTest, RoundTripsAnyBytes) {
    for (const Bytes& plain : {Bytes{}, bytesOf("1234"), bytesOf("пин"), Bytes{0x00, 0xFF, 0x00, 0x80}}) {
        const Bytes blob = protect(plain);
        ASSERT_EQ(blob.size(), 4 + 12 + plain.size() + 16);
        EXPECT_EQ(std::string(blob.begin(), blob.begin() + 4), "VDP1");
        Bytes back;
        EXPECT_EQ(unprotect(blob, back), 0);
        EXPECT_EQ(back, plain);
    }
}

TEST_F(DataProtectionTest, KeyFileIsPrivateAndKeptAcrossCalls) {
    const Bytes blob = protect(bytesOf("secret"));
    const std::string key = DataProtection::keyFilePath();
    EXPECT_EQ(key, home_.configHome() + "/VEZORodar/protect.key");
    EXPECT_EQ(std::filesystem::file_size(key), 32u);
    EXPECT_EQ(modeOf(key), 0600u);
    EXPECT_EQ(modeOf(home_.configHome() + "/VEZORodar"), 0700u);
    protect(bytesOf("more"));  // must not replace the key
    Bytes back;
    EXPECT_EQ(unprotect(blob, back), 0);
}

TEST_F(DataProtectionTest, OtherEntropyDoesNotOpen) {
    const Bytes blob = protect(bytesOf("secret"), "entropy-A");
    Bytes back;
    EXPECT_EQ(unprotect(blob, back, "entropy-B"), EBADMSG);
    EXPECT_TRUE(back.empty());
}

TEST_F(DataProtectionTest, AnotherUsersKeyDoesNotOpen) {
    const Bytes blob = protect(bytesOf("secret"));
    test::TempDir otherUser;
    ScopedEnv config("XDG_CONFIG_HOME", otherUser.str());
    protect(bytesOf("their own"));  // the other user has a key of their own
    Bytes back;
    EXPECT_EQ(unprotect(blob, back), EBADMSG);
}

TEST_F(DataProtectionTest, AnyChangedOrMissingByteFails) {
    const Bytes blob = protect(bytesOf("secret"));
    // Magic, nonce, ciphertext and tag positions.
    for (const std::size_t pos : {std::size_t{0}, std::size_t{5}, std::size_t{17}, blob.size() - 1}) {
        Bytes changed = blob;
        changed[pos] ^= 0x01;
        Bytes back;
        EXPECT_EQ(unprotect(changed, back), EBADMSG) << "byte " << pos;
    }
    Bytes back;
    EXPECT_EQ(unprotect(Bytes(blob.begin(), blob.end() - 1), back), EBADMSG);
    EXPECT_EQ(unprotect(Bytes(blob.begin(), blob.begin() + 10), back), EBADMSG);
}

TEST_F(DataProtectionTest, UnprotectWithoutKeyFailsAndCreatesNone) {
    Bytes blob(4 + 12 + 16, 0);
    std::copy_n("VDP1", 4, blob.begin());
    Bytes back;
    EXPECT_EQ(unprotect(blob, back), ENOENT);
    EXPECT_FALSE(std::filesystem::exists(DataProtection::keyFilePath()));
}

TEST_F(DataProtectionTest, DamagedKeyFileIsRefusedNotReplaced) {
    std::filesystem::create_directories(home_.configHome() + "/VEZORodar");
    std::ofstream(DataProtection::keyFilePath()) << "short";
    Bytes blob;
    EXPECT_EQ(DataProtection::protect(bytesOf("x"), "e", blob), EINVAL);
    EXPECT_EQ(std::filesystem::file_size(DataProtection::keyFilePath()), 5u);
}

// A FIFO in the key's place: no wait for a writer, no key made beside it.
TEST_F(DataProtectionTest, AFifoInPlaceOfTheKeyIsRefusedWithoutWaiting) {
    const std::string key = test::makeFifo(DataProtection::keyFilePath());
    Bytes blob(4 + 12 + 16, 0);
    std::copy_n("VDP1", 4, blob.begin());
    const test::ChildOutput out = test::runInChildForText([&] {
        Bytes made;
        Bytes back;
        return std::to_string(DataProtection::protect(bytesOf("x"), "e", made)) + " " +
               std::to_string(DataProtection::unprotect(blob, "e", back));
    });
    ASSERT_EQ(out.end, 0) << out.text;
    const std::string refused = std::to_string(kNotRegularFileError);
    EXPECT_EQ(out.text, refused + " " + refused);
    EXPECT_EQ(std::filesystem::symlink_status(key).type(), std::filesystem::file_type::fifo);
}

TEST_F(DataProtectionTest, ConcurrentFirstUseAgreesOnOneKey) {
    constexpr int kThreads = 8;
    std::vector<Bytes> blobs(kThreads);
    std::vector<int> results(kThreads, -1);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back(
            [&, i] { results[i] = DataProtection::protect(bytesOf("same"), "e", blobs[i]); });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        ASSERT_EQ(results[i], 0);
        Bytes back;
        EXPECT_EQ(DataProtection::unprotect(blobs[i], "e", back), 0) << "blob of thread " << i;
    }
    // No temporary files left behind.
    int files = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator(home_.configHome() + "/VEZORodar")) {
        ++files;
    }
    EXPECT_EQ(files, 1);
}

}  // namespace
}  // namespace velk::platform
