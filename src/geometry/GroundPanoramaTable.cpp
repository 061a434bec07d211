#include "GroundPanoramaTable.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "LensGeometry.h"

namespace zrfe {

int GroundPanoramaHeight(unsigned int uRadius, unsigned int uRadiusCut)
{
    return RoundDown8(static_cast<int>(uRadius) - static_cast<int>(uRadiusCut));
}

int GroundPanoramaWidth(unsigned int uRadius)
{
    return RoundDown8(static_cast<int>(static_cast<double>(static_cast<int>(uRadius)) * 6.283185307179586));
}

void BuildGroundPanoramaTable(unsigned int uRadius, unsigned int uRadiusCut, int nInstallMode, cv::Mat& matMapX,
                              cv::Mat& matMapY, const LensProjection* pLens)
{
    const int H = GroundPanoramaHeight(uRadius, uRadiusCut);
    const int W = GroundPanoramaWidth(uRadius);
    if (H <= 0 || W <= 0) {
        matMapX.release();
        matMapY.release();
        return;
    }
    // Every entry is written below, so the tables need no zero fill first; create()
    // keeps matrices of the right size, so a rebuild can reuse the last tables' memory.
    matMapX.create(H, W, CV_32FC1);
    matMapY.create(H, W, CV_32FC1);
    const float c = static_cast<float>(uRadius);

    // The direction depends on the column alone; evaluate it once per column.
    std::vector<float> sinTheta(W), cosTheta(W);
    for (int j = 0; j < W; ++j) {
        const float q = static_cast<float>(j) / static_cast<float>(W);
        const float theta = static_cast<float>(static_cast<double>(q) * kPi * 2.0);
        sinTheta[j] = sinf(theta);
        cosTheta[j] = cosf(theta);
    }

    // Each row's ring radius; a lens moves the ring, never the direction.
    std::vector<float> ringRadius(H);
    std::vector<bool> ringSeen(H, true);
    const double s = HalfSizeFor(nInstallMode, uRadius);
    for (int i = 0; i < H; ++i) {
        ringRadius[i] = static_cast<float>(H - i);
        if (pLens) {
            const double elevation = (H - i) / s * (kPi / 2.0);
            ringSeen[i] = elevation <= pLens->MaxAngle();
            ringRadius[i] = static_cast<float>(s * pLens->RadiusOf(std::min(elevation, pLens->MaxAngle())));
        }
    }

    const bool turned = nInstallMode == ZR_FE_INSTALL_GROUND;
    for (int i = 0; i < H; ++i) {
        const float rho = ringRadius[i];
        const float seen = ringSeen[i] ? 1.0f : 0.0f;
        const int row = turned ? H - 1 - i : i;
        float* px = matMapX.ptr<float>(row);
        float* py = matMapY.ptr<float>(row);
        for (int j = 0; j < W; ++j) {
            const float X = (sinTheta[j] * rho + c) * seen;
            const float Y = (c - cosTheta[j] * rho) * seen;
            const int col = turned ? W - 1 - j : j;
            px[col] = X;
            py[col] = Y;
        }
    }
}

}  // namespace zrfe
