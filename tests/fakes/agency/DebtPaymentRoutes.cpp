#include "fakes/agency/DebtPaymentRoutes.h"

#include <charconv>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "fakes/agency/FormBody.h"

namespace velk::test {

namespace {

using core::json;

json obligation(std::int64_t tin, int year, int typeId, json members) {
    members["tin"] = tin;
    members["year"] = year;
    members["typeId"] = typeId;
    return members;
}

// The value of a key of the raw query, percent-decoded; empty when absent.
std::optional<std::string> queryValue(std::string_view query, std::string_view key) {
    for (const FormBodyField& field : parseFormBody(query)) {
        if (field.rawName == key) {
            return field.value;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> integer(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::int64_t> selectedTin(const RecordedRequest& r) {
    const std::optional<std::string> context = r.cookie("selectedContext");
    if (!context) {
        return std::nullopt;
    }
    const std::vector<std::uint8_t> bytes = core::base64Decode(*context);
    return integer(std::string(bytes.begin(), bytes.end()));
}

bool memberEquals(const json& record, const char* name, std::int64_t value) {
    const auto it = record.find(name);
    return it != record.end() && it->is_number_integer() && it->get<std::int64_t>() == value;
}

}  // namespace

Reply brokenReply(BrokenReply kind) {
    switch (kind) {
        case BrokenReply::ServerError:
            return Reply::json(500, R"({"error":"Вътрешна грешка на сървъра"})");
        case BrokenReply::NotAnArray:
            return Reply::json(200, R"({"message":"няма данни"})");
        case BrokenReply::NotJson:
            break;
    }
    Reply page = Reply::text(200, "<html><body>Сесията изтече</body></html>");
    page.contentType = "text/html; charset=utf-8";
    return page;
}

std::string defaultObligationsJson() {
    const json obligations = json::array({
        obligation(1001, 2024, 1,
                   {{"debtTypeName", "ДДФЛ"},
                    {"documentType", "Декларация обр. 1"},
                    {"documentNumber", "2024-0001"},
                    {"documentDate", "2024-02-14"},
                    {"debtPeriod", "01.2024"},
                    {"dueDate", "2024-02-25"},
                    {"dueAmount", 1200.5},
                    {"paidAmount", 1000},
                    {"paidAllAmount", 1000},
                    {"outstandingAmount", 200.5},
                    {"outstandingInterest", 3.25},
                    {"paymentTypeName", "Банков превод"},
                    {"datePayment", "2024-02-20"}}),
        obligation(1001, 2024, 12,
                   {{"debtTypeName", "ДДС"},
                    {"documentType", "Справка-декларация по ЗДДС"},
                    {"documentNumber", "2024-0002"},
                    {"documentDate", "2024-03-14"},
                    {"debtPeriod", "02.2024"},
                    {"dueDate", "2024-03-14"},
                    {"dueAmount", 5000},
                    {"paidAmount", 0},
                    {"paidAllAmount", 0},
                    {"outstandingAmount", 5000},
                    {"outstandingInterest", 41.1},
                    {"paymentTypeName", nullptr},
                    {"datePayment", nullptr}}),
        // A payment that names neither a kind nor a document.
        obligation(1001, 2024, 12,
                   {{"debtTypeName", ""},
                    {"paidAmount", 150},
                    {"outstandingAmount", 10},
                    {"outstandingInterest", 1},
                    {"paymentTypeName", "Плащане"},
                    {"datePayment", "2024-03-01"}}),
        obligation(1001, 2025, 1,
                   {{"debtTypeName", "ДДФЛ"},
                    {"documentType", "Декларация обр. 1"},
                    {"documentNumber", "2025-0001"},
                    {"documentDate", "2025-02-14"},
                    {"debtPeriod", "01.2025"},
                    {"dueDate", "2025-02-25"},
                    {"dueAmount", 80},
                    {"paidAmount", 0},
                    {"paidAllAmount", 0},
                    {"outstandingAmount", 80},
                    {"outstandingInterest", 0},
                    {"paymentTypeName", nullptr},
                    {"datePayment", nullptr}}),
    });
    return core::dumpCompact(obligations);
}

std::string defaultDebtPaymentTypesJson() {
    const json types = json::array({
        {{"id", 1},
         {"i18nName", "Данък върху доходите на физическите лица"},
         {"code", "ДДФЛ"},
         {"groupId", 1}},
        {{"id", 12},
         {"i18nName", ""},
         {"name", "Данък върху добавената стойност"},
         {"debtCode", "ДДС"},
         {"parentId", 1}},
        {{"id", 20},
         {"title", "Задължителни осигурителни вноски"},
         {"typeCode", "ДОО"},
         {"groupName", "Осигуровки"}},
    });
    return core::dumpCompact(types);
}

std::string wrappedDebtPaymentTypesJson(const std::string& key) {
    return core::dumpCompact(json{{key, json::parse(defaultDebtPaymentTypesJson())}, {"total", 3}});
}

struct DebtPaymentRoutes::State {
    std::mutex mutex;
    std::string obligationsJson;
    std::string typesJson;
    std::optional<BrokenReply> broken;

    void restoreDefaults() {
        std::lock_guard lock(mutex);
        obligationsJson = defaultObligationsJson();
        typesJson = defaultDebtPaymentTypesJson();
        broken.reset();
    }

    // The broken answer when one is set, else none.
    std::optional<Reply> brokenAnswer() {
        std::lock_guard lock(mutex);
        return broken ? std::optional<Reply>(brokenReply(*broken)) : std::nullopt;
    }

    Reply obligations(std::int64_t tin, const std::string& type, std::int64_t year) {
        std::lock_guard lock(mutex);
        const json all = json::parse(obligationsJson, nullptr, false);
        if (!all.is_array()) {
            return Reply::json(200, obligationsJson);  // a test's own odd reply, as it stands
        }
        const std::optional<std::int64_t> typeId = integer(type);
        json selected = json::array();
        for (const json& record : all) {
            if (memberEquals(record, "tin", tin) && memberEquals(record, "year", year) &&
                (type == "0" || (typeId && memberEquals(record, "typeId", *typeId)))) {
                selected.push_back(record);
            }
        }
        return Reply::json(200, core::dumpCompact(selected));
    }

    Reply types() {
        std::lock_guard lock(mutex);
        return Reply::json(200, typesJson);
    }
};

DebtPaymentRoutes::DebtPaymentRoutes() : state_(std::make_shared<State>()) {
    state_->restoreDefaults();
}

void DebtPaymentRoutes::install(TestServer& portal, LiveCheck live) {
    state_->restoreDefaults();
    const std::shared_ptr<State> state = state_;
    portal.on("GET", "/api/base/debt-payments", [state, live](const RecordedRequest& r) {
        if (std::optional<Reply> broken = state->brokenAnswer()) {
            return *broken;
        }
        if (!live(r)) {
            return Reply::json(401, R"({"error":"unauthorized"})");
        }
        const std::optional<std::int64_t> tin = selectedTin(r);
        if (!tin) {
            return Reply::json(400, R"({"error":"no taxpayer selected"})");
        }
        const std::optional<std::int64_t> year = integer(queryValue(r.query, "YEAR").value_or(""));
        return state->obligations(*tin, queryValue(r.query, "TYPE").value_or(""), year.value_or(-1));
    });
    portal.on("GET", "/api/base/debt-payments/types", [state, live](const RecordedRequest& r) {
        if (std::optional<Reply> broken = state->brokenAnswer()) {
            return *broken;
        }
        return live(r) ? state->types() : Reply::json(401, R"({"error":"unauthorized"})");
    });
}

void DebtPaymentRoutes::setObligationsJson(std::string json) {
    std::lock_guard lock(state_->mutex);
    state_->obligationsJson = std::move(json);
}

void DebtPaymentRoutes::setTypesJson(std::string json) {
    std::lock_guard lock(state_->mutex);
    state_->typesJson = std::move(json);
}

void DebtPaymentRoutes::breakReplies(BrokenReply kind) {
    std::lock_guard lock(state_->mutex);
    state_->broken = kind;
}

}  // namespace velk::test
