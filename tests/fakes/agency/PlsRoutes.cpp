#include "fakes/agency/PlsRoutes.h"

#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <utility>

#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "fakes/agency/FormBody.h"
#include "fakes/agency/SubmissionChecks.h"

namespace velk::test {

namespace {

using core::json;

constexpr std::string_view kPlsBase = "/pls/pub/";
constexpr std::string_view kAuditModule = "dec2009.ipubxmldec";
// The older module whose result pages come in windows-1251.
constexpr std::string_view kWindows1251Module = "dec2009.ipubxsd_val_dec";
constexpr const char* kIncomeDate = "15.04.2025";

// A check that failed: the reply and the reason.
struct Refusal {
    int status = 400;
    std::string reason;
};

Reply htmlPage(int status, const std::string& body, const std::string& charset = "utf-8") {
    Reply reply = Reply::text(status, body);
    reply.contentType = "text/html; charset=" + charset;
    return reply;
}

std::string twoDigits(int value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

// UTF-8 to windows-1251 for ASCII, А-я and "№"; anything else becomes '?'.
std::string toWindows1251(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(static_cast<char>(lead));
            i += 1;
            continue;
        }
        std::size_t length = (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : 4;
        char32_t cp = lead & (length == 2 ? 0x1F : length == 3 ? 0x0F : 0x07);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k) {
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        }
        if (cp >= 0x410 && cp <= 0x44F) {
            out.push_back(static_cast<char>(0xC0 + (cp - 0x410)));
        } else if (cp == 0x2116) {
            out.push_back(static_cast<char>(0xB9));
        } else {
            out.push_back('?');
        }
        i += length;
    }
    return out;
}

// The identifier of the taxpayer the request's selection cookies name.
std::optional<std::string> selectedEik(const RecordedRequest& r, const std::string& taxpayersJson,
                                       std::string& problem) {
    for (const char* cookie : {"selectedContext", "tpId", "selectedServiceId"}) {
        if (!r.cookie(cookie)) {
            problem = std::string("no ") + cookie + " cookie";
            return std::nullopt;
        }
    }
    const std::optional<Bytes> tinBytes = decodeStrictBase64(*r.cookie("selectedContext"));
    const std::optional<std::int64_t> tin =
        tinBytes ? core::parseInt64(std::string(tinBytes->begin(), tinBytes->end())) : std::nullopt;
    const json taxpayers = json::parse(taxpayersJson, nullptr, false);
    for (const json& taxpayer : taxpayers.is_array() ? taxpayers : json::array()) {
        if (tin && taxpayer.value("tin", json()) == json(*tin) && taxpayer.contains("pin") &&
            taxpayer["pin"].is_string()) {
            return taxpayer["pin"].get<std::string>();
        }
    }
    problem = "the selected taxpayer is unknown";
    return std::nullopt;
}

// The module of "/pls/pub/<prefix><module><suffix>" (ASCII case ignored),
// lower-cased; empty when the path has another form.
std::string moduleOf(const std::string& path, std::string_view prefix, std::string_view suffix) {
    const std::string lower = core::asciiLower(path);
    const std::size_t start = kPlsBase.size() + prefix.size();
    if (lower.size() <= start + suffix.size() ||
        !lower.starts_with(std::string(kPlsBase) + std::string(prefix)) || !lower.ends_with(suffix)) {
        return {};
    }
    return lower.substr(start, lower.size() - start - suffix.size());
}

// The DataTables request the agency's listing page sends; "start" and
// "length" choose the page and are checked apart.
std::map<std::string, std::string> expectedAjaxForm() {
    std::map<std::string, std::string> form = {
        {"draw", "1"},   {"start", ""},     {"length", ""}, {"search[value]", ""}, {"search[regex]", "false"},
        {"choice", "1"}, {"searchstr", ""},
    };
    const char* data[] = {"",       "UIN",      "PERIOD", "INNO",      "INNODATE",
                          "SIGNER", "USERINFO", "DOCID",  "HAS_RESULT"};
    for (int i = 0; i < 9; ++i) {
        const std::string column = "columns[" + std::to_string(i) + "]";
        form[column + "[data]"] = data[i];
        form[column + "[name]"] = "";
        form[column + "[searchable]"] = "true";
        form[column + "[orderable]"] = "false";
        form[column + "[search][value]"] = "";
        form[column + "[search][regex]"] = "false";
    }
    return form;
}

// The rows a DataTables request asks for: from "start", at most "length".
struct AjaxWindow {
    std::size_t start = 0;
    std::size_t length = 0;
};

// A count as the listing page writes it: decimal digits, nothing else.
std::optional<std::size_t> countField(const std::string& text) {
    const std::optional<std::int64_t> value = core::parseInt64(text);
    if (!value || *value < 0 || *value > 1000000 || std::to_string(*value) != text) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*value);
}

