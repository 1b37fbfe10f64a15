#include "agent/FileSettings.h"

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "agent/CryptoStore.h"
#include "common/JsonUtils.h"
#include "platform/AtomicFile.h"
#include "support/ChildProcess.h"
#include "support/FileText.h"
#include "support/LogCapture.h"
#include "support/TempDir.h"
#include "support/UnusualFiles.h"

namespace velk::agent {
namespace {

using test::readFileText;
using test::writeFileText;
namespace fs = std::filesystem;
using core::IdentifierType;
using core::json;
using core::SenderProfile;
using test::LogCapture;

bool isNewSenderId(const std::string& id) {
    return id.size() == 14 && id.starts_with("s-") &&
           id.find_first_not_of("0123456789abcdef", 2) == std::string::npos;
}

SenderProfile sender(std::string id, std::string name, std::string identifier = {}, std::string apiKey = {}) {
    SenderProfile p;
    p.id = std::move(id);
    p.displayName = std::move(name);
    p.identifier = std::move(identifier);
    p.apiKey = std::move(apiKey);
    return p;
}

class FileSettingsTest : public testing::Test {
protected:
    std::string fileText() const { return readFileText(path_); }
    json fileJson() const { return json::parse(fileText()); }
    void givenFile(const std::string& text) const { writeFileText(path_, text); }
    // The names in the settings folder, to see what a save left behind.
    std::vector<std::string> folderEntries() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(fs::path(path_).parent_path())) {
            names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    test::IsolatedHome home_;
    const std::string path_ = home_.dataHome() + "/VEZORodar/settings.json";
};

// ---- the file's exact bytes ----

struct GoldenCase {
    const char* name;
    const char* input;  // nullptr: no file
    const char* expected;
};
void PrintTo(const GoldenCase& c, std::ostream* os) {
    *os << c.name;
}

class GoldenFileTest : public FileSettingsTest, public testing::WithParamInterface<GoldenCase> {};

TEST_P(GoldenFileTest, SavesTheseExactBytes) {
    if (GetParam().input != nullptr) {
        givenFile(GetParam().input);
    }
    FileSettings settings(path_);
    ASSERT_TRUE(settings.save());
    EXPECT_EQ(fileText(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Layout, GoldenFileTest,
    testing::Values(
        GoldenCase{"Empty", nullptr,
                   "{\n  \"activeSenderId\": \"\",\n  \"schemaVersion\": 2,\n  \"senders\": []\n}"},
        // Unknown keys go; cloud keys stay as they were; Cyrillic stays raw.
        GoldenCase{
            "Full",
            R"({"schemaVersion":2,"zzz":1,"activeSenderId":"s-00000000000b",
                       "napRestSubmitUrl":"https://rest.example/submit","napRestStatusUrl":"https://rest.example/status",
                       "velkCloudEnabled":true,"velkCloudIssuer":"issuer.example","velkCloudBaseUrl":"https://c.example",
                       "velkCloudPublicKey":"-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n",
                       "senders":[
                         {"id":"s-00000000000a","displayName":"Фирма „Дъб“ ООД","identifierType":"BUS_BULSTAT",
                          "certificateId":"AB12","signerEmail":"иван@фирма.бг","extra":true},
                         {"id":"s-00000000000b","displayName":"Second","identifierType":"bus_bulstat"}]})",
            "{\n"
            "  \"activeSenderId\": \"s-00000000000b\",\n"
            "  \"napRestStatusUrl\": \"https://rest.example/status\",\n"
            "  \"napRestSubmitUrl\": \"https://rest.example/submit\",\n"
            "  \"schemaVersion\": 2,\n"
            "  \"senders\": [\n"
            "    {\n"
            "      \"apiKey\": \"\",\n"
            "      \"certificateId\": \"AB12\",\n"
            "      \"displayName\": \"Фирма „Дъб“ ООД\",\n"
            "      \"id\": \"s-00000000000a\",\n"
            "      \"identifier\": \"\",\n"
            "      \"identifierType\": \"BUS_BULSTAT\",\n"
            "      \"signerEmail\": \"иван@фирма.бг\"\n"
            "    },\n"
            "    {\n"
            "      \"apiKey\": \"\",\n"
            "      \"certificateId\": \"\",\n"
            "      \"displayName\": \"Second\",\n"
            "      \"id\": \"s-00000000000b\",\n"
            "      \"identifier\": \"\",\n"
            "      \"identifierType\": \"UNKNOWN\",\n"
            "      \"signerEmail\": \"\"\n"
            "    }\n"
            "  ],\n"
            "  \"velkCloudBaseUrl\": \"https://c.example\",\n"
            "  \"velkCloudEnabled\": true,\n"
            "  \"velkCloudIssuer\": \"issuer.example\",\n"
            "  \"velkCloudPublicKey\": \"-----BEGIN PUBLIC KEY-----\\nAAAA\\n-----END PUBLIC KEY-----\\n\"\n"
            "}"}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- format upgrade at construction ----

struct MigrationCase {
    const char* name;
    const char* input;
    bool rewritten;
};
void PrintTo(const MigrationCase& c, std::ostream* os) {
    *os << c.name;
}

class MigrationTest : public FileSettingsTest, public testing::WithParamInterface<MigrationCase> {};

TEST_P(MigrationTest, RewritesOnlyWhatIsNotCurrent) {
    givenFile(GetParam().input);
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_EQ(log.count("INFO", "FileSettings: migration persisted to v2 format"),
              GetParam().rewritten ? 1 : 0);
    if (GetParam().rewritten) {
        EXPECT_EQ(fileJson()["schemaVersion"], 2);
    } else {
        EXPECT_EQ(fileText(), GetParam().input);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, MigrationTest,
    testing::Values(MigrationCase{"NoVersion", R"({"senders":[{"id":"s-1"}]})", true},
                    MigrationCase{"One", R"({"schemaVersion":1,"senders":[{"id":"s-1"}]})", true},
                    MigrationCase{"Zero", R"({"schemaVersion":0,"senders":[{"id":"s-1"}]})", true},
                    MigrationCase{"Negative", R"({"schemaVersion":-3,"senders":[{"id":"s-1"}]})", true},
                    MigrationCase{"Fraction", R"({"schemaVersion":2.0,"senders":[{"id":"s-1"}]})", true},
                    MigrationCase{"Text", R"({"schemaVersion":"2","senders":[{"id":"s-1"}]})", true},
                    MigrationCase{"Two", R"({"schemaVersion":2,"senders":[{"id":"s-1"}]})", false},
                    MigrationCase{"Three", R"({"schemaVersion":3,"senders":[{"id":"s-1"}]})", false},
                    MigrationCase{"NoSendersOldVersion", R"({"schemaVersion":1,"senders":[]})", false},
                    MigrationCase{"LegacyWithoutValues", R"({"identifierType":"IND_EGN"})", false},
                    MigrationCase{"LegacySender", R"({"identifier":"8001010000","certificateId":"C1"})",
                                  true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSettingsTest, LegacySingleSenderBecomesTheActiveMainSender) {
    givenFile(R"({"identifier":"8001010000","identifierType":"IND_EGN","certificateId":"C1","apiKey":"key-1",
                  "activeSenderId":"ignored"})");
    LogCapture log;
    FileSettings settings(path_);
    const auto senders = settings.listSenders();
    ASSERT_EQ(senders.size(), 1u);
    const SenderProfile& s = senders[0];
    EXPECT_TRUE(isNewSenderId(s.id)) << s.id;
    EXPECT_EQ(s.displayName, "Основен");
    EXPECT_EQ(s.identifier, "8001010000");
    EXPECT_EQ(s.identifierType, IdentifierType::IND_EGN);
    EXPECT_EQ(s.certificateId, "C1");
    EXPECT_EQ(s.apiKey, "key-1");
    EXPECT_EQ(s.signerEmail, "");
    EXPECT_EQ(settings.activeSenderId(), s.id);
    EXPECT_EQ(log.count("INFO", "FileSettings: migrated legacy single-sender file to id=" + s.id), 1);

    const json file = fileJson();
    EXPECT_EQ(file["activeSenderId"], s.id);
    EXPECT_FALSE(file.contains("identifier"));
    const json& stored = file["senders"][0];
    EXPECT_EQ(CryptoStore::decrypt(stored["identifier"].get<std::string>()), "8001010000");
    EXPECT_EQ(CryptoStore::decrypt(stored["apiKey"].get<std::string>()), "key-1");
    EXPECT_TRUE(stored["identifier"].get<std::string>().starts_with("dpapi:"));
    for (const auto& line : log.stop()) {
        EXPECT_EQ(line.find("8001010000"), std::string::npos);
        EXPECT_EQ(line.find("key-1"), std::string::npos);
    }
}

// ---- reading ----

TEST_F(FileSettingsTest, NoFileGivesAnEmptyStoreAndWritesNothing) {
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_TRUE(settings.listSenders().empty());
    EXPECT_EQ(settings.activeSenderId(), std::nullopt);
    EXPECT_EQ(settings.activeIdentifierType(), std::nullopt);
    EXPECT_FALSE(fs::exists(path_));
    EXPECT_TRUE(log.stop().empty());
}

TEST_F(FileSettingsTest, ReadsWhatItCanAndSkipsTheRest) {
    givenFile(
        "\xEF\xBB\xBF"
        R"({"schemaVersion":2,"activeSenderId":"nobody","senders":[
        7, "text", {"displayName":"No id"},
        {"id":"s-2","displayName":42,"identifier":"121212121","identifierType":"IND_LNCH","certificateId":"C2",
         "signerEmail":"a@b.bg","apiKey":"clear-key"}],
        "velkCloudEnabled":"yes","napRestSubmitUrl":5})");
    FileSettings settings(path_);
    const auto senders = settings.listSenders();
    ASSERT_EQ(senders.size(), 2u);
    EXPECT_EQ(senders[0].id, "");
    EXPECT_EQ(senders[0].displayName, "No id");
    EXPECT_EQ(settings.getSender(""), std::nullopt);
    EXPECT_EQ(senders[1].displayName, "");
    ASSERT_TRUE(settings.getSender("s-2"));
    EXPECT_EQ(*settings.getSender("s-2"), senders[1]);
    EXPECT_EQ(settings.getSender("S-2"), std::nullopt);

    // The active id named nobody: the first sender's id, which is empty and
    // therefore no active sender at all.
    EXPECT_EQ(settings.activeSenderId(), std::nullopt);
    settings.setActiveSender("s-2");
    EXPECT_EQ(settings.activeSenderId(), "s-2");
    EXPECT_EQ(settings.activeIdentifier(), "121212121");
    EXPECT_EQ(settings.activeIdentifierType(), "IND_LNCH");
    EXPECT_EQ(settings.activeCertificateId(), "C2");
    EXPECT_EQ(settings.activeApiKey(), "clear-key");
    EXPECT_TRUE(settings.cloudEnabled());  // "yes" does not switch the checks off
    EXPECT_EQ(settings.reserved(), std::nullopt);

    // Values typed in clear are protected by the save.
    const json stored = fileJson()["senders"][1];
    EXPECT_TRUE(stored["identifier"].get<std::string>().starts_with("dpapi:"));
    EXPECT_TRUE(stored["apiKey"].get<std::string>().starts_with("dpapi:"));
    EXPECT_EQ(fileText().find("clear-key"), std::string::npos);
}

TEST_F(FileSettingsTest, AnActiveIdWithoutSendersStaysButNamesNoSender) {
    givenFile(R"({"schemaVersion":2,"activeSenderId":"s-gone","senders":[]})");
    FileSettings settings(path_);
    EXPECT_EQ(settings.activeSenderId(), "s-gone");
    EXPECT_EQ(settings.activeIdentifier(), std::nullopt);
    EXPECT_EQ(settings.activeIdentifierType(), std::nullopt);
    EXPECT_EQ(settings.activeCertificateId(), std::nullopt);
    EXPECT_EQ(settings.activeApiKey(), std::nullopt);
}

TEST_F(FileSettingsTest, AnActiveSenderWithoutValuesAnswersOnlyItsType) {
    givenFile(R"({"schemaVersion":2,"senders":[{"id":"s-1","identifierType":"lower"}]})");
    FileSettings settings(path_);
    EXPECT_EQ(settings.activeSenderId(), "s-1");
    EXPECT_EQ(settings.activeIdentifierType(), "UNKNOWN");
    EXPECT_EQ(settings.activeIdentifier(), std::nullopt);
    EXPECT_EQ(settings.activeCertificateId(), std::nullopt);
    EXPECT_EQ(settings.activeApiKey(), std::nullopt);
}

// ---- files the store cannot use ----

// Arrays nested far deeper than any settings file needs.
std::string deeplyNested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

struct UnusableCase {
    const char* name;
    std::string text;
};
void PrintTo(const UnusableCase& c, std::ostream* os) {
    *os << c.name;
}

class UnusableFileTest : public FileSettingsTest, public testing::WithParamInterface<UnusableCase> {};

TEST_P(UnusableFileTest, IsKeptAsBadBeforeAnythingOverwritesIt) {
    const std::string original = GetParam().text;
    givenFile(original);
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_EQ(log.count("WARN", "FileSettings: settings.json is not a valid object"), 1);
    EXPECT_TRUE(settings.listSenders().empty());
    EXPECT_EQ(readFileText(path_ + ".bad"), original);

    settings.upsertSender(sender("", "New"));
    EXPECT_EQ(readFileText(path_ + ".bad"), original);
    EXPECT_EQ(fileJson()["senders"].size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, UnusableFileTest,
    testing::Values(
        UnusableCase{"Empty", ""}, UnusableCase{"Cut", "{\"senders\": ["}, UnusableCase{"Array", "[1, 2]"},
        UnusableCase{"Number", "42"}, UnusableCase{"TwoValues", "{} {}"},
        UnusableCase{"Comment", "// note\n{}"}, UnusableCase{"Trailing", "{\"senders\":[]} trailing"},
        // Copied or written recursively, such a value ran the stack
        // out at every start.
        UnusableCase{"DeepUnderCloudKey",
                     R"({"schemaVersion":2,"senders":[],"velkCloudPublicKey":)" + deeplyNested(100000) + "}"},
        UnusableCase{"DeepUnderUnknownKey", R"({"senders":[{"id":"s-1"}],"x":)" + deeplyNested(100000) + "}"},
        UnusableCase{"JustTooDeep", R"({"velkCloudIssuer":)" + deeplyNested(core::kMaxJsonDepth) + "}"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSettingsTest, AKeptFileIsNeverReplaced) {
    const std::vector<std::string> originals = {"[1]", "{\"senders\": ["};
    for (const std::string& original : originals) {
        givenFile(original);
        FileSettings settings(path_);
        settings.upsertSender(sender("", "New"));
    }
    // A file with a value of the wrong type: its copy takes the next name too.
    const std::string mistyped = R"({"schemaVersion":2,"senders":[{"id":"s-1","displayName":7}]})";
    givenFile(mistyped);
    FileSettings(path_).upsertSender(sender("s-1", "Named"));

    EXPECT_EQ(readFileText(path_ + ".bad"), originals[0]);
    EXPECT_EQ(readFileText(path_ + ".bad.1"), originals[1]);
    EXPECT_EQ(readFileText(path_ + ".bad.2"), mistyped);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"settings.json", "settings.json.bad",
                                                         "settings.json.bad.1", "settings.json.bad.2"}));
}

// A value of the wrong type for a key the store writes back would be dropped by
// the next save: the original file is kept first, and the key is named.
struct MistypedCase {
    const char* name;
    const char* text;
    const char* key;  // nullptr: nothing to keep
};
void PrintTo(const MistypedCase& c, std::ostream* os) {
    *os << c.name;
}

class MistypedValueTest : public FileSettingsTest, public testing::WithParamInterface<MistypedCase> {};

TEST_P(MistypedValueTest, KeepsTheOriginalBeforeTheFirstWrite) {
    const std::string original = GetParam().text;
    givenFile(original);
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_TRUE(settings.save());
    EXPECT_TRUE(settings.save());
    if (GetParam().key == nullptr) {
        EXPECT_EQ(log.count("WARN", "wrong type"), 0);
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.json"});
        return;
    }
    EXPECT_EQ(log.count("WARN", "FileSettings: \"" + std::string(GetParam().key) +
                                    "\" has a value of the wrong type"),
              1);
    EXPECT_EQ(log.count("WARN", "FileSettings: kept the settings file as " + path_ + ".bad"), 1);
    EXPECT_EQ(readFileText(path_ + ".bad"), original);
    EXPECT_EQ(folderEntries(), (std::vector<std::string>{"settings.json", "settings.json.bad"}));
}

INSTANTIATE_TEST_SUITE_P(
    Files, MistypedValueTest,
    testing::Values(
        MistypedCase{"RestUrlNumber", R"({"schemaVersion":2,"senders":[],"napRestSubmitUrl":5})",
                     "napRestSubmitUrl"},
        MistypedCase{"RestUrlObject", R"({"schemaVersion":2,"senders":[],"napRestStatusUrl":{"u":"x"}})",
                     "napRestStatusUrl"},
        MistypedCase{"ActiveIdArray",
                     R"({"schemaVersion":2,"activeSenderId":["s-1"],"senders":[{"id":"s-1"}]})",
                     "activeSenderId"},
        MistypedCase{"NameNumber", R"({"schemaVersion":2,"senders":[{"id":"s-1","displayName":42}]})",
                     "senders[0].displayName"},
        MistypedCase{"EmailBoolean", R"({"schemaVersion":2,"senders":[{"id":"s-1","signerEmail":true}]})",
                     "senders[0].signerEmail"},
        MistypedCase{"IdentifierObject",
                     R"({"schemaVersion":2,"senders":[{"id":"s-1"},{"id":"s-2","identifier":{"v":"1"}}]})",
                     "senders[1].identifier"},
        MistypedCase{"SenderNotAnObject", R"({"schemaVersion":2,"senders":[{"id":"s-1"},"s-2"]})",
                     "senders[1]"},
        // The first layout: rewritten at once, so the copy comes first.
        MistypedCase{"LegacyCertificateNumber", R"({"identifier":"8001010000","certificateId":5})",
                     "certificateId"},
        MistypedCase{"SendersText", R"({"schemaVersion":2,"senders":"s-1"})", "senders"},
        MistypedCase{"LegacySendersObject", R"({"identifier":"8001010000","senders":{"id":"s-1"}})",
                     "senders"},
        // Nothing the store writes back is lost here.
        MistypedCase{"UnknownKeyNumber", R"({"schemaVersion":2,"senders":[{"id":"s-1","zzz":1}],"other":[]})",
                     nullptr},
        MistypedCase{"NullValues",
                     R"({"schemaVersion":2,"napRestSubmitUrl":null,"senders":[{"id":"s-1","apiKey":null}]})",
                     nullptr},
        MistypedCase{"CloudKeyNumber", R"({"schemaVersion":2,"senders":[],"velkCloudBaseUrl":5})", nullptr},
        MistypedCase{"UnknownTypeName",
                     R"({"schemaVersion":2,"senders":[{"id":"s-1","identifierType":"x"}]})", nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSettingsTest, ManyValuesOfTheWrongTypeDoNotFloodTheLog) {
    json file = {{"schemaVersion", 2}, {"senders", json::array()}};
    for (int i = 0; i < 1000; ++i) {
        file["senders"].push_back(i);
    }
    givenFile(file.dump());
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_EQ(log.count("WARN", "wrong type"), 11);
    EXPECT_EQ(log.count("WARN", "990 more values of the wrong type"), 1);
}

TEST_F(FileSettingsTest, AFileThatCannotBeReadIsKeptAsBadToo) {
    fs::create_directories(path_);  // a folder where the file should be
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_EQ(log.count("WARN", "FileSettings::reload: cannot read " + path_), 1);
    EXPECT_TRUE(fs::is_directory(path_ + ".bad"));
    EXPECT_TRUE(settings.save());
    EXPECT_EQ(fileJson()["senders"], json::array());
}

// A FIFO, a socket or a device where settings.json belongs is the user's own
// arrangement: reading it never waits, and it is neither moved aside nor
// replaced; the store runs from memory and every save says it cannot write.
class SpecialSettingsFileTest : public FileSettingsTest, public testing::WithParamInterface<const char*> {
protected:
    void makeSpecialFile() const {
        const std::string kind = GetParam();
        fs::create_directories(fs::path(path_).parent_path());
        if (kind == "fifo") {
            test::makeFifo(path_);
        } else if (kind == "socket") {
            test::makeSocketFile(path_);
        } else if (kind == "link-to-fifo") {
            test::makeFifo(path_ + "-target");
            fs::create_symlink(path_ + "-target", path_);
        } else {
            fs::create_symlink("/dev/null", path_);
        }
    }
};

TEST_P(SpecialSettingsFileTest, IsNeitherWaitedOnNorMovedNorReplaced) {
    makeSpecialFile();
    const auto kind = fs::symlink_status(path_).type();
    const std::vector<std::string> entriesBefore = folderEntries();
    const test::ChildOutput out = test::runInChildForText([&] {
        LogCapture log;
        FileSettings settings(path_);
        const bool empty = settings.listSenders().empty();
        settings.upsertSender(sender("", "New"));
        const bool saved = settings.lastSaveSucceeded();
        const bool listed = settings.listSenders().size() == 1;
        return json{empty,
                    saved,
                    listed,
                    log.count("WARN", "FileSettings::reload: cannot read " + path_ + ": not a regular file"),
                    log.count("ERROR", "FileSettings::save: cannot write " + path_ + ": not a regular file"),
                    log.count("WARN")}
            .dump();
    });
    ASSERT_EQ(out.end, 0) << out.text;
    // Empty at start; not saved; the sender held in memory; one line each,
    // and no other warning (no attempt to keep it aside).
    EXPECT_EQ(json::parse(out.text), json::parse("[true, false, true, 1, 1, 1]"));
    EXPECT_EQ(fs::symlink_status(path_).type(), kind);
    EXPECT_EQ(folderEntries(), entriesBefore);
}

INSTANTIATE_TEST_SUITE_P(Kinds, SpecialSettingsFileTest,
                         testing::Values("fifo", "socket", "link-to-fifo", "link-to-device"),
                         [](const auto& info) {
                             std::string name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

// Read whole into memory, settings.json is held to a bound even when it is
// valid: past it the file is unusable, and kept.
TEST_F(FileSettingsTest, AFileLargerThanAnySettingsIsKeptAsBadUnread) {
    const std::string original =
        R"({"schemaVersion":2,"senders":[{"id":"s-1"}]})" + std::string(platform::kMaxSmallFileBytes, ' ');
    givenFile(original);
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_EQ(log.count("WARN", "FileSettings::reload: cannot read " + path_ + ": File too large"), 1);
    EXPECT_TRUE(settings.listSenders().empty());
    EXPECT_EQ(readFileText(path_ + ".bad"), original);
    EXPECT_TRUE(settings.save());
    EXPECT_EQ(fileJson()["senders"], json::array());
}

// ---- protected values ----

TEST_F(FileSettingsTest, ProtectedValuesRoundTripThroughTheFile) {
    std::string id;
    {
        FileSettings settings(path_);
        SenderProfile p = sender("", "Фирма", "831234567", "api-key-Ω");
        p.identifierType = IdentifierType::BUS_BULSTAT;
        p.certificateId = "THUMB";
        p.signerEmail = "x@y.bg";
        id = settings.upsertSender(p);
    }
    const std::string text = fileText();
    EXPECT_EQ(text.find("831234567"), std::string::npos);
    EXPECT_EQ(text.find("api-key"), std::string::npos);

    FileSettings again(path_);
    const auto loaded = again.getSender(id);
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->identifier, "831234567");
    EXPECT_EQ(loaded->apiKey, "api-key-Ω");
    EXPECT_EQ(loaded->identifierType, IdentifierType::BUS_BULSTAT);
    EXPECT_EQ(again.activeIdentifier(), "831234567");
}

TEST_F(FileSettingsTest, ValuesThatCannotBeOpenedAreKeptAsStored) {
    ASSERT_TRUE(CryptoStore::encrypt("ours"));  // this user's key exists
    // A blob of another user: made under another master key.
    std::string otherUsersBlob;
    {
        test::TempDir otherConfig;
        test::ScopedEnv other("XDG_CONFIG_HOME", otherConfig.str());
        otherUsersBlob = *CryptoStore::encrypt("their-id");
    }
    const json original = {
        {"schemaVersion", 2},
        {"activeSenderId", "s-1"},
        {"senders",
         {{{"id", "s-1"}, {"identifier", otherUsersBlob}, {"apiKey", "plain:their-key"}},
          {{"id", "s-2"}, {"identifier", "keychain:abc"}, {"apiKey", "dpapi:AAAA"}}}},
    };
    givenFile(original.dump());
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_EQ(log.count("WARN", "FileSettings: decryption failed — treating as empty"), 4);
    log.stop();
    EXPECT_EQ(settings.getSender("s-1")->identifier, "");
    EXPECT_EQ(settings.getSender("s-1")->apiKey, "");
    EXPECT_EQ(settings.activeIdentifier(), std::nullopt);

    // An edit that leaves the values empty keeps them; a new value replaces one.
    SenderProfile edited = *settings.getSender("s-1");
    edited.displayName = "Renamed";
    settings.upsertSender(edited);
    EXPECT_EQ(fileJson()["senders"], json::parse(R"([
        {"id":"s-1","displayName":"Renamed","identifier":")" +
                                                 otherUsersBlob + R"(","apiKey":"plain:their-key",
         "identifierType":"UNKNOWN","certificateId":"","signerEmail":""},
        {"id":"s-2","displayName":"","identifier":"keychain:abc","apiKey":"dpapi:AAAA",
         "identifierType":"UNKNOWN","certificateId":"","signerEmail":""}])"));

    edited.identifier = "my-id";
    settings.upsertSender(edited);
    const json stored = fileJson()["senders"][0];
    EXPECT_EQ(CryptoStore::decrypt(stored["identifier"].get<std::string>()), "my-id");
    EXPECT_EQ(stored["apiKey"], "plain:their-key");
}

TEST_F(FileSettingsTest, AValueThatCannotBeProtectedIsStoredInClearWithAWarning) {
    FileSettings settings(path_);
    const std::string blocker = home_.dir().sub("blocker");
    std::ofstream(blocker) << "x";
    test::ScopedEnv config("XDG_CONFIG_HOME", blocker);
    LogCapture log;
    settings.upsertSender(sender("s-1", "A", "121212121"));
    EXPECT_EQ(log.count("WARN", "FileSettings: encryption failed — storing plaintext"), 1);
    EXPECT_EQ(fileJson()["senders"][0]["identifier"], "121212121");
}

// ---- changes ----

TEST_F(FileSettingsTest, UpsertAddsReplacesInPlaceAndActivatesTheFirst) {
    FileSettings settings(path_);
    int changes = 0;
    settings.addChangeListener([&] { ++changes; });

    const std::string a = settings.upsertSender(sender("", "A"));
    EXPECT_TRUE(isNewSenderId(a)) << a;
    EXPECT_EQ(settings.activeSenderId(), a);
    const std::string b = settings.upsertSender(sender("", "B"));
    EXPECT_NE(a, b);
    EXPECT_EQ(settings.upsertSender(sender("s-fixed", "C")), "s-fixed");
    EXPECT_EQ(settings.upsertSender(sender(a, "A2")), a);
    EXPECT_EQ(changes, 4);

    const auto senders = settings.listSenders();
    ASSERT_EQ(senders.size(), 3u);
    EXPECT_EQ(senders[0].displayName, "A2");
    EXPECT_EQ(senders[1].id, b);
    EXPECT_EQ(settings.activeSenderId(), a);
    EXPECT_EQ(FileSettings(path_).listSenders(), senders);
}

TEST_F(FileSettingsTest, RemoveMovesTheActiveChoiceToTheFirstRemaining) {
    FileSettings settings(path_);
    settings.upsertSender(sender("s-1", "A"));
    settings.upsertSender(sender("s-2", "B"));
    settings.upsertSender(sender("s-3", "C"));
    settings.setActiveSender("s-2");
    int changes = 0;
    settings.addChangeListener([&] { ++changes; });

    settings.removeSender("s-2");
    EXPECT_EQ(settings.activeSenderId(), "s-1");
    settings.removeSender("s-3");
    EXPECT_EQ(settings.activeSenderId(), "s-1");
    settings.removeSender("s-1");
    EXPECT_EQ(settings.activeSenderId(), std::nullopt);
    EXPECT_EQ(changes, 3);
    EXPECT_EQ(fileJson()["senders"], json::array());
    EXPECT_EQ(fileJson()["activeSenderId"], "");
}

struct NoChangeCase {
    const char* name;
    std::function<void(FileSettings&)> call;
};
void PrintTo(const NoChangeCase& c, std::ostream* os) {
    *os << c.name;
}

class NoChangeTest : public FileSettingsTest, public testing::WithParamInterface<NoChangeCase> {};

TEST_P(NoChangeTest, NeitherSavesNorNotifies) {
    givenFile(R"({"schemaVersion":2,"activeSenderId":"s-1","senders":[{"id":"s-1"},{"id":"s-2"}]})");
    const std::string before = fileText();
    FileSettings settings(path_);
    int changes = 0;
    settings.addChangeListener([&] { ++changes; });
    GetParam().call(settings);
    EXPECT_EQ(changes, 0);
    EXPECT_EQ(fileText(), before);
    EXPECT_EQ(settings.activeSenderId(), "s-1");
}

INSTANTIATE_TEST_SUITE_P(
    Calls, NoChangeTest,
    testing::Values(NoChangeCase{"RemoveUnknown", [](FileSettings& s) { s.removeSender("s-9"); }},
                    NoChangeCase{"ActivateUnknown", [](FileSettings& s) { s.setActiveSender("s-9"); }},
                    NoChangeCase{"ActivateCurrent", [](FileSettings& s) { s.setActiveSender("s-1"); }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSettingsTest, ActivatingTheEmptyIdClearsTheChoice) {
    givenFile(R"({"schemaVersion":2,"activeSenderId":"s-1","senders":[{"id":"s-1"},{"id":"s-2"}]})");
    FileSettings settings(path_);
    int changes = 0;
    settings.addChangeListener([&] { ++changes; });
    settings.setActiveSender("s-2");
    EXPECT_EQ(fileJson()["activeSenderId"], "s-2");
    settings.setActiveSender("");
    EXPECT_EQ(settings.activeSenderId(), std::nullopt);
    EXPECT_EQ(fileJson()["activeSenderId"], "");
    EXPECT_EQ(changes, 2);
}

TEST_F(FileSettingsTest, ListenersRunAfterTheSaveWithoutTheLock) {
    FileSettings settings(path_);
    std::vector<std::string> seen;
    // Calls back into the store: with the lock still held this would deadlock.
    settings.addChangeListener([&] {
        seen.push_back(settings.activeSenderId().value_or("-") + " " +
                       fileJson()["activeSenderId"].get<std::string>());
    });
    settings.addChangeListener([&] { seen.push_back("second"); });
    settings.upsertSender(sender("s-1", "A"));
    EXPECT_EQ(seen, (std::vector<std::string>{"s-1 s-1", "second"}));
}

TEST_F(FileSettingsTest, AThrowingListenerReachesTheCallerAfterTheSave) {
    FileSettings settings(path_);
    settings.addChangeListener([] { throw std::runtime_error("listener"); });
    EXPECT_THROW(settings.upsertSender(sender("s-1", "A")), std::runtime_error);
    EXPECT_EQ(fileJson()["senders"][0]["id"], "s-1");
}

TEST_F(FileSettingsTest, ChangesFromManyThreadsAreAllKept) {
    FileSettings settings(path_);
    std::atomic<int> changes = 0;
    settings.addChangeListener([&] {
        ++changes;
        settings.listSenders();
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                settings.setActiveSender(settings.upsertSender(sender("", "S")));
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(settings.listSenders().size(), 40u);
    EXPECT_EQ(FileSettings(path_).listSenders().size(), 40u);
    EXPECT_GE(changes.load(), 40);
}

// ---- cloud values ----

TEST_F(FileSettingsTest, CloudValuesHaveDefaults) {
    FileSettings settings(path_);
    EXPECT_FALSE(settings.cloudEnabled());
    EXPECT_EQ(settings.cloudBaseUrl(), "https://cloud.vezorodar.bg");
    EXPECT_EQ(settings.cloudIssuer(), "cloud.vezorodar.bg");
    EXPECT_EQ(settings.cloudPublicKey(), "");
}

TEST_F(FileSettingsTest, CloudKeysAreHonouredAndWrittenBackUnchanged) {
    const json cloud = {
        {"velkCloudEnabled", true},
        {"velkCloudBaseUrl", "https://cloud.example"},
        {"velkCloudPublicKey", "-----BEGIN PUBLIC KEY-----\nAAAA\n-----END PUBLIC KEY-----\n"},
        {"velkCloudIssuer", "issuer.example"}};
    json file = cloud;
    file["schemaVersion"] = 2;
    file["senders"] = json::array({{{"id", "s-1"}}, {{"id", "s-2"}}});
    givenFile(file.dump());

    FileSettings settings(path_);
    EXPECT_TRUE(settings.cloudEnabled());
    EXPECT_EQ(settings.cloudBaseUrl(), "https://cloud.example");
    EXPECT_EQ(settings.cloudPublicKey(), cloud["velkCloudPublicKey"]);
    EXPECT_EQ(settings.cloudIssuer(), "issuer.example");
    settings.setActiveSender("s-2");
    const json saved = fileJson();
    for (const auto& [key, value] : cloud.items()) {
        EXPECT_EQ(saved.at(key), value) << key;
    }
}

TEST_F(FileSettingsTest, ACloudKeyOfTheWrongTypeIsKeptAsItWas) {
    givenFile(R"({"schemaVersion":1,"velkCloudEnabled":"yes","velkCloudIssuer":7,"senders":[{"id":"s-1"}]})");
    FileSettings settings(path_);  // rewritten by the format upgrade
    EXPECT_EQ(settings.cloudIssuer(), "cloud.vezorodar.bg");
    EXPECT_EQ(fileJson()["velkCloudEnabled"], "yes");
    EXPECT_EQ(fileJson()["velkCloudIssuer"], 7);
}

// A flag typed by hand must not silently switch the submission-token checks
// off: only false, "false" and 0 do.
struct CloudFlagCase {
    const char* name;
    const char* value;
    bool enabled;
    bool warned;
};
void PrintTo(const CloudFlagCase& c, std::ostream* os) {
    *os << c.name;
}

class CloudFlagTest : public FileSettingsTest, public testing::WithParamInterface<CloudFlagCase> {};

TEST_P(CloudFlagTest, ReadsAsOnUnlessPlainlyOff) {
    givenFile(std::string(R"({"schemaVersion":2,"senders":[],"velkCloudEnabled":)") + GetParam().value + "}");
    LogCapture log;
    FileSettings settings(path_);
    EXPECT_EQ(settings.cloudEnabled(), GetParam().enabled);
    EXPECT_EQ(log.count("WARN", "velkCloudEnabled"), GetParam().warned ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Values, CloudFlagTest,
    testing::Values(CloudFlagCase{"True", "true", true, false}, CloudFlagCase{"False", "false", false, false},
                    CloudFlagCase{"TextTrue", R"("true")", true, true},
                    CloudFlagCase{"TextFalse", R"("false")", false, true},
                    CloudFlagCase{"One", "1", true, true}, CloudFlagCase{"Zero", "0", false, true},
                    CloudFlagCase{"OtherText", R"("no")", true, true},
                    CloudFlagCase{"EmptyText", R"("")", true, true},
                    CloudFlagCase{"OtherNumber", "2", true, true}, CloudFlagCase{"Null", "null", true, true},
                    CloudFlagCase{"Array", "[false]", true, true}, CloudFlagCase{"Object", "{}", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- saving safely ----

TEST_F(FileSettingsTest, SaveReportsAFolderThatCannotBeMade) {
    const std::string blocker = home_.dir().sub("blocker");
    std::ofstream(blocker) << "x";
    FileSettings settings(blocker + "/VEZORodar/settings.json");
    LogCapture log;
    EXPECT_FALSE(settings.save());
    EXPECT_EQ(log.count("ERROR", "FileSettings::save: cannot create "), 1);
}

TEST_F(FileSettingsTest, TextThatIsNotUtf8FailsTheSaveAndKeepsTheOldFile) {
    FileSettings settings(path_);
    settings.upsertSender(sender("s-1", "A"));
    const std::string before = fileText();
    LogCapture log;
    settings.upsertSender(sender("s-2", "bad \xC3"));
    EXPECT_EQ(log.count("ERROR", "FileSettings::save: "), 1);
    EXPECT_EQ(fileText(), before);
    EXPECT_FALSE(settings.save());
}

// A writer that the file-size limit stops in the middle of the new file, as a
// full disk would: killed by SIGXFSZ, or failing with EFBIG when it ignores it.
struct InterruptedCase {
    const char* name;
    bool ignoreSignal;
    int expectedEnd;  // exit code, or minus the signal
};
void PrintTo(const InterruptedCase& c, std::ostream* os) {
    *os << c.name;
}

class InterruptedSaveTest : public FileSettingsTest, public testing::WithParamInterface<InterruptedCase> {};

TEST_P(InterruptedSaveTest, LeavesTheOldFileIntact) {
    givenFile(R"({"schemaVersion":2,"activeSenderId":"s-1","senders":[{"id":"s-1","displayName":"Old"}]})");
    const std::string before = fileText();
    const bool ignoreSignal = GetParam().ignoreSignal;
    const int end = test::runInChild([&] {
        FileSettings settings(path_);
        if (ignoreSignal) {
            std::signal(SIGXFSZ, SIG_IGN);
        }
        const rlimit limit{4096, 4096};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            return 3;
        }
        settings.upsertSender(sender("s-2", std::string(64 * 1024, 'x')));
        return settings.save() ? 1 : 0;
    });
    EXPECT_EQ(end, GetParam().expectedEnd);
    EXPECT_EQ(fileText(), before);
    if (ignoreSignal) {
        // A failed save cleans up after itself.
        EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.json"});
    }
    // What a killed writer left is removed at the next start.
    FileSettings again(path_);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.json"});
    EXPECT_EQ(fileText(), before);
}

INSTANTIATE_TEST_SUITE_P(Writers, InterruptedSaveTest,
                         testing::Values(InterruptedCase{"Killed", false, -SIGXFSZ},
                                         InterruptedCase{"WriteFails", true, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(FileSettingsTest, ASuccessfulSaveLeavesOnlyTheFile) {
    FileSettings settings(path_);
    settings.upsertSender(sender("s-1", "A"));
    settings.upsertSender(sender("s-2", "B"));
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"settings.json"});
}

}  // namespace
}  // namespace velk::agent
