#include "platform/SignedMessageEncoder.h"

#include <openssl/cms.h>
#include <openssl/err.h>

#include "platform/PinPrompt.h"

namespace velk::platform {

namespace {

constexpr std::uint32_t kNteFail = 0x80090020;
constexpr unsigned int kCmsFlags = CMS_DETACHED | CMS_BINARY | CMS_NOATTR | CMS_NOSMIMECAP | CMS_PARTIAL;

}  // namespace

SignedMessageEncoder::SignedMessageEncoder(StoreKey& key, X509Ptr certificate, CmsPtr cms)
    : key_(key), certificate_(std::move(certificate)), cms_(std::move(cms)) {}

std::unique_ptr<SignedMessageEncoder> SignedMessageEncoder::open(StoreKey& key, std::uint32_t /*flags*/,
                                                                 std::uint32_t& status) {
    const auto& der = key.certificate().der;
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    CmsPtr cms(cert ? CMS_sign(nullptr, nullptr, nullptr, nullptr, kCmsFlags) : nullptr);
    if (!cms) {
        ERR_clear_error();
        status = kNteFail;
        return nullptr;
    }
    status = kStatusOk;
    return std::unique_ptr<SignedMessageEncoder>(
        new SignedMessageEncoder(key, std::move(cert), std::move(cms)));
}

std::uint32_t SignedMessageEncoder::update(std::span<const std::uint8_t> content) {
    EVP_PKEY* privateKey = nullptr;
    if (const std::uint32_t status = key_.privateKey(privateKey); status != kStatusOk) {
        return status;
    }
    BioPtr data(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    const bool ok =
        data &&
        CMS_add1_signer(cms_.get(), certificate_.get(), privateKey, EVP_sha256(), kCmsFlags) != nullptr &&
        CMS_final(cms_.get(), data.get(), nullptr, kCmsFlags) == 1;
    if (!ok) {
        ERR_clear_error();
        return kNteFail;
    }
    signed_ = true;
    return kStatusOk;
}

std::vector<std::uint8_t> SignedMessageEncoder::encoded() const {
    if (!signed_) {
        return {};
    }
    const int len = i2d_CMS_ContentInfo(cms_.get(), nullptr);
    if (len <= 0) {
        return {};
    }
    std::vector<std::uint8_t> out(static_cast<std::size_t>(len));
    unsigned char* p = out.data();
    i2d_CMS_ContentInfo(cms_.get(), &p);
    return out;
}

}  // namespace velk::platform
