#pragma once
// The frame a window manager draws around a top-level window, as the window
// manager itself states it, and a window centred by it.

#include <QMargins>

class QWidget;

// Null while the window has no frame, or none is known yet. On X11 this is
// read from the window manager's own property: Qt learns a frame that comes
// after the window is mapped only with the next move, which may never come.
QMargins windowFrame(const QWidget* window);

// Centres the window on the primary screen by its outer frame, now and once
// more when the frame is there: a window manager frames a window only after
// it is shown, so the frame is looked for a little while.
void centreByFrame(QWidget* window);
