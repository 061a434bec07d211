// The longitude/latitude picture of a wall camera.
#ifndef ZRFISHEYE_GEOMETRY_WALLPANORAMATABLE_H
#define ZRFISHEYE_GEOMETRY_WALLPANORAMATABLE_H

#include <opencv2/core.hpp>

#include "Lens.h"
#include "ZRFishEyeTypes.h"

namespace zrfe {

// The shown window of the 2s x 2s table, centred, for lens radius r.
tag_ZR_FE_WALL_VIEW_S ComputeWallWindow(unsigned int uRadius, unsigned int uHalfSize);

// Builds the 2s x 2s tables over the working image (equidistant lens, 90 degrees
// at distance s): columns are equal steps of longitude from -90 to +90 degrees,
// rows equal steps of latitude from up to down. Samples on or beyond the image
// edge stay (0, 0). A lens finds the same directions where it puts them; those
// beyond half its field of view stay (0, 0) too.
void BuildWallPanoramaTable(unsigned int uHalfSize, cv::Mat& matMapX, cv::Mat& matMapY,
                            const LensProjection* pLens = nullptr);

}  // namespace zrfe

#endif
