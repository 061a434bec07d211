#include "WallNormalTable.h"

#include <cmath>
#include <vector>

#include "kernels/ParallelRows.h"

#include "engine/EngineCore.h"
#include "geometry/ProjectionRows.h"
#include "geometry/LensGeometry.h"
#include "geometry/TrigRows.h"

namespace zrfe {

namespace {
// The rays of the view, given by their per-column and per-row values.
struct WallViewRays {
    std::vector<float> cosOff, cosC, sinC, rowAngle;
};

// Fills the tables a row at a time; projectRow(row, n) places the row's n rays in the
// source picture and clears row.seen[j] where the lens does not see ray j.
template <class ProjectRowFn>
void FillWallView(const WallViewRays& rays, float lim, cv::Mat& mapX, cv::Mat& mapY, const ProjectRowFn& projectRow)
{
    const int W = mapX.cols;
    const size_t n = static_cast<size_t>(W);
    ParallelRows(mapX.rows, W, [&](int firstRow, int endRow) {
        RayRow row(n);
        std::vector<float> elevations(2 * n);
        float* arg = elevations.data();
        float* elevation = arg + n;
        for (int i = firstRow; i < endRow; ++i) {
            const float tr = tanf(rays.rowAngle[i]);
            for (size_t j = 0; j < n; ++j)
                arg[j] = rays.cosOff[j] * tr;
            AtanRow(arg, elevation, n);
            float* cosElevation = arg;  // the argument is spent
            SinCosRow(elevation, row.down, cosElevation, n);
            for (size_t j = 0; j < n; ++j) {
                row.along[j] = rays.cosC[j] * cosElevation[j];
                row.right[j] = rays.sinC[j] * cosElevation[j];
            }
            projectRow(row, n);
            const float* X = row.X;
            const float* Y = row.Y;
            float* px = mapX.ptr<float>(i);
            float* py = mapY.ptr<float>(i);
            for (size_t j = 0; j < n; ++j)
                StoreSquareEntry(px, py, j, row.seen[j] != 0, X[j], Y[j], lim);
        }
    });
}
}  // namespace

void BuildWallNormalTable(const tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uWidth, unsigned int uHeight,
                          unsigned int uOrgRadius, cv::Mat& matMapX, cv::Mat& matMapY, const LensProjection* pLens)
{
    const int W = static_cast<int>(uWidth);
    const int H = static_cast<int>(uHeight);
    if (W <= 0 || H <= 0) {
        matMapX.release();
        matMapY.release();
        return;
    }
    const float pan = stView.fPan;
    const float tilt = stView.fTilt;
    const float fovH = stView.fFovHor;
    const float fovV = stView.fFovVer;
    const float R = static_cast<float>(uOrgRadius);

    // Columns: equally spaced on a plane at unit distance facing direction c0.
    std::vector<float> colAngle(W, 0.0f);
    const float halfFov = fovH * 0.5f;
    const float T = tanf(halfFov) + tanf(halfFov);
    const float c0 = halfFov + pan;
    const int half = W / 2;
    for (int k = 0; k <= half; ++k) {
        const float a = atanf((static_cast<float>(k) / static_cast<float>(W - 1)) * T);
        colAngle[half - k] = c0 - a;
        if (half + k < W)
            colAngle[half + k] = a + c0;
    }

    // Rows: heights equally spaced on the view plane, the top row's side ends
    // at elevation tilt and the bottom row's at tilt + fovV.
    WallViewRays rays;
    std::vector<float>& rowAngle = rays.rowAngle;
    rowAngle.assign(static_cast<size_t>(H), 0.0f);
    const float t0 = tanf(tilt) / cosf(halfFov);
    const float t1 = tanf(fovV + tilt) / cosf(halfFov);
    const float span = t1 - t0;
    for (int i = 0; i < H; ++i)
        rowAngle[i] = atanf((static_cast<float>(i) / static_cast<float>(H - 1)) * span + t0);

    // Every entry is written below (0 outside the source square), so matrices of the
    // right size passed in are reused as they are.
    matMapX.create(H, W, CV_32FC1);
    matMapY.create(H, W, CV_32FC1);
    const float s = (R + R) / kPiF;  // the rim at 90 degrees
    const float lim = static_cast<float>(2 * uOrgRadius);

    // Per-column values are pure functions of the column angle; computing them
    // once gives the same entries as computing them per pixel.
    rays.cosOff.resize(static_cast<size_t>(W));
    rays.cosC.resize(static_cast<size_t>(W));
    rays.sinC.resize(static_cast<size_t>(W));
    for (int j = 0; j < W; ++j) {
        rays.cosOff[j] = cosf(c0 - colAngle[j]);
        rays.cosC[j] = cosf(colAngle[j]);
        rays.sinC[j] = sinf(colAngle[j]);
    }

    if (pLens) {
        FillWallView(rays, lim, matMapX, matMapY, [&](RayRow& row, size_t n) {
            LensProjectionRow(*pLens, row.right, row.down, row.along, R, R, row.X, row.Y, row.seen, n);
        });
    } else {
        FillWallView(rays, lim, matMapX, matMapY, [&](RayRow& row, size_t n) {
            EquidistantOffsetsRow(row.right, row.down, row.along, s, row.X, row.Y, n);
            for (size_t j = 0; j < n; ++j) {
                row.X[j] = row.X[j] + R;
                row.Y[j] = row.Y[j] + R;
            }
        });
    }
}

int EngineCore::UpdateWallNormalMap(int nIndex)
{
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return -1;
    m_bNormalMapInUse[nIndex] = true;
    const tag_ZR_FE_NORMAL_VIEW_S& view = m_stNormalView[nIndex];
    TableKey key;
    key.kind = kWallSubViewTable;
    key.settings = {FloatBits(view.fPan), FloatBits(view.fTilt), FloatBits(view.fFovHor), FloatBits(view.fFovVer)};
    key.sizes = {m_uNormalWidth, m_uNormalHeight, m_uOrgRadius};
    key.lens = LensKey();
    InstallShared(*m_pNormalMap[static_cast<size_t>(nIndex)], key,
                  [view, width = m_uNormalWidth, height = m_uNormalHeight, orgRadius = m_uOrgRadius,
                   lens = m_pLens](cv::Mat& mapX, cv::Mat& mapY) {
                      BuildWallNormalTable(view, width, height, orgRadius, mapX, mapY, lens.get());
                  });
    return 0;
}

}  // namespace zrfe
