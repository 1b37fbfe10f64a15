// The line protocol of the Java bridge: the child's output cut into lines in
// chunks of any size gives the lines a whole read gives, none longer than the
// limit, and every cut line long enough to be known as possibly cut (a cut
// signing request is never signed); the protocol's base64 reads back what it
// wrote; and the texts the bridge keeps of a child (error lists, result and
// log texts) are bounded, valid UTF-8.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "FuzzCheck.h"
#include "LogLineCheck.h"
#include "common/TextUtils.h"
#include "infrastructure/java/BridgeLimits.h"
#include "infrastructure/java/BridgeText.h"
#include "infrastructure/java/LineSplitter.h"
#include "infrastructure/java/ValidationErrors.h"

namespace {

using namespace velk::core;
using namespace velk::core::infra::java;

// The lines as the splitter's contract describes them, from the whole stream,
// and which of them were cut.
std::vector<std::string> expectedLines(std::string_view stream, std::size_t maxLine, std::vector<bool>& cut) {
    std::vector<std::string> lines;
    while (!stream.empty()) {
        const std::size_t lineFeed = stream.find('\n');
        std::string_view line = stream.substr(0, lineFeed);
        cut.push_back(line.size() > maxLine);
        if (line.size() > maxLine) {
            lines.push_back(utf8SafePrefix(line, maxLine));
        } else if (lineFeed != std::string_view::npos) {
            if (!line.empty() && line.back() == '\r') {
                line.remove_suffix(1);
            }
            lines.emplace_back(line);
        } else {
            lines.emplace_back(line);  // the tail keeps its carriage return
        }
        if (lineFeed == std::string_view::npos) {
            break;
        }
        stream.remove_prefix(lineFeed + 1);
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velk::fuzz::InputParts parts(data, size);
    const std::size_t maxLine = 1 + parts.byte() % 64;
    const std::size_t chunk = 1 + parts.byte() % 32;
    const std::string_view stream = parts.rest();

    VELK_FUZZ_NO_THROW({
        std::vector<std::string> lines;
        LineSplitter splitter(maxLine);
        const auto keep = [&](const std::string& line) { lines.push_back(line); };
        for (std::size_t at = 0; at < stream.size(); at += chunk) {
            splitter.feed(stream.substr(at, chunk), keep);
        }
        splitter.finish(keep);

        std::vector<bool> cut;
        const std::vector<std::string> expected = expectedLines(stream, maxLine, cut);
        VELK_FUZZ_CHECK(lines == expected);
        for (std::size_t i = 0; i < lines.size(); ++i) {
            VELK_FUZZ_CHECK(lines[i].size() <= maxLine);
            VELK_FUZZ_CHECK(!cut[i] || LineSplitter::mayHaveBeenCut(lines[i].size(), maxLine));
        }
        if (isValidUtf8(stream)) {
            for (const std::string& line : lines) {
                VELK_FUZZ_CHECK(isValidUtf8(line));
            }
        }

        // The protocol's base64 both ways.
        const std::vector<std::uint8_t> raw(stream.begin(), stream.end());
        const std::string encoded = bridgeBase64Encode(raw);
        VELK_FUZZ_CHECK(bridgeBase64Decode(encoded) == raw);
        VELK_FUZZ_CHECK(bridgeBase64Decode(stream).size() <= stream.size());

        // What the bridge keeps of a failed run.
        std::vector<std::string> errors = collectValidationErrors(lines, std::string(stream), maxLine - 1);
        VELK_FUZZ_CHECK(!errors.empty());
        VELK_FUZZ_CHECK(errors.size() <= kMaxResultTexts);
        for (const std::string& text : errors) {
            // Each broken byte may become a three-byte U+FFFD.
            VELK_FUZZ_CHECK(text.size() <= 3 * kMaxResultTextBytes);
            VELK_FUZZ_CHECK(isValidUtf8(text));
        }
        const std::string result = resultText(stream);
        VELK_FUZZ_CHECK(result.size() <= 3 * kMaxResultTextBytes);
        VELK_FUZZ_CHECK(isValidUtf8(result));
        const std::string log = logText(stream);
        VELK_FUZZ_CHECK(velk::fuzz::staysOneLogLine(log));
    });
    return 0;
}
