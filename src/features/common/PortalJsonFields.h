#pragma once

#include <string>

#include "common/JsonUtils.h"

namespace velk::core::features {

// Readers of one member of a portal JSON object as a result cell. A missing
// member, null, or an element that is not an object give the empty text;
// strings stay as sent, integers are plain decimals, booleans "true"/"false",
// objects and arrays their compact JSON. They differ only in how a
// floating-point number is written, always in the "C" locale.

// Floating point "%.2f": the amounts of the debts and payments (12.5 -> 12.50).
std::string jsonFieldText(const json& element, const std::string& key);
// Floating point "%f": the reference table of types (3.0 -> 3.000000).
std::string typeFieldText(const json& element, const std::string& key);

// The member as a number when it is a JSON number, else 0: an amount sent as
// a string shows in its cell but adds nothing to a total.
double jsonFieldNumber(const json& element, const std::string& key);

}  // namespace velk::core::features
