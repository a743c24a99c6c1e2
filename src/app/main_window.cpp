#include "app/main_window.h"

#include "analytics/event_catalog.h"
#include "app/content_format.h"
#include "app/content_view.h"
#include "app/dialog_file_panels.h"
#include "app/infinity_mark.h"
#include "app/share_menu.h"
#include "app/update_alert.h"
#include "app/update_checker.h"
#include "app/window_contour_controller.h"
#include "session/export_estimates.h"
#include "session/export_presets.h"
#include "session/file_paths.h"
#include "session/model.h"

#include <QCloseEvent>
#include <QFile>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

namespace kavlo {

namespace {

std::vector<TimelineThumbnail> toVector(const QList<TimelineThumbnail>& thumbnails) {
    return {thumbnails.begin(), thumbnails.end()};
}

} // namespace

MainWindow::MainWindow(const WindowServices& services, QWidget* parent)
    : QWidget(parent), services_(services) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Kavlo"));
    setWindowIcon(appIcon());

    panels_ = services_.makePanels ? services_.makePanels(this)
                                   : std::make_unique<DialogFilePanels>(this);
    contour_ = std::make_unique<WindowContourController>(QSizeF(760, 560));
    updateChecker_ = services_.makeUpdateChecker();

    content_ = new ContentView(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(content_);
    contourView_ = new WindowContourView(contour_.get(), content_);

    model_ = services_.makeModel(panels_.get());
    content_->setPictureSources(model_->previewPictures(), model_->scrubPictures());
    bindModel();
    bindContent();
    bindEstimates();
    attachUpdateAlert(this, updateChecker_.get());

    for (auto [keys, action] : {std::pair{Qt::Key_N, &MainWindow::newWindowRequested},
                                std::pair{Qt::Key_Q, &MainWindow::quitRequested}}) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | keys), this);
        connect(shortcut, &QShortcut::activated, this, action);
    }
    auto* closeShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_W), this);
    connect(closeShortcut, &QShortcut::activated, this, &QWidget::close);
}

MainWindow::~MainWindow() {
    // The view draws the players' pictures: it goes before the session.
    delete content_;
    model_.reset();
}

void MainWindow::bindModel() {
    Model* m = model_.get();
    auto shape = [this] {
        contourView_->setParameters({model_->videoAspect(), kHorizontalInset, kVerticalExtra},
                                    [this](const std::filesystem::path& file) {
                                        loadVideo(file, VideoLoadSource::dragDrop);
                                    });
    };
    connect(m, &Model::urlChanged, this,
            [this] { content_->setLoaded(model_->url().has_value()); });
    connect(m, &Model::selectionChanged, this,
            [this] { content_->setSelection(model_->duration(), model_->start(), model_->end()); });
    connect(m, &Model::playheadChanged, this,
            [this] { content_->setPlayhead(model_->playhead()); });
    connect(m, &Model::thumbnailsChanged, this,
            [this] { content_->setThumbnails(toVector(model_->thumbnails())); });
    connect(m, &Model::videoAspectChanged, this, [this, shape] {
        content_->setVideoAspect(model_->videoAspect());
        shape();
    });
    connect(m, &Model::busyChanged, this, [this] { content_->setBusy(model_->busy()); });
    connect(m, &Model::noticeChanged, this, [this] { content_->setNotice(model_->notice()); });
    connect(m, &Model::exportSpeedChanged, this,
            [this] { content_->setExportSpeed(model_->exportSpeed()); });
    connect(m, &Model::scrubOverlayVisibleChanged, this,
            [this] { content_->setScrubOverlayVisible(model_->scrubOverlayVisible()); });

    content_->setLoaded(m->url().has_value());
    content_->setSelection(m->duration(), m->start(), m->end());
    content_->setPlayhead(m->playhead());
    content_->setVideoAspect(m->videoAspect());
    content_->setBusy(m->busy());
    content_->setExportSpeed(m->exportSpeed());
    shape();
}

