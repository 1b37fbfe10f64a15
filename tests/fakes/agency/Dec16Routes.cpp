#include "fakes/agency/Dec16Routes.h"

#include <charconv>
#include <cstdio>
#include <map>
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

constexpr const char* kDownloadPrefix = "/api/base/documents/signed/";
constexpr const char* kDownloadSuffix = "/download";
constexpr int kDefaultFilings = 14;

std::optional<std::int64_t> integer(std::string_view text) {
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<std::string> queryValue(std::string_view query, std::string_view key) {
    for (const FormBodyField& field : parseFormBody(query)) {
        if (field.rawName == key) {
            return field.value;
        }
    }
    return std::nullopt;
}

std::optional<std::int64_t> selectedTin(const RecordedRequest& r) {
    const std::optional<std::string> context = r.cookie("selectedContext");
    if (!context) {
        return std::nullopt;
    }
    const std::vector<std::uint8_t> bytes = core::base64Decode(*context);
    return integer(std::string(bytes.begin(), bytes.end()));
}

// "YYYY-MM" of the default filing k: March 2025 less k months.
std::string defaultPeriod(int k) {
    const int months = 2025 * 12 + 2 - k;  // March is month index 2
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d", months / 12, months % 12 + 1);
    return text;
}

json filingJson(const Dec16Filing& filing) {
    return {{"id", filing.id},
            {"entryNumber", filing.entryNumber},
            {"entryDate", filing.entryDate},
            {"taxpayer", {{"pin", filing.taxpayerPin}, {"name", filing.taxpayerName}}},
            {"taxPeriodFrom", filing.taxPeriodFrom},
            {"taxPeriodTo", filing.taxPeriodTo},
            {"d1DocFileId", filing.d1DocFileId},
            {"d6DocFileId", filing.d6DocFileId}};
}

Reply unauthorised() {
    return Reply::json(401, R"({"error":"unauthorized"})");
}

}  // namespace

std::vector<Dec16Filing> defaultDec16Filings() {
    std::vector<Dec16Filing> filings;
    for (int k = 0; k < kDefaultFilings; ++k) {
        Dec16Filing filing;
        filing.id = 500 + k;
        filing.entryNumber = "16-" + std::to_string(filing.id);
        const std::string period = defaultPeriod(k);
        filing.entryDate = period + "-14T09:15:00";
        filing.taxPeriodFrom = period + "-01";
        filing.taxPeriodTo = period + "-28";
        filing.d1DocFileId = 7000 + 2 * k;
        filing.d6DocFileId = 7001 + 2 * k;
        filings.push_back(filing);
    }
    return filings;
}

std::string defaultSignedDocumentBytes(std::int64_t documentId) {
    const std::int64_t k = (documentId - 7000) / 2;
    if (documentId < 7000 || k >= kDefaultFilings) {
        return {};
    }
    const char* form = documentId % 2 == 0 ? "EMPL2021 " : "NRA62007 ";
    return form + defaultPeriod(static_cast<int>(k)) + " \xD2\xE5\xF1\xF2\r\n";
}

struct Dec16Routes::State {
    std::mutex mutex;
    std::vector<Dec16Filing> filings;
    std::map<std::int64_t, std::string> documents;

    void restoreDefaults() {
        std::lock_guard lock(mutex);
        filings = defaultDec16Filings();
        documents.clear();
        for (const Dec16Filing& filing : filings) {
            documents[filing.d1DocFileId] = defaultSignedDocumentBytes(filing.d1DocFileId);
            documents[filing.d6DocFileId] = defaultSignedDocumentBytes(filing.d6DocFileId);
        }
    }

    Reply listing(std::int64_t tin, std::int64_t page, std::int64_t size) {
        std::lock_guard lock(mutex);
        std::vector<const Dec16Filing*> own;
        for (const Dec16Filing& filing : filings) {
            if (filing.tin == tin) {
                own.push_back(&filing);
            }
        }
        const auto total = static_cast<std::int64_t>(own.size());
        json content = json::array();
        for (std::int64_t i = page * size; i < total && i < (page + 1) * size; ++i) {
            content.push_back(filingJson(*own[static_cast<std::size_t>(i)]));
        }
        return Reply::json(200, core::dumpCompact({{"content", std::move(content)},
                                                   {"totalPages", (total + size - 1) / size},
                                                   {"totalElements", total},
                                                   {"number", page},
                                                   {"size", size}}));
    }

    Reply document(std::int64_t id) {
        std::lock_guard lock(mutex);
        const auto it = documents.find(id);
        if (it == documents.end()) {
            return Reply::json(404, R"({"error":"no such document"})");
        }
        Reply reply = Reply::text(200, it->second);
        reply.contentType = "application/octet-stream";
        return reply;
    }
};

Dec16Routes::Dec16Routes() : state_(std::make_shared<State>()) {}

void Dec16Routes::install(TestServer& portal, LiveCheck live) {
    state_->restoreDefaults();
    const std::shared_ptr<State> state = state_;
    portal.on("GET", "/api/base/declarations/declarations-1-and-6", [state, live](const RecordedRequest& r) {
        if (!live(r)) {
            return unauthorised();
        }
        const std::optional<std::int64_t> tin = selectedTin(r);
        if (!tin) {
            return Reply::json(400, R"({"error":"no taxpayer selected"})");
        }
        const std::optional<std::int64_t> page = integer(queryValue(r.query, "page").value_or(""));
        const std::optional<std::int64_t> size = integer(queryValue(r.query, "size").value_or(""));
        if (!page || !size || *page < 0 || *size < 1 || *size > 100) {
            return Reply::json(400, R"({"error":"page and size expected"})");
        }
        return state->listing(*tin, *page, *size);
    });
    portal.onPrefix("GET", kDownloadPrefix, [state, live](const RecordedRequest& r) {
        if (!live(r)) {
            return unauthorised();
        }
        std::string_view rest = std::string_view(r.path).substr(std::string_view(kDownloadPrefix).size());
        const std::string_view suffix(kDownloadSuffix);
        if (rest.size() <= suffix.size() || rest.substr(rest.size() - suffix.size()) != suffix) {
            return Reply::json(404, R"({"error":"no route"})");
        }
        const std::optional<std::int64_t> id = integer(rest.substr(0, rest.size() - suffix.size()));
        return id ? state->document(*id) : Reply::json(404, R"({"error":"no such document"})");
    });
}

void Dec16Routes::setFilings(std::vector<Dec16Filing> filings) {
    std::lock_guard lock(state_->mutex);
    state_->filings = std::move(filings);
}

void Dec16Routes::setSignedDocument(std::int64_t documentId, std::string bytes) {
    std::lock_guard lock(state_->mutex);
    state_->documents[documentId] = std::move(bytes);
}

}  // namespace velk::test
