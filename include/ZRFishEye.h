// ZRFishEye: dewarping of fisheye camera pictures.
//
// A host makes one CZRFishEyeDewarper per fisheye stream, says how the camera
// is mounted and how large its lens circle is, feeds decoded 4:2:0 frames to
// Process and receives the main view and up to eight sub views as frames,
// announced through callbacks. The dewarper runs the library's synchronous
// engine (ZRFishEyeEngine.h) on its worker threads.
#ifndef ZRFISHEYE_H
#define ZRFISHEYE_H

#include <memory>
#include <string>
#include <vector>

#include "ZRBase.h"
#include "ZRFishEyeTypes.h"

class ZR_API CZRFishEyeDewarper : public CZRThread {
public:
    CZRFishEyeDewarper(ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius, ENUM_ZR_FE_VIEW_TYPE_E eMainViewType,
                       int nOrgRadius, int nNormalWidth, int nNormalHeight, unsigned int uSubWorkerNum);
    CZRFishEyeDewarper(const CZRFishEyeDewarper&) = delete;
    CZRFishEyeDewarper& operator=(const CZRFishEyeDewarper&) = delete;
    ~CZRFishEyeDewarper() override;

    // Settings, windows and callbacks.
    ENUM_ZR_FE_INSTALL_MODE_E GetInstallMode();
    ENUM_ZR_FE_VIEW_TYPE_E GetMainViewType();
    void SetLineMask(int nMask);
    int GetLineMask();
    unsigned int GetSubWorkerNum();
    int SetSubWorkerNum(unsigned int uCount);
    // The size of OpenCV's pool inside one operation, for the whole process; at most
    // the machine's CPU count (the constructor sets 4, or the CPU count when lower).
    static void SetThreadNum(int nCount);
    void SetSubViewHwnd(HWND hWnd, int nIndex);
    void SetMainViewHwnd(HWND hWnd);
    HWND GetHandle(int nIndex);
    int GetAllViewNum();
    void SetShowCallBack(IZRCallback* pCallback);
    void SetInfoNotifyCallBack(IZRCallback* pCallback);
    void GetFrame(CZRFrame*& pFrame, int nIndex);

    // The pipeline.
    void Start();
    void Stop();
    int Process(CZRFrame* pFrame);
    int Process(tag_ZRFRAME* pFrame);
    int OnDraw(HWND hWnd, unsigned int uParam, void* pFirst, void* pLast);
    int OnMainWork(CZRMessageT* pMsg, unsigned int uID, unsigned int& uResult);
    int OnSubWork(CZRMessageT* pMsg, unsigned int uID, unsigned int& uResult);

    // Install mode, lens circle and panorama.
    int SetInstallMode(ENUM_ZR_FE_INSTALL_MODE_E eMode, unsigned int uRadius, bool bForce = false);
    int SetGroundAngle(unsigned int uAngle);
    int SetWallStarty(unsigned int uStartY);
    // The lens (null: the built-in one). -1, nothing changed, for an unknown model, a
    // field of view the model cannot image (not finite, at or below 0, above 330,
    // orthographic above 180) or a polynomial that does not rise all the way to the
    // rim. Every table and query follows it; the next frame uses it.
    int SetLens(const tag_ZRLENS* pLens);
    int GetLens(tag_ZRLENS* pLens);
    tag_ZR_FE_GROUND_VIEW_S GetGroundParam();
    tag_ZR_FE_WALL_VIEW_S GetWallParam();
    int GetOriginalPoint(const tag_ZR_FE_POINT_S& stPanorama, tag_ZR_FE_POINT_S& stOriginal);
    int GetPanoramaPoint(const tag_ZR_FE_POINT_S& stOriginal, tag_ZR_FE_POINT_S& stPanorama);
    void GetSubViewPoints(tag_ZR_FE_POINT_SET_S& stPoints, int nIndex);

    // Sub views.
    int SetNormalView(const tag_ZR_FE_NORMAL_VIEW_S& stView, int nIndex);
    void GetNormalParam(tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uIndex);
    int MoveNormalView(tag_ZR_FE_POINT_S stPoint, int nIndex);
    int ZoomNormalView(unsigned int uLevel, int nIndex);
    int SetNormalY(unsigned int uAngle, int nIndex);
    int SetNormalZ(unsigned int uAngle, int nIndex);
    int ResetMainView();
    void SetSubViewNum(unsigned int uCount);
    int SetNormalSize(unsigned int uWidth, unsigned int uHeight);
    int GetNormalSize(unsigned int& uWidth, unsigned int& uHeight);
    int SetMainViewType(ENUM_ZR_FE_VIEW_TYPE_E eType, bool bForce = false);

    // Rendering: exact (the default) or fast; may change while running, the next frame uses it.
    int SetRenderMode(ENUM_ZR_FE_RENDER_MODE_E eMode);
    ENUM_ZR_FE_RENDER_MODE_E GetRenderMode();

    // Snapshots.
    int SnapStart();
    int SnapStop();
    int SnapResize(int nKey, int nWidth, int nHeight);
    int SnapAddBlackBorder(int nKey, int nBorder);
    int SnapHorconcat(std::vector<int> vecKeys, int& nResultKey);
    int SnapVerconcat(std::vector<int> vecKeys, int& nResultKey);
    int SavePic(std::string strPath, int nKey, int nReserved = 0);

protected:
    unsigned int OnThread() override;

private:
    // The engine, the workers around it, the output frames and the snapshot store.
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

#endif  // ZRFISHEYE_H
