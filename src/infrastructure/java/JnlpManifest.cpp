#include "infrastructure/java/JnlpManifest.h"

#include <algorithm>
#include <optional>

#include "common/TextUtils.h"

namespace velk::core::infra::java {

namespace {

constexpr std::size_t npos = std::string_view::npos;

bool isWordChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// needle is lower case.
bool startsWithAt(std::string_view text, std::size_t at, std::string_view needle) {
    if (at > text.size() || text.size() - at < needle.size()) {
        return false;
    }
    for (std::size_t i = 0; i < needle.size(); ++i) {
        if (lower(text[at + i]) != needle[i]) {
            return false;
        }
    }
    return true;
}

std::size_t ifind(std::string_view text, std::string_view needle, std::size_t from) {
    for (std::size_t at = from; at + needle.size() <= text.size(); ++at) {
        if (startsWithAt(text, at, needle)) {
            return at;
        }
    }
    return npos;
}

struct Capture {
    std::size_t start = 0;  // of the attribute name
    std::size_t valueStart = 0;
    std::size_t valueEnd = 0;  // the closing quote
};

// name="value" at the position (name ends in '="', lower case); the value
// runs to the next quote and must not be empty when nonEmpty.
std::optional<Capture> attributeAt(std::string_view text, std::size_t at, std::string_view nameEq,
                                   bool wordBoundary, bool nonEmpty) {
    if (!startsWithAt(text, at, nameEq)) {
        return std::nullopt;
    }
    if (wordBoundary && at > 0 && isWordChar(text[at - 1])) {
        return std::nullopt;
    }
    const std::size_t valueStart = at + nameEq.size();
    const std::size_t close = text.find('"', valueStart);
    if (close == npos || (nonEmpty && close == valueStart)) {
        return std::nullopt;
    }
    return Capture{at, valueStart, close};
}

// The last match in [from, limit): what "[^>]*name=" before it picks.
std::optional<Capture> lastAttributeIn(std::string_view text, std::size_t from, std::size_t limit,
                                       std::string_view nameEq, bool wordBoundary, bool nonEmpty) {
    for (std::size_t at = limit; at-- > from;) {
        if (auto found = attributeAt(text, at, nameEq, wordBoundary, nonEmpty)) {
            return found;
        }
    }
    return std::nullopt;
}

// The first match anywhere: what a search for "\bname=" finds.
std::optional<Capture> firstAttribute(std::string_view text, std::string_view nameEq) {
    for (std::size_t at = ifind(text, nameEq, 0); at != npos; at = ifind(text, nameEq, at + 1)) {
        if (auto found = attributeAt(text, at, nameEq, true, false)) {
            return found;
        }
    }
    return std::nullopt;
}

// For element starts that share one run of text without '>', the last
// attribute in that run is the same; computing it once per run keeps a
// manifest full of unclosed tags from costing quadratic time.
class LastAttributeCache {
public:
    LastAttributeCache(std::string_view text, std::string_view nameEq, bool wordBoundary)
        : text_(text), nameEq_(nameEq), wordBoundary_(wordBoundary) {}

