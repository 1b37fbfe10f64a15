#pragma once

#include <string>
#include <vector>

#include "engine/ISettingsProvider.h"
#include "server/GuiThreadObject.h"

namespace velk::server {

struct SenderPickResult {
    std::string id;          // empty when the user cancelled
    bool remember = false;   // make the chosen sender the active one
    bool createNew = false;  // the user asked to add a new sender
};

// The modal choice of the sender a run is for, which also serves as the
// user's confirmation of the run.
class ISenderPicker : public GuiThreadObject {
public:
    // On the GUI thread. requester is who asks for the run (the web page's
    // origin, possibly empty), shown beside the operation's name, and so is
    // filePath, the file the run reads and sends (empty: none): with the
    // local API open to every origin this dialog is what stands between a
    // web page and a filing. An empty list returns at once with nothing set.
    virtual SenderPickResult pickSender(const std::vector<core::SenderProfile>& senders,
                                        const std::string& preselectedId, const std::string& requester,
                                        const std::string& operationName, const std::string& filePath) = 0;
};

}  // namespace velk::server
