#include "infrastructure/signing/SignerWin.h"

#include <cstdio>
#include <optional>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/signing/CertificateText.h"
#include "infrastructure/signing/CmsBuilder.h"
#include "infrastructure/signing/HexText.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SigningCancelledException.h"
#include "platform/CertStore.h"
#include "platform/OpenSslPtr.h"
#include "platform/PinPrompt.h"
#include "platform/SignedMessageEncoder.h"
#include "platform/StoreKey.h"

namespace velk::signing {

namespace {

using core::LogLevel;
using core::logLine;
using platform::CertStore;
using platform::SignedMessageEncoder;
using platform::StoreCertificate;
using platform::StoreKey;

// Provider names that mean the key sits on a smart card or token.
constexpr const char* kHardwareProviderWords[] = {
    "SafeNet", "eToken", "Thales", "IDPrime", "Gemalto", "Microsoft Smart Card", "OpenSC", "PKCS#11",
};

std::string statusHex(std::uint32_t status) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%08X", status);
    return buffer;
}

bool isHardwareProvider(const std::string& providerName) {
    const std::string lowered = core::asciiLower(providerName);
    for (const char* word : kHardwareProviderWords) {
        if (lowered.find(core::asciiLower(word)) != std::string::npos) {
            return true;
        }
    }
    return false;
}

// The three smart-card statuses a caller must tell apart from a failure.
void throwForSmartCardError(std::uint32_t status) {
    switch (status) {
        case platform::kScardWWrongChv:
        case platform::kScardWChvBlocked:
            throw InvalidPinException();
        case platform::kScardWCancelledByUser:
            throw SigningCancelledException();
        default:
            return;
    }
}

std::optional<CertStore> openStore(bool logFailure) {
    int error = 0;
    std::optional<CertStore> store = CertStore::openMy(error);
    if (!store && logFailure) {
        logLine(LogLevel::Error, "CertOpenSystemStoreW(MY) failed: " + std::to_string(error));
    }
    return store;
}

const StoreCertificate* findCertificateByThumbprint(const CertStore& store,
                                                    const std::string& certificateId) {
    const Bytes thumbprint = hexDecode(certificateId);
    if (thumbprint.size() != 20) {
        return nullptr;
    }
    return store.findBySha1(thumbprint);
}

std::optional<StoreKey> acquirePrivateKey(const StoreCertificate& certificate) {
    std::uint32_t status = 0;
    std::optional<StoreKey> key = StoreKey::acquire(certificate, status);
    if (!key) {
        logLine(LogLevel::Error, "CryptAcquireCertificatePrivateKey failed: " + std::to_string(status));
    }
    return key;
}

void applyPin(StoreKey& key, const std::string& pin) {
    const std::uint32_t status = key.setPin(pin);
    if (status == platform::kStatusOk) {
        return;
    }
    if (key.isNCrypt()) {
        logLine(LogLevel::Warn, "NCryptSetProperty(NCRYPT_PIN_PROPERTY) -> 0x" + statusHex(status));
    } else {
        logLine(LogLevel::Warn, "CryptSetProvParam(PP_SIGNATURE_PIN) -> " + std::to_string(status));
    }
    throw InvalidPinException();
}

Bytes signDetachedCms(StoreKey& key, const Bytes& data, bool pinGiven) {
    std::uint32_t flags = SignedMessageEncoder::kDetachedFlag;
    if (pinGiven) {
        flags |= SignedMessageEncoder::kCmsEncapsulatedContentFlag;
    }
    std::uint32_t status = 0;
    const auto encoder = SignedMessageEncoder::open(key, flags, status);
    if (!encoder) {
        throwForSmartCardError(status);
        logLine(LogLevel::Error, "CryptMsgOpenToEncode failed: " + std::to_string(status));
        return {};
    }
    status = encoder->update(data);
    if (status != platform::kStatusOk) {
        throwForSmartCardError(status);
        logLine(LogLevel::Error, "CryptMsgUpdate failed: " + std::to_string(status));
        return {};
    }
    return encoder->encoded();
}

Bytes ncryptRawSign(StoreKey& key, const Bytes& digestInfo) {
    if (!key.isNCrypt()) {
        logLine(LogLevel::Error,
                "signDataForPortal: legacy CAPI raw-sign is not implemented; this cert must use CNG/NCrypt.");
        return {};
    }
    std::size_t size = 0;
    std::uint32_t status = key.signHash(digestInfo, {}, size);
    if (status != platform::kStatusOk) {
        throwForSmartCardError(status);
        logLine(LogLevel::Error, "NCryptSignHash size query failed: 0x" + statusHex(status));
        return {};
    }
    Bytes signature(size);
    status = key.signHash(digestInfo, signature, size);
    if (status != platform::kStatusOk) {
        throwForSmartCardError(status);
        logLine(LogLevel::Error, "NCryptSignHash failed: 0x" + statusHex(status));
        return {};
    }
    signature.resize(size);
    return signature;
}

std::optional<CertificateInfo> describe(const StoreCertificate& entry) {
    if (!entry.keyProvider) {
        return std::nullopt;  // no private key in the store
    }
    CertificateInfo info;
    info.id = hexEncode(Bytes(entry.sha1.begin(), entry.sha1.end()));
    const unsigned char* p = entry.der.data();
    platform::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(entry.der.size())));
    if (cert) {
        fillNamesAndValidity(cert.get(), info);
        info.serial = serialEncodedHex(cert.get());
    }
    info.provider = entry.keyProvider->providerName;
    info.hardware = !info.provider.empty() && isHardwareProvider(info.provider);
    return info;
}

}  // namespace

