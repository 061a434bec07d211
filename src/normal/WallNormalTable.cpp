#include "WallNormalTable.h"

#include <cmath>
#include <vector>

#include "kernels/ParallelRows.h"

#include "engine/EngineCore.h"
#include "geometry/LensGeometry.h"

namespace zrfe {

void BuildWallNormalTable(const tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uWidth, unsigned int uHeight,
                          unsigned int uOrgRadius, cv::Mat& matMapX, cv::Mat& matMapY)
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
    std::vector<float> rowAngle(H, 0.0f);
    const float t0 = tanf(tilt) / cosf(halfFov);
    const float t1 = tanf(fovV + tilt) / cosf(halfFov);
    const float span = t1 - t0;
    for (int i = 0; i < H; ++i)
        rowAngle[i] = atanf((static_cast<float>(i) / static_cast<float>(H - 1)) * span + t0);

    // Every entry is written below (0 outside the source square), so matrices of the
    // right size passed in are reused as they are.
    matMapX.create(H, W, CV_32FC1);
    matMapY.create(H, W, CV_32FC1);
    cv::Mat& mapX = matMapX;
    cv::Mat& mapY = matMapY;
    const float s = (R + R) / kPiF;  // the rim at 90 degrees
    const float lim = static_cast<float>(2 * uOrgRadius);

    // Per-column values are pure functions of the column angle; computing them
    // once gives the same entries as computing them per pixel.
    std::vector<float> cosOff(W), cosC(W), sinC(W);
    for (int j = 0; j < W; ++j) {
        cosOff[j] = cosf(c0 - colAngle[j]);
        cosC[j] = cosf(colAngle[j]);
        sinC[j] = sinf(colAngle[j]);
    }

    ParallelRows(H, W, [&](int firstRow, int endRow) {
        for (int i = firstRow; i < endRow; ++i) {
            const float tr = tanf(rowAngle[i]);
            float* px = mapX.ptr<float>(i);
            float* py = mapY.ptr<float>(i);
            for (int j = 0; j < W; ++j) {
                const float e = atanf(cosOff[j] * tr);
                const float ce = cosf(e);
                const float dx = cosC[j] * ce;
                const float dy = sinC[j] * ce;
                const float dz = sinf(e);
                float X, Y;
                ProjectEquidistant(dy, dz, dx, s, R, X, Y);
                const bool inside = lim > X && X >= 0.0f && lim > Y && Y >= 0.0f;  // NaN fails
                px[j] = inside ? X : 0.0f;
                py[j] = inside ? Y : 0.0f;
            }
        }
    });
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
    InstallShared(*m_pNormalMap[static_cast<size_t>(nIndex)], key, [&](cv::Mat& mapX, cv::Mat& mapY) {
        BuildWallNormalTable(view, m_uNormalWidth, m_uNormalHeight, m_uOrgRadius, mapX, mapY);
    });
    return 0;
}

}  // namespace zrfe
