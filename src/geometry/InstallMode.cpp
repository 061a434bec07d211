// Install mode, lens circle, and the rebuilds they cause.
#include "GroundPanoramaTable.h"
#include "LensGeometry.h"
#include "WallPanoramaTable.h"
#include "engine/EngineCore.h"

namespace zrfe {

// Whether every picture and table a radius implies for a mount stays within the
// library's picture limit: the working square, and the floor and ceiling panorama.
bool EngineCore::RadiusFitsPictureLimit(int nMode, unsigned int uRadius)
{
    const long long side = 2LL * HalfSizeFor(nMode, uRadius);
    if (uRadius > static_cast<unsigned int>(ZR_FE_MAX_PICTURE_SIDE) || !ZRFitsPictureLimit(side, side))
        return false;
    return IsWall(nMode) || ZRFitsPictureLimit(GroundPanoramaWidth(uRadius), GroundPanoramaHeight(uRadius, 0));
}

int EngineCore::SetInstallMode(ENUM_ZR_FE_INSTALL_MODE_E eMode, unsigned int uRadius, bool bForce)
{
    if (!IsKnownMode(eMode) || !RadiusFitsPictureLimit(eMode, uRadius))
        return -1;
    if (eMode == m_eInstallMode && uRadius == m_uRadius && !bForce)
        return 0;
    m_pPanoramaMap->WithLock([&] {
        m_eInstallMode = eMode;
        m_uRadius = uRadius;
        m_uHalfSize = HalfSizeFor(eMode, uRadius);
    });
    return UpdatePanoramaMap();
}

int EngineCore::UpdatePanoramaMap()
{
    if (IsGroundFamily(m_eInstallMode)) {
        m_pPanoramaMap->WithLock([this] { m_stGroundView.uAngle = 0; });
        UpdateGroundMap();
    } else if (IsWall(m_eInstallMode)) {
        UpdateWallMap();
    }
    UpdatePointMap();
    // The sub views keep their tables; only where their outlines fall changes.
    for (int i = 0; i < m_nSubViewNum; ++i)
        UpdateNormalPoints(i);
    return 0;
}

// The panorama table depends on the mount and the radius alone (the wall's on its half size).
TableKey EngineCore::PanoramaKey() const
{
    TableKey key;
    key.kind = IsWall(m_eInstallMode) ? kWallPanoramaTable : kGroundPanoramaTable;
    key.mode = IsWall(m_eInstallMode) ? 0 : m_eInstallMode;
    key.sizes = {IsWall(m_eInstallMode) ? m_uHalfSize : m_uRadius, m_stGroundView.uRadiusCut, 0};
    key.lens = LensKey();
    return key;
}

int EngineCore::UpdateGroundMap()
{
    if (!IsGroundFamily(m_eInstallMode))
        return 0;
    // The lens circle's rows in the original view, rasterised once per radius.
    auto spans = std::make_shared<kernels::CircleSpans>();
    const int r = static_cast<int>(m_uRadius);
    if (r >= 1)
        kernels::BuildCircleSpans(cv::Size(2 * r, 2 * r), cv::Point(r, r), r, *spans);
    InstallShared(
        *m_pPanoramaMap, PanoramaKey(),
        [radius = m_uRadius, cut = m_stGroundView.uRadiusCut, mode = m_eInstallMode,
         lens = m_pLens](cv::Mat& mapX, cv::Mat& mapY) {
            BuildGroundPanoramaTable(radius, cut, mode, mapX, mapY, lens.get());
        },
        [&] {
            m_stGroundView.uRadius = m_uRadius;
            m_pCircleSpans = std::move(spans);
        });
    return 0;
}

int EngineCore::UpdateWallMap(bool bKeepWindow)
{
    if (!IsWall(m_eInstallMode))
        return 0;
    const tag_ZR_FE_WALL_VIEW_S window = bKeepWindow ? m_stWallView : ComputeWallWindow(m_uRadius, m_uHalfSize);
    InstallShared(
        *m_pPanoramaMap, PanoramaKey(),
        [halfSize = m_uHalfSize, lens = m_pLens](cv::Mat& mapX, cv::Mat& mapY) {
            BuildWallPanoramaTable(halfSize, mapX, mapY, lens.get());
        },
        [this, &window] { m_stWallView = window; });
    return 0;
}

int EngineCore::SetGroundAngle(unsigned int uAngle)
{
    if (!IsGroundFamily(m_eInstallMode))
        return -1;
    m_pPanoramaMap->WithLock([&] { m_stGroundView.uAngle = uAngle % kDegreesPerTurn; });
    return 0;
}

int EngineCore::SetWallStarty(unsigned int uStartY)
{
    if (!IsWall(m_eInstallMode))
        return -1;
    const int rows = m_pPanoramaMap->Size().height;
    const int low = (rows - static_cast<int>(m_stWallView.uValidHeight)) / 2;
    const int high = static_cast<int>(m_stWallView.uValidHeight) - static_cast<int>(m_stWallView.uHeight) + low;
    if (uStartY < static_cast<unsigned int>(low))
        uStartY = static_cast<unsigned int>(low);
    if (uStartY > static_cast<unsigned int>(high))
        uStartY = static_cast<unsigned int>(high);
    m_pPanoramaMap->WithLock([&] { m_stWallView.uStartY = uStartY; });
    return 0;
}

int EngineCore::ResetMainView()
{
    if (!IsWall(m_eInstallMode))
        return -1;
    const cv::Size size = m_pPanoramaMap->Size();
    const int cols = size.width;
    const int rows = size.height;
    m_pPanoramaMap->WithLock([&] {
        m_stWallView.uStartX = static_cast<unsigned int>((cols - static_cast<int>(m_stWallView.uWidth)) / 2);
        m_stWallView.uStartY = static_cast<unsigned int>((rows - static_cast<int>(m_stWallView.uHeight)) / 2);
    });
    return 0;
}

int EngineCore::SetOrgRadius(unsigned int uOrgRadius, bool bForce)
{
    if (uOrgRadius == m_uOrgRadius && !bForce)
        return 0;
    m_uOrgRadius = uOrgRadius;
    RebuildAllNormalViews();
    return 0;
}

}  // namespace zrfe
