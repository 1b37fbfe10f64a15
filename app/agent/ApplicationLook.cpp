#include "agent/ApplicationLook.h"

#include <QApplication>
#include <QFont>
#include <QIcon>

#include <clocale>

#include "ui/AgentLogo.h"

// The compiled-in images live in this static library; Q_INIT_RESOURCE must
// be used outside any namespace.
static void initAgentResources() {
    Q_INIT_RESOURCE(agent);
}

namespace velk::agent {

namespace {

constexpr const char* kFontFamily = "Segoe UI";
// Has the Cyrillic letters every text of the agent needs.
constexpr const char* kFontSubstitute = "DejaVu Sans";
constexpr int kFontPointSize = 10;

constexpr const char* kStyleSheet = R"(
QMainWindow, QDialog { background: #F5F7F5; }
QWidget, QLabel { color: #1E1F22; font-size: 10pt; }

QLabel[role="title"] { color: #1E1F22; font-size: 16pt; font-weight: 700; }
QLabel[role="subtitle"] { color: #5F6470; font-size: 10pt; }
QLabel[role="section"] { color: #325D88; font-size: 9pt; font-weight: 700; letter-spacing: 0.4px;
                         text-transform: uppercase; }
QLabel[role="field"] { color: #5F6470; font-size: 9pt; font-weight: 600; }
QLabel[role="muted"] { color: #808591; font-size: 9pt; }

QFrame[role="card"] { background: #FFFFFF; border: 1px solid #E3E6E3; border-radius: 12px; }
QGroupBox { background: #FFFFFF; border: 1px solid #E3E6E3; border-radius: 12px; margin-top: 18px; }
QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 4px; color: #325D88; font-weight: 700; }

QPushButton { background: #FFFFFF; border: 1px solid #CFD3CF; border-radius: 8px; padding: 9px 18px;
              min-height: 22px; min-width: 110px; }
QPushButton:hover { background: #F8FAF8; }
QPushButton:pressed { background: #EEF1EE; }
QPushButton:disabled { color: #A4A8AC; }
QPushButton[role="primary"] { background: #93C54B; color: #1A2E0B; border: 1px solid #7DA740;
                              font-weight: 700; }
QPushButton[role="primary"]:hover { background: #7DA740; color: #FFFFFF; }
QPushButton[role="primary"]:pressed { background: #6B9036; }
QPushButton[role="primary"]:disabled { background: #D7E7B6; }
QPushButton[role="danger"] { color: #B3261E; border: 1px solid #E8CFCD; }
QPushButton[role="danger"]:hover { background: #FCF3F3; border: 1px solid #B3261E; color: #8A1C16; }
QPushButton[role="compact"] { padding: 6px 12px; min-height: 18px; min-width: 0; font-size: 9pt; }
QPushButton[role="icon"] { padding: 0; min-width: 36px; min-height: 30px; font-size: 12pt; border-radius: 7px; }

QLineEdit, QComboBox, QPlainTextEdit, QTextEdit { background: #FFFFFF; border: 1px solid #CFD3CF;
    border-radius: 8px; padding: 10px 12px; selection-background-color: #E6F6D8; min-height: 24px; }
QLineEdit:focus, QComboBox:focus, QPlainTextEdit:focus, QTextEdit:focus { border: 2px solid #325D88; }
QLineEdit[role="hero"], QComboBox[role="hero"] { font-size: 11pt; padding: 10px 14px; min-height: 28px; }
QComboBox::drop-down { width: 28px; border: none; }
QComboBox::down-arrow { image: url(:/chevron-down.svg); width: 12px; height: 12px; }

QCheckBox::indicator { width: 18px; height: 18px; border: 1px solid #8A9094; border-radius: 4px;
                       background: #FFFFFF; }
QCheckBox::indicator:checked { background: #93C54B; border: 1px solid #7DA740; image: url(:/check.svg); }

QListWidget { background: #FFFFFF; border: 1px solid #E3E6E3; border-radius: 10px; }
QListWidget::item { padding: 10px 12px; border: none; background: #FFFFFF; }
QListWidget::item:alternate { background: #F8FAF8; }
QListWidget::item:hover { background: #F3F7F0; }
QListWidget::item:selected { background: #E6F6D8; color: #1E1F22; }

QStatusBar { background: #93C54B; color: #1A2E0B; border-top: 1px solid #7DA740; }

QTableWidget { gridline-color: #EEF1EE; }
QHeaderView::section { background: #325D88; color: #FFFFFF; font-weight: 700; border: none;
                       padding: 6px 8px; }

QProgressBar { border: 1px solid #E3E6E3; border-radius: 8px; text-align: center; }
QProgressBar::chunk { background: #325D88; border-radius: 8px; }

QScrollBar:vertical { width: 10px; background: transparent; }
QScrollBar:horizontal { height: 10px; background: transparent; }
QScrollBar::handle { background: #CFD3CF; border-radius: 5px; }
QScrollBar::handle:hover { background: #A4A8AC; }
QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }
)";

}  // namespace

QString applicationStyleSheet() {
    return QString::fromUtf8(kStyleSheet);
}

void configureApplication(QApplication& app) {
    // The C library's printf and strtod follow LC_NUMERIC, which the
    // application's creation set from the user's locale (a comma in bg_BG).
    std::setlocale(LC_NUMERIC, "C");

    QApplication::setApplicationName(QStringLiteral("VELK Agent"));
    QApplication::setOrganizationName(QStringLiteral("Corvessa"));
    QApplication::setQuitOnLastWindowClosed(false);

    QFont::insertSubstitution(QString::fromLatin1(kFontFamily), QString::fromLatin1(kFontSubstitute));
    QApplication::setFont(QFont(QString::fromLatin1(kFontFamily), kFontPointSize));

    app.setStyleSheet(applicationStyleSheet());

    initAgentResources();
    QApplication::setWindowIcon(QIcon(ui::agentLogo()));
}

}  // namespace velk::agent
