#include "fakes/agency/VatRoutes.h"

#include <mutex>
#include <string_view>
#include <utility>

#include "common/JsonUtils.h"
#include "common/TextUtils.h"
#include "fakes/agency/FormBody.h"
#include "fakes/agency/VatTextFixtures.h"

namespace velk::test {

namespace {

constexpr const char* kSystemId = "9";
constexpr const char* kFileNames[] = {"", "DEKLAR.TXT", "POKUPKI.TXT", "PRODAGBI.TXT", "VIES.TXT"};

std::optional<std::int64_t> selectedTin(const RecordedRequest& r) {
    const std::optional<std::string> context = r.cookie("selectedContext");
    if (!context) {
        return std::nullopt;
    }
    const std::vector<std::uint8_t> bytes = core::base64Decode(*context);
    return core::parseInt64(std::string(bytes.begin(), bytes.end()));
}

std::optional<std::string> queryValue(std::string_view query, std::string_view key) {
    for (const FormBodyField& field : parseFormBody(query)) {
        if (field.rawName == key) {
            return field.value;
        }
    }
    return std::nullopt;
}

Reply unauthorised() {
    return Reply::json(401, R"({"error":"unauthorized"})");
}

Reply page(int status, const std::string& utf8Html, const std::string& charset) {
    Reply reply = Reply::text(status, charset == "utf-8" ? utf8Html : toWindows1251(utf8Html));
    reply.contentType = charset.empty() ? "text/html" : "text/html; charset=" + charset;
    return reply;
}

std::string row(const VatFiling& filing) {
    std::string links;
    for (const auto& [id, bytes] : filing.files) {
        links += "<a href=\"download?ipsystem_id=" + std::string(kSystemId) +
                 "&amp;ipendpoint_id=" + std::to_string(id) + "&amp;ipdoc_id=" + filing.docId + "\">" +
                 (id >= 1 && id <= 4 ? kFileNames[id] : "file") + "</a> ";
    }
    return "<tr class=\"row\" onmouseover=\"this.className='hl'\" onmouseout=\"this.className='row'\">"
           "<td>" +
           filing.docId +
           "</td>"
           "<td>" +
           filing.incomeNumber + "/" + filing.submittedAt +
           "</td>"
           "<td>" +
           filing.period +
           "</td>"
           "<td>ДДС</td><td>Приета</td>"
           "<td>" +
           filing.submitMethod +
           "</td>"
           "<td>" +
           filing.user +
           "</td>"
           "<td>&nbsp;</td>"
           "<td>" +
           links + "</td></tr>\n";
}

const char* const kMonthNames[] = {"Януари", "Февруари", "Март",      "Април",    "Май",     "Юни",
                                   "Юли",    "Август",   "Септември", "Октомври", "Ноември", "Декември"};

std::string field(const std::vector<FormBodyField>& fields, std::string_view name) {
    for (const FormBodyField& f : fields) {
        if (f.rawName == name) {
            return f.value;
        }
    }
    return {};
}

std::string bytesOf(const std::string& base64) {
    const std::vector<std::uint8_t> bytes = core::base64Decode(base64);
    return std::string(bytes.begin(), bytes.end());
}

// The tin of the taxpayer whose identifier the VAT number carries
// ("BG123456789" or "123456789").
std::optional<std::int64_t> tinOfVatNumber(const std::string& taxpayersJson, std::string vatNumber) {
    vatNumber = core::trim(vatNumber);
    if (vatNumber.rfind("BG", 0) == 0) {
        vatNumber = vatNumber.substr(2);
    }
    const core::json taxpayers = core::json::parse(taxpayersJson, nullptr, false);
    for (const core::json& taxpayer : taxpayers.is_array() ? taxpayers : core::json::array()) {
        if (taxpayer.is_object() && taxpayer.value("pin", core::json("")) == core::json(vatNumber) &&
            taxpayer.contains("tin") && taxpayer["tin"].is_number_integer()) {
            return taxpayer["tin"].get<std::int64_t>();
        }
    }
    return std::nullopt;
}

std::string twoDigits(int value) {
    return (value < 10 ? "0" : "") + std::to_string(value);
}

void threeFiles(VatFiling& filing, const std::string& docTag) {
    filing.files[1] =
        deklarLine("BG123456789", "Тест ЕООД", filing.period == "Март 2024" ? "202403" : "202402") + "\r\n";
    filing.files[2] = journalLine("BG123456789", docTag + "-1", "Доставчик АД", "100.00") + "\r\n" +
                      journalLine("BG123456789", docTag + "-2", "Друг доставчик", "20.00") + "\r\n";
    filing.files[3] = journalLine("BG123456789", docTag + "-3", "Клиент ООД", "300.00") + "\r\n";
}

}  // namespace

std::vector<VatFiling> defaultVatFilings() {
    VatFiling correction;
    correction.docId = "880002";
    correction.incomeNumber = "24-0002";
    correction.submittedAt = "16.04.2024 09:30";
    correction.period = "Март 2024";
    threeFiles(correction, "K");
    correction.files.erase(3);

    VatFiling march;
    march.docId = "880001";
    march.incomeNumber = "24-0001";
    march.submittedAt = "14.04.2024 10:15";
    march.period = "Март 2024";
    threeFiles(march, "M");

    VatFiling february;
    february.docId = "880000";
    february.incomeNumber = "24-0000";
    february.submittedAt = "14.03.2024 11:00";
    february.period = "Февруари 2024";
    threeFiles(february, "F");
    february.files[4] = std::nullopt;
    return {correction, march, february};
}

struct VatRoutes::State {
    struct Pending {
        VatFiling filing;
        int readsLeft = 0;
    };

