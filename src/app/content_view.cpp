#include "app/content_view.h"

#include "app/appearance.h"
#include "app/content_format.h"
#include "app/file_handover.h"
#include "app/share_menu.h"
#include "app/status_overlay.h"
#include "app/video_area.h"
#include "app/welcome_overlay.h"
#include "timeline/panel_button_style.h"
#include "timeline/timeline_bar.h"
#include "timeline/timeline_icons.h"

#include <QActionGroup>
#include <QClipboard>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>
#include <QToolButton>
#include <QVBoxLayout>

#include <cmath>

namespace kavlo {

namespace {

constexpr double kTimelineHeight = 80;
constexpr double kSpeedMenuWidth = 92;
constexpr double kDisabledOpacity = 0.38;

class SeekIconView : public QWidget {
  public:
    explicit SeekIconView(QWidget* parent) : QWidget(parent) { setFixedSize(13, 13); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(TimelineSeekIcon::path(QRectF(rect())), kSecondaryText);
    }
};

// A read-out whose digits all take the width of the widest, so that the
// time does not shift while it changes (the toolkit offers no switch for
// the font's own tabular figures).
class TabularLabel : public QLabel {
  public:
    using QLabel::QLabel;

    QSize sizeHint() const override { return {textWidth() + 1, QLabel::sizeHint().height()}; }
    QSize minimumSizeHint() const override { return sizeHint(); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        const QFontMetricsF metrics(font());
        const double baseline = (height() - metrics.height()) / 2 + metrics.ascent();
        double x = 0;
        const double cell = digitWidth();
        for (const QChar c : text()) {
            if (c.isDigit()) {
                const double advance = metrics.horizontalAdvance(c);
                painter.drawText(QPointF(x + (cell - advance) / 2, baseline), QString(c));
                x += cell;
            } else {
                painter.drawText(QPointF(x, baseline), QString(c));
                x += metrics.horizontalAdvance(c);
            }
        }
    }

