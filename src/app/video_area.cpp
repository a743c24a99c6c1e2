#include "app/video_area.h"

#include "app/video_view.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPath>

namespace kavlo {

namespace {

QPainterPath roundedArea(const QRectF& rect) {
    QPainterPath path;
    path.addRoundedRect(rect, kVideoCornerRadius, kVideoCornerRadius);
    return path;
}

// Covers what lies outside the rounded rectangle with the window's black,
// so that the pictures below get rounded corners without a mask's jagged
// edge.
class RoundedCorners : public QWidget {
  public:
    explicit RoundedCorners(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        // Painted again under every video frame: the shape is worked out
        // once per size, the path subtraction being the costly part.
        if (outsideSize_ != size()) {
            outsideSize_ = size();
            QPainterPath all;
            all.addRect(QRectF(rect()));
            outside_ = all.subtracted(roundedArea(QRectF(rect())));
        }
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(outside_, Qt::black);
    }

  private:
    QPainterPath outside_;
    QSize outsideSize_;
};

} // namespace

VideoArea::VideoArea(QWidget* parent) : QWidget(parent) {
    // Every pixel is painted black (the corners outside the rounded shape
    // by the overlay, in the window's black too), so nothing behind needs
    // painting again under each video frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    preview_ = new VideoView(this);
    scrub_ = new VideoView(this);
    corners_ = new RoundedCorners(this);
    preview_->hide();
    scrub_->hide();
}

void VideoArea::setSources(FrameSource* preview, FrameSource* scrub) {
    preview_->setSource(preview);
    scrub_->setSource(scrub);
}

void VideoArea::setLoaded(bool loaded) {
    loaded_ = loaded;
    preview_->setVisible(loaded_);
    scrub_->setVisible(loaded_ && scrubVisible_);
}

void VideoArea::setScrubVisible(bool visible) {
    scrubVisible_ = visible;
    scrub_->setVisible(loaded_ && scrubVisible_);
}

void VideoArea::paintEvent(QPaintEvent* event) {
    QPainter(this).fillRect(event->rect(), Qt::black);
}

void VideoArea::resizeEvent(QResizeEvent*) {
    preview_->setGeometry(rect());
    scrub_->setGeometry(rect());
    corners_->setGeometry(rect());
    corners_->raise();
}

} // namespace kavlo
