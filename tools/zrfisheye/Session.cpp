#include "Session.h"

#include <chrono>
#include <cstdio>

namespace zrtool {

Session::Session(const SessionSettings& s, int frameSide) : m_views(1 + s.subViews)
{
    const int radius = s.radius > 0 ? s.radius : frameSide / 2;
    m_dewarper.reset(new CZRFishEyeDewarper(s.mount, radius, s.view, frameSide / 2, s.subWidth, s.subHeight,
                                            s.subWorkers));
    m_dewarper->SetShowCallBack(this);
    m_dewarper->SetRenderMode(s.fast ? ZR_FE_RENDER_FAST : ZR_FE_RENDER_EXACT);
    m_dewarper->SetSubViewNum(static_cast<unsigned int>(s.subViews));
    m_dewarper->SetMainViewHwnd(reinterpret_cast<HWND>(1));
    for (int i = 0; i < s.subViews; ++i)
        m_dewarper->SetSubViewHwnd(reinterpret_cast<HWND>(static_cast<intptr_t>(i + 2)), i);
    m_dewarper->SetLineMask((1 << s.subViews) - 1);
    m_pictures.resize(9);
}

Session::~Session()
{
    m_dewarper->Stop();
}

int Session::OnSignal(CZRObject*, int nCode, void*, void*)
{
    // The frame is only ours during the callback: copy it out now.
    CZRFrame* frame = nullptr;
    m_dewarper->GetFrame(frame, nCode);
    cv::Mat picture = frame ? zrscene::PacketToBgr(frame->GetPicture()) : cv::Mat();
    std::lock_guard<std::mutex> lock(m_mtx);
    if (nCode >= 0 && nCode < 9)
        m_pictures[nCode] = picture;
    ++m_received;
    m_cv.notify_all();
    return 0;
}

bool Session::Run(tag_ZRFRAME& frame, std::vector<cv::Mat>& pictures)
{
    if (!m_dewarper->IsRunning())
        m_dewarper->Start();
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_received = 0;
    }
    for (int attempt = 0; attempt < 2000; ++attempt) {
        m_dewarper->Process(&frame);
        std::unique_lock<std::mutex> lock(m_mtx);
        if (m_cv.wait_for(lock, std::chrono::milliseconds(5), [&] { return m_received > 0; })) {
            m_cv.wait_for(lock, std::chrono::seconds(30), [&] { return m_received >= m_views; });
            pictures.assign(m_pictures.begin(), m_pictures.begin() + m_views);
            return m_received >= m_views;
        }
    }
    return false;
}

bool ParseSize(const std::string& text, int& w, int& h)
{
    char x = 0;
    char rest = 0;
    return std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) == 3 && (x == 'x' || x == 'X') && w > 0 && h > 0;
}

}  // namespace zrtool
