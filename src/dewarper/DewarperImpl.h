// The state of a CZRFishEyeDewarper: the engine it runs, the threads around it,
// the output frames, the callbacks and windows, and the snapshot store.
//
// Host operations (setters, getters of several fields, Process, snapshots) may
// come from more than one host thread; they are serialised by the recursive
// host lock, which no worker ever takes. Operations that wait for a worker
// thread to end (Stop, SetSubWorkerNum) release it before they wait, so a
// callback that calls back into the dewarper cannot deadlock them.
#ifndef ZRFISHEYE_DEWARPER_DEWARPERIMPL_H
#define ZRFISHEYE_DEWARPER_DEWARPERIMPL_H

#include <atomic>
#include <map>
#include <memory>
#include <mutex>

#include <opencv2/core.hpp>

#include "ZRFishEye.h"
#include "ZRFishEyeEngine.h"
#include "engine/EngineCore.h"

using HostGuard = std::lock_guard<std::recursive_mutex>;

// A dewarper runs at most this many sub workers.
constexpr unsigned int kMaxSubWorkers = 2;
// Frame-info records: the main view's, then one per sub view.
constexpr int kViewCount = 1 + zrfe::kMaxSubViews;
// Keys of the snapshot store: 0 the main view, 1 + i sub view i, joins from here up.
constexpr int kFirstComposedKey = 100;

struct CZRFishEyeDewarper::Impl {
    Impl(CZRFishEyeDewarper& self, ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius,
         ENUM_ZR_FE_VIEW_TYPE_E eMainViewType, int nOrgRadius, int nNormalWidth, int nNormalHeight,
         unsigned int uSubWorkerNum);

    zrfe::EngineCore& Core() { return m_engine.Core(); }

    // Runs fn on the engine under the host lock.
    template <class Fn>
    auto Locked(Fn fn)
    {
        const HostGuard hostGuard(m_mtxHost);
        return fn(m_engine);
    }

    // The pipeline.
    bool AcceptsFrame();
    int Process();  // dispatch of an accepted frame
    void CreateSubWorkers();
    void DeleteWorker(std::unique_ptr<CZRThreadWorker> pWorker, bool bMain);
    void ProcessForSub(unsigned int uFirst, unsigned int uLast);
    void RenderSubView(int nIndex);
    void PublishFrameInfo(int nSlot, CZRFrame& frm, bool bMain, int nIndex);
    // A render writes a view straight into its output frame's packet.
    static zrfe::PictureProvider IntoFrame(CZRFrame& frm);

    // Snapshots.
    void ProcessForSnap();
    bool WaitSnapPrepare();
    void ClearSnapMap();
    int SnapConcat(const std::vector<int>& vecKeys, bool bHorizontal, int& nResultKey);

    CZRFishEyeDewarper& m_self;
    std::recursive_mutex m_mtxHost;
    zrfe::Engine m_engine;
    std::atomic<unsigned int> m_uSubWorkerNum;
    // The sub-worker and sub-view counts the frame in flight was dispatched with; the
    // workers split its sub views by these, not by counts the host may have changed
    // since, so no two workers ever write the same view.
    std::atomic<unsigned int> m_uDispatchedSubWorkers;
    std::atomic<unsigned int> m_uDispatchedSubViews;
    std::atomic<HWND> m_hSubWnd[zrfe::kMaxSubViews];
    std::atomic<HWND> m_hMainWnd;
    CZRFrame m_frmMain;
    CZRFrame m_frmSub[zrfe::kMaxSubViews];
    std::atomic<IZRCallback*> m_pShowCallback;
    std::atomic<IZRCallback*> m_pInfoNotifyCallback;
    // Written by the worker that produced a picture, read by the dewarper thread.
    tag_ZR_FE_FRAME_INFO_S m_stFrameInfo[kViewCount];
    CZRMutex m_mtxFrameInfo;
    std::unique_ptr<CZRThreadWorker> m_pMainWorker;
    std::atomic<bool> m_bMainBusy;
    std::unique_ptr<CZRThreadWorker> m_pSubWorker[kMaxSubWorkers];
    std::atomic<bool> m_bSubBusy[kMaxSubWorkers];
    // Workers taken out of the pipeline (Stop, fewer sub workers) but maybe still in a
    // handler: until they are gone the gate takes no frame, which would replace the
    // source picture under them.
    std::atomic<int> m_nRetiringWorkers;
    std::atomic<int> m_nSnapState;
    int m_nSnapNextKey;
    std::map<int, std::unique_ptr<cv::Mat>> m_mapSnap;
};

#endif
