#pragma once

#include <ostream>

#include "operations/OperationRegistry.h"

namespace velk::agent {

// Whether any argument after the program name is exactly "--export-schema";
// with it every other argument is ignored.
bool wantsSchemaExport(int argc, const char* const* argv);

// The build-time export: the fixture check of every registered operation, then
// the OpenAPI document of the local API on `out`. Returns the process exit
// code: 0 with the document written, 2 with the problems on `err` and nothing
// on `out`. Needs no display and no Qt object.
int runSchemaExport(
    std::ostream& out, std::ostream& err,
    const core::operations::OperationRegistry& registry = core::operations::OperationRegistry::instance());

}  // namespace velk::agent
