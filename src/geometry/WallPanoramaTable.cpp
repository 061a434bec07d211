#include "WallPanoramaTable.h"

#include <cmath>
#include <vector>

#include "kernels/ParallelRows.h"

#include "LensGeometry.h"

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
// Fills the tables from the angle grid; project(right, down, along, X, Y) places
// one direction in the working image, false where the lens does not see it.
template <class ProjectFn>
void FillWallPanorama(int n, const std::vector<float>& cosA, const std::vector<float>& sinA, cv::Mat& matMapX,
                      cv::Mat& matMapY, const ProjectFn& project)
{
    const float edge = static_cast<float>(n);
    // Each entry depends only on its own longitude and latitude, so the rows
    // can be filled in any order and on any number of threads.
    ParallelRows(n, n, [&](int firstRow, int endRow) {
        for (int y = firstRow; y < endRow; ++y) {
            const float cphi = cosA[y];
            const float dy = sinA[y];
            float* px = matMapX.ptr<float>(y);
            float* py = matMapY.ptr<float>(y);
            for (int x = 0; x < n; ++x) {
                const float dz = cosA[x] * cphi;
                const float dx = sinA[x] * cphi;
                float X = 0.0f, Y = 0.0f;
                const bool seen = project(dx, dy, dz, X, Y);
                const bool inside = seen && X >= 0.0f && X < edge && Y >= 0.0f && Y < edge;  // NaN fails
                px[x] = inside ? X : 0.0f;
                py[x] = inside ? Y : 0.0f;
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
        FillWallPanorama(n, cosA, sinA, matMapX, matMapY, [&](float dx, float dy, float dz, float& X, float& Y) {
            return pLens->Project(dx, dy, dz, s, s, X, Y);
        });
    } else {
        FillWallPanorama(n, cosA, sinA, matMapX, matMapY, [&](float dx, float dy, float dz, float& X, float& Y) {
            ProjectEquidistant(dx, dy, dz, f, s, X, Y);
            return true;
        });
    }
}

}  // namespace zrfe
