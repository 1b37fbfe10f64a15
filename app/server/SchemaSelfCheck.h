#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "operations/OperationRegistry.h"
#include "operations/ResultSchema.h"

namespace velk::server {

// Makes sure that test mode answers in the shape of production: every
// operation's fixture, projected through its result schema, must fill each
// field with a real value and each table with at least one item. Reports the
// problems as texts and changes nothing.
class SchemaSelfCheck {
public:
    SchemaSelfCheck() = delete;

    // Issues in the order found (ascending typeId); empty when every fixture passes.
    static std::vector<std::string> checkFixtures(const core::operations::OperationRegistry& registry =
                                                      core::operations::OperationRegistry::instance());
    // Walks one projected object against the fields; a table's first item alone is walked.
    static void checkProjectedValue(const std::string& path,
                                    const std::vector<core::operations::SchemaField>& fields,
                                    const nlohmann::json& value, std::vector<std::string>& issues);
    // Whether the value is what the projection puts in when the fixture supplied
    // nothing usable; only a value of the field's own JSON type can be.
    static bool isTypeFallback(const nlohmann::json& value, const core::operations::SchemaField& field);
};

}  // namespace velk::server
