#include "app/video_view.h"

#include <QPaintEvent>
#include <QPainter>

#include <cmath>

namespace kavlo {

QRectF aspectFitRect(const QSizeF& picture, const QRectF& bounds) {
    if (picture.isEmpty() || bounds.isEmpty())
        return {};
    const QSizeF fitted = picture.scaled(bounds.size(), Qt::KeepAspectRatio);
    return QRectF(bounds.x() + (bounds.width() - fitted.width()) / 2,
                  bounds.y() + (bounds.height() - fitted.height()) / 2, fitted.width(),
                  fitted.height());
}

VideoView::VideoView(QWidget* parent) : QWidget(parent) {
    // Nothing of its own is drawn: the bars stay transparent.
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void VideoView::setSource(FrameSource* source) {
    if (source == source_)
        return;
    disconnect(frameConnection_);
    disconnect(destroyedConnection_);
    source_ = source;
    reportedSize_ = {};
    if (source_) {
        frameConnection_ =
            connect(source_, &FrameSource::frameChanged, this, &VideoView::takeFrame);
        // A player that goes takes its picture with it.
        destroyedConnection_ = connect(source_, &QObject::destroyed, this, [this] {
            source_ = nullptr;
            takeFrame();
        });
        reportSize();
    }
    takeFrame();
}

void VideoView::takeFrame() {
    const VideoImage image = source_ ? source_->currentImage() : VideoImage();
    if (image.sameAs(image_))
        return;
    const QRect before = pictureRect();
    image_ = image;
    qimage_ = image_.isNull() ? QImage()
                              : QImage(image_.bits(), image_.width(), image_.height(),
                                       image_.stride(), QImage::Format_RGB32);
    update(before.united(pictureRect()));
}

QRectF placePicture(const QSize& picturePixels, const QRectF& bounds, qreal devicePixelRatio) {
    const QRectF fitted = aspectFitRect(picturePixels, bounds);
    const QSizeF fittedPixels = fitted.size() * devicePixelRatio;
    if (fitted.isEmpty() || std::abs(fittedPixels.width() - picturePixels.width()) > 1 ||
        std::abs(fittedPixels.height() - picturePixels.height()) > 1)
        return fitted;
    // Made for this view: copied pixel for pixel, centred on whole device
    // pixels, rather than stretched by a fraction of a pixel.
    const QPointF centre = bounds.center() * devicePixelRatio;
    const QPointF topLeft(std::round(centre.x() - picturePixels.width() / 2.0),
                          std::round(centre.y() - picturePixels.height() / 2.0));
    return QRectF(topLeft / devicePixelRatio, QSizeF(picturePixels) / devicePixelRatio);
}

QRect VideoView::pictureRect() const {
    return placePicture(qimage_.size(), QRectF(rect()), devicePixelRatioF()).toAlignedRect();
}

bool VideoView::event(QEvent* event) {
    if (event->type() == QEvent::ScreenChangeInternal)
        reportSize();
    return QWidget::event(event);
}

void VideoView::paintEvent(QPaintEvent*) {
    // A change of scale without a change of screen reaches the view only
    // as a repaint.
    reportSize();
    if (qimage_.isNull())
        return;
    const qreal dpr = devicePixelRatioF();
    const QRectF target = placePicture(qimage_.size(), QRectF(rect()), dpr);
    QPainter painter(this);
    // Only a picture made for another size (the view was just resized and
    // the player has not caught up) is scaled.
    const QSizeF devicePixels = target.size() * dpr;
    if (std::abs(devicePixels.width() - qimage_.width()) > 0.01 ||
        std::abs(devicePixels.height() - qimage_.height()) > 0.01)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, qimage_);
}

void VideoView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    reportSize();
}

void VideoView::reportSize() {
    if (!source_)
        return;
    const QSize pixels = size() * devicePixelRatioF();
    const PixelSize viewSize{pixels.width(), pixels.height()};
    if (viewSize == reportedSize_)
        return;
    reportedSize_ = viewSize;
    source_->setViewSize(viewSize);
}

} // namespace kavlo
