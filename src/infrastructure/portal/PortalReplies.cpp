#include "infrastructure/portal/PortalReplies.h"

#include <string>

#include "common/CodeTables.h"
#include "common/TextUtils.h"
#include "infrastructure/portal/PortalJsonReaders.h"

namespace velk::core::infra::portal {

namespace {

// The localised caption when the portal gives one, else the plain one.
std::string caption(const json& value, const char* localised, const char* plain) {
    std::string text = jsonScalarText(value, localised);
    return text.empty() ? jsonScalarText(value, plain) : text;
}

const json* arrayMember(const json& value, const char* name) {
    if (!value.is_object()) {
        return nullptr;
    }
    const auto it = value.find(name);
    return it != value.end() && it->is_array() ? &*it : nullptr;
}

ServiceLink readLink(const json& element) {
    ServiceLink link;
    link.id = jsonScalarText(element, "id");
    link.name = jsonScalarText(element, "name");
    link.title = caption(element, "i18nName", "title");
    link.link = jsonScalarText(element, "link");
    link.linkType = jsonScalarText(element, "linkType");
    if (element.is_object()) {
        // Only a JSON integer is a sort number; 3.0 or "3" leave the default.
        const auto order = element.find("orderNum");
        if (order != element.end() && order->is_number_integer()) {
            link.orderNum = static_cast<std::int32_t>(
                order->is_number_unsigned() ? static_cast<std::int64_t>(order->get<std::uint64_t>())
                                            : order->get<std::int64_t>());
        }
        const auto props = element.find("props");
        if (props != element.end() && props->is_object()) {
            for (const auto& [key, value] : props->items()) {
                link.props.emplace(key, jsonPropertyText(value));
            }
        }
    }
    return link;
}

Service readService(const json& element) {
    Service service;
    service.id = jsonScalarText(element, "id");
    service.name = jsonScalarText(element, "name");
    service.title = caption(element, "i18nTitle", "title");
    if (const json* links = arrayMember(element, "links")) {
        for (const json& link : *links) {
            service.links.push_back(readLink(link));
        }
    }
    return service;
}

Category readCategory(const json& element) {
    Category category;
    category.id = jsonScalarText(element, "id");
    category.name = jsonScalarText(element, "name");
    category.title = caption(element, "i18nTitle", "title");
    if (const json* services = arrayMember(element, "services")) {
        for (const json& service : *services) {
            category.services.push_back(readService(service));
        }
    }
    return category;
}

}  // namespace

std::int32_t pinTypeFromText(std::string_view text) {
    const std::string lower = asciiLower(text);
    if (lower == "eik" || lower == "bus_bulstat") {
        return code(IdentifierType::BUS_BULSTAT);
    }
    if (lower == "egn" || lower == "ind_egn") {
        return code(IdentifierType::IND_EGN);
    }
    if (lower == "ind_bulstat") {
        return code(IdentifierType::IND_BULSTAT);
    }
    if (lower == "ind_lnch") {
        return code(IdentifierType::IND_LNCH);
    }
    if (lower == "ind_slno") {
        return code(IdentifierType::IND_SLNO);
    }
    return 0;
}

Taxpayer readTaxpayer(const json& element) {
    Taxpayer taxpayer;
    taxpayer.name = jsonString(element, "name");
    taxpayer.pin = jsonString(element, "pin");
    taxpayer.pinType = pinTypeFromText(jsonString(element, "pinType"));
    taxpayer.tin = jsonInt64(element, "tin");
    taxpayer.email = jsonString(element, "email");
    taxpayer.authorization = jsonString(element, "authorization");
    taxpayer.active = jsonBool(element, "active");
    return taxpayer;
}

std::vector<Category> readCatalogue(const json& array) {
    std::vector<Category> categories;
    for (const json& element : array) {
        categories.push_back(readCategory(element));
    }
    return categories;
}

}  // namespace velk::core::infra::portal
