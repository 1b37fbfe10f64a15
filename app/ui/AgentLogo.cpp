#include "ui/AgentLogo.h"

#include <QImage>
#include <QImageReader>

namespace velk::ui {

QPixmap agentLogo() {
    QImageReader reader(QStringLiteral(":/logo.png"), "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

}  // namespace velk::ui
