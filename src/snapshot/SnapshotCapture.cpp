// Freezing the current views into the snapshot store.
#include <opencv2/imgproc.hpp>

#include "ZRFishEye.h"
#include "core/HostLock.h"
#include "base/ZRSleep.h"
#include "core/MainViewComposer.h"
#include "core/ZRFishEyeMap.h"

namespace {
enum SnapState { kSnapClosed = 0, kSnapCapturing = 1, kSnapReady = 2 };
const int kFirstComposedKey = 100;
}  // namespace

int CZRFishEyeDewarper::SnapStart()
{
    const HostGuard hostGuard(m_mtxHost);
    if (m_nSnapState != kSnapClosed)
        return -1;
    m_nSnapState = kSnapCapturing;
    ClearSnapMap();
    ProcessForSnap();
    if (m_nSnapState != kSnapReady) {
        // Nothing to capture: close again, so that no edit waits on it.
        ClearSnapMap();
        m_nSnapState = kSnapClosed;
        return -1;
    }
    return 0;
}

int CZRFishEyeDewarper::SnapStop()
{
    const HostGuard hostGuard(m_mtxHost);
    ClearSnapMap();
    m_nSnapState = kSnapClosed;
    m_nSnapNextKey = kFirstComposedKey;
    return 0;
}

// The main view as the main worker composes it, without outlines, and every
// sub view that has a window, each an independent copy.
void CZRFishEyeDewarper::ProcessForSnap()
{
    if (!m_pMatSource || m_pMatSource->empty() || !IsRunning())
        return;
    ZRMainViewSettings settings;
    TakeMainViewSettings(settings);
    try {
        cv::Mat main;
        if (!zrfe::ComposeMainView(*m_pMatSource, settings, nullptr, main))
            return;
        m_mapSnap.emplace(0, std::unique_ptr<cv::Mat>(new cv::Mat(main.clone())));
        for (int i = 0; i < m_nSubViewNum && i < 8; ++i) {
            if (!m_hSubWnd[i].load())
                continue;
            cv::Mat mapX, mapY;
            m_pNormalMap[i]->Take(mapX, mapY);
            if (!zrfe::CanRemap(*m_pMatSource, mapX, mapY))
                continue;
            std::unique_ptr<cv::Mat> view(new cv::Mat);
            cv::remap(*m_pMatSource, *view, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
            m_mapSnap.emplace(i + 1, std::move(view));
        }
    } catch (const std::exception&) {
        ClearSnapMap();
        return;
    }
    m_nSnapState = kSnapReady;
}

bool CZRFishEyeDewarper::WaitSnapPrepare()
{
    while (m_nSnapState == kSnapCapturing)
        zrbase::Sleep(10);
    return m_nSnapState == kSnapReady;
}

void CZRFishEyeDewarper::ClearSnapMap()
{
    m_mapSnap.clear();
}
