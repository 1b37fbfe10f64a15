#include "ui/SenderPicker.h"

#include <QCheckBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFont>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include <utility>

#include "ui/DialogPlacement.h"
#include "ui/ElidedLabel.h"
#include "ui/GuiLoop.h"

namespace velk::ui {

namespace {

constexpr int kIdRole = Qt::UserRole + 1;
// Far more than any origin; the rest of an oversized header is not shown.
constexpr int kMaxRequesterChars = 2048;
// Far more than any path; the middle of a longer one is not shown.
constexpr int kMaxFilePathChars = 4096;

// What the dialog needs of a sender; the rest of the profile (its API key)
// stays with the caller.
struct SenderEntry {
    QString id;
    QString name;
};

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

bool invisibleOrBreaking(QChar ch) {
    switch (ch.category()) {
        case QChar::Other_Control:
        case QChar::Other_Format:  // also the bidirectional overrides
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            return false;
    }
}

// Controls and invisible or line-breaking characters become blanks, so the
// text shows as one line of what it holds.
QString oneLine(QString text) {
    for (QChar& ch : text) {
        if (invisibleOrBreaking(ch)) {
            ch = QLatin1Char(' ');
        }
    }
    return text;
}

// One line of plain text with the full text kept for elision: the middle
// goes when the window is narrow.
ElidedLabel* addDetailLine(QVBoxLayout* layout, QDialog* dialog, const QString& text, const char* name) {
    auto* line = new ElidedLabel(text, dialog);
    line->setObjectName(QLatin1String(name));
    line->setProperty("role", QStringLiteral("muted"));
    layout->addWidget(line);
    return line;
}

// The dialog itself; its result is QDialog::Accepted, Rejected or kCreateNew.
class SenderDialog : public QDialog {
public:
    SenderDialog(const std::vector<SenderEntry>& senders, const QString& activeId, const QString& requester,
                 const QString& operationName, const QString& filePath) {
        setWindowTitle(QStringLiteral("VELK Agent — Избор на подател"));
        setModal(true);
        setMinimumSize(520, 360);
        setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(24, 20, 24, 20);
        layout->setSpacing(10);

        auto* heading = new QLabel(QStringLiteral("Избор на подател"), this);
        QFont headingFont = heading->font();
        headingFont.setPointSize(headingFont.pointSize() + 3);
        headingFont.setBold(true);
        heading->setFont(headingFont);
        layout->addWidget(heading);

        if (!operationName.isEmpty()) {
            auto* operation = new QLabel(QStringLiteral("Операция: %1").arg(operationName), this);
            operation->setTextFormat(Qt::PlainText);
            operation->setStyleSheet(QStringLiteral("color:#555;"));
            operation->setWordWrap(true);
            layout->addWidget(operation);
        }

        // Who asks: with the local API open to every web page, this line is
        // how the user tells a run they started from one they did not.
        addDetailLine(layout, this, QStringLiteral("Заявител: %1").arg(requester), "requester");
        // The file the run signs and sends whole, named by the page.
        if (!filePath.isEmpty()) {
            addDetailLine(layout, this, QStringLiteral("Файл: %1").arg(filePath), "filePath");
        }

        auto* line = new QFrame(this);
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        layout->addWidget(line);

        auto* prompt = new QLabel(QStringLiteral("Изберете подател:"), this);
        prompt->setStyleSheet(QStringLiteral("color:#555;"));
        layout->addWidget(prompt);

        list_ = new QListWidget(this);
        list_->setAlternatingRowColors(true);
        list_->setSelectionMode(QAbstractItemView::SingleSelection);
        // A long name ends in "…" instead of a sideways scroll.
        list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        list_->setTextElideMode(Qt::ElideRight);
        int activeRow = 0;
        for (const SenderEntry& sender : senders) {
            auto* item = new QListWidgetItem(sender.name.isEmpty() ? sender.id : sender.name, list_);
            item->setData(kIdRole, sender.id);
            if (sender.id == activeId) {
                activeRow = list_->count() - 1;
            }
        }
        list_->setCurrentRow(activeRow);
        layout->addWidget(list_, 1);

        remember_ = new QCheckBox(QStringLiteral("Запомни като активен подател"), this);
        layout->addWidget(remember_);

        auto* buttons = new QDialogButtonBox(this);
        QPushButton* createNew =
            buttons->addButton(QStringLiteral("Нов подател"), QDialogButtonBox::ActionRole);
        QPushButton* choose = buttons->addButton(QStringLiteral("Избери"), QDialogButtonBox::AcceptRole);
        QPushButton* cancel = buttons->addButton(QStringLiteral("Отказ"), QDialogButtonBox::RejectRole);
        // Enter declines, whatever order the desktop puts the buttons in and
        // whichever of them the focus lands on first.
        createNew->setAutoDefault(false);
        choose->setAutoDefault(false);
        cancel->setDefault(true);
        layout->addWidget(buttons);

        choose->setEnabled(list_->currentItem() != nullptr);
        connect(list_, &QListWidget::itemSelectionChanged, choose,
                [this, choose] { choose->setEnabled(list_->currentItem() != nullptr); });
        connect(list_, &QListWidget::itemDoubleClicked, choose, [choose] { choose->click(); });
        connect(choose, &QPushButton::clicked, this, &QDialog::accept);
        connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
        connect(createNew, &QPushButton::clicked, this, [this] { done(SenderPicker::kCreateNew); });

        list_->setFocus();
    }

