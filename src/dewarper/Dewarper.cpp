// The dewarper object: construction, destruction, plain settings, and the
// settings it hands to its engine under the host lock.
#include <algorithm>

#include <opencv2/core.hpp>

#include "DewarperImpl.h"
#include "base/OpenCvPool.h"

namespace {
// The size of OpenCV's pool for one operation, set by every construction.
const int kOpenCvThreads = 4;
}  // namespace

CZRFishEyeDewarper::Impl::Impl(CZRFishEyeDewarper& self, ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius,
                               ENUM_ZR_FE_VIEW_TYPE_E eMainViewType, int nOrgRadius, int nNormalWidth,
                               int nNormalHeight, unsigned int uSubWorkerNum)
    : m_self(self),
      m_engine(eInstallMode, nRadius, eMainViewType, nOrgRadius, nNormalWidth, nNormalHeight),
      m_uSubWorkerNum(std::min(uSubWorkerNum, kMaxSubWorkers)),
      m_uDispatchedSubWorkers(0),
      m_uDispatchedSubViews(0),
      m_hMainWnd(nullptr),
      m_pShowCallback(nullptr),
      m_pInfoNotifyCallback(nullptr),
      m_bMainBusy(false),
      m_nRetiringWorkers(0),
      m_nSnapState(0),
      m_nSnapNextKey(kFirstComposedKey)
{
    for (int i = 0; i < zrfe::kMaxSubViews; ++i)
        m_hSubWnd[i] = nullptr;
    for (int i = 0; i < kViewCount; ++i)
        m_stFrameInfo[i] = {0, -1, 0, 0};
    for (unsigned int k = 0; k < kMaxSubWorkers; ++k)
        m_bSubBusy[k] = false;
}

CZRFishEyeDewarper::CZRFishEyeDewarper(ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius,
                                       ENUM_ZR_FE_VIEW_TYPE_E eMainViewType, int nOrgRadius, int nNormalWidth,
                                       int nNormalHeight, unsigned int uSubWorkerNum)
    : CZRThread(nullptr, 0, 30),
      m_pImpl(new Impl(*this, eInstallMode, nRadius, eMainViewType, nOrgRadius, nNormalWidth, nNormalHeight,
                       uSubWorkerNum))
{
    zrbase::SetOpenCvPoolSize(kOpenCvThreads);
}

CZRFishEyeDewarper::~CZRFishEyeDewarper()
{
    if (IsRunning())
        Stop();
    m_pImpl->ClearSnapMap();
}

ENUM_ZR_FE_INSTALL_MODE_E CZRFishEyeDewarper::GetInstallMode()
{
    const HostGuard hostGuard(m_pImpl->m_mtxHost);
    return m_pImpl->m_engine.GetInstallMode();
}
ENUM_ZR_FE_VIEW_TYPE_E CZRFishEyeDewarper::GetMainViewType() { return m_pImpl->m_engine.GetMainViewType(); }
void CZRFishEyeDewarper::SetLineMask(int nMask) { m_pImpl->m_engine.SetLineMask(nMask); }
int CZRFishEyeDewarper::GetLineMask() { return m_pImpl->m_engine.GetLineMask(); }
unsigned int CZRFishEyeDewarper::GetSubWorkerNum() { return m_pImpl->m_uSubWorkerNum; }
void CZRFishEyeDewarper::SetThreadNum(int nCount) { zrbase::SetOpenCvPoolSize(nCount); }
void CZRFishEyeDewarper::SetMainViewHwnd(HWND hWnd) { m_pImpl->m_hMainWnd = hWnd; }
int CZRFishEyeDewarper::GetAllViewNum() { return m_pImpl->m_engine.GetSubViewNum() + 1; }
void CZRFishEyeDewarper::SetShowCallBack(IZRCallback* pCallback) { m_pImpl->m_pShowCallback = pCallback; }
void CZRFishEyeDewarper::SetInfoNotifyCallBack(IZRCallback* pCallback) { m_pImpl->m_pInfoNotifyCallback = pCallback; }

void CZRFishEyeDewarper::SetSubViewHwnd(HWND hWnd, int nIndex)
{
    if (nIndex >= 0 && nIndex < zrfe::kMaxSubViews)
        m_pImpl->m_hSubWnd[nIndex] = hWnd;
}

