#include "ui/MainWindow.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QColor>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSizePolicy>
#include <QStatusBar>
#include <QStyle>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QVector>

#include <exception>
#include <vector>

#include "common/AgencyEndpoints.h"
#include "common/AgentVersion.h"
#include "common/CodeTables.h"
#include "common/Logger.h"
#include "common/TextUtils.h"
#include "engine/VelkEngine.h"
#include "infrastructure/signing/ISigner.h"
#include "infrastructure/signing/PinStore.h"
#include "platform/AutoStart.h"
#include "platform/SecureWipe.h"
#include "ui/CertificatePickerDialog.h"
#include "ui/PinPromptDialog.h"

namespace velk::ui {

namespace {

constexpr int kMaxCertificateNameLength = 48;
constexpr int kPinLabelIdLength = 40;
const char* const kNewSenderData = "+NEW";

QString portalApiKeyPage() {
    return QString::fromLatin1(core::AgencyEndpoints::kPortalHost.data(),
                               static_cast<int>(core::AgencyEndpoints::kPortalHost.size())) +
           QStringLiteral("/details/decapirequest");
}

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

QString fromView(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// A new value of the "role" property only takes effect once the style has
// been taken off and put on again.
void setRole(QWidget* widget, const char* role) {
    widget->setProperty("role", QString::fromLatin1(role));
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
    widget->update();
}

void applyCardShadow(QWidget* card) {
    auto* shadow = new QGraphicsDropShadowEffect(card);
    shadow->setBlurRadius(18);
    shadow->setOffset(0, 2);
    shadow->setColor(QColor(30, 31, 34, 28));
    card->setGraphicsEffect(shadow);
}

QFrame* makeCard(QWidget* parent) {
    auto* card = new QFrame(parent);
    card->setProperty("role", QStringLiteral("card"));
    return card;
}

QLabel* makeLabel(const QString& text, const char* role, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setProperty("role", QString::fromLatin1(role));
    return label;
}

}  // namespace

QString commonNameOf(const QString& subject) {
    if (subject.isEmpty()) {
        return {};
    }
    const int start = subject.indexOf(QLatin1String("CN="));
    if (start < 0) {
        return subject;
    }
    const int from = start + 3;
    const int comma = subject.indexOf(QLatin1Char(','), from);
    return subject.mid(from, comma < 0 ? -1 : comma - from).trimmed();
}

QString shortCertificateName(const QString& name) {
    // Code points, so that no character outside the basic plane is split.
    const QVector<uint> characters = name.toUcs4();
    if (characters.size() <= kMaxCertificateNameLength) {
        return name;
    }
    return QString::fromUcs4(characters.constData(), kMaxCertificateNameLength - 1) + QChar(0x2026);
}

QString senderEntryText(const core::SenderProfile& sender, bool active) {
    const QString name = fromUtf8(sender.displayName.empty() ? sender.id : sender.displayName);
    return (active ? QStringLiteral("★ ") : QStringLiteral("   ")) + name;
}

MainWindow::MainWindow(core::VelkEngine* engine, core::ISettingsProvider* settings, signing::ISigner* signer,
                       QWidget* parent)
    : QMainWindow(parent), engine_(engine), settings_(settings), signer_(signer) {
    setWindowTitle(tr("VELK Agent"));
    resize(940, 720);
    buildUi();
    fillIdentifierTypes();
    populateSenders();
    statusBar()->showMessage(tr("Готов."));
}

MainWindow::~MainWindow() = default;

// ---------------------------------------------------------------------------
// Layout

void MainWindow::buildUi() {
    auto* central = new QWidget(this);
    auto* root = new QVBoxLayout(central);
    root->setContentsMargins(28, 16, 28, 12);
    root->setSpacing(12);

    updateBanner_ = buildUpdateBanner();
    root->addWidget(updateBanner_);

    // Header.
    auto* header = new QWidget(central);
    auto* headerLayout = new QVBoxLayout(header);
    headerLayout->setContentsMargins(0, 0, 0, 0);
    headerLayout->setSpacing(4);
    headerLayout->addWidget(makeLabel(tr("ВЕЛК агент"), "title", header));
    auto* subtitle =
        makeLabel(tr("Настройки на подателите, които могат да работят с НАП"), "subtitle", header);
    subtitle->setWordWrap(true);
    headerLayout->addWidget(subtitle);
    root->addWidget(header);

    // Sender card.
    QFrame* senderCard = makeCard(central);
    auto* senderLayout = new QVBoxLayout(senderCard);
    senderLayout->setContentsMargins(18, 14, 18, 14);
    senderLayout->setSpacing(8);
    senderLayout->addWidget(makeLabel(tr("ПОДАТЕЛ"), "section", senderCard));
    senderCombo_ = new QComboBox(senderCard);
    senderCombo_->setObjectName(QStringLiteral("senderCombo"));
    senderCombo_->setProperty("role", QStringLiteral("hero"));
    senderCombo_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    senderLayout->addWidget(senderCombo_);
    applyCardShadow(senderCard);
    root->addWidget(senderCard);

    // Details card.
    QFrame* details = makeCard(central);
    auto* detailsLayout = new QVBoxLayout(details);
    detailsLayout->setContentsMargins(22, 14, 22, 14);
    detailsLayout->setSpacing(10);
    detailsLayout->addWidget(makeLabel(tr("ДЕТАЙЛИ"), "section", details));

    displayNameEdit_ = new QLineEdit(details);
    displayNameEdit_->setObjectName(QStringLiteral("displayNameEdit"));
    displayNameEdit_->setPlaceholderText(tr("напр. \"Примерна търговия ЕООД\""));
    detailsLayout->addWidget(labelledField(tr("Име за показване"), displayNameEdit_));

    auto* identifierRow = new QWidget(details);
    auto* identifierLayout = new QHBoxLayout(identifierRow);
    identifierLayout->setContentsMargins(0, 0, 0, 0);
    identifierLayout->setSpacing(8);
    identifierTypeCombo_ = new QComboBox(identifierRow);
    identifierTypeCombo_->setObjectName(QStringLiteral("identifierTypeCombo"));
    identifierEdit_ = new QLineEdit(identifierRow);
    identifierEdit_->setObjectName(QStringLiteral("identifierEdit"));
    identifierEdit_->setEchoMode(QLineEdit::Password);
    eyeButton_ = new QPushButton(QStringLiteral("👁"), identifierRow);
    eyeButton_->setObjectName(QStringLiteral("identifierEyeButton"));
    eyeButton_->setProperty("role", QStringLiteral("icon"));
    eyeButton_->setToolTip(tr("Покажи / скрий"));
    identifierLayout->addWidget(identifierTypeCombo_, 3);
    identifierLayout->addWidget(identifierEdit_, 2);
    identifierLayout->addWidget(eyeButton_);
    detailsLayout->addWidget(labelledField(tr("Тип и идентификатор (ЕИК / Булстат / ЕГН)"), identifierRow));

    const QString apiKeyPage = portalApiKeyPage();
    const QString apiKeyUrl = QStringLiteral("https://") + apiKeyPage;
    apiKeyEdit_ = new QPlainTextEdit(details);
    apiKeyEdit_->setObjectName(QStringLiteral("apiKeyEdit"));
    apiKeyEdit_->setPlaceholderText(tr("API ключ от ") + apiKeyPage);
    apiKeyEdit_->setToolTip(
        tr("API ключ за подаване през NAP REST API (Декларации обр. 1 и 6, ЕТЗ-62, ЕТЗ-123, "
           "Висок фискален риск).\n\nИздава се през портала на НАП:\n") +
        apiKeyUrl +
        tr("\n\nСлед подаване на заявка с КЕП и одобрение от НАП копирай тук стойността на "
           "ключа."));
    apiKeyEdit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    apiKeyEdit_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    detailsLayout->addWidget(labelledField(tr("API ключ"), apiKeyEdit_));

    auto* help = new QLabel(details);
    help->setProperty("role", QStringLiteral("muted"));
    help->setTextFormat(Qt::RichText);
    help->setText(
        tr("Откъде да взема API ключ: ") +
        QStringLiteral("<a href=\"%1\">%2</a>").arg(apiKeyUrl.toHtmlEscaped(), apiKeyPage.toHtmlEscaped()));
    help->setOpenExternalLinks(true);
    help->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::LinksAccessibleByMouse |
                                  Qt::LinksAccessibleByKeyboard);
    help->setWordWrap(true);
    detailsLayout->addWidget(help);

