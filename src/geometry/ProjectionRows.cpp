#include "ProjectionRows.h"

#include <algorithm>
#include <cmath>

#include "Lens.h"
#include "TrigRows.h"

namespace zrfe {

namespace {
// Rows are worked in chunks small enough for the level-1 cache between the passes.
constexpr size_t kChunk = 256;

// Calls fn(first, m, offAxis, angle) for each chunk of m rays from ray first on, with
// their distances from the axis, sqrtf(right^2 + down^2), and their angles off it,
// atan2f(offAxis, along): the part that every lens shares.
template <class ChunkFn>
void ForEachChunkOffAxis(const float* right, const float* down, const float* along, size_t n, const ChunkFn& fn)
{
    float offAxis[kChunk], angle[kChunk];
    for (size_t first = 0; first < n; first += kChunk) {
        const size_t m = std::min(kChunk, n - first);
        for (size_t k = 0; k < m; ++k)
            offAxis[k] = sqrtf(right[first + k] * right[first + k] + down[first + k] * down[first + k]);
        Atan2Row(offAxis, along + first, angle, m);
        fn(first, m, offAxis, angle);
    }
}
}  // namespace

void LensProjectionRow(const LensProjection& lens, const float* right, const float* down, const float* along,
                       float circle, float centre, float* X, float* Y, unsigned char* seen, size_t n)
{
    ForEachChunkOffAxis(right, down, along, n,
                        [&](size_t first, size_t m, const float* offAxis, const float* angle) {
                            for (size_t k = 0; k < m; ++k) {
                                const size_t j = first + k;
                                seen[j] = lens.ProjectAt(right[j], down[j], offAxis[k], angle[k], circle, centre,
                                                         X[j], Y[j]);
                            }
                        });
}

}  // namespace zrfe
