#include "support/SoftHsmToken.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <openssl/core_names.h>
#include <openssl/x509.h>
#include <p11-kit/pkcs11.h>

extern char** environ;

namespace velk::test {

namespace {

void require(bool ok, const std::string& what) {
    if (!ok) {
        throw std::runtime_error("SoftHsmToken: " + what);
    }
}

void requireOk(CK_RV rv, const std::string& what) {
    require(rv == CKR_OK, what + " returned " + std::to_string(rv));
}

// Runs a program with its output discarded; true when it exits with 0.
bool run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return false;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::uint8_t> bnParam(EVP_PKEY* key, const char* name) {
    BIGNUM* bn = nullptr;
    require(EVP_PKEY_get_bn_param(key, name, &bn) == 1, std::string("key parameter ") + name);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(BN_num_bytes(bn)));
    BN_bn2bin(bn, out.data());
    BN_clear_free(bn);
    return out;
}

template <class T>
std::vector<std::uint8_t> derOf(T* object, int (*encode)(const T*, unsigned char**)) {
    const int len = encode(object, nullptr);
    require(len > 0, "DER encoding");
    std::vector<std::uint8_t> out(static_cast<std::size_t>(len));
    unsigned char* p = out.data();
    encode(object, &p);
    return out;
}

CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE type, const void* value, std::size_t size) {
    return CK_ATTRIBUTE{type, const_cast<void*>(value), size};
}

CK_ATTRIBUTE attr(CK_ATTRIBUTE_TYPE type, const std::vector<std::uint8_t>& value) {
    return attr(type, value.data(), value.size());
}

CK_RV createCertificateObject(CK_FUNCTION_LIST_PTR f, CK_SESSION_HANDLE session,
                              const std::vector<std::uint8_t>& value,
                              const std::vector<std::uint8_t>& ckaId) {
    CK_OBJECT_CLASS certClass = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE certType = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    const std::string certLabel = "velk certificate";
    const std::vector<std::uint8_t> subject = {0x30, 0x00};  // empty name; the value carries the real one
    CK_ATTRIBUTE certTemplate[] = {
        attr(CKA_CLASS, &certClass, sizeof certClass),
        attr(CKA_CERTIFICATE_TYPE, &certType, sizeof certType),
        attr(CKA_TOKEN, &yes, sizeof yes),
        attr(CKA_PRIVATE, &no, sizeof no),
        attr(CKA_ID, ckaId),
        attr(CKA_LABEL, certLabel.data(), certLabel.size()),
        attr(CKA_SUBJECT, subject),
        attr(CKA_VALUE, value),
    };
    CK_OBJECT_HANDLE object = 0;
    return f->C_CreateObject(session, certTemplate, std::size(certTemplate), &object);
}

}  // namespace

// The module loaded and initialised for one piece of set-up work; finalised
// again only when this object did the initialising (a signer under test may
// hold the module at the same time).
struct SoftHsmToken::Module {
    void* handle = nullptr;
    CK_FUNCTION_LIST_PTR f = nullptr;
    bool finalise = false;

    Module() {
        handle = dlopen(modulePath().c_str(), RTLD_NOW | RTLD_LOCAL);
        require(handle != nullptr, "cannot load the SoftHSM module");
        auto get = reinterpret_cast<CK_C_GetFunctionList>(dlsym(handle, "C_GetFunctionList"));
        require(get != nullptr && get(&f) == CKR_OK, "C_GetFunctionList");
        CK_C_INITIALIZE_ARGS args{};
        args.flags = CKF_OS_LOCKING_OK;
        const CK_RV rv = f->C_Initialize(&args);
        require(rv == CKR_OK || rv == CKR_CRYPTOKI_ALREADY_INITIALIZED, "C_Initialize");
        finalise = rv == CKR_OK;
    }
    ~Module() {
        if (finalise) {
            f->C_Finalize(nullptr);
        }
        dlclose(handle);
    }

    // A read-write session logged in as the user, closed again by the caller.
    CK_SESSION_HANDLE userSession(unsigned long slot, const std::string& pin) {
        CK_SESSION_HANDLE session = 0;
        requireOk(f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &session),
                  "C_OpenSession");
        const CK_RV rv = f->C_Login(
            session, CKU_USER, reinterpret_cast<CK_UTF8CHAR_PTR>(const_cast<char*>(pin.data())), pin.size());
        require(rv == CKR_OK || rv == CKR_USER_ALREADY_LOGGED_IN, "C_Login");
        return session;
    }
};

std::string SoftHsmToken::modulePath() {
    for (const char* candidate :
         {"/usr/lib/softhsm/libsofthsm2.so", "/usr/lib/x86_64-linux-gnu/softhsm/libsofthsm2.so"}) {
        if (std::filesystem::exists(candidate)) {
            return candidate;
        }
    }
    return {};
}

