// Freezing the current views into the snapshot store.
#include "base/ZRSleep.h"
#include "dewarper/DewarperImpl.h"

namespace {
enum SnapState { kSnapClosed = 0, kSnapCapturing = 1, kSnapReady = 2 };
const unsigned int kSnapPollMs = 10;
}  // namespace

int CZRFishEyeDewarper::SnapStart()
{
    Impl& d = *m_pImpl;
    const HostGuard hostGuard(d.m_mtxHost);
    if (d.m_nSnapState != kSnapClosed)
        return -1;
    d.m_nSnapState = kSnapCapturing;
    d.ClearSnapMap();
    d.ProcessForSnap();
    if (d.m_nSnapState != kSnapReady) {
        // Nothing to capture: close again, so that no edit waits on it.
        d.ClearSnapMap();
        d.m_nSnapState = kSnapClosed;
        return -1;
    }
    return 0;
}

int CZRFishEyeDewarper::SnapStop()
{
    Impl& d = *m_pImpl;
    const HostGuard hostGuard(d.m_mtxHost);
    d.ClearSnapMap();
    d.m_nSnapState = kSnapClosed;
    d.m_nSnapNextKey = kFirstComposedKey;
    return 0;
}

// The main view as the main worker composes it, without outlines, and every
// sub view that has a window, each an independent copy.
void CZRFishEyeDewarper::Impl::ProcessForSnap()
{
    if (!m_self.IsRunning())
        return;
    try {
        cv::Mat main;
        if (!Core().ComposeMain(main, false))
            return;
        m_mapSnap.emplace(0, std::unique_ptr<cv::Mat>(new cv::Mat(main.clone())));
        const int count = m_engine.GetSubViewNum();
        for (int i = 0; i < count && i < zrfe::kMaxSubViews; ++i) {
            cv::Mat view;
            if (m_hSubWnd[i].load() && Core().ComposeSub(i, view))
                m_mapSnap.emplace(i + 1, std::unique_ptr<cv::Mat>(new cv::Mat(view)));
        }
    } catch (const std::exception&) {
        ClearSnapMap();
        return;
    }
    m_nSnapState = kSnapReady;
}

bool CZRFishEyeDewarper::Impl::WaitSnapPrepare()
{
    while (m_nSnapState == kSnapCapturing)
        zrbase::Sleep(kSnapPollMs);
    return m_nSnapState == kSnapReady;
}

void CZRFishEyeDewarper::Impl::ClearSnapMap()
{
    m_mapSnap.clear();
}
