#include "WallPanoramaTable.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "kernels/ParallelRows.h"

#include "HeadingRows.h"
#include "LensGeometry.h"
#include "ProjectionRows.h"

namespace zrfe {

tag_ZR_FE_WALL_VIEW_S ComputeWallWindow(unsigned int uRadius, unsigned int uHalfSize)
{
    const int r2 = 2 * static_cast<int>(uRadius);
    const int s2 = 2 * static_cast<int>(uHalfSize);
    tag_ZR_FE_WALL_VIEW_S w;
    w.uValidWidth = static_cast<unsigned int>(r2);
    w.uValidHeight = static_cast<unsigned int>(r2);
    const int width = RoundDown8(r2);
    const int height = RoundDown8(static_cast<int>(static_cast<double>(r2) * 0.7));
    w.uWidth = static_cast<unsigned int>(width);
    w.uHeight = static_cast<unsigned int>(height);
    w.uStartX = static_cast<unsigned int>((s2 - width) / 2);
    w.uStartY = static_cast<unsigned int>((s2 - height) / 2);
    return w;
}

namespace {
// The directions of grid row y: longitude from the column, latitude from the row.
void GridRays(const std::vector<float>& cosA, const std::vector<float>& sinA, int y, RayRow& row)
{
    const float cphi = cosA[static_cast<size_t>(y)];
    for (size_t x = 0; x < cosA.size(); ++x) {
        row.along[x] = cosA[x] * cphi;
        row.right[x] = sinA[x] * cphi;
        row.down[x] = sinA[static_cast<size_t>(y)];
    }
}

// A lens of its own: the tables from the angle grid, a row of directions at a time.
void FillWallPanoramaThroughLens(int n, const std::vector<float>& cosA, const std::vector<float>& sinA,
                                 const LensProjection& lens, float centre, cv::Mat& matMapX, cv::Mat& matMapY)
{
    const float edge = static_cast<float>(n);
    const size_t columns = static_cast<size_t>(n);
    // Each entry depends only on its own longitude and latitude, so the rows
    // can be filled in any order and on any number of threads.
    ParallelRows(n, n, [&](int firstRow, int endRow) {
        RayRow row(columns);
        for (int y = firstRow; y < endRow; ++y) {
            GridRays(cosA, sinA, y, row);
            LensProjectionRow(lens, row.right, row.down, row.along, centre, centre, row.X, row.Y, row.seen, columns);
            float* px = matMapX.ptr<float>(y);
            float* py = matMapY.ptr<float>(y);
            for (size_t x = 0; x < columns; ++x)
                StoreSquareEntry(px, py, x, row.seen[x] != 0, row.X[x], row.Y[x], edge);
        }
    });
}

uint32_t Bits(float f)
{
    uint32_t u = 0;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

// The built-in lens, a row of rays at a time. Where row n-1-y's angle is exactly
// minus row y's, its entries are row y's with the vertical offset negated (atan2f
// is odd in its first argument, sinf odd and cosf even), so one row of library
// calls serves both rows; rows whose grid angles do not mirror exactly are
// computed on their own.
void FillWallPanoramaEquidistant(int n, const std::vector<float>& cosA, const std::vector<float>& sinA, float focal,
                                 float centre, cv::Mat& matMapX, cv::Mat& matMapY)
{
    const float edge = static_cast<float>(n);
    const auto mirrors = [&](int a, int b) {
        return Bits(sinA[b]) == Bits(-sinA[a]) && Bits(cosA[b]) == Bits(cosA[a]);
    };
    const size_t columns = static_cast<size_t>(n);
    ParallelRows((n + 1) / 2, 2LL * n, [&](int firstPair, int endPair) {
        std::vector<float> cosLatitude(columns), sinLatitude(columns);
        for (int top = firstPair; top < endPair; ++top) {
            const int bottom = n - 1 - top;
            const bool rowsMirror = bottom != top && mirrors(top, bottom);
            for (const int y : {top, bottom}) {
                if (y == bottom && (rowsMirror || bottom == top))
                    break;
                std::fill(cosLatitude.begin(), cosLatitude.end(), cosA[static_cast<size_t>(y)]);
                std::fill(sinLatitude.begin(), sinLatitude.end(), sinA[static_cast<size_t>(y)]);
                EquidistantHeadingRow(cosA.data(), sinA.data(), cosLatitude.data(), sinLatitude.data(), focal, centre,
                                      edge, matMapX.ptr<float>(y), matMapY.ptr<float>(y),
                                      rowsMirror ? matMapX.ptr<float>(bottom) : nullptr,
                                      rowsMirror ? matMapY.ptr<float>(bottom) : nullptr, columns);
            }
        }
    });
}
}  // namespace

void BuildWallPanoramaTable(unsigned int uHalfSize, cv::Mat& matMapX, cv::Mat& matMapY, const LensProjection* pLens)
{
    const int n = 2 * static_cast<int>(uHalfSize);
    if (n <= 0) {
        matMapX.release();
        matMapY.release();
        return;
    }
    // Every entry is written below (0 where the sample leaves the image), so matrices
    // of the right size passed in are reused as they are.
    matMapX.create(n, n, CV_32FC1);
    matMapY.create(n, n, CV_32FC1);

    const float s = static_cast<float>(uHalfSize);
    const float f = static_cast<float>(uHalfSize + uHalfSize) / static_cast<float>(kPi);
    // One angle grid serves longitudes and latitudes; its sines and cosines are
    // pure functions of the grid, so they are evaluated once per grid entry.
    std::vector<float> cosA(n), sinA(n);
    for (int k = 0; k < n; ++k) {
        const float q = static_cast<float>(k) / static_cast<float>(n - 1) - 0.5f;
        const float a = static_cast<float>(static_cast<double>(q) * kPi);
        cosA[k] = cosf(a);
        sinA[k] = sinf(a);
    }

    if (pLens) {
        FillWallPanoramaThroughLens(n, cosA, sinA, *pLens, s, matMapX, matMapY);
    } else {
        FillWallPanoramaEquidistant(n, cosA, sinA, f, s, matMapX, matMapY);
    }
}

}  // namespace zrfe
