#include "operations/IInquiry.h"

#include "operations/TestFixtures.h"

namespace velk::core::operations {

std::int32_t IInquiry::kind() const {
    return static_cast<std::int32_t>(OperationKind::Inquiry);
}

std::string IInquiry::category() const {
    return "Справки";
}

InquiryResult IInquiry::testFixture(const ParamMap& /*params*/) const {
    return demoInquiryResult(resultSchema());
}

std::chrono::seconds IInquiry::cacheTtl() const {
    return std::chrono::seconds{3600};
}

}  // namespace velk::core::operations
