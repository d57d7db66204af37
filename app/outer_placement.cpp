#include "outer_placement.h"

#include <xcb/xcb.h>

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace tarvane {

namespace {

// A window manager that lists the request answers it once it runs: one still starting on a
// loaded machine may take seconds. One that never answers delays the first showing by this much.
constexpr int kFrameAnswerLimitMs = 10000;

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

xcb_atom_t Atom(xcb_connection_t* c, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

// The 32-bit values of a property, or none when the window or the property is missing.
std::optional<std::vector<uint32_t>> Values(xcb_connection_t* c, xcb_window_t window,
                                            xcb_atom_t property, xcb_atom_t type) {
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, property, type, 0, 4096), nullptr));
    if (!reply || reply->type != type || reply->format != 32) return std::nullopt;
    const auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<uint32_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

// A window manager runs and promises to estimate frames: its check window exists and names
// itself, and it lists the request among what it supports.
bool ManagerAnswersFrameRequests(xcb_connection_t* c, xcb_window_t root, xcb_atom_t request) {
    const xcb_atom_t check = Atom(c, "_NET_SUPPORTING_WM_CHECK");
    const auto manager = Values(c, root, check, XCB_ATOM_WINDOW);
    if (!manager || manager->empty()) return false;
    const auto self = Values(c, manager->front(), check, XCB_ATOM_WINDOW);
    if (!self || self->empty() || self->front() != manager->front()) return false;
    const auto supported = Values(c, root, Atom(c, "_NET_SUPPORTED"), XCB_ATOM_ATOM);
    return supported &&
           std::find(supported->begin(), supported->end(), request) != supported->end();
}

}  // namespace

QMargins FrameBeforeMapping(QWindow* window) {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c || !window) return {};
    const auto id = static_cast<xcb_window_t>(window->winId());
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_atom_t request = Atom(c, "_NET_REQUEST_FRAME_EXTENTS");
    const xcb_atom_t extents = Atom(c, "_NET_FRAME_EXTENTS");
    if (!screen || request == XCB_ATOM_NONE ||
        !ManagerAnswersFrameRequests(c, screen->root, request))
        return {};
    auto answer = [&]() -> std::optional<QMargins> {
        const auto v = Values(c, id, extents, XCB_ATOM_CARDINAL);
        if (!v || v->size() < 4) return std::nullopt;
        // left, right, top, bottom
        return QMargins(int((*v)[0]), int((*v)[2]), int((*v)[1]), int((*v)[3]));
    };
    if (auto known = answer()) return *known;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = id;
    message.type = request;
    xcb_send_event(c, 0, screen->root,
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&message));
    xcb_flush(c);
    // The answer is a property on the window; each look is a round trip to the server.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (auto given = answer()) return *given;
        if (waited.elapsed() > kFrameAnswerLimitMs) return {};
        QThread::msleep(2);
    }
}

OuterPlacement::OuterPlacement(QWidget* window, std::optional<QSize> outerSize)
    : QObject(window), window_(window), outerSize_(outerSize) {}

void OuterPlacement::Apply() {
    if (!frame_) frame_ = FrameBeforeMapping(window_->windowHandle());
    const QSize extra = FrameExtra();
    const QSize inner = outerSize_ ? *outerSize_ - extra : window_->size();
    window_->setGeometry(Centred(inner + extra).marginsRemoved(*frame_));
}

QSize OuterPlacement::FrameExtra() const {
    const QMargins m = frame_.value_or(QMargins());
    return QSize(m.left() + m.right(), m.top() + m.bottom());
}

QRect OuterPlacement::Centred(QSize outer) const {
    // The whole screen, not the part a panel leaves free.
    QScreen* screen = window_->screen() ? window_->screen() : QGuiApplication::primaryScreen();
    const QRect s = screen ? screen->geometry() : QRect(QPoint(0, 0), outer);
    return QRect(s.x() + (s.width() - outer.width()) / 2, s.y() + (s.height() - outer.height()) / 2,
                 outer.width(), outer.height());
}

}  // namespace tarvane
