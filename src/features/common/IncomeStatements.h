#pragma once

#include <string>
#include <vector>

#include "operations/OperationRecords.h"

namespace velk::core::features {

// What the two income statements under art. 73 share.
std::vector<operations::ParamSpec> incomeStatementParams();

// Their listing of submitted documents is the "linkDocuments" page of the
// default listing URL: the first ".listDocuments" is replaced.
std::string linkDocumentsUrl(std::string listDocumentsUrl);

}  // namespace velk::core::features
