#include "features/dec16/Dec16Declaration.h"

#include <filesystem>
#include <optional>
#include <string_view>
#include <utility>

#include "common/AgencyEndpoints.h"
#include "common/CodeTables.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/CommonParams.h"
#include "features/common/FormFileHeaders.h"
#include "features/common/InputChecks.h"
#include "features/common/RestFiling.h"
#include "features/dec16/Dec16FeatureGroup.h"
#include "infrastructure/portal/DeclarationFile.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/RestSubmissionExecutor.h"
#include "operations/OperationRegistry.h"
#include "operations/SubmissionResultSchema.h"

namespace velk::core::features::dec16 {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<Dec16Declaration>();

using operations::ParamMap;

using HeaderReader = std::optional<Dec16FileHeader> (*)(const std::filesystem::path&);

bool loadFile(const std::string& path, HeaderReader reader, const std::string& headerFailure,
              Dec16FileInfo& info, std::string& message) {
    if (!std::filesystem::exists(path)) {
        message = "Файлът не съществува: " + path;
        return false;
    }
    const std::optional<Dec16FileHeader> header = reader(path);
    if (!header) {
        message = headerFailure + path;
        return false;
    }
    bool tooLarge = false;
    std::optional<std::vector<std::uint8_t>> content = infra::portal::readDeclarationFile(path, &tooLarge);
    if (tooLarge) {
        message = tooLargeFileMessage(path);
        return false;
    }
    if (!content || content->empty()) {
        message = "Файлът е празен или нечетим: " + path;
        return false;
    }
    info.eik = header->eik;
    info.year = header->year;
    info.month = header->month;
    info.records =
        countDec16Records(std::string_view(reinterpret_cast<const char*>(content->data()), content->size()));
    info.content = std::move(*content);
    return true;
}

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

operations::SubmissionResult Dec16Declaration::submit(infra::portal::NapSession* session,
                                                      const std::string& filePath,
                                                      const operations::ParamMap& params) const {
    if (session->signer() == nullptr) {
        const std::string message = "No signer available on session (setSigner was not called)";
        logLine(LogLevel::Error, "Dec16Declaration::submit: " + message);
        return refusedSubmission(message);
    }
    if (session->identity().apiKey.empty()) {
        return refusedSubmission("API key is not configured in settings");
    }
    std::string d1Path = operations::paramOr(params, "dec1FilePath", "");
    const std::string d6Path = operations::paramOr(params, "dec6FilePath", "");
    if (d1Path.empty() && d6Path.empty()) {
        d1Path = filePath;
    }
    if (d1Path.empty() && d6Path.empty()) {
        return refusedSubmission("Подайте поне един от файловете: dec1FilePath или dec6FilePath");
    }

    Dec16FileInfo d1;
    Dec16FileInfo d6;
    std::string message;
    // The messages name the path, which came from outside.
    if (!d1Path.empty() && !loadDec1File(d1Path, d1, message)) {
        return refusedSubmission(toValidUtf8(message));
    }
    if (!d6Path.empty() && !loadDec6File(d6Path, d6, message)) {
        return refusedSubmission(toValidUtf8(message));
    }
    const bool withD1 = !d1Path.empty();
    const bool withD6 = !d6Path.empty();
    if (withD1 && withD6 && d1.eik != d6.eik) {
        return refusedSubmission("ЕИК/Булстат не съвпада между Д1 и Д6: " + d1.eik + " vs " + d6.eik);
    }
    const std::string& referenceEik = withD1 ? d1.eik : d6.eik;
    const std::string eikParam = operations::paramOr(params, "eik", "");
    if (!eikParam.empty() && eikParam != referenceEik) {
        return refusedSubmission("ЕИК параметърът (" + eikParam + ") не съвпада с ЕИК във файла (" +
                                 referenceEik + ")");
    }
    if (withD1) {
        if (const std::string m = checkDec16Period(params, d1); !m.empty()) {
            return refusedSubmission("Д1: " + m);
        }
    }
    if (withD6) {
        if (const std::string m = checkDec16Period(params, d6); !m.empty()) {
            return refusedSubmission("Д6: " + m);
        }
    }

    std::string line = "Dec16Declaration: submitting tin=" + referenceEik;
    std::vector<infra::portal::RestFileEntry> files;
    if (withD1) {
        line += " dec1Records=" + std::to_string(d1.records);
        files.push_back({d1Path, code(DocumentType::Dec1), d1.records, std::move(d1.content)});
    }
    if (withD6) {
        line += " dec6Records=" + std::to_string(d6.records);
        files.push_back({d6Path, code(DocumentType::Dec6), d6.records, std::move(d6.content)});
    }
    logLine(LogLevel::Info, escapeControlBytes(line));

    ParamMap passed = params;
    if (eikParam.empty()) {
        passed["eik"] = referenceEik;
    }
    infra::portal::RestSubmissionExecutor executor(
        *session, *session->signer(), std::string(AgencyEndpoints::kRestSubmitUrl),
        std::string(AgencyEndpoints::kRestResultUrl), session->identity().apiKey,
        {code(DocumentFamily::Dec1_6), 0, code(ExportFormat::Txt), true});
    return executor.submit(files, passed);
}

std::string Dec16Declaration::documentTypeCode() const {
    return "0";
}

bool Dec16Declaration::loadDec1File(const std::string& path, Dec16FileInfo& info, std::string& message) {
    return loadFile(path, readDec1Header, "Не може да се прочете Д1 (EMPL2021) хедър от: ", info, message);
}

bool Dec16Declaration::loadDec6File(const std::string& path, Dec16FileInfo& info, std::string& message) {
    return loadFile(path, readDec6Header, "Не може да се прочете Д6 хедър от: ", info, message);
}

std::string Dec16Declaration::checkDec16Period(const ParamMap& params, const Dec16FileInfo& file) {
    const std::string yearText = operations::paramOr(params, "year", "");
    const std::string monthText = operations::paramOr(params, "month", "");
    if (yearText.empty() || monthText.empty()) {
        return {};
    }
    const std::optional<std::int32_t> year = parseInt32(yearText);
    const std::optional<std::int32_t> month = parseInt32(monthText);
    if (!year || !month || (*year == file.year && *month == file.month)) {
        return {};
    }
    return "Периодът във файла (" + std::to_string(file.month) + "/" + std::to_string(file.year) +
           ") не съвпада с параметрите (" + monthText + "/" + yearText + ")";
}

}  // namespace velk::core::features::dec16
