#include "features/common/RestFiling.h"

#include <utility>

#include "common/AgencyEndpoints.h"
#include "infrastructure/portal/NapSession.h"

namespace velk::core::features {

std::optional<std::string> restFilingRefusal(infra::portal::NapSession& session, const std::string& noSigner,
                                             const std::string& noApiKey) {
    if (session.signer() == nullptr) {
        return noSigner;
    }
    if (session.identity().apiKey.empty()) {
        return noApiKey;
    }
    return std::nullopt;
}

operations::SubmissionResult submitRestFile(infra::portal::NapSession& session, const std::string& filePath,
                                            const operations::ParamMap& params,
                                            const infra::portal::RestSubmissionConfig& config) {
    infra::portal::RestSubmissionExecutor executor(
        session, *session.signer(), std::string(AgencyEndpoints::kRestSubmitUrl),
        std::string(AgencyEndpoints::kRestResultUrl), session.identity().apiKey, config);
    return executor.submitFile(filePath, params);
}

operations::SubmissionResult refusedSubmission(std::string message) {
    operations::SubmissionResult result;
    result.errorMessage = std::move(message);
    return result;
}

}  // namespace velk::core::features
