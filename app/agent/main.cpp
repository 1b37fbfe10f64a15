#include <iostream>

#include "agent/DesktopStartup.h"
#include "agent/ExportSchemaMode.h"

int main(int argc, char** argv) {
    // Checked before anything else is set up: the export needs no display, no
    // single-instance guard and no log file, and writes only the document to
    // standard output (the log goes to standard error).
    if (velk::agent::wantsSchemaExport(argc, argv)) {
        return velk::agent::runSchemaExport(std::cout, std::cerr);
    }
    return velk::agent::runDesktopAgent(argc, argv);
}
