#pragma once

#include <QObject>

#include <functional>
#include <string>
#include <vector>

#include "server/ISenderPicker.h"

namespace velk::ui {

// The choice of the sender a run is for, which is also the user's
// confirmation of the run. Lives on the GUI thread; the server's request
// threads reach it only through post.
//
// The dialog is not built yet: until it is, every request is answered as if
// the user had cancelled, so no real run goes ahead unconfirmed.
class SenderPicker : public QObject, public server::ISenderPicker {
    Q_OBJECT

public:
    SenderPicker() = default;
    SenderPicker(const SenderPicker&) = delete;
    SenderPicker& operator=(const SenderPicker&) = delete;

    // Queued onto this object's thread; a task still queued when the object
    // or the event loop goes is dropped unrun.
    void post(std::function<void()> task) override;

    server::SenderPickResult pickSender(const std::vector<core::SenderProfile>& senders,
                                        const std::string& preselectedId, const std::string& requester,
                                        const std::string& operationName) override;
};

}  // namespace velk::ui
