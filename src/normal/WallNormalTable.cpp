#include "WallNormalTable.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "kernels/ParallelRows.h"

#include "engine/EngineCore.h"
#include "geometry/HeadingRows.h"
#include "geometry/ProjectionRows.h"
#include "geometry/LensGeometry.h"
#include "geometry/TrigRows.h"

namespace zrfe {

namespace {
// The rays of the view, given by their per-column and per-row values.
struct WallViewRays {
    std::vector<float> cosC, sinC, rowAngle;
    // A row's line is seen in column j at elevation atanf(cosOff[j] * tr). Most columns
    // right of the middle one (half) have the cosOff bits of their mirror (half + k and
    // half - k), and so its elevation: elevations are computed for the columns up to the
    // middle and for the right columns in ownColumns, and copied for the rest.
    std::vector<float> cosOff;
    std::vector<size_t> ownColumns;
    std::vector<float> ownCosOff;
    size_t half = 0;
};

// The cosines and sines of a row's elevations, column by column, with one thread's
// scratch for finding them.
struct WallViewElevations {
    std::vector<float> cosE, sinE;
    std::vector<float> arg, elevation, ownSin, ownCos;

    explicit WallViewElevations(const WallViewRays& rays)
        : cosE(rays.cosOff.size()), sinE(rays.cosOff.size()), arg(rays.half + 1), elevation(rays.half + 1),
          ownSin(rays.ownColumns.size()), ownCos(rays.ownColumns.size())
    {
    }

    void ForRow(const WallViewRays& rays, float tr)
    {
        const size_t n = rays.cosOff.size();
        const size_t left = rays.half + 1;
        for (size_t j = 0; j < left; ++j)
            arg[j] = rays.cosOff[j] * tr;
        AtanRow(arg.data(), elevation.data(), left);
        SinCosRow(elevation.data(), sinE.data(), cosE.data(), left);
        for (size_t j = left; j < n; ++j) {
            cosE[j] = cosE[2 * rays.half - j];
            sinE[j] = sinE[2 * rays.half - j];
        }
        // fewer right columns than left ones: the scratch rows have room
        const size_t own = rays.ownColumns.size();
        for (size_t k = 0; k < own; ++k)
            arg[k] = rays.ownCosOff[k] * tr;
        AtanRow(arg.data(), elevation.data(), own);
        SinCosRow(elevation.data(), ownSin.data(), ownCos.data(), own);
        for (size_t k = 0; k < own; ++k) {
            cosE[rays.ownColumns[k]] = ownCos[k];
            sinE[rays.ownColumns[k]] = ownSin[k];
        }
    }
};

// Fills the tables a row at a time; projectRow(i, cosE, sinE, scratch) writes table row i
// from the cosines and sines of its columns' elevations.
template <class ProjectRowFn>
void FillWallView(const WallViewRays& rays, int rows, const ProjectRowFn& projectRow)
{
    const size_t n = rays.cosC.size();
    ParallelRows(rows, static_cast<long long>(n), [&](int firstRow, int endRow) {
        RayRow scratch(n);
        WallViewElevations elevations(rays);
        for (int i = firstRow; i < endRow; ++i) {
            elevations.ForRow(rays, tanf(rays.rowAngle[static_cast<size_t>(i)]));
            projectRow(i, elevations.cosE.data(), elevations.sinE.data(), scratch);
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
    rays.cosC.resize(static_cast<size_t>(W));
    rays.sinC.resize(static_cast<size_t>(W));
    rays.cosOff.resize(static_cast<size_t>(W));
    for (int j = 0; j < W; ++j) {
        rays.cosOff[j] = cosf(c0 - colAngle[j]);
        rays.cosC[j] = cosf(colAngle[j]);
        rays.sinC[j] = sinf(colAngle[j]);
    }
    rays.half = static_cast<size_t>(half);
    for (size_t j = rays.half + 1; j < static_cast<size_t>(W); ++j)
        if (FloatBits(rays.cosOff[j]) != FloatBits(rays.cosOff[2 * rays.half - j])) {
            rays.ownColumns.push_back(j);
            rays.ownCosOff.push_back(rays.cosOff[j]);
        }

    const size_t n = static_cast<size_t>(W);
    if (pLens) {
        FillWallView(rays, H, [&](int i, const float* cosE, const float* sinE, RayRow& row) {
            for (size_t j = 0; j < n; ++j) {
                row.along[j] = rays.cosC[j] * cosE[j];
                row.right[j] = rays.sinC[j] * cosE[j];
                row.down[j] = sinE[j];
            }
            LensProjectionRow(*pLens, row.right, row.down, row.along, R, R, row.X, row.Y, row.seen, n);
            float* px = matMapX.ptr<float>(i);
            float* py = matMapY.ptr<float>(i);
            for (size_t j = 0; j < n; ++j)
                StoreSquareEntry(px, py, j, row.seen[j] != 0, row.X[j], row.Y[j], lim);
        });
    } else {
        FillWallView(rays, H, [&](int i, const float* cosE, const float* sinE, RayRow&) {
            EquidistantHeadingRow(rays.cosC.data(), rays.sinC.data(), cosE, sinE, s, R, lim, matMapX.ptr<float>(i),
                                  matMapY.ptr<float>(i), nullptr, nullptr, n);
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
