#pragma once

#include <QDialog>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "server/ISenderPicker.h"

namespace velk::ui {

class GuiLoop;

// How the dialog names who asks for a run: one line of text (controls and
// invisible format characters become blanks), the origin alone when it is a
// web address, "неизвестен" when nothing is known.
QString requesterDisplayText(const std::string& requester);

// How the dialog names the file a run sends: one line of text as above,
// elided in the middle when it is very long.
QString filePathDisplayText(const std::string& filePath);

// The choice of the sender a run is for, which is also the user's
// confirmation of the run. Lives on the GUI thread; the server's request
// threads reach it through post.
class SenderPicker : public QObject, public server::ISenderPicker {
    Q_OBJECT

public:
    // The dialog's result when the user asks for a new sender.
    static constexpr int kCreateNew = 2;

    explicit SenderPicker(GuiLoop& loop);
    SenderPicker();
    SenderPicker(const SenderPicker&) = delete;
    SenderPicker& operator=(const SenderPicker&) = delete;

    // Queued onto this object's thread, unless the event loop has ended; a
    // task still queued when the object or the event loop goes never runs.
    void post(std::function<void()> task) override;

    // From any thread: on the GUI thread the dialog runs directly, from
    // another the call waits for it; nothing chosen once the event loop has
    // ended.
    server::SenderPickResult pickSender(const std::vector<core::SenderProfile>& senders,
                                        const std::string& preselectedId, const std::string& requester,
                                        const std::string& operationName,
                                        const std::string& filePath) override;

    // Cancels the open dialog, if any. On the GUI thread.
    void closeDialog() override;

private:
    GuiLoop& loop_;
    QPointer<QDialog> open_;  // the dialog being shown (the innermost, should calls nest)
};

}  // namespace velk::ui
