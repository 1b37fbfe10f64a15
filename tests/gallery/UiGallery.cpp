// ui-gallery: opens every window of the desktop program in a known state,
// over in-memory settings and a signer that only lists certificates, and
// saves a picture of each into a folder. scripts/screenshots runs it under
// Xvfb; the pictures are what a user sees first.
//
//   ui-gallery OUTPUT_FOLDER
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "agent/ApplicationLook.h"
#include "engine/InMemorySettings.h"
#include "engine/VelkEngine.h"
#include "infrastructure/signing/ISigner.h"
#include "ui/CertificatePickerDialog.h"
#include "ui/MainWindow.h"
#include "ui/PinPromptDialog.h"
#include "ui/SenderPicker.h"

namespace {

using velk::core::IdentifierType;
using velk::core::SenderProfile;
using velk::signing::CertificateInfo;

// Lists a fixed set of certificates; signs nothing.
class GallerySigner : public velk::signing::ISigner {
public:
    std::vector<CertificateInfo> listCertificates() override { return certificates(); }
    velk::signing::Bytes signData(const velk::signing::Bytes&, const std::string&,
                                  const std::string&) override {
        return {};
    }
    bool warmUp(const std::string&, const std::string&) override { return false; }
    velk::signing::Bytes getCertificateDer(const std::string&) override { return {}; }

    // Valid and expired as seen today, so the pictures stay true.
    static std::vector<CertificateInfo> certificates() {
        const QDateTime now = QDateTime::currentDateTimeUtc();
        const auto isoDate = [](const QDateTime& when) { return when.toString(Qt::ISODate).toStdString(); };
        return {
            info("1A2B3C4D5E6F708192A3B4C5D6E7F80910111213",
                 "CN=Иван Петров Иванов, SERIALNUMBER=PNOBG-8001010000, O=Тестова фирма ЕООД, C=BG",
                 "CN=B-Trust Operational Qualified CA, O=BORICA AD, C=BG", isoDate(now.addYears(2)), true,
                 "Microsoft Smart Card Key Storage Provider"),
            info("2B3C4D5E6F708192A3B4C5D6E7F8091011121314", "CN=Мария Георгиева Димитрова, C=BG",
                 "CN=InfoNotary Qualified Natural Person CA, O=InfoNotary PLC, C=BG",
                 isoDate(now.addMonths(7)), false, ""),
            info("3C4D5E6F708192A3B4C5D6E7F809101112131415", "CN=Георги Стоянов Николов, C=BG",
                 "CN=StampIT Qualified CA, O=Information Services JSC, C=BG", isoDate(now.addYears(-1)), true,
                 "Microsoft Smart Card Key Storage Provider"),
        };
    }

private:
    static CertificateInfo info(std::string id, std::string subject, std::string issuer, std::string notAfter,
                                bool hardware, std::string provider) {
        CertificateInfo certificate;
        certificate.id = std::move(id);
        certificate.subject = std::move(subject);
        certificate.issuer = std::move(issuer);
        certificate.notAfter = std::move(notAfter);
        certificate.hardware = hardware;
        certificate.provider = std::move(provider);
        return certificate;
    }
};

SenderProfile sender(std::string id, std::string name, std::string identifier, IdentifierType type,
                     std::string certificateId) {
    SenderProfile profile;
    profile.id = std::move(id);
    profile.displayName = std::move(name);
    profile.identifier = std::move(identifier);
    profile.identifierType = type;
    profile.certificateId = std::move(certificateId);
    return profile;
}

std::vector<SenderProfile> severalSenders() {
    const auto certificates = GallerySigner::certificates();
    return {
        sender("s-00000000aa01", "Тестова фирма ЕООД", "123456789", IdentifierType::BUS_BULSTAT,
               certificates[0].id),
        sender("s-00000000aa02", "Иван Петров Иванов", "8001010000", IdentifierType::IND_EGN,
               certificates[1].id),
        sender("s-00000000aa03", "Сдружение „Производители на биологични храни от Родопите“", "175123456",
               IdentifierType::BUS_BULSTAT, ""),
        sender("s-00000000aa04", "", "1001001001", IdentifierType::IND_LNCH, ""),
    };
}

// Lets layouts, fonts and style sheets settle and the window paint.
void settle() {
    QEventLoop loop;
    QTimer::singleShot(400, &loop, &QEventLoop::quit);
    loop.exec();
    QApplication::processEvents();
}

class Gallery {
public:
    explicit Gallery(QString folder) : folder_(std::move(folder)) {}

    // Shows the window, saves its picture, hides it.
    void shoot(QWidget& window, const QString& name) {
        window.show();
        settle();
        save(window, name);
        window.hide();
    }

