#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "features/common/DebtPaymentsPortal.h"
#include "features/common/PortalJsonFields.h"

namespace velk::core::features {
namespace {

struct FieldCase {
    const char* element;  // JSON text
    std::string amounts;  // jsonFieldText of "v"
    std::string types;    // typeFieldText of "v"
    double number;        // jsonFieldNumber of "v"
};

TEST(PortalJsonFields, ReadEveryKindOfMember) {
    const std::vector<FieldCase> cases = {
        {R"({"w":1})", "", "", 0},
        {R"({"v":null})", "", "", 0},
        {R"([{"v":1}])", "", "", 0},
        {"7", "", "", 0},
        {R"({"v":"100.5"})", "100.5", "100.5", 0},
        {R"({"v":"Данък"})", "Данък", "Данък", 0},
        {R"({"v":100})", "100", "100", 100},
        {R"({"v":-42})", "-42", "-42", -42},
        {R"({"v":18446744073709551615})", "18446744073709551615", "18446744073709551615",
         18446744073709551615.0},
        {R"({"v":100.5})", "100.50", "100.500000", 100.5},
        {R"({"v":-3.5})", "-3.50", "-3.500000", -3.5},
        {R"({"v":3.0})", "3.00", "3.000000", 3},
        {R"({"v":0.005})", "0.01", "0.005000", 0.005},
        {R"({"v":true})", "true", "true", 0},
        {R"({"v":false})", "false", "false", 0},
        {R"({"v":{"b":2,"a":"я"}})", R"({"a":"я","b":2})", R"({"a":"я","b":2})", 0},
        {R"({"v":[1,"x",null]})", R"([1,"x",null])", R"([1,"x",null])", 0},
    };
    for (const FieldCase& c : cases) {
        SCOPED_TRACE(c.element);
        const json element = json::parse(c.element);
        EXPECT_EQ(jsonFieldText(element, "v"), c.amounts);
        EXPECT_EQ(typeFieldText(element, "v"), c.types);
        EXPECT_DOUBLE_EQ(jsonFieldNumber(element, "v"), c.number);
    }
}

TEST(DebtPaymentsPortal, LeadingYearReadsTheLeadingInteger) {
    const std::vector<std::pair<std::string, std::optional<std::int32_t>>> cases = {
        {"2024", 2024},
        {"2024.000000", 2024},
        {"  2024 г.", 2024},
        {"+2023", 2023},
        {"-1", -1},
        {"", std::nullopt},
        {"abc", std::nullopt},
        {"г. 2024", std::nullopt},
        {"2147483647", 2147483647},
        {"2147483648", std::nullopt},
        {"99999999999999999999", std::nullopt},
    };
    for (const auto& [text, year] : cases) {
        EXPECT_EQ(leadingYear(text), year) << text;
    }
}

TEST(DebtPaymentsPortal, TheKindCannotAddParametersToTheQuery) {
    EXPECT_EQ(debtPaymentsUrl("0", 2024), "https://portal.nra.bg/api/base/debt-payments?TYPE=0&YEAR=2024");
    EXPECT_EQ(debtPaymentsUrl("0&YEAR=1999", 2024),
              "https://portal.nra.bg/api/base/debt-payments?TYPE=0%26YEAR%3D1999&YEAR=2024");
    EXPECT_EQ(debtPaymentsUrl("12 #x", 0),
              "https://portal.nra.bg/api/base/debt-payments?TYPE=12%20%23x&YEAR=0");
    EXPECT_EQ(debtPaymentTypesUrl(), "https://portal.nra.bg/api/base/debt-payments/types");
}

}  // namespace
}  // namespace velk::core::features
