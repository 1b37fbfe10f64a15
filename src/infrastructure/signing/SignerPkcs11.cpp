#include "infrastructure/signing/SignerPkcs11.h"

#include <dlfcn.h>

#include <cctype>
#include <functional>
#include <limits>
#include <mutex>
#include <optional>

#include <p11-kit/pkcs11.h>

#include "common/Logger.h"
#include "common/TextUtils.h"
#include "infrastructure/signing/CertificateText.h"
#include "infrastructure/signing/CmsBuilder.h"
#include "infrastructure/signing/HexText.h"
#include "infrastructure/signing/InvalidPinException.h"
#include "infrastructure/signing/SigningCancelledException.h"
#include "infrastructure/signing/TokenPinMemory.h"
#include "platform/OpenSslPtr.h"
#include "platform/SecureWipe.h"

namespace velk::signing {

namespace {

using core::LogLevel;
using core::logLine;

// Batch size of the certificate listing.
constexpr CK_ULONG kFindBatch = 32;

// The one C_Login result taken for the user's refusal to enter the PIN (a
// login as CKU_USER does not produce it otherwise).
constexpr CK_RV kLoginCancelled = CKR_USER_TYPE_INVALID;

struct ModuleCloser {
    void operator()(void* handle) const { dlclose(handle); }
};
using ModuleHandle = std::unique_ptr<void, ModuleCloser>;

struct Pkcs11CertificateRef {
    CK_SLOT_ID slotId = 0;
    Bytes ckaId;  // empty: not a valid id
};

// "<slot>:<hex CKA_ID>". The slot part: leading white space, then decimal
// digits up to the first other character.
Pkcs11CertificateRef parsePkcs11CertificateId(const std::string& id) {
    const std::size_t colon = id.find(':');
    if (colon == std::string::npos) {
        return {};
    }
    std::size_t i = 0;
    while (i < colon && std::isspace(static_cast<unsigned char>(id[i]))) {
        ++i;
    }
    if (i == colon || !std::isdigit(static_cast<unsigned char>(id[i]))) {
        return {};
    }
    CK_SLOT_ID slot = 0;
    for (; i < colon && std::isdigit(static_cast<unsigned char>(id[i])); ++i) {
        const CK_SLOT_ID digit = static_cast<CK_SLOT_ID>(id[i] - '0');
        if (slot > (std::numeric_limits<CK_SLOT_ID>::max() - digit) / 10) {
            return {};
        }
        slot = slot * 10 + digit;
    }
    return {slot, hexDecode(std::string_view(id).substr(colon + 1))};
}

std::string fixedText(const unsigned char* text, std::size_t size) {
    std::string out(reinterpret_cast<const char*>(text), size);
    while (!out.empty() && (out.back() == ' ' || out.back() == '\0')) {
        out.pop_back();
    }
    return out;
}

// A read-only session that never outlives the call that opened it.
class Session {
public:
    Session(CK_FUNCTION_LIST_PTR f, CK_SLOT_ID slot) : f_(f) {
        rv_ = f_->C_OpenSession(slot, CKF_SERIAL_SESSION, nullptr, nullptr, &handle_);
    }
    ~Session() {
        if (rv_ == CKR_OK) {
            f_->C_CloseSession(handle_);
        }
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;
    CK_RV openResult() const { return rv_; }
    CK_SESSION_HANDLE handle() const { return handle_; }

private:
    CK_FUNCTION_LIST_PTR f_;
    CK_SESSION_HANDLE handle_ = 0;
    CK_RV rv_ = CKR_GENERAL_ERROR;
};

// One object search: C_FindObjectsFinal runs whenever the init succeeded.
class ObjectSearch {
public:
    ObjectSearch(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count)
        : f_(f), session_(session) {
        rv_ = f_->C_FindObjectsInit(session_, tmpl, count);
    }
    ~ObjectSearch() {
        if (rv_ == CKR_OK) {
            f_->C_FindObjectsFinal(session_);
        }
    }
    ObjectSearch(const ObjectSearch&) = delete;
    ObjectSearch& operator=(const ObjectSearch&) = delete;
    CK_RV initResult() const { return rv_; }
    CK_RV next(CK_ULONG max, std::vector<CK_OBJECT_HANDLE>& handles) {
        handles.assign(max, 0);
        CK_ULONG count = 0;
        const CK_RV rv = f_->C_FindObjects(session_, handles.data(), max, &count);
        handles.resize(rv == CKR_OK ? std::min(count, max) : 0);
        return rv;
    }

private:
    CK_FUNCTION_LIST_PTR f_;
    CK_SESSION_HANDLE session_;
    CK_RV rv_;
};

// 0 when exactly one object matched (its handle returned), 1 when none,
// otherwise the failing result.
CK_RV findFirstObject(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_ATTRIBUTE* tmpl, CK_ULONG count,
                      CK_OBJECT_HANDLE& found) {
    ObjectSearch search(f, session, tmpl, count);
    if (search.initResult() != CKR_OK) {
        return search.initResult();
    }
    std::vector<CK_OBJECT_HANDLE> handles;
    const CK_RV rv = search.next(1, handles);
    if (rv != CKR_OK) {
        return rv;
    }
    if (handles.size() != 1) {
        return 1;
    }
    found = handles.front();
    return 0;
}

// CKA_VALUE of an object: length first, then the value.
bool readValue(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object, Bytes& value) {
    value.clear();
    CK_ATTRIBUTE attr{CKA_VALUE, nullptr, 0};
    if (f->C_GetAttributeValue(session, object, &attr, 1) != CKR_OK ||
        attr.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        return false;
    }
    value.assign(attr.ulValueLen, 0);
    attr.pValue = value.data();
    if (f->C_GetAttributeValue(session, object, &attr, 1) != CKR_OK) {
        value.clear();
        return false;
    }
    value.resize(std::min<std::size_t>(attr.ulValueLen, value.size()));
    return true;
}

void readCertificateFields(const Bytes& der, CertificateInfo& record) {
    const unsigned char* p = der.data();
    platform::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert) {
        return;
    }
    fillNamesAndValidity(cert.get(), record);
    record.serial = serialNumberHex(cert.get());
}

std::size_t modulusSize(const Bytes& certDer) {
    const unsigned char* p = certDer.data();
    platform::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certDer.size())));
    const EVP_PKEY* key = cert ? X509_get0_pubkey(cert.get()) : nullptr;
    return key != nullptr ? static_cast<std::size_t>(EVP_PKEY_get_size(key)) : 0;
}

