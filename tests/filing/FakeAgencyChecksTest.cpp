// The fake agency's own checks refuse what the agency would refuse, so a
// filing test that passes them shows what the agency accepts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "common/AgencyEndpoints.h"
#include "common/TextUtils.h"
#include "infrastructure/http/Gzip.h"
#include "infrastructure/http/HttpClient.h"
#include "infrastructure/portal/NapRestApiClient.h"
#include "infrastructure/portal/PortalHeaders.h"
#include "infrastructure/signing/SignerWin.h"
#include "portal_session/PortalSessionTest.h"
#include "portal_session/TestPortalHandler.h"

namespace velk::core::infra::portal {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

class FakeAgencyChecksTest : public PortalSessionTest {
protected:
    const std::string& lastPlsRejection() {
        rejections_ = agency_.pls().rejections();
        return rejections_.empty() ? kNone : rejections_.back();
    }
    const std::string& lastRestRejection() {
        rejections_ = agency_.restApi().rejections();
        return rejections_.empty() ? kNone : rejections_.back();
    }

    const std::string kNone = "<none>";
    std::vector<std::string> rejections_;
    signing::SignerWin signer_;
};

TEST_F(FakeAgencyChecksTest, UploadsAreRefusedForTheirContentOrSignature) {
    test::TestPortalHandler audit("odit-317", "odit-317-2", "odit-317-1");
    ASSERT_TRUE(session_.prepareFor(audit, kCompanyEik, 2025)) << session_.lastError();
    const std::string url =
        std::string(AgencyEndpoints::kPortalBaseUrl) + "/pls/pub/!DEC2009.IPUBXMLDEC.upload_file";
    const Bytes good = bytesOf("a\r\nb\r\n");
    struct Case {
        Bytes content;  // what travels in pdata
        Bytes signedOver;
        bool portalSignature;
        std::string rejection;
    };
    const std::vector<Case> cases = {
        {bytesOf("a\nb\r\n"), bytesOf("a\nb\r\n"), true, "a LF without CR at byte 1"},
        {bytesOf("a\rb"), bytesOf("a\rb"), true, "a CR without LF at byte 1"},
        {bytesOf("\xEF\xBB\xBF"
                 "a\r\n"),
         bytesOf("\xEF\xBB\xBF"
                 "a\r\n"),
         true, "the content starts with a byte-order mark"},
        {good, bytesOf("other\r\n"), true, "the signature does not verify over the content"},
        {good, good, false, "no signingCertificateV2 naming the signer's certificate"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rejection);
        const Bytes signature = c.portalSignature
                                    ? signer_.signDataForPortal(c.signedOver, certificateId_, kPin)
                                    : signer_.signData(c.signedOver, certificateId_, kPin);
        ASSERT_FALSE(signature.empty());
        const Bytes gz = http::gzipCompress(c.content.data(), c.content.size());
        const PortalResponse reply = session_.httpPostForm(url,
                                                           {{"pfilename", "a.xml"},
                                                            {"pyear", "2025"},
                                                            {"pdata", base64Encode(gz)},
                                                            {"psign", base64Encode(signature)},
                                                            {"signerId", "5"}},
                                                           PortalPageHeaders);
        EXPECT_EQ(reply.status, 400);
        EXPECT_EQ(lastPlsRejection(), c.rejection);
    }
    const PortalResponse notGzip = session_.httpPostForm(
        url, {{"pfilename", "a"}, {"pyear", "2025"}, {"pdata", "YWJj"}, {"psign", "YWJj"}, {"signerId", "5"}},
        PortalPageHeaders);
    EXPECT_EQ(notGzip.status, 400);
    EXPECT_EQ(lastPlsRejection(), "pdata is not base64 of a gzip member");
    EXPECT_TRUE(agency_.pls().documents().empty());
}

TEST_F(FakeAgencyChecksTest, TheListingWantsItsSixtyOneFieldsAndItsHeaders) {
    test::TestPortalHandler audit("odit-317", "odit-317-2", "odit-317-1");
    ASSERT_TRUE(session_.prepareFor(audit, kCompanyEik, 0)) << session_.lastError();
    const std::string url =
        std::string(AgencyEndpoints::kPortalBaseUrl) + "/pls/pub/!dec2009.ipubxmldec.ajaxListDocuments";
    const http::HttpHeaders headers = {{"Accept", "application/json, text/javascript, */*; q=0.01"},
                                       {"X-Requested-With", "XMLHttpRequest"}};
    EXPECT_EQ(session_.httpPostForm(url, {{"draw", "1"}}, headers).status, 400);
    EXPECT_EQ(lastPlsRejection(), "1 fields instead of 61");
    EXPECT_EQ(session_.httpPostForm(url, {{"draw", "1"}}, {}).status, 400);
    EXPECT_EQ(lastPlsRejection(), "no X-Requested-With: XMLHttpRequest");
}

TEST_F(FakeAgencyChecksTest, TheApiRefusesForeignSignaturesWrongSizesAndTextIds) {
    const std::string other = addCertificate("other", "Друг Подписващ");
    const Bytes content = bytesOf("<x/>");
    struct Case {
        std::string signerId;
        std::uint32_t size;
        std::string rejection;
    };
    const std::vector<Case> cases = {
        {other, 4, "signed with another certificate than userSignatureBase64"},
        {certificateId_, 5, "fileSize is not the content's length"},
    };
    for (const Case& c : cases) {
        RestSubmitRequest request;
        request.serviceDocumentType = DocumentFamily::Etz62;
        request.userCertificateDer = signer_.getCertificateDer(certificateId_);
        RestSubmitFile file;
        file.fileName = "a.xml";
        file.fileType = ExportFormat::Xml;
        file.fileSize = c.size;
        file.fileContent = content;
        file.pkcs7Signature = signer_.signData(content, c.signerId, kPin);
        file.fileDocumentType = DocumentType::Etz62;
        request.files.push_back(file);
        const auto client = http::HttpClient::forAgent();
        NapRestApiClient api(client.get(), std::string(AgencyEndpoints::kRestSubmitUrl),
                             std::string(AgencyEndpoints::kRestResultUrl),
                             test::RestApiRoutes::kDefaultApiKey);
        EXPECT_EQ(api.submit(request).httpStatus, 400);
        EXPECT_EQ(lastRestRejection(), c.rejection);
    }
    const auto client = http::HttpClient::forAgent();
    NapRestApiClient api(client.get(), std::string(AgencyEndpoints::kRestSubmitUrl),
                         std::string(AgencyEndpoints::kRestResultUrl), test::RestApiRoutes::kDefaultApiKey);
    EXPECT_EQ(api.checkStatus("D-1", kCompanyEik, IdentifierType::BUS_BULSTAT, kCompanyEik,
                              IdentifierType::BUS_BULSTAT, signer_.getCertificateDer(certificateId_))
                  .httpStatus,
              400);
    EXPECT_EQ(lastRestRejection(), "documentId is no JSON number");
    EXPECT_TRUE(agency_.restApi().documents().empty());
}

}  // namespace
}  // namespace velk::core::infra::portal
