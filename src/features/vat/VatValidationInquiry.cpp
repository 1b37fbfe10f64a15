#include "features/vat/VatValidationInquiry.h"

#include <filesystem>

#include "common/Logger.h"
#include "features/vat/ScopedSessionFetcher.h"
#include "features/vat/VatFeatureGroup.h"
#include "features/vat/VatJavaFinder.h"
#include "features/vat/VatTextFiles.h"
#include "infrastructure/java/BridgeLimits.h"
#include "infrastructure/java/ZezizUrBridge.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::vat {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<VatValidationInquiry>();

void addRow(operations::InquiryResult& result, const std::string& source, const std::string& message) {
    result.rows.push_back({source, message});
}

// Existence only: a file passes here and is caught by the file check. An
// error other than "not found" throws, and the engine reports it.
bool pathExists(const std::string& path) {
    return std::filesystem::exists(std::filesystem::path(path));
}

std::string javaMissingMessage() {
    return std::string("За валидация на ДДС файлове е нужна Java (Java 11 или по-нова). ") +
           kJavaPackageAdvice;
}

void logProgress(const std::string& prefix, const std::string& text) {
    logLine(LogLevel::Info, prefix + infra::java::logText(text));
}

}  // namespace

std::string VatValidationInquiry::typeId() const {
    return "vat_validate";
}

std::string VatValidationInquiry::displayName() const {
    return "Валидация на ДДС файлове";
}

std::string VatValidationInquiry::featureGroupId() const {
    return kVatFeatureGroupId;
}

std::string VatValidationInquiry::featureGroupName() const {
    return kVatFeatureGroupName;
}

std::int32_t VatValidationInquiry::backendKind() const {
    return 3;
}

std::int32_t VatValidationInquiry::flowKind() const {
    return 1;
}

std::string VatValidationInquiry::category() const {
    return "Валидация";
}

std::string VatValidationInquiry::description() const {
    return "Проверява DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT с официалния ZezizUR валидатор, без да подава "
           "нищо в НАП.";
}

operations::ResultSchema VatValidationInquiry::resultSchema() const {
    return operations::vatValidationResultSchema();
}

std::vector<operations::ParamSpec> VatValidationInquiry::params() const {
    return {
        {"directory",
         "Папка с ДДС файлове",
         operations::ParamType::String,
         true,
         {},
         {},
         "Път до папка с DEKLAR.TXT / POKUPKI.TXT / PRODAGBI.TXT"},
    };
}

// Each step ends the run when it fails; the checks that need neither Java
// nor the portal come first, so a broken folder costs no login.
operations::InquiryResult VatValidationInquiry::run(infra::portal::NapSession* session,
                                                    const operations::ParamMap& params) const {
    operations::InquiryResult result;
    result.columns = {{"source", "Източник"}, {"message", "Съобщение"}};
    const std::string directory = operations::paramOr(params, "directory", "");

    if (directory.empty() || !pathExists(directory)) {
        addRow(result, "preflight", "Папката не съществува: " + toValidUtf8(directory));
        result.metadata["status"] = "error";
        return result;
    }
    const VatFolderCheck files = checkVatFolderFiles(directory);
    if (!files.ok) {
        for (const std::string& name : files.missing) {
            addRow(result, "preflight", "Липсва файл: " + name);
        }
        result.metadata["status"] = "invalid";
        result.metadata["errorCount"] = std::to_string(result.rows.size());
        return result;
    }
    if (!findJavaForVat()) {
        addRow(result, "java", javaMissingMessage());
        result.metadata["status"] = "java_missing";
        return result;
    }
    infra::java::ZezizUrBridge* bridge = session != nullptr ? session->zezizUrBridge() : nullptr;
    if (bridge == nullptr) {
        result.metadata["status"] = "unavailable";
        result.metadata["message"] = "ZezizUrBridge not configured";
        return result;
    }
    // The bridge downloads a missing client through the portal session.
    if (!session->ensureLoggedIn()) {
        addRow(result, "auth", "Неуспешен вход в НАП: " + session->lastError());
        result.metadata["status"] = "error";
        return result;
    }
    const ScopedSessionFetcher fetcher(*bridge, *session);
    if (!bridge->ensureInstalled([](const std::string& text) { logProgress("ZezizUR install: ", text); })) {
        addRow(result, "bootstrap", "Не успяхме да инсталираме ZezizUR библиотеките. Проверете вход в НАП.");
        result.metadata["status"] = "error";
        return result;
    }
    const std::vector<std::string> errors =
        bridge->validate(directory, [](const std::string& text) { logProgress("ZezizUR validate: ", text); });
    if (errors.empty()) {
        addRow(result, "validator", "Файловете преминават всички проверки.");
        result.metadata["status"] = "ok";
        result.metadata["errorCount"] = "0";
        return result;
    }
    for (const std::string& error : errors) {
        addRow(result, "validator", error);
    }
    result.metadata["status"] = "invalid";
    result.metadata["errorCount"] = std::to_string(errors.size());
    return result;
}

std::chrono::seconds VatValidationInquiry::cacheTtl() const {
    return std::chrono::seconds{60};
}

}  // namespace velk::core::features::vat