    // The last attribute between from and the next '>' (or the end).
    std::optional<Capture> lastFrom(std::size_t from) {
        if (!cached_ || from > runEnd_) {
            const std::size_t gt = text_.find('>', from);
            runEnd_ = gt == npos ? text_.size() : gt;
            best_ = lastAttributeIn(text_, from, runEnd_, nameEq_, wordBoundary_, true);
            cached_ = true;
        }
        if (best_ && best_->start >= from) {
            return best_;
        }
        return std::nullopt;
    }

private:
    std::string_view text_;
    std::string_view nameEq_;
    bool wordBoundary_;
    bool cached_ = false;
    std::size_t runEnd_ = 0;
    std::optional<Capture> best_;
};

std::size_t runEndFrom(std::string_view text, std::size_t from) {
    const std::size_t gt = text.find('>', from);
    return gt == npos ? text.size() : gt;
}

std::string captured(std::string_view text, const Capture& capture) {
    return std::string(text.substr(capture.valueStart, capture.valueEnd - capture.valueStart));
}

std::string codebaseOf(std::string_view text) {
    // No word boundary in this pattern, unlike the others.
    LastAttributeCache codebases(text, "codebase=\"", false);
    for (std::size_t at = ifind(text, "<jnlp", 0); at != npos; at = ifind(text, "<jnlp", at + 1)) {
        if (auto found = codebases.lastFrom(at + 5)) {
            return captured(text, *found);
        }
    }
    return {};
}

void appendJars(std::string_view text, std::vector<JnlpJar>& out) {
    LastAttributeCache hrefs(text, "href=\"", true);
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t lt = text.find('<', at);
        if (lt == npos) {
            return;
        }
        std::size_t nameEnd = npos;
        if (startsWithAt(text, lt + 1, "jar")) {
            nameEnd = lt + 4;
        } else if (startsWithAt(text, lt + 1, "nativelib")) {
            nameEnd = lt + 10;
        }
        if (nameEnd == npos) {
            at = lt + 1;
            continue;
        }
        const auto href = hrefs.lastFrom(nameEnd);
        if (!href) {
            at = lt + 1;
            continue;
        }
        JnlpJar jar{captured(text, *href), {}};
        std::size_t matchEnd = href->valueEnd + 1;
        const std::size_t sizeFrom = href->valueEnd + 1;
        if (auto size = lastAttributeIn(text, sizeFrom, runEndFrom(text, sizeFrom), "size=\"", true, true)) {
            jar.size = captured(text, *size);
            matchEnd = size->valueEnd + 1;
        }
        out.push_back(std::move(jar));
        at = matchEnd;
    }
}

struct Block {
    std::size_t start = 0;
    std::size_t end = 0;  // after "</resources>"
    std::string_view attributes;
    std::string_view content;
};

std::vector<Block> resourceBlocks(std::string_view text) {
    std::vector<Block> out;
    std::size_t at = 0;
    for (;;) {
        const std::size_t start = ifind(text, "<resources", at);
        if (start == npos) {
            break;
        }
        const std::size_t after = start + 10;
        if (after < text.size() && isWordChar(text[after])) {
            at = start + 1;
            continue;
        }
        const std::size_t gt = text.find('>', after);
        if (gt == npos) {
            break;
        }
        const std::size_t close = ifind(text, "</resources>", gt + 1);
        if (close == npos) {
            break;  // no later block can close either
        }
        out.push_back(
            Block{start, close + 12, text.substr(after, gt - after), text.substr(gt + 1, close - gt - 1)});
        at = close + 12;
    }
    return out;
}

std::string attributeValue(std::string_view attributes, std::string_view nameEq) {
    const auto found = firstAttribute(attributes, nameEq);
    return found ? captured(attributes, *found) : std::string();
}

}  // namespace

bool jnlpPlatformMatches(std::string_view attribute, std::string_view platformValue) {
    if (attribute.empty()) {
        return true;
    }
    std::string unescaped;
    for (std::size_t i = 0; i < attribute.size(); ++i) {
        if (attribute[i] == '\\' && i + 1 < attribute.size()) {
            ++i;
        }
        unescaped += attribute[i];
    }
    if (iequalsAscii(unescaped, platformValue)) {
        return true;
    }
    std::size_t i = 0;
    while (i < unescaped.size()) {
        while (i < unescaped.size() && isSpace(unescaped[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < unescaped.size() && !isSpace(unescaped[i])) {
            ++i;
        }
        if (i > start && iequalsAscii(std::string_view(unescaped).substr(start, i - start), platformValue)) {
            return true;
        }
    }
    return false;
}

JnlpManifest parseJnlpManifest(std::string_view text, const JnlpPlatform& platform) {
    JnlpManifest manifest;
    manifest.codebase = codebaseOf(text);
    const std::vector<Block> blocks = resourceBlocks(text);
    for (const Block& block : blocks) {
        const std::string os = attributeValue(block.attributes, "os=\"");
        const std::string arch = attributeValue(block.attributes, "arch=\"");
        if (jnlpPlatformMatches(os, platform.os) && jnlpPlatformMatches(arch, platform.arch)) {
            appendJars(block.content, manifest.jars);
        }
    }
    std::string rest;
    std::size_t at = 0;
    for (const Block& block : blocks) {
        rest.append(text.substr(at, block.start - at));
        at = block.end;
    }
    rest.append(text.substr(std::min(at, text.size())));
    std::vector<JnlpJar> outside;
    appendJars(rest, outside);
    for (JnlpJar& jar : outside) {
        const bool listed = std::any_of(manifest.jars.begin(), manifest.jars.end(),
                                        [&](const JnlpJar& known) { return known.href == jar.href; });
        if (!listed) {
            manifest.jars.push_back(std::move(jar));
        }
    }
    return manifest;
}

}  // namespace velk::core::infra::java
