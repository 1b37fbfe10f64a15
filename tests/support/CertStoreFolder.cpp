#include "support/CertStoreFolder.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>

#include <openssl/pem.h>

#include "platform/CertStore.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace velk::test {

namespace {

void writePem(const std::string& path, const std::function<int(BIO*)>& write) {
    platform::BioPtr bio(BIO_new_file(path.c_str(), "wb"));
    if (!bio || write(bio.get()) != 1) {
        throw std::runtime_error("CertStoreFolder: cannot write " + path);
    }
}

// The openssl command line with these arguments (argv[0] included); its exit
// code. Its complaints go to the test's output.
int runOpenssl(std::vector<std::string> args) {
    // Made before the fork: the child only replaces itself.
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    return runInChild([&argv] {
        ::execv("/usr/bin/openssl", argv.data());
        return 127;
    });
}

}  // namespace

CertStoreFolder::CertStoreFolder() : path_(platform::CertStore::directory()) {
    std::filesystem::create_directories(path_);
}

void CertStoreFolder::add(const std::string& name, const Der& pkcs12, const nlohmann::json& sidecar) const {
    std::ofstream(path_ + "/" + name + ".p12", std::ios::binary)
        .write(reinterpret_cast<const char*>(pkcs12.data()), static_cast<std::streamsize>(pkcs12.size()));
    if (!sidecar.is_null()) {
        std::ofstream(path_ + "/" + name + ".json") << sidecar.dump();
    }
}

void CertStoreFolder::addSoftware(const std::string& name, const TestIdentity& identity) const {
    add(name, TestPki::pkcs12(identity, "", false));
}

void CertStoreFolder::addPinProtected(const std::string& name, const TestIdentity& identity,
                                      const std::string& pin, const std::string& provider,
                                      const std::string& keyApi) const {
    add(name, TestPki::pkcs12(identity, pin, true),
        {{"provider", provider}, {"keyApi", keyApi}, {"pinProtected", true}});
}

}  // namespace velk::test

namespace velk::test {

void CertStoreFolder::addExported(const std::string& name, const TestIdentity& identity,
                                  const std::string& pin,
                                  const std::vector<std::string>& extraOptions) const {
    // The key and the certificate go through files outside the store.
    const TempDir work;
    const std::string key = work.sub("key.pem");
    const std::string cert = work.sub("cert.pem");
    writePem(key, [&](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, identity.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
    writePem(cert, [&](BIO* bio) { return PEM_write_bio_X509(bio, identity.certificate.get()); });

    std::vector<std::string> args = {
        "openssl",  "pkcs12",     "-export", "-in", cert, "-inkey", key, "-out", path_ + "/" + name + ".p12",
        "-passout", "pass:" + pin};
    args.insert(args.end(), extraOptions.begin(), extraOptions.end());
    if (const int rc = runOpenssl(args); rc != 0) {
        throw std::runtime_error("CertStoreFolder: openssl pkcs12 -export ended with " + std::to_string(rc));
    }
}

int CertStoreFolder::extractCompanion(const std::string& name, const std::string& pin,
                                      const std::vector<std::string>& extraOptions) const {
    std::vector<std::string> args = {"openssl", "pkcs12"};
    args.insert(args.end(), extraOptions.begin(), extraOptions.end());
    const std::vector<std::string> rest = {"-in",  path_ + "/" + name + ".p12", "-clcerts", "-nokeys",
                                           "-out", path_ + "/" + name + ".crt", "-passin",  "pass:" + pin};
    args.insert(args.end(), rest.begin(), rest.end());
    return runOpenssl(args);
}

void CertStoreFolder::addCompanion(const std::string& name, const std::string& extension,
                                   const TestIdentity& identity, Encoding encoding) const {
    const std::string path = path_ + "/" + name + extension;
    if (encoding == Encoding::Pem) {
        writePem(path, [&](BIO* bio) { return PEM_write_bio_X509(bio, identity.certificate.get()); });
        return;
    }
    const Der der = identity.der();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(der.data()), static_cast<std::streamsize>(der.size()));
}

}  // namespace velk::test
