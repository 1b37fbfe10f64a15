#pragma once

#include <filesystem>
#include <string>

#include "platform/OpenSslPtr.h"

namespace velk::platform {

// The certificate file beside a PKCS#12 file whose own certificates are
// encrypted with its PIN: the same name with .crt, .cer or .pem (the first
// that can be read and is not empty), PEM or DER. It lets the store list the
// file without asking for the PIN; the key is checked against it once the PIN
// opens the file.
struct CompanionCertificate {
    std::string path;     // empty when no such file exists
    X509Ptr certificate;  // null when the file is not a certificate
    // The first candidate that is there but empty or cannot be read (what a
    // failed export leaves behind, a FIFO, a file too large): it counts as
    // missing, and is the name to tell the user.
    std::string unusablePath;

    static CompanionCertificate find(const std::filesystem::path& pkcs12Path);
    // The name a companion is looked for first (NAME.crt).
    static std::string preferredPath(const std::filesystem::path& pkcs12Path);
};

}  // namespace velk::platform
