#pragma once

namespace velk::test {

// Whether the process's Qt application was made under a locale whose decimal
// separator is a comma (bg_BG.UTF-8), when the machine has one.
bool qtApplicationUnderCommaLocale();

}  // namespace velk::test
