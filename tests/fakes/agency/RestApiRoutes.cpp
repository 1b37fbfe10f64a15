#include "fakes/agency/RestApiRoutes.h"

#include <deque>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "fakes/agency/SubmissionChecks.h"

namespace velk::test {

namespace {

using core::json;

enum class Kind { Text, Number, Files };

struct MemberRule {
    Kind kind;
    bool required;
};

using Members = std::map<std::string, MemberRule>;

const Members& submitMembers() {
    static const Members kMembers = {
        {"files", {Kind::Files, true}},
        {"insuranceFund", {Kind::Number, true}},
        {"serviceDocumentType", {Kind::Text, true}},
        {"taxPeriodFrom", {Kind::Text, false}},
        {"taxPeriodTo", {Kind::Text, false}},
        {"taxpayerPin", {Kind::Text, true}},
        {"taxpayerPinType", {Kind::Text, true}},
        {"userPin", {Kind::Text, true}},
        {"userPinType", {Kind::Text, true}},
        {"userSignatureBase64", {Kind::Text, true}},
        {"year", {Kind::Text, false}},
    };
    return kMembers;
}

const Members& fileMembers() {
    static const Members kMembers = {
        {"base64EncodedPkcs7", {Kind::Text, true}}, {"fileContentBase64", {Kind::Text, true}},
        {"fileDocumentType", {Kind::Text, true}},   {"fileName", {Kind::Text, true}},
        {"fileSize", {Kind::Number, true}},         {"fileType", {Kind::Text, true}},
        {"numRecords", {Kind::Number, true}},
    };
    return kMembers;
}

bool hasKind(const json& value, Kind kind) {
    switch (kind) {
        case Kind::Text:
            return value.is_string();
        case Kind::Number:
            return value.is_number_unsigned() ||
                   (value.is_number_integer() && value.get<std::int64_t>() >= 0);
        case Kind::Files:
            return value.is_array() && !value.empty();
    }
    return false;
}

// "" when the object has the required members, no others, each of its kind.
std::string membersProblem(const json& object, const Members& members, const std::string& what) {
    if (!object.is_object()) {
        return what + " is no JSON object";
    }
    for (const auto& [name, value] : object.items()) {
        if (members.count(name) == 0) {
            return what + " has the unknown member " + name;
        }
    }
    for (const auto& [name, rule] : members) {
        const auto it = object.find(name);
        if (it == object.end()) {
            if (rule.required) {
                return what + " has no " + name;
            }
        } else if (!hasKind(*it, rule.kind)) {
            return what + "." + name + " has the wrong type";
        }
    }
    return {};
}

std::string fileProblem(const json& file, const Bytes& certificate, const TestPki& pki) {
    if (std::string problem = membersProblem(file, fileMembers(), "a file"); !problem.empty()) {
        return problem;
    }
    const std::string name = file["fileName"].get<std::string>();
    if (name.empty() || name.find_first_of("/\\") != std::string::npos) {
        return "fileName '" + name + "' is no bare file name";
    }
    if (file["fileDocumentType"] == "UNKNOWN") {
        return "fileDocumentType is UNKNOWN";
    }
    static const std::set<std::string> kFormats = {"txt", "csv", "xml"};
    if (kFormats.count(file["fileType"].get<std::string>()) == 0) {
        return "fileType is '" + file["fileType"].get<std::string>() + "'";
    }
    const std::optional<Bytes> content = decodeStrictBase64(file["fileContentBase64"].get<std::string>());
    const std::optional<Bytes> signature = decodeStrictBase64(file["base64EncodedPkcs7"].get<std::string>());
    if (!content || !signature) {
        return "a file's content or signature is not base64";
    }
    if (file["fileSize"].get<std::uint64_t>() != content->size()) {
        return "fileSize is not the content's length";
    }
    return restSignatureProblem(*signature, *content, pki, certificate);
}

// Lines of a form 1 or form 6 file that hold more than blanks, up to the
// first 0x1A.
std::uint64_t formRecords(const Bytes& content) {
    std::uint64_t records = 0;
    bool filled = false;
    for (const std::uint8_t byte : content) {
        if (byte == 0x1A) {
            break;
        }
        if (byte == '\n') {
            records += filled ? 1 : 0;
            filled = false;
        } else if (byte != ' ' && byte != '\t' && byte != '\r') {
            filled = true;
        }
    }
    return records + (filled ? 1 : 0);
}

bool isTwoDigitMonth(const json& value) {
    if (!value.is_string()) {
        return false;
    }
    const std::string text = value.get<std::string>();
    return text.size() == 2 && text >= "01" && text <= "12";
}

// A forms 1 and 6 filing: the form 1 file, the form 6 file or both in that
// order, as text with their record counts, for one month of a year.
std::string forms16Problem(const json& request) {
    if (!request.contains("taxPeriodFrom") || !request.contains("taxPeriodTo") || !request.contains("year")) {
        return "DEC_1_6 without taxPeriodFrom, taxPeriodTo and year";
    }
    if (!isTwoDigitMonth(request["taxPeriodFrom"]) || request["taxPeriodTo"] != request["taxPeriodFrom"]) {
        return "DEC_1_6 period is not one month as two digits";
    }
    const std::string year = request["year"].get<std::string>();
    if (year.size() != 4 || year.find_first_not_of("0123456789") != std::string::npos) {
        return "DEC_1_6 year '" + year + "' is not four digits";
    }
    const json& files = request["files"];
    const bool order = files.size() == 1 ? (files[0]["fileDocumentType"] == "DEC_1" ||
                                            files[0]["fileDocumentType"] == "DEC_6")
                                         : files.size() == 2 && files[0]["fileDocumentType"] == "DEC_1" &&
                                               files[1]["fileDocumentType"] == "DEC_6";
    if (!order) {
        return "DEC_1_6 files are not DEC_1, DEC_6 or DEC_1 then DEC_6";
    }
    for (const json& file : files) {
        if (file["fileType"] != "txt") {
            return "a DEC_1_6 file is not txt";
        }
        const Bytes content = *decodeStrictBase64(file["fileContentBase64"].get<std::string>());
        if (file["numRecords"].get<std::uint64_t>() != formRecords(content)) {
            return "numRecords of " + file["fileName"].get<std::string>() + " is not its record count " +
                   std::to_string(formRecords(content));
        }
    }
    return {};
}

std::string submitProblem(const json& request, const TestPki& pki) {
    if (std::string problem = membersProblem(request, submitMembers(), "the request"); !problem.empty()) {
        return problem;
    }
    static const std::set<std::string> kFamilies = {"DEC_1_6", "DEC_ETZ62", "DEC_ETZ123",
                                                    "DEC_HIGH_FISC_RISK"};
    if (kFamilies.count(request["serviceDocumentType"].get<std::string>()) == 0) {
        return "serviceDocumentType is '" + request["serviceDocumentType"].get<std::string>() + "'";
    }
    if (request["insuranceFund"].get<std::uint64_t>() > 1) {
        return "insuranceFund is neither 0 nor 1";
    }
    const std::optional<Bytes> certificate =
        decodeStrictBase64(request["userSignatureBase64"].get<std::string>());
    if (!certificate || certificateSubject(*certificate).empty()) {
        return "userSignatureBase64 is no certificate";
    }
    for (const json& file : request["files"]) {
        if (std::string problem = fileProblem(file, *certificate, pki); !problem.empty()) {
            return problem;
        }
    }
    if (request["serviceDocumentType"] == "DEC_1_6") {
        return forms16Problem(request);
    }
    return {};
}

std::string resultProblem(const json& request) {
    if (!request.is_object()) {
        return "the request is no JSON object";
    }
    const auto documentId = request.find("documentId");
    if (documentId == request.end() || !documentId->is_number_integer()) {
        return "documentId is no JSON number";
    }
    for (const char* name :
         {"taxpayerPin", "taxpayerPinType", "userPin", "userPinType", "userSignatureBase64"}) {
        if (!request.contains(name) || !request[name].is_string()) {
            return std::string("no text ") + name;
        }
    }
    const std::optional<Bytes> certificate =
        decodeStrictBase64(request["userSignatureBase64"].get<std::string>());
    if (!certificate || certificateSubject(*certificate).empty()) {
        return "userSignatureBase64 is no certificate";
    }
    return {};
}

std::string receiptHtml(const RestDocument& document) {
    return "<html><body><h2>Входящ № " + document.entryNumber + "</h2><p>Документ " + document.documentId +
           " от " + document.entryDate + " е приет.</p></body></html>";
}

Reply errorReply(int status, const std::string& message) {
    return Reply::json(status, core::dumpCompact(json{{"errorMessage", message}}));
}

}  // namespace

struct RestApiRoutes::State {
    mutable std::mutex mutex;
    std::string apiKey = kDefaultApiKey;
    std::deque<RestSubmitOutcome> outcomes;
    RestReceipt receipt = RestReceipt::FullHtml;
    std::vector<RestDocument> documents;
    std::vector<std::string> rejections;
    int nextDocumentId = 9001;

