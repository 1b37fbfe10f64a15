#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "export/FakeOperations.h"
#include "operations/SchemaFields.h"
#include "operations/SubmissionResultSchema.h"
#include "server/OpenApiExporter.h"

namespace velk::server {
namespace {

using core::operations::FieldType;
using core::operations::OperationRegistry;
using core::operations::ParamSpec;
using core::operations::ParamType;
using core::operations::ResultSchema;
using core::operations::SchemaField;
using core::operations::schemaField;
using nlohmann::json;
using test::BareOperation;
using test::FakeAnswers;
using test::fakeFactory;
using test::FakeInquiry;
using test::FakeSubmission;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

SchemaField field(FieldType type, bool nullable = false, std::string label = {},
                  std::string description = {}) {
    return schemaField("f", std::move(label), type, nullable, std::move(description));
}

SchemaField enumOf(std::vector<std::string> values) {
    SchemaField f = field(FieldType::Enum);
    f.enumValues = std::move(values);
    return f;
}

SchemaField table(std::string name, std::string itemName, std::vector<SchemaField> members) {
    return core::operations::rowsField(std::move(name), "", "", std::move(itemName), std::move(members));
}

ParamSpec param(std::string name, ParamType type, bool required = false) {
    ParamSpec answers;
    answers.name = std::move(name);
    answers.type = type;
    answers.required = required;
    return answers;
}

TEST(OpenApiExporterFieldSchema, MapsEveryFieldType) {
    struct Case {
        SchemaField field;
        json expected;
    };
    SchemaField rows = table("rows", "RowItem", {});
    const std::vector<Case> cases = {
        {field(FieldType::String), {{"type", "string"}}},
        {field(FieldType::Integer), {{"type", "integer"}, {"format", "int64"}}},
        {field(FieldType::Number), {{"type", "number"}, {"format", "double"}}},
        {field(FieldType::Date), {{"type", "string"}, {"format", "date"}}},
        {field(FieldType::DateTime), {{"type", "string"}, {"format", "date-time"}}},
        {field(FieldType::Boolean), {{"type", "boolean"}}},
        {enumOf({"ok", "error"}), {{"type", "string"}, {"enum", {"ok", "error"}}}},
        {enumOf({}), {{"type", "string"}}},
        {field(FieldType::StringArray), {{"type", "array"}, {"items", {{"type", "string"}}}}},
        {rows, {{"type", "array"}, {"items", {{"$ref", "#/components/schemas/RowItem"}}}}},
        {field(static_cast<FieldType>(42)), json::object()},
        {field(FieldType::Integer, true, "Година", "Описание"),
         {{"type", "integer"},
          {"format", "int64"},
          {"nullable", true},
          {"title", "Година"},
          {"description", "Описание"}}},
        {field(static_cast<FieldType>(-1), true), {{"nullable", true}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OpenApiExporter::fieldSchema(c.field), c.expected) << c.expected.dump();
    }
}

TEST(OpenApiExporterInputFieldSchema, MapsEveryParameterType) {
    struct Case {
        ParamSpec param;
        json expected;
    };
    ParamSpec year = param("year", ParamType::Year);
    year.defaultValue = "2025";
    year.label = "Година";
    year.description = "Отчетна година";
    ParamSpec flag = param("flag", ParamType::Boolean);
    flag.defaultValue = "true";
    ParamSpec choice = param("format", ParamType::Enum);
    choice.allowedValues = {"xml", "csv"};
    ParamSpec emptyDefault = param("s", ParamType::String);
    emptyDefault.defaultValue = "";
    const std::vector<Case> cases = {
        {param("s", ParamType::String), {{"type", "string"}}},
        {param("i", ParamType::Integer), {{"type", "integer"}, {"format", "int64"}}},
        {param("d", ParamType::Decimal), {{"type", "number"}, {"format", "double"}}},
        {param("d", ParamType::Date), {{"type", "string"}, {"format", "date"}}},
        {param("m", ParamType::Month), {{"type", "integer"}, {"minimum", 1}, {"maximum", 12}}},
        {param("b", ParamType::Boolean), {{"type", "boolean"}}},
        {param("eik", ParamType::Eik), {{"type", "string"}, {"pattern", "^[0-9]{9,13}$"}}},
        {param("e", ParamType::Enum), {{"type", "string"}}},
        {choice, {{"type", "string"}, {"enum", {"xml", "csv"}}}},
        {param("x", static_cast<ParamType>(99)), json::object()},
        // Defaults are texts whatever the type: a year's default is the string "2025".
        {year,
         {{"type", "integer"},
          {"minimum", 1900},
          {"maximum", 2999},
          {"default", "2025"},
          {"title", "Година"},
          {"description", "Отчетна година"}}},
        {flag, {{"type", "boolean"}, {"default", "true"}}},
        {emptyDefault, {{"type", "string"}, {"default", ""}}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OpenApiExporter::inputFieldSchema(c.param), c.expected) << c.expected.dump();
    }
    const json yearSchema = OpenApiExporter::inputFieldSchema(year);
    EXPECT_TRUE(yearSchema["minimum"].is_number_integer());
    EXPECT_TRUE(yearSchema["maximum"].is_number_integer());
    EXPECT_TRUE(yearSchema["default"].is_string());
}

TEST(OpenApiExporterPascalCase, DropsSeparatorsAndUpperCasesAsciiOnly) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"due_amounts", "DueAmounts"},
        {"dec1_6", "Dec16"},
        {"vat_result", "VatResult"},
        {"a-b c", "ABC"},
        {"__x__", "X"},
        {"already Pascal", "AlreadyPascal"},
        {"", ""},
        {"_", ""},
        {"1st_item", "1stItem"},
        {"данни_за_ддс", "даннизаддс"},
        {"é_x", "éX"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(OpenApiExporter::toPascalCase(text), expected) << text;
    }
}

TEST(OpenApiExporterRequestSchema, HasEmptyPropertiesAndNoRequiredWithoutParameters) {
    EXPECT_EQ(OpenApiExporter::requestSchema({}), json({{"properties", json::object()}, {"type", "object"}}));
    EXPECT_EQ(OpenApiExporter::requestSchema({}).dump(), R"({"properties":{},"type":"object"})");
}

TEST(OpenApiExporterRequestSchema, ListsRequiredParametersInOrderAndLetsALaterNameWin) {
    ParamSpec later = param("eik", ParamType::String, true);
    later.label = "второ";
    const json schema =
        OpenApiExporter::requestSchema({param("year", ParamType::Year, true), param("eik", ParamType::Eik),
                                        param("month", ParamType::Month, true), later});

    EXPECT_EQ(schema["properties"].size(), 3u);
    EXPECT_EQ(schema["properties"]["eik"], json({{"type", "string"}, {"title", "второ"}}));
    EXPECT_EQ(schema["required"], json({"year", "month", "eik"}));

    const json optional = OpenApiExporter::requestSchema({param("eik", ParamType::Eik)});
    EXPECT_FALSE(optional.contains("required"));
}

TEST(OpenApiExporterResultSchema, RequiresOnlyNonNullableFieldsAndRegistersTables) {
    json schemas = json::object();
    OpenApiExporter::ItemNames names;
    const ResultSchema schema{
        "Out",
        {schemaField("status", "", FieldType::String, false, ""),
         schemaField("error", "", FieldType::String, true, ""),
         table("items", "OutItem", {schemaField("n", "", FieldType::Integer, false, "")})}};

    const json result = OpenApiExporter::resultSchema(schema, schemas, names);

    EXPECT_EQ(result["type"], "object");
    EXPECT_EQ(result["required"], json({"status", "items"}));
    EXPECT_EQ(result["properties"]["error"]["nullable"], true);
    EXPECT_EQ(result["properties"]["items"]["items"]["$ref"], "#/components/schemas/OutItem");
    EXPECT_THAT(names, ElementsAre("OutItem"));
    EXPECT_TRUE(schemas.contains("OutItem"));

    const ResultSchema allNullable{"N", {schemaField("a", "", FieldType::Date, true, "")}};
    EXPECT_FALSE(OpenApiExporter::resultSchema(allNullable, schemas, names).contains("required"));
}

TEST(OpenApiExporterRegisterItemSchema, KeepsTheFirstVersionOfAnItemName) {
    json schemas = json::object();
    OpenApiExporter::ItemNames names;
    OpenApiExporter::registerItemSchema(schemas,
                                        table("a", "Row",
                                              {schemaField("id", "", FieldType::String, false, ""),
                                               schemaField("note", "", FieldType::String, true, "")}),
                                        names);
    OpenApiExporter::registerItemSchema(
        schemas, table("b", "Row", {schemaField("other", "", FieldType::Integer, false, "")}), names);

    EXPECT_EQ(schemas["Row"],
              json({{"type", "object"},
                    {"properties",
                     {{"id", {{"type", "string"}}}, {"note", {{"type", "string"}, {"nullable", true}}}}},
                    {"required", {"id"}}}));

    OpenApiExporter::registerItemSchema(
        schemas, table("c", "Loose", {schemaField("x", "", FieldType::String, true, "")}), names);
    EXPECT_FALSE(schemas["Loose"].contains("required"));
}

TEST(OpenApiExporterRegisterItemSchema, IgnoresScalarsAndNamelessTables) {
    json schemas = json::object();
    OpenApiExporter::ItemNames names;
    SchemaField scalar = schemaField("s", "", FieldType::String, false, "");
    scalar.itemSchema = "NotATable";
    OpenApiExporter::registerItemSchema(schemas, scalar, names);
    OpenApiExporter::registerItemSchema(schemas, table("t", "", {}), names);
    EXPECT_EQ(schemas, json::object());
    EXPECT_TRUE(names.empty());
}

// --- the whole document, from a registry of fakes ---

FakeAnswers inquiryAnswers(std::string group, std::string schemaName = {},
                           std::vector<SchemaField> fields = {}) {
    FakeAnswers answers;
    answers.groupId = std::move(group);
    answers.groupName = "Група " + answers.groupId;
    answers.schema = {std::move(schemaName), std::move(fields)};
    return answers;
}

json build(const OperationRegistry& registry) {
    return OpenApiExporter::buildDocument("VELK Agent API", "9.8.7", "http://127.0.0.1:5999", registry);
}

TEST(OpenApiExporterDocument, DescribesTheFixedPartsFromItsArguments) {
    OperationRegistry registry;
    const json document = build(registry);

    EXPECT_EQ(document["openapi"], "3.0.3");
    EXPECT_EQ(document["info"]["title"], "VELK Agent API");
    EXPECT_EQ(document["info"]["version"], "9.8.7");
    EXPECT_THAT(document["info"]["description"].get<std::string>(),
                HasSubstr("POST /api/v1/operations/<typeId>"));
    ASSERT_EQ(document["servers"].size(), 1u);
    EXPECT_EQ(document["servers"][0]["url"], "http://127.0.0.1:5999");
    EXPECT_EQ(document["servers"][0]["description"], "VELK Agent (locally running, port 5123)");
    EXPECT_EQ(document["paths"], json::object());
    EXPECT_EQ(document["tags"], json::array());

    const json& schemas = document["components"]["schemas"];
    EXPECT_EQ(schemas.size(), 2u);
    EXPECT_EQ(schemas["AgentError"]["required"], json({"error"}));
    EXPECT_EQ(schemas["AgentError"]["properties"]["error"]["type"], "string");
    EXPECT_FALSE(schemas["AgentUpdateRequired"].contains("required"));
    EXPECT_EQ(schemas["AgentUpdateRequired"]["properties"],
              json({{"error", {{"type", "string"}}},
                    {"agentVersion", {{"type", "string"}}},
                    {"requiredVersion", {{"type", "string"}}}}));

    const json& bearer = document["components"]["securitySchemes"]["BearerAuth"];
    EXPECT_EQ(bearer["type"], "http");
    EXPECT_EQ(bearer["scheme"], "bearer");
    EXPECT_EQ(bearer["bearerFormat"], "JWT");
    EXPECT_EQ(bearer["description"],
              "Submission token издаден от cloud.vezorodar.bg (`POST /api/v1/tokens/issue`).");
}

TEST(OpenApiExporterDocument, BuildsOnePathPerOperationWithItsComponents) {
    OperationRegistry registry;
    FakeAnswers inquiry =
        inquiryAnswers("payments", "DuePayments",
                       {schemaField("total", "", FieldType::Number, false, ""),
                        table("items", "DueItem", {schemaField("id", "", FieldType::String, false, "")})});
    inquiry.params = {param("eik", ParamType::Eik, true)};
    inquiry.requiresToken = true;
    FakeAnswers submission = inquiryAnswers("dec1", "", core::operations::submissionResultSchema("").fields);
    submission.params = {param("month", ParamType::Month)};
    ASSERT_TRUE(registry.registerOperation("due_payments", fakeFactory<FakeInquiry>(inquiry)));
    ASSERT_TRUE(registry.registerOperation("dec1_submit", fakeFactory<FakeSubmission>(submission)));
    ASSERT_TRUE(registry.registerOperation("bare", fakeFactory<BareOperation>(inquiryAnswers("x", "", {}))));

    const json document = build(registry);
    const json& schemas = document["components"]["schemas"];
    const json& paths = document["paths"];

    ASSERT_EQ(paths.size(), 3u);
    const json& post = paths["/api/v1/operations/due_payments"]["post"];
    EXPECT_EQ(paths["/api/v1/operations/due_payments"].size(), 1u);
    EXPECT_EQ(post["operationId"], "due_payments");
    EXPECT_EQ(post["summary"], "Фалшива операция");
    EXPECT_EQ(post["description"], "Описание.");
    EXPECT_EQ(post["tags"], json({"payments"}));
    EXPECT_EQ(
        post["requestBody"],
        json(
            {{"required", true},
             {"content",
              {{"application/json", {{"schema", {{"$ref", "#/components/schemas/DuePaymentsRequest"}}}}}}}}));
    EXPECT_EQ(post["security"], json::parse(R"([{"BearerAuth": []}])"));

    const std::vector<std::pair<std::string, std::string>> responses = {
        {"200", "#/components/schemas/DuePayments"},
        {"401", "#/components/schemas/AgentError"},
        {"426", "#/components/schemas/AgentUpdateRequired"},
        {"502", "#/components/schemas/AgentError"},
    };
    EXPECT_EQ(post["responses"].size(), responses.size());
    for (const auto& [code, ref] : responses) {
        EXPECT_EQ(post["responses"][code]["content"]["application/json"]["schema"]["$ref"], ref) << code;
        EXPECT_FALSE(post["responses"][code]["description"].get<std::string>().empty()) << code;
    }

    EXPECT_EQ(schemas["DuePaymentsRequest"]["required"], json({"eik"}));
    EXPECT_EQ(schemas["DuePayments"]["required"], json({"total", "items"}));
    EXPECT_TRUE(schemas.contains("DueItem"));

    // A submission's parameters come from its own interface; without a token it has no "security".
    const json& submit = paths["/api/v1/operations/dec1_submit"]["post"];
    EXPECT_FALSE(submit.contains("security"));
    EXPECT_EQ(submit["responses"].size(), 4u);
    EXPECT_EQ(schemas["Dec1SubmitRequest"]["properties"]["month"]["maximum"], 12);
    EXPECT_EQ(submit["responses"]["200"]["content"]["application/json"]["schema"]["$ref"],
              "#/components/schemas/Dec1SubmitResult");

    // Neither an inquiry nor a submission: no parameters; no fields: the generic envelope.
    EXPECT_EQ(schemas["BareRequest"].dump(), R"({"properties":{},"type":"object"})");
    EXPECT_EQ(schemas["BareResult"]["properties"], json({{"columns", {{"type", "array"}}},
                                                         {"rows", {{"type", "array"}}},
                                                         {"metadata", {{"type", "object"}}}}));
    EXPECT_THAT(schemas["BareResult"]["description"].get<std::string>(), HasSubstr("generic envelope"));
    EXPECT_FALSE(schemas["BareResult"].contains("required"));
}

TEST(OpenApiExporterDocument, NamesTheEnvelopeAfterTheSchemaWhenItHasAName) {
    OperationRegistry registry;
    ASSERT_TRUE(
        registry.registerOperation("vat_files", fakeFactory<FakeInquiry>(inquiryAnswers("vat", "VatFiles"))));
    const json schemas = build(registry)["components"]["schemas"];
    EXPECT_TRUE(schemas.contains("VatFiles"));
    EXPECT_FALSE(schemas.contains("VatFilesResult"));
    EXPECT_EQ(schemas["VatFiles"]["properties"]["metadata"]["type"], "object");
}

TEST(OpenApiExporterDocument, LetsLaterComponentsReplaceEarlierOnesButKeepsTheFirstItem) {
    OperationRegistry registry;
    // Registered out of order: the export walks ascending typeId, so a_first comes first.
    ASSERT_TRUE(registry.registerOperation(
        "b_second",
        fakeFactory<FakeInquiry>(inquiryAnswers(
            "g", "Shared",
            {schemaField("second", "", FieldType::String, false, ""),
             table("rows", "Row", {schemaField("secondCell", "", FieldType::String, false, "")})}))));
    ASSERT_TRUE(registry.registerOperation(
        "a_first",
        fakeFactory<FakeInquiry>(inquiryAnswers(
            "g", "Shared",
            {schemaField("first", "", FieldType::String, false, ""),
             table("rows", "Row", {schemaField("firstCell", "", FieldType::String, false, "")})}))));
    // Its result component is named like the request component of "z_last", which is written later.
    ASSERT_TRUE(registry.registerOperation(
        "c_third", fakeFactory<FakeInquiry>(inquiryAnswers(
                       "g", "ZLastRequest", {schemaField("result", "", FieldType::String, false, "")}))));
    FakeAnswers last = inquiryAnswers("g");
    last.params = {param("eik", ParamType::Eik)};
    ASSERT_TRUE(registry.registerOperation("z_last", fakeFactory<FakeInquiry>(last)));

    const json schemas = build(registry)["components"]["schemas"];

    EXPECT_TRUE(schemas["Shared"]["properties"].contains("second"));
    EXPECT_FALSE(schemas["Shared"]["properties"].contains("first"));
    EXPECT_TRUE(schemas["Row"]["properties"].contains("firstCell"));
    EXPECT_FALSE(schemas["Row"]["properties"].contains("secondCell"));
    EXPECT_EQ(schemas["ZLastRequest"]["properties"],
              json({{"eik", {{"type", "string"}, {"pattern", "^[0-9]{9,13}$"}}}}));
}

TEST(OpenApiExporterDocument, MakesOneTagPerGroupInTypeIdOrder) {
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("d_vat", fakeFactory<FakeInquiry>(inquiryAnswers("vat"))));
    ASSERT_TRUE(
        registry.registerOperation("c_payments", fakeFactory<FakeInquiry>(inquiryAnswers("payments"))));
    ASSERT_TRUE(registry.registerOperation("b_vat", fakeFactory<FakeSubmission>(inquiryAnswers("vat"))));
    ASSERT_TRUE(registry.registerOperation("a_loose", fakeFactory<FakeInquiry>(inquiryAnswers(""))));