std::string ajaxFormProblem(const RecordedRequest& r, AjaxWindow& window) {
    if (r.header("X-Requested-With") != "XMLHttpRequest") {
        return "no X-Requested-With: XMLHttpRequest";
    }
    if (r.header("Accept") != "application/json, text/javascript, */*; q=0.01") {
        return "not the listing's Accept header";
    }
    std::map<std::string, std::string> sent;
    for (const FormBodyField& field : parseFormBody(r.body)) {
        if (!sent.emplace(field.rawName, field.value).second) {
            return "field " + field.rawName + " twice";
        }
    }
    const std::map<std::string, std::string> expected = expectedAjaxForm();
    if (sent.size() != expected.size()) {
        return std::to_string(sent.size()) + " fields instead of " + std::to_string(expected.size());
    }
    for (const auto& [name, value] : expected) {
        const auto it = sent.find(name);
        if (it == sent.end()) {
            return "no field " + name;
        }
        if (it->second != value && name != "start" && name != "length") {
            return "field " + name + " is '" + it->second + "'";
        }
    }
    const std::optional<std::size_t> start = countField(sent["start"]);
    const std::optional<std::size_t> length = countField(sent["length"]);
    if (!start || !length || *length == 0) {
        return "start '" + sent["start"] + "', length '" + sent["length"] + "'";
    }
    window = {*start, *length};
    return {};
}

// Markup as the agency's pages carry it: "error" in a style sheet, a class
// and an image's error handler, none of it visible.
std::string acceptedPage(const PlsDocument& document) {
    return "<html><head><title>Подаване на файл</title>\n"
           "<style>.error { color: #c00; }</style></head><body>\n"
           "<img src=\"/img/logo.png\" onerror=\"this.style.display='none'\">\n"
           "<div class=\"error\" hidden></div>\n"
           "<h3>Файлът е приет успешно.</h3>\n<p>Входящ № " +
           document.incomeNumber + "</p>\n<a href=\"" + core::asciiUpper(document.module) +
           ".showResult?pid=" + document.pid + "\">Резултат от проверката</a>\n</body></html>";
}

std::string resultPage(const PlsDocument& document) {
    return "<html><head><title>Резултат</title></head><body>\n<h2>Резултат от обработката</h2>\n"
           "<p>Документ " +
           document.pid + ", вх. № " + document.incomeNumber + " от " + document.incomeDate +
           "</p>\n<p>Документът е приет и обработен.</p>\n</body></html>";
}

std::string listingPage(const std::vector<PlsDocument>& documents) {
    std::string page =
        "<html><body><table class=\"list\">\n"
        "<tr class=\"head\"><th>№</th><th>Вх. №</th><th>Дата</th><th>Документ</th><th>Подал</th>"
        "<th>Година</th><th></th></tr>\n";
    int line = 0;
    for (const PlsDocument& document : documents) {
        page +=
            "<tr onmouseover=\"this.className='over'\" onmouseout=\"this.className=''\">"
            "<td>" +
            std::to_string(++line) + "</td><td>" + document.incomeNumber + "</td><td>" + document.incomeDate +
            "</td><td>Справка</td><td>Иван Петров Иванов</td><td>" + std::to_string(document.year) +
            "</td><td><a href=\"" + core::asciiUpper(document.module) + ".showResult?pid=" + document.pid +
            "\">Резултат</a></td></tr>\n";
    }
    return page + "</table></body></html>";
}

