#pragma once

#include <QString>
#include <QtGlobal>

namespace velk::agent {

// Forwards Qt's own messages into the agent's log: "qt[category] message" for
// a named category, "qt: message" for Qt's default one; debug, info, warning
// and critical map to DEBUG, INFO, WARN and ERROR. A fatal message is logged
// at ERROR, the log is flushed and the process aborts.
void qtMessageHandler(QtMsgType type, const QMessageLogContext& context, const QString& message);

// Makes qtMessageHandler the process's Qt message handler.
void installQtMessageHandler();

}  // namespace velk::agent
