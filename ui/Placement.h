#pragma once

#include <QPoint>

#include <optional>

class QWidget;

// Where a dialog opens, called from its show: at `designed` (the frame's
// top-left on the screen) when the whole frame fits in the available area
// of the screen there; otherwise centred over the window it belongs to (its
// parent, else the window in use, else the screen) and moved only as far as
// needed to lie inside that screen's available area. At a large scale
// factor a fixed screen position may lie off the screen; the taskbar and
// panels are never covered.
void placeDialog(QWidget* dialog, std::optional<QPoint> designed = std::nullopt);
