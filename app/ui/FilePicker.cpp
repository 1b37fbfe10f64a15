#include "ui/FilePicker.h"

#include <QFileDialog>

#include "ui/GuiLoop.h"

namespace velk::ui {

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

std::string toUtf8(const QString& text) {
    return text.toUtf8().toStdString();
}

}  // namespace

FilePicker::FilePicker(GuiLoop& loop) : loop_(loop) {}

FilePicker::FilePicker() : FilePicker(GuiLoop::application()) {}

void FilePicker::post(std::function<void()> task) {
    loop_.post(this, std::move(task));
}

std::string FilePicker::pickFile(const std::string& startDir, const std::string& filter) {
    return toUtf8(pickFile(fromUtf8(startDir), fromUtf8(filter)));
}

std::string FilePicker::pickFolder(const std::string& startDir) {
    return toUtf8(pickFolder(fromUtf8(startDir)));
}

QString FilePicker::pickFile(const QString& startDir, const QString& filter) {
    return loop_.call<QString>(
        this,
        [startDir, filter] {
            const QString filters = filter.isEmpty() ? tr("All files (*.*)") : filter;
            return QFileDialog::getOpenFileName(nullptr, tr("Избери файл"), startDir, filters);
        },
        QString());
}

QString FilePicker::pickFolder(const QString& startDir) {
    return loop_.call<QString>(
        this,
        [startDir] {
            return QFileDialog::getExistingDirectory(
                nullptr, tr("Избери папка"), startDir,
                QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
        },
        QString());
}

}  // namespace velk::ui
