#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/AgencyEndpoints.h"
#include "features/dec731/Dec731Declaration.h"
#include "features/dec736/Dec736Declaration.h"
#include "features/odit/OditFileDeclaration.h"
#include "features/vat/VatDeclaration.h"
#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"
#include "support/FileText.h"

namespace velk::core::features {
namespace {

using operations::FormField;
using operations::InputCheck;
using ::testing::ElementsAre;

const std::string kBase = std::string(AgencyEndpoints::kPortalBaseUrl) + "/pls/pub/";

ServiceLink linkWithUrl(std::string url) {
    ServiceLink link;
    link.props["url"] = std::move(url);
    return link;
}

// A scratch folder holding one file and one sub-folder.
class ScratchFolder {
public:
    ScratchFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "velk-features-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        std::filesystem::create_directory(root_ / "folder");
        std::ofstream(root_ / "file.txt") << "content";
    }
    ~ScratchFolder() { std::filesystem::remove_all(root_); }

    std::string file() const { return (root_ / "file.txt").string(); }
    std::string folder() const { return (root_ / "folder").string(); }
    std::string missing() const { return (root_ / "missing.txt").string(); }

private:
    std::filesystem::path root_;
};

TEST(OditFileDeclaration, AddsTheMonthToTheUploadFormOnly) {
    const odit::OditFileDeclaration odit;
    EXPECT_TRUE(odit.extraFormFields(std::nullopt, "BG80BNBG96611020345678").empty());
    EXPECT_THAT(odit.extraFormFields(3, "BG80BNBG96611020345678"), ElementsAre(FormField{"pmonth", "3"}));
}

TEST(OditFileDeclaration, ResultPageHasAFixedModule) {
    const odit::OditFileDeclaration odit;
    EXPECT_EQ(odit.showResultUrl("12345", linkWithUrl("other.module.showResult")),
              kBase + "dec2009.IPUBXMLDEC.showResult?pid=12345");
    EXPECT_EQ(odit.showResultUrl("1?x=2", ServiceLink{}),
              kBase + "dec2009.IPUBXMLDEC.showResult?pid=1%3Fx%3D2");
}

TEST(IncomeStatements, ListThroughTheLinkDocumentsPage) {
    struct Case {
        std::string url;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"dec2009.ipubxsd_val_dec.listDocuments?a=1", kBase + "dec2009.ipubxsd_val_dec.linkDocuments?a=1"},
        {"m.listDocuments.listDocuments", kBase + "m.linkDocuments.listDocuments"},
        {"m.publicEntry", kBase + "m.publicEntry"},
        {"", ""},
    };
    const dec731::Dec731Declaration dec731;
    const dec736::Dec736Declaration dec736;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        EXPECT_EQ(dec731.listDocumentsUrl(linkWithUrl(c.url)), c.expected);
        EXPECT_EQ(dec736.listDocumentsUrl(linkWithUrl(c.url)), c.expected);
    }
}

TEST(IncomeStatements, ResultPageFallsBackOnTheirModule) {
    const dec736::Dec736Declaration dec736;
    EXPECT_EQ(dec736.showResultUrl("77", ServiceLink{}), kBase + "DEC2009.IPUBXSD_VAL_DEC.showResult?pid=77");
    EXPECT_EQ(dec736.showResultUrl("77", linkWithUrl("dec2009.other.publicEntry")),
              kBase + "DEC2009.OTHER.showResult?pid=77");
}

TEST(VatDeclaration, UploadFormFields) {
    const vat::VatDeclaration vat;
    EXPECT_THAT(vat.extraFormFields(3, ""),
                ElementsAre(FormField{"pmonth", "3"}, FormField{"app6", "0"}, FormField{"app9", "0"},
                            FormField{"appHeir", "0"}, FormField{"ibanDisabled", "1"}));
    EXPECT_THAT(vat.extraFormFields(std::nullopt, "BG18RZBB91550123456789"),
                ElementsAre(FormField{"app6", "0"}, FormField{"app9", "0"}, FormField{"appHeir", "0"},
                            FormField{"iban", "BG18RZBB91550123456789"}, FormField{"ibanDisabled", "0"}));
}

TEST(VatDeclaration, UploadFileNameOfAFolderIsTheDeclaration) {
    const ScratchFolder scratch;
    const vat::VatDeclaration vat;
    EXPECT_EQ(vat.uploadFileName(scratch.folder()), "deklar.txt");
    EXPECT_EQ(vat.uploadFileName(scratch.file()), "file.txt");
    EXPECT_EQ(vat.uploadFileName("C:\\returns\\DEKLAR.TXT"), "DEKLAR.TXT");
}

TEST(VatDeclaration, ResultPageIsTheVatDocumentPage) {
    const vat::VatDeclaration vat;
    EXPECT_EQ(vat.showResultUrl("123", linkWithUrl("x.showResult")),
              kBase + "ivat.pub.ShowDocument?ipId=123&ipDocType=20");
    EXPECT_EQ(vat.showResultUrl("1&ipDocType=5", ServiceLink{}),
              kBase + "ivat.pub.ShowDocument?ipId=1%26ipDocType%3D5&ipDocType=20");
}

