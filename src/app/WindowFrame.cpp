// The frame a window manager draws around a top-level window, as the window
// manager itself states it, and a window centred by it.
#include "WindowFrame.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <optional>

#if VRINDEL_HAVE_XCB && QT_CONFIG(xcb)
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#endif

namespace {

#if VRINDEL_HAVE_XCB && QT_CONFIG(xcb)
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};

// _NET_FRAME_EXTENTS: left, right, top and bottom, set by the window manager
// on the window it frames.
std::optional<QMargins> frameExtents(const QWidget* window) {
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return std::nullopt;
    xcb_connection_t* c = x11->connection();
    static const char name[] = "_NET_FRAME_EXTENTS";
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeReply> atom(
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, std::uint16_t(std::strlen(name)), name), nullptr));
    if (!atom)
        return QMargins();
    const std::unique_ptr<xcb_get_property_reply_t, FreeReply> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, xcb_window_t(window->winId()), atom->atom, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) != 16)
        return QMargins();
    const auto* v = static_cast<const std::uint32_t*>(xcb_get_property_value(reply.get()));
    return QMargins(int(v[0]), int(v[2]), int(v[1]), int(v[3]));
}
#else
std::optional<QMargins> frameExtents(const QWidget*) {
    return std::nullopt;
}
#endif

void centreNow(QWidget* window) {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QMargins frame = windowFrame(window);
    const QSize outer = window->size().grownBy(frame);
    const QRect area = screen->geometry();
    const QPoint corner(area.x() + std::max(0, (area.width() - outer.width()) / 2),
                        area.y() + std::max(0, (area.height() - outer.height()) / 2));
    // Placed by the window itself, inside the frame: right also while Qt
    // does not know the frame yet.
    window->setGeometry(QRect(corner + QPoint(frame.left(), frame.top()), window->size()));
}

}  // namespace

QMargins windowFrame(const QWidget* window) {
    if (std::optional<QMargins> extents = frameExtents(window))
        return *extents;
    const QRect outer = window->frameGeometry(), inner = window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                    outer.bottom() - inner.bottom());
}

void centreByFrame(QWidget* window) {
    centreNow(window);
    if (!windowFrame(window).isNull())
        return;
    auto* watch = new QTimer(window);
    watch->setInterval(20);
    QObject::connect(watch, &QTimer::timeout, window, [window, watch, ticks = 0]() mutable {
        const bool framed = !windowFrame(window).isNull();
        if (framed)
            centreNow(window);
        if (framed || ++ticks >= 100)
            watch->deleteLater();
    });
    watch->start();
}
