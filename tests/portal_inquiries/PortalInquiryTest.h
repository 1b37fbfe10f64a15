#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/JsonUtils.h"
#include "fakes/agency/AgencyData.h"
#include "operations/IInquiry.h"
#include "operations/ResultProjection.h"
#include "portal_session/PortalSessionTest.h"

namespace velk::core::features {

// An inquiry run with a session against the fake agency, answered as the web
// application receives it: projected through the inquiry's schema.
class PortalInquiryTest : public infra::portal::PortalSessionTest {
protected:
    static constexpr const char* kPersonEgn = "8001010000";

    json run(const operations::IInquiry& inquiry, const operations::ParamMap& params = {}) {
        result_ = inquiry.run(&session_, params);
        return operations::projectInquiryResult(inquiry.resultSchema(), result_);
    }

    const std::string& meta(const std::string& key) const {
        static const std::string kAbsent = "<absent>";
        const auto it = result_.metadata.find(key);
        return it == result_.metadata.end() ? kAbsent : it->second;
    }

    std::vector<std::string> columnIds() const {
        std::vector<std::string> ids;
        for (const auto& column : result_.columns) {
            ids.push_back(column.id);
        }
        return ids;
    }

    // The queries the portal received on this path, in order.
    std::vector<std::string> queriesTo(const std::string& path) const {
        std::vector<std::string> queries;
        for (const auto& request : portal_.requestsTo(path)) {
            queries.push_back(request.query);
        }
        return queries;
    }

    // Makes the login fail: the portal refuses the validation request.
    void refuseLogin() { portal_.on("GET", "/api/base/taxpayers", test::Reply::json(401, "{}")); }

    operations::InquiryResult result_;
};

}  // namespace velk::core::features