    auto* certificateRow = new QWidget(details);
    auto* certificateLayout = new QHBoxLayout(certificateRow);
    certificateLayout->setContentsMargins(0, 0, 0, 0);
    certificateLayout->setSpacing(8);
    certificateLabel_ = new QLabel(tr("(нищо избрано)"), certificateRow);
    certificateLabel_->setObjectName(QStringLiteral("certificateLabel"));
    // The subject comes from the certificate: never read it as markup.
    certificateLabel_->setTextFormat(Qt::PlainText);
    certificateLabel_->setProperty("role", QStringLiteral("muted"));
    certificateLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    certificateLabel_->setMinimumHeight(30);
    certificateButton_ = new QPushButton(QStringLiteral("..."), certificateRow);
    certificateButton_->setObjectName(QStringLiteral("certificateButton"));
    certificateButton_->setToolTip(tr("Избери сертификат"));
    certificateButton_->setMinimumHeight(40);
    certificateButton_->setFixedWidth(60);
    certificateLayout->addWidget(certificateLabel_, 1);
    certificateLayout->addWidget(certificateButton_);
    detailsLayout->addWidget(labelledField(tr("КЕП сертификат"), certificateRow));

    applyCardShadow(details);
    root->addWidget(details);

    // Set before its signal is connected, so that no handler runs for it.
    autoStartBox_ = new QCheckBox(tr("Стартирай при влизане в системата"), central);
    autoStartBox_->setObjectName(QStringLiteral("autoStartBox"));
    autoStartBox_->setChecked(platform::AutoStart::isEnabled());
    root->addWidget(autoStartBox_);

