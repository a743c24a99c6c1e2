// kavlo: the application. The first argument, when given, is a video to
// open; a later launch with a file while Kavlo runs hands the file to the
// running instance and exits. What it logs goes to stderr and to
// ~/.local/state/Kavlo/kavlo.log (app/app_log.h).
#include "app/app_log.h"
#include "app/desktop_portal.h"
#include "app/infinity_mark.h"
#include "app/kavlo_app.h"
#include "app/single_instance.h"
#include "media/error.h"
#include "media/library_log.h"

#include <QApplication>

int main(int argc, char** argv) {
    const kavlo::ApplicationLog log;
    kavlo::limitLibraryLogToErrors();
    const bool portalPanels = kavlo::preferPortalFilePanels();
    // A render's frames are large blocks that go back to the system when
    // it ends, not into a heap that only grows.
    kavlo::returnLargeBuffersToTheSystem();
    QApplication app(argc, argv);
    if (portalPanels)
        qunsetenv("QT_QPA_PLATFORMTHEME");
    QApplication::setApplicationName(QStringLiteral("Kavlo"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kavlo"));
    QApplication::setDesktopFileName(QStringLiteral("com.tarsel.kavlo"));
    QApplication::setWindowIcon(kavlo::appIcon());

    // The toolkit has taken its own options out of argv; the first argument
    // left is a path, as bytes.
    std::optional<std::filesystem::path> argument;
    if (argc > 1)
        argument = std::filesystem::path(argv[1]);

    if (argument && kavlo::handOverToRunningInstance(*argument))
        return 0;
    kavlo::InstanceServer instance;
    instance.listen(); // another instance without a file to hand over: run alongside it

    kavlo::KavloApp kavlo(kavlo::applicationServices(argument));
    QObject::connect(&instance, &kavlo::InstanceServer::fileReceived, &kavlo,
                     [&kavlo](const std::filesystem::path& file) { kavlo.openWith(file); });
    kavlo.newWindow();
    return app.exec();
}
