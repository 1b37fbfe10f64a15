#pragma once

#include <climits>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace velk::core {

// One entry of the portal's taxpayer list.
struct Taxpayer {
    std::string name;
    std::string pin;
    std::int32_t pinType = 0;  // IdentifierType code
    std::int64_t tin = 0;
    std::string email;
    std::string authorization;
    bool active = false;
};

// The taxpayer the portal reports as selected.
struct SelectedTaxpayer {
    std::int64_t tin = 0;
    std::string pin;
    std::string tpId;
};

struct ServiceLink {
    std::string id;
    std::string name;
    std::string title;
    std::string link;
    std::string linkType;
    std::int32_t orderNum = INT32_MAX;  // the portal gave no sort number
    std::unordered_map<std::string, std::string> props;
};

struct Service {
    std::string id;
    std::string name;
    std::string title;
    std::vector<ServiceLink> links;
};

struct Category {
    std::string id;
    std::string name;
    std::string title;
    std::vector<Service> services;
};

}  // namespace velk::core