std::vector<CertificateInfo> SignerWin::listCertificates() {
    std::vector<CertificateInfo> list;
    const std::optional<CertStore> store = openStore(true);
    if (!store) {
        return list;
    }
    for (const StoreCertificate& entry : store->certificates()) {
        if (auto info = describe(entry)) {
            list.push_back(std::move(*info));
        }
    }
    return list;
}

Bytes SignerWin::signData(const Bytes& data, const std::string& certificateId, const std::string& pin) {
    const std::optional<CertStore> store = openStore(false);
    if (!store) {
        return {};
    }
    const StoreCertificate* certificate = findCertificateByThumbprint(*store, certificateId);
    if (certificate == nullptr) {
        logLine(LogLevel::Error, "Certificate not found: " + core::escapeControlBytes(certificateId));
        return {};
    }
    std::optional<StoreKey> key = acquirePrivateKey(*certificate);
    if (!key) {
        return {};
    }
    if (!pin.empty()) {
        applyPin(*key, pin);
    }
    return signDetachedCms(*key, data, !pin.empty());
}

Bytes SignerWin::signDataForPortal(const Bytes& data, const std::string& certificateId,
                                   const std::string& pin) {
    const std::optional<CertStore> store = openStore(true);
    if (!store) {
        return {};
    }
    const StoreCertificate* certificate = findCertificateByThumbprint(*store, certificateId);
    if (certificate == nullptr) {
        logLine(LogLevel::Error, "Certificate not found: " + core::escapeControlBytes(certificateId));
        return {};
    }
    std::optional<StoreKey> key = acquirePrivateKey(*certificate);
    if (!key) {
        return {};
    }
    if (!pin.empty()) {
        applyPin(*key, pin);
    }
    const Bytes certDer = certificate->der;
    StoreKey& keyRef = *key;
    return CmsBuilder::build(
        data, certDer, [&keyRef](const Bytes& digestInfo) { return ncryptRawSign(keyRef, digestInfo); },
        true);
}

bool SignerWin::warmUp(const std::string& certificateId, const std::string& pin) {
    try {
        // Through the interface, so a subclass's signData is the one used.
        return !this->signData(Bytes{'*'}, certificateId, pin).empty();
    } catch (const InvalidPinException&) {
        return false;
    } catch (const SigningCancelledException&) {
        throw;
    } catch (const std::exception& e) {
        logLine(LogLevel::Warn, std::string("warmUp failed: ") + e.what());
        return false;
    }
}

Bytes SignerWin::getCertificateDer(const std::string& certificateId) {
    const std::optional<CertStore> store = openStore(false);
    if (!store) {
        return {};
    }
    const StoreCertificate* certificate = findCertificateByThumbprint(*store, certificateId);
    return certificate != nullptr ? certificate->der : Bytes();
}

}  // namespace velk::signing
