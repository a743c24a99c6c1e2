// Shared by the timeline tests: a recorder for the bar's callbacks, mouse
// events, and pixel checks.
#pragma once

#include "timeline/timeline_bar.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <ostream>
#include <vector>

namespace kavlo::test {

// One callback: a trim of `handle` (when `trim`) or a move of the loop.
struct Call {
    bool trim;
    TrimHandle handle;
    double value;
    bool dragging;
    bool operator==(const Call& o) const {
        return trim == o.trim && (!trim || handle == o.handle) &&
               std::abs(value - o.value) < 1e-9 && dragging == o.dragging;
    }
    friend std::ostream& operator<<(std::ostream& os, const Call& c) {
        return os << (c.trim ? (c.handle == TrimHandle::start ? "trim start " : "trim end ")
                             : "moveLoop ")
                  << c.value << (c.dragging ? " dragging" : " released");
    }
};
inline Call trim(TrimHandle h, double t, bool d) {
    return {true, h, t, d};
}
inline Call moveLoop(double s, bool d) {
    return {false, TrimHandle::start, s, d};
}
using Calls = std::vector<Call>;

// Records a bar's callbacks. With `feedBack` it also plays the editing
// session: each edit goes straight back into the bar's inputs from inside
// the callback, as it does in the application.
struct Recorder {
    Calls calls;
    bool feedBack = false;

    void attach(TimelineBar& bar) {
        bar.setOnTrim([this, &bar](TrimHandle h, double t, bool d) {
            calls.push_back(trim(h, t, d));
            TimelineBarInputs in = bar.inputs();
            (h == TrimHandle::start ? in.start : in.end) = t;
            update(bar, in);
        });
        bar.setOnMoveLoop([this, &bar](double s, bool d) {
            calls.push_back(moveLoop(s, d));
            TimelineBarInputs in = bar.inputs();
            in.end += s - in.start;
            in.start = s;
            update(bar, in);
        });
    }
    void update(TimelineBar& bar, const TimelineBarInputs& in) {
        if (feedBack)
            bar.setInputs(in);
    }
};

// QTest keeps the button state between calls; positions are the widget's.
inline void press(QWidget* w, int x, int y = 20) {
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}
inline void drag(QWidget* w, int x, int y = 20) {
    QTest::mouseMove(w, QPoint(x, y));
}
inline void release(QWidget* w, int x, int y = 20) {
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}
// A motion with no button held. QTest would move the global cursor instead,
// which the offscreen platform does not turn into an event.
inline void hover(QWidget* w, double x, double y = 20) {
    QMouseEvent event(QEvent::MouseMove, QPointF(x, y), w->mapToGlobal(QPointF(x, y)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// The widget drawn on its own onto transparency, at its device pixel ratio.
inline QImage renderWidget(QWidget& widget) {
    const double dpr = widget.devicePixelRatioF();
    QImage image((QSizeF(widget.size()) * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// The pixel at (x, y) in device-independent pixels.
inline QColor pixelAt(const QImage& image, double x, double y) {
    const double dpr = image.devicePixelRatio();
    return image.pixelColor(static_cast<int>(x * dpr), static_cast<int>(y * dpr));
}

inline bool near(const QColor& a, const QColor& b, int tolerance = 2) {
    return std::abs(a.red() - b.red()) <= tolerance &&
           std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance &&
           std::abs(a.alpha() - b.alpha()) <= tolerance;
}

} // namespace kavlo::test