// The raw signature of a DigestInfo, in the session that found the key: a
// key handle is not valid in another session, and the login may end with the
// session that made it.
Bytes pkcs11RawSign(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE key,
                    std::size_t maxSize, const Bytes& digestInfo) {
    CK_MECHANISM mechanism{CKM_RSA_PKCS, nullptr, 0};
    if (f->C_SignInit(session, &mechanism, key) != CKR_OK) {
        return {};
    }
    auto* input = const_cast<CK_BYTE_PTR>(digestInfo.data());
    CK_ULONG length = 0;
    if (f->C_Sign(session, input, digestInfo.size(), nullptr, &length) != CKR_OK || length == 0 ||
        length > maxSize) {
        return {};
    }
    Bytes signature(length);
    if (f->C_Sign(session, input, digestInfo.size(), signature.data(), &length) != CKR_OK) {
        return {};
    }
    signature.resize(std::min<std::size_t>(length, signature.size()));
    return signature;
}

// warmUp raises InvalidPinException for a locked PIN too; the lookup of a
// signature only for a wrong one.
enum class LoginKind { WarmUp, Lookup };

}  // namespace

struct SignerPkcs11::Impl {
    std::string modulePath;
    ModuleHandle module;
    CK_FUNCTION_LIST_PTR functionList = nullptr;
    bool initialised = false;
    // Only the C_Initialize that did the initialising may finalise: another
    // user of the module in this process (a second signer, the TLS engine)
    // must not lose it under its feet.
    bool finaliseOnExit = false;
    std::mutex mutex;
    TokenPinMemory pins;

