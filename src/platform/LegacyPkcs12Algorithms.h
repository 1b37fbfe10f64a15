#pragma once

namespace velk::platform {

// Makes the ciphers of older PKCS#12 exports (RC2-40 certificates, as older
// Windows versions and browsers write them) available to every PKCS#12 reader
// of the process, libcurl's too, by loading OpenSSL's legacy provider beside
// the default one. Done once per process, from any thread; false when the
// legacy provider is not installed (such files then cannot be opened).
bool loadLegacyPkcs12Algorithms();

}  // namespace velk::platform
