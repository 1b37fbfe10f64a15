#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace velk::core::infra::java {

// Cuts a byte stream into lines at line feeds. A carriage return that ends a
// non-empty line is dropped with the line feed; an unterminated tail handed
// over at the end keeps it. A line longer than the limit is handed over cut
// to the limit (at a UTF-8 character boundary) and the rest of it, up to its
// line feed, is dropped, so a child that never ends a line cannot make the
// agent hold its whole output.
class LineSplitter {
public:
    using LineHandler = std::function<void(const std::string&)>;

    explicit LineSplitter(std::size_t maxLineBytes);

    // Hands every line completed by the bytes to the handler (empty lines too).
    void feed(std::string_view bytes, const LineHandler& handler);
    // The end of the stream: a non-empty unterminated tail is the last line.
    void finish(const LineHandler& handler);

    // Whether a line handed over under the limit may be a cut one. A cut
    // leaves out at most the three first bytes of a character, so every line
    // within three bytes of the limit may be; a shorter one is whole.
    static bool mayHaveBeenCut(std::size_t lineBytes, std::size_t maxLineBytes) {
        return lineBytes + kMaxHeldBackBytes >= maxLineBytes;
    }
    static constexpr std::size_t kMaxHeldBackBytes = 3;

private:
    std::size_t maxLineBytes_;
    std::string pending_;
    bool dropping_ = false;  // inside the cut-off rest of an overlong line
};

}  // namespace velk::core::infra::java
