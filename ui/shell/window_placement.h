// Where a resizable main window opens: where the user left it last time, or
// at its designed size in the middle of its screen, and in either case never
// larger than the screen's available area nor partly outside it. Kept in the
// settings' group "Window" as the frame's Left, Top, Width and Height.
#pragma once

#include <QRect>
#include <QSize>

class QSettings;
class QWidget;

namespace qalv {

// `wanted` (a frame) moved and shrunk to lie inside `available`; an empty
// `wanted` stands for `designed` centred in the area. Never smaller than
// `minimum` unless the area itself is.
QRect FitFrame(const QRect& wanted, QSize designed, QSize minimum, const QRect& available);

// The frame stored last; an empty rectangle when none is.
QRect StoredFrame(QSettings& settings);

// Places `window` on its screen in `frame` (fitted to the screen), or at
// `designed` (its inner size) when `frame` is empty.
void PlaceWindow(QWidget& window, const QRect& frame, QSize designed);

// Stores the window's frame; a maximised or minimised window stores the
// frame it will come back to.
void SavePlacement(const QWidget& window, QSettings& settings);

}  // namespace qalv
