#pragma once

#include <optional>
#include <string>

#include "infrastructure/portal/RestSubmissionExecutor.h"
#include "operations/OperationRecords.h"

namespace velk::core::features {

// What the declarations filed through the agency's REST API share.

// The declaration's own message when the session has no signer or the
// sender no API key (the signer is examined first); none when both are there.
std::optional<std::string> restFilingRefusal(infra::portal::NapSession& session, const std::string& noSigner,
                                             const std::string& noApiKey);

// Files the one file through the production REST API with the session's
// signer and the sender's API key, whatever the settings name.
operations::SubmissionResult submitRestFile(infra::portal::NapSession& session, const std::string& filePath,
                                            const operations::ParamMap& params,
                                            const infra::portal::RestSubmissionConfig& config);

// success false with the message and nothing else.
operations::SubmissionResult refusedSubmission(std::string message);

}  // namespace velk::core::features
