#include "demo_window.h"

#include "timeline/timeline_bar.h"
#include "timeline/timeline_icons.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QUuid>
#include <QVBoxLayout>

#include <cmath>
#include <cstdio>

namespace kavlo {

namespace {

const QColor kSecondaryText = QColor::fromRgbF(1, 1, 1, 0.55f);

QString timeReadout(double t) {
    const int minutes = static_cast<int>(t) / 60;
    return QString::asprintf("%02d:%05.2f", minutes, std::fmod(t, 60.0));
}

class SeekIconWidget : public QWidget {
  public:
    explicit SeekIconWidget(QWidget* parent) : QWidget(parent) { setFixedSize(13, 13); }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(TimelineSeekIcon::path(QRectF(rect())), kSecondaryText);
    }
};

QLabel* captionLabel(QWidget* parent, const QColor& color) {
    auto* label = new QLabel(parent);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 10 / 13);
    font.setStyleHint(QFont::Monospace); // digits of equal width
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    return label;
}

} // namespace

std::vector<TimelineThumbnail> makeDemoThumbnails(double duration, int count) {
    std::vector<TimelineThumbnail> thumbnails;
    for (int i = 0; i < count; ++i) {
        const double t = count > 1 ? duration * i / (count - 1) : 0;
        QImage image(160, 90, QImage::Format_RGB32);
        image.fill(QColor::fromHsvF(static_cast<float>(std::fmod(t / 6.0, 1.0)), 0.55f, 0.8f));
        QPainter p(&image);
        p.setPen(Qt::white);
        QFont font = p.font();
        font.setPixelSize(30);
        font.setBold(true);
        p.setFont(font);
        p.drawText(image.rect(), Qt::AlignCenter, QString::number(t, 'f', 2));
        p.end();
        thumbnails.push_back({QUuid::createUuid(), t, image});
    }
    return thumbnails;
}

DemoWindow::DemoWindow(const DemoOptions& options) : options_(options) {
    selection_.duration = options.duration;
    selection_.fps = 30;
    selection_.start = 0;
    selection_.end = std::min(options.duration, 1.0);
    selection_.moveTo(std::min(1.0, options.duration / 4));
    playhead_ = selection_.start;
    if (options.thumbnails)
        thumbnails_ = makeDemoThumbnails(options.duration, 24);

    setWindowTitle(QStringLiteral("Timeline demo"));
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);

    bar_ = new TimelineBar(this);
    bar_->setFixedHeight(80);
    bar_->setOnTrim([this](TrimHandle handle, double time, bool dragging) {
        std::printf("onTrim(%s, %.3f, %s)\n", handle == TrimHandle::start ? "start" : "end", time,
                    dragging ? "true" : "false");
        std::fflush(stdout);
        if (handle == TrimHandle::start)
            selection_.setStart(time);
        else
            selection_.setEnd(time);
        playhead_ = handle == TrimHandle::start ? selection_.start : selection_.end;
        pushInputs();
    });
    bar_->setOnMoveLoop([this](double start, bool dragging) {
        std::printf("onMoveLoop(%.3f, %s)\n", start, dragging ? "true" : "false");
        std::fflush(stdout);
        selection_.moveTo(start);
        pushInputs();
    });

    startLabel_ = captionLabel(this, Qt::white);
    endLabel_ = captionLabel(this, Qt::white);
    auto* hint = captionLabel(this, kSecondaryText);
    hint->setText(QStringLiteral("Click and drag the timeline to seek"));
    auto* readouts = new QHBoxLayout;
    readouts->addWidget(startLabel_);
    readouts->addStretch();
    auto* hintGroup = new QHBoxLayout;
    hintGroup->setSpacing(5);
    hintGroup->addWidget(hint);
    hintGroup->addWidget(new SeekIconWidget(this));
    readouts->addLayout(hintGroup);
    readouts->addStretch();
    readouts->addWidget(endLabel_);

    auto panelButton = [this](const QString& text) {
        auto* button = new QPushButton(text, this);
        button->setStyle(&panelStyle_);
        return button;
    };
    auto panelMenu = [this](const QString& text, const QStringList& items) {
        auto* button = new QToolButton(this);
        button->setText(text);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setPopupMode(QToolButton::InstantPopup);
        auto* menu = new QMenu(button);
        for (const QString& item : items)
            menu->addAction(item);
        button->setMenu(menu);
        button->setStyle(&panelStyle_);
        return button;
    };
    auto* controls = new QHBoxLayout;
    controls->addWidget(panelButton(QStringLiteral("Select Video")));
    auto* speed = panelMenu(QStringLiteral("1x speed"), {"0.5x speed", "1x speed", "2x speed"});
    speed->setFixedWidth(92);
    controls->addWidget(speed);
    controls->addStretch();
    controls->addWidget(
        panelMenu(QStringLiteral("Export as MP4"), {"1 loop", "2 loops", "3 loops"}));
    controls->addWidget(panelButton(QStringLiteral("Export as GIF")));

    auto* large = new QHBoxLayout;
    large->setSpacing(12);
    large->addStretch();
    for (const char* text : {"Select Video", "Load Example Video"}) {
        auto* button = new QPushButton(QString::fromUtf8(text), this);
        button->setStyle(&largeStyle_);
        large->addWidget(button);
    }
    large->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(18, 18, 18, 18);
    layout->setSpacing(16);
    layout->addLayout(large);
    layout->addStretch();
    auto* timeline = new QVBoxLayout;
    timeline->setSpacing(8);
    timeline->addWidget(bar_);
    timeline->addLayout(readouts);
    layout->addLayout(timeline);
    layout->addLayout(controls);

    timer_ = new QTimer(this);
    connect(timer_, &QTimer::timeout, this, [this] { advancePlayhead(); });
    timer_->start(33);
    pushInputs();
}

void DemoWindow::pushInputs() {
    bar_->setInputs({
        .duration = selection_.duration,
        .start = selection_.start,
        .end = selection_.end,
        .playhead = playhead_,
        .maxLoopDuration = selection_.maxLoopDuration(),
        .thumbnails = thumbnails_,
        .isLoaded = options_.loaded,
    });
    startLabel_->setText(QStringLiteral("Start ") + timeReadout(selection_.start));
    endLabel_->setText(QStringLiteral("End ") + timeReadout(selection_.end));
}

void DemoWindow::advancePlayhead() {
    // Forward, then backward, like the preview it stands in for.
    playhead_ += playheadStep_;
    if (playhead_ >= selection_.end || playhead_ <= selection_.start) {
        playhead_ = std::clamp(playhead_, selection_.start, selection_.end);
        playheadStep_ = -playheadStep_;
    }
    pushInputs();
}

} // namespace kavlo
