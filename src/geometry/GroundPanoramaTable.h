// The 360-degree strip of a floor or ceiling camera.
#ifndef ZRFISHEYE_GEOMETRY_GROUNDPANORAMATABLE_H
#define ZRFISHEYE_GEOMETRY_GROUNDPANORAMATABLE_H

#include <opencv2/core.hpp>

#include "Lens.h"

namespace zrfe {

// Table height H and width W for lens radius r (signed arithmetic, multiples of 8).
int GroundPanoramaHeight(unsigned int uRadius, unsigned int uRadiusCut);
int GroundPanoramaWidth(unsigned int uRadius);

// Builds the H x W tables that unroll the original view (2r x 2r, centre (r, r)):
// each row one ring, each column one direction. The ceiling table starts at
// 12 o'clock and turns clockwise with the outer ring on top; the floor table is
// the same turned by 180 degrees. Empty tables when H or W is not positive.
// Matrices passed in are reused when they have the right size and are not shared.
// Without a lens, ring rows are equally spaced in radius; with one, each row keeps
// the elevation it has without (equal steps of angle, 90 degrees at the lens
// circle's radius s) and finds that ring where the lens puts it. Rows beyond half
// the lens's field of view read (0, 0), outside the circle.
void BuildGroundPanoramaTable(unsigned int uRadius, unsigned int uRadiusCut, int nInstallMode, cv::Mat& matMapX,
                              cv::Mat& matMapY, const LensProjection* pLens = nullptr);

}  // namespace zrfe

#endif
