// player-demo: the two players and their surfaces, to look at and drive.
//
//   player-demo LOOP [SOURCE]
//
// Plays LOOP in a gapless loop. Dragging the slider shows frames of SOURCE
// (LOOP when not given) in a scrub surface stacked above the loop; letting go
// hides it and the loop plays on. A click beside the handle shows one frame
// for 0.3 s. Space pauses and plays.
#include "app/video_view.h"
#include "media/input_file.h"
#include "playback/preview_player.h"
#include "playback/scrub_player.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {

using namespace kavlo;

// Lays its children on top of each other, each filling it.
class Stage : public QWidget {
  public:
    using QWidget::QWidget;

  protected:
    void resizeEvent(QResizeEvent*) override {
        for (QObject* child : children())
            if (auto* w = qobject_cast<QWidget*>(child))
                w->setGeometry(rect());
    }
};

class DemoWindow : public QWidget {
  public:
    DemoWindow(const QString& loopPath, const QString& sourcePath, const MediaInfo& source) {
        setWindowTitle("Kavlo player demo");
        const double fps =
            source.video->nominalFrameRate() > 0 ? source.video->nominalFrameRate() : 30;
        tolerance_ = std::max(1.0 / fps, 0.01);

        auto* stage = new Stage(this);
        stage->setAutoFillBackground(true);
        QPalette panel;
        panel.setColor(QPalette::Window, QColor(40, 44, 52));
        stage->setPalette(panel);
        stage->setMinimumSize(320, 180);
        previewView_ = new VideoView(stage);
        scrubView_ = new VideoView(stage);
        scrubView_->hide();
        previewView_->setSource(&preview_);
        scrubView_->setSource(&scrub_);

        slider_ = new QSlider(Qt::Horizontal, this);
        slider_->setRange(0, std::max(1, int(source.durationSeconds * 1000)));
        slider_->setPageStep(500);
        playButton_ = new QPushButton("Pause", this);
        status_ = new QLabel(this);
        status_->setMinimumWidth(420);

        auto* controls = new QHBoxLayout;
        controls->addWidget(playButton_);
        controls->addWidget(slider_, 1);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(stage, 1);
        layout->addLayout(controls);
        layout->addWidget(status_);

        connect(slider_, &QSlider::sliderPressed, this, [this] { beginScrub(); });
        connect(slider_, &QSlider::valueChanged, this, [this](int ms) {
            // A click beside the handle or a key shows one frame for a
            // moment, as marking a frame does in the app.
            if (!slider_->isSliderDown()) {
                beginScrub();
                resume_.start();
            }
            scrubTo(ms / 1000.0);
        });
        connect(slider_, &QSlider::sliderReleased, this, [this] { endScrub(); });
        connect(playButton_, &QPushButton::clicked, this, [this] { togglePlay(); });
        resume_.setSingleShot(true);
        resume_.setInterval(300);
        connect(&resume_, &QTimer::timeout, this, [this] { endScrub(); });
        connect(&preview_, &PreviewPlayer::failed, this,
                [this](const QString& m) { status_->setText("Preview failed: " + m); });
        connect(&scrub_, &ScrubPlayer::failed, this,
                [this](const QString& m) { status_->setText("Scrub failed: " + m); });

        auto* ticker = new QTimer(this);
        connect(ticker, &QTimer::timeout, this, [this] { showStatus(); });
        ticker->start(100);

        preview_.setItem(loopPath.toStdString(), Player::Looping::on);
        scrub_.setItem(sourcePath.toStdString());
        preview_.play();
    }

  protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Space)
            togglePlay();
        else
            QWidget::keyPressEvent(event);
    }

  private:
    // As the editing session does: the scrub surface stays hidden until its
    // first seek has landed, so no stale frame flashes.
    void beginScrub() {
        resume_.stop();
        scrubbing_ = true;
        ++generation_;
        preview_.pause();
        scrubTo(slider_->value() / 1000.0);
    }

    void scrubTo(double seconds) {
        if (!scrubbing_)
            return;
        const int generation = generation_;
        scrub_.seek(seconds, tolerance_, [this, generation](bool) {
            if (scrubbing_ && generation == generation_)
                scrubView_->show();
        });
    }

    void endScrub() {
        scrubbing_ = false;
        ++generation_;
        scrubView_->hide();
        if (playButton_->text() == "Pause")
            preview_.play();
    }

    void togglePlay() {
        if (preview_.isPlaying()) {
            preview_.pause();
            playButton_->setText("Play");
        } else {
            preview_.play();
            playButton_->setText("Pause");
        }
    }

    void showStatus() {
        status_->setText(QString("loop %1 s   scrub %2 s   dropped %3   sound %4")
                             .arg(preview_.currentTimeSeconds(), 0, 'f', 3)
                             .arg(scrub_.currentTimeSeconds(), 0, 'f', 3)
                             .arg(preview_.droppedFrames())
                             .arg(preview_.hasSoundDevice() ? "on" : "no device"));
    }

    PreviewPlayer preview_;
    ScrubPlayer scrub_;
    VideoView* previewView_;
    VideoView* scrubView_;
    QSlider* slider_;
    QPushButton* playButton_;
    QLabel* status_;
    QTimer resume_;
    double tolerance_ = 1.0 / 30;
    bool scrubbing_ = false;
    int generation_ = 0;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2 || args.size() > 3) {
        std::fprintf(stderr, "usage: player-demo LOOP [SOURCE]\n");
        return 2;
    }
    const QString loop = args[1];
    const QString source = args.size() == 3 ? args[2] : loop;
    MediaInfo info;
    try {
        info = probeMedia(source.toStdString());
        if (!info.video)
            throw std::runtime_error("no video track");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "player-demo: %s: %s\n", qPrintable(source), e.what());
        return 1;
    }
    DemoWindow window(loop, source, info);
    window.resize(960, 640);
    window.show();
    return app.exec();
}
