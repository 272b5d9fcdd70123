#pragma once
// Where the tool's own windows go: beside the window they belong to, and always
// inside the available area (the screen less panels and docks) of that window's
// screen, so that no part of a new window opens out of reach.
//
// All rectangles are in device-independent pixels, as Qt reports screens and
// windows at any scale factor; frames are what the window manager adds around a
// window (title bar, borders), zero without one.
//
// Thread rules: UI thread only (the widget overload reads screens and windows).

#include <QRect>

class QWidget;

// The frame rectangle for a window whose frame is `size`, placed beside `anchor`
// (a frame rectangle) with `gap` pixels between: right of it when that fits inside
// `available`, else left of it when that fits; else on the roomier side, narrowed
// to the room there but not below `minimum` width, and moved in until it fits, over
// the anchor if need be. Its top is the anchor's top, moved down or up into
// `available`. A window larger than `available` is shrunk to it.
[[nodiscard]] QRect PlaceBeside(const QRect& anchor, QSize size, int minimumWidth,
                                const QRect& available, int gap);

// Moves (and if need be shrinks, down to its minimum size hint) the top-level
// `window` beside `anchor` on the available area of `anchor`'s screen. Works before
// the window is first shown: its frame is then taken to be as wide as the anchor's.
void PlaceWindowBeside(QWidget& window, const QWidget& anchor, int gap);
