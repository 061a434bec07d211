// Helpers shared by the tests: synthetic frames and a callback that records.
#ifndef ZRFISHEYE_TESTS_TESTSUPPORT_H
#define ZRFISHEYE_TESTS_TESTSUPPORT_H

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <opencv2/core.hpp>

#include "ZRFishEye.h"

namespace zrtest {

// An NV12 picture in host memory, with optional padding at the end of each line.
struct Nv12Buffer {
    std::vector<unsigned char> luma, chroma;
    tag_ZRFRAME desc{};

    // Fills luma and chroma from functions of the pixel position; padding bytes are 255.
    Nv12Buffer(int w, int h, int pad, const std::function<unsigned char(int, int)>& y,
               const std::function<unsigned char(int, int)>& u, const std::function<unsigned char(int, int)>& v)
        : luma(static_cast<size_t>(w + pad) * h, 255), chroma(static_cast<size_t>(w / 2 * 2 + pad) * (h / 2), 255)
    {
        desc.nPitch[0] = w + pad;
        desc.nPitch[1] = w / 2 * 2 + pad;
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                luma[r * desc.nPitch[0] + c] = y(c, r);
                if (r < h / 2 && c < w / 2) {
                    chroma[r * desc.nPitch[1] + 2 * c] = u(c, r);
                    chroma[r * desc.nPitch[1] + 2 * c + 1] = v(c, r);
                }
            }
        desc.pData[0] = luma.data();
        desc.pData[1] = chroma.data();
        desc.nWidth = w;
        desc.nHeight = h;
    }
};

struct Signal {
    int code;
    std::thread::id thread;
    tag_ZR_FE_FRAME_INFO_S info;
};

// Records every signal; tests wait on it with a bounded timeout.
class Recorder : public IZRCallback {
public:
    std::function<void(int code)> onShow;  // runs inside the show callback

    int OnSignal(CZRObject*, int nCode, void* pParam1, void*) override
    {
        Signal s{nCode, std::this_thread::get_id(), {}};
        if (pParam1 && infoCallback && nCode == 0)
            s.info = *static_cast<tag_ZR_FE_FRAME_INFO_S*>(pParam1);
        if (onShow && !infoCallback)
            onShow(nCode);
        std::lock_guard<std::mutex> lock(m_mtx);
        m_signals.push_back(s);
        m_cv.notify_all();
        return 0;
    }

    bool WaitForCount(size_t n, int timeoutMs = 10000)
    {
        std::unique_lock<std::mutex> lock(m_mtx);
        return m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return m_signals.size() >= n; });
    }

    std::vector<Signal> Signals()
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        return m_signals;
    }

    void Clear()
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_signals.clear();
    }

    bool infoCallback = false;

private:
    std::mutex m_mtx;
    std::condition_variable m_cv;
    std::vector<Signal> m_signals;
};

// Polls until done() or the timeout; true when done.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 10000)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Feeds the frame until the pipeline takes it and `signals` show signals have come in all.
bool Feed(CZRFishEyeDewarper& d, Recorder& rec, tag_ZRFRAME* frame, size_t signals);

}  // namespace zrtest

#endif
