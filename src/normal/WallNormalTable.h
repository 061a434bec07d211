// Perspective sub views of a wall camera.
#ifndef ZRFISHEYE_NORMAL_WALLNORMALTABLE_H
#define ZRFISHEYE_NORMAL_WALLNORMALTABLE_H

#include <opencv2/core.hpp>

#include "ZRFishEyeTypes.h"
#include "geometry/Lens.h"

namespace zrfe {

// Builds the H x W tables over the source picture (2R x 2R, equidistant lens
// with the rim at 90 degrees) for a view on a vertical plane: each column keeps
// one horizontal angle, so vertical scene lines stay vertical. Entries that
// fall outside the source square are (0, 0). A lens finds the same rays where it
// puts them; rays beyond half its field of view are (0, 0) too.
void BuildWallNormalTable(const tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uWidth, unsigned int uHeight,
                          unsigned int uOrgRadius, cv::Mat& matMapX, cv::Mat& matMapY,
                          const LensProjection* pLens = nullptr);

}  // namespace zrfe

#endif