    // For a dialog that runs its own modal loop inside open(): the picture is
    // taken once it is up, then it is closed as by Escape.
    void shootModal(const QString& name, const std::function<void()>& open) {
        QTimer poll;
        poll.setInterval(50);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            QWidget* dialog = QApplication::activeModalWidget();
            if (dialog == nullptr || !dialog->isVisible()) {
                return;
            }
            poll.stop();
            settle();
            save(*dialog, name);
            dialog->close();
        });
        poll.start();
        open();
    }

    // As shoot, with what the screen shows over the window too (an open
    // drop-down list is a window of its own).
    void shootScreen(QWidget& window, const QString& name, const std::function<void()>& prepare) {
        window.show();
        settle();
        prepare();
        settle();
        QScreen* screen = QGuiApplication::primaryScreen();
        const QRect area = window.frameGeometry();
        save(screen->grabWindow(0, area.x(), area.y(), area.width(), area.height()), name);
        window.hide();
    }

    int failures() const { return failures_; }

private:
    void save(QWidget& window, const QString& name) { save(window.grab(), name); }

    void save(const QPixmap& picture, const QString& name) {
        const QString path = QDir(folder_).filePath(name + ".png");
        if (picture.isNull() || !picture.save(path, "PNG")) {
            std::cerr << "ui-gallery: could not save " << path.toStdString() << std::endl;
            ++failures_;
            return;
        }
        std::cout << path.toStdString() << " " << picture.width() << "x" << picture.height() << std::endl;
    }

    QString folder_;
    int failures_ = 0;
};

// The main window over its own engine and settings holding these senders.
void shootMainWindow(Gallery& gallery, GallerySigner& signer, const std::vector<SenderProfile>& senders,
                     const QString& name) {
    auto settings = std::make_unique<velk::test::InMemorySettings>();
    for (const SenderProfile& profile : senders) {
        settings->upsertSender(profile);
    }
    if (!senders.empty()) {
        settings->setActiveSender(senders.front().id);
    }
    velk::test::InMemorySettings* store = settings.get();
    velk::core::VelkEngine engine(std::move(settings));
    velk::ui::MainWindow window(&engine, store, &signer);
    gallery.shoot(window, name);
    if (senders.size() > 1) {
        // The first drop-down of the window is the sender list.
        gallery.shootScreen(window, name + "-list", [&window] {
            if (auto* list = window.findChild<QComboBox*>()) {
                list->showPopup();
            }
        });
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: ui-gallery OUTPUT_FOLDER" << std::endl;
        return 2;
    }
    QApplication app(argc, argv);
    velk::agent::configureApplication(app);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(folder)) {
        std::cerr << "ui-gallery: cannot make " << argv[1] << std::endl;
        return 1;
    }

    Gallery gallery(folder);
    GallerySigner signer;
    const std::vector<SenderProfile> senders = severalSenders();

    shootMainWindow(gallery, signer, {}, "main-window-no-sender");
    shootMainWindow(gallery, signer, {senders.front()}, "main-window-one-sender");
    shootMainWindow(gallery, signer, senders, "main-window-several-senders");

    velk::ui::SenderPicker picker;
    gallery.shootModal("sender-picker", [&] {
        picker.pickSender(senders, senders[1].id, "https://app.example.bg", "Справка за дължими суми", "");
    });
    gallery.shootModal("sender-picker-long-requester", [&] {
        // Only the origin of a web address is shown; a long one is elided.
        picker.pickSender(senders, "",
                          "https://invoices.clients.a-very-long-accounting-office-name-for-bulgarian-"
                          "companies.example-domain.bg/obligations?year=2024",
                          "Подаване на справка-декларация по ЗДДС",
                          "/home/user/Документи/Счетоводство/2024/Декември/ДДС/DEKLAR.TXT");
    });
    gallery.shootModal("sender-picker-unknown-requester",
                       [&] { picker.pickSender({senders.front()}, "", "", "Справка за дължими суми", ""); });

    {
        velk::ui::CertificatePickerDialog dialog(&signer);
        gallery.shoot(dialog, "certificate-picker");
        if (auto* expired = dialog.findChild<QCheckBox*>()) {
            expired->setChecked(true);
        }
        gallery.shoot(dialog, "certificate-picker-with-expired");
    }
    {
        velk::ui::PinPromptDialog prompt(QStringLiteral("Иван Петров Иванов"), true);
        gallery.shoot(prompt, "pin-prompt");
    }
    {
        velk::ui::PinPromptDialog prompt(QStringLiteral("Мария <Георгиева> & Димитрова"), false);
        gallery.shoot(prompt, "pin-prompt-software-key");
    }
    return gallery.failures() == 0 ? 0 : 1;
}
