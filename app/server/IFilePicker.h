#pragma once

#include <string>

#include "server/GuiThreadObject.h"

namespace velk::server {

// The system's file and folder dialogs. Both run on the GUI thread and return
// the empty text when the user cancels.
class IFilePicker : public GuiThreadObject {
public:
    // An empty filter means every file.
    virtual std::string pickFile(const std::string& startDir, const std::string& filter) = 0;
    virtual std::string pickFolder(const std::string& startDir) = 0;
};

}  // namespace velk::server
