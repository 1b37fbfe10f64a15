// The folder scans over a tree of 10,000 files (100 folders, each with one
// VAT return's DEKLAR.TXT, POKUPKI.TXT and PRODAGBI.TXT and 97 form 1 files,
// half of them of the asked month) beside `find ROOT -type f` over the same
// tree, which only lists; files a second for both, best of three,
// alternated, the tree in the page cache.
#include <cstdio>
#include <memory>
#include <string>

#include "BenchFiles.h"
#include "BenchReport.h"
#include "features/dec1/Dec1FilesScanInquiry.h"
#include "features/vat/VatFilesScanInquiry.h"

namespace {

using namespace velk::bench;
namespace fs = std::filesystem;

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr int kFiles = kFolders * kFilesPerFolder;

std::string padded(const std::string& text, std::size_t width) {
    std::string out = text.substr(0, width);
    out.resize(width, ' ');
    return out;
}

void buildTree(const fs::path& root) {
    for (int f = 0; f < kFolders; ++f) {
        const fs::path folder = root / ("company" + std::to_string(f / 10)) / ("period" + std::to_string(f));
        fs::create_directories(folder);
        const std::string deklar = padded("BG" + std::to_string(100000000 + f), 15) + padded("FIRMA", 50) +
                                   (f % 2 == 0 ? "202501" : "202502") + padded("", 40) + "\r\n";
        writeFile(folder / "DEKLAR.TXT", deklar);
        writeFile(folder / "POKUPKI.TXT", padded("BG100000000", 15) + "202501\r\n");
        writeFile(folder / "PRODAGBI.TXT", padded("BG100000000", 15) + "202501\r\n");
        for (int n = 3; n < kFilesPerFolder; ++n) {
            const std::string month = n % 2 == 0 ? "01" : "02";
            writeFile(folder / ("EMPL" + std::to_string(n) + ".TXT"),
                      month + ",2025," + std::to_string(100000000 + f) + ",1234567890,0,0,0,0\r\n" +
                          "1,2,3,4,5,6,7,8,9,10\r\n2,3,4,5,6,7,8,9,10,11\r\n");
        }
    }
}

std::size_t findFiles(const fs::path& root) {
    const std::string command = "find '" + root.string() + "' -type f";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    std::size_t lines = 0;
    char line[4096];
    while (pipe && std::fgets(line, sizeof line, pipe.get()) != nullptr) {
        ++lines;
    }
    return lines;
}

}  // namespace

int main() {
    const ScratchDir dir("velk-scan-bench-");
    buildTree(dir.path());
    const velk::core::operations::ParamMap params = {
        {"rootFolder", dir.path().string()}, {"year", "2025"}, {"month", "1"}, {"recursive", "true"}};
    const velk::core::features::dec1::Dec1FilesScanInquiry dec1;
    const velk::core::features::vat::VatFilesScanInquiry vat;

    double findSeconds = 1e9;
    double dec1Seconds = 1e9;
    double vatSeconds = 1e9;
    std::size_t listed = 0;
    std::size_t dec1Rows = 0;
    std::size_t vatRows = 0;
    for (int round = 0; round < 3; ++round) {
        findSeconds = std::min(findSeconds, bestSeconds(1, [&] { listed = findFiles(dir.path()); }));
        dec1Seconds =
            std::min(dec1Seconds, bestSeconds(1, [&] { dec1Rows = dec1.run(nullptr, params).rows.size(); }));
        vatSeconds =
            std::min(vatSeconds, bestSeconds(1, [&] { vatRows = vat.run(nullptr, params).rows.size(); }));
    }
    std::printf(
        "%zu files listed by find in %.3f s; form 1 scan %zu rows in %.3f s; VAT scan %zu rows in %.3f s\n",
        listed, findSeconds, dec1Rows, dec1Seconds, vatRows, vatSeconds);
    printRow("form 1 folder scan vs find (10,000 files)", kFiles / dec1Seconds, kFiles / findSeconds,
             "files/s", "");
    printRow("VAT folder scan vs find (10,000 files)", kFiles / vatSeconds, kFiles / findSeconds, "files/s",
             "");
    return 0;
}
