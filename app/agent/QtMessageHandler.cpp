#include "agent/QtMessageHandler.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/Logger.h"
#include "common/TextUtils.h"

namespace velk::agent {

namespace {

// Qt 5 names the category of every uncategorised message "default".
bool isNamedCategory(const char* category) {
    return category != nullptr && category[0] != '\0' && std::strcmp(category, "default") != 0;
}

std::string logText(const QMessageLogContext& context, const QString& message) {
    std::string text =
        isNamedCategory(context.category) ? "qt[" + std::string(context.category) + "] " : "qt: ";
    // A message of several lines stays one log line.
    text += core::escapeControlBytes(message.toStdString());
    return text;
}

}  // namespace

void qtMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    switch (type) {
        case QtDebugMsg:
            core::logLine(core::LogLevel::Debug, logText(context, message));
            return;
        case QtInfoMsg:
            core::logLine(core::LogLevel::Info, logText(context, message));
            return;
        case QtWarningMsg:
            core::logLine(core::LogLevel::Warn, logText(context, message));
            return;
        case QtCriticalMsg:
            core::logLine(core::LogLevel::Error, logText(context, message));
            return;
        case QtFatalMsg:
            core::logLine(core::LogLevel::Error, logText(context, message));
            core::flushLog();
            std::abort();
    }
}

void installQtMessageHandler() {
    qInstallMessageHandler(qtMessageHandler);
}

}  // namespace velk::agent
