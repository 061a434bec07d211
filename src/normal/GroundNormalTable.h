// Perspective sub views of a floor or ceiling camera.
#ifndef ZRFISHEYE_NORMAL_GROUNDNORMALTABLE_H
#define ZRFISHEYE_NORMAL_GROUNDNORMALTABLE_H

#include <opencv2/core.hpp>

#include "ZRFishEyeTypes.h"

namespace zrfe {

// The view's rotation: the centre ray tilted by fAngleY from the lens axis and
// swung by fAngleZ about it, with a quarter turn of the picture whose sign
// depends on the mount.
cv::Mat GroundNormalRotation(float fAngleY, float fAngleZ, int nInstallMode);

// Builds the h x w tables over the source picture (2R x 2R, lens centre (R, R)),
// with the unified omnidirectional lens model (focal R, k1 -0.08, xi 1).
// Empty tables for a zero width or height.
void BuildGroundNormalTable(const tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uWidth, unsigned int uHeight,
                            unsigned int uOrgRadius, int nInstallMode, cv::Mat& matMapX, cv::Mat& matMapY);

}  // namespace zrfe

#endif