// The documents in filing order, the window's part of them in "data".
json ajaxListing(const std::vector<PlsDocument>& documents, const AjaxWindow& window) {
    json rows = json::array();
    for (std::size_t i = window.start; i < documents.size() && i - window.start < window.length; ++i) {
        const PlsDocument& document = documents[i];
        rows.push_back({
            {"UIN", document.eik},
            {"PERIOD", document.month > 0 ? twoDigits(document.month) + "." + std::to_string(document.year)
                                          : std::to_string(document.year)},
            {"INNO", document.incomeNumber},
            {"INNODATE", document.incomeDate},
            {"SIGNER", "Иван Петров Иванов"},
            {"USERINFO", ""},
            {"DOCID", document.pid},
            {"HAS_RESULT", "1"},
        });
    }
    const auto count = static_cast<std::int64_t>(documents.size());
    return {{"draw", 1}, {"recordsTotal", count}, {"recordsFiltered", count}, {"data", std::move(rows)}};
}

}  // namespace

struct PlsRoutes::State {
    mutable std::mutex mutex;
    std::vector<PlsDocument> documents;
    std::deque<UploadOutcome> outcomes;
    std::vector<std::string> rejections;
    int nextPid = 5001;

    Reply refuse(const Refusal& refusal) {
        std::lock_guard lock(mutex);
        rejections.push_back(refusal.reason);
        return Reply::text(refusal.status, "fake-agency: " + refusal.reason);
    }

    std::vector<PlsDocument> documentsOf(const std::string& module, const std::string& eik) const {
        std::lock_guard lock(mutex);
        std::vector<PlsDocument> out;
        for (const PlsDocument& document : documents) {
            if (document.module == module && document.eik == eik) {
                out.push_back(document);
            }
        }
        return out;
    }
};

PlsRoutes::PlsRoutes(const TestPki& pki) : pki_(pki), state_(std::make_shared<State>()) {}

