#pragma once

#include <string>
#include <vector>

namespace velk::core::infra::java {

// The error texts of a failed validation run: the validator's output lines
// (trimmed, without blanks, noise and repeats, in order of first
// appearance); else up to ten lines of its error stream; else one text that
// names the exit code.
std::vector<std::string> collectValidationErrors(const std::vector<std::string>& outputLines,
                                                 const std::string& errorText, int exitCode);

}  // namespace velk::core::infra::java
