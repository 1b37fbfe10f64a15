#include "operations/SubmissionResultSchema.h"

#include <utility>

#include "common/AgencyEndpoints.h"
#include "operations/SchemaFields.h"

namespace velk::core::operations {

ResultSchema submissionResultSchema(std::string name) {
    return {
        std::move(name),
        fieldList(schemaField("success", "Успех", FieldType::Boolean, false,
                              "true когато порталът прие декларацията."),
                  schemaField("incomeNumber", "Вх. номер", FieldType::String, true,
                              "Входящ номер върнат от " + std::string(AgencyEndpoints::kPortalHost) + "."),
                  schemaField("documentId", "Document ID", FieldType::String, true,
                              "Идентификатор на документа в портала (pid / DOCID)."),
                  schemaField("submissionDate", "Дата на подаване", FieldType::DateTime, true,
                              "Времеви маркер на подаването от страна на НАП."),
                  schemaField("errorMessage", "Съобщение за грешка", FieldType::String, true,
                              "Свободен текст с описание на грешката, ако има такава."),
                  schemaField("nativeErrors", "Native грешки", FieldType::StringArray, true,
                              "Грешки върнати от Java/ZezizUR pipe-а; празен масив при успех."))};
}

}  // namespace velk::core::operations
