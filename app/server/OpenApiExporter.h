#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "operations/OperationRecords.h"
#include "operations/OperationRegistry.h"
#include "operations/ResultSchema.h"

namespace velk::server {

// The OpenAPI 3.0.3 description of POST /api/v1/operations/{typeId}, one path
// per registered operation, generated from the registry so it always matches
// the running build. Holds no state; every call reads only its arguments and
// the registry.
class OpenApiExporter {
public:
    using ItemNames = std::set<std::string>;

    OpenApiExporter() = delete;

    static nlohmann::json buildDocument(const std::string& title, const std::string& version,
                                        const std::string& serverUrl,
                                        const core::operations::OperationRegistry& registry =
                                            core::operations::OperationRegistry::instance());

    static nlohmann::json requestSchema(const std::vector<core::operations::ParamSpec>& params);
    // Registers the item components of the schema's tables in `schemas` as a side effect.
    static nlohmann::json resultSchema(const core::operations::ResultSchema& schema, nlohmann::json& schemas,
                                       ItemNames& itemNames);
    // Only the first field of an item name writes its component; later ones change nothing.
    static void registerItemSchema(nlohmann::json& schemas, const core::operations::SchemaField& field,
                                   ItemNames& itemNames);
    static nlohmann::json fieldSchema(const core::operations::SchemaField& field);
    static nlohmann::json inputFieldSchema(const core::operations::ParamSpec& param);
    // due_amounts -> DueAmounts: blanks, '-' and '_' dropped, the next kept
    // character and the first one upper-cased (ASCII letters only).
    static std::string toPascalCase(std::string_view text);
};

}  // namespace velk::server
