// Where a sub view falls on the original view.
#ifndef ZRFISHEYE_GEOMETRY_SUBVIEWOUTLINE_H
#define ZRFISHEYE_GEOMETRY_SUBVIEWOUTLINE_H

#include <vector>

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

// The entries of a table's float maps that its outline reads, kept when the maps
// themselves are not: the first and last rows and columns, and the centre.
struct TableEdges {
    int rows = 0, cols = 0;
    std::vector<cv::Point2f> top, bottom, left, right;
    cv::Point2f centre;
    static TableEdges Of(const cv::Mat& mapX, const cv::Mat& mapY);
    // The entry (column, row in the source) at a point of the edges or the centre.
    cv::Point2f At(int row, int col) const;
};

// Walks the border of a sub view's tables clockwise (about 20 steps an edge)
// and replaces the outline and centre in stPoints. Empty tables give an empty
// outline and centre (0, 0).
void ComputeSubViewOutline(const TableEdges& edges, const OutlineTransform& t, tag_ZR_FE_POINT_SET_S& stPoints);

}  // namespace zrfe

#endif
