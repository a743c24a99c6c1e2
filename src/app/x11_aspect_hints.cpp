#include "app/x11_aspect_hints.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

#include <array>
#include <cmath>
#include <cstdint>

namespace kavlo {

namespace {

// WM_NORMAL_HINTS is 18 32-bit fields (ICCCM 4.1.2.3).
enum HintField {
    kFlags = 0,
    kMinAspectNum = 11,
    kMinAspectDen,
    kMaxAspectNum,
    kMaxAspectDen,
    kBaseWidth,
    kBaseHeight,
    kFieldCount = 18
};
constexpr uint32_t kAspectFlag = 1u << 7;
constexpr uint32_t kBaseSizeFlag = 1u << 8;
constexpr uint32_t kAspectDenominator = 100'000;

// Only the xcb platform has an X connection to ask; on Wayland (or
// offscreen) nothing here may reach X, not even through XWayland's DISPLAY.
xcb_connection_t* connection() {
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        return nullptr;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->connection() : nullptr;
}

using Hints = std::array<uint32_t, kFieldCount>;

Hints readHints(xcb_connection_t* c, xcb_window_t window) {
    Hints hints{};
    const auto cookie = xcb_get_property(c, 0, window, XCB_ATOM_WM_NORMAL_HINTS,
                                         XCB_ATOM_WM_SIZE_HINTS, 0, kFieldCount);
    if (xcb_get_property_reply_t* reply = xcb_get_property_reply(c, cookie, nullptr)) {
        const int count = xcb_get_property_value_length(reply) / 4;
        const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        for (int i = 0; i < count && i < kFieldCount; ++i)
            hints[i] = values[i];
        free(reply);
    }
    return hints;
}

} // namespace

std::unique_ptr<X11AspectHints> X11AspectHints::create(QWindow* window) {
    if (!window || !connection())
        return nullptr;
    return std::unique_ptr<X11AspectHints>(new X11AspectHints(window));
}

X11AspectHints::X11AspectHints(QWindow* window) : window_(window) {
    qGuiApp->installNativeEventFilter(this);
}

X11AspectHints::~X11AspectHints() {
    if (qGuiApp)
        qGuiApp->removeNativeEventFilter(this);
}

void X11AspectHints::set(double aspect, QSizeF base) {
    aspect_ = aspect;
    base_ = base;
    write();
}

void X11AspectHints::clear() {
    aspect_ = 0;
    write();
}

void X11AspectHints::write() {
    xcb_connection_t* c = connection();
    if (!c || !window_ || !window_->handle())
        return;
    const auto id = static_cast<xcb_window_t>(window_->winId());
    Hints hints = readHints(c, id);
    if (aspect_ <= 0) {
        if (hints[kFlags] & kAspectFlag) {
            hints[kFlags] &= ~kAspectFlag;
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NORMAL_HINTS,
                                XCB_ATOM_WM_SIZE_HINTS, 32, kFieldCount, hints.data());
            xcb_flush(c);
        }
        return;
    }
    const double ratio = window_->devicePixelRatio();
    const auto numerator = static_cast<uint32_t>(
        std::clamp(std::llround(aspect_ * kAspectDenominator), 1LL, 0x7fffffffLL));
    const auto baseWidth = static_cast<uint32_t>(std::lround(base_.width() * ratio));
    const auto baseHeight = static_cast<uint32_t>(std::lround(base_.height() * ratio));
    const bool current =
        (hints[kFlags] & kAspectFlag) && (hints[kFlags] & kBaseSizeFlag) &&
        hints[kMinAspectNum] == numerator && hints[kMinAspectDen] == kAspectDenominator &&
        hints[kMaxAspectNum] == numerator && hints[kMaxAspectDen] == kAspectDenominator &&
        hints[kBaseWidth] == baseWidth && hints[kBaseHeight] == baseHeight;
    if (current)
        return;
    hints[kFlags] |= kAspectFlag | kBaseSizeFlag;
    hints[kMinAspectNum] = hints[kMaxAspectNum] = numerator;
    hints[kMinAspectDen] = hints[kMaxAspectDen] = kAspectDenominator;
    hints[kBaseWidth] = baseWidth;
    hints[kBaseHeight] = baseHeight;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, kFieldCount, hints.data());
    xcb_flush(c);
}

bool X11AspectHints::pointerButtonsHeld() {
    xcb_connection_t* c = connection();
    if (!c)
        return false;
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    if (!screen)
        return false;
    xcb_query_pointer_reply_t* reply =
        xcb_query_pointer_reply(c, xcb_query_pointer(c, screen->root), nullptr);
    if (!reply)
        return false;
    const bool held = reply->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3);
    free(reply);
    return held;
}

bool X11AspectHints::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t" || !window_ || !window_->handle())
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    // Qt has just rewritten the hints without the aspect.
    if (notify->atom == XCB_ATOM_WM_NORMAL_HINTS &&
        notify->window == static_cast<xcb_window_t>(window_->winId()))
        write();
    return false;
}

} // namespace kavlo
