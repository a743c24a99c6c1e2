// VideoView: the surface that shows one player's pictures. The picture is
// fitted into the view keeping its shape and centred; the rest of the view is
// transparent, so whatever lies behind shows through the bars and two views
// can be stacked. Every paint places the picture from the view's current
// size, so it follows resizes in the same frame; the view asks for a repaint
// only when the player's picture changes. The player is told the size in
// device pixels, again whenever the view is resized or its window moves to a
// screen of another scale.
//
// UI thread only. The view never decodes and never locks: pictures come by
// the player's frameChanged() signal, and paintEvent() only draws.
#pragma once

#include "player/frame_source.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

namespace kavlo {

// The largest rectangle with the shape of `picture` that fits `bounds`,
// centred in it; empty when the picture is.
QRectF aspectFitRect(const QSizeF& picture, const QRectF& bounds);
// Where VideoView draws a picture of `picturePixels` device pixels in
// `bounds`: aspect-fit and centred, and when the picture already has the
// fitted size to within a pixel, exactly its own size on whole device
// pixels, so that drawing it is a plain copy.
QRectF placePicture(const QSize& picturePixels, const QRectF& bounds, qreal devicePixelRatio);

class VideoView : public QWidget {
    Q_OBJECT

  public:
    explicit VideoView(QWidget* parent = nullptr);

    // Shows the pictures of `source` (not owned; null for none). Setting the
    // source already shown changes nothing.
    void setSource(FrameSource* source);
    FrameSource* source() const { return source_; }

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void takeFrame();
    void reportSize();
    QRect pictureRect() const;

    QPointer<FrameSource> source_;
    QMetaObject::Connection frameConnection_;
    QMetaObject::Connection destroyedConnection_;
    PixelSize reportedSize_;
    VideoImage image_;
    QImage qimage_; // borrows image_'s pixels
};

} // namespace kavlo
