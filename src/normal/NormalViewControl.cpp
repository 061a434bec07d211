// Setting, aiming, zooming and sizing the sub views.
#include <algorithm>
#include <cmath>

#include "NormalViewClamp.h"
#include "engine/EngineCore.h"
#include "geometry/LensGeometry.h"

namespace zrfe {

namespace {

bool IsValidIndex(int nIndex) { return nIndex >= 0 && nIndex < kMaxSubViews; }

// Zoom steps: floor and ceiling narrow from factor 1.25 at level 0 to 4.0 at the
// top level; a wall view widens from 45 x 22.5 to 112.5 x 56.25 degrees.
constexpr unsigned int kTopZoomLevel = 20;

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

int EngineCore::SetNormalView(const tag_ZR_FE_NORMAL_VIEW_S& stView, int nIndex)
{
    if (!IsValidIndex(nIndex))
        return 0;
    if (!IsFiniteRecord(stView))
        return -1;
    const tag_ZR_FE_NORMAL_VIEW_S view = stView;  // the source may be the record itself
    tag_ZR_FE_NORMAL_VIEW_S& record = m_stNormalView[nIndex];
    record = view;
    if (IsGroundFamily(m_eInstallMode)) {
        ClampGroundView(record, m_uRadius, m_uHalfSize);
        UpdateGroundNormalMap(nIndex);
    } else if (IsWall(m_eInstallMode)) {
        ClampWallView(record, m_stWallView, m_pPanoramaMap->Size().width, m_pPanoramaMap->Size().height);
        UpdateWallNormalMap(nIndex);
    } else {
        return -1;
    }
    UpdateNormalPoints(nIndex);
    return 0;
}

int EngineCore::MoveNormalView(tag_ZR_FE_POINT_S stPoint, int nIndex)
{
    if (!IsValidIndex(nIndex))
        return -1;
    tag_ZR_FE_NORMAL_VIEW_S view = m_stNormalView[nIndex];
    if (IsGroundFamily(m_eInstallMode)) {
        if (m_eMainViewType == ZR_FE_VIEW_PANORAMA && GetOriginalPoint(stPoint, stPoint) != 0)
            return -1;
        // From the circle's bounding square into the working image, in 16 bits.
        const unsigned short off = static_cast<unsigned short>(m_uHalfSize - m_uRadius);
        const unsigned short X = static_cast<unsigned short>(stPoint.nX + off);
        const unsigned short Y = static_cast<unsigned short>(stPoint.nY + off);
        const float dx = static_cast<float>(X) - static_cast<float>(m_uHalfSize);
        const float dy = static_cast<float>(Y) - static_cast<float>(m_uHalfSize);
        const float d = sqrtf(dx * dx + dy * dy);
        // Off the axis by the angle at which the lens puts that radius.
        if (m_pLens)
            view.fAngleY = static_cast<float>(m_pLens->AngleOf(static_cast<double>(d) / m_uHalfSize) * 180.0 / kPi);
        else
            view.fAngleY = static_cast<float>(2 * atan2(static_cast<double>(d), static_cast<double>(m_uHalfSize)) *
                                              180.0 / kPi);
        view.fAngleZ =
            static_cast<float>(0.0 - (static_cast<double>(atan2f(dy, dx)) * 180.0 / kPi + 180.0));
        if (view.fAngleZ < 0)
            view.fAngleZ += static_cast<float>(kDegreesPerTurn);
    } else if (IsWall(m_eInstallMode)) {
        // Always a point of the displayed wall window.
        unsigned int x = (stPoint.nX + m_stWallView.uStartX) & 0xFFFFu;
        unsigned int y = (stPoint.nY + m_stWallView.uStartY) & 0xFFFFu;
        x = std::min(x, m_stWallView.uValidWidth);
        y = std::min(y, m_stWallView.uValidHeight);
        const float v = static_cast<float>(y) / static_cast<float>(m_pPanoramaMap->Size().height);
        view.fTilt = atanf(tanf(static_cast<float>(static_cast<double>(v) * kPi - kPi / 2)) *
                           cosf(view.fFovHor * 0.5f)) -
                     view.fFovVer * 0.5f;
        const float u = static_cast<float>(x) / static_cast<float>(m_pPanoramaMap->Size().width);
        view.fPan = static_cast<float>(static_cast<double>(u) * kPi - kPi / 2 -
                                       static_cast<double>(view.fFovHor * 0.5f));
    } else {
        return -1;
    }
    SetNormalView(view, nIndex);
    return 0;
}

int EngineCore::ZoomNormalView(unsigned int uLevel, int nIndex)
{
    if (!IsValidIndex(nIndex))
        return -1;
    uLevel = std::min(uLevel, kTopZoomLevel);
    if (m_stNormalView[nIndex].uZoom == uLevel)
        return 0;
    tag_ZR_FE_NORMAL_VIEW_S view = m_stNormalView[nIndex];
    view.uZoom = uLevel;
    if (IsGroundFamily(m_eInstallMode)) {
        // A higher level narrows the view: factor 1.25 at level 0, 4.0 at 20.
        view.fZoomVer = view.fZoomHor = static_cast<float>(uLevel) * 2.75f / static_cast<float>(kTopZoomLevel) + 1.25f;
    } else if (IsWall(m_eInstallMode)) {
        // A higher level widens it: 45 to 112.5 degrees across, 22.5 to 56.25 down.
        const float t = static_cast<float>(uLevel) / static_cast<float>(kTopZoomLevel);
        view.fFovVer = t * 0.5890486f + 0.3926991f;
        view.fFovHor = t * 1.1780972f + 0.7853982f;
    } else {
        return -1;
    }
    SetNormalView(view, nIndex);
    return 0;
}

int EngineCore::SetNormalZ(unsigned int uAngle, int nIndex)
{
    if (!IsValidIndex(nIndex))
        return -1;
    tag_ZR_FE_NORMAL_VIEW_S view = m_stNormalView[nIndex];
    view.fAngleZ = static_cast<float>(uAngle % kDegreesPerTurn);
    SetNormalView(view, nIndex);
    return 0;
}

int EngineCore::SetNormalY(unsigned int uAngle, int nIndex)
{
    if (!IsValidIndex(nIndex))
        return -1;
    tag_ZR_FE_NORMAL_VIEW_S view = m_stNormalView[nIndex];
    view.fAngleY = static_cast<float>(uAngle % 90u);
    SetNormalView(view, nIndex);
    return 0;
}

void EngineCore::SetSubViewNum(unsigned int uCount)
{
    if (uCount > static_cast<unsigned int>(kMaxSubViews))
        return;
    m_nSubViewNum = static_cast<int>(uCount);
    for (unsigned int i = 0; i < uCount; ++i) {
        if (!m_bNormalMapInUse[i]) {
            m_bNormalMapInUse[i] = true;
            SetNormalView(m_stNormalView[i], static_cast<int>(i));
        }
    }
}

int EngineCore::SetNormalSize(unsigned int uWidth, unsigned int uHeight)
{
    if (!ZRFitsPictureLimit(uWidth, uHeight))
        return -1;
    if (uWidth == m_uNormalWidth && uHeight == m_uNormalHeight)
        return 0;
    m_uNormalWidth = uWidth;
    m_uNormalHeight = uHeight;
    RebuildAllNormalViews();
    return 0;
}

void EngineCore::RebuildAllNormalViews()
{
    for (int i = 0; i < m_nSubViewNum; ++i)
        UpdateNormalMap(i);
}

int EngineCore::UpdateNormalMap(int nIndex)
{
    if (IsGroundFamily(m_eInstallMode))
        UpdateGroundNormalMap(nIndex);
    else if (IsWall(m_eInstallMode))
        UpdateWallNormalMap(nIndex);
    else
        return -1;
    return UpdateNormalPoints(nIndex);
}

int EngineCore::SetMainViewType(ENUM_ZR_FE_VIEW_TYPE_E eType, bool bForce)
{
    if (eType < 0 || eType >= 3)
        return -1;
    if (eType == m_eMainViewType && !bForce)
        return 0;
    m_eMainViewType = eType;
    for (int i = 0; i < m_nSubViewNum; ++i)
        UpdateNormalPoints(i);
    return 0;
}

}  // namespace zrfe
