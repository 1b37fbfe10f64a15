#include "features/dec16/Dec16Declaration.h"

#include "features/common/CommonParams.h"
#include "features/common/InputChecks.h"
#include "features/common/NotImplemented.h"
#include "features/dec16/Dec16FeatureGroup.h"
#include "operations/OperationRegistry.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::dec16 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec16Declaration>();

}  // namespace

std::string Dec16Declaration::typeId() const {
    return "dec1_6";
}

std::string Dec16Declaration::displayName() const {
    return kDec16GroupName;
}

std::string Dec16Declaration::featureGroupId() const {
    return kDec16GroupId;
}

std::string Dec16Declaration::featureGroupName() const {
    return kDec16GroupName;
}

std::int32_t Dec16Declaration::backendKind() const {
    return 2;
}

std::int32_t Dec16Declaration::flowKind() const {
    return 4;
}

std::string Dec16Declaration::description() const {
    return "Данни за осигуреното лице (обр. 1) и дължими вноски (обр. 6) през REST API на НАП.";
}

operations::ResultSchema Dec16Declaration::resultSchema() const {
    return operations::submissionResultSchema("Dec16SubmissionResult");
}

std::vector<operations::ParamSpec> Dec16Declaration::params() const {
    return {
        eikParam(false),
        yearParam(true),
        monthParam(),
        {"fund", "Осигурителна каса", operations::ParamType::Boolean, false, {}, {}, ""},
        {"dec1FilePath",
         "Файл Д1 (EMPL2021)",
         operations::ParamType::String,
         false,
         {},
         {},
         "Път до Д1 файл. Поне един от dec1FilePath / dec6FilePath е задължителен; ако са подадени и двата, "
         "трябва да са за един и същ ЕИК."},
        {"dec6FilePath", "Файл Д6", operations::ParamType::String, false, {}, {}, "Път до Д6 файл."},
    };
}

bool Dec16Declaration::requiresFilePath() const {
    return false;
}

operations::InputCheck Dec16Declaration::validateInput(const std::string& path) const {
    return requireExistingPath(path);
}

operations::SubmissionResult Dec16Declaration::submit(infra::portal::NapSession* /*session*/,
                                                      const std::string& /*filePath*/,
                                                      const operations::ParamMap& /*params*/) const {
    return notImplementedSubmission();
}

std::string Dec16Declaration::documentTypeCode() const {
    return "0";
}

}  // namespace velk::core::features::dec16
