#include "infrastructure/java/ValidationErrors.h"

#include <algorithm>
#include <string_view>

#include "infrastructure/java/BridgeLimits.h"
#include "infrastructure/java/BridgeText.h"

namespace velk::core::infra::java {

namespace {

constexpr std::size_t kMaxErrorStreamLines = 10;

}  // namespace

std::vector<std::string> collectValidationErrors(const std::vector<std::string>& outputLines,
                                                 const std::string& errorText, int exitCode) {
    std::vector<std::string> errors;
    for (const std::string& line : outputLines) {
        const std::string text = resultText(trim(line));
        if (text.empty() || isNoiseLine(text) ||
            std::find(errors.begin(), errors.end(), text) != errors.end()) {
            continue;
        }
        if (errors.size() == kMaxResultTexts) {
            break;
        }
        errors.push_back(text);
    }
    if (errors.empty() && !errorText.empty()) {
        std::string_view rest = errorText;
        while (!rest.empty() && errors.size() < kMaxErrorStreamLines) {
            const std::size_t lineFeed = rest.find('\n');
            const std::string text = resultText(trim(rest.substr(0, lineFeed)));
            if (!text.empty()) {
                errors.push_back(text);
            }
            if (lineFeed == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(lineFeed + 1);
        }
    }
    if (errors.empty()) {
        errors.push_back("Валидацията се провали (код " + std::to_string(exitCode) +
                         "). Виж VezoRodarC.log за пълен изход от Java.");
    }
    return errors;
}

}  // namespace velk::core::infra::java
