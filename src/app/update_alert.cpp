#include "app/update_alert.h"

#include "app/update_checker.h"

#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

namespace kavlo {

namespace {

constexpr char kAlertName[] = "kavlo-update-alert";

void present(QWidget* host, UpdateChecker* checker) {
    const std::optional<MacUpdateInfo>& update = checker->availableUpdate();
    if (!update || shownUpdateAlert(host))
        return;
    // The alert is centred on its window: it waits until the window is on
    // screen where the window manager placed it.
    const QWindow* window = host->window()->windowHandle();
    if (!window || !window->isExposed()) {
        QTimer::singleShot(100, checker, [host = QPointer<QWidget>(host), checker] {
            if (host)
                present(host, checker);
        });
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Update Available"),
                                updateAlertMessage(*update), QMessageBox::NoButton, host);
    box->setObjectName(QLatin1StringView(kAlertName));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    QPushButton* download = box->addButton(QStringLiteral("Download"), QMessageBox::AcceptRole);
    QPushButton* notNow = box->addButton(QStringLiteral("Not Now"), QMessageBox::RejectRole);
    box->setDefaultButton(download);
    box->setEscapeButton(notNow);
    QObject::connect(box, &QMessageBox::finished, checker, [box, checker, download] {
        box->setObjectName(QString());
        if (box->clickedButton() == download)
            checker->openUpdateDownload();
        else
            checker->dismissUpdate();
    });
    box->open();
}

} // namespace

void attachUpdateAlert(QWidget* host, UpdateChecker* checker) {
    QObject::connect(checker, &UpdateChecker::availableUpdateChanged, host,
                     [host, checker] { present(host, checker); });
    present(host, checker);
}

QMessageBox* shownUpdateAlert(QWidget* host) {
    return host->findChild<QMessageBox*>(QLatin1StringView(kAlertName));
}

} // namespace kavlo
