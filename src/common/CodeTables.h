#pragma once

#include <cstdint>
#include <string_view>

#include "common/PortalRecords.h"

namespace velk::core {

// The enumerations carry the agency's numeric codes. The functions take the
// plain code, since codes also arrive from settings files and the wire.

// Kind of a taxpayer's or sender's identifier; 0 is "not recognised".
enum class IdentifierType : std::int32_t {
    None = 0,
    IND_EGN = 1,
    IND_LNCH = 2,
    IND_SLNO = 3,
    IND_BULSTAT = 4,
    BUS_BULSTAT = 5,
};

// Format of a file in a REST declaration.
enum class ExportFormat : std::int32_t { Txt = 1, Csv = 2, Xml = 3 };

// REST service a declaration is sent to.
enum class DocumentFamily : std::int32_t { Dec1_6 = 1, Etz62 = 2, Etz123 = 3, HighFiscRisk = 4 };

// Type of one file inside a REST declaration; the gaps are part of the code set.
enum class DocumentType : std::int32_t {
    Dec1 = 1,
    Dec6 = 6,
    Etz62 = 7,
    Etz123 = 8,
    FiscRiskEuBg = 9,
    FiscRiskBgEu = 10,
    FiscRiskAnnul = 11,
    FiscRiskConfirm = 12,
    FiscRiskBgBg = 13,
    FiscRiskImport = 14,
    Ref73Prg1 = 1001,
    Ref73Prg6 = 1006,
    EStoreAudit = 2000,
    VatReport = 3000,
};

template <typename Enum>
constexpr std::int32_t code(Enum value) {
    return static_cast<std::int32_t>(value);
}

// The names are texts of static storage; unknown codes give "UNKNOWN"
// (exportFormatName: the empty text).
std::string_view identifierTypeName(std::int32_t type);
std::int32_t parseIdentifierType(std::string_view text);
std::string_view exportFormatName(std::int32_t format);
std::string_view documentFamilyName(std::int32_t family);
std::string_view documentTypeName(std::int32_t type);

// The link's "systemId" property, or 5 when it is missing or not a 32-bit number.
std::int32_t systemIdOf(const ServiceLink& link);

}  // namespace velk::core
