// The floor of the agent's start and idle memory: a bare Qt 5 widgets program
// with a tray icon and nothing else. It writes "ready" once its event loop
// runs and stays until it is ended.
#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    app.setQuitOnLastWindowClosed(false);
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::darkGreen);
    QSystemTrayIcon tray{QIcon(pixmap)};
    tray.setToolTip("bare");
    tray.show();
    QTimer::singleShot(0, [] {
        std::puts("ready");
        std::fflush(stdout);
    });
    return app.exec();
}
