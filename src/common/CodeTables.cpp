#include "common/CodeTables.h"

#include <array>
#include <limits>
#include <utility>

#include "common/TextUtils.h"

namespace velk::core {

namespace {

using CodeName = std::pair<std::int32_t, std::string_view>;

constexpr std::array<CodeName, 5> kIdentifierTypes{{
    {1, "IND_EGN"},
    {2, "IND_LNCH"},
    {3, "IND_SLNO"},
    {4, "IND_BULSTAT"},
    {5, "BUS_BULSTAT"},
}};

constexpr std::array<CodeName, 3> kExportFormats{{{1, "txt"}, {2, "csv"}, {3, "xml"}}};

constexpr std::array<CodeName, 4> kDocumentFamilies{{
    {1, "DEC_1_6"},
    {2, "DEC_ETZ62"},
    {3, "DEC_ETZ123"},
    {4, "DEC_HIGH_FISC_RISK"},
}};

constexpr std::array<CodeName, 14> kDocumentTypes{{
    {1, "DEC_1"},
    {6, "DEC_6"},
    {7, "DEC_ETZ62"},
    {8, "DEC_ETZ123"},
    {9, "DEC_FISC_RISK_EU_BG"},
    {10, "DEC_FISC_RISK_BG_EU"},
    {11, "DEC_FISC_RISK_ANNUL"},
    {12, "DEC_FISC_RISK_CONFIRM"},
    {13, "DEC_FISC_RISK_BG_BG"},
    {14, "DEC_FISC_RISK_IMPORT"},
    {1001, "FILE_REF73_PRG1"},
    {1006, "FILE_REF73_PRG6"},
    {2000, "FILE_E_STORE_AUDIT"},
    {3000, "FILE_VAT_REPORT"},
}};

constexpr std::string_view kUnknown = "UNKNOWN";
constexpr std::int32_t kDefaultSystemId = 5;

template <std::size_t N>
std::string_view nameOf(const std::array<CodeName, N>& table, std::int32_t code, std::string_view fallback) {
    for (const auto& [c, name] : table) {
        if (c == code) {
            return name;
        }
    }
    return fallback;
}

}  // namespace

std::string_view identifierTypeName(std::int32_t type) {
    return nameOf(kIdentifierTypes, type, kUnknown);
}

std::int32_t parseIdentifierType(std::string_view text) {
    for (const auto& [code, name] : kIdentifierTypes) {
        if (name == text) {
            return code;
        }
    }
    return 0;
}

std::string_view exportFormatName(std::int32_t format) {
    return nameOf(kExportFormats, format, "");
}

std::string_view documentFamilyName(std::int32_t family) {
    return nameOf(kDocumentFamilies, family, kUnknown);
}

std::string_view documentTypeName(std::int32_t type) {
    return nameOf(kDocumentTypes, type, kUnknown);
}

std::int32_t systemIdOf(const ServiceLink& link) {
    const auto it = link.props.find("systemId");
    if (it == link.props.end() || it->second.empty()) {
        return kDefaultSystemId;
    }
    const auto value = parseInt64(it->second);
    if (!value || *value < std::numeric_limits<std::int32_t>::min() ||
        *value > std::numeric_limits<std::int32_t>::max()) {
        return kDefaultSystemId;
    }
    return static_cast<std::int32_t>(*value);
}

}  // namespace velk::core
