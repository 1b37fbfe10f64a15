#pragma once

#include <QFileDialog>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <string>

#include "server/IFilePicker.h"

namespace velk::ui {

class GuiLoop;

// The file and folder choice the local API asks for. Lives on the GUI thread;
// the server's request threads reach it through post. Paths are UTF-8; an
// empty path means the user cancelled.
class FilePicker : public QObject, public server::IFilePicker {
    Q_OBJECT

public:
    explicit FilePicker(GuiLoop& loop);
    FilePicker();
    FilePicker(const FilePicker&) = delete;
    FilePicker& operator=(const FilePicker&) = delete;

    // Queued onto this object's thread, unless the event loop has ended; a
    // task still queued when the object or the event loop goes never runs.
    void post(std::function<void()> task) override;

    // From any thread: on the GUI thread the dialog runs directly, from
    // another the call waits for it; empty once the event loop has ended.
    std::string pickFile(const std::string& startDir, const std::string& filter) override;
    std::string pickFolder(const std::string& startDir) override;

    // Cancels the open dialog, if any. On the GUI thread.
    void closeDialog() override;

public slots:
    QString pickFolder(const QString& startDir);
    QString pickFile(const QString& startDir, const QString& filter);

private:
    // Runs the dialog on this thread; the empty path unless accepted.
    QString run(QFileDialog& dialog);

    GuiLoop& loop_;
    QPointer<QFileDialog> open_;  // the dialog being shown (the innermost, should calls nest)
};

}  // namespace velk::ui
