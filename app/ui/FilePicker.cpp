#include "ui/FilePicker.h"

#include <QFileDialog>
#include <QUrl>

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
        [this, startDir, filter] {
            const QString filters = filter.isEmpty() ? tr("All files (*.*)") : filter;
            QFileDialog dialog(nullptr, tr("Избери файл"), startDir, filters);
            dialog.setFileMode(QFileDialog::ExistingFile);
            return run(dialog);
        },
        QString());
}

QString FilePicker::pickFolder(const QString& startDir) {
    return loop_.call<QString>(
        this,
        [this, startDir] {
            QFileDialog dialog(nullptr, tr("Избери папка"), startDir);
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
            return run(dialog);
        },
        QString());
}

// As QFileDialog's own static functions do it, with the dialog at hand so
// that closeDialog can reach it.
QString FilePicker::run(QFileDialog& dialog) {
    dialog.setSupportedSchemes({QStringLiteral("file")});
    const QPointer<QFileDialog> outer = open_;
    open_ = &dialog;
    const int result = dialog.exec();
    open_ = outer;
    if (result != QDialog::Accepted) {
        return {};
    }
    const QUrl chosen = dialog.selectedUrls().value(0);
    return chosen.isLocalFile() || chosen.isEmpty() ? chosen.toLocalFile() : chosen.toString();
}

void FilePicker::closeDialog() {
    if (open_ != nullptr) {
        open_->reject();
    }
}

}  // namespace velk::ui
