// The portal's VAT results page: its rows, the period filter and the
// download addresses.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "features/vat/VatMonthdecQuery.h"

namespace velk::core::features::vat {
namespace {

TEST(VatMonthdecQueryTest, EndpointIdsNeedTheTrailingAmpersand) {
    struct Case {
        std::string cell;
        std::set<std::int32_t> ids;
    };
    const std::vector<Case> cases = {
        {"<a href=\"download?ipendpoint_id=1&ipdoc_id=5\"></a><a href=\"download?ipendpoint_id=3&amp;x\">",
         {1, 3}},
        {"download?ipendpoint_id=12&ipdoc_id=5", {}},
        {"download?ipdoc_id=5&ipendpoint_id=1", {}},
        {"ipendpoint_id=4&ipendpoint_id=2&", {2, 4}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseEndpointIds(c.cell), c.ids) << c.cell;
    }
}

TEST(VatMonthdecQueryTest, DocIds) {
    struct Case {
        std::string cell;
        std::string docId;
    };
    const std::vector<Case> cases = {
        {"<a href=\"download?ipsystem_id=9&ipdoc_id=880001\">", "880001"},
        {"IPDOC_ID=42&x", "42"},
        {"ipdoc_id=&ipdoc_id=7", "7"},
        {"ipdoc_id=x", ""},
        {"ipdoc_id=" + std::string(21, '9'), ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parseDocId(c.cell), c.docId) << c.cell;
    }
}

TEST(VatMonthdecQueryTest, FilterByPeriod) {
    std::vector<MonthdecRow> rows(4);
    rows[0].period = "Март 2024";
    rows[1].period = "Март 2023";
    rows[2].period = "Справка за Март 2024 (коригираща)";
    rows[3].period = "Април 2024";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].docId = std::to_string(i);
    }
    const std::vector<MonthdecRow> march = filterMonthdecRowsByPeriod(rows, 2024, 3);
    ASSERT_EQ(march.size(), 2u);
    EXPECT_EQ(march[0].docId, "0");
    EXPECT_EQ(march[1].docId, "2");
    EXPECT_TRUE(filterMonthdecRowsByPeriod(rows, 2024, 0).empty());
    EXPECT_TRUE(filterMonthdecRowsByPeriod(rows, 2024, 13).empty());
}

TEST(VatMonthdecQueryTest, DownloadUrl) {
    EXPECT_EQ(monthdecDownloadUrl(5, 2, "123456"),
              "https://portal.nra.bg/pls/pub/download?ipsystem_id=5&ipendpoint_id=2&ipdoc_id=123456");
}

}  // namespace
}  // namespace velk::core::features::vat
