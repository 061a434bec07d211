// ZRFishEye: dewarping of fisheye camera pictures.
//
// A host makes one CZRFishEyeDewarper per fisheye stream, says how the camera
// is mounted and how large its lens circle is, feeds decoded 4:2:0 frames to
// Process and receives the main view and up to eight sub views as frames,
// announced through callbacks.
#ifndef ZRFISHEYE_H
#define ZRFISHEYE_H

#include <array>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ZRBase.h"

namespace cv {
class Mat;
}
class ZRFishEyeMap;
class ZRPointMap;
struct ZRMainViewSettings;

// How the camera is mounted.
enum ENUM_ZR_FE_INSTALL_MODE_E : int {
    ZR_FE_INSTALL_GROUND = 0,   // lens looking up (floor or desk)
    ZR_FE_INSTALL_CEILING = 1,  // lens looking down (ceiling)
    ZR_FE_INSTALL_WALL = 2      // lens looking ahead (wall)
};

// What the main view shows.
enum ENUM_ZR_FE_VIEW_TYPE_E : int {
    ZR_FE_VIEW_ORIGINAL = 0,         // the lens circle, masked, with the sub-view outlines
    ZR_FE_VIEW_PANORAMA = 1,         // the panorama
    ZR_FE_VIEW_DOUBLE_PANORAMA = 2   // floor and ceiling: the panorama in two stacked halves
};

// A pixel position; arithmetic on it wraps modulo 65536.
struct tag_ZR_FE_POINT_S {
    unsigned short nX;  // column
    unsigned short nY;  // row
};

// Outline and centre of one sub view, in the coordinates of the original view.
struct tag_ZR_FE_POINT_SET_S {
    std::vector<tag_ZR_FE_POINT_S> vecPoints;
    tag_ZR_FE_POINT_S stCenter;
};

// Parameters of one sub view (a virtual pan-tilt-zoom camera). Floor and
// ceiling cameras use fAngleY..fZoomHor (degrees, factors); wall cameras use
// fPan..fFovVer (radians).
struct tag_ZR_FE_NORMAL_VIEW_S {
    float fAngleX;   // carried along, never used
    float fAngleY;   // tilt away from the lens axis
    float fAngleZ;   // azimuth about the lens axis
    float fZoomVer;  // vertical focal length, in half view heights
    float fZoomHor;  // horizontal focal length, in half view heights
    float fPan;      // angle of the left edge
    float fTilt;     // angle of the top row at the side edges
    float fFovHor;   // horizontal field of view
    float fFovVer;   // vertical field of view
    unsigned int uZoom;  // zoom level 0..20 last applied
};

// The floor and ceiling panorama.
struct tag_ZR_FE_GROUND_VIEW_S {
    unsigned int uRadius;
    unsigned int uRadiusCut;  // always 0
    unsigned int uAngle;      // ground angle, degrees 0..359
};

// The wall panorama and the window of it that the main view shows.
struct tag_ZR_FE_WALL_VIEW_S {
    unsigned int uStartX;
    unsigned int uStartY;
    unsigned int uHeight;
    unsigned int uWidth;
    unsigned int uValidHeight;
    unsigned int uValidWidth;
};

// Describes a picture that has just been produced.
struct tag_ZR_FE_FRAME_INFO_S {
    unsigned char bMain;  // 1 for the main view
    int nIndex;           // -1 for the main view, else the sub view 0..7
    unsigned int uPicWidth;
    unsigned int uPicHeight;
};

// A semi-planar 4:2:0 picture (NV12: luma plane, then interleaved U, V pairs).
struct tag_ZRFRAME {
    unsigned long long u64Reserved;
    unsigned char* pData[3];
    int nPitch[3];
    int nWidth;
    int nHeight;
};

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
    int Process();
    void ProcessForSub(unsigned int uFirst, unsigned int uLast);
    int SetOrgRadius(unsigned int uOrgRadius, bool bForce);
    int UpdatePanoramaMap();
    int UpdateGroundMap();
    int UpdateWallMap();
    int UpdatePointMap();
    int UpdateNormalPoints(int nIndex);
    int UpdateGroundNormalMap(int nIndex);
    int UpdateWallNormalMap(int nIndex);
    int UpdateNormalMap(int nIndex);
    void RebuildAllNormalViews();
    void ProcessForSnap();
    bool WaitSnapPrepare();
    void ClearSnapMap();
    int SnapConcat(const std::vector<int>& vecKeys, bool bHorizontal, int& nResultKey);

    bool AcceptsFrame();
    void CreateSubWorkers();
    void DeleteWorker(std::unique_ptr<CZRThreadWorker> pWorker, bool bMain);
    void TakeMainViewSettings(ZRMainViewSettings& stSettings);
    void DrawOutlines(cv::Mat& matCircle);
    void RenderSubView(int nIndex, const cv::Mat& matSource);
    void PublishFrameInfo(int nSlot, CZRFrame& frm, bool bMain, int nIndex);

    // Serialises the host operations; never taken by a worker.
    std::recursive_mutex m_mtxHost;
    // Lens and mounting; written by the host under the panorama holder's lock, since the main
    // worker reads them together with the panorama tables.
    unsigned int m_uRadius;
    unsigned int m_uHalfSize;
    unsigned int m_uNormalWidth;
    unsigned int m_uNormalHeight;
    unsigned int m_uOrgRadius;
    ENUM_ZR_FE_INSTALL_MODE_E m_eInstallMode;
    std::atomic<ENUM_ZR_FE_VIEW_TYPE_E> m_eMainViewType;
    std::atomic<unsigned int> m_uSubWorkerNum;
    tag_ZR_FE_GROUND_VIEW_S m_stGroundView;
    tag_ZR_FE_WALL_VIEW_S m_stWallView;
    tag_ZR_FE_NORMAL_VIEW_S m_stNormalView[8];
    std::unique_ptr<ZRFishEyeMap> m_pPanoramaMap;
    // Holders exist for the dewarper's whole life, so workers never see one appear or vanish;
    // m_bNormalMapInUse says which ones a sub view has claimed.
    std::array<std::unique_ptr<ZRFishEyeMap>, 8> m_pNormalMap;
    bool m_bNormalMapInUse[8];
    std::unique_ptr<ZRPointMap> m_mapPoint;
    tag_ZR_FE_POINT_SET_S m_stSubViewPoints[8];
    CZRMutex m_mtxSubViewPoints;
    std::atomic<int> m_nSubViewNum;
    std::atomic<HWND> m_hSubWnd[8];
    std::atomic<HWND> m_hMainWnd;
    std::atomic<int> m_nLineMask;
    CZRFrame m_frmMain;
    CZRFrame m_frmSub[8];
    std::atomic<IZRCallback*> m_pShowCallback;
    std::atomic<IZRCallback*> m_pInfoNotifyCallback;
    // Written by the worker that produced a picture, read by the dewarper thread.
    tag_ZR_FE_FRAME_INFO_S m_stFrameInfo[9];
    CZRMutex m_mtxFrameInfo;
    std::unique_ptr<CZRThreadWorker> m_pMainWorker;
    std::atomic<bool> m_bMainBusy;
    std::unique_ptr<CZRThreadWorker> m_pSubWorker[2];
    std::atomic<bool> m_bSubBusy[2];
    std::unique_ptr<cv::Mat> m_pMatSource;
    std::atomic<int> m_nSnapState;
    int m_nSnapNextKey;
    std::map<int, std::unique_ptr<cv::Mat>> m_mapSnap;
};

#endif  // ZRFISHEYE_H
