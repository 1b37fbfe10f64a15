#include "features/dec1/Dec1FilesScanInquiry.h"

#include "features/common/FolderScan.h"
#include "features/common/FormFileHeaders.h"
#include "features/common/FormFilesScan.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::dec1 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec1FilesScanInquiry>();

}  // namespace

std::string Dec1FilesScanInquiry::typeId() const {
    return "dec1_files_scan";
}

std::string Dec1FilesScanInquiry::displayName() const {
    return "Сканиране на Д1 файлове";
}

std::string Dec1FilesScanInquiry::featureGroupId() const {
    return "dec1";
}

std::string Dec1FilesScanInquiry::featureGroupName() const {
    return "Д1 (Осигурени лица)";
}

std::int32_t Dec1FilesScanInquiry::backendKind() const {
    return 0;
}

std::int32_t Dec1FilesScanInquiry::flowKind() const {
    return 7;
}

std::string Dec1FilesScanInquiry::category() const {
    return "Декларации";
}

std::string Dec1FilesScanInquiry::description() const {
    return "Рекурсивно сканира папка за Д1 (EMPL2021) файлове и филтрира по месец/година от съдържанието.";
}

operations::ResultSchema Dec1FilesScanInquiry::resultSchema() const {
    return formFilesScanResultSchema("Dec1FilesScanResult", "Dec1FileItem",
                                     "Открити Д1 декларации за подадения период.");
}

std::vector<operations::ParamSpec> Dec1FilesScanInquiry::params() const {
    return folderScanParams();
}

operations::InquiryResult Dec1FilesScanInquiry::run(infra::portal::NapSession* /*session*/,
                                                    const operations::ParamMap& params) const {
    return FormFilesScan("Dec1FilesScanInquiry", "Dec1", readDec1Header).run(params);
}

}  // namespace velk::core::features::dec1
