#include "GroundNormalTable.h"

#include <opencv2/calib3d.hpp>

#include "engine/EngineCore.h"
#include "geometry/LensGeometry.h"
#include "geometry/ProjectionRows.h"
#include "kernels/ParallelRows.h"
#include "UnifiedCameraViewMap.h"

namespace zrfe {

namespace {
cv::Mat AxisRotation(double x, double y, double z, double angle)
{
    const cv::Mat axis = (cv::Mat_<double>(3, 1) << x, y, z);
    const cv::Mat vec = ((axis * kPi) / 180.0) * angle;
    cv::Mat rotation;
    cv::Rodrigues(vec, rotation);
    return rotation;
}
}  // namespace

cv::Mat GroundNormalRotation(float fAngleY, float fAngleZ, int nInstallMode)
{
    const cv::Mat RY = AxisRotation(0, 1, 0, fAngleY);
    const cv::Mat RZ = AxisRotation(0, 0, 1, fAngleZ);
    const cv::Mat Q = AxisRotation(0, 0, 1, nInstallMode == ZR_FE_INSTALL_GROUND ? -90.0 : 90.0);
    const cv::Mat QY = Q * RY;
    return QY * RZ;
}

namespace {
// Pixel (u, v) looks along rotation^-1 * (P^-1 * (u, v, 1)), as in OpenCV's
// rectification; the lens frame has x to the right of the picture, y down and z
// along the axis.
void FillGroundViewThroughLens(const cv::Mat& rotation, const cv::Mat& P, float R, const LensProjection& lens,
                               cv::Mat& matMapX, cv::Mat& matMapY)
{
    const cv::Matx33f back = cv::Matx33f(cv::Matx33d(rotation).t());  // a rotation's inverse
    const float fx = P.at<float>(0, 0), cx = P.at<float>(0, 2);
    const float fy = P.at<float>(1, 1), cy = P.at<float>(1, 2);
    const size_t width = static_cast<size_t>(matMapX.cols);
    ParallelRows(matMapX.rows, matMapX.cols, [&](int firstRow, int endRow) {
        RayRow row(width);
        for (int v = firstRow; v < endRow; ++v) {
            const float y = (static_cast<float>(v) - cy) / fy;
            for (size_t u = 0; u < width; ++u) {
                const cv::Vec3f ray = back * cv::Vec3f((static_cast<float>(u) - cx) / fx, y, 1.0f);
                row.right[u] = ray[0];
                row.down[u] = ray[1];
                row.along[u] = ray[2];
            }
            LensProjectionRow(lens, row.right, row.down, row.along, R, R, row.X, row.Y, row.seen, width);
            float* px = matMapX.ptr<float>(v);
            float* py = matMapY.ptr<float>(v);
            for (size_t u = 0; u < width; ++u) {
                px[u] = row.seen[u] ? row.X[u] : 0.0f;
                py[u] = row.seen[u] ? row.Y[u] : 0.0f;
            }
        }
    });
}
}  // namespace

void BuildGroundNormalTable(const tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uWidth, unsigned int uHeight,
                            unsigned int uOrgRadius, int nInstallMode, cv::Mat& matMapX, cv::Mat& matMapY,
                            const LensProjection* pLens)
{
    if (uWidth == 0 || uHeight == 0) {
        matMapX.release();
        matMapY.release();
        return;
    }
    const cv::Mat rotation = GroundNormalRotation(stView.fAngleY, stView.fAngleZ, nInstallMode);

    // Both focal lengths count in half view heights.
    const float halfH = static_cast<float>(uHeight) * 0.5f;
    const float halfW = static_cast<float>(uWidth) * 0.5f;
    const cv::Mat P = (cv::Mat_<float>(3, 3) << stView.fZoomHor * halfH, 0, halfW, 0, stView.fZoomVer * halfH, halfH,
                       0, 0, 1);
    const float R = static_cast<float>(uOrgRadius);
    if (pLens) {
        matMapX.create(static_cast<int>(uHeight), static_cast<int>(uWidth), CV_32FC1);
        matMapY.create(static_cast<int>(uHeight), static_cast<int>(uWidth), CV_32FC1);
        FillGroundViewThroughLens(rotation, P, R, *pLens, matMapX, matMapY);
        return;
    }
    UnifiedCamera camera;
    camera.K = (cv::Mat_<float>(3, 3) << R, 0, R, 0, R, R, 0, 0, 1);
    camera.D = (cv::Mat_<float>(1, 4) << -0.08f, 0, 0, 0);
    camera.xi = (cv::Mat_<float>(1, 1) << 1.0f);
    const cv::Size size(static_cast<int>(uWidth), static_cast<int>(uHeight));
    BuildUnifiedCameraViewMap(camera, rotation, P, size, matMapX, matMapY);
}

int EngineCore::UpdateGroundNormalMap(int nIndex)
{
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return -1;
    m_bNormalMapInUse[nIndex] = true;
    const tag_ZR_FE_NORMAL_VIEW_S& view = m_stNormalView[nIndex];
    TableKey key;
    key.kind = kGroundSubViewTable;
    key.mode = m_eInstallMode;
    key.settings = {FloatBits(view.fAngleY), FloatBits(view.fAngleZ), FloatBits(view.fZoomHor), FloatBits(view.fZoomVer)};
    key.sizes = {m_uNormalWidth, m_uNormalHeight, m_uOrgRadius};
    key.lens = LensKey();
    InstallShared(*m_pNormalMap[static_cast<size_t>(nIndex)], key,
                  [view, width = m_uNormalWidth, height = m_uNormalHeight, orgRadius = m_uOrgRadius,
                   mode = m_eInstallMode, lens = m_pLens](cv::Mat& mapX, cv::Mat& mapY) {
                      BuildGroundNormalTable(view, width, height, orgRadius, mode, mapX, mapY, lens.get());
                  });
    return 0;
}

}  // namespace zrfe
