#include "ProjectionRows.h"

#include <algorithm>
#include <cmath>

#include "Lens.h"
#include "TrigRows.h"

namespace zrfe {

namespace {
// Rows are worked in chunks small enough for the level-1 cache between the passes.
constexpr size_t kChunk = 256;
}  // namespace

void EquidistantOffsetsRow(const float* right, const float* down, const float* along, float focal, float* offRight,
                           float* offDown, size_t n)
{
    float offAxis[kChunk], theta[kChunk], alpha[kChunk], sinAlpha[kChunk], cosAlpha[kChunk];
    for (size_t first = 0; first < n; first += kChunk) {
        const size_t m = std::min(kChunk, n - first);
        const float* r = right + first;
        const float* d = down + first;
        for (size_t k = 0; k < m; ++k)
            offAxis[k] = sqrtf(d[k] * d[k] + r[k] * r[k]);
        Atan2Row(offAxis, along + first, theta, m);
        Atan2Row(d, r, alpha, m);
        SinCosRow(alpha, sinAlpha, cosAlpha, m);
        for (size_t k = 0; k < m; ++k) {
            const float rho = theta[k] * focal;
            offRight[first + k] = cosAlpha[k] * rho;
            offDown[first + k] = sinAlpha[k] * rho;
        }
    }
}

void LensProjectionRow(const LensProjection& lens, const float* right, const float* down, const float* along,
                       float circle, float centre, float* X, float* Y, unsigned char* seen, size_t n)
{
    float offAxis[kChunk], angle[kChunk];
    for (size_t first = 0; first < n; first += kChunk) {
        const size_t m = std::min(kChunk, n - first);
        const float* r = right + first;
        const float* d = down + first;
        for (size_t k = 0; k < m; ++k)
            offAxis[k] = sqrtf(r[k] * r[k] + d[k] * d[k]);
        Atan2Row(offAxis, along + first, angle, m);
        for (size_t k = 0; k < m; ++k) {
            const size_t j = first + k;
            seen[j] = lens.ProjectAt(r[k], d[k], offAxis[k], angle[k], circle, centre, X[j], Y[j]);
        }
    }
}

}  // namespace zrfe
