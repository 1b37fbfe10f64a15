#include "support/CertStoreFolder.h"

#include <filesystem>
#include <fstream>

#include "platform/CertStore.h"

namespace velk::test {

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
