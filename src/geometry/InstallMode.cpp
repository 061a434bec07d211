// Install mode, lens circle, and the rebuilds they cause.
#include "GroundPanoramaTable.h"
#include "LensGeometry.h"
#include "WallPanoramaTable.h"
#include "ZRFishEye.h"
#include "core/HostLock.h"
#include "core/ZRFishEyeMap.h"
#include "geometry/PointMap.h"

int CZRFishEyeDewarper::SetInstallMode(ENUM_ZR_FE_INSTALL_MODE_E eMode, unsigned int uRadius, bool bForce)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!zrfe::IsKnownMode(eMode))
        return -1;
    if (eMode == m_eInstallMode && uRadius == m_uRadius && !bForce)
        return 0;
    {
        CZRGuard guard(m_pPanoramaMap->m_mtxTables);
        m_eInstallMode = eMode;
        m_uRadius = uRadius;
        m_uHalfSize = zrfe::HalfSizeFor(eMode, uRadius);
    }
    return UpdatePanoramaMap();
}

int CZRFishEyeDewarper::UpdatePanoramaMap()
{
    if (zrfe::IsGroundFamily(m_eInstallMode)) {
        {
            CZRGuard guard(m_pPanoramaMap->m_mtxTables);
            m_stGroundView.uAngle = 0;
        }
        UpdateGroundMap();
    } else if (zrfe::IsWall(m_eInstallMode)) {
        UpdateWallMap();
    }
    UpdatePointMap();
    // The sub views keep their tables; only where their outlines fall changes.
    for (int i = 0; i < m_nSubViewNum; ++i)
        UpdateNormalPoints(i);
    return 0;
}

int CZRFishEyeDewarper::UpdateGroundMap()
{
    if (!zrfe::IsGroundFamily(m_eInstallMode))
        return 0;
    cv::Mat mapX, mapY;
    m_pPanoramaMap->Reclaim(mapX, mapY);
    zrfe::BuildGroundPanoramaTable(m_uRadius, m_stGroundView.uRadiusCut, m_eInstallMode, mapX, mapY);
    m_pPanoramaMap->Install(mapX, mapY, [this] { m_stGroundView.uRadius = m_uRadius; });
    return 0;
}

int CZRFishEyeDewarper::UpdateWallMap()
{
    if (!zrfe::IsWall(m_eInstallMode))
        return 0;
    const tag_ZR_FE_WALL_VIEW_S window = zrfe::ComputeWallWindow(m_uRadius, m_uHalfSize);
    cv::Mat mapX, mapY;
    m_pPanoramaMap->Reclaim(mapX, mapY);
    zrfe::BuildWallPanoramaTable(m_uHalfSize, mapX, mapY);
    m_pPanoramaMap->Install(mapX, mapY, [this, &window] { m_stWallView = window; });
    return 0;
}

int CZRFishEyeDewarper::SetGroundAngle(unsigned int uAngle)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!zrfe::IsGroundFamily(m_eInstallMode))
        return -1;
    CZRGuard guard(m_pPanoramaMap->m_mtxTables);
    m_stGroundView.uAngle = uAngle % 360u;
    return 0;
}

int CZRFishEyeDewarper::SetWallStarty(unsigned int uStartY)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!zrfe::IsWall(m_eInstallMode))
        return -1;
    const int rows = m_pPanoramaMap->m_matMapX.rows;
    const int low = (rows - static_cast<int>(m_stWallView.uValidHeight)) / 2;
    const int high = static_cast<int>(m_stWallView.uValidHeight) - static_cast<int>(m_stWallView.uHeight) + low;
    if (uStartY < static_cast<unsigned int>(low))
        uStartY = static_cast<unsigned int>(low);
    if (uStartY > static_cast<unsigned int>(high))
        uStartY = static_cast<unsigned int>(high);
    CZRGuard guard(m_pPanoramaMap->m_mtxTables);
    m_stWallView.uStartY = uStartY;
    return 0;
}

tag_ZR_FE_GROUND_VIEW_S CZRFishEyeDewarper::GetGroundParam()
{
    const HostGuard hostGuard(m_mtxHost);
    return m_stGroundView;
}
tag_ZR_FE_WALL_VIEW_S CZRFishEyeDewarper::GetWallParam()
{
    const HostGuard hostGuard(m_mtxHost);
    return m_stWallView;
}

int CZRFishEyeDewarper::SetOrgRadius(unsigned int uOrgRadius, bool bForce)
{
    if (uOrgRadius == m_uOrgRadius && !bForce)
        return 0;
    m_uOrgRadius = uOrgRadius;
    if (!m_pMatSource)
        m_pMatSource.reset(new cv::Mat);
    for (int i = 0; i < m_nSubViewNum; ++i) {
        if (zrfe::IsGroundFamily(m_eInstallMode))
            UpdateGroundNormalMap(i);
        else if (zrfe::IsWall(m_eInstallMode))
            UpdateWallNormalMap(i);
        UpdateNormalPoints(i);
    }
    return 0;
}
