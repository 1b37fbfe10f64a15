#include <iostream>

#include "agent/ExportSchemaMode.h"

namespace {

// Until the desktop start-up exists, the export is the agent's only mode.
int printUsage() {
    std::cerr << "Usage: VezoRodarC --export-schema  (writes the OpenAPI document of the local API to "
                 "standard output)"
              << std::endl;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    // Checked before anything else is set up: the export needs no display, no
    // single-instance guard and no log file, and writes only the document to
    // standard output (the log goes to standard error).
    if (velk::agent::wantsSchemaExport(argc, argv)) {
        return velk::agent::runSchemaExport(std::cout, std::cerr);
    }
    return printUsage();
}