    const json document = build(registry);

    EXPECT_EQ(document["tags"], json::parse(R"([{"name": "vat", "description": "Група vat"},
                                                {"name": "payments", "description": "Група payments"}])"));
    EXPECT_EQ(document["paths"]["/api/v1/operations/a_loose"]["post"]["tags"], json({""}));
}

TEST(OpenApiExporterDocument, LeavesOutAnOperationTheRegistryCannotMake) {
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("gone", test::vanishingFactory()));
    ASSERT_TRUE(registry.registerOperation("kept", fakeFactory<FakeInquiry>(inquiryAnswers("g"))));

    const json document = build(registry);

    EXPECT_EQ(document["paths"].size(), 1u);
    EXPECT_TRUE(document["paths"].contains("/api/v1/operations/kept"));
    EXPECT_FALSE(document["components"]["schemas"].contains("GoneRequest"));
    EXPECT_EQ(document["tags"].size(), 1u);
}

TEST(OpenApiExporterDocument, PrintsMembersInKeyOrder) {
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("zeta", fakeFactory<FakeInquiry>(inquiryAnswers("g"))));
    ASSERT_TRUE(registry.registerOperation("alpha", fakeFactory<FakeInquiry>(inquiryAnswers("g"))));

    const std::string text = build(registry).dump(2);

    EXPECT_EQ(text.rfind("{\n  \"components\": {", 0), 0u);
    EXPECT_LT(text.find("\"/api/v1/operations/alpha\""), text.find("\"/api/v1/operations/zeta\""));
    EXPECT_GT(text.rfind("\n  \"tags\": ["), text.rfind("\n  \"servers\": ["));
}

}  // namespace
}  // namespace velk::server
