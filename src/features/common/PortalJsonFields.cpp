#include "features/common/PortalJsonFields.h"

#include "common/TextUtils.h"

namespace velk::core::features {

namespace {

const json* member(const json& element, const std::string& key) {
    if (!element.is_object()) {
        return nullptr;
    }
    const auto it = element.find(key);
    return it == element.end() || it->is_null() ? nullptr : &*it;
}

std::string fieldText(const json& element, const std::string& key, int floatPrecision) {
    const json* value = member(element, key);
    if (value == nullptr) {
        return {};
    }
    if (value->is_string()) {
        return value->get<std::string>();
    }
    if (value->is_number_unsigned()) {
        return std::to_string(value->get<std::uint64_t>());
    }
    if (value->is_number_integer()) {
        return std::to_string(value->get<std::int64_t>());
    }
    if (value->is_number_float()) {
        return formatFixed(value->get<double>(), floatPrecision);
    }
    if (value->is_boolean()) {
        return value->get<bool>() ? "true" : "false";
    }
    return dumpCompact(*value);
}

}  // namespace

std::string jsonFieldText(const json& element, const std::string& key) {
    return fieldText(element, key, 2);
}

std::string typeFieldText(const json& element, const std::string& key) {
    return fieldText(element, key, 6);
}

double jsonFieldNumber(const json& element, const std::string& key) {
    const json* value = member(element, key);
    return value != nullptr && value->is_number() ? value->get<double>() : 0.0;
}

}  // namespace velk::core::features
