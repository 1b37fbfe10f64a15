#pragma once

#include <string>
#include <utility>
#include <vector>

#include "operations/ResultSchema.h"

namespace velk::core::operations {

// Builders that keep the schema tables of the operations short and readable.
SchemaField schemaField(std::string name, std::string label, FieldType type, bool nullable,
                        std::string description);
// Non-nullable; the first value is the demo value.
SchemaField enumField(std::string name, std::string label, std::string description,
                      std::vector<std::string> values);
// Non-nullable table of row objects.
SchemaField rowsField(std::string name, std::string label, std::string description, std::string itemSchema,
                      std::vector<SchemaField> members);

// Moves the fields into the vector: a braced list would copy each one.
template <typename... Fields>
std::vector<SchemaField> fieldList(Fields&&... fields) {
    std::vector<SchemaField> list;
    list.reserve(sizeof...(fields));
    (list.push_back(std::forward<Fields>(fields)), ...);
    return list;
}

}  // namespace velk::core::operations
