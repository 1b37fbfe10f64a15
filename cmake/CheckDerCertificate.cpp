// Run when configuring: reads a file of standard base64 and says whether it
// decodes to exactly one DER X.509 certificate. Prints "certificate: " and
// the subject, or the reason it is none (and ends with 1).
#include <openssl/x509.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

int sextet(char c) {
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    if (c == '+') {
        return 62;
    }
    if (c == '/') {
        return 63;
    }
    return -1;
}

// Standard base64 alone: groups of four, '=' only as the padding of the last
// group, and padding bits that are zero.
bool decode(const std::string& text, std::vector<unsigned char>& out) {
    if (text.empty() || text.size() % 4 != 0) {
        return false;
    }
    for (std::size_t at = 0; at < text.size(); at += 4) {
        const bool last = at + 4 == text.size();
        int values[4];
        int padding = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text[at + i];
            if (c == '=' && last && i >= 2) {
                ++padding;
                values[i] = 0;
                continue;
            }
            if (padding > 0) {
                return false;
            }
            values[i] = sextet(c);
            if (values[i] < 0) {
                return false;
            }
        }
        const unsigned long group =
            (static_cast<unsigned long>(values[0]) << 18) | (static_cast<unsigned long>(values[1]) << 12) |
            (static_cast<unsigned long>(values[2]) << 6) | static_cast<unsigned long>(values[3]);
        if ((padding == 1 && (group & 0xff) != 0) || (padding == 2 && (group & 0xffff) != 0)) {
            return false;
        }
        out.push_back(static_cast<unsigned char>(group >> 16));
        if (padding < 2) {
            out.push_back(static_cast<unsigned char>(group >> 8));
        }
        if (padding < 1) {
            out.push_back(static_cast<unsigned char>(group));
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::puts("usage: CheckDerCertificate FILE");
        return 1;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<unsigned char> der;
    if (!decode(text, der)) {
        std::puts("the value is not standard base64.");
        return 1;
    }
    const unsigned char* cursor = der.data();
    X509* certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
    if (certificate == nullptr) {
        std::puts("the value decodes to something that is not a DER X.509 certificate.");
        return 1;
    }
    const bool whole = cursor == der.data() + der.size();
    char subject[512] = {0};
    X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject);
    X509_free(certificate);
    if (!whole) {
        std::puts("the value decodes to a DER X.509 certificate followed by other bytes.");
        return 1;
    }
    std::printf("certificate: %s\n", subject);
    return 0;
}
