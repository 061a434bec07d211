// What the lens can show: the limits a sub view's record is held to.
#ifndef ZRFISHEYE_NORMAL_NORMALVIEWCLAMP_H
#define ZRFISHEYE_NORMAL_NORMALVIEWCLAMP_H

#include "ZRFishEyeTypes.h"

namespace zrfe {

// Floor and ceiling: the largest tilt whose view edge stays on the lens
// circle of radius r in a working image of half size s (about 53.19 degrees
// at zoom 1.25, 75.38 at 4.0). A limit that is not a number leaves the tilt.
float GroundTiltLimit(unsigned int uRadius, unsigned int uHalfSize, float fZoomHor);
void ClampGroundView(tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uRadius, unsigned int uHalfSize);

// Wall: pan and tilt are held inside the valid band of the panorama table.
void ClampWallView(tag_ZR_FE_NORMAL_VIEW_S& stView, const tag_ZR_FE_WALL_VIEW_S& stWall, int nTableCols,
                   int nTableRows);

}  // namespace zrfe

#endif
