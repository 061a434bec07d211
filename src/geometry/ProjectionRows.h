// The lenses over a row of rays at a time, with the bits of their per-ray
// projections: the library calls of a row run in vector lanes (TrigRows.h).
#ifndef ZRFISHEYE_GEOMETRY_PROJECTIONROWS_H
#define ZRFISHEYE_GEOMETRY_PROJECTIONROWS_H

#include <cstddef>
#include <vector>

namespace zrfe {

class LensProjection;

// One thread's scratch for a table row: its rays (right, down, along the axis) and
// where they land (X, Y; seen is 0 where the lens does not see a ray).
class RayRow {
    std::vector<float> m_values;
    std::vector<unsigned char> m_seen;

public:
    explicit RayRow(size_t n)
        : m_values(5 * n), m_seen(n, 1), right(m_values.data()), down(right + n), along(down + n), X(along + n),
          Y(X + n), seen(m_seen.data())
    {
    }
    RayRow(const RayRow&) = delete;
    RayRow& operator=(const RayRow&) = delete;

    float* const right;
    float* const down;
    float* const along;
    float* const X;
    float* const Y;
    unsigned char* const seen;
};

// Writes table entry j: (X, Y) where the lens sees the ray and it lands on the
// edge x edge source square, (0, 0) elsewhere. NaN fails; & rather than && lets
// the callers' loops run in vector lanes.
inline void StoreSquareEntry(float* px, float* py, size_t j, bool seen, float X, float Y, float edge)
{
    const bool inside = seen & (X >= 0.0f) & (X < edge) & (Y >= 0.0f) & (Y < edge);
    px[j] = inside ? X : 0.0f;
    py[j] = inside ? Y : 0.0f;
}

// lens.Project for each ray (right, down, along); seen[j] is its result for ray j,
// and X[j], Y[j] are written only where it is true.
void LensProjectionRow(const LensProjection& lens, const float* right, const float* down, const float* along,
                       float circle, float centre, float* X, float* Y, unsigned char* seen, size_t n);

}  // namespace zrfe

#endif
