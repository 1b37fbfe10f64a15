#pragma once

#include <cstdint>
#include <string>

#include "common/JsonUtils.h"

namespace velk::core::infra::portal {

// Member readers for the portal's JSON replies. Each takes the object and the
// member name, never throws, and gives the empty value for a missing member,
// a value of another JSON type, or a value that is not an object. The portal
// is not consistent about types, so each field is read with the strictness
// its users rely on.

// Only a JSON string.
std::string jsonString(const json& value, const char* member);
// A string, or a number in decimal ("%f" for floating point).
std::string jsonText(const json& value, const char* member);
// As jsonText, and a boolean as "true" or "false".
std::string jsonScalarText(const json& value, const char* member);
// An integer, or a floating-point number truncated toward zero.
std::int64_t jsonInt64(const json& value, const char* member);
// Only a JSON boolean.
bool jsonBool(const json& value, const char* member);

// A property value as text: scalars as jsonScalarText reads them, null as "",
// objects and arrays as their compact JSON text.
std::string jsonPropertyText(const json& value);

}  // namespace velk::core::infra::portal