    server::SenderPickResult outcome(int result) const {
        server::SenderPickResult pick;
        if (result == SenderPicker::kCreateNew) {
            pick.createNew = true;
        } else if (result == QDialog::Accepted && list_->currentItem() != nullptr) {
            pick.id = list_->currentItem()->data(kIdRole).toString().toStdString();
            pick.remember = remember_->isChecked();
        }
        return pick;
    }

private:
    QListWidget* list_ = nullptr;
    QCheckBox* remember_ = nullptr;
};

}  // namespace

QString requesterDisplayText(const std::string& requester) {
    QString text = oneLine(fromUtf8(requester).left(kMaxRequesterChars)).simplified();
    // A page address (a Referer) names its origin; the path and any user
    // part in front of the host ("https://nap.bg@other.example") would only
    // mislead.
    const QUrl url(text, QUrl::StrictMode);
    if (url.isValid() && !url.host().isEmpty() && (url.scheme() == "http" || url.scheme() == "https")) {
        text =
            url.adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery | QUrl::RemoveFragment)
                .toString();
    }
    return text.isEmpty() ? QStringLiteral("неизвестен") : text;
}

QString filePathDisplayText(const std::string& filePath) {
    QString text = fromUtf8(filePath);
    if (text.size() > kMaxFilePathChars) {
        // The start names the place, the end the file.
        int head = kMaxFilePathChars / 2 - 1;
        int tail = kMaxFilePathChars / 2;
        if (text.at(head - 1).isHighSurrogate()) {
            --head;  // never half a character
        }
        if (text.at(text.size() - tail).isLowSurrogate()) {
            --tail;
        }
        text = text.left(head) + QChar(0x2026) + text.right(tail);
    }
    return oneLine(std::move(text));
}

SenderPicker::SenderPicker(GuiLoop& loop) : loop_(loop) {}

SenderPicker::SenderPicker() : SenderPicker(GuiLoop::application()) {}

void SenderPicker::post(std::function<void()> task) {
    loop_.post(this, std::move(task));
}

server::SenderPickResult SenderPicker::pickSender(const std::vector<core::SenderProfile>& senders,
                                                  const std::string& preselectedId,
                                                  const std::string& requester,
                                                  const std::string& operationName,
                                                  const std::string& filePath) {
    if (senders.empty()) {
        return {};
    }
    std::vector<SenderEntry> entries;
    entries.reserve(senders.size());
    for (const core::SenderProfile& sender : senders) {
        entries.push_back({fromUtf8(sender.id), fromUtf8(sender.displayName)});
    }
    return loop_.call<server::SenderPickResult>(
        this,
        [this, entries = std::move(entries), activeId = fromUtf8(preselectedId),
         shownRequester = requesterDisplayText(requester), operation = fromUtf8(operationName),
         shownFile = filePath.empty() ? QString() : filePathDisplayText(filePath)] {
            SenderDialog dialog(entries, activeId, shownRequester, operation, shownFile);
            centreOnPrimaryScreen(dialog);
            dialog.raise();
            dialog.activateWindow();
            const QPointer<QDialog> outer = open_;
            open_ = &dialog;
            const int result = dialog.exec();
            open_ = outer;
            return dialog.outcome(result);
        },
        server::SenderPickResult{});
}

void SenderPicker::closeDialog() {
    if (open_ != nullptr) {
        open_->reject();
    }
}

}  // namespace velk::ui
