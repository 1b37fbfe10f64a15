#include "features/common/RestResultDescription.h"

#include "common/AgencyEndpoints.h"

namespace velk::core::features {

std::string restResultDescription(const std::string& subject) {
    return subject + std::string(AgencyEndpoints::kRestResultUrl) +
           ". Изисква documentId върнат от submit операцията плюс ЕИК на данъчно задълженото лице.";
}

}  // namespace velk::core::features
