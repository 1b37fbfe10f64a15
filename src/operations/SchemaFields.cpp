#include "operations/SchemaFields.h"

#include <utility>

namespace velk::core::operations {

SchemaField schemaField(std::string name, std::string label, FieldType type, bool nullable,
                        std::string description) {
    SchemaField field;
    field.name = std::move(name);
    field.label = std::move(label);
    field.type = type;
    field.nullable = nullable;
    field.description = std::move(description);
    return field;
}

SchemaField enumField(std::string name, std::string label, std::string description,
                      std::vector<std::string> values) {
    SchemaField field =
        schemaField(std::move(name), std::move(label), FieldType::Enum, false, std::move(description));
    field.enumValues = std::move(values);
    return field;
}

SchemaField rowsField(std::string name, std::string label, std::string description, std::string itemSchema,
                      std::vector<SchemaField> members) {
    SchemaField field =
        schemaField(std::move(name), std::move(label), FieldType::ObjectArray, false, std::move(description));
    field.itemSchema = std::move(itemSchema);
    field.fields = std::move(members);
    return field;
}

}  // namespace velk::core::operations
