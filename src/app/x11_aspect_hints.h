// Asks an X11 window manager to keep a window's shape while the user
// resizes it: the ICCCM aspect ratio with a base size, so that
// (width - base width) / (height - base height) stays at the video's aspect
// without the application fighting the user's drag.
//
// Qt writes the same property (WM_NORMAL_HINTS) whenever it changes a size
// limit or the geometry, without the aspect; the hints are written back
// whenever that happens, so Qt's own fields are kept.
//
// UI thread only.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QPointer>
#include <QSizeF>
#include <QWindow>

#include <memory>

namespace kavlo {

class X11AspectHints : public QAbstractNativeEventFilter {
  public:
    // Null when the application does not run on X11 (Wayland, offscreen).
    static std::unique_ptr<X11AspectHints> create(QWindow* window);
    ~X11AspectHints() override;

    // The aspect of the content beyond `base` (device-independent pixels).
    void set(double aspect, QSizeF base);
    // No aspect: for a window the screen is too small to keep in shape.
    void clear();

    // A mouse button is held anywhere on the display: the window manager may
    // be in the middle of a resize it has not told the window about.
    static bool pointerButtonsHeld();

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

  private:
    explicit X11AspectHints(QWindow* window);
    void write();

    QPointer<QWindow> window_;
    double aspect_ = 0;
    QSizeF base_;
};

} // namespace kavlo
