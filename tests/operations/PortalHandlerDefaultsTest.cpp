#include <cctype>
#include <climits>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "common/AgencyEndpoints.h"
#include "operations/IPortalHandler.h"
#include "operations/ISubmission.h"
#include "operations/LinkCaptions.h"

namespace velk::core::operations {
namespace {

// A declaration that keeps every default and lets each case choose its names.
class FakeDeclaration : public ISubmission, public IPortalHandler {
public:
    std::string submitName;
    std::string reportName;
    std::string module;

    std::string typeId() const override { return "fake"; }
    std::string displayName() const override { return {}; }
    std::string featureGroupId() const override { return {}; }
    std::string featureGroupName() const override { return {}; }
    std::int32_t backendKind() const override { return 0; }
    std::int32_t flowKind() const override { return 0; }
    std::string description() const override { return {}; }
    ResultSchema resultSchema() const override { return {}; }
    std::vector<ParamSpec> params() const override { return {}; }
    InputCheck validateInput(const std::string&) const override { return {}; }
    SubmissionResult submit(infra::portal::NapSession*, const std::string&, const ParamMap&) const override {
        return {};
    }
    std::string documentTypeCode() const override { return "0"; }
    std::string submitLinkName() const override { return submitName; }
    std::string reportLinkName() const override { return reportName; }
    std::string plsModule() const override { return module; }
};

ServiceLink link(std::string id, std::string name, std::string title, std::int32_t orderNum = INT32_MAX) {
    ServiceLink result;
    result.id = std::move(id);
    result.name = std::move(name);
    result.title = std::move(title);
    result.orderNum = orderNum;
    return result;
}

ServiceLink linkWithUrl(std::string url) {
    ServiceLink result;
    result.props["url"] = std::move(url);
    return result;
}

Service service(std::vector<ServiceLink> links) {
    Service result;
    result.links = std::move(links);
    return result;
}

std::string idOf(const std::optional<ServiceLink>& picked) {
    return picked ? picked->id : "none";
}

const std::string kBase = std::string(AgencyEndpoints::kPortalBaseUrl) + "/pls/pub/";

struct RuleCase {
    const char* name;
    std::function<std::string(FakeDeclaration&)> actual;
    std::string expected;
};

const std::vector<RuleCase> kCases = {
    // Choice of the filing link.
    {"submit: no links", [](FakeDeclaration& d) { return idOf(d.pickSubmitLink(service({}), 2025)); },
     "none"},
    {"submit: a title with the year wins over the named link",
     [](FakeDeclaration& d) {
         d.submitName = "named";
         return idOf(d.pickSubmitLink(
             service({link("a", "named", "Подаване 2024"), link("b", "other", "Подаване 2025")}), 2025));
     },
     "b"},
    {"submit: year 0 never looks at titles",
     [](FakeDeclaration& d) {
         d.submitName = "named";
         return idOf(
             d.pickSubmitLink(service({link("a", "x", "Подаване 0"), link("b", "named", "Форма")}), 0));
     },
     "b"},
    {"submit: a year no title holds falls back on the name",
     [](FakeDeclaration& d) {
         d.submitName = "named";
         return idOf(
             d.pickSubmitLink(service({link("a", "x", "Подаване 2024"), link("b", "named", "Форма")}), 2025));
     },
     "b"},
    {"submit: the year needs a filing caption too",
     [](FakeDeclaration& d) {
         return idOf(
             d.pickSubmitLink(service({link("a", "x", "Справка 2025"), link("b", "y", "Submit", 3)}), 2025));
     },
     "b"},
    {"submit: lowest order number among filing captions",
     [](FakeDeclaration& d) {
         return idOf(d.pickSubmitLink(
             service({link("a", "x", "Подай", 7), link("b", "y", "Submit", 2), link("c", "z", "Справка", 1)}),
             0));
     },
     "b"},
    {"submit: a tie goes to the earlier link",
     [](FakeDeclaration& d) {
         return idOf(
             d.pickSubmitLink(service({link("a", "x", "Подай", 4), link("b", "y", "Подаване", 4)}), 0));
     },
     "a"},
    {"submit: a link without order number loses",
     [](FakeDeclaration& d) {
         return idOf(
             d.pickSubmitLink(service({link("a", "x", "Подай"), link("b", "y", "Подаване", 900)}), 0));
     },
     "b"},
    {"submit: an unknown name falls back on the order",
     [](FakeDeclaration& d) {
         d.submitName = "missing";
         return idOf(
             d.pickSubmitLink(service({link("a", "x", "Submit", 9), link("b", "y", "Submit", 1)}), 0));
     },
     "b"},
    {"submit: Cyrillic is matched with its exact case",
     [](FakeDeclaration& d) {
         return idOf(
             d.pickSubmitLink(service({link("a", "x", "подаване", 1), link("b", "y", "SUBMIT now", 2)}), 0));
     },
     "b"},
    {"submit: nothing names a filing",
     [](FakeDeclaration& d) { return idOf(d.pickSubmitLink(service({link("a", "x", "Справка", 1)}), 0)); },
     "none"},
    // Choice of the results link.
    {"report: no links", [](FakeDeclaration& d) { return idOf(d.pickReportLink(service({}))); }, "none"},
    {"report: the named link",
     [](FakeDeclaration& d) {
         d.reportName = "named";
         return idOf(d.pickReportLink(service({link("a", "x", "Резултат"), link("b", "named", "Форма")})));
     },
     "b"},
    {"report: the first link with a report word, every word tried per link",
     [](FakeDeclaration& d) {
         d.reportName = "missing";
         return idOf(d.pickReportLink(service(
             {link("a", "x", "Форма"), link("b", "y", "Подадени документи"), link("c", "z", "Report")})));
     },
     "b"},
    {"report: ASCII words in any case",
     [](FakeDeclaration& d) {
         return idOf(d.pickReportLink(service({link("a", "x", "see LISTDOCUMENTS")})));
     },
     "a"},
    {"report: no name and no word",
     [](FakeDeclaration& d) { return idOf(d.pickReportLink(service({link("a", "x", "резултат")}))); },
     "none"},
    // PLS module of a link.
    {"module: query cut, suffix removed, upper-cased",
     [](FakeDeclaration& d) { return d.plsModuleFor(linkWithUrl("dec2009.ipubxmldec.listDocuments?x=1")); },
     "DEC2009.IPUBXMLDEC"},
    {"module: suffix matched without regard to case",
     [](FakeDeclaration& d) { return d.plsModuleFor(linkWithUrl("ivat.pub.ShowResult")); }, "IVAT.PUB"},
    {"module: nothing left gives the fixed module",
     [](FakeDeclaration& d) {
         d.module = "FIXED";
         return d.plsModuleFor(linkWithUrl(".upload_file"));
     },
     "FIXED"},
    {"module: only one suffix is removed",
     [](FakeDeclaration& d) { return d.plsModuleFor(linkWithUrl("a.listDocuments.showResult")); },
     "A.LISTDOCUMENTS"},
    {"module: no url gives the fixed module",
     [](FakeDeclaration& d) {
         d.module = "FIXED";
         return d.plsModuleFor(ServiceLink{});
     },
     "FIXED"},
    {"module: only ASCII letters change",
     [](FakeDeclaration& d) { return d.plsModuleFor(linkWithUrl("dec.модул.publicEntry")); }, "DEC.модул"},
    // PLS addresses.
    {"upload url",
     [](FakeDeclaration& d) {
         d.module = "DEC2009.IPUBXMLDEC";
         return d.uploadUrl(ServiceLink{});
     },
     kBase + "!DEC2009.IPUBXMLDEC.upload_file"},
    {"result page url",
     [](FakeDeclaration& d) {
         d.module = "DEC2009.IPUBXMLDEC";
         return d.showResultUrl("42", ServiceLink{});
     },
     kBase + "DEC2009.IPUBXMLDEC.showResult?pid=42"},
    {"result page url: the pid cannot add query parameters",
     [](FakeDeclaration& d) { return d.showResultUrl("7&a=b c", linkWithUrl("m.showResult")); },
     kBase + "M.showResult?pid=7%26a%3Db%20c"},
    {"listing url",
     [](FakeDeclaration& d) { return d.listDocumentsUrl(linkWithUrl("a.b.listDocuments?p=1")); },
     kBase + "a.b.listDocuments?p=1"},
    {"listing url: none without url", [](FakeDeclaration& d) { return d.listDocumentsUrl(linkWithUrl("")); },
     ""},
    // Upload file name.
    {"file name: backslashes", [](FakeDeclaration& d) { return d.uploadFileName("C:\\data\\EMPL2021.TXT"); },
     "EMPL2021.TXT"},
    {"file name: slashes", [](FakeDeclaration& d) { return d.uploadFileName("C:/data/EMPL2021.TXT"); },
     "EMPL2021.TXT"},
    {"file name: mixed separators", [](FakeDeclaration& d) { return d.uploadFileName("/home/u/in\\a.txt"); },
     "a.txt"},
    {"file name: trailing separator", [](FakeDeclaration& d) { return d.uploadFileName("C:\\data\\"); }, ""},
    {"file name: drive prefix", [](FakeDeclaration& d) { return d.uploadFileName("C:EMPL2021.TXT"); },
     "EMPL2021.TXT"},
    {"file name: bare name", [](FakeDeclaration& d) { return d.uploadFileName("EMPL2021.TXT"); },
     "EMPL2021.TXT"},
    // System id of a link.
    {"system id: from the link",
     [](FakeDeclaration& d) {
         ServiceLink withId;
         withId.props["systemId"] = "12";
         return std::to_string(d.systemIdFor(withId));
     },
     "12"},
    {"system id: 5 without one",
     [](FakeDeclaration& d) { return std::to_string(d.systemIdFor(ServiceLink{})); }, "5"},
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.name;
}

class PortalHandlerRules : public ::testing::TestWithParam<RuleCase> {};

TEST_P(PortalHandlerRules, Answer) {
    FakeDeclaration declaration;
    EXPECT_EQ(GetParam().actual(declaration), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Defaults, PortalHandlerRules, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RuleCase>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c != '\0'; ++c) {
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             }
                             return name + "_" + std::to_string(info.index);
                         });

TEST(SubmissionDefaults, ListingReportsNotImplemented) {
    const FakeDeclaration declaration;
    const InquiryResult listing = declaration.fetchResults(nullptr, ResultsQuery("123456789"));
    EXPECT_TRUE(listing.columns.empty());
    EXPECT_TRUE(listing.rows.empty());
    EXPECT_EQ(listing.metadata.at("status"), "not_implemented");
    EXPECT_EQ(listing.metadata.at("declaration"), "fake");
    EXPECT_EQ(listing.metadata.at("message"),
              "Справката за подадени документи все още не е имплементирана за тази декларация.");
}

TEST(SubmissionDefaults, ConstantAnswers) {
    const FakeDeclaration declaration;
    EXPECT_EQ(declaration.kind(), 0);
    EXPECT_EQ(declaration.category(), "Декларации");
    EXPECT_TRUE(declaration.requiresSubmissionToken());
    EXPECT_EQ(declaration.inputKind(), 0);
    EXPECT_TRUE(declaration.requiresFilePath());
    EXPECT_TRUE(declaration.extraFormFields(3, "BG00").empty());
    EXPECT_EQ(declaration.reservedInt(), 0);
    EXPECT_FALSE(declaration.reservedFlagA());
    EXPECT_FALSE(declaration.reservedFlagB());
    EXPECT_TRUE(declaration.reservedFlagC());
    EXPECT_TRUE(declaration.testFixture({{"x", "y"}}).success);
}

TEST(LinkCaptions, ContainsIgnoreCaseFoldsAsciiOnly) {
    EXPECT_TRUE(containsIgnoreCase("abc", ""));
    EXPECT_TRUE(containsIgnoreCase("Report list", "REPORT"));
    EXPECT_TRUE(containsIgnoreCase("Подаване", "Подаване"));
    EXPECT_FALSE(containsIgnoreCase("подаване", "Подаване"));
    EXPECT_FALSE(containsIgnoreCase("ab", "abc"));
}

}  // namespace
}  // namespace velk::core::operations
