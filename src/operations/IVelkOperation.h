#pragma once

#include <cstdint>
#include <string>

#include "operations/ResultSchema.h"

namespace velk::core::operations {

// What every operation tells about itself. Operation classes hold no data: one
// object is made per request by the registered factory and owned by the caller.
class IVelkOperation {
public:
    virtual ~IVelkOperation() = default;

    virtual std::string typeId() const = 0;
    virtual std::string displayName() const = 0;
    virtual std::string featureGroupId() const = 0;
    virtual std::string featureGroupName() const = 0;
    // An OperationKind; IInquiry and ISubmission fix it, so it always matches
    // the interface the engine casts to.
    virtual std::int32_t kind() const = 0;
    virtual std::int32_t backendKind() const = 0;
    virtual std::int32_t flowKind() const = 0;
    virtual std::string category() const = 0;
    virtual std::string description() const = 0;
    virtual bool requiresSubmissionToken() const;
    // Built afresh on every call; drives the projection, the export and the fixture check.
    virtual ResultSchema resultSchema() const = 0;
};

}  // namespace velk::core::operations
