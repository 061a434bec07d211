// The pipeline: frames per second through Process and the callbacks, and the
// time of each stage of one frame. Ceiling camera, 2560 x 2560 NV12, r = 1024.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/imgproc.hpp>

#include "ZRFishEye.h"
#include "core/FrameConversion.h"
#include "core/MainViewComposer.h"
#include "geometry/GroundPanoramaTable.h"

namespace {

const int kSide = 2560;

struct Nv12 {
    std::vector<unsigned char> luma, chroma;
    tag_ZRFRAME desc{};
    Nv12()
        : luma(static_cast<size_t>(kSide) * kSide), chroma(static_cast<size_t>(kSide) * kSide / 2)
    {
        cv::Mat y(kSide, kSide, CV_8UC1, luma.data()), c(kSide / 2, kSide, CV_8UC1, chroma.data());
        cv::randu(y, 0, 256);
        cv::randu(c, 0, 256);
        desc.pData[0] = luma.data();
        desc.pData[1] = chroma.data();
        desc.nPitch[0] = kSide;
        desc.nPitch[1] = kSide;
        desc.nWidth = kSide;
        desc.nHeight = kSide;
    }
};

// Counts the pictures of each frame; a frame is done when every view has signalled.
class FrameDone : public IZRCallback {
public:
    int expected = 1;
    int OnSignal(CZRObject*, int, void*, void*) override
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        if (++m_count >= expected)
            m_cv.notify_all();
        return 0;
    }
    void Reset()
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_count = 0;
    }
    bool Wait(int ms)
    {
        std::unique_lock<std::mutex> lock(m_mtx);
        return m_cv.wait_for(lock, std::chrono::milliseconds(ms), [&] { return m_count >= expected; });
    }

private:
    std::mutex m_mtx;
    std::condition_variable m_cv;
    int m_count = 0;
};

// Feeds the next frame as soon as the previous one has come out.
void BM_PipelineFramesPerSecond(benchmark::State& state)
{
    const int subViews = static_cast<int>(state.range(0));
    const unsigned int subWorkers = static_cast<unsigned int>(state.range(1));
    static Nv12 frame;
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 1024, ZR_FE_VIEW_PANORAMA, kSide / 2, 1280, 720, subWorkers);
    FrameDone done;
    done.expected = 1 + subViews;
    d.SetShowCallBack(&done);
    d.SetSubViewNum(subViews);
    for (int i = 0; i < subViews; ++i) {
        d.SetSubViewHwnd(reinterpret_cast<HWND>(static_cast<intptr_t>(i + 1)), i);
        d.SetNormalY(30, i);
        d.SetNormalZ(45 * i, i);
    }
    d.Start();
    for (auto _ : state) {
        done.Reset();
        do {
            d.Process(&frame.desc);  // dropped while the workers finish the previous frame
        } while (!done.Wait(1));
        done.Wait(10000);
    }
    d.Stop();
    state.counters["fps"] = benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_PipelineFramesPerSecond)
    ->Args({0, 0})
    ->Args({4, 2})
    ->Args({8, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The stages of one main picture, as the main worker runs them.
void BM_StageConversion(benchmark::State& state)
{
    static Nv12 frame;
    cv::Mat source;
    for (auto _ : state)
        zrfe::FrameDescToMat(&frame.desc, source, kSide, kSide);
}
BENCHMARK(BM_StageConversion)->Unit(benchmark::kMillisecond);

struct Stages {
    cv::Mat source, working, mask, masked, mapX, mapY, panorama;
    Stages()
    {
        static Nv12 frame;
        zrfe::FrameDescToMat(&frame.desc, source, kSide, kSide);
        cv::resize(source, working, cv::Size(2176, 2176), 0, 0, cv::INTER_LINEAR);
        mask = cv::Mat(working.size(), working.type(), cv::Scalar(0, 255, 255));
        cv::circle(mask, cv::Point(1088, 1088), 1024, cv::Scalar(255, 255, 255), -1);
        cv::bitwise_and(working, mask, masked);
        zrfe::BuildGroundPanoramaTable(1024, 0, ZR_FE_INSTALL_CEILING, mapX, mapY);
        cv::remap(masked(cv::Rect(64, 64, 2048, 2048)), panorama, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT);
    }
};

void BM_StageResize(benchmark::State& state)
{
    Stages s;
    for (auto _ : state)
        cv::resize(s.source, s.working, cv::Size(2176, 2176), 0, 0, cv::INTER_LINEAR);
}
BENCHMARK(BM_StageResize)->Unit(benchmark::kMillisecond);

void BM_StageMask(benchmark::State& state)
{
    Stages s;
    for (auto _ : state) {
        cv::Mat mask(s.working.size(), s.working.type(), cv::Scalar(0, 255, 255));
        cv::circle(mask, cv::Point(1088, 1088), 1024, cv::Scalar(255, 255, 255), -1);
        cv::bitwise_and(s.working, mask, s.masked);
    }
}
BENCHMARK(BM_StageMask)->Unit(benchmark::kMillisecond);

void BM_StagePanoramaRemap(benchmark::State& state)
{
    Stages s;
    const cv::Mat circle = s.masked(cv::Rect(64, 64, 2048, 2048));
    for (auto _ : state)
        cv::remap(circle, s.panorama, s.mapX, s.mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
}
BENCHMARK(BM_StagePanoramaRemap)->Unit(benchmark::kMillisecond);

void BM_StageMatToFrame(benchmark::State& state)
{
    Stages s;
    CZRFrame frame;
    for (auto _ : state)
        zrfe::MatToFrame(frame, s.panorama);
}
BENCHMARK(BM_StageMatToFrame)->Unit(benchmark::kMillisecond);

}  // namespace