    Reply refuse(int status, const std::string& reason) {
        std::lock_guard lock(mutex);
        rejections.push_back(reason);
        return errorReply(status, "fake-agency: " + reason);
    }

    // The request's JSON when its key and body pass, else the refusal.
    std::optional<json> accepted(const RecordedRequest& r, Reply& refusal) {
        if (r.header("Authorization") != "Bearer " + key()) {
            refusal = refuse(401, "wrong or missing API key");
            return std::nullopt;
        }
        if (!r.header("Content-Type").value_or("").starts_with("application/json")) {
            refusal = refuse(400, "the body is not application/json");
            return std::nullopt;
        }
        try {
            return json::parse(r.body);
        } catch (const std::exception&) {
            refusal = refuse(400, "the body is not JSON");
            return std::nullopt;
        }
    }

    std::string key() const {
        std::lock_guard lock(mutex);
        return apiKey;
    }
};

RestApiRoutes::RestApiRoutes(const TestPki& pki) : pki_(pki), state_(std::make_shared<State>()) {}

void RestApiRoutes::install(TestServer& api) {
    {
        std::lock_guard lock(state_->mutex);
        state_->apiKey = kDefaultApiKey;
        state_->outcomes.clear();
        state_->receipt = RestReceipt::FullHtml;
        state_->documents.clear();
        state_->rejections.clear();
    }
    const std::shared_ptr<State> state = state_;
    const TestPki* pki = &pki_;

    api.on("POST", "/declaration/api-declarations/", [state, pki](const RecordedRequest& r) {
        Reply refusal;
        const std::optional<json> request = state->accepted(r, refusal);
        if (!request) {
            return refusal;
        }
        if (const std::string problem = submitProblem(*request, *pki); !problem.empty()) {
            return state->refuse(400, problem);
        }
        std::lock_guard lock(state->mutex);
        const RestSubmitOutcome outcome =
            state->outcomes.empty() ? RestSubmitOutcome::Accepted : state->outcomes.front();
        if (!state->outcomes.empty()) {
            state->outcomes.pop_front();
        }
        if (outcome == RestSubmitOutcome::Refused) {
            return errorReply(400, "Невалиден XML: ред 3, колона 7.");
        }
        if (outcome == RestSubmitOutcome::ServerError) {
            Reply reply = Reply::text(500, "<html><body><h1>Вътрешна грешка</h1></body></html>");
            reply.contentType = "text/html; charset=utf-8";
            return reply;
        }
        const json& file = (*request)["files"][0];
        const Bytes content = *decodeStrictBase64(file["fileContentBase64"].get<std::string>());
        RestDocument document;
        document.documentId = std::to_string(state->nextDocumentId++);
        document.entryNumber = "ЕТ-" + document.documentId;
        document.entryDate = "2025-04-15T10:30:00";
        document.serviceDocumentType = (*request)["serviceDocumentType"];
        document.taxpayerPin = (*request)["taxpayerPin"];
        document.taxpayerPinType = (*request)["taxpayerPinType"];
        document.userPin = (*request)["userPin"];
        document.userPinType = (*request)["userPinType"];
        document.fileName = file["fileName"];
        document.fileDocumentType = file["fileDocumentType"];
        document.content.assign(content.begin(), content.end());
        document.requestJson = r.body;
        state->documents.push_back(document);
        return Reply::json(200, core::dumpCompact(json{{"documentId", document.documentId},
                                                       {"entryNumber", document.entryNumber},
                                                       {"entryDate", document.entryDate}}));
    });

    api.on("POST", "/declaration/api-declarations/result", [state](const RecordedRequest& r) {
        Reply refusal;
        const std::optional<json> request = state->accepted(r, refusal);
        if (!request) {
            return refusal;
        }
        if (const std::string problem = resultProblem(*request); !problem.empty()) {
            return state->refuse(400, problem);
        }
        const std::string documentId = (*request)["documentId"].dump();
        const std::string taxpayerPin = (*request)["taxpayerPin"];
        std::lock_guard lock(state->mutex);
        for (const RestDocument& document : state->documents) {
            if (document.documentId != documentId || document.taxpayerPin != taxpayerPin) {
                continue;
            }
            json answer = {{"documentId", document.documentId},
                           {"entryNumber", document.entryNumber},
                           {"entryDate", document.entryDate}};
            const std::string html = receiptHtml(document);
            switch (state->receipt) {
                case RestReceipt::FullHtml:
                    answer["base64FullHtmlResultInfo"] = core::base64Encode(html);
                    answer["base64HtmlResult"] = core::base64Encode(std::string("<p>кратък</p>"));
                    break;
                case RestReceipt::HtmlOnly:
                    answer["base64HtmlResult"] = core::base64Encode(html);
                    break;
                case RestReceipt::PlainOnly:
                    answer["base64Result"] = core::base64Encode("Входящ № " + document.entryNumber);
                    break;
                case RestReceipt::None:
                    break;
            }
            return Reply::json(200, core::dumpCompact(answer));
        }
        return errorReply(404, "Документът не е намерен.");
    });
}

void RestApiRoutes::setApiKey(std::string key) {
    std::lock_guard lock(state_->mutex);
    state_->apiKey = std::move(key);
}

void RestApiRoutes::queueSubmitOutcomes(const std::vector<RestSubmitOutcome>& outcomes) {
    std::lock_guard lock(state_->mutex);
    state_->outcomes.insert(state_->outcomes.end(), outcomes.begin(), outcomes.end());
}

void RestApiRoutes::setReceipt(RestReceipt receipt) {
    std::lock_guard lock(state_->mutex);
    state_->receipt = receipt;
}

std::vector<RestDocument> RestApiRoutes::documents() const {
    std::lock_guard lock(state_->mutex);
    return state_->documents;
}

std::vector<std::string> RestApiRoutes::rejections() const {
    std::lock_guard lock(state_->mutex);
    return state_->rejections;
}

}  // namespace velk::test
