#include "infrastructure/java/LineSplitter.h"

#include "common/TextUtils.h"

namespace velk::core::infra::java {

LineSplitter::LineSplitter(std::size_t maxLineBytes) : maxLineBytes_(maxLineBytes > 0 ? maxLineBytes : 1) {}

void LineSplitter::feed(std::string_view bytes, const LineHandler& handler) {
    while (!bytes.empty()) {
        const std::size_t lineFeed = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, lineFeed);
        if (!dropping_) {
            const std::size_t room = maxLineBytes_ - pending_.size();
            if (piece.size() > room) {
                // A few bytes past the limit, so the cut sees whether the
                // last character is whole.
                pending_.append(piece.substr(0, room + 4));
                const std::string cut = utf8SafePrefix(pending_, maxLineBytes_);
                pending_.clear();
                dropping_ = true;
                handler(cut);
            } else {
                pending_.append(piece);
            }
        }
        if (lineFeed == std::string_view::npos) {
            return;
        }
        bytes.remove_prefix(lineFeed + 1);
        if (dropping_) {
            dropping_ = false;
            continue;
        }
        if (!pending_.empty() && pending_.back() == '\r') {
            pending_.pop_back();
        }
        std::string line;
        line.swap(pending_);
        handler(line);
    }
}

void LineSplitter::finish(const LineHandler& handler) {
    if (!dropping_ && !pending_.empty()) {
        std::string line;
        line.swap(pending_);
        handler(line);
    }
    pending_.clear();
    dropping_ = false;
}

}  // namespace velk::core::infra::java
