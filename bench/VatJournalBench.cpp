// The VAT journal reader over a generated 100 MB POKUPKI.TXT (fixed-width
// windows-1251 records, Cyrillic partner names and descriptions) beside a
// plain read of the same file into memory; MB/s of both, best of three,
// alternated, the file in the page cache for both.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "BenchFiles.h"
#include "BenchReport.h"
#include "features/vat/VatTextFiles.h"

namespace {

using namespace velk::bench;

constexpr std::size_t kFileBytes = 100u * 1024 * 1024;
constexpr int kAmounts = 10;

std::string field(const std::string& text, std::size_t width) {
    std::string padded = text.substr(0, width);
    padded.resize(width, ' ');
    return padded;
}

// "ООД Доставчик" and "Стоки и услуги" in windows-1251.
const std::string kPartner = "\xCE\xCE\xC4 \xC4\xEE\xF1\xF2\xE0\xE2\xF7\xE8\xEA";
const std::string kGoods = "\xD1\xF2\xEE\xEA\xE8 \xE8 \xF3\xF1\xEB\xF3\xE3\xE8";

std::string record(std::size_t n) {
    std::string line;
    line += field("BG123456789", 15);
    line += field("202501", 7);
    line += field("0", 11);
    line += field(std::to_string(1000000000 + n), 21);
    line += field("15/01/2025", 10);
    line += field("BG" + std::to_string(200000000 + n % 1000), 15);
    line += field(kPartner + " " + std::to_string(n % 977), 50);
    line += field(kGoods, 30);
    for (int a = 0; a < kAmounts; ++a) {
        line += field(std::to_string((n * 31 + a) % 100000) + ".00", 15);
    }
    line += "\r\n";
    return line;
}

std::string journal() {
    std::string bytes;
    bytes.reserve(kFileBytes + 512);
    for (std::size_t n = 0; bytes.size() < kFileBytes; ++n) {
        bytes += record(n);
    }
    return bytes;
}

std::size_t plainRead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return bytes.size();
}

}  // namespace

int main() {
    const ScratchDir dir("velk-vat-bench-");
    const std::string path = (dir.path() / "POKUPKI.TXT").string();
    writeFile(path, journal());
    const double megabytes = static_cast<double>(std::filesystem::file_size(path)) / (1024.0 * 1024.0);

    std::size_t records = 0;
    double readSeconds = 1e9;
    double parseSeconds = 1e9;
    for (int round = 0; round < 3; ++round) {
        readSeconds = std::min(readSeconds, bestSeconds(1, [&] { plainRead(path); }));
        parseSeconds = std::min(parseSeconds, bestSeconds(1, [&] {
                                    const auto bytes = velk::core::features::vat::readFileBytes(path);
                                    records =
                                        velk::core::features::vat::parseJournal(bytes.value_or("")).size();
                                }));
    }
    std::printf("%.1f MB, %zu records: read %.3f s, read and parse %.3f s\n", megabytes, records, readSeconds,
                parseSeconds);
    printRow("VAT journal parse vs plain read (100 MB)", megabytes / parseSeconds, megabytes / readSeconds,
             "MB/s", "");
    return 0;
}
