#include "features/taxpayers/TaxpayersInquiry.h"

#include "common/CodeTables.h"
#include "features/common/PortalInquiryOutcome.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::taxpayers {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<TaxpayersInquiry>();

const std::vector<operations::ResultColumn> kColumns = {
    {"name", "Наименование"}, {"pin", "ЕИК / Булстат / ЕГН"},  {"pinType", "Тип"},    {"tin", "Портал ID"},
    {"email", "Email"},       {"authorization", "Пълномощно"}, {"active", "Активен"},
};

std::vector<std::string> taxpayerRow(const Taxpayer& taxpayer) {
    return {taxpayer.name,
            taxpayer.pin,
            std::string(identifierTypeName(taxpayer.pinType)),
            std::to_string(taxpayer.tin),
            taxpayer.email,
            taxpayer.authorization,
            taxpayer.active ? "да" : "не"};
}

}  // namespace

std::string TaxpayersInquiry::typeId() const {
    return "taxpayers";
}

std::string TaxpayersInquiry::displayName() const {
    return "Задължени лица (достъпни с текущия сертификат)";
}

std::string TaxpayersInquiry::featureGroupId() const {
    return "taxpayers";
}

std::string TaxpayersInquiry::featureGroupName() const {
    return "Задължени лица";
}

std::int32_t TaxpayersInquiry::backendKind() const {
    return 1;
}

std::int32_t TaxpayersInquiry::flowKind() const {
    return 3;
}

std::string TaxpayersInquiry::description() const {
    return "Списък на ЗЛ-тата, за които влезлият потребител има пълномощно в НАП. Не приема параметри — "
           "показва всичко, върнато от `GET /api/base/taxpayers` след КЕП логин.";
}

bool TaxpayersInquiry::requiresSubmissionToken() const {
    return false;
}

operations::ResultSchema TaxpayersInquiry::resultSchema() const {
    return operations::taxpayersResultSchema();
}

std::vector<operations::ParamSpec> TaxpayersInquiry::params() const {
    return {};
}

operations::InquiryResult TaxpayersInquiry::run(infra::portal::NapSession* session,
                                                const operations::ParamMap& /*params*/) const {
    operations::InquiryResult result;
    result.columns = kColumns;

    // An earlier operation's failure is not this run's: an empty list reads
    // as an error only when the listing itself failed.
    session->clearLastError();
    if (!session->ensureLoggedIn()) {
        const std::string& why = session->lastError();
        markFailed(result,
                   why.empty() ? std::string("Неуспешен вход в НАП") : "Неуспешен вход в НАП: " + why);
        return result;
    }
    const std::vector<Taxpayer>& taxpayers = session->listTaxpayers();
    if (taxpayers.empty() && !session->lastError().empty()) {
        markFailed(result, session->lastError());
        return result;
    }
    for (const Taxpayer& taxpayer : taxpayers) {
        result.rows.push_back(taxpayerRow(taxpayer));
    }
    result.metadata["status"] = "ok";
    result.metadata["count"] = std::to_string(taxpayers.size());
    return result;
}

}  // namespace velk::core::features::taxpayers
