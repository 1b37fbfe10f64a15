#include "infrastructure/http/HtmlHelpers.h"

#include <gtest/gtest.h>

namespace velk::core::infra::http {
namespace {

using Strings = std::vector<std::string>;

TEST(BulgarianMonthName, NamesOneToTwelveOnly) {
    EXPECT_EQ(bulgarianMonthName(1), "Януари");
    EXPECT_EQ(bulgarianMonthName(5), "Май");
    EXPECT_EQ(bulgarianMonthName(12), "Декември");
    EXPECT_EQ(bulgarianMonthName(0), "");
    EXPECT_EQ(bulgarianMonthName(13), "");
    EXPECT_EQ(bulgarianMonthName(-1), "");
}

TEST(DecodeHtmlEntities, SixEntitiesInTheirOrder) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"a&nbsp;b", "a b"},
        {"&lt;b&gt; &quot;x&quot; &apos;y&apos; &amp;", "<b> \"x\" 'y' &"},
        // One pass per entity, continuing after each replacement.
        {"a&amp;amp;b", "a&amp;b"},
        // &amp; comes after &nbsp; and before the rest.
        {"&amp;nbsp;", "&nbsp;"},
        {"&amp;quot;", "\""},
        {"&amp;lt;", "<"},
        // Nothing else is decoded.
        {"&#65; &#x41; &copy; &NBSP;", "&#65; &#x41; &copy; &NBSP;"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(decodeHtmlEntities(in), out) << in;
    }
}

TEST(HtmlTableRows, OnlyRowsWithOnmouseoverInTheirOpeningTag) {
    const std::string page =
        "<table><tr><td>header</td></tr>"
        "<tr class=\"x\"><td>plain</td></tr>"
        "<tr onmouseover=\"hi(this)\"><td>1</td></tr>\n"
        "<TR\n class=r OnMouseOver=\"hi(this)\"><TD>2</TD></TR>"
        "<tr onmouseover><td>3</td></tr>"
        "<tronmouseover><td>not a row</td></tr>"
        "</table>";
    EXPECT_EQ(htmlTableRows(page), (Strings{"<td>1</td>", "<TD>2</TD>", "<td>3</td>"}));
}

TEST(HtmlTableRows, RowEndsAtTheFirstClosingTag) {
    EXPECT_EQ(htmlTableRows("<tr onmouseover=x><td><table><tr><td>in</td></tr></table></td></tr>"),
              (Strings{"<td><table><tr><td>in</td>"}));
    EXPECT_EQ(htmlTableRows("<tr onmouseover=x><td>unclosed"), Strings{});
    EXPECT_EQ(htmlTableRows("<tr onmouseover=x"), Strings{});
    EXPECT_EQ(htmlTableRows(""), Strings{});
}

TEST(HtmlTableCells, EveryTdCellIncludingEmptyOnes) {
    EXPECT_EQ(htmlTableCells("<th>h</th><td>a</td><TD class=\"n\"></TD><td> <b>c</b>&amp; </td>"),
              (Strings{"a", "", " <b>c</b>&amp; "}));
    EXPECT_EQ(htmlTableCells("<td>open"), Strings{});
}

TEST(HtmlHelpers, MegabytePageWithHugeRowsIsScanned) {
    // Rows of tens of kilobytes overflow a recursive regex engine's stack.
    const std::string cell = "<td>" + std::string(40000, 'x') + "</td>";
    std::string page;
    std::size_t rows = 0;
    while (page.size() < 1'000'000) {
        page += "<tr onmouseover=\"h()\">" + cell + cell + "</tr>\n";
        ++rows;
    }
    const Strings found = htmlTableRows(page);
    ASSERT_EQ(found.size(), rows);
    EXPECT_EQ(htmlTableCells(found.back()).size(), 2u);
    EXPECT_EQ(htmlToText(found.front()).size(), 2 * 40000 + 1);
}

TEST(RegexFirstCapture, FirstGroupOfTheFirstMatch) {
    EXPECT_EQ(regexFirstCapture("pid = 12345; pid = 9", R"(PID\s*=\s*(\d+))"), "12345");
    EXPECT_EQ(regexFirstCapture("no number", R"(pid=(\d+))"), "");
    EXPECT_EQ(regexFirstCapture("pid=1", "pid=\\d"), "");         // no group
    EXPECT_EQ(regexFirstCapture("ab", "a(x)?b"), "");             // group not taking part
    EXPECT_EQ(regexFirstCapture("anything", "(unbalanced"), "");  // does not compile
}

TEST(HtmlToText, OneTrimmedLineOfText) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", ""},
        {"<td>a</td>\n<td>b</td>", "a b"},
        {"  <b>Входящ</b>&nbsp;номер:\t<i>42</i> ", "Входящ номер: 42"},
        // Entities are decoded after the tags went, so an escaped tag shows.
        {"&lt;b&gt;bold&lt;/b&gt;", "<b>bold</b>"},
        {"<!-- note --><!DOCTYPE html>x", "x"},
        {"a <> b", "a <> b"},
        {"a<<b>c", "a c"},
        {"a < b", "a < b"},
        // A no-break space is not white space.
        {"a\xC2\xA0"
         "b",
         "a\xC2\xA0"
         "b"},
        {"<br/> \r\n\v\f ", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(htmlToText(in), out) << in;
    }
}

TEST(HtmlVisibleText, DropsCommentsScriptsAndStyles) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<p class=\"error\">ok</p>", "ok"},
        {"a<script>window.onerror = f;</script>b", "a b"},
        {"a<SCRIPT type=\"x\">if (a<b) err();</Script >b", "a b"},
        {"a<style>.error { color: red }</style>b", "a b"},
        {"a<!-- error > here -->b", "a b"},
        {"a<script>never closed", "a"},
        {"a<!-- never closed", "a"},
        // Only those element names: <scripts> and <styled> are other tags.
        {"<scripts>a</scripts><styled>b</styled>", "a b"},
        {"a<script>x</scripts>y</script>b", "a b"},
        {"a <> b", "a <> b"},
        {"", ""},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(htmlVisibleText(in), out) << in;
    }
}

}  // namespace
}  // namespace velk::core::infra::http