void PlsRoutes::install(TestServer& portal, TestServer& login, LiveCheck live, TextSource taxpayersJson) {
    {
        std::lock_guard lock(state_->mutex);
        state_->documents.clear();
        state_->outcomes.clear();
        state_->rejections.clear();
    }
    const std::shared_ptr<State> state = state_;
    const TestPki* pki = &pki_;
    TestServer* loginHost = &login;

    // A live session with a taxpayer selected: its identifier, else the refusal.
    const auto selected = [live, taxpayersJson](const RecordedRequest& r, Refusal& refusal) {
        if (!live(r)) {
            refusal = {401, "no live session"};
            return std::optional<std::string>();
        }
        return selectedEik(r, taxpayersJson(), refusal.reason);
    };

    const auto upload = [state, pki, loginHost, selected](const RecordedRequest& r,
                                                          const std::string& module) {
        Refusal refusal;
        const std::optional<std::string> eik = selected(r, refusal);
        if (!eik) {
            return state->refuse(refusal);
        }
        std::map<std::string, std::string> fields;
        for (const FormBodyField& field : parseFormBody(r.body)) {
            fields[percentDecode(field.rawName)] = field.value;
        }
        for (const char* name : {"pfilename", "pyear", "pdata", "psign", "signerId"}) {
            if (fields.count(name) == 0 || (fields[name].empty() && std::string_view(name) != "pfilename")) {
                return state->refuse({400, std::string("no ") + name});
            }
        }
        if (fields["signerId"] != "5") {
            return state->refuse({400, "signerId is " + fields["signerId"]});
        }
        const std::optional<std::int32_t> year = core::parseInt32(fields["pyear"]);
        if (!year || std::to_string(*year) != fields["pyear"]) {
            return state->refuse({400, "pyear is " + fields["pyear"]});
        }
        const std::optional<Bytes> compressed = decodeStrictBase64(fields["pdata"]);
        const std::optional<Bytes> content = compressed ? gunzipMember(*compressed) : std::nullopt;
        if (!content) {
            return state->refuse({400, "pdata is not base64 of a gzip member"});
        }
        if (std::string problem = crlfProblem(*content); !problem.empty()) {
            return state->refuse({400, problem});
        }
        const std::optional<Bytes> signature = decodeStrictBase64(fields["psign"]);
        std::string subject;
        for (const RecordedRequest& qes : loginHost->requestsTo("/auth/login/qes")) {
            subject = qes.clientCertSubject.empty() ? subject : qes.clientCertSubject;
        }
        const std::string problem = signature ? portalSignatureProblem(*signature, *content, *pki, subject)
                                              : std::string("psign is not base64");
        if (!problem.empty()) {
            return state->refuse({400, problem});
        }

        std::unique_lock lock(state->mutex);
        const UploadOutcome outcome =
            state->outcomes.empty() ? UploadOutcome::Accepted : state->outcomes.front();
        if (!state->outcomes.empty()) {
            state->outcomes.pop_front();
        }
        switch (outcome) {
            case UploadOutcome::Refused:
                return htmlPage(200,
                                "<html><body><h3>Грешка при обработката: файлът не е приет.</h3>"
                                "<p>Невалидна структура на ред 3.</p></body></html>");
            case UploadOutcome::Unrecognised:
                return htmlPage(200, "<html><body><p>Заявката е получена.</p></body></html>");
            case UploadOutcome::ServerError:
                return htmlPage(500,
                                "<html><body><h1>500</h1><p>Временно недостъпна услуга.</p></body></html>");
            case UploadOutcome::Accepted:
                break;
        }
        PlsDocument document;
        document.module = module;
        document.eik = *eik;
        document.pid = std::to_string(state->nextPid++);
        document.incomeNumber = std::to_string(2400000000LL + std::stoll(document.pid));
        document.incomeDate = kIncomeDate;
        document.year = *year;
        document.month = fields.count("pmonth") != 0 ? core::parseInt32(fields["pmonth"]).value_or(0) : 0;
        document.fileName = fields["pfilename"];
        document.content.assign(content->begin(), content->end());
        state->documents.push_back(document);
        return htmlPage(200, acceptedPage(document));
    };

    portal.onPrefix("POST", std::string(kPlsBase), [state, selected, upload](const RecordedRequest& r) {
        if (const std::string module = moduleOf(r.path, "!", ".upload_file"); !module.empty()) {
            return upload(r, module);
        }
        if (core::asciiLower(r.path) !=
            std::string(kPlsBase) + "!" + std::string(kAuditModule) + ".ajaxlistdocuments") {
            return Reply::text(404, "no route");
        }
        Refusal refusal;
        const std::optional<std::string> eik = selected(r, refusal);
        if (!eik) {
            return state->refuse(refusal);
        }
        AjaxWindow window;
        if (const std::string problem = ajaxFormProblem(r, window); !problem.empty()) {
            return state->refuse({400, problem});
        }
        return Reply::json(
            200, core::dumpCompact(ajaxListing(state->documentsOf(std::string(kAuditModule), *eik), window)));
    });

    portal.onPrefix("GET", std::string(kPlsBase), [state, selected](const RecordedRequest& r) {
        const std::string listed = moduleOf(r.path, "", ".linkdocuments");
        const std::string shown = moduleOf(r.path, "", ".showresult");
        if (listed.empty() && shown.empty()) {
            return Reply::text(404, "no route");
        }
        Refusal refusal;
        const std::optional<std::string> eik = selected(r, refusal);
        if (!eik) {
            return state->refuse(refusal);
        }
        if (!listed.empty()) {
            return htmlPage(200, listingPage(state->documentsOf(listed, *eik)));
        }
        const std::string pid =
            r.query.starts_with("pid=") ? percentDecode(r.query.substr(4)) : std::string();
        for (const PlsDocument& document : state->documentsOf(shown, *eik)) {
            if (document.pid == pid) {
                return shown == kWindows1251Module
                           ? htmlPage(200, toWindows1251(resultPage(document)), "windows-1251")
                           : htmlPage(200, resultPage(document));
            }
        }
        return htmlPage(404, "<html><body><p>Няма такъв документ.</p></body></html>");
    });
}

void PlsRoutes::queueUploadOutcomes(const std::vector<UploadOutcome>& outcomes) {
    std::lock_guard lock(state_->mutex);
    state_->outcomes.insert(state_->outcomes.end(), outcomes.begin(), outcomes.end());
}

void PlsRoutes::addDocument(PlsDocument document) {
    std::lock_guard lock(state_->mutex);
    state_->documents.push_back(std::move(document));
}

void PlsRoutes::forgetDocuments() {
    std::lock_guard lock(state_->mutex);
    state_->documents.clear();
}

std::vector<PlsDocument> PlsRoutes::documents() const {
    std::lock_guard lock(state_->mutex);
    return state_->documents;
}

std::vector<std::string> PlsRoutes::rejections() const {
    std::lock_guard lock(state_->mutex);
    return state_->rejections;
}

}  // namespace velk::test
