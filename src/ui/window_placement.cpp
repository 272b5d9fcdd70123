#include "ui/window_placement.h"

#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace {

// `start` moved so that [start, start + length) lies in [low, low + room); the caller
// has made `length` no larger than `room`.
int ClampInto(int start, int length, int low, int room) {
    return std::clamp(start, low, low + room - length);
}

}  // namespace

QRect PlaceBeside(const QRect& anchor, QSize size, int minimumWidth, const QRect& available,
                  int gap) {
    size = size.boundedTo(available.size());
    const int rightX = anchor.right() + 1 + gap;
    const int roomRight = available.right() + 1 - rightX;
    const int roomLeft = anchor.left() - gap - available.left();
    int x = 0;
    if (roomRight >= size.width()) {
        x = rightX;
    } else if (roomLeft >= size.width()) {
        x = anchor.left() - gap - size.width();
    } else {
        // Neither side has room: the roomier one keeps more of both windows in view,
        // the window narrowed as far as it allows.
        const bool right = roomRight >= roomLeft;
        const int room = right ? roomRight : roomLeft;
        size.setWidth(std::max(std::min(minimumWidth, size.width()), room));
        size.setWidth(std::min(size.width(), available.width()));
        x = right ? rightX : anchor.left() - gap - size.width();
    }
    x = ClampInto(x, size.width(), available.left(), available.width());
    const int y = ClampInto(anchor.top(), size.height(), available.top(), available.height());
    return QRect(QPoint(x, y), size);
}

void PlaceWindowBeside(QWidget& window, const QWidget& anchor, int gap) {
    const QScreen* screen = anchor.screen();
    if (screen == nullptr) return;
    const auto frameOf = [](const QWidget& w) {
        const QRect outer = w.frameGeometry();
        const QRect inner = w.geometry();
        return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                        outer.right() - inner.right(), outer.bottom() - inner.bottom());
    };
    // A window not yet shown has no frame; the anchor's is the best guess of the one
    // the window manager will give it.
    QMargins frame = frameOf(window);
    if (frame.isNull()) frame = frameOf(anchor);
    const QSize withFrame = window.size().grownBy(frame);
    const int minimumWidth = window.minimumSizeHint().width() + frame.left() + frame.right();
    const QRect placed = PlaceBeside(anchor.frameGeometry(), withFrame, minimumWidth,
                                     screen->availableGeometry(), gap);
    if (placed.size() != withFrame) window.resize(placed.size().shrunkBy(frame));
    // A top-level window's position is that of its frame.
    window.move(placed.topLeft());
}
