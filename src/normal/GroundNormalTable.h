// Perspective sub views of a floor or ceiling camera.
#ifndef ZRFISHEYE_NORMAL_GROUNDNORMALTABLE_H
#define ZRFISHEYE_NORMAL_GROUNDNORMALTABLE_H

#include <opencv2/core.hpp>

#include "ZRFishEyeTypes.h"
#include "geometry/Lens.h"

namespace zrfe {

// The view's rotation: the centre ray tilted by fAngleY from the lens axis and
// swung by fAngleZ about it, with a quarter turn of the picture whose sign
// depends on the mount.
cv::Mat GroundNormalRotation(float fAngleY, float fAngleZ, int nInstallMode);

// Builds the h x w tables over the source picture (2R x 2R, lens centre (R, R)),
// with the unified omnidirectional lens model (focal R, k1 -0.08, xi 1).
// Empty tables for a zero width or height. With a lens, each pixel's ray (the
// same rotation and focal lengths) lands where that lens puts it, so the view is
// a true perspective picture; rays beyond half its field of view read (0, 0).
void BuildGroundNormalTable(const tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uWidth, unsigned int uHeight,
                            unsigned int uOrgRadius, int nInstallMode, cv::Mat& matMapX, cv::Mat& matMapY,
                            const LensProjection* pLens = nullptr);

}  // namespace zrfe

#endif