    auto* uninstallRow = new QHBoxLayout();
    uninstallRow->setContentsMargins(0, 0, 0, 0);
    uninstallRow->addStretch();
    auto* uninstallLink = new QPushButton(tr("Деинсталирай ВЕЛК агент"), central);
    uninstallLink->setObjectName(QStringLiteral("uninstallLink"));
    uninstallLink->setProperty("role", QStringLiteral("link"));
    uninstallLink->setStyleSheet(QStringLiteral(
        "QPushButton[role=\"link\"] {  background:transparent; border:none;  color:#7a7a7a; padding:4px 0; "
        "text-align:right;  text-decoration:underline; }QPushButton[role=\"link\"]:hover { color:#b71c1c; "
        "}"));
    uninstallLink->setCursor(Qt::PointingHandCursor);
    uninstallRow->addWidget(uninstallLink);
    root->addLayout(uninstallRow);

    auto* actions = new QHBoxLayout();
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(10);
    deleteButton_ = new QPushButton(tr("Изтрий"), central);
    deleteButton_->setObjectName(QStringLiteral("deleteButton"));
    deleteButton_->setProperty("role", QStringLiteral("danger"));
    deleteButton_->setMinimumHeight(38);
    deleteButton_->setMinimumWidth(130);
    saveButton_ = new QPushButton(tr("Запази"), central);
    saveButton_->setObjectName(QStringLiteral("saveButton"));
    saveButton_->setProperty("role", QStringLiteral("primary"));
    saveButton_->setMinimumHeight(38);
    saveButton_->setMinimumWidth(150);
    saveButton_->setDefault(true);
    actions->addWidget(deleteButton_);
    actions->addStretch();
    actions->addWidget(saveButton_);
    root->addLayout(actions);