    mutable std::mutex mutex;
    std::vector<VatFiling> filings;
    std::vector<Pending> pending;  // filed, not listed yet
    std::vector<VatReceipt> receipts;
    std::string charset = "windows-1251";
    int listingDelay = 0;
    int failingReads = 0;

    void restoreDefaults() {
        std::lock_guard lock(mutex);
        filings = defaultVatFilings();
        pending.clear();
        receipts.clear();
        charset = "windows-1251";
        listingDelay = 0;
        failingReads = 0;
    }

    // A filing whose wait is over goes to the top of the page.
    void listDueFilings() {
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->readsLeft-- > 0) {
                ++it;
                continue;
            }
            filings.insert(filings.begin(), std::move(it->filing));
            it = pending.erase(it);
        }
    }

    Reply receive(const std::string& body, const std::string& taxpayersJson) {
        const std::vector<FormBodyField> fields = parseFormBody(body);
        VatReceipt receipt;
        receipt.signerEmail = field(fields, "signerEmail");
        receipt.certificate = field(fields, "certificate");
        receipt.iban = field(fields, "iban");
        for (const char* name : {"DEKLAR.TXT", "POKUPKI.TXT", "PRODAGBI.TXT"}) {
            receipt.files[name] = bytesOf(field(fields, name));
        }
        receipt.signature = core::base64Decode(field(fields, "signature"));
        if (receipt.files["DEKLAR.TXT"].empty() || receipt.signature.empty()) {
            return Reply::text(400, "fake-agency: DEKLAR.TXT and signature expected");
        }

        const std::string& deklar = receipt.files["DEKLAR.TXT"];
        const std::optional<std::int64_t> tin = tinOfVatNumber(taxpayersJson, deklar.substr(0, 15));
        const std::int32_t year =
            deklar.size() >= 71 ? core::parseInt32(deklar.substr(65, 4)).value_or(0) : 0;
        const std::int32_t month =
            deklar.size() >= 71 ? core::parseInt32(deklar.substr(69, 2)).value_or(0) : 0;
        std::lock_guard lock(mutex);
        if (tin && year > 0 && month >= 1 && month <= 12) {
            const int number = static_cast<int>(receipts.size()) + 1;
            VatFiling filing;
            filing.tin = *tin;
            filing.docId = std::to_string(890000 + number);
            filing.incomeNumber = std::to_string(year % 100) + "-" + std::to_string(1000 + number);
            filing.submittedAt = "14." + twoDigits(month % 12 + 1) + "." +
                                 std::to_string(month == 12 ? year + 1 : year) + " 10:30";
            filing.period = std::string(kMonthNames[month - 1]) + " " + std::to_string(year);
            filing.files[1] = receipt.files["DEKLAR.TXT"];
            filing.files[2] = receipt.files["POKUPKI.TXT"];
            filing.files[3] = receipt.files["PRODAGBI.TXT"];
            receipt.docId = filing.docId;
            pending.push_back({std::move(filing), listingDelay});
        }
        receipts.push_back(receipt);
        return Reply::text(200, receipt.docId.empty() ? "received" : "received " + receipt.docId);
    }

    Reply document(std::int64_t tin, const std::string& docId) {
        std::lock_guard lock(mutex);
        for (const VatFiling& filing : filings) {
            if (filing.tin == tin && filing.docId == docId) {
                return page(200,
                            "<html><head><title>Справка-декларация по ЗДДС</title></head><body>"
                            "<h1>Справка-декларация по ЗДДС</h1><p>Вх. № " +
                                filing.incomeNumber + " от " + filing.submittedAt + "</p><p>Период: " +
                                filing.period + "</p><p>Документът е приет.</p></body></html>",
                            charset);
            }
        }
        return page(404, "<html><body>Няма такъв документ.</body></html>", "windows-1251");
    }

    Reply listing(std::int64_t tin) {
        std::lock_guard lock(mutex);
        if (failingReads > 0) {
            --failingReads;
            return page(500, "<html><body>Грешка в системата.</body></html>", "windows-1251");
        }
        listDueFilings();
        std::string html =
            "<html><head><title>Справки-декларации по ЗДДС</title></head><body><table>"
            "<tr><th>№</th><th>Вх. №</th><th>Период</th><th>Вид</th><th>Статус</th><th>Начин</th>"
            "<th>Потребител</th><th></th><th>Файлове</th></tr>\n";
        for (const VatFiling& filing : filings) {
            if (filing.tin == tin) {
                html += row(filing);
            }
        }
        html += "</table></body></html>";
        return page(200, html, charset);
    }

    Reply download(std::int64_t tin, const std::string& endpoint, const std::string& docId) {
        std::lock_guard lock(mutex);
        const std::optional<std::int32_t> id = core::parseInt32(endpoint);
        for (const VatFiling& filing : filings) {
            if (filing.tin != tin || filing.docId != docId || !id) {
                continue;
            }
            const auto it = filing.files.find(*id);
            if (it == filing.files.end() || !it->second) {
                break;
            }
            Reply reply = Reply::text(200, *it->second);
            reply.contentType = "application/octet-stream";
            return reply;
        }
        return page(404, "<html><body>Няма такъв файл.</body></html>", "windows-1251");
    }
};

