#pragma once

#include "operations/ResultSchema.h"

namespace velk::core::operations {

// Result schemas of the inquiries whose results the operation core describes.
// Each call builds the schema afresh.
ResultSchema debtPaymentsResultSchema();
ResultSchema debtPaymentsTypesResultSchema();
ResultSchema napCatalogResultSchema();
ResultSchema taxpayersResultSchema();
ResultSchema vatFilesParseResultSchema();
ResultSchema vatMonthlyFilesResultSchema();
ResultSchema vatValidationResultSchema();

}  // namespace velk::core::operations
