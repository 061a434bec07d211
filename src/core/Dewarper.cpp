// The dewarper object: construction, destruction and plain settings.
#include <algorithm>

#include <opencv2/core.hpp>

#include "ZRFishEye.h"
#include "core/HostLock.h"
#include "ZRFishEyeMap.h"
#include "geometry/PointMap.h"

namespace {
// Factory defaults of a sub view: exactly 1.57 and 0.785, not pi/2 and pi/4.
tag_ZR_FE_NORMAL_VIEW_S DefaultNormalView()
{
    tag_ZR_FE_NORMAL_VIEW_S v;
    v.fAngleX = 0.0f;
    v.fAngleY = 0.0f;
    v.fAngleZ = 0.0f;
    v.fZoomVer = 1.25f;
    v.fZoomHor = 1.25f;
    v.fPan = 0.0f;
    v.fTilt = 0.0f;
    v.fFovHor = 1.57f;
    v.fFovVer = 0.785f;
    v.uZoom = 10;
    return v;
}
}  // namespace

CZRFishEyeDewarper::CZRFishEyeDewarper(ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius,
                                       ENUM_ZR_FE_VIEW_TYPE_E eMainViewType, int nOrgRadius, int nNormalWidth,
                                       int nNormalHeight, unsigned int uSubWorkerNum)
    : CZRThread(nullptr, 0, 30),
      m_uRadius(static_cast<unsigned int>(nRadius)),
      m_uHalfSize(0),
      m_uNormalWidth(static_cast<unsigned int>(nNormalWidth)),
      m_uNormalHeight(static_cast<unsigned int>(nNormalHeight)),
      m_uOrgRadius(static_cast<unsigned int>(nOrgRadius)),
      m_eInstallMode(eInstallMode),
      m_eMainViewType(eMainViewType),
      m_uSubWorkerNum(std::min(uSubWorkerNum, 2u)),
      m_stGroundView{0, 0, 0},
      m_stWallView{0, 0, 0, 0, 0, 0},
      m_pPanoramaMap(new ZRFishEyeMap),
      m_bNormalMapInUse{},
      m_mapPoint(new ZRPointMap),
      m_nSubViewNum(0),
      m_hMainWnd(nullptr),
      m_nLineMask(0),
      m_pShowCallback(nullptr),
      m_pInfoNotifyCallback(nullptr),
      m_bMainBusy(false),
      m_pMatSource(new cv::Mat),
      m_nSnapState(0),
      m_nSnapNextKey(100)
{
    for (int i = 0; i < 8; ++i) {
        m_stNormalView[i] = DefaultNormalView();
        m_pNormalMap[i].reset(new ZRFishEyeMap);
        m_stSubViewPoints[i].stCenter = {0, 0};
        m_hSubWnd[i] = nullptr;
    }
    for (int i = 0; i < 9; ++i)
        m_stFrameInfo[i] = {0, -1, 0, 0};
    m_bSubBusy[0] = false;
    m_bSubBusy[1] = false;
    // A refused mode leaves the panorama empty and the half size 0.
    SetInstallMode(eInstallMode, static_cast<unsigned int>(nRadius), true);
    m_uOrgRadius = static_cast<unsigned int>(nOrgRadius);
    cv::setNumThreads(4);
}

CZRFishEyeDewarper::~CZRFishEyeDewarper()
{
    if (IsRunning())
        Stop();
    ClearSnapMap();
}

ENUM_ZR_FE_INSTALL_MODE_E CZRFishEyeDewarper::GetInstallMode()
{
    const HostGuard hostGuard(m_mtxHost);
    return m_eInstallMode;
}
ENUM_ZR_FE_VIEW_TYPE_E CZRFishEyeDewarper::GetMainViewType() { return m_eMainViewType; }
void CZRFishEyeDewarper::SetLineMask(int nMask) { m_nLineMask = nMask; }
int CZRFishEyeDewarper::GetLineMask() { return m_nLineMask; }
unsigned int CZRFishEyeDewarper::GetSubWorkerNum() { return m_uSubWorkerNum; }
void CZRFishEyeDewarper::SetThreadNum(int nCount) { cv::setNumThreads(nCount); }
void CZRFishEyeDewarper::SetMainViewHwnd(HWND hWnd) { m_hMainWnd = hWnd; }
int CZRFishEyeDewarper::GetAllViewNum() { return m_nSubViewNum + 1; }
void CZRFishEyeDewarper::SetShowCallBack(IZRCallback* pCallback) { m_pShowCallback = pCallback; }
void CZRFishEyeDewarper::SetInfoNotifyCallBack(IZRCallback* pCallback) { m_pInfoNotifyCallback = pCallback; }

void CZRFishEyeDewarper::SetSubViewHwnd(HWND hWnd, int nIndex)
{
    if (nIndex >= 0 && nIndex < 8)
        m_hSubWnd[nIndex] = hWnd;
}

HWND CZRFishEyeDewarper::GetHandle(int nIndex)
{
    if (nIndex == 0)
        return m_hMainWnd;
    if (nIndex >= 1 && nIndex <= 8)
        return m_hSubWnd[nIndex - 1];
    return nullptr;
}

void CZRFishEyeDewarper::GetFrame(CZRFrame*& pFrame, int nIndex)
{
    if (nIndex == 0)
        pFrame = &m_frmMain;
    else if (nIndex >= 1 && nIndex <= 8)
        pFrame = &m_frmSub[nIndex - 1];
}
