#include "infrastructure/portal/PortalJsonReaders.h"

#include <cmath>
#include <limits>

#include "common/TextUtils.h"

namespace velk::core::infra::portal {

namespace {

const json* member(const json& value, const char* name) {
    if (!value.is_object()) {
        return nullptr;
    }
    const auto it = value.find(name);
    return it == value.end() ? nullptr : &*it;
}

std::string numberText(const json& number) {
    if (number.is_number_unsigned()) {
        return std::to_string(number.get<std::uint64_t>());
    }
    if (number.is_number_integer()) {
        return std::to_string(number.get<std::int64_t>());
    }
    return formatFixed(number.get<double>(), 6);
}

}  // namespace

std::string jsonString(const json& value, const char* name) {
    const json* m = member(value, name);
    return m != nullptr && m->is_string() ? m->get<std::string>() : std::string();
}

std::string jsonText(const json& value, const char* name) {
    const json* m = member(value, name);
    if (m == nullptr) {
        return {};
    }
    if (m->is_string()) {
        return m->get<std::string>();
    }
    return m->is_number() ? numberText(*m) : std::string();
}

std::string jsonScalarText(const json& value, const char* name) {
    const json* m = member(value, name);
    if (m != nullptr && m->is_boolean()) {
        return m->get<bool>() ? "true" : "false";
    }
    return jsonText(value, name);
}

std::int64_t jsonInt64(const json& value, const char* name) {
    const json* m = member(value, name);
    if (m == nullptr) {
        return 0;
    }
    if (m->is_number_unsigned()) {
        return static_cast<std::int64_t>(m->get<std::uint64_t>());
    }
    if (m->is_number_integer()) {
        return m->get<std::int64_t>();
    }
    if (m->is_number_float()) {
        // Outside the 64-bit range the conversion is undefined; such a value
        // is no taxpayer number anyway.
        const double truncated = std::trunc(m->get<double>());
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        if (std::isfinite(truncated) && truncated >= -kLimit && truncated < kLimit) {
            return static_cast<std::int64_t>(truncated);
        }
    }
    return 0;
}

bool jsonBool(const json& value, const char* name) {
    const json* m = member(value, name);
    return m != nullptr && m->is_boolean() && m->get<bool>();
}

std::string jsonPropertyText(const json& value) {
    if (value.is_string()) {
        return value.get<std::string>();
    }
    if (value.is_boolean()) {
        return value.get<bool>() ? "true" : "false";
    }
    if (value.is_number()) {
        return numberText(value);
    }
    if (value.is_object() || value.is_array()) {
        return dumpCompact(value);
    }
    return {};
}

}  // namespace velk::core::infra::portal
