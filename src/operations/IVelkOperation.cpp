#include "operations/IVelkOperation.h"

namespace velk::core::operations {

bool IVelkOperation::requiresSubmissionToken() const {
    return true;
}

}  // namespace velk::core::operations