SoftHsmToken::SoftHsmToken(const std::string& label, const std::string& userPin)
    : label_(label), userPin_(userPin) {
    require(!modulePath().empty(), "SoftHSM2 is not installed");
    const std::string tokens = dir_.sub("tokens");
    std::filesystem::create_directories(tokens);
    const std::string conf = dir_.sub("softhsm2.conf");
    {
        std::ofstream out(conf);
        out << "directories.tokendir = " << tokens << "\n"
            << "objectstore.backend = file\n"
            << "log.level = ERROR\n"
            << "slots.removable = false\n";
    }
    conf_ = std::make_unique<ScopedEnv>("SOFTHSM2_CONF", conf);
    require(run({"softhsm2-util", "--init-token", "--free", "--label", label_, "--so-pin", "87654321",
                 "--pin", userPin_}),
            "softhsm2-util --init-token failed");

    Module module;
    CK_ULONG count = 0;
    requireOk(module.f->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
    std::vector<CK_SLOT_ID> slots(count);
    requireOk(module.f->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList");
    for (const CK_SLOT_ID slot : slots) {
        CK_TOKEN_INFO info{};
        if (module.f->C_GetTokenInfo(slot, &info) == CKR_OK && (info.flags & CKF_TOKEN_INITIALIZED)) {
            slotId_ = slot;
            return;
        }
    }
    throw std::runtime_error("SoftHsmToken: the initialised token has no slot");
}

SoftHsmToken::~SoftHsmToken() = default;

void SoftHsmToken::addIdentity(const TestIdentity& identity, const std::vector<std::uint8_t>& ckaId) {
    EVP_PKEY* key = identity.key.get();
    const auto n = bnParam(key, OSSL_PKEY_PARAM_RSA_N);
    const auto e = bnParam(key, OSSL_PKEY_PARAM_RSA_E);
    const auto d = bnParam(key, OSSL_PKEY_PARAM_RSA_D);
    const auto p = bnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
    const auto q = bnParam(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
    const auto dp = bnParam(key, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    const auto dq = bnParam(key, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    const auto qinv = bnParam(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    const std::vector<std::uint8_t> subject =
        derOf<X509_NAME>(X509_get_subject_name(identity.certificate.get()), i2d_X509_NAME);

    CK_OBJECT_CLASS keyClass = CKO_PRIVATE_KEY;
    CK_KEY_TYPE keyType = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    const std::string keyLabel = "velk key";
    CK_ATTRIBUTE keyTemplate[] = {
        attr(CKA_CLASS, &keyClass, sizeof keyClass),
        attr(CKA_KEY_TYPE, &keyType, sizeof keyType),
        attr(CKA_TOKEN, &yes, sizeof yes),
        attr(CKA_PRIVATE, &yes, sizeof yes),
        attr(CKA_SENSITIVE, &yes, sizeof yes),
        attr(CKA_SIGN, &yes, sizeof yes),
        attr(CKA_ID, ckaId),
        attr(CKA_LABEL, keyLabel.data(), keyLabel.size()),
        attr(CKA_SUBJECT, subject),
        attr(CKA_MODULUS, n),
        attr(CKA_PUBLIC_EXPONENT, e),
        attr(CKA_PRIVATE_EXPONENT, d),
        attr(CKA_PRIME_1, p),
        attr(CKA_PRIME_2, q),
        attr(CKA_EXPONENT_1, dp),
        attr(CKA_EXPONENT_2, dq),
        attr(CKA_COEFFICIENT, qinv),
    };
    Module module;
    const CK_SESSION_HANDLE session = module.userSession(slotId_, userPin_);
    CK_OBJECT_HANDLE object = 0;
    const CK_RV rv = module.f->C_CreateObject(session, keyTemplate, std::size(keyTemplate), &object);
    module.f->C_CloseSession(session);
    requireOk(rv, "C_CreateObject(private key)");
    addCertificateObjects({{identity.der(), ckaId}});
}

void SoftHsmToken::addCertificateObjects(const std::vector<CertificateObject>& objects) {
    Module module;
    const CK_SESSION_HANDLE session = module.userSession(slotId_, userPin_);
    CK_RV rv = CKR_OK;
    for (const auto& [value, ckaId] : objects) {
        rv = createCertificateObject(module.f, session, value, ckaId);
        if (rv != CKR_OK) {
            break;
        }
    }
    module.f->C_CloseSession(session);
    requireOk(rv, "C_CreateObject(certificate)");
}

std::string SoftHsmToken::certificateId(const std::vector<std::uint8_t>& ckaId) const {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out = std::to_string(slotId_) + ":";
    for (const std::uint8_t b : ckaId) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

}  // namespace velk::test