    void ensureInitialised();
    bool usable() const { return initialised && functionList != nullptr; }
    CK_RV withSession(CK_SLOT_ID slot, const std::function<CK_RV(CK_SESSION_HANDLE)>& work);
    std::optional<std::string> tokenSerial(CK_SLOT_ID slot);
    std::string tokenLabel(CK_SLOT_ID slot);
    CK_RV login(CK_SESSION_HANDLE session, CK_SLOT_ID slot, const std::string& pin, LoginKind kind);
    CK_RV findCertificateAndKey(CK_SESSION_HANDLE session, const Bytes& ckaId, Bytes& der,
                                CK_OBJECT_HANDLE& key);
    void enumerateTokenCertificates(CK_SESSION_HANDLE session, CK_SLOT_ID slot, const std::string& label,
                                    std::vector<CertificateInfo>& list);
};

void SignerPkcs11::Impl::ensureInitialised() {
    if (modulePath.empty()) {
        logLine(LogLevel::Warn, "SignerPkcs11: no module path configured");
        return;
    }
    module.reset(dlopen(modulePath.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!module) {
        logLine(LogLevel::Error, "SignerPkcs11: failed to load " + modulePath);
        return;
    }
    auto getFunctionList = reinterpret_cast<CK_C_GetFunctionList>(dlsym(module.get(), "C_GetFunctionList"));
    if (getFunctionList == nullptr) {
        logLine(LogLevel::Error, "SignerPkcs11: C_GetFunctionList not found in module");
        return;
    }
    if (getFunctionList(&functionList) != CKR_OK || functionList == nullptr) {
        functionList = nullptr;
        logLine(LogLevel::Error, "SignerPkcs11: C_GetFunctionList call failed");
        return;
    }
    CK_C_INITIALIZE_ARGS args{};
    args.flags = CKF_OS_LOCKING_OK;
    const CK_RV rv = functionList->C_Initialize(&args);
    if (rv != CKR_OK && rv != CKR_CRYPTOKI_ALREADY_INITIALIZED) {
        logLine(LogLevel::Error, "SignerPkcs11: C_Initialize returned " + std::to_string(rv));
        return;
    }
    finaliseOnExit = rv == CKR_OK;
    initialised = true;
    logLine(LogLevel::Info, "SignerPkcs11: module initialised (" + modulePath + ")");
}

CK_RV SignerPkcs11::Impl::withSession(CK_SLOT_ID slot, const std::function<CK_RV(CK_SESSION_HANDLE)>& work) {
    if (functionList == nullptr) {
        return CKR_GENERAL_ERROR;
    }
    const Session session(functionList, slot);
    if (session.openResult() != CKR_OK) {
        logLine(LogLevel::Warn,
                "SignerPkcs11: C_OpenSession returned " + std::to_string(session.openResult()));
        return session.openResult();
    }
    return work(session.handle());
}

std::optional<std::string> SignerPkcs11::Impl::tokenSerial(CK_SLOT_ID slot) {
    CK_TOKEN_INFO info{};
    if (functionList->C_GetTokenInfo(slot, &info) != CKR_OK) {
        return std::nullopt;
    }
    return fixedText(info.serialNumber, sizeof info.serialNumber);
}

std::string SignerPkcs11::Impl::tokenLabel(CK_SLOT_ID slot) {
    CK_TOKEN_INFO info{};
    if (functionList->C_GetTokenInfo(slot, &info) != CKR_OK) {
        return {};
    }
    return fixedText(info.label, sizeof info.label);
}

CK_RV SignerPkcs11::Impl::login(CK_SESSION_HANDLE session, CK_SLOT_ID slot, const std::string& givenPin,
                                LoginKind kind) {
    const std::optional<std::string> serial = tokenSerial(slot);
    std::string pin = givenPin;
    platform::ScopedWipe wipePin(pin);
    // A signature asked for without a PIN uses the one this token accepted last.
    if (pin.empty() && kind == LoginKind::Lookup && serial) {
        if (auto remembered = pins.recall(slot, *serial)) {
            pin = std::move(*remembered);
        }
    }
    if (pin.empty()) {
        return CKR_OK;
    }
    auto* pinBytes = reinterpret_cast<CK_UTF8CHAR_PTR>(pin.data());
    const CK_RV rv = functionList->C_Login(session, CKU_USER, pinBytes, pin.size());
    if (rv == CKR_OK) {
        // Only a PIN the token checked is remembered.
        if (serial) {
            pins.remember(slot, *serial, pin);
        }
        return CKR_OK;
    }
    if (rv == CKR_USER_ALREADY_LOGGED_IN) {
        return CKR_OK;
    }
    if (rv == CKR_PIN_INCORRECT || rv == CKR_PIN_LOCKED) {
        // Never tried again on its own: every try uses up one of the card's retries.
        pins.forget(slot);
    }
    if (rv == CKR_PIN_INCORRECT || (rv == CKR_PIN_LOCKED && kind == LoginKind::WarmUp)) {
        throw InvalidPinException();
    }
    if (rv == kLoginCancelled) {
        throw SigningCancelledException();
    }
    logLine(LogLevel::Warn, "SignerPkcs11: C_Login returned " + std::to_string(rv));
    return rv;
}

CK_RV SignerPkcs11::Impl::findCertificateAndKey(CK_SESSION_HANDLE session, const Bytes& ckaId, Bytes& der,
                                                CK_OBJECT_HANDLE& key) {
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    auto* idBytes = const_cast<std::uint8_t*>(ckaId.data());
    CK_ATTRIBUTE certTemplate[] = {{CKA_CLASS, &certClass, sizeof certClass},
                                   {CKA_ID, idBytes, ckaId.size()}};
    CK_OBJECT_HANDLE cert = 0;
    if (findFirstObject(functionList, session, certTemplate, 2, cert) != 0) {
        logLine(LogLevel::Warn, "SignerPkcs11: certificate not found on token");
        return 1;
    }
    if (!readValue(functionList, session, cert, der)) {
        return 1;
    }
    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_ATTRIBUTE keyTemplate[] = {{CKA_CLASS, &keyClass, sizeof keyClass}, {CKA_ID, idBytes, ckaId.size()}};
    if (findFirstObject(functionList, session, keyTemplate, 2, key) != 0) {
        logLine(LogLevel::Warn, "SignerPkcs11: private key not found on token");
        return 1;
    }
    return 0;
}

void SignerPkcs11::Impl::enumerateTokenCertificates(CK_SESSION_HANDLE session, CK_SLOT_ID slot,
                                                    const std::string& label,
                                                    std::vector<CertificateInfo>& list) {
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_ATTRIBUTE all[] = {{CKA_CLASS, &certClass, sizeof certClass}};
    ObjectSearch search(functionList, session, all, 1);
    if (search.initResult() != CKR_OK) {
        return;
    }
    std::vector<CK_OBJECT_HANDLE> batch;
    do {
        if (search.next(kFindBatch, batch) != CKR_OK) {
            return;
        }
        for (const CK_OBJECT_HANDLE object : batch) {
            CK_ATTRIBUTE attrs[] = {{CKA_ID, nullptr, 0}, {CKA_VALUE, nullptr, 0}};
            if (functionList->C_GetAttributeValue(session, object, attrs, 2) != CKR_OK ||
                attrs[0].ulValueLen == CK_UNAVAILABLE_INFORMATION ||
                attrs[1].ulValueLen == CK_UNAVAILABLE_INFORMATION) {
                continue;
            }
            Bytes id(attrs[0].ulValueLen, 0);
            Bytes value(attrs[1].ulValueLen, 0);
            attrs[0].pValue = id.data();
            attrs[1].pValue = value.data();
            if (functionList->C_GetAttributeValue(session, object, attrs, 2) != CKR_OK) {
                continue;
            }
            id.resize(std::min<std::size_t>(attrs[0].ulValueLen, id.size()));
            value.resize(std::min<std::size_t>(attrs[1].ulValueLen, value.size()));
            CertificateInfo record;
            record.id = std::to_string(slot) + ":" + hexEncode(id);
            record.hardware = true;
            record.provider = label.empty() ? "PKCS#11" : label;
            readCertificateFields(value, record);
            list.push_back(std::move(record));
        }
    } while (batch.size() == kFindBatch);
}

SignerPkcs11::SignerPkcs11(std::string modulePath) : impl_(std::make_unique<Impl>()) {
    impl_->modulePath = std::move(modulePath);
    impl_->ensureInitialised();
}

SignerPkcs11::~SignerPkcs11() {
    if (impl_->initialised && impl_->finaliseOnExit && impl_->functionList->C_Finalize != nullptr) {
        impl_->functionList->C_Finalize(nullptr);
    }
}

std::vector<CertificateInfo> SignerPkcs11::listCertificates() {
    std::lock_guard lock(impl_->mutex);
    std::vector<CertificateInfo> list;
    if (!impl_->usable()) {
        return list;
    }
    CK_FUNCTION_LIST_PTR f = impl_->functionList;
    CK_ULONG count = 0;
    if (f->C_GetSlotList(CK_TRUE, nullptr, &count) != CKR_OK || count == 0) {
        return list;
    }
    std::vector<CK_SLOT_ID> slots(count);
    if (f->C_GetSlotList(CK_TRUE, slots.data(), &count) != CKR_OK) {
        return list;
    }
    slots.resize(std::min<std::size_t>(count, slots.size()));
    for (const CK_SLOT_ID slot : slots) {
        const std::string label = impl_->tokenLabel(slot);
        impl_->withSession(slot, [&](CK_SESSION_HANDLE session) {
            impl_->enumerateTokenCertificates(session, slot, label, list);
            return CKR_OK;
        });
    }
    return list;
}

Bytes SignerPkcs11::signData(const Bytes& data, const std::string& certificateId, const std::string& pin) {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->usable()) {
        return {};
    }
    const Pkcs11CertificateRef ref = parsePkcs11CertificateId(certificateId);
    if (ref.ckaId.empty()) {
        return {};
    }
    Bytes result;
    impl_->withSession(ref.slotId, [&](CK_SESSION_HANDLE session) {
        CK_RV rv = impl_->login(session, ref.slotId, pin, LoginKind::Lookup);
        if (rv != CKR_OK) {
            return rv;
        }
        Bytes certDer;
        CK_OBJECT_HANDLE key = 0;
        rv = impl_->findCertificateAndKey(session, ref.ckaId, certDer, key);
        if (rv != 0 || certDer.empty() || key == 0) {
            return rv != 0 ? rv : CK_RV(1);
        }
        CK_FUNCTION_LIST_PTR f = impl_->functionList;
        const std::size_t maxSize = modulusSize(certDer);
        result = CmsBuilder::build(
            data, certDer,
            [f, session, key, maxSize](const Bytes& digestInfo) {
                return pkcs11RawSign(f, session, key, maxSize, digestInfo);
            },
            true);
        return CK_RV(CKR_OK);
    });
    return result;
}