HWND CZRFishEyeDewarper::GetHandle(int nIndex)
{
    if (nIndex == 0)
        return m_pImpl->m_hMainWnd;
    if (nIndex >= 1 && nIndex <= zrfe::kMaxSubViews)
        return m_pImpl->m_hSubWnd[nIndex - 1];
    return nullptr;
}

void CZRFishEyeDewarper::GetFrame(CZRFrame*& pFrame, int nIndex)
{
    if (nIndex == 0)
        pFrame = &m_pImpl->m_frmMain;
    else if (nIndex >= 1 && nIndex <= zrfe::kMaxSubViews)
        pFrame = &m_pImpl->m_frmSub[nIndex - 1];
}

// Settings and queries go to the engine under the host lock.
int CZRFishEyeDewarper::SetInstallMode(ENUM_ZR_FE_INSTALL_MODE_E eMode, unsigned int uRadius, bool bForce)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetInstallMode(eMode, uRadius, bForce); });
}
int CZRFishEyeDewarper::SetGroundAngle(unsigned int uAngle) { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetGroundAngle(uAngle); }); }
int CZRFishEyeDewarper::SetWallStarty(unsigned int uStartY) { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetWallStarty(uStartY); }); }
int CZRFishEyeDewarper::SetLens(const tag_ZRLENS* pLens)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetLens(pLens); });
}
int CZRFishEyeDewarper::GetLens(tag_ZRLENS* pLens)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.GetLens(pLens); });
}
tag_ZR_FE_GROUND_VIEW_S CZRFishEyeDewarper::GetGroundParam() { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.GetGroundParam(); }); }
tag_ZR_FE_WALL_VIEW_S CZRFishEyeDewarper::GetWallParam() { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.GetWallParam(); }); }
int CZRFishEyeDewarper::GetOriginalPoint(const tag_ZR_FE_POINT_S& stPanorama, tag_ZR_FE_POINT_S& stOriginal)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.GetOriginalPoint(stPanorama, stOriginal); });
}
int CZRFishEyeDewarper::GetPanoramaPoint(const tag_ZR_FE_POINT_S& stOriginal, tag_ZR_FE_POINT_S& stPanorama)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.GetPanoramaPoint(stOriginal, stPanorama); });
}
void CZRFishEyeDewarper::GetSubViewPoints(tag_ZR_FE_POINT_SET_S& stPoints, int nIndex)
{
    m_pImpl->m_engine.GetSubViewPoints(stPoints, nIndex);  // the outline lock suffices
}
int CZRFishEyeDewarper::SetNormalView(const tag_ZR_FE_NORMAL_VIEW_S& stView, int nIndex)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetNormalView(stView, nIndex); });
}
void CZRFishEyeDewarper::GetNormalParam(tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uIndex)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.GetNormalParam(stView, uIndex); });
}
int CZRFishEyeDewarper::MoveNormalView(tag_ZR_FE_POINT_S stPoint, int nIndex)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.MoveNormalView(stPoint, nIndex); });
}
int CZRFishEyeDewarper::ZoomNormalView(unsigned int uLevel, int nIndex) { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.ZoomNormalView(uLevel, nIndex); }); }
int CZRFishEyeDewarper::SetNormalY(unsigned int uAngle, int nIndex) { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetNormalY(uAngle, nIndex); }); }
int CZRFishEyeDewarper::SetNormalZ(unsigned int uAngle, int nIndex) { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetNormalZ(uAngle, nIndex); }); }
int CZRFishEyeDewarper::ResetMainView() { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.ResetMainView(); }); }
void CZRFishEyeDewarper::SetSubViewNum(unsigned int uCount) { return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetSubViewNum(uCount); }); }
int CZRFishEyeDewarper::SetNormalSize(unsigned int uWidth, unsigned int uHeight)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetNormalSize(uWidth, uHeight); });
}
int CZRFishEyeDewarper::GetNormalSize(unsigned int& uWidth, unsigned int& uHeight)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.GetNormalSize(uWidth, uHeight); });
}
int CZRFishEyeDewarper::SetMainViewType(ENUM_ZR_FE_VIEW_TYPE_E eType, bool bForce)
{
    return m_pImpl->Locked([&](zrfe::Engine& e) { return e.SetMainViewType(eType, bForce); });
}
