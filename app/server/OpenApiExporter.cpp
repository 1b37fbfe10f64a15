#include "server/OpenApiExporter.h"

#include <memory>
#include <utility>

#include "common/AgencyEndpoints.h"
#include "common/TextUtils.h"
#include "operations/IInquiry.h"
#include "operations/ISubmission.h"

namespace velk::server {

namespace {

using core::operations::FieldType;
using core::operations::IVelkOperation;
using core::operations::OperationDescriptor;
using core::operations::OperationRegistry;
using core::operations::ParamSpec;
using core::operations::ParamType;
using core::operations::ResultSchema;
using core::operations::SchemaField;
using nlohmann::json;

constexpr const char* kOpenApiVersion = "3.0.3";
constexpr const char* kInfoDescription =
    "Машинно-генерирана документация на REST API на VELK Agent. Всяка операция (декларация / справка) се "
    "извиква на свой POST /api/v1/operations/<typeId> с typed входен и изходен JSON. Генерирайте client SDK "
    "с "
    "openapi-generator / NSwag / Swagger Codegen.";
constexpr const char* kServerDescription = "VELK Agent (locally running, port 5123)";
constexpr const char* kOperationPathPrefix = "/api/v1/operations/";
constexpr const char* kComponentRefPrefix = "#/components/schemas/";
constexpr const char* kAgentError = "AgentError";
constexpr const char* kAgentUpdateRequired = "AgentUpdateRequired";
constexpr const char* kBearerAuth = "BearerAuth";

json refTo(const std::string& component) {
    json ref = json::object();
    ref["$ref"] = kComponentRefPrefix + component;
    return ref;
}

// {"application/json": {"schema": {"$ref": ...}}}
json jsonContent(const std::string& component) {
    json media = json::object();
    media["schema"] = refTo(component);
    json content = json::object();
    content["application/json"] = std::move(media);
    return content;
}

json response(const char* description, const std::string& component) {
    json answer = json::object();
    answer["description"] = description;
    answer["content"] = jsonContent(component);
    return answer;
}

json agentErrorComponent() {
    json error = json::object();
    error["type"] = "string";
    error["description"] = "Описание на грешката.";
    json component = json::object();
    component["type"] = "object";
    component["properties"]["error"] = std::move(error);
    component["required"] = json::array({"error"});
    return component;
}

json agentUpdateRequiredComponent() {
    const json text = {{"type", "string"}};
    json component = json::object();
    component["type"] = "object";
    component["description"] = "Връща се с HTTP 426 когато cloud-ът изисква по-нова версия на агента.";
    component["properties"]["error"] = text;
    component["properties"]["agentVersion"] = text;
    component["properties"]["requiredVersion"] = text;
    return component;
}

// The shape of a result whose schema has no fields: columns / rows / metadata.
json genericEnvelopeComponent() {
    json component = json::object();
    component["type"] = "object";
    component["description"] =
        "Тази операция още не е мигрирана към typed schema; връща се generic envelope с columns / rows / "
        "metadata.";
    component["properties"]["columns"] = {{"type", "array"}};
    component["properties"]["rows"] = {{"type", "array"}};
    component["properties"]["metadata"] = {{"type", "object"}};
    return component;
}

// The host of the maker's cloud service, which issues the submission tokens.
std::string cloudHost() {
    std::string_view url = core::AgencyEndpoints::kCloudBaseUrl;
    if (const auto scheme = url.find("://"); scheme != std::string_view::npos) {
        url.remove_prefix(scheme + 3);
    }
    return std::string(url.substr(0, url.find('/')));
}

json bearerAuthScheme() {
    json scheme = json::object();
    scheme["type"] = "http";
    scheme["scheme"] = "bearer";
    scheme["bearerFormat"] = "JWT";
    scheme["description"] = "Submission token издаден от " + cloudHost() + " (`POST /api/v1/tokens/issue`).";
    return scheme;
}

std::vector<ParamSpec> paramsOf(const IVelkOperation& operation) {
    if (const auto* inquiry = dynamic_cast<const core::operations::IInquiry*>(&operation)) {
        return inquiry->params();
    }
    if (const auto* submission = dynamic_cast<const core::operations::ISubmission*>(&operation)) {
        return submission->params();
    }
    return {};
}

json operationObject(const OperationDescriptor& descriptor, const IVelkOperation& operation,
                     const std::string& requestName, const std::string& resultName) {
    json body = json::object();
    body["required"] = true;
    body["content"] = jsonContent(requestName);

    json responses = json::object();
    responses["200"] = response("Успешно изпълнение.", resultName);
    responses["401"] = response("Невалиден / липсващ JWT (когато операцията изисква EIK).", kAgentError);
    responses["426"] =
        response("Cloud-ът изисква по-нова версия на агента (`min_ver` JWT claim не е удовлетворен).",
                 kAgentUpdateRequired);
    responses["502"] = response("Грешка при изпълнение на операцията (портал / валидация).", kAgentError);

    json post = json::object();
    post["operationId"] = descriptor.typeId;
    post["summary"] = descriptor.displayName;
    post["description"] = operation.description();
    // Also an empty group id: the operation still names its (nameless) group.
    post["tags"] = json::array({operation.featureGroupId()});
    post["requestBody"] = std::move(body);
    post["responses"] = std::move(responses);
    if (operation.requiresSubmissionToken()) {
        json requirement = json::object();
        requirement[kBearerAuth] = json::array();
        post["security"] = json::array({std::move(requirement)});
    }
    return post;
}

// One tag per feature group, at the position of its first operation in typeId order.
json tagsOf(const OperationRegistry& registry) {
    json tags = json::array();
    std::set<std::string> seen;
    for (const auto& descriptor : registry.list()) {
        const std::unique_ptr<IVelkOperation> operation = registry.create(descriptor.typeId);
        if (!operation) {
            continue;
        }
        std::string groupId = operation->featureGroupId();
        if (groupId.empty() || !seen.insert(groupId).second) {
            continue;
        }
        json tag = json::object();
        tag["name"] = std::move(groupId);
        tag["description"] = operation->featureGroupName();
        tags.push_back(std::move(tag));
    }
    return tags;
}

// A "required" list is written only when it names something.
void setRequired(json& schema, json required) {
    if (!required.empty()) {
        schema["required"] = std::move(required);
    }
}

}  // namespace

json OpenApiExporter::buildDocument(const std::string& title, const std::string& version,
                                    const std::string& serverUrl, const OperationRegistry& registry) {
    json document = json::object();
    document["openapi"] = kOpenApiVersion;
    document["info"] = {{"title", title}, {"version", version}, {"description", kInfoDescription}};
    json server = json::object();
    server["url"] = serverUrl;
    server["description"] = kServerDescription;
    document["servers"] = json::array({std::move(server)});

    json schemas = json::object();
    schemas[kAgentError] = agentErrorComponent();
    schemas[kAgentUpdateRequired] = agentUpdateRequiredComponent();
    json paths = json::object();
    ItemNames itemNames;
    for (const auto& descriptor : registry.list()) {
        const std::unique_ptr<IVelkOperation> operation = registry.create(descriptor.typeId);
        if (!operation) {
            continue;  // the fixture check, which runs first, reports it
        }
        const ResultSchema schema = operation->resultSchema();
        const std::string baseName = toPascalCase(descriptor.typeId);
        const std::string requestName = baseName + "Request";
        const std::string resultName = schema.name.empty() ? baseName + "Result" : schema.name;

        // One namespace for all components: a later request or result of the same name replaces the earlier.
        schemas[requestName] = requestSchema(paramsOf(*operation));
        json result =
            schema.fields.empty() ? genericEnvelopeComponent() : resultSchema(schema, schemas, itemNames);
        schemas[resultName] = std::move(result);

        json pathItem = json::object();
        pathItem["post"] = operationObject(descriptor, *operation, requestName, resultName);
        paths[kOperationPathPrefix + descriptor.typeId] = std::move(pathItem);
    }

    json components = json::object();
    components["schemas"] = std::move(schemas);
    components["securitySchemes"][kBearerAuth] = bearerAuthScheme();
    document["tags"] = tagsOf(registry);
    document["components"] = std::move(components);
    document["paths"] = std::move(paths);
    return document;
}

json OpenApiExporter::requestSchema(const std::vector<ParamSpec>& params) {
    json schema = json::object();
    schema["type"] = "object";
    json properties = json::object();
    json required = json::array();
    for (const auto& param : params) {
        properties[param.name] = inputFieldSchema(param);
        if (param.required) {
            required.push_back(param.name);
        }
    }
    schema["properties"] = std::move(properties);
    setRequired(schema, std::move(required));
    return schema;
}

json OpenApiExporter::resultSchema(const ResultSchema& schema, json& schemas, ItemNames& itemNames) {
    json result = json::object();
    result["type"] = "object";
    json properties = json::object();
    json required = json::array();
    for (const auto& field : schema.fields) {
        registerItemSchema(schemas, field, itemNames);
        properties[field.name] = fieldSchema(field);
        if (!field.nullable) {
            required.push_back(field.name);
        }
    }
    result["properties"] = std::move(properties);
    setRequired(result, std::move(required));
    return result;
}

void OpenApiExporter::registerItemSchema(json& schemas, const SchemaField& field, ItemNames& itemNames) {
    if (field.type != FieldType::ObjectArray || field.itemSchema.empty()) {
        return;
    }
    if (!itemNames.insert(field.itemSchema).second) {
        return;
    }
    // Only one level: an item's own tables are referenced, not registered (the schemas nest no deeper).
    json item = json::object();
    item["type"] = "object";
    json properties = json::object();
    json required = json::array();
    for (const auto& child : field.fields) {
        properties[child.name] = fieldSchema(child);
        if (!child.nullable) {
            required.push_back(child.name);
        }
    }
    item["properties"] = std::move(properties);
    setRequired(item, std::move(required));
    schemas[field.itemSchema] = std::move(item);
}

json OpenApiExporter::fieldSchema(const SchemaField& field) {
    json schema = json::object();
    switch (field.type) {
        case FieldType::String:
            schema["type"] = "string";
            break;
        case FieldType::Integer:
            schema["type"] = "integer";
            schema["format"] = "int64";
            break;
        case FieldType::Number:
            schema["type"] = "number";
            schema["format"] = "double";
            break;
        case FieldType::Date:
            schema["type"] = "string";
            schema["format"] = "date";
            break;
        case FieldType::DateTime:
            schema["type"] = "string";
            schema["format"] = "date-time";
            break;
        case FieldType::Boolean:
            schema["type"] = "boolean";
            break;
        case FieldType::Enum:
            schema["type"] = "string";
            if (!field.enumValues.empty()) {
                schema["enum"] = field.enumValues;
            }
            break;
        case FieldType::StringArray:
            schema["type"] = "array";
            schema["items"] = {{"type", "string"}};
            break;
        case FieldType::ObjectArray:
            schema["type"] = "array";
            schema["items"] = refTo(field.itemSchema);
            break;
        default:
            break;  // a value cast in from outside the enumeration describes no type
    }
    if (field.nullable) {
        schema["nullable"] = true;
    }
    if (!field.description.empty()) {
        schema["description"] = field.description;
    }
    if (!field.label.empty()) {
        schema["title"] = field.label;
    }
    return schema;
}

json OpenApiExporter::inputFieldSchema(const ParamSpec& param) {
    json schema = json::object();
    switch (param.type) {
        case ParamType::String:
            schema["type"] = "string";
            break;
        case ParamType::Integer:
            schema["type"] = "integer";
            schema["format"] = "int64";
            break;
        case ParamType::Decimal:
            schema["type"] = "number";
            schema["format"] = "double";
            break;
        case ParamType::Date:
            schema["type"] = "string";
            schema["format"] = "date";
            break;
        case ParamType::Month:
            schema["type"] = "integer";
            schema["minimum"] = 1;
            schema["maximum"] = 12;
            break;
        case ParamType::Year:
            schema["type"] = "integer";
            schema["minimum"] = 1900;
            schema["maximum"] = 2999;
            break;
        case ParamType::Boolean:
            schema["type"] = "boolean";
            break;
        case ParamType::Eik:
            schema["type"] = "string";
            schema["pattern"] = "^[0-9]{9,13}$";
            break;
        case ParamType::Enum:
            schema["type"] = "string";
            if (!param.allowedValues.empty()) {
                schema["enum"] = param.allowedValues;
            }
            break;
        default:
            break;  // a value cast in from outside the enumeration describes no type
    }
    if (!param.description.empty()) {
        schema["description"] = param.description;
    }
    // Parameters travel as texts (ParamMap), so the default is the stored text whatever the type.
    if (param.defaultValue) {
        schema["default"] = *param.defaultValue;
    }
    if (!param.label.empty()) {
        schema["title"] = param.label;
    }
    return schema;
}

std::string OpenApiExporter::toPascalCase(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool upperNext = true;
    for (const char c : text) {
        if (c == ' ' || c == '-' || c == '_') {
            upperNext = true;
            continue;
        }
        // ASCII only, whatever the process locale: a UTF-8 byte is never changed.
        out += upperNext ? core::asciiUpper(std::string_view(&c, 1)) : std::string(1, c);
        upperNext = false;
    }
    return out;
}

}  // namespace velk::server