void MainWindow::bindContent() {
    Model* m = model_.get();
    ContentView* c = content_;
    connect(c, &ContentView::chooseVideoRequested, m, &Model::chooseVideo);
    connect(c, &ContentView::loadExampleRequested, m, &Model::loadExampleVideo);
    connect(c, &ContentView::trimRequested, m, &Model::trim);
    connect(c, &ContentView::moveLoopRequested, m, &Model::moveLoop);
    connect(c, &ContentView::markFrameRequested, m, &Model::markFrame);
    connect(c, &ContentView::exportMP4Requested, m, &Model::exportMP4);
    connect(c, &ContentView::exportGIFRequested, m, &Model::exportGIF);
    connect(c, &ContentView::speedChosen, this, &MainWindow::chooseSpeed);
    connect(c, &ContentView::videoAreaPixelSizeChanged, m, &Model::setPreviewPixelSize);
    connect(c, &ContentView::thumbnailPixelSizeChanged, m, &Model::setThumbnailPixelSize);
    connect(c, &ContentView::openUrlRequested, this,
            [this](const QUrl& url) { services_.openUrl(url); });
    connect(c, &ContentView::showInFolderRequested, this, &MainWindow::showInFolder);
    connect(c, &ContentView::cancelLoadRequested, m, &Model::cancelLoad);
}

void MainWindow::bindEstimates() {
    estimates_ = new ExportEstimates(this);
    ShareMenu* menu = content_->shareMenu();
    menu->setPresets(sessionPresets().presets);
    connect(menu, &ShareMenu::presetChosen, model_.get(), &Model::exportPreset);
    auto refresh = [this] {
        estimates_->estimate(model_->url(), model_->start(), model_->end(), model_->exportSpeed());
    };
    connect(model_.get(), &Model::urlChanged, estimates_, refresh);
    connect(model_.get(), &Model::selectionChanged, estimates_, refresh);
    connect(model_.get(), &Model::exportSpeedChanged, estimates_, refresh);
    connect(estimates_, &ExportEstimates::changed, this, [this, menu] {
        const auto& results = estimates_->results();
        menu->setEstimates(results, estimates_->estimating());
        // The two plain exports keep their look; the size is in their tips.
        auto tip = [&](const char* key, const QString& unit) {
            const auto found = results.find(key);
            if (found == results.end() || !found->second.refusal.empty())
                return QString();
            const SizeEstimate& e = found->second;
            return QStringLiteral("About ") +
                   QString::fromStdString(formatFileSize(double(e.bytes))) + unit +
                   QStringLiteral(", ") + QString::number(e.size.width) + u'x' +
                   QString::number(e.size.height);
        };
        content_->exportMP4Menu()->setToolTip(tip("mp4", QStringLiteral(" a loop")));
        content_->exportGIFButton()->setToolTip(tip("gif", QString()));
    });
}

void MainWindow::chooseSpeed(double speed) {
    model_->setExportSpeed(speed);
    services_.track(events::speedChanged(speed));
    model_->prepareSmoothPreview();
}

void MainWindow::showInFolder(const std::filesystem::path& file) {
    // Without a file manager the button would do nothing at all; the user
    // still learns where the file went.
    if (!services_.openUrl(fileUrl(file.parent_path())))
        content_->showNote(QStringLiteral("No file manager could show the folder. The file is "
                                          "in “%1”.")
                               .arg(displayPath(file.parent_path())));
}

void MainWindow::loadVideo(const std::filesystem::path& file, VideoLoadSource source) {
    model_->loadVideo(file, source);
}

void MainWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!event->spontaneous())
        firstAppearance();
}

void MainWindow::firstAppearance() {
    // Hidden and shown again, the window opens nothing a second time.
    if (loadedInitialArgument_)
        return;
    loadedInitialArgument_ = true;
    services_.startAnalyticsSession();
    if (const std::string problem = takePresetsProblem(); !problem.empty())
        content_->showNote(QString::fromStdString(problem));
    updateChecker_->checkForUpdate();
    if (services_.launchArgument)
        model_->loadVideo(*services_.launchArgument, VideoLoadSource::commandLine);
}

void MainWindow::closeWithoutAsking() {
    closingWithoutAsking_ = true;
    close();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!closingWithoutAsking_ && model_->runningExports() > 0 && services_.confirmClose &&
        !services_.confirmClose(this, *model_)) {
        event->ignore();
        return;
    }
    event->accept();
}

} // namespace kavlo
