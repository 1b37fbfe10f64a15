#pragma once

#include <QObject>

#include <functional>
#include <string>

#include "server/IFilePicker.h"

namespace velk::ui {

// The file and folder choice the local API asks for. Lives on the GUI thread;
// the server's request threads reach it only through post.
//
// The dialogs are not built yet: until they are, every pick answers as a
// cancel (the empty path).
class FilePicker : public QObject, public server::IFilePicker {
    Q_OBJECT

public:
    FilePicker() = default;
    FilePicker(const FilePicker&) = delete;
    FilePicker& operator=(const FilePicker&) = delete;

    // Queued onto this object's thread; a task still queued when the object
    // or the event loop goes is dropped unrun.
    void post(std::function<void()> task) override;

    std::string pickFile(const std::string& startDir, const std::string& filter) override;
    std::string pickFolder(const std::string& startDir) override;
};

}  // namespace velk::ui