TEST(Declarations, ValidateTheirInput) {
    const ScratchFolder scratch;
    const auto registry = [](const char* id) {
        auto op = operations::OperationRegistry::instance().create(id);
        return std::unique_ptr<operations::ISubmission>(dynamic_cast<operations::ISubmission*>(op.release()));
    };
    struct Case {
        const char* typeId;
        bool folderAccepted;
    };
    for (const Case& c :
         {Case{"odit", false}, Case{"dec731", false}, Case{"dec736", false}, Case{"high_fisc_risk", true},
          Case{"etz123", true}, Case{"etz62", true}, Case{"dec1_6", true}}) {
        SCOPED_TRACE(c.typeId);
        const auto declaration = registry(c.typeId);
        ASSERT_NE(declaration, nullptr);
        EXPECT_TRUE(declaration->validateInput(scratch.file()).ok);
        EXPECT_TRUE(declaration->validateInput(scratch.file()).errors.empty());

        const InputCheck folder = declaration->validateInput(scratch.folder());
        EXPECT_EQ(folder.ok, c.folderAccepted);
        if (!c.folderAccepted) {
            EXPECT_THAT(folder.errors, ElementsAre("Файлът не съществува: " + scratch.folder()));
        }
        EXPECT_THAT(declaration->validateInput(scratch.missing()).errors,
                    ElementsAre("Файлът не съществува: " + scratch.missing()));
        const InputCheck empty = declaration->validateInput("");
        EXPECT_FALSE(empty.ok);
        EXPECT_THAT(empty.errors, ElementsAre("Файлът не съществува: "));
    }
}

// Names of the declared parameters in order, "*" marking the required ones.
std::string paramList(const std::vector<operations::ParamSpec>& params) {
    std::string list;
    for (const auto& p : params) {
        list += (list.empty() ? "" : ",") + p.name + (p.required ? "*" : "");
    }
    return list;
}

TEST(Operations, DeclareTheirParameters) {
    const std::map<std::string, std::string> expected = {
        {"taxpayers", ""},
        {"nap_catalog", "filter"},
        {"debt_payments_types", ""},
        {"debt_payments", "eik*,year*,type"},
        {"due_amounts", "eik*,year"},
        {"dec1_6_portal_files", "eik*,year*,month*"},
        {"vat_portal_files", "eik*,year*,month*"},
        {"vat_monthly_files", "eik*,year*,month*"},
        {"dec6_files_scan", "rootFolder*,year*,month*,recursive"},
        {"dec1_files_scan", "rootFolder*,year*,month*,recursive"},
        {"vat_files_scan", "rootFolder*,year*,month*,recursive"},
        {"vat_files_parse", "directory*"},
        {"vat_validate", "directory*"},
        {"odit", "eik*,year*,month*"},
        {"dec731", "eik*,year*"},
        {"dec736", "eik*,year*"},
        {"high_fisc_risk", "eik*,subtype*"},
        {"etz123", "eik*"},
        {"etz62", "eik*"},
        {"dec1_6", "eik,year*,month*,fund,dec1FilePath,dec6FilePath"},
        {"vat", "year*,month*,eik*,iban"},
    };
    for (const auto& descriptor : operations::OperationRegistry::instance().list()) {
        SCOPED_TRACE(descriptor.typeId);
        const auto op = operations::OperationRegistry::instance().create(descriptor.typeId);
        std::vector<operations::ParamSpec> params;
        if (const auto* inquiry = dynamic_cast<const operations::IInquiry*>(op.get())) {
            params = inquiry->params();
        } else {
            params = dynamic_cast<const operations::ISubmission&>(*op).params();
        }
        const auto it = expected.find(descriptor.typeId);
        EXPECT_EQ(paramList(params), it == expected.end() ? "documentId*,eik*" : it->second);
    }
}

// Every registered operation is run by a test of its own elsewhere: some test
// source outside this folder (and outside the fakes and the gallery) names its
// typeId in quotes. An operation added without tests fails here.
TEST(Operations, EveryRegisteredOperationIsNamedByATestOfItsOwn) {
    const std::filesystem::path tests = VELK_TESTS_DIR;
    std::string sources;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(tests)) {
        const std::filesystem::path& path = entry.path();
        const std::string folder = path.lexically_relative(tests).begin()->string();
        if (!entry.is_regular_file() || folder == "features" || folder == "fakes" || folder == "gallery" ||
            (path.extension() != ".cpp" && path.extension() != ".h")) {
            continue;
        }
        sources += test::readFileText(path.string());
    }
    ASSERT_FALSE(sources.empty()) << "no test sources under " << tests;
    for (const auto& descriptor : operations::OperationRegistry::instance().list()) {
        EXPECT_NE(sources.find('"' + descriptor.typeId + '"'), std::string::npos)
            << descriptor.typeId << " is named by no test";
    }
}

}  // namespace
}  // namespace velk::core::features
