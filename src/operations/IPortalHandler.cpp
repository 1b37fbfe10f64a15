#include "operations/IPortalHandler.h"

#include "common/CodeTables.h"
#include "operations/LinkCaptions.h"
#include "operations/PlsUrls.h"

namespace velk::core::operations {

namespace {

std::optional<ServiceLink> linkNamed(const Service& service, const std::string& name) {
    if (name.empty()) {
        return std::nullopt;
    }
    for (const ServiceLink& link : service.links) {
        if (link.name == name) {
            return link;
        }
    }
    return std::nullopt;
}

std::optional<ServiceLink> submitLinkOfYear(const Service& service, std::int32_t year) {
    const std::string yearText = std::to_string(year);
    for (const ServiceLink& link : service.links) {
        if (isSubmitCaption(link) && link.title.find(yearText) != std::string::npos) {
            return link;
        }
    }
    return std::nullopt;
}

// The earlier link wins a tie; a link without a sort number sorts last.
std::optional<ServiceLink> firstSubmitLinkByOrder(const Service& service) {
    const ServiceLink* best = nullptr;
    for (const ServiceLink& link : service.links) {
        if (isSubmitCaption(link) && (best == nullptr || link.orderNum < best->orderNum)) {
            best = &link;
        }
    }
    return best == nullptr ? std::nullopt : std::optional<ServiceLink>(*best);
}

}  // namespace

std::string IPortalHandler::serviceName() const {
    return {};
}

std::string IPortalHandler::submitLinkName() const {
    return {};
}

std::string IPortalHandler::reportLinkName() const {
    return {};
}

std::optional<ServiceLink> IPortalHandler::pickSubmitLink(const Service& service, std::int32_t year) const {
    if (service.links.empty()) {
        return std::nullopt;
    }
    if (year > 0) {
        if (auto link = submitLinkOfYear(service, year)) {
            return link;
        }
    }
    if (auto link = linkNamed(service, submitLinkName())) {
        return link;
    }
    return firstSubmitLinkByOrder(service);
}

std::optional<ServiceLink> IPortalHandler::pickReportLink(const Service& service) const {
    if (auto link = linkNamed(service, reportLinkName())) {
        return link;
    }
    for (const ServiceLink& link : service.links) {
        if (isReportCaption(link)) {
            return link;
        }
    }
    return std::nullopt;
}

std::string IPortalHandler::plsModule() const {
    return {};
}

std::string IPortalHandler::plsModuleFor(const ServiceLink& link) const {
    return plsModuleOf(link, plsModule());
}

std::int32_t IPortalHandler::systemIdFor(const ServiceLink& link) const {
    return systemIdOf(link);
}

}  // namespace velk::core::operations
