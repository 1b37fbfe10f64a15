#pragma once

#include <chrono>
#include <vector>

#include "operations/IVelkOperation.h"
#include "operations/NapSessionFwd.h"
#include "operations/OperationRecords.h"

namespace velk::core::operations {

// A read-only operation: it reports failures in the result's metadata, never
// by throwing or by a return code.
class IInquiry : public IVelkOperation {
public:
    std::int32_t kind() const final;
    std::string category() const override;

    virtual std::vector<ParamSpec> params() const = 0;
    // The engine never passes a null session.
    virtual InquiryResult run(infra::portal::NapSession* session, const ParamMap& params) const = 0;
    // Demo data of the operation's own schema; the params are ignored.
    virtual InquiryResult testFixture(const ParamMap& params) const;
    virtual std::chrono::seconds cacheTtl() const;
};

}  // namespace velk::core::operations
