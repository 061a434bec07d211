// The lenses over a row of rays at a time, with the bits of their per-ray
// projections: the library calls of a row run in vector lanes (TrigRows.h).
#ifndef ZRFISHEYE_GEOMETRY_PROJECTIONROWS_H
#define ZRFISHEYE_GEOMETRY_PROJECTIONROWS_H

#include <cstddef>

namespace zrfe {

class LensProjection;

// For each ray (right, down, along), its picture offset from the circle's centre:
// ProjectEquidistant gives X = offRight + centre and Y = offDown + centre.
void EquidistantOffsetsRow(const float* right, const float* down, const float* along, float focal, float* offRight,
                           float* offDown, size_t n);

// lens.Project for each ray (right, down, along); seen[j] is its result for ray j,
// and X[j], Y[j] are written only where it is true.
void LensProjectionRow(const LensProjection& lens, const float* right, const float* down, const float* along,
                       float circle, float centre, float* X, float* Y, unsigned char* seen, size_t n);

}  // namespace zrfe

#endif