bool SignerPkcs11::warmUp(const std::string& certificateId, const std::string& pin) {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->usable()) {
        return false;
    }
    const Pkcs11CertificateRef ref = parsePkcs11CertificateId(certificateId);
    if (ref.ckaId.empty()) {
        logLine(LogLevel::Warn,
                "SignerPkcs11: invalid certificateId: " + core::escapeControlBytes(certificateId));
        return false;
    }
    const CK_RV rv = impl_->withSession(ref.slotId, [&](CK_SESSION_HANDLE session) {
        return impl_->login(session, ref.slotId, pin, LoginKind::WarmUp);
    });
    return rv == CKR_OK;
}

Bytes SignerPkcs11::getCertificateDer(const std::string& certificateId) {
    std::lock_guard lock(impl_->mutex);
    if (!impl_->usable()) {
        return {};
    }
    const Pkcs11CertificateRef ref = parsePkcs11CertificateId(certificateId);
    if (ref.ckaId.empty()) {
        return {};
    }
    Bytes der;
    impl_->withSession(ref.slotId, [&](CK_SESSION_HANDLE session) {
        CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
        CK_ATTRIBUTE tmpl[] = {{CKA_CLASS, &certClass, sizeof certClass},
                               {CKA_ID, const_cast<std::uint8_t*>(ref.ckaId.data()), ref.ckaId.size()}};
        CK_OBJECT_HANDLE cert = 0;
        if (findFirstObject(impl_->functionList, session, tmpl, 2, cert) == 0) {
            readValue(impl_->functionList, session, cert, der);
        }
        return CK_RV(CKR_OK);
    });
    return der;
}

}  // namespace velk::signing
