#pragma once

class QWidget;

namespace velk::ui {

// Sizes the window to its contents and centres it on the primary screen's
// available area (no screen: left where it is).
void centreOnPrimaryScreen(QWidget& window);

}  // namespace velk::ui
