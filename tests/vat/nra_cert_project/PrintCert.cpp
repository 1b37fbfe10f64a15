#include <iostream>

#include "features/vat/NraEncryptionCert.h"

int main() {
    std::cout << "[" << velk::core::features::vat::kNraEncryptionCertBase64 << "]" << std::endl;
    return 0;
}
