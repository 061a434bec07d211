// Setting, aiming, zooming and sizing the sub views.
#include <cmath>

#include "NormalViewClamp.h"
#include "ZRFishEye.h"
#include "core/HostLock.h"
#include "core/ZRFishEyeMap.h"
#include "geometry/LensGeometry.h"

namespace {

bool IsValidIndex(int nIndex) { return nIndex >= 0 && nIndex < 8; }

// A record with a NaN or infinite field would turn into a table of garbage.
bool IsFiniteRecord(const tag_ZR_FE_NORMAL_VIEW_S& v)
{
    const float fields[] = {v.fAngleX, v.fAngleY, v.fAngleZ, v.fZoomVer, v.fZoomHor,
                            v.fPan,    v.fTilt,   v.fFovHor, v.fFovVer};
    for (float f : fields)
        if (!std::isfinite(f))
            return false;
    return true;
}

}  // namespace

int CZRFishEyeDewarper::SetNormalView(const tag_ZR_FE_NORMAL_VIEW_S& stView, int nIndex)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!IsValidIndex(nIndex))
        return 0;
    if (!IsFiniteRecord(stView))
        return -1;
    const tag_ZR_FE_NORMAL_VIEW_S view = stView;  // the source may be the record itself
    tag_ZR_FE_NORMAL_VIEW_S& record = m_stNormalView[nIndex];
    record = view;
    if (zrfe::IsGroundFamily(m_eInstallMode)) {
        zrfe::ClampGroundView(record, m_uRadius, m_uHalfSize);
        UpdateGroundNormalMap(nIndex);
    } else if (zrfe::IsWall(m_eInstallMode)) {
        zrfe::ClampWallView(record, m_stWallView, m_pPanoramaMap->m_matMapX.cols, m_pPanoramaMap->m_matMapX.rows);
        UpdateWallNormalMap(nIndex);
    } else {
        return -1;
    }
    UpdateNormalPoints(nIndex);
    return 0;
}

void CZRFishEyeDewarper::GetNormalParam(tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uIndex)
{
    const HostGuard hostGuard(m_mtxHost);
    if (uIndex < 8)
        stView = m_stNormalView[uIndex];
}

int CZRFishEyeDewarper::MoveNormalView(tag_ZR_FE_POINT_S stPoint, int nIndex)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!IsValidIndex(nIndex))
        return -1;
    tag_ZR_FE_NORMAL_VIEW_S view = m_stNormalView[nIndex];
    if (zrfe::IsGroundFamily(m_eInstallMode)) {
        if (m_eMainViewType == ZR_FE_VIEW_PANORAMA && GetOriginalPoint(stPoint, stPoint) != 0)
            return -1;
        // From the circle's bounding square into the working image, in 16 bits.
        const unsigned short off = static_cast<unsigned short>(m_uHalfSize - m_uRadius);
        const unsigned short X = static_cast<unsigned short>(stPoint.nX + off);
        const unsigned short Y = static_cast<unsigned short>(stPoint.nY + off);
        const float dx = static_cast<float>(X) - static_cast<float>(m_uHalfSize);
        const float dy = static_cast<float>(Y) - static_cast<float>(m_uHalfSize);
        const float d = sqrtf(dx * dx + dy * dy);
        view.fAngleY = static_cast<float>(2 * atan2(static_cast<double>(d), static_cast<double>(m_uHalfSize)) * 180.0 /
                                          zrfe::kPi);
        view.fAngleZ =
            static_cast<float>(0.0 - (static_cast<double>(atan2f(dy, dx)) * 180.0 / zrfe::kPi + 180.0));
        if (view.fAngleZ < 0)
            view.fAngleZ += 360.0f;
    } else if (zrfe::IsWall(m_eInstallMode)) {
        // Always a point of the displayed wall window.
        unsigned int x = (stPoint.nX + m_stWallView.uStartX) & 0xFFFFu;
        unsigned int y = (stPoint.nY + m_stWallView.uStartY) & 0xFFFFu;
        x = std::min(x, m_stWallView.uValidWidth);
        y = std::min(y, m_stWallView.uValidHeight);
        const float v = static_cast<float>(y) / static_cast<float>(m_pPanoramaMap->m_matMapX.rows);
        view.fTilt = atanf(tanf(static_cast<float>(static_cast<double>(v) * zrfe::kPi - zrfe::kPi / 2)) *
                           cosf(view.fFovHor * 0.5f)) -
                     view.fFovVer * 0.5f;
        const float u = static_cast<float>(x) / static_cast<float>(m_pPanoramaMap->m_matMapX.cols);
        view.fPan = static_cast<float>(static_cast<double>(u) * zrfe::kPi - zrfe::kPi / 2 -
                                       static_cast<double>(view.fFovHor * 0.5f));
    } else {
        return -1;
    }
    SetNormalView(view, nIndex);
    return 0;
}