VatRoutes::VatRoutes() : state_(std::make_shared<State>()) {}

void VatRoutes::install(TestServer& portal, LiveCheck live, TextSource taxpayersJson) {
    state_->restoreDefaults();
    const std::shared_ptr<State> state = state_;
    portal.on("POST", "/ls/vat/standin-filing", [state, taxpayersJson](const RecordedRequest& r) {
        return state->receive(r.body, taxpayersJson());
    });
    portal.on("GET", "/pls/pub/ivat.pub.ShowDocument", [state, live](const RecordedRequest& r) {
        if (!live(r)) {
            return unauthorised();
        }
        const std::optional<std::int64_t> tin = selectedTin(r);
        if (!tin) {
            return Reply::text(400, "fake-agency: no taxpayer selected");
        }
        const std::optional<std::string> docId = queryValue(r.query, "ipId");
        if (!docId || queryValue(r.query, "ipDocType") != std::optional<std::string>("20")) {
            return Reply::text(400, "fake-agency: ipId and ipDocType=20 expected");
        }
        return state->document(*tin, *docId);
    });
    portal.on("GET", "/pls/pub/ivat.pub.MonthdecQuery", [state, live](const RecordedRequest& r) {
        if (!live(r)) {
            return unauthorised();
        }
        const std::optional<std::int64_t> tin = selectedTin(r);
        return tin ? state->listing(*tin) : Reply::text(400, "fake-agency: no taxpayer selected");
    });
    portal.on("GET", "/pls/pub/download", [state, live](const RecordedRequest& r) {
        if (!live(r)) {
            return unauthorised();
        }
        const std::optional<std::int64_t> tin = selectedTin(r);
        if (!tin) {
            return Reply::text(400, "fake-agency: no taxpayer selected");
        }
        const std::optional<std::string> system = queryValue(r.query, "ipsystem_id");
        const std::optional<std::string> endpoint = queryValue(r.query, "ipendpoint_id");
        const std::optional<std::string> docId = queryValue(r.query, "ipdoc_id");
        if (!system || *system != kSystemId || !endpoint || !docId) {
            return Reply::text(400, "fake-agency: ipsystem_id 9, ipendpoint_id and ipdoc_id expected");
        }
        return state->download(*tin, *endpoint, *docId);
    });
    portal.on("GET", "/pls/pub/login.status", [live](const RecordedRequest& r) {
        return page(200,
                    live(r) ? "<html><body><p>Активна сесия: ivan</p></body></html>"
                            : "<html><body><p>Няма активна сесия.</p></body></html>",
                    "windows-1251");
    });
}

void VatRoutes::setFilings(std::vector<VatFiling> filings) {
    std::lock_guard lock(state_->mutex);
    state_->filings = std::move(filings);
}

void VatRoutes::setListingDelay(int reads) {
    std::lock_guard lock(state_->mutex);
    state_->listingDelay = reads;
}

void VatRoutes::failPageReads(int count) {
    std::lock_guard lock(state_->mutex);
    state_->failingReads = count;
}

std::vector<VatReceipt> VatRoutes::receipts() const {
    std::lock_guard lock(state_->mutex);
    return state_->receipts;
}

void VatRoutes::setPageCharset(std::string charset) {
    std::lock_guard lock(state_->mutex);
    state_->charset = std::move(charset);
}

}  // namespace velk::test