  private:
    double digitWidth() const {
        const QFontMetricsF metrics(font());
        double widest = 0;
        for (char c = '0'; c <= '9'; ++c)
            widest = std::max(widest, metrics.horizontalAdvance(QChar(c)));
        return widest;
    }
    int textWidth() const {
        const QFontMetricsF metrics(font());
        double width = 0;
        for (const QChar c : text())
            width += c.isDigit() ? digitWidth() : metrics.horizontalAdvance(c);
        return int(std::ceil(width));
    }
};

// The menus' own look, to match the dark window and its panel buttons.
const QString kMenuStyle =
    QStringLiteral("QMenu { background: #1f1f21; color: white; border: 1px solid #3a3a3d;"
                   " padding: 4px; }"
                   "QMenu::item { padding: 5px 22px 5px 24px; border-radius: 4px; }"
                   "QMenu::item:selected { background: rgba(255,255,255,36); }"
                   "QMenu::item:disabled { color: rgba(255,255,255,90); }"
                   "QMenu::indicator { width: 12px; height: 12px; left: 7px; }"
                   "QMenu::indicator:checked { image: none; background: %1; border-radius: 6px; }");

QLabel* caption(const QString& text, const QColor& color, QWidget* parent, bool tabular = false) {
    auto* label = tabular ? new TabularLabel(text, parent) : new QLabel(text, parent);
    label->setFont(captionFont(label->font()));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

ContentView::ContentView(QWidget* parent)
    : QWidget(parent), panelStyle_(std::make_unique<PanelButtonStyle>()),
      largeStyle_(std::make_unique<LargePanelButtonStyle>()) {
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);
    setMinimumSize(760, 560);

    videoArea_ = new VideoArea(this);
    controls_ = buildControlStack();
    controlsDim_ = new QGraphicsOpacityEffect(controls_);
    controlsDim_->setOpacity(kDisabledOpacity);
    controls_->setGraphicsEffect(controlsDim_);

    welcome_ = new WelcomeOverlay(largeStyle_.get(), this);
    connect(welcome_, &WelcomeOverlay::selectVideoClicked, this,
            &ContentView::chooseVideoRequested);
    connect(welcome_, &WelcomeOverlay::loadExampleClicked, this,
            &ContentView::loadExampleRequested);
    connect(welcome_, &WelcomeOverlay::linkActivated, this, &ContentView::openUrlRequested);

    status_ = new StatusOverlay(this);
    connect(status_, &StatusOverlay::showInFolder, this, &ContentView::showInFolderRequested);
    connect(status_, &StatusOverlay::copyFile, this, &ContentView::copyFile);
    connect(status_, &StatusOverlay::cancelRequested, this, &ContentView::cancelLoadRequested);
    // Ctrl+C copies the saved file while its notice is up.
    auto* copy = new QShortcut(QKeySequence::Copy, this);
    copy->setContext(Qt::WindowShortcut);
    connect(copy, &QShortcut::activated, this, [this] {
        if (const std::filesystem::path file = status_->offeredFile(); !file.empty())
            copyFile(file);
    });

    // Marking has no visible control: the shortcut is the only way.
    auto* mark = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    mark->setContext(Qt::WindowShortcut);
    connect(mark, &QShortcut::activated, this, &ContentView::markFrameRequested);

    setLoaded(false);
}

// The buttons use the styles, which must outlive them: the children go
// first.
ContentView::~ContentView() {
    for (QWidget* child : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        delete child;
}

QToolButton* ContentView::panelMenu(const QString& text) {
    auto* button = new QToolButton;
    button->setText(text);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setStyle(panelStyle_.get());
    auto* menu = new QMenu(button);
    menu->setStyleSheet(kMenuStyle.arg(kAccent.name()));
    button->setMenu(menu);
    return button;
}

QWidget* ContentView::buildControlStack() {
    auto* stack = new QWidget(this);

    timeline_ = new TimelineBar(stack);
    timeline_->setFixedHeight(static_cast<int>(kTimelineHeight));
    timeline_->setOnTrim([this](TrimHandle handle, double time, bool dragging) {
        emit trimRequested(handle, time, dragging);
    });
    timeline_->setOnMoveLoop(
        [this](double start, bool dragging) { emit moveLoopRequested(start, dragging); });

    startLabel_ = caption({}, Qt::white, stack, true);
    endLabel_ = caption({}, Qt::white, stack, true);
    auto* hint = new QHBoxLayout;
    hint->setSpacing(5);
    hint->addWidget(
        caption(QStringLiteral("Click and drag the timeline to seek"), kSecondaryText, stack));
    hint->addWidget(new SeekIconView(stack));
    auto* readouts = new QHBoxLayout;
    readouts->addWidget(startLabel_);
    readouts->addStretch();
    readouts->addLayout(hint);
    readouts->addStretch();
    readouts->addWidget(endLabel_);

    selectVideo_ = new QPushButton(QStringLiteral("Select Video"), stack);
    selectVideo_->setStyle(panelStyle_.get());
    connect(selectVideo_, &QPushButton::clicked, this, &ContentView::chooseVideoRequested);

    speed_ = panelMenu(speedControlText(exportSpeed_));
    speed_->setFixedWidth(static_cast<int>(kSpeedMenuWidth));
    auto* speeds = new QActionGroup(speed_);
    for (double speed : kExportSpeeds) {
        QAction* item = speed_->menu()->addAction(speedControlText(speed));
        item->setCheckable(true);
        item->setChecked(speed == exportSpeed_);
        item->setData(speed);
        speeds->addAction(item);
        connect(item, &QAction::triggered, this, [this, speed] { emit speedChosen(speed); });
    }

    exportMP4_ = panelMenu(QStringLiteral("Export as MP4"));
    for (int loops = 1; loops <= kMaxExportLoops; ++loops) {
        QAction* item = exportMP4_->menu()->addAction(loopItemText(loops));
        connect(item, &QAction::triggered, this, [this, loops] { emit exportMP4Requested(loops); });
    }

    exportGIF_ = new QPushButton(QStringLiteral("Export as GIF"), stack);
    exportGIF_->setStyle(panelStyle_.get());
    connect(exportGIF_, &QPushButton::clicked, this, &ContentView::exportGIFRequested);

    share_ = new ShareMenu(panelStyle_.get(), stack);
    // Dark like the speed menu beside it, not the desktop's light default.
    share_->menu()->setStyleSheet(kMenuStyle.arg(kAccent.name()));

    auto* row = new QHBoxLayout;
    row->addWidget(selectVideo_);
    row->addWidget(speed_);
    row->addStretch();
    row->addWidget(exportMP4_);
    row->addWidget(exportGIF_);
    row->addWidget(share_);

    auto* timeline = new QVBoxLayout;
    timeline->setSpacing(8);
    timeline->addWidget(timeline_);
    timeline->addLayout(readouts);

    auto* layout = new QVBoxLayout(stack);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(static_cast<int>(kPanelSpacing));
    layout->addLayout(timeline);
    layout->addLayout(row);
    return stack;
}

void ContentView::setPictureSources(FrameSource* preview, FrameSource* scrub) {
    videoArea_->setSources(preview, scrub);
}

void ContentView::setLoaded(bool loaded) {
    loaded_ = loaded;
    videoArea_->setLoaded(loaded_);
    controlsDim_->setEnabled(!loaded_);
    welcome_->setVisible(!loaded_);
    inputs_.isLoaded = loaded_;
    pushTimeline();
    updateEnabled();
}

void ContentView::setSelection(double duration, double start, double end) {
    inputs_.duration = duration;
    inputs_.start = start;
    inputs_.end = end;
    inputs_.maxLoopDuration = std::min(duration, 3.0);
    startLabel_->setText(QStringLiteral("Start ") + timeReadout(start));
    endLabel_->setText(QStringLiteral("End ") + timeReadout(end));
    pushTimeline();
}

void ContentView::setPlayhead(double playhead) {
    // Up to 120 times a second while the preview loops: only the marker is
    // repainted, the strip image is kept.
    inputs_.playhead = playhead;
    timeline_->setPlayhead(playhead);
}

void ContentView::setThumbnails(std::vector<TimelineThumbnail> thumbnails) {
    inputs_.thumbnails = std::move(thumbnails);
    pushTimeline();
}

void ContentView::pushTimeline() {
    timeline_->setInputs(inputs_);
}

void ContentView::setVideoAspect(double aspect) {
    if (aspect == videoAspect_)
        return;
    videoAspect_ = aspect;
    layOut();
}

void ContentView::setBusy(bool busy) {
    busy_ = busy;
    updateEnabled();
}

void ContentView::updateEnabled() {
    controls_->setEnabled(loaded_);
    for (QWidget* control : {static_cast<QWidget*>(speed_), static_cast<QWidget*>(exportMP4_),
                             static_cast<QWidget*>(exportGIF_), static_cast<QWidget*>(share_)}) {
        control->setEnabled(!busy_);
        // The panel style draws no disabled state: the view dims the control
        // itself, unless the whole stack is dimmed already.
        if (!control->graphicsEffect())
            control->setGraphicsEffect(new QGraphicsOpacityEffect(control));
        auto* dim = static_cast<QGraphicsOpacityEffect*>(control->graphicsEffect());
        dim->setOpacity(0.45);
        dim->setEnabled(busy_ && loaded_);
    }
}

void ContentView::setExportSpeed(double speed) {
    exportSpeed_ = speed;
    speed_->setText(speedControlText(speed));
    for (QAction* item : speed_->menu()->actions())
        item->setChecked(item->data().toDouble() == speed);
}

void ContentView::setScrubOverlayVisible(bool visible) {
    videoArea_->setScrubVisible(visible);
}

void ContentView::setNotice(const Notice& notice) {
    status_->setNotice(notice);
}

void ContentView::copyFile(const std::filesystem::path& file) {
    QGuiApplication::clipboard()->setMimeData(fileMimeData(file).release());
    status_->confirmCopied();
}

void ContentView::showNote(const QString& text) {
    status_->showNote(text);
}

QRect ContentView::videoAreaRect() const {
    return videoArea_->geometry();
}

void ContentView::layOut() {
    const QRectF inner =
        QRectF(rect()).adjusted(kContentMargin, kContentMargin, -kContentMargin, -kContentMargin);
    const double width = std::max(inner.width(), 1.0);
    const QSizeF video = videoAreaSize({width, inner.height()}, videoAspect_);
    const QRect videoRect(static_cast<int>(std::lround(inner.x() + (width - video.width()) / 2)),
                          static_cast<int>(inner.y()), static_cast<int>(std::lround(video.width())),
                          static_cast<int>(std::lround(video.height())));
    videoArea_->setGeometry(videoRect);
    controls_->setGeometry(static_cast<int>(inner.x()),
                           videoRect.y() + videoRect.height() + static_cast<int>(kPanelSpacing),
                           static_cast<int>(width), controls_->sizeHint().height());
    welcome_->setGeometry(inner.toRect());
    status_->setArea(videoRect);
    reportVideoAreaPixels();
}

void ContentView::reportVideoAreaPixels() {
    const QSize pixels = videoArea_->size() * devicePixelRatioF();
    const PixelSize size{pixels.width(), pixels.height()};
    if (size != reportedPixels_) {
        reportedPixels_ = size;
        emit videoAreaPixelSizeChanged(size);
    }
    const QSize tile = tilePixelSize(timeline_->layoutGeometry().stripHeight, devicePixelRatioF());
    const PixelSize tileSize{tile.width(), tile.height()};
    if (tileSize != reportedTilePixels_) {
        reportedTilePixels_ = tileSize;
        emit thumbnailPixelSizeChanged(tileSize);
    }
}

void ContentView::resizeEvent(QResizeEvent*) {
    layOut();
}

bool ContentView::event(QEvent* event) {
    if (event->type() == QEvent::ScreenChangeInternal)
        reportVideoAreaPixels();
    return QWidget::event(event);
}

} // namespace kavlo
