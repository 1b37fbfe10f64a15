#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "infrastructure/java/ZipEntryReader.h"
#include "java/TestZip.h"
#include "support/LogCapture.h"

namespace velk::core::infra::java {
namespace {

using test::LogCapture;
using test::TestZip;
using test::TestZipEntry;

const std::string kLibrary = std::string("MZ\x90\0library bytes ", 18) + std::string(3000, 'L');

void setByte(std::string& bytes, std::size_t at, char value) {
    bytes.at(at) = value;
}

void set32(std::string& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes.at(at + i) = static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

struct ZipCase {
    std::string label;
    std::function<std::string()> archive;
    bool walks = true;
    std::vector<std::string> visited;
    std::string wanted = "vatclient.dll";
    std::optional<std::string> extracted;  // nothing: not found
    std::string warning;                   // a WARN line the extraction writes
};

std::vector<ZipCase> zipCases() {
    const TestZipEntry stored{"a.txt", "hello"};
    const TestZipEntry deflated{"native/VATClient.DLL", kLibrary, 8};
    return {
        {"shorter than an end record", [] { return std::string(21, '\0'); }, false, {}},
        {"no end signature", [] { return std::string(4096, 'x'); }, false, {}},
        {"stored entry", [=] { return TestZip{{stored}}.bytes(); }, true, {"a.txt"}, "A.TXT", "hello"},
        {"deflated entry found by base name without case",
         [=] {
             return TestZip{{stored, deflated}}.bytes();
         },
         true,
         {"a.txt", "native/VATClient.DLL"},
         "vatclient.dll",
         kLibrary},
        {"end record behind the longest comment",
         [=] {
             return TestZip{{deflated}, std::string(65535, 'c')}.bytes();
         },
         true,
         {"native/VATClient.DLL"},
         "vatclient.dll",
         kLibrary},
        {"end record farther back than any comment reaches",
         [=] { return TestZip{{deflated}}.bytes() + std::string(65536, 'j'); },
         false,
         {}},
        {"directory past the end",
         [=] {
             TestZip zip{{stored}};
             zip.directorySize = 4096;
             return zip.bytes();
         },
         false,
         {}},
        {"empty directory", [] { return TestZip{}.bytes(); }, true, {}},
        {"damaged second local header ends the walk",
         [=] {
             std::string bytes = TestZip{{stored, deflated}}.bytes();
             setByte(bytes, 30 + 5 + 5, 'X');
             return bytes;
         },
         true,
         {"a.txt"}},
        {"local header offset near 4 GiB",
         [=] {
             std::string bytes = TestZip{{stored}}.bytes();
             set32(bytes, 30 + 5 + 5 + 42, 0xFFFFFFF0u);
             return bytes;
         },
         true,
         {}},
        {"cut deflated entry fails, a later stored one is taken",
         [=] {
             TestZipEntry cut{"vatclient.dll", kLibrary, 8};
             cut.cutCompressedTo = 20;
             return TestZip{{cut, {"x/vatclient.dll", "second"}}}.bytes();
         },
         true,
         {"vatclient.dll", "x/vatclient.dll"},
         "vatclient.dll",
         "second",
         "JnlpDownloader: inflate failed for 'vatclient.dll'"},
        {"cut deflated entry alone",
         [=] {
             TestZipEntry cut{"vatclient.dll", kLibrary, 8};
             cut.cutCompressedTo = 20;
             return TestZip{{cut}}.bytes();
         },
         true,
         {"vatclient.dll"},
         "vatclient.dll",
         std::nullopt,
         "JnlpDownloader: inflate failed for 'vatclient.dll'"},
        {"unsupported method, then a stored match",
         [=] {
             return TestZip{{{"vatclient.dll", "bz", 12}, {"VATCLIENT.DLL", "plain"}}}.bytes();
         },
         true,
         {"vatclient.dll", "VATCLIENT.DLL"},
         "vatclient.dll",
         "plain",
         "JnlpDownloader: entry 'vatclient.dll' uses unsupported compression method 12"},
        {"a folder entry matches only by its full name",
         [=] {
             return TestZip{{{"lib/", ""}, {"lib/a", "A"}}}.bytes();
         },
         true,
         {"lib/", "lib/a"},
         "lib/",
         ""},
        {"declared size far too large is a mismatch",
         [=] {
             TestZipEntry entry{"vatclient.dll", kLibrary, 8};
             entry.declaredUncompressedSize = 0xFFFFFFF0;
             return TestZip{{entry}}.bytes();
         },
         true,
         {"vatclient.dll"},
         "vatclient.dll",
         std::nullopt,
         "JnlpDownloader: size mismatch for 'vatclient.dll' (declared 4294967280 bytes, got 3018)"},
        {"deflated entry longer than declared",
         [=] {
             TestZipEntry entry{"vatclient.dll", kLibrary, 8};
             entry.declaredUncompressedSize = 3017;
             return TestZip{{entry}}.bytes();
         },
         true,
         {"vatclient.dll"},
         "vatclient.dll",
         std::nullopt,
         "JnlpDownloader: size mismatch for 'vatclient.dll' (declared 3017 bytes, got 3018)"},
        {"stored entry whose sizes differ",
         [=] {
             TestZipEntry entry{"vatclient.dll", kLibrary};
             entry.declaredUncompressedSize = 3019;
             return TestZip{{entry}}.bytes();
         },
         true,
         {"vatclient.dll"},
         "vatclient.dll",
         std::nullopt,
         "JnlpDownloader: size mismatch for 'vatclient.dll' (declared 3019 bytes, got 3018)"},
        {"stored entry with a changed byte",
         [=] {
             std::string bytes = TestZip{{{"vatclient.dll", kLibrary}}}.bytes();
             setByte(bytes, 30 + 13 + 1000, 'M');
             return bytes;
         },
         true,
         {"vatclient.dll"},
         "vatclient.dll",
         std::nullopt,
         "JnlpDownloader: CRC-32 mismatch for 'vatclient.dll'"},
        {"deflated entry with another CRC-32, then a whole one is taken",
         [=] {
             TestZipEntry damaged{"vatclient.dll", kLibrary, 8};
             damaged.declaredCrc = 0x12345678;
             return TestZip{{damaged, {"x/vatclient.dll", "second", 8}}}.bytes();
         },
         true,
         {"vatclient.dll", "x/vatclient.dll"},
         "vatclient.dll",
         "second",
         "JnlpDownloader: CRC-32 mismatch for 'vatclient.dll'"},
    };
}

TEST(ZipEntryReaderTest, WalksAndExtractsAsTheArchiveAllows) {
    for (const ZipCase& c : zipCases()) {
        SCOPED_TRACE(c.label);
        const std::string archive = c.archive();
        std::vector<std::string> visited;
        EXPECT_EQ(forEachZipEntry(archive, [&](const ZipEntryInfo& entry) { visited.push_back(entry.name); }),
                  c.walks);
        EXPECT_EQ(visited, c.visited);

        LogCapture log;
        std::string out = "stale";
        const bool found = extractZipEntry(archive, c.wanted, out);
        ASSERT_EQ(found, c.extracted.has_value());
        if (found) {
            EXPECT_EQ(out, *c.extracted);
        }
        if (!c.warning.empty()) {
            EXPECT_EQ(log.count("WARN", c.warning), 1);
        }
    }
}

TEST(ZipEntryReaderTest, ListsEntriesAndTotalInTheLog) {
    const std::string archive = TestZip{{{"a.txt", "hello"}, {"b.bin", "xyz", 8}}}.bytes();
    LogCapture log;
    listZipEntries(archive, "lib.jar");
    listZipEntries("not a zip", "other.jar");
    EXPECT_EQ(log.count("INFO", "  [lib.jar] a.txt (STORED, 5 bytes)"), 1);
    EXPECT_EQ(log.count("INFO", "  [lib.jar] b.bin (DEFLATE, 3 bytes)"), 1);
    EXPECT_EQ(log.count("INFO", "  [lib.jar] total 2 entries"), 1);
    EXPECT_EQ(log.count("INFO", "  [other.jar] total 0 entries"), 1);
}

TEST(ZipEntryReaderTest, InflationStopsAtTheEndOfAProperStreamOnly) {
    const std::string deflated = test::rawDeflate(kLibrary);
    std::string out;
    EXPECT_TRUE(inflateRaw(reinterpret_cast<const std::uint8_t*>(deflated.data()), deflated.size(), 0, out));
    EXPECT_EQ(out, kLibrary);
    EXPECT_FALSE(inflateRaw(reinterpret_cast<const std::uint8_t*>(deflated.data()), deflated.size() / 2,
                            kLibrary.size(), out));
    const std::string garbage(64, '\xff');
    EXPECT_FALSE(inflateRaw(reinterpret_cast<const std::uint8_t*>(garbage.data()), garbage.size(), 10, out));
}

}  // namespace
}  // namespace velk::core::infra::java
