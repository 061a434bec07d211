// The built-in equidistant lens over a row of rays, with the bits of ProjectEquidistant.
#ifndef ZRFISHEYE_GEOMETRY_EQUIDISTANTROW_H
#define ZRFISHEYE_GEOMETRY_EQUIDISTANTROW_H

#include <cstddef>

namespace zrfe {

// For each ray (right, down, along), its picture offset from the circle's centre:
// ProjectEquidistant gives X = offRight + centre and Y = offDown + centre.
void EquidistantOffsetsRow(const float* right, const float* down, const float* along, float focal, float* offRight,
                           float* offDown, size_t n);

}  // namespace zrfe

#endif
