// Painting a frame slot in a widget's paint event.
#pragma once

#include <QPainter>
#include <QRegion>

#include "capture/frame_slot.h"

namespace velmora {

// Paints `slot` at the top-left of the widget that `painter` paints, within
// `region` (the paint event's, in the widget's coordinates): straight into
// the window's backing store when the painter draws there 1:1, with the row
// copy the capture uses, else through the painter.  A review step shows a
// whole frame, and QPainter's copy of it costs more than the rest of the step.
void paintSlot(QPainter& painter, QWidget* widget, const QRegion& region, const FrameSlot& slot);

}  // namespace velmora
