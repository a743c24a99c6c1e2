// Shared by the timeline tests: a recorder for the bar's callbacks, mouse
// events with any buttons, and pixel checks.
#pragma once

#include "timeline/timeline_bar.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kavlo::test {

struct Call {
    enum Kind { trim, moveLoop } kind;
    TrimHandle handle; // trim only
    double value;
    bool dragging;
};

// Wires a bar's callbacks to a list of calls. With `feedBack` it also plays
// the editing session: every edit goes straight back into the bar's inputs,
// from inside the callback, as it does in the application.
struct Recorder {
    std::vector<Call> calls;
    bool feedBack = false;

    void attach(TimelineBar& bar) {
        bar.setOnTrim([this, &bar](TrimHandle h, double t, bool d) {
            calls.push_back({Call::trim, h, t, d});
            if (feedBack) {
                TimelineBarInputs in = bar.inputs();
                (h == TrimHandle::start ? in.start : in.end) = t;
                bar.setInputs(in);
            }
        });
        bar.setOnMoveLoop([this, &bar](double s, bool d) {
            calls.push_back({Call::moveLoop, TrimHandle::start, s, d});
            if (feedBack) {
                TimelineBarInputs in = bar.inputs();
                in.end += s - in.start;
                in.start = s;
                bar.setInputs(in);
            }
        });
    }
};

inline void expectTrim(const Call& c, TrimHandle handle, double time, bool dragging) {
    EXPECT_EQ(c.kind, Call::trim);
    EXPECT_EQ(c.handle, handle);
    EXPECT_NEAR(c.value, time, 1e-9);
    EXPECT_EQ(c.dragging, dragging);
}

inline void expectMoveLoop(const Call& c, double start, bool dragging) {
    EXPECT_EQ(c.kind, Call::moveLoop);
    EXPECT_NEAR(c.value, start, 1e-9);
    EXPECT_EQ(c.dragging, dragging);
}

// Press, drag and release go through QTest, which keeps the button state
// between calls; positions are in the widget's own coordinates.
inline void press(QWidget* w, int x, int y = 20) {
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}
inline void drag(QWidget* w, int x, int y = 20) {
    QTest::mouseMove(w, QPoint(x, y));
}
inline void release(QWidget* w, int x, int y = 20) {
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, QPoint(x, y));
}
// A pointer motion with no button held. QTest would move the global cursor
// instead, which the offscreen platform does not turn into an event.
inline void hover(QWidget* w, double x, double y = 20) {
    const QPointF pos(x, y);
    QMouseEvent event(QEvent::MouseMove, pos, w->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
                      Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// The widget drawn on its own, onto transparency, at its own device pixel
// ratio.
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
