#pragma once

#include <QPixmap>

namespace velk::ui {

// The agent's logo compiled into the program (":/logo.png"); a null pixmap
// when the program holds none. Read by Qt's own PNG reader alone: asked to
// find the format, Qt would load every image plugin first.
QPixmap agentLogo();

}  // namespace velk::ui
