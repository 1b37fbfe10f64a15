#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "infrastructure/java/LineSplitter.h"

namespace velk::core::infra::java {
namespace {

struct SplitCase {
    std::string label;
    std::string stream;
    std::vector<std::string> lines;
    std::size_t maxLineBytes = 1024;
};

std::vector<std::string> split(const std::string& stream, std::size_t maxLineBytes, std::size_t chunk) {
    LineSplitter splitter(maxLineBytes);
    std::vector<std::string> lines;
    const auto take = [&lines](const std::string& line) { lines.push_back(line); };
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        splitter.feed(std::string_view(stream).substr(at, chunk), take);
    }
    splitter.finish(take);
    return lines;
}

TEST(LineSplitterTest, CutsLinesTheSameWhateverTheChunks) {
    const std::vector<SplitCase> cases = {
        {"carriage return before the line feed", "a\r\nb", {"a", "b"}},
        {"a carriage return and a line feed alone", "\r\n", {""}},
        {"two line feeds", "\n\n", {"", ""}},
        {"unterminated tail keeps its carriage return", "x\ny\r", {"x", "y\r"}},
        {"only one carriage return is dropped", "a\r\r\n", {"a\r"}},
        {"empty stream", "", {}},
        {"Cyrillic", "Грешка в ред 3\nПрогрес: 50%\n", {"Грешка в ред 3", "Прогрес: 50%"}},
        {"a line of exactly the limit", "12345678\nok\n", {"12345678", "ok"}, 8},
        {"an overlong line is cut and its rest dropped", "0123456789abc\nok\n", {"01234567", "ok"}, 8},
        {"an overlong tail is cut", "0123456789", {"01234567"}, 8},
        {"a cut never splits a character", "абвгд\n", {"абв"}, 7},
    };
    for (const SplitCase& c : cases) {
        for (const std::size_t chunk : {std::size_t{1}, std::size_t{3}, std::size_t{4096}}) {
            SCOPED_TRACE(c.label + ", chunks of " + std::to_string(chunk));
            EXPECT_EQ(split(c.stream, c.maxLineBytes, chunk), c.lines);
        }
    }
}

}  // namespace
}  // namespace velk::core::infra::java
