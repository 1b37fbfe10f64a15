#include "agent/ApplicationLook.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPixmap>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>

#include <clocale>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "agent_startup/QtTestApplication.h"
#include "ui/AgentLogo.h"

namespace velk::agent {
namespace {

// Collects what Qt reports while it lives.
class QtMessages {
public:
    QtMessages() : previous_(qInstallMessageHandler(collect)) { collected().clear(); }
    ~QtMessages() { qInstallMessageHandler(previous_); }
    const std::vector<std::string>& all() const { return collected(); }

private:
    static std::vector<std::string>& collected() {
        static std::vector<std::string> messages;
        return messages;
    }
    static void collect(QtMsgType, const QMessageLogContext&, const QString& message) {
        collected().push_back(message.toStdString());
    }
    QtMessageHandler previous_;
};

template <class Widget>
std::unique_ptr<Widget> withRole(const char* role) {
    auto widget = std::make_unique<Widget>();
    widget->setProperty("role", QString::fromLatin1(role));
    widget->ensurePolished();
    return widget;
}

TEST(ApplicationLookTest, NamesTheApplicationAndKeepsItRunningWithoutWindows) {
    EXPECT_EQ(QApplication::applicationName(), "VELK Agent");
    EXPECT_EQ(QApplication::organizationName(), "Corvessa");
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
}

// The logo is read by Qt's own PNG reader, without image plugins.
TEST(ApplicationLookTest, TheWindowIconIsTheCompiledInLogo) {
    const QPixmap logo = ui::agentLogo();
    ASSERT_FALSE(logo.isNull());
    EXPECT_FALSE(QApplication::windowIcon().pixmap(logo.size()).isNull());
    EXPECT_EQ(QApplication::windowIcon().pixmap(logo.size()).toImage(), logo.toImage());
}

TEST(ApplicationLookTest, UsesSegoeUiDrawnWithDejaVuSans) {
    const QFont font = QApplication::font();
    EXPECT_EQ(font.family(), "Segoe UI");
    EXPECT_EQ(font.pointSize(), 10);
    EXPECT_EQ(font.weight(), QFont::Normal);
    EXPECT_FALSE(font.italic());
    EXPECT_EQ(QFont::substitute("Segoe UI").compare("DejaVu Sans", Qt::CaseInsensitive), 0);
    EXPECT_EQ(QFontInfo(font).family(), "DejaVu Sans");
}

TEST(ApplicationLookTest, HasTheCompiledInIcon) {
    ASSERT_FALSE(QApplication::windowIcon().isNull());
    EXPECT_FALSE(QApplication::windowIcon().pixmap(32, 32).isNull());
}

TEST(ApplicationLookTest, StylesEveryWidgetWithoutAComplaint) {
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(app->styleSheet(), applicationStyleSheet());

    const QtMessages messages;
    const auto title = withRole<QLabel>("title");
    const auto section = withRole<QLabel>("section");
    const auto field = withRole<QLabel>("field");
    const auto plain = withRole<QLabel>("");
    const auto primary = withRole<QPushButton>("primary");
    const auto compact = withRole<QPushButton>("compact");
    const auto hero = withRole<QComboBox>("hero");
    const auto card = withRole<QFrame>("card");
    for (QWidget* widget : std::vector<QWidget*>{new QGroupBox, new QCheckBox, new QListWidget,
                                                 new QStatusBar, new QTableWidget(2, 2), new QProgressBar}) {
        widget->ensurePolished();
        delete widget;
    }
    EXPECT_TRUE(messages.all().empty()) << messages.all().front();

    // The role selectors take effect.
    EXPECT_EQ(title->font().pointSize(), 16);
    EXPECT_TRUE(title->font().bold());
    EXPECT_EQ(section->font().pointSize(), 9);
    EXPECT_TRUE(section->font().bold());
    EXPECT_EQ(section->font().capitalization(), QFont::AllUppercase);
    EXPECT_GT(section->font().letterSpacing(), 0.0);
    EXPECT_EQ(plain->font().pointSize(), 10);
    EXPECT_FALSE(plain->font().bold());
    EXPECT_TRUE(primary->font().bold());
    EXPECT_EQ(compact->font().pointSize(), 9);
    EXPECT_EQ(hero->font().pointSize(), 11);
}

TEST(ApplicationLookTest, NumbersFollowTheCLocaleWhateverTheUser) {
    if (!test::qtApplicationUnderCommaLocale()) {
        GTEST_SKIP() << "no bg_BG.UTF-8 locale on this machine (scripts/setup makes one)";
    }
    // The user's locale stays for everything else.
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), "bg_BG.UTF-8");
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    char text[16];
    std::snprintf(text, sizeof text, "%.1f", 2.5);
    EXPECT_STREQ(text, "2.5");
}

}  // namespace
}  // namespace velk::agent
