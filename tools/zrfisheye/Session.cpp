#include "Session.h"

#include <cstdio>

#include "ZRFishEyeEngine.h"

namespace zrtool {

namespace {

// A frame whose views stop arriving for this long is given up (its sub views were removed
// meanwhile); generous beside the time that rendering one view takes.
const std::chrono::seconds kStallLimit(10);
const std::chrono::milliseconds kRetryWait(5);
const std::chrono::seconds kRunLimit(40);

}  // namespace

Session::Session(const SessionSettings& s, int frameSide) : m_views(1 + s.subViews)
{
    const int radius = s.radius > 0 ? s.radius : frameSide / 2;
    m_dewarper.reset(new CZRFishEyeDewarper(s.mount, radius, s.view, frameSide / 2, s.subWidth, s.subHeight,
                                            s.subWorkers));
    m_dewarper->SetShowCallBack(this);
    m_dewarper->SetRenderMode(s.fast ? ZR_FE_RENDER_FAST : ZR_FE_RENDER_EXACT);
    m_dewarper->SetSubViewNum(static_cast<unsigned int>(s.subViews));
    m_dewarper->SetMainViewHwnd(reinterpret_cast<HWND>(1));
    // Every sub view has a window, so a count raised later renders at once.
    for (int i = 0; i < zrfe::kMaxSubViews; ++i)
        m_dewarper->SetSubViewHwnd(reinterpret_cast<HWND>(static_cast<intptr_t>(i + 2)), i);
    m_dewarper->SetLineMask((1 << s.subViews) - 1);
    m_pictures.resize(1 + zrfe::kMaxSubViews);
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
    if (nCode >= 0 && nCode <= zrfe::kMaxSubViews)
        m_pictures[nCode] = picture;
    ++m_received;
    m_cv.notify_all();
    return 0;
}

bool Session::Offer(const tag_ZRFRAME& frame)
{
    if (m_inFlight)
        return false;
    if (!m_dewarper->IsRunning())
        m_dewarper->Start();
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_received = 0;
    }
    m_frame = frame;
    m_inFlight = true;
    m_seen = 0;
    m_lastSign = Clock::now();
    m_dewarper->Process(&m_frame);
    return true;
}

bool Session::Poll(std::vector<cv::Mat>& pictures)
{
    if (!m_inFlight)
        return false;
    int received = 0;
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        received = m_received;
        if (received >= m_views) {
            pictures.assign(m_pictures.begin(), m_pictures.begin() + m_views);
            m_inFlight = false;
            return true;
        }
    }
    if (received == 0) {
        // Nothing back yet: either the frame is being rendered, and the gate refuses this
        // second offer, or the gate refused the first one while the workers finished the
        // previous frame, and this one gets through.
        m_dewarper->Process(&m_frame);
        return false;
    }
    const Clock::time_point now = Clock::now();
    if (received != m_seen) {
        m_seen = received;
        m_lastSign = now;
    }
    if (now - m_lastSign > kStallLimit)
        m_inFlight = false;
    return false;
}

void Session::SetSubViewCount(int count)
{
    m_dewarper->SetSubViewNum(static_cast<unsigned int>(count));
    m_views = 1 + count;
}

bool Session::Run(tag_ZRFRAME& frame, std::vector<cv::Mat>& pictures)
{
    if (!Offer(frame))
        return false;
    const Clock::time_point deadline = Clock::now() + kRunLimit;
    while (Clock::now() < deadline) {
        if (Poll(pictures))
            return true;
        if (!m_inFlight)
            return false;
        std::unique_lock<std::mutex> lock(m_mtx);
        m_cv.wait_for(lock, kRetryWait);
    }
    m_inFlight = false;
    return false;
}

bool ParseSize(const std::string& text, int& w, int& h)
{
    char x = 0;
    char rest = 0;
    return std::sscanf(text.c_str(), "%d%c%d%c", &w, &x, &h, &rest) == 3 && (x == 'x' || x == 'X') && w > 0 && h > 0;
}

}  // namespace zrtool
