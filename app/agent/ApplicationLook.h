#pragma once

#include <QString>

class QApplication;

namespace velk::agent {

// Sets up the Qt application the way the agent runs it: its names, no quit
// when the last window closes (the agent lives in the tray), the application
// font (Segoe UI 10 pt, drawn with DejaVu Sans where Segoe UI is missing),
// the one style sheet and the window icon. Also puts the C library's number
// format back to "C", which the application's creation set to the user's.
void configureApplication(QApplication& app);

// The style sheet of every window and dialog; widgets choose their look with
// the dynamic property "role".
QString applicationStyleSheet();

}  // namespace velk::agent
