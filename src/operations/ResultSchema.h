#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velk::core::operations {

// The numbers are fixed: the export and the fixture check switch on them.
enum class FieldType : std::int32_t {
    String = 0,
    Integer = 1,
    Number = 2,
    Date = 3,
    DateTime = 4,
    Boolean = 5,
    Enum = 6,
    StringArray = 7,
    ObjectArray = 8,
};

struct SchemaField {
    std::string name;
    std::string label;
    FieldType type = FieldType::String;
    bool nullable = false;
    std::string description;
    std::vector<std::string> enumValues;
    std::string itemSchema;           // ObjectArray: name of the row object
    std::vector<SchemaField> fields;  // ObjectArray: members of the row object
};

// The typed shape of an operation's output.
struct ResultSchema {
    std::string name;
    std::vector<SchemaField> fields;
};

}  // namespace velk::core::operations
