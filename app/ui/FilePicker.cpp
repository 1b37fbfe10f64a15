#include "ui/FilePicker.h"

#include <QMetaObject>

namespace velk::ui {

void FilePicker::post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

std::string FilePicker::pickFile(const std::string&, const std::string&) {
    return {};
}

std::string FilePicker::pickFolder(const std::string&) {
    return {};
}

}  // namespace velk::ui