int CZRFishEyeDewarper::ZoomNormalView(unsigned int uLevel, int nIndex)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!IsValidIndex(nIndex))
        return -1;
    uLevel = std::min(uLevel, 20u);
    if (m_stNormalView[nIndex].uZoom == uLevel)
        return 0;
    tag_ZR_FE_NORMAL_VIEW_S view = m_stNormalView[nIndex];
    view.uZoom = uLevel;
    if (zrfe::IsGroundFamily(m_eInstallMode)) {
        // A higher level narrows the view: factor 1.25 at level 0, 4.0 at 20.
        view.fZoomVer = view.fZoomHor = static_cast<float>(uLevel) * 2.75f / 20.0f + 1.25f;
    } else if (zrfe::IsWall(m_eInstallMode)) {
        // A higher level widens it: 45 to 112.5 degrees across, 22.5 to 56.25 down.
        const float t = static_cast<float>(uLevel) / 20.0f;
        view.fFovVer = t * 0.5890486f + 0.3926991f;
        view.fFovHor = t * 1.1780972f + 0.7853982f;
    } else {
        return -1;
    }
    SetNormalView(view, nIndex);
    return 0;
}

int CZRFishEyeDewarper::SetNormalZ(unsigned int uAngle, int nIndex)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!IsValidIndex(nIndex))
        return -1;
    tag_ZR_FE_NORMAL_VIEW_S view = m_stNormalView[nIndex];
    view.fAngleZ = static_cast<float>(uAngle % 360u);
    SetNormalView(view, nIndex);
    return 0;
}

int CZRFishEyeDewarper::SetNormalY(unsigned int uAngle, int nIndex)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!IsValidIndex(nIndex))
        return -1;
    tag_ZR_FE_NORMAL_VIEW_S view = m_stNormalView[nIndex];
    view.fAngleY = static_cast<float>(uAngle % 90u);
    SetNormalView(view, nIndex);
    return 0;
}

void CZRFishEyeDewarper::SetSubViewNum(unsigned int uCount)
{
    const HostGuard hostGuard(m_mtxHost);
    if (uCount > 8)
        return;
    m_nSubViewNum = static_cast<int>(uCount);
    for (unsigned int i = 0; i < uCount; ++i) {
        if (!m_bNormalMapInUse[i]) {
            m_bNormalMapInUse[i] = true;
            SetNormalView(m_stNormalView[i], static_cast<int>(i));
        }
    }
}

int CZRFishEyeDewarper::SetNormalSize(unsigned int uWidth, unsigned int uHeight)
{
    const HostGuard hostGuard(m_mtxHost);
    if (uWidth == m_uNormalWidth && uHeight == m_uNormalHeight)
        return 0;
    m_uNormalWidth = uWidth;
    m_uNormalHeight = uHeight;
    RebuildAllNormalViews();
    return 0;
}

int CZRFishEyeDewarper::GetNormalSize(unsigned int& uWidth, unsigned int& uHeight)
{
    const HostGuard hostGuard(m_mtxHost);
    uWidth = m_uNormalWidth;
    uHeight = m_uNormalHeight;
    return 0;
}

void CZRFishEyeDewarper::RebuildAllNormalViews()
{
    for (int i = 0; i < m_nSubViewNum; ++i)
        UpdateNormalMap(i);
}

int CZRFishEyeDewarper::UpdateNormalMap(int nIndex)
{
    if (zrfe::IsGroundFamily(m_eInstallMode))
        UpdateGroundNormalMap(nIndex);
    else if (zrfe::IsWall(m_eInstallMode))
        UpdateWallNormalMap(nIndex);
    else
        return -1;
    return UpdateNormalPoints(nIndex);
}

int CZRFishEyeDewarper::SetMainViewType(ENUM_ZR_FE_VIEW_TYPE_E eType, bool bForce)
{
    const HostGuard hostGuard(m_mtxHost);
    if (eType < 0 || eType >= 3)
        return -1;
    if (eType == m_eMainViewType && !bForce)
        return 0;
    m_eMainViewType = eType;
    for (int i = 0; i < m_nSubViewNum; ++i)
        UpdateNormalPoints(i);
    return 0;
}

int CZRFishEyeDewarper::ResetMainView()
{
    const HostGuard hostGuard(m_mtxHost);
    if (!zrfe::IsWall(m_eInstallMode) || !m_pPanoramaMap)
        return -1;
    const int cols = m_pPanoramaMap->m_matMapX.cols;
    const int rows = m_pPanoramaMap->m_matMapX.rows;
    CZRGuard guard(m_pPanoramaMap->m_mtxTables);
    m_stWallView.uStartX = static_cast<unsigned int>((cols - static_cast<int>(m_stWallView.uWidth)) / 2);
    m_stWallView.uStartY = static_cast<unsigned int>((rows - static_cast<int>(m_stWallView.uHeight)) / 2);
    return 0;
}
