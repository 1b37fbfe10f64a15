// The portal's VAT results page: its rows, the period filter and the
// download addresses.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "features/vat/VatMonthdecQuery.h"
#include "portal_session/PortalSessionTest.h"

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

// A results-page row: the tag carries onmouseover, the cells are given.
std::string pageRow(const std::vector<std::string>& cells) {
    std::string row = "<tr class=\"row\" onmouseover=\"hl(this)\">";
    for (const std::string& cell : cells) {
        row += "<td>" + cell + "</td>";
    }
    return row + "</tr>";
}

// Nine cells of a filing whose ninth cell links to its files; the first cell
// holds a document link too, which must not be taken for the ninth.
std::vector<std::string> filingCells(const std::string& income, const std::string& filesCell) {
    return {"<a href=\"download?ipdoc_id=999\">1</a>",
            income,
            "Март 2024",
            "x",
            "x",
            "<b>електронно</b>",
            "Иван Петров",
            "<a href=\"download?ipdoc_id=998\">x</a>",
            filesCell};
}

class VatMonthdecPageTest : public infra::portal::PortalSessionTest {};

// The page's rows as VatMonthdecQuery reads them; the fake agency's own page
// holds only well-formed rows.
TEST_F(VatMonthdecPageTest, RowsNeedNineCellsAndADocumentLinkInTheNinth) {
    const std::string files =
        "<a href=\"download?ipsystem_id=9&amp;ipendpoint_id=1&amp;ipdoc_id=880001\">D</a>"
        "<a href=\"download?ipsystem_id=9&amp;ipendpoint_id=3&amp;ipdoc_id=880001\">P</a>";
    std::vector<std::string> eight = filingCells("24-0001/16.04.2024 09:30", files);
    eight.erase(eight.begin() + 7);  // the document link now sits in the eighth cell
    std::vector<std::string> ten = filingCells(" 24-0003 / 18.04.2024 / 11:00 ", files);
    ten.push_back("<a href=\"download?ipdoc_id=997\">x</a>");
    const std::string body =
        pageRow(eight) + pageRow(filingCells("24-0002/17.04.2024", "<a href=\"download?ipdoc_id=x\">D</a>")) +
        pageRow(filingCells("<i> 24-0004 </i>\n", files)) + pageRow(ten);
    struct Row {
        std::string docId;
        std::string incomeNumber;
        std::string submittedAt;
        std::set<std::int32_t> endpointIds;
    };
    struct Case {
        int status;
        std::vector<Row> rows;
    };
    const std::vector<Case> cases = {
        {200, {{"880001", "24-0004", "", {1, 3}}, {"880001", "24-0003", "18.04.2024 / 11:00", {1, 3}}}},
        // A refused page keeps what it said, and no row counts.
        {404, {}},
        {500, {}},
    };
    const std::string longBody = "<html>" + std::string(kMonthdecPreviewBytes, 'z') + body;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status);
        test::Reply reply = test::Reply::text(c.status, longBody);
        reply.contentType = "text/html; charset=utf-8";
        portal_.on("GET", "/pls/pub/ivat.pub.MonthdecQuery", reply);
        const MonthdecQueryResult page = VatMonthdecQuery(session_);
        EXPECT_EQ(page.httpStatus, c.status);
        EXPECT_EQ(page.url, "https://portal.nra.bg/pls/pub/ivat.pub.MonthdecQuery");
        EXPECT_EQ(page.body, longBody);
        EXPECT_EQ(page.preview, longBody.substr(0, kMonthdecPreviewBytes));
        ASSERT_EQ(page.rows.size(), c.rows.size());
        for (std::size_t i = 0; i < c.rows.size(); ++i) {
            EXPECT_EQ(page.rows[i].docId, c.rows[i].docId) << i;
            EXPECT_EQ(page.rows[i].incomeNumber, c.rows[i].incomeNumber) << i;
            EXPECT_EQ(page.rows[i].submittedAt, c.rows[i].submittedAt) << i;
            EXPECT_EQ(page.rows[i].period, "Март 2024") << i;
            EXPECT_EQ(page.rows[i].submitMethod, "електронно") << i;
            EXPECT_EQ(page.rows[i].user, "Иван Петров") << i;
            EXPECT_EQ(page.rows[i].endpointIds, c.rows[i].endpointIds) << i;
        }
    }
}

}  // namespace
}  // namespace velk::core::features::vat
