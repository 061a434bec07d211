#include "NormalViewClamp.h"

#include <algorithm>
#include <cmath>

#include "geometry/LensGeometry.h"

namespace zrfe {

float GroundTiltLimit(unsigned int uRadius, unsigned int uHalfSize, float fZoomHor)
{
    const float ratio = static_cast<float>(uRadius) / static_cast<float>(uHalfSize);
    const float a = static_cast<float>(static_cast<double>(ratio) * kPi * 0.5);
    const float t = tanf(a * 0.5f);
    const float b = static_cast<float>(atan(static_cast<double>(t) - 1.0 / (2.0 * static_cast<double>(fZoomHor))));
    return static_cast<float>(2 * (static_cast<double>(b) / kPi * 180.0) - 1.0);
}

void ClampGroundView(tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uRadius, unsigned int uHalfSize)
{
    const float limit = GroundTiltLimit(uRadius, uHalfSize, stView.fZoomHor);
    if (limit < stView.fAngleY)
        stView.fAngleY = limit;
}

void ClampWallView(tag_ZR_FE_NORMAL_VIEW_S& stView, const tag_ZR_FE_WALL_VIEW_S& stWall, int nTableCols,
                   int nTableRows)
{
    const float kx = static_cast<float>(static_cast<int>(stWall.uValidWidth)) / static_cast<float>(nTableCols);
    const float ky = static_cast<float>(static_cast<int>(stWall.uValidHeight)) / static_cast<float>(nTableRows);
    const double kxd = kx, kyd = ky;
    const float panMin = static_cast<float>(kxd * -kPi / 2);
    const float panMax = static_cast<float>(kxd * kPi / 2 - static_cast<double>(stView.fFovHor));
    // The lower bound first: when the bounds cross, the upper one wins.
    stView.fPan = std::min(std::max(panMin, stView.fPan), panMax);
    const float tiltMin = static_cast<float>(kyd * -1.4726215563702154);
    const float tiltMax = static_cast<float>(kyd * 1.4726215563702154 - static_cast<double>(stView.fFovVer));
    stView.fTilt = std::min(std::max(tiltMin, stView.fTilt), tiltMax);
}

}  // namespace zrfe
