#include "features/common/IncomeStatements.h"

#include <string_view>

#include "features/common/CommonParams.h"

namespace velk::core::features {

std::vector<operations::ParamSpec> incomeStatementParams() {
    return {eikParam(true), yearParam(true)};
}

std::string linkDocumentsUrl(std::string listDocumentsUrl) {
    constexpr std::string_view kListPage = ".listDocuments";
    constexpr std::string_view kLinkPage = ".linkDocuments";
    const std::size_t at = listDocumentsUrl.find(kListPage);
    if (at != std::string::npos) {
        listDocumentsUrl.replace(at, kListPage.size(), kLinkPage);
    }
    return listDocumentsUrl;
}

}  // namespace velk::core::features
