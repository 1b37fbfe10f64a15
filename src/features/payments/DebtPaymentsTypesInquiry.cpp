#include "features/payments/DebtPaymentsTypesInquiry.h"

#include <array>
#include <exception>
#include <optional>

#include "common/JsonUtils.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "features/common/DebtPaymentsPortal.h"
#include "features/common/PortalInquiryOutcome.h"
#include "features/common/PortalJsonFields.h"
#include "infrastructure/portal/NapSession.h"
#include "operations/InquiryResultSchemas.h"
#include "operations/OperationRegistry.h"

namespace velk::core::features::payments {

namespace {

[[maybe_unused]] const bool kRegistered = operations::registerOperationClass<DebtPaymentsTypesInquiry>();

// A column and the members it is read from: the first that gives a non-empty
// text wins, since the portal names them differently from table to table.
struct TypeColumn {
    operations::ResultColumn column;
    std::vector<std::string> keys;
};

const std::vector<TypeColumn> kTypeColumns = {
    {{"id", "ID"}, {"id"}},
    {{"name", "Наименование"}, {"i18nName", "name", "debtTypeName", "i18nTitle", "title", "label"}},
    {{"code", "Код"}, {"code", "debtCode", "typeCode"}},
    {{"groupId", "Група"}, {"groupId", "parentId", "group", "groupName", "category"}},
};

// An object reply holds the table under the first of these keys that is an array.
constexpr std::array<const char*, 4> kWrapperKeys = {"items", "data", "types", "content"};

std::vector<operations::ResultColumn> columns() {
    std::vector<operations::ResultColumn> list;
    for (const TypeColumn& typeColumn : kTypeColumns) {
        list.push_back(typeColumn.column);
    }
    return list;
}

std::string cell(const json& element, const TypeColumn& typeColumn) {
    for (const std::string& key : typeColumn.keys) {
        if (std::string text = typeFieldText(element, key); !text.empty()) {
            return text;
        }
    }
    return {};
}

const json& unwrapTable(const json& reply) {
    if (reply.is_object()) {
        for (const char* key : kWrapperKeys) {
            const auto it = reply.find(key);
            if (it != reply.end() && it->is_array()) {
                return *it;
            }
        }
    }
    return reply;
}

// The selected taxpayer's identifier, else the first listed one's after a
// login; empty with the failure marked in the result.
std::optional<std::string> taxpayerIdentifier(infra::portal::NapSession& session,
                                              operations::InquiryResult& result) {
    if (const auto& selected = session.selectedTaxpayer()) {
        return selected->pin;
    }
    if (!session.ensureLoggedIn()) {
        markFailed(result, "Неуспешен вход в НАП: " + session.lastError());
        return std::nullopt;
    }
    const std::vector<Taxpayer>& taxpayers = session.listTaxpayers();
    if (taxpayers.empty()) {
        markFailed(result, "Няма налични задължени лица в сесията.");
        return std::nullopt;
    }
    logLine(LogLevel::Info, "DebtPaymentsTypesInquiry: auto-selecting first taxpayer " +
                                escapeControlBytes(taxpayers.front().name));
    return taxpayers.front().pin;
}

}  // namespace

std::string DebtPaymentsTypesInquiry::typeId() const {
    return "debt_payments_types";
}

std::string DebtPaymentsTypesInquiry::displayName() const {
    return "Типове дълг / плащания";
}

std::string DebtPaymentsTypesInquiry::featureGroupId() const {
    return "payments";
}

std::string DebtPaymentsTypesInquiry::featureGroupName() const {
    return "Задължения и плащания";
}

std::int32_t DebtPaymentsTypesInquiry::backendKind() const {
    return 1;
}

std::int32_t DebtPaymentsTypesInquiry::flowKind() const {
    return 3;
}

std::string DebtPaymentsTypesInquiry::description() const {
    return "Пълен списък на видовете задължения и плащания, поддържани от портала на НАП (за референция при "
           "филтриране на справките).";
}

bool DebtPaymentsTypesInquiry::requiresSubmissionToken() const {
    return false;
}

operations::ResultSchema DebtPaymentsTypesInquiry::resultSchema() const {
    return operations::debtPaymentsTypesResultSchema();
}

std::vector<operations::ParamSpec> DebtPaymentsTypesInquiry::params() const {
    return {};
}

operations::InquiryResult DebtPaymentsTypesInquiry::run(infra::portal::NapSession* session,
                                                        const operations::ParamMap& /*params*/) const {
    operations::InquiryResult result;
    result.columns = columns();

    const std::optional<std::string> identifier = taxpayerIdentifier(*session, result);
    if (!identifier) {
        return result;
    }
    // The table is global: it may answer even when the service cannot be selected.
    if (!session->prepareFor(*this, *identifier, 0)) {
        logLine(LogLevel::Warn,
                "DebtPaymentsTypesInquiry: prepareFor: " + escapeControlBytes(session->lastError()) +
                    " — continuing, /types may still work.");
    }

    const std::string url = debtPaymentTypesUrl();
    infra::portal::PortalResponse response = session->httpGet(url);
    keepJsonReply(result, std::move(response.body));
    if (!isHttpSuccess(response.status)) {
        markFailed(result, httpFailureText(response.status, url));
        return result;
    }

    try {
        const json reply = parseExternalJson(result.rawBody);
        const json& table = unwrapTable(reply);
        if (!table.is_array()) {
            markFailed(result, "Неочакван отговор — не е JSON масив");
            return result;
        }
        for (const json& element : table) {
            std::vector<std::string> row;
            row.reserve(kTypeColumns.size());
            for (const TypeColumn& typeColumn : kTypeColumns) {
                row.push_back(cell(element, typeColumn));
            }
            result.rows.push_back(std::move(row));
        }
    } catch (const std::exception& e) {
        markParseFailure(result, "DebtPaymentsTypesInquiry", e);
        return result;
    }
    result.metadata["status"] = "ok";
    result.metadata["rowCount"] = std::to_string(result.rows.size());
    return result;
}

std::string DebtPaymentsTypesInquiry::serviceName() const {
    return "dept-and-payments-report";
}

std::string DebtPaymentsTypesInquiry::reportLinkName() const {
    return "dept-and-payments-report-1";
}

}  // namespace velk::core::features::payments
