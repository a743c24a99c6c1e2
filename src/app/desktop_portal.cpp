#include "app/desktop_portal.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QLibraryInfo>

namespace kavlo {

namespace {

constexpr int kProbeTimeoutMs = 1000;

bool portalThemeInstalled() {
    const QString plugins = QLibraryInfo::path(QLibraryInfo::PluginsPath);
    return QFileInfo::exists(plugins + QStringLiteral("/platformthemes/libqxdgdesktopportal.so"));
}

// Reads the FileChooser interface's version, which starts the portal when
// it is installed but not yet running; a portal without a file-chooser
// back end has no such interface. A private connection: Qt's shared one must
// not be made before the application.
bool fileChooserAnswers() {
    const QString name = QStringLiteral("kavlo-portal-probe");
    bool answers = false;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
        if (bus.isConnected()) {
            QDBusMessage get = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.portal.Desktop"),
                QStringLiteral("/org/freedesktop/portal/desktop"),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
            get << QStringLiteral("org.freedesktop.portal.FileChooser")
                << QStringLiteral("version");
            answers =
                bus.call(get, QDBus::Block, kProbeTimeoutMs).type() == QDBusMessage::ReplyMessage;
        }
    }
    QDBusConnection::disconnectFromBus(name);
    return answers;
}

} // namespace

bool preferPortalFilePanels() {
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORMTHEME") || !portalThemeInstalled() ||
        !fileChooserAnswers())
        return false;
    qputenv("QT_QPA_PLATFORMTHEME", "xdgdesktopportal");
    return true;
}

} // namespace kavlo
