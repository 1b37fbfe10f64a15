#include "features/vat/VatMonthdecQuery.h"

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/http/HtmlHelpers.h"
#include "infrastructure/http/ResponseText.h"
#include "infrastructure/portal/NapSession.h"
#include "infrastructure/portal/PortalHeaders.h"
#include "operations/PlsUrls.h"

namespace velk::core::features::vat {

namespace {

// A document id longer than this is no id of the portal's.
constexpr std::size_t kMaxDocIdDigits = 20;
constexpr std::size_t kMinCells = 9;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::optional<MonthdecRow> parseRow(std::string_view rowHtml) {
    const std::vector<std::string> cells = infra::http::htmlTableCells(rowHtml);
    if (cells.size() < kMinCells) {
        return std::nullopt;
    }
    MonthdecRow row;
    row.docId = parseDocId(cells[8]);
    if (row.docId.empty()) {
        return std::nullopt;
    }
    const std::string income = infra::http::htmlToText(cells[1]);
    const std::size_t slash = income.find('/');
    row.incomeNumber = trim(std::string_view(income).substr(0, slash));
    if (slash != std::string::npos) {
        row.submittedAt = trim(std::string_view(income).substr(slash + 1));
    }
    row.period = infra::http::htmlToText(cells[2]);
    row.submitMethod = infra::http::htmlToText(cells[5]);
    row.user = infra::http::htmlToText(cells[6]);
    row.endpointIds = parseEndpointIds(cells[8]);
    return row;
}

}  // namespace

std::string plsPubUrl(const std::string& page) {
    return operations::plsBaseUrl() + page;
}

MonthdecQueryResult VatMonthdecQuery(infra::portal::NapSession& session) {
    MonthdecQueryResult result;
    result.url = plsPubUrl("ivat.pub.MonthdecQuery");
    logLine(LogLevel::Info, "VatMonthdecQuery: GET " + result.url);
    infra::portal::PortalResponse response =
        session.httpGetWithHeaders(result.url, infra::portal::PortalPageHeaders);
    result.httpStatus = response.status;
    // The portal's pages come in windows-1251 as often as not: the texts are
    // read by the page's charset, so the period label can match them.
    result.contentType = infra::http::findHeader(response.headers, "Content-Type").value_or(std::string());
    const std::string text = infra::http::bodyAsUtf8(response.body, result.contentType);
    result.preview = utf8SafePrefix(text, kMonthdecPreviewBytes);
    result.body = std::move(response.body);
    if (result.httpStatus < 200 || result.httpStatus > 299) {
        return result;
    }
    for (const std::string& rowHtml : infra::http::htmlTableRows(text)) {
        if (std::optional<MonthdecRow> row = parseRow(rowHtml)) {
            result.rows.push_back(std::move(*row));
        }
    }
    return result;
}

std::vector<MonthdecRow> filterMonthdecRowsByPeriod(const std::vector<MonthdecRow>& rows, std::int32_t year,
                                                    std::int32_t month) {
    const std::string name = infra::http::bulgarianMonthName(month);
    std::vector<MonthdecRow> kept;
    if (name.empty()) {
        return kept;
    }
    const std::string label = name + " " + std::to_string(year);
    for (const MonthdecRow& row : rows) {
        if (row.period.find(label) != std::string::npos) {
            kept.push_back(row);
        }
    }
    return kept;
}

std::set<std::int32_t> parseEndpointIds(std::string_view cellHtml) {
    std::set<std::int32_t> ids;
    for (std::int32_t n = 1; n <= 4; ++n) {
        // The '&' belongs to the test: "ipendpoint_id=12&" is no 1.
        if (cellHtml.find("ipendpoint_id=" + std::to_string(n) + "&") != std::string_view::npos) {
            ids.insert(n);
        }
    }
    return ids;
}

std::string parseDocId(std::string_view cellHtml) {
    static constexpr std::string_view kKey = "ipdoc_id=";
    for (std::size_t at = 0; at + kKey.size() <= cellHtml.size(); ++at) {
        if (!iequalsAscii(cellHtml.substr(at, kKey.size()), kKey)) {
            continue;
        }
        std::size_t end = at + kKey.size();
        while (end < cellHtml.size() && isDigit(cellHtml[end])) {
            ++end;
        }
        const std::size_t digits = end - (at + kKey.size());
        if (digits > 0 && digits <= kMaxDocIdDigits) {
            return std::string(cellHtml.substr(at + kKey.size(), digits));
        }
    }
    return {};
}

std::string monthdecDownloadUrl(std::int32_t systemId, std::int32_t endpointId, const std::string& docId) {
    return plsPubUrl("download") + "?ipsystem_id=" + std::to_string(systemId) +
           "&ipendpoint_id=" + std::to_string(endpointId) + "&ipdoc_id=" + docId;
}

}  // namespace velk::core::features::vat
