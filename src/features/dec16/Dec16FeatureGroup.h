#pragma once

namespace velk::core::features::dec16 {

// Shared by the forms 1 and 6 declaration and its portal files inquiry; the
// declaration's display name is the group name too.
inline constexpr const char* kDec16GroupId = "dec16";
inline constexpr const char* kDec16GroupName = "Декларации обр. 1 и 6";

}  // namespace velk::core::features::dec16
