// Where a sub view falls on the original view.
#ifndef ZRFISHEYE_GEOMETRY_SUBVIEWOUTLINE_H
#define ZRFISHEYE_GEOMETRY_SUBVIEWOUTLINE_H

#include <opencv2/core.hpp>

#include "ZRFishEyeTypes.h"

namespace zrfe {

// Carries a source-picture position into the original view: scale takes it into
// the working image, offset into the floor/ceiling crop; points beyond
// [0, limit] on either axis are dropped from the border walk.
struct OutlineTransform {
    float scale;
    float offset;
    float limit;
};

OutlineTransform OutlineTransformFor(int nInstallMode, unsigned int uHalfSize, unsigned int uOrgRadius,
                                     unsigned int uRadius);

// Walks the border of a sub view's tables clockwise (about 20 steps an edge)
// and replaces the outline and centre in stPoints. Empty tables give an empty
// outline and centre (0, 0).
void ComputeSubViewOutline(const cv::Mat& matMapX, const cv::Mat& matMapY, const OutlineTransform& t,
                           tag_ZR_FE_POINT_SET_S& stPoints);

}  // namespace zrfe

#endif
