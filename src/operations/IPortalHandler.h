#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/PortalRecords.h"

namespace velk::core::operations {

// Second interface of the operations that work through the agency's web
// portal: which service and links the portal session selects for them, and
// which PLS module their pages live in.
class IPortalHandler {
public:
    virtual ~IPortalHandler() = default;

    // Key of the service in the portal catalogue, compared byte for byte.
    virtual std::string serviceName() const;
    virtual std::string submitLinkName() const;
    virtual std::string reportLinkName() const;
    // year: 0 when none.
    virtual std::optional<ServiceLink> pickSubmitLink(const Service& service, std::int32_t year) const;
    virtual std::optional<ServiceLink> pickReportLink(const Service& service) const;
    virtual std::string plsModule() const;
    virtual std::string plsModuleFor(const ServiceLink& link) const;
    virtual std::int32_t systemIdFor(const ServiceLink& link) const;
};

}  // namespace velk::core::operations