    setCentralWidget(central);
    const QSize hint = central->sizeHint();
    setMinimumSize(hint.width() + 280, hint.height() + 30);
    resize(hint.width() + 420, hint.height() + 40);

    connect(senderCombo_, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &MainWindow::onSenderSelectionChanged);
    connect(eyeButton_, &QPushButton::clicked, this, &MainWindow::onToggleIdentifierVisibility);
    connect(certificateButton_, &QPushButton::clicked, this, &MainWindow::onPickCertificate);
    connect(deleteButton_, &QPushButton::clicked, this, &MainWindow::onDeleteSender);
    connect(saveButton_, &QPushButton::clicked, this, &MainWindow::onSave);
    connect(autoStartBox_, &QCheckBox::toggled, this, &MainWindow::onAutoStartToggled);
    connect(updateBannerButton_, &QPushButton::clicked, this, &MainWindow::onUpdateButton);
    connect(uninstallLink, &QPushButton::clicked, this, &MainWindow::onUninstall);
}

QFrame* MainWindow::buildUpdateBanner() {
    auto* banner = new QFrame(this);
    banner->setObjectName(QStringLiteral("updateBanner"));
    banner->setProperty("role", QStringLiteral("card"));
    banner->setStyleSheet(
        QStringLiteral("QFrame[role=\"card\"] { background:#FFF8E1; border:1px solid #FFE082; }"));
    auto* layout = new QHBoxLayout(banner);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(12);
    auto* icon = new QLabel(QStringLiteral("⬆"), banner);
    icon->setStyleSheet(QStringLiteral("font-size:20px; color:#B26A00;"));
    layout->addWidget(icon);
    updateBannerText_ = new QLabel(tr("Налична е нова версия."), banner);
    updateBannerText_->setObjectName(QStringLiteral("updateBannerText"));
    // Versions and failure reasons come from outside: plain text only.
    updateBannerText_->setTextFormat(Qt::PlainText);
    updateBannerText_->setWordWrap(true);
    layout->addWidget(updateBannerText_, 1);
    updateBannerButton_ = new QPushButton(tr("Обнови сега"), banner);
    updateBannerButton_->setObjectName(QStringLiteral("updateBannerButton"));
    updateBannerButton_->setProperty("role", QStringLiteral("primary"));
    updateBannerButton_->setMinimumHeight(36);
    layout->addWidget(updateBannerButton_);
    banner->hide();
    return banner;
}

QWidget* MainWindow::labelledField(const QString& label, QWidget* field) {
    auto* container = new QWidget(field->parentWidget());
    auto* layout = new QVBoxLayout(container);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    layout->addWidget(makeLabel(label, "field", container));
    field->setParent(container);
    field->setMinimumHeight(40);
    field->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    container->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    layout->addWidget(field);
    return container;
}

void MainWindow::fillIdentifierTypes() {
    identifierTypeCombo_->addItem(tr("-- избери --"), QString());
    identifierTypeCombo_->addItem(tr("ЕИК / Булстат на търговец"), QStringLiteral("BUS_BULSTAT"));
    identifierTypeCombo_->addItem(tr("ЕГН на физическо лице"), QStringLiteral("IND_EGN"));
    identifierTypeCombo_->addItem(tr("Булстат на физическо лице"), QStringLiteral("IND_BULSTAT"));
    identifierTypeCombo_->addItem(tr("Личен номер на чужденец"), QStringLiteral("IND_LNCH"));
    identifierTypeCombo_->addItem(tr("Служебен номер"), QStringLiteral("IND_SLNO"));
}

// ---------------------------------------------------------------------------
// The sender list and the form

void MainWindow::populateSenders() {
    {
        const QSignalBlocker blocker(senderCombo_);
        senderCombo_->clear();
        const std::vector<core::SenderProfile> senders = settings_->listSenders();
        const std::string active = settings_->activeSenderId().value_or(std::string());
        for (const core::SenderProfile& sender : senders) {
            senderCombo_->addItem(senderEntryText(sender, !active.empty() && sender.id == active),
                                  fromUtf8(sender.id));
        }
        senderCombo_->addItem(tr("+ Създай нов"), QString::fromLatin1(kNewSenderData));
        // An empty active id names no sender, not one loaded without an id.
        const int activeIndex = active.empty() ? -1 : senderCombo_->findData(fromUtf8(active));
        senderCombo_->setCurrentIndex(activeIndex >= 0 ? activeIndex : 0);
    }
    onSenderSelectionChanged(senderCombo_->currentIndex());
}

void MainWindow::selectSender(const std::string& id) {
    if (id.empty()) {
        return;
    }
    const int index = senderCombo_->findData(fromUtf8(id));
    if (index >= 0) {
        senderCombo_->setCurrentIndex(index);
    }
}

void MainWindow::onSenderSelectionChanged(int index) {
    if (index < 0) {
        return;
    }
    const QString data = senderCombo_->itemData(index).toString();
    loadSenderIntoForm(data == QLatin1String(kNewSenderData) ? std::string() : data.toStdString());
    deleteButton_->setEnabled(editedSender_ && !editedSender_->id.empty());
}

void MainWindow::loadSenderIntoForm(const std::string& id) {
    std::optional<core::SenderProfile> stored;
    if (!id.empty()) {
        stored = settings_->getSender(id);
    }
    editedSender_ = std::make_unique<core::SenderProfile>(stored.value_or(core::SenderProfile{}));

    displayNameEdit_->setText(fromUtf8(editedSender_->displayName));
    identifierEdit_->setText(fromUtf8(editedSender_->identifier));
    identifierEdit_->setEchoMode(QLineEdit::Password);
    apiKeyEdit_->setPlainText(fromUtf8(editedSender_->apiKey));
    showCertificate(editedSender_->certificateId);
    const int typeIndex = identifierTypeCombo_->findData(
        fromView(core::identifierTypeName(core::code(editedSender_->identifierType))));
    identifierTypeCombo_->setCurrentIndex(typeIndex >= 0 ? typeIndex : 0);
}

void MainWindow::collectForm() {
    if (!editedSender_) {
        return;
    }
    editedSender_->displayName = displayNameEdit_->text().trimmed().toStdString();
    editedSender_->identifier = identifierEdit_->text().trimmed().toStdString();
    editedSender_->apiKey = apiKeyEdit_->toPlainText().trimmed().toStdString();
    editedSender_->identifierType = static_cast<core::IdentifierType>(
        core::parseIdentifierType(identifierTypeCombo_->currentData().toString().toStdString()));
}

std::string MainWindow::certificateSubject(const std::string& certificateId) {
    if (signer_ == nullptr) {
        return {};
    }
    try {
        for (const signing::CertificateInfo& certificate : signer_->listCertificates()) {
            if (certificate.id == certificateId) {
                return certificate.subject;
            }
        }
    } catch (const std::exception& e) {
        logLine(core::LogLevel::Warn,
                "MainWindow: cannot list certificates: " + core::escapeControlBytes(e.what()));
    }
    return {};
}

void MainWindow::showCertificate(const std::string& certificateId) {
    if (certificateId.empty()) {
        certificateLabel_->setText(tr("(нищо избрано)"));
        certificateLabel_->setToolTip(QString());
        setRole(certificateLabel_, "muted");
        return;
    }
    QString name = commonNameOf(fromUtf8(certificateSubject(certificateId)));
    if (name.isEmpty()) {
        name = fromUtf8(certificateId);
    }
    certificateLabel_->setText(shortCertificateName(name));
    // Tool tips guess the format: a name that looks like markup is shown as
    // the text it is.
    certificateLabel_->setToolTip(
        Qt::mightBeRichText(name) ? Qt::convertFromPlainText(name, Qt::WhiteSpaceNoWrap) : name);
    setRole(certificateLabel_, "");
}

// ---------------------------------------------------------------------------
// Actions

void MainWindow::onToggleIdentifierVisibility() {
    identifierEdit_->setEchoMode(identifierEdit_->echoMode() == QLineEdit::Password ? QLineEdit::Normal
                                                                                    : QLineEdit::Password);
}

void MainWindow::onPickCertificate() {
    std::string id;
    {
        CertificatePickerDialog picker(signer_, this);
        if (picker.exec() != QDialog::Accepted) {
            return;
        }
        id = picker.selectedId();
    }
    if (id.empty()) {
        return;
    }
    if (!editedSender_) {
        editedSender_ = std::make_unique<core::SenderProfile>();
    }
    editedSender_->certificateId = id;
    showCertificate(id);

    std::optional<std::string> remembered = signing::PinStore::get(id);
    if (remembered) {
        const platform::ScopedWipe wipe(*remembered);
        if (engine_ != nullptr) {
            engine_->setPin(id, *remembered);
        }
        return;
    }
    askForPin(id);
}

void MainWindow::askForPin(const std::string& certificateId) {
    QString label = fromUtf8(certificateSubject(certificateId));
    if (label.isEmpty()) {
        label = fromUtf8(certificateId).left(kPinLabelIdLength);
    }
    std::string pin;
    const platform::ScopedWipe wipe(pin);
    bool remember = false;
    {
        PinPromptDialog prompt(label, true, this);
        const bool accepted = prompt.exec() == QDialog::Accepted;
        // Taken in any case, so that no typed PIN stays in the edit.
        pin = prompt.takePin();
        if (!accepted || pin.empty()) {
            return;
        }
        remember = prompt.remember();
    }
    if (remember && !signing::PinStore::store(certificateId, pin)) {
        logLine(core::LogLevel::Warn,
                "PinStore::store failed for " + core::escapeControlBytes(label.toStdString()));
    }
    // The engine presents it only for this certificate, whichever sender is
    // active or saved later.
    if (engine_ != nullptr) {
        engine_->setPin(certificateId, pin);
    }
}

void MainWindow::onSave() {
    collectForm();
    if (!editedSender_) {
        return;
    }
    if (editedSender_->displayName.empty() && editedSender_->identifier.empty()) {
        QMessageBox::warning(this, tr("Непълни данни"), tr("Моля, въведете поне име или идентификатор."),
                             QMessageBox::Ok);
        displayNameEdit_->setFocus();
        return;
    }
    if (editedSender_->certificateId.empty()) {
        const auto answer = QMessageBox::warning(
            this, tr("Липсва сертификат"),
            tr("Не е избран КЕП сертификат. Без него подаванията и справките към НАП ще се провалят (HTTP "
               "403).\n\nИскаш ли да избереш сертификат сега?"),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes);
        if (answer == QMessageBox::Yes) {
            onPickCertificate();
            return;
        }
    }

    const bool wasNew = editedSender_->id.empty();
    std::string id;
    try {
        id = settings_->upsertSender(*editedSender_);
        if (wasNew && settings_->listSenders().size() == 1) {
            settings_->setActiveSender(id);
        }
    } catch (const std::exception& e) {
        // A change listener failed after the store took the change.
        logLine(core::LogLevel::Error, std::string("MainWindow::onSave: ") + e.what());
    }
    const std::string& name = editedSender_->displayName.empty() ? id : editedSender_->displayName;
    showSaveOutcome(tr("Запазено: %1").arg(fromUtf8(name)), 2000);
    populateSenders();
    selectSender(id);
}

void MainWindow::onDeleteSender() {
    if (!editedSender_ || editedSender_->id.empty()) {
        return;
    }
    const std::string id = editedSender_->id;
    const QString name = fromUtf8(editedSender_->displayName.empty() ? id : editedSender_->displayName);
    const auto answer = QMessageBox::question(this, tr("Изтриване на подател"),
                                              tr("Сигурни ли сте, че искате да изтриете \"%1\"?").arg(name),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) {
        return;
    }
    try {
        settings_->removeSender(id);
    } catch (const std::exception& e) {
        logLine(core::LogLevel::Error, std::string("MainWindow::onDeleteSender: ") + e.what());
    }
    showSaveOutcome(tr("Изтрит подател: %1").arg(name), 3000);
    populateSenders();
}

// The store keeps a change in memory even when writing it failed: say so
// rather than report success.
void MainWindow::showSaveOutcome(const QString& doneMessage, int timeoutMs) {
    if (settings_->lastSaveSucceeded()) {
        statusBar()->showMessage(doneMessage, timeoutMs);
    } else {
        statusBar()->showMessage(tr("Неуспешен запис на настройките."));
    }
}

void MainWindow::onAutoStartToggled(bool enabled) {
    const bool done = enabled ? platform::AutoStart::enable(
                                    QCoreApplication::applicationFilePath().toStdString(), "--silent")
                              : platform::AutoStart::disable();
    if (done) {
        statusBar()->showMessage(tr("Авто-старт %1").arg(enabled ? tr("включен") : tr("изключен")), 3000);
    } else {
        statusBar()->showMessage(tr("Не успяхме да променим авто-старт"), 3000);
    }
}

void MainWindow::onUninstall() {
    const auto answer = QMessageBox::warning(this, tr("Деинсталиране на ВЕЛК агент"),
                                             tr("Това ще премахне ВЕЛК агент от тази машина.\n\nСистемата ще "
                                                "поиска парола от администратор.\nЖелаеш "
                                                "ли да продължиш?"),
                                             QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer == QMessageBox::Yes) {
        emit requestUninstall();
    }
}

// ---------------------------------------------------------------------------
// Update banner

void MainWindow::showUpdateAvailable(const QString& version, const QString& downloadUrl) {
    if (downloadUrl.isEmpty()) {
        updateBanner_->hide();
        pendingUpdateUrl_.clear();
        return;
    }
    pendingUpdateUrl_ = downloadUrl;
    updateBannerText_->setText(
        tr("Налична е нова версия %1. Текуща: %2.").arg(version, fromUtf8(core::versionString())));
    updateBannerButton_->setEnabled(true);
    updateBannerButton_->setText(tr("Обнови сега"));
    updateBanner_->show();
}

void MainWindow::showUpdateError(const QString& reason) {
    if (pendingUpdateUrl_.isEmpty()) {
        return;
    }
    updateBannerText_->setText(reason);
    updateBannerButton_->setEnabled(true);
    updateBannerButton_->setText(tr("Опитай отново"));
    updateBanner_->show();
}

void MainWindow::onUpdateButton() {
    if (pendingUpdateUrl_.isEmpty()) {
        return;
    }
    updateBannerButton_->setEnabled(false);
    updateBannerText_->setText(tr("Изтегляне на инсталатора…"));
    emit requestInstallUpdate(pendingUpdateUrl_);
}

// ---------------------------------------------------------------------------
// Window events

void MainWindow::closeEvent(QCloseEvent* event) {
    hide();
    event->ignore();
}

void MainWindow::showEvent(QShowEvent* event) {
    // A window shown again after hide() lists what changed meanwhile. The
    // window system's own show events (a restore from the task bar) keep the
    // form as it is, unsaved edits included.
    if (!event->spontaneous()) {
        populateSenders();
    }
    QMainWindow::showEvent(event);
}

}  // namespace velk::ui
