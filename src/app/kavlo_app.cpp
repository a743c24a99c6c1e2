#include "app/kavlo_app.h"

#include "analytics/app_analytics.h"
#include "analytics/event_catalog.h"
#include "app/dialog_file_panels.h"
#include "app/update_checker.h"
#include "playback/preview_player.h"
#include "playback/scrub_player.h"
#include "qtutil/log_categories.h"
#include "session/app_resources.h"
#include "session/model.h"

#include <QApplication>
#include <QDesktopServices>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace kavlo {

namespace {

// How often an open question looks whether the work it is about has ended.
constexpr int kWorkPollMs = 200;

} // namespace

bool askToStopWork(QWidget* parent, const QString& title, const QString& text,
                   const QString& confirm, const std::function<bool()>& stillRunning) {
    QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(confirm, QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(QMessageBox::Cancel);
    bool ended = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &box, [&] {
        if (!stillRunning()) {
            ended = true;
            box.done(QDialog::Accepted);
        }
    });
    poll.start(kWorkPollMs);
    box.exec();
    return ended || box.clickedButton() == yes;
}

WindowServices applicationServices(std::optional<std::filesystem::path> launchArgument) {
    WindowServices services;
    services.launchArgument = std::move(launchArgument);
    services.makeModel = [](FilePanels* panels) {
        ModelEnvironment environment;
        auto player = std::make_unique<PreviewPlayer>();
        auto scrubPlayer = std::make_unique<ScrubPlayer>();
        // The window shows what the players could not do through the
        // session's status; the log keeps their own words.
        QObject::connect(player.get(), &PreviewPlayer::failed, [](const QString& message) {
            qCWarning(lcPlayback, "Preview player: %s", qUtf8Printable(message));
        });
        QObject::connect(scrubPlayer.get(), &ScrubPlayer::failed, [](const QString& message) {
            qCWarning(lcPlayback, "Scrub player: %s", qUtf8Printable(message));
        });
        environment.player = std::move(player);
        environment.scrubPlayer = std::move(scrubPlayer);
        environment.panels = panels;
        environment.exampleVideo = findResource("example.mp4").value_or(std::filesystem::path());
        return std::make_unique<Model>(std::move(environment));
    };
    services.makePanels = [folders = std::make_shared<PanelFolders>()](QWidget* window) {
        return std::make_unique<DialogFilePanels>(window, folders);
    };
    services.makeUpdateChecker = [] {
        return std::make_unique<UpdateChecker>(defaultUpdateEnvironment());
    };
    services.track = [](const UsageEvent& event) { AppAnalytics::shared().track(event); };
    services.startAnalyticsSession = [] { AppAnalytics::shared().startSession(); };
    services.openUrl = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    services.confirmClose = [](QWidget* window, const Model& session) {
        return askToStopWork(window, QStringLiteral("Export in progress"),
                             QStringLiteral("An export is still running in this window. Closing "
                                            "the window stops it."),
                             QStringLiteral("Close Anyway"),
                             [session = QPointer<const Model>(&session)] {
                                 return session && session->runningExports() > 0;
                             });
    };
    return services;
}

KavloApp::KavloApp(WindowServices services, QObject* parent)
    : QObject(parent), services_(std::move(services)) {}

KavloApp::~KavloApp() {
    for (const QPointer<QWidget>& window : windows_)
        delete window.data();
}

MainWindow* KavloApp::newWindow() {
    auto* window = new MainWindow(services_);
    window->installEventFilter(this);
    connect(window, &MainWindow::newWindowRequested, this, &KavloApp::newWindow);
    connect(window, &MainWindow::quitRequested, this, &KavloApp::quit);
    windows_.removeAll(nullptr);
    windows_.prepend(window);
    // A new window is placed a little below and right of the one before.
    if (windows_.size() > 1 && windows_[1])
        window->move(windows_[1]->pos() + QPoint(28, 28));
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

void KavloApp::openWith(const std::filesystem::path& file) {
    QList<MainWindow*> open = windows();
    MainWindow* window = open.isEmpty() ? newWindow() : open.constFirst();
    window->loadVideo(file, VideoLoadSource::openWith);
    window->raise();
    window->activateWindow();
}

void KavloApp::quit() {
    const auto running = [this] {
        int count = 0;
        for (MainWindow* window : windows())
            count += window->model().runningExports();
        return count;
    };
    const int now = running();
    if (now > 0 &&
        !askToStopWork(windows().value(0), QStringLiteral("Export in progress"),
                       now == 1 ? QStringLiteral("An export is still running. Quitting stops it.")
                                : QStringLiteral("%1 exports are still running. Quitting stops "
                                                 "them.")
                                      .arg(now),
                       QStringLiteral("Quit Anyway"), [&] { return running() > 0; }))
        return;
    for (MainWindow* window : windows())
        window->closeWithoutAsking();
    QApplication::quit();
}

QList<MainWindow*> KavloApp::windows() const {
    QList<MainWindow*> open;
    for (const QPointer<QWidget>& window : windows_) {
        if (window)
            open.append(static_cast<MainWindow*>(window.data()));
    }
    return open;
}

bool KavloApp::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        for (qsizetype i = 0; i < windows_.size(); ++i) {
            if (windows_[i].data() == watched) {
                windows_.move(i, 0);
                break;
            }
        }
    }
    return false;
}

} // namespace kavlo
