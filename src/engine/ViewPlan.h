// How the main view is laid out from its settings: shared by the exact
// composition and by fast mode, so both show the same part of the same table.
#ifndef ZRFISHEYE_ENGINE_VIEWPLAN_H
#define ZRFISHEYE_ENGINE_VIEWPLAN_H

#include "EngineCore.h"

namespace zrfe {

// Outlines are this many pixels wide, drawn in each sub view's own colour
// (working-picture channel order Y, U, V).
constexpr int kOutlineThickness = 2;
const cv::Scalar& OutlineColour(int nIndex);

// Whether a table can be remapped from an input of this size.
bool CanRemap(const cv::Size& input, const kernels::RemapTable& table);

// The lens circle: the working image itself for a wall camera; for floor and
// ceiling, the 2r square about the centre.
cv::Rect CircleRect(const MainViewSettings& g);

// The main picture's size for these settings; 0 x 0 when nothing can be composed
// (no source, empty tables, a crop outside the working image, a degenerate size).
ViewSize PlanMainView(const MainViewSettings& g, bool bHaveSource);

// Where each row of the main picture reads the panorama table: the wall window;
// the ground strip turned left by the ground angle, optionally cut in two halves
// stacked.
kernels::RowLayout PanoramaLayout(const MainViewSettings& g);

}  // namespace zrfe

#endif
