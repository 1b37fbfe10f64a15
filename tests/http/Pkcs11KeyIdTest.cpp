#include "infrastructure/http/Pkcs11KeyId.h"

#include <gtest/gtest.h>

#include <fstream>

#include "infrastructure/http/Pkcs11Engine.h"
#include "support/TempDir.h"

namespace velk::core::infra::http {
namespace {

TEST(Pkcs11KeyId, SlotIdsAreDigitsColonAndPairsOfHexDigits) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"0:A1B2", true}, {"1:ab", true},   {"123:0a1B", true}, {":A1B2", false},
        {"0:", false},    {"0:ABC", false}, {"x:AB", false},    {"1:zz", false},
        {"", false},      {"1a:AB", false}, {"1:AB:CD", false},
    };
    for (const auto& [id, expected] : cases) {
        EXPECT_EQ(isPkcs11SlotId(id), expected) << id;
    }
}

TEST(Pkcs11KeyId, UrisAndSlotIdsNameTokenKeysAndAnythingElseTheStore) {
    EXPECT_TRUE(isPkcs11CertificateId("pkcs11:token=t;id=%01"));
    EXPECT_TRUE(isPkcs11CertificateId("1:ab"));
    EXPECT_FALSE(isPkcs11CertificateId("PKCS11:token=t"));
    EXPECT_FALSE(isPkcs11CertificateId("1:abc"));
    EXPECT_FALSE(isPkcs11CertificateId("0123456789ABCDEF0123456789ABCDEF01234567"));
}

TEST(Pkcs11KeyId, EngineReferenceOfASlotId) {
    EXPECT_EQ(pkcs11EngineKeyId("1:ab"), "slot_1-id_ab");
    EXPECT_EQ(pkcs11EngineKeyId("3:0a1b"), "slot_3-id_0a1b");
}

TEST(Pkcs11Engine, OpensslEnginesFolderIsSearchedFirst) {
    test::TempDir dir;
    std::ofstream(dir.sub("pkcs11.so")) << "";
    test::ScopedEnv engines("OPENSSL_ENGINES", dir.str());
    EXPECT_EQ(Pkcs11Engine::findLibraryPath(), dir.sub("pkcs11.so"));

    std::ofstream(dir.sub("pkcs11.dylib")) << "";
    EXPECT_EQ(Pkcs11Engine::findLibraryPath(), dir.sub("pkcs11.dylib"));
}

}  // namespace
}  // namespace velk::core::infra::http
