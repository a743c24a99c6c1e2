// What a video surface watches: the picture a player shows now, and a signal
// when it changes. The surface tells the player how large it draws, so the
// player can make pictures at that size rather than the video's own.
//
// UI thread only. Frames are prepared on the players' threads and reach the
// UI thread as queued calls; frameChanged() is emitted there.
#pragma once

#include "player/pixel_size.h"
#include "player/video_image.h"

#include <QObject>

namespace kavlo {

class FrameSource : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // The picture on screen; null when there is none.
    virtual VideoImage currentImage() const = 0;
    // The size, in device pixels, of the box the picture is drawn into.
    virtual void setViewSize(PixelSize size) = 0;

  signals:
    void frameChanged();
};

} // namespace kavlo
