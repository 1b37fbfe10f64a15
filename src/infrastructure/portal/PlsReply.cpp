#include "infrastructure/portal/PlsReply.h"

#include <array>

#include "infrastructure/http/HtmlHelpers.h"

namespace velk::core::infra::portal {

namespace {

constexpr std::array<std::string_view, 7> kRefusalWords = {
    "неуспешно", "не е приет", "не са приети", "неприет", "отхвърлен", "грешка", "error",
};
constexpr std::array<std::string_view, 3> kAcceptanceWords = {"успешно", "приет", "success"};

template <std::size_t N>
bool containsAny(std::string_view text, const std::array<std::string_view, N>& words) {
    for (std::string_view word : words) {
        if (text.find(word) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

PlsReplyVerdict classifyWords(std::string_view text) {
    const std::string lowered = toLowerCyrillic(std::string(text));
    if (containsAny(lowered, kRefusalWords)) {
        return PlsReplyVerdict::Failed;
    }
    if (containsAny(lowered, kAcceptanceWords)) {
        return PlsReplyVerdict::Accepted;
    }
    return PlsReplyVerdict::Unrecognised;
}

}  // namespace

PlsReplyVerdict classifyPlsReply(std::string_view page) {
    const PlsReplyVerdict shown = classifyWords(http::htmlVisibleText(page));
    return shown != PlsReplyVerdict::Unrecognised ? shown : classifyWords(http::htmlWithoutHiddenParts(page));
}

std::string toLowerCyrillic(std::string text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            if (lead >= 'A' && lead <= 'Z') {
                text[i] = static_cast<char>(lead - 'A' + 'a');
            }
            i += 1;
        } else if (lead == 0xD0) {
            if (i + 1 < text.size()) {
                const auto second = static_cast<unsigned char>(text[i + 1]);
                if (second >= 0x90 && second <= 0x9F) {  // А-П to а-п
                    text[i + 1] = static_cast<char>(second + 0x20);
                } else if (second >= 0xA0 && second <= 0xAF) {  // Р-Я to р-я
                    text[i] = static_cast<char>(0xD1);
                    text[i + 1] = static_cast<char>(second - 0x20);
                }
            }
            i += 2;
        } else if ((lead & 0xE0) == 0xC0) {
            i += 2;
        } else if ((lead & 0xF0) == 0xE0) {
            i += 3;
        } else if ((lead & 0xF8) == 0xF0) {
            i += 4;
        } else {
            i += 1;
        }
    }
    return text;
}

}  // namespace velk::core::infra::portal
