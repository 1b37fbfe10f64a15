#include "features/dec6/Dec6FilesScanInquiry.h"

#include "features/common/FolderScan.h"
#include "features/common/FormFileHeaders.h"
#include "features/common/FormFilesScan.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::dec6 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec6FilesScanInquiry>();

}  // namespace

std::string Dec6FilesScanInquiry::typeId() const {
    return "dec6_files_scan";
}

std::string Dec6FilesScanInquiry::displayName() const {
    return "Сканиране на Д6 файлове";
}

std::string Dec6FilesScanInquiry::featureGroupId() const {
    return "dec6";
}

std::string Dec6FilesScanInquiry::featureGroupName() const {
    return "Д6 (Дължими вноски и данък)";
}

std::int32_t Dec6FilesScanInquiry::backendKind() const {
    return 0;
}

std::int32_t Dec6FilesScanInquiry::flowKind() const {
    return 7;
}

std::string Dec6FilesScanInquiry::category() const {
    return "Декларации";
}

std::string Dec6FilesScanInquiry::description() const {
    return "Рекурсивно сканира папка за Д6 (NRA62007) файлове и филтрира по месец/година от съдържанието.";
}

operations::ResultSchema Dec6FilesScanInquiry::resultSchema() const {
    return formFilesScanResultSchema("Dec6FilesScanResult", "Dec6FileItem",
                                     "Открити Д6 декларации за подадения период.");
}

std::vector<operations::ParamSpec> Dec6FilesScanInquiry::params() const {
    return folderScanParams();
}

operations::InquiryResult Dec6FilesScanInquiry::run(infra::portal::NapSession* /*session*/,
                                                    const operations::ParamMap& params) const {
    return FormFilesScan("Dec6FilesScanInquiry", "Dec6", readDec6Header).run(params);
}

}  // namespace velk::core::features::dec6
