#include <sstream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "agent/ExportSchemaMode.h"
#include "export/FakeOperations.h"
#include "operations/SchemaFields.h"

namespace velk::agent {
namespace {

using core::operations::FieldType;
using core::operations::OperationRegistry;
using core::operations::schemaField;
using nlohmann::json;
using test::FakeAnswers;
using test::fakeFactory;
using test::FakeInquiry;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

TEST(ExportSchemaMode, IsAskedForByTheExactFlagAnywhereAfterTheProgramName) {
    struct Case {
        std::vector<const char*> args;
        bool wanted;
    };
    const std::vector<Case> cases = {
        {{"VezoRodarC"}, false},
        {{"VezoRodarC", "--export-schema"}, true},
        {{"VezoRodarC", "--show", "--export-schema"}, true},
        {{"VezoRodarC", "vezorodar://open", "--export-schema", "--silent"}, true},
        {{"VezoRodarC", "--export-schema=yes"}, false},
        {{"VezoRodarC", "--EXPORT-SCHEMA"}, false},
        {{"VezoRodarC", "export-schema"}, false},
        {{"--export-schema"}, false},
        {{}, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(wantsSchemaExport(static_cast<int>(c.args.size()), c.args.data()), c.wanted)
            << (c.args.size() > 1 ? c.args[1] : "(none)");
    }
}

FakeAnswers validAnswers() {
    FakeAnswers answers;
    answers.schema = {"Out", {schemaField("value", "Стойност", FieldType::String, false, "")}};
    return answers;
}

struct ExportRun {
    int exitCode;
    std::string out;
    std::string err;
};

ExportRun runWith(const OperationRegistry& registry) {
    std::ostringstream out;
    std::ostringstream err;
    const int exitCode = runSchemaExport(out, err, registry);
    return {exitCode, out.str(), err.str()};
}

TEST(ExportSchemaMode, PrintsTheDocumentWithAnIndentOfTwo) {
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("good_one", fakeFactory<FakeInquiry>(validAnswers())));

    const ExportRun run = runWith(registry);

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_THAT(run.err, IsEmpty());
    const json document = json::parse(run.out);
    EXPECT_EQ(run.out, document.dump(2) + "\n");
    EXPECT_EQ(run.out.rfind("{\n  \"components\": {\n    \"schemas\": {", 0), 0u);
    EXPECT_EQ(document["info"]["title"], "VELK Agent API");
    EXPECT_EQ(document["info"]["version"], "0.1.0");
    EXPECT_EQ(document["servers"][0]["url"], "http://127.0.0.1:5123");
    EXPECT_TRUE(document["paths"].contains("/api/v1/operations/good_one"));
}

TEST(ExportSchemaMode, ListsTheIssuesAndPrintsNoDocumentWhenAFixtureIsBroken) {
    FakeAnswers broken = validAnswers();
    broken.inquiryFixture = core::operations::InquiryResult{};
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("broken", fakeFactory<FakeInquiry>(broken)));
    ASSERT_TRUE(registry.registerOperation("gone", test::vanishingFactory()));
    ASSERT_TRUE(registry.registerOperation("good_one", fakeFactory<FakeInquiry>(validAnswers())));

    const ExportRun run = runWith(registry);

    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.out, IsEmpty());
    EXPECT_EQ(
        run.err,
        "ERROR: testFixture / resultSchema mismatch detected (2 issue(s)):\n"
        "  * broken.value: projected value is the type-fallback (likely a missing column id in testFixture)\n"
        "  * gone: registry returned null factory\n"
        "\nFix the listed operations' testFixture() so every schema field receives a real value. Build "
        "refuses to ship an installer where test mode would lie about the shape of production responses.\n");
}

TEST(ExportSchemaMode, PrintsNothingWhenTheDocumentCannotBeSerialized) {
    FakeAnswers answers = validAnswers();
    answers.description = "\xC3\x28 not UTF-8";
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("bad_text", fakeFactory<FakeInquiry>(answers)));

    const ExportRun run = runWith(registry);

    EXPECT_EQ(run.exitCode, 2);
    EXPECT_THAT(run.out, IsEmpty());
    EXPECT_THAT(run.err, HasSubstr("ERROR: OpenAPI export failed: "));
}

TEST(ExportSchemaMode, FailsWhenTheDocumentCannotBeWritten) {
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("good_one", fakeFactory<FakeInquiry>(validAnswers())));
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    std::ostringstream err;

    EXPECT_EQ(runSchemaExport(out, err, registry), 2);
    EXPECT_THAT(err.str(), HasSubstr("could not be written"));
}

}  // namespace
}  // namespace velk::agent
