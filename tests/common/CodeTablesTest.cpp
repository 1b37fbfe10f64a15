#include "common/CodeTables.h"

#include <gtest/gtest.h>

namespace velk::core {
namespace {

TEST(CodeTables, IdentifierTypesRoundTrip) {
    for (std::int32_t code = 1; code <= 5; ++code) {
        EXPECT_EQ(parseIdentifierType(identifierTypeName(code)), code);
    }
    EXPECT_EQ(identifierTypeName(code(IdentifierType::IND_EGN)), "IND_EGN");
    EXPECT_EQ(identifierTypeName(code(IdentifierType::BUS_BULSTAT)), "BUS_BULSTAT");
    EXPECT_EQ(identifierTypeName(0), "UNKNOWN");
    EXPECT_EQ(identifierTypeName(6), "UNKNOWN");
    // An unknown code written as text reads back as 0.
    EXPECT_EQ(parseIdentifierType(identifierTypeName(6)), 0);
    for (const char* text : {"ind_egn", " IND_EGN", "IND_EGN ", "UNKNOWN", ""}) {
        EXPECT_EQ(parseIdentifierType(text), 0) << '"' << text << '"';
    }
}

TEST(CodeTables, NamesOfTheRestCodes) {
    EXPECT_EQ(exportFormatName(1), "txt");
    EXPECT_EQ(exportFormatName(3), "xml");
    EXPECT_EQ(exportFormatName(0), "");
    EXPECT_EQ(exportFormatName(4), "");

    EXPECT_EQ(documentFamilyName(1), "DEC_1_6");
    EXPECT_EQ(documentFamilyName(4), "DEC_HIGH_FISC_RISK");
    EXPECT_EQ(documentFamilyName(5), "UNKNOWN");

    const std::pair<std::int32_t, std::string_view> types[] = {
        {1, "DEC_1"},
        {6, "DEC_6"},
        {7, "DEC_ETZ62"},
        {14, "DEC_FISC_RISK_IMPORT"},
        {1001, "FILE_REF73_PRG1"},
        {3000, "FILE_VAT_REPORT"},
        {2, "UNKNOWN"},
        {5, "UNKNOWN"},
        {15, "UNKNOWN"},
        {1002, "UNKNOWN"},
    };
    for (const auto& [c, name] : types) {
        EXPECT_EQ(documentTypeName(c), name) << c;
    }
}

TEST(CodeTables, SystemIdOfReadsTheLinkProperty) {
    const std::pair<std::optional<std::string>, std::int32_t> cases[] = {
        {"12", 12},
        {" 7", 7},
        {"12abc", 12},
        {"-3", -3},
        {"abc", 5},
        {"12345678901", 5},
        {"", 5},
        {std::nullopt, 5},
        {"2147483647", 2147483647},
        {"-2147483649", 5},
    };
    for (const auto& [value, expected] : cases) {
        ServiceLink link;
        if (value) {
            link.props["systemId"] = *value;
        }
        EXPECT_EQ(systemIdOf(link), expected) << value.value_or("<missing>");
    }
}

TEST(PortalRecords, DefaultLinkHasNoSortNumber) {
    const ServiceLink link;
    EXPECT_EQ(link.orderNum, 2147483647);
    EXPECT_TRUE(link.props.empty());
}

}  // namespace
}  // namespace velk::core
