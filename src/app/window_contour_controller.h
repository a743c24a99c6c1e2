// WindowContourController: keeps one window in the shape of its video (the
// rules are in window_contour.h). It gives the window its first size, sets
// its size limits, refits it when the shape changes (keeping the top-left
// corner, inside the screen), and is the window's drop target for files.
//
// During a user's resize, the X11 window manager is asked to keep the aspect
// itself (X11AspectHints). Where it cannot (Wayland, a window manager that
// ignores the hint), the window is refitted once the resize has settled,
// following the edge the user dragged most.
//
// WindowContourView is the invisible child of the window's content that
// finds the hosting window and hands the controller its parameters after
// the current layout pass, only when they changed.
//
// UI thread only.
#pragma once

#include "app/window_contour.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>

namespace kavlo {

class X11AspectHints;

using DropHandler = std::function<void(const std::filesystem::path& file)>;

class WindowContourController : public QObject {
    Q_OBJECT

  public:
    // `contentFloor`: a smallest content size of the window's own (its
    // layout's minimum), kept beside the shape's.
    explicit WindowContourController(QSizeF contentFloor = {}, QObject* parent = nullptr);
    ~WindowContourController() override;

    // Takes the shape and the drop handler; a changed shape refits the
    // window already held; a new `window` is attached (sized the first time).
    void configure(QWidget* window, ContourShape shape, DropHandler onDrop);

    QWidget* window() const { return window_; }
    const ContourShape& shape() const { return shape_; }

    // How long a resize must rest before an off-shape window is refitted.
    static constexpr int kSettleMs = 350;

  signals:
    // The window was given a new size or position by the controller.
    void refitted();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void attach(QWidget* window);
    struct Limits {
        QSize minimum;
        QSize maximum;
    };
    Limits limits() const;
    void applySizeLimits();
    void refit();
    void fitWindowToAspect();
    void resetInitialWindowSize();
    void fitFirstFrameToScreen();
    void resized();
    void settle();
    void setContentGeometry(const QRectF& frame, QSizeF content, const QMarginsF& margins);
    QSizeF withinLimits(QSizeF content) const;
    std::optional<ScreenArea> screenArea() const;
    void updateHints();

    QSizeF contentFloor_;
    QPointer<QWidget> window_;
    ContourShape shape_;
    DropHandler dropHandler_;
    bool didResetInitialWindowSize_ = false;
    bool checkedFirstFrame_ = false;
    QSizeF settledSize_; // the content size before the current user resize
    bool settling_ = false;
    QTimer settleTimer_;
    std::unique_ptr<X11AspectHints> hints_;
};

class WindowContourView : public QWidget {
    Q_OBJECT

  public:
    WindowContourView(WindowContourController* controller, QWidget* parent);

    // The parameters to hand over; compared at once and, when anything
    // differs, handed over after the current layout pass (at once while the
    // window is not shown yet, so that it appears at its first size).
    void setParameters(ContourShape shape, DropHandler onDrop);

  protected:
    bool event(QEvent* event) override;

  private:
    void handOver();

    WindowContourController* controller_;
    ContourShape shape_;
    DropHandler onDrop_;
    // What the controller was last given.
    QPointer<QWidget> givenWindow_;
    std::optional<ContourShape> givenShape_;
    bool scheduled_ = false;
};

} // namespace kavlo
