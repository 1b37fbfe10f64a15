#include "operations/LinkCaptions.h"

#include <array>

#include "common/TextUtils.h"

namespace velk::core::operations {

namespace {

constexpr std::array<std::string_view, 3> kSubmitWords = {"Submit", "Подаване", "Подай"};
constexpr std::array<std::string_view, 5> kReportWords = {"Report", "Submitted", "Резултат", "Подадени",
                                                          "listDocuments"};

template <std::size_t N>
bool titleHoldsAny(const ServiceLink& link, const std::array<std::string_view, N>& words) {
    for (std::string_view word : words) {
        if (containsIgnoreCase(link.title, word)) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool containsIgnoreCase(std::string_view haystack, std::string_view needle) {
    return icontainsAscii(haystack, needle);
}

bool isSubmitCaption(const ServiceLink& link) {
    return titleHoldsAny(link, kSubmitWords);
}

bool isReportCaption(const ServiceLink& link) {
    return titleHoldsAny(link, kReportWords);
}

}  // namespace velk::core::operations
