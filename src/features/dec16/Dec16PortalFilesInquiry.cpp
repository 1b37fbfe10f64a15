#include "features/dec16/Dec16PortalFilesInquiry.h"

#include "features/common/CommonParams.h"
#include "features/common/NotImplemented.h"
#include "features/dec16/Dec16FeatureGroup.h"
#include "operations/OperationRegistry.h"
#include "operations/SchemaFields.h"

namespace velk::core::features::dec16 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec16PortalFilesInquiry>();

using operations::FieldType;
using operations::schemaField;

operations::ResultSchema portalFilesResultSchema() {
    return {
        "Dec16PortalFilesResult",
        {
            operations::rowsField("files", "Файлове", "Изтеглени Д1 (EMPL2021) и Д6 (NRA62007) файлове.",
                                  "Dec16PortalFileItem",
                                  {
                                      schemaField("name", "Име", FieldType::String, false,
                                                  "Канонично име на файла (EMPL2021.TXT / NRA62007.TXT)."),
                                      schemaField("type", "Тип", FieldType::String, false, "dec1 / dec6."),
                                      schemaField("docFileId", "File ID", FieldType::String, false,
                                                  "ID на подписания файл в портала."),
                                      schemaField("content", "Съдържание", FieldType::String, false,
                                                  "UTF-8 съдържание (декодирано от CP1251)."),
                                  }),
            operations::enumField("status", "Статус",
                                  "ok при успех; error при липсваща декларация или HTTP грешка.",
                                  {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true, "Текст на грешката когато status=error."),
            schemaField("submissionId", "Submission ID", FieldType::String, true,
                        "ID на цялото подаване (Д1+Д6) в портала."),
            schemaField("incomeNumber", "Вх. номер", FieldType::String, true, ""),
            schemaField("submittedAt", "Подадено на", FieldType::String, true,
                        "ISO-8601 timestamp от entryDate."),
            schemaField("period", "Период", FieldType::String, true, "Например „Март 2026\"."),
        }};
}

}  // namespace

std::string Dec16PortalFilesInquiry::typeId() const {
    return "dec1_6_portal_files";
}

std::string Dec16PortalFilesInquiry::displayName() const {
    return "Декларации обр. 1 и 6 — изтегляне на подадените файлове";
}

std::string Dec16PortalFilesInquiry::featureGroupId() const {
    return kDec16GroupId;
}

std::string Dec16PortalFilesInquiry::featureGroupName() const {
    return kDec16GroupName;
}

std::int32_t Dec16PortalFilesInquiry::backendKind() const {
    return 1;
}

std::int32_t Dec16PortalFilesInquiry::flowKind() const {
    return 3;
}

std::string Dec16PortalFilesInquiry::description() const {
    return "Изтегля Д1 (EMPL2021) и Д6 (NRA62007) файловете на подадена декларация обр. 1 и 6 за избрана "
           "фирма, година и месец. Връща съдържанието като UTF-8 текст (декодирано от CP1251).";
}

operations::ResultSchema Dec16PortalFilesInquiry::resultSchema() const {
    return portalFilesResultSchema();
}

std::vector<operations::ParamSpec> Dec16PortalFilesInquiry::params() const {
    return taxpayerPeriodParams();
}

operations::InquiryResult Dec16PortalFilesInquiry::run(infra::portal::NapSession* /*session*/,
                                                       const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

std::string Dec16PortalFilesInquiry::serviceName() const {
    return "dec1-and-6";
}

std::string Dec16PortalFilesInquiry::reportLinkName() const {
    return "dec1-and-6-2-1";
}

}  // namespace velk::core::features::dec16
