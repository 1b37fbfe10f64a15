#pragma once

#include <string>
#include <utility>

#include "operations/IPortalHandler.h"

namespace velk::test {

// A portal handler that names a service and its links and keeps the
// default link choice.
class TestPortalHandler : public core::operations::IPortalHandler {
public:
    explicit TestPortalHandler(std::string service, std::string submitLink = {}, std::string reportLink = {})
        : service_(std::move(service)),
          submitLink_(std::move(submitLink)),
          reportLink_(std::move(reportLink)) {}

    std::string serviceName() const override { return service_; }
    std::string submitLinkName() const override { return submitLink_; }
    std::string reportLinkName() const override { return reportLink_; }

private:
    std::string service_;
    std::string submitLink_;
    std::string reportLink_;
};

}  // namespace velk::test
