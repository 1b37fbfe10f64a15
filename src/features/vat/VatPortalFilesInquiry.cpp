#include "features/vat/VatPortalFilesInquiry.h"

#include "common/AgencyEndpoints.h"
#include "features/common/CommonParams.h"
#include "features/common/NotImplemented.h"
#include "features/vat/VatFeatureGroup.h"
#include "operations/OperationRegistry.h"
#include "operations/SchemaFields.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatPortalFilesInquiry>();

using operations::FieldType;
using operations::schemaField;

operations::ResultSchema portalFilesResultSchema() {
    return {
        "VatPortalFilesResult",
        {
            operations::rowsField("files", "Файлове", "Изтеглени DEKLAR / POKUPKI / PRODAGBI / VIES файлове.",
                                  "VatPortalFileItem",
                                  {
                                      schemaField("name", "Име", FieldType::String, false,
                                                  "Име на файла (DEKLAR.TXT / POKUPKI.TXT / …)."),
                                      schemaField("type", "Тип", FieldType::String, false,
                                                  "declaration / purchases / sales / vies."),
                                      schemaField("docId", "Document ID", FieldType::String, false,
                                                  "ipdoc_id на подадената декларация."),
                                      schemaField("content", "Съдържание", FieldType::String, false,
                                                  "UTF-8 съдържание (декодирано от CP1251)."),
                                  }),
            operations::enumField("status", "Статус",
                                  "ok при успех; error при липсваща декларация или HTTP грешка.",
                                  {"ok", "error"}),
            schemaField("error", "Грешка", FieldType::String, true, "Текст на грешката когато status=error."),
            schemaField("docId", "Document ID", FieldType::String, true,
                        "ipdoc_id на резултатната декларация."),
            schemaField("incomeNumber", "Вх. номер", FieldType::String, true, ""),
            schemaField("submittedAt", "Подадено на", FieldType::String, true, ""),
            schemaField("period", "Период", FieldType::String, true, ""),
        }};
}

}  // namespace

std::string VatPortalFilesInquiry::typeId() const {
    return "vat_portal_files";
}

std::string VatPortalFilesInquiry::displayName() const {
    return "ДДС — изтегляне на резултатни файлове от портала";
}

std::string VatPortalFilesInquiry::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatPortalFilesInquiry::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatPortalFilesInquiry::backendKind() const {
    return 1;
}

std::int32_t VatPortalFilesInquiry::flowKind() const {
    return 3;
}

std::string VatPortalFilesInquiry::description() const {
    return "Изтегля DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT / VIES.TXT от " +
           std::string(AgencyEndpoints::kPortalHost) +
           " за последно приетата ДДС декларация за избрания месец и година.";
}

operations::ResultSchema VatPortalFilesInquiry::resultSchema() const {
    return portalFilesResultSchema();
}

std::vector<operations::ParamSpec> VatPortalFilesInquiry::params() const {
    return taxpayerPeriodParams();
}

operations::InquiryResult VatPortalFilesInquiry::run(infra::portal::NapSession* /*session*/,
                                                     const operations::ParamMap& /*params*/) const {
    return notImplementedInquiry();
}

std::string VatPortalFilesInquiry::serviceName() const {
    return "vat-report";
}

std::string VatPortalFilesInquiry::reportLinkName() const {
    return "vat-report-1";
}

}  // namespace velk::core::features::vat
