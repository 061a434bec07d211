// The pipeline: frames per second through Process and the callbacks, and the
// time of each stage of one frame. Ceiling camera, 2560 x 2560 NV12, r = 1024.
#include <atomic>
#include <cstring>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <vector>

#include <benchmark/benchmark.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "ZRFishEye.h"
#include "base/LargePictures.h"
#include "ZRFishEyeEngine.h"
#include "geometry/GroundPanoramaTable.h"
#include "kernels/Kernels.h"

namespace {

const int kSide = 2560;

// A 2560 x 2560 NV12 frame: random, or the file that ZRFISHEYE_BENCH_NV12 names
// (raw NV12 of that size, as bench/compare_v360.sh writes it).
struct Nv12 {
    std::vector<unsigned char> luma, chroma;
    tag_ZRFRAME desc{};
    Nv12()
        : luma(static_cast<size_t>(kSide) * kSide), chroma(static_cast<size_t>(kSide) * kSide / 2)
    {
        const char* path = std::getenv("ZRFISHEYE_BENCH_NV12");
        std::ifstream in(path ? path : "", std::ios::binary);
        if (!in.read(reinterpret_cast<char*>(luma.data()), static_cast<std::streamsize>(luma.size())) ||
            !in.read(reinterpret_cast<char*>(chroma.data()), static_cast<std::streamsize>(chroma.size()))) {
            cv::Mat y(kSide, kSide, CV_8UC1, luma.data()), c(kSide / 2, kSide, CV_8UC1, chroma.data());
            cv::randu(y, 0, 256);
            cv::randu(c, 0, 256);
        }
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

// Feeds the next frame as soon as the previous one has come out. With 4 sub views
// and 2 sub workers this is workload W1: ceiling camera, r = 1024, panorama main
// view (6432 x 1024), four 1280 x 720 sub views. The third argument is the render
// mode (0 exact, 1 fast).
void BM_PipelineFramesPerSecond(benchmark::State& state)
{
    const int subViews = static_cast<int>(state.range(0));
    const unsigned int subWorkers = static_cast<unsigned int>(state.range(1));
    static Nv12 frame;
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 1024, ZR_FE_VIEW_PANORAMA, kSide / 2, 1280, 720, subWorkers);
    d.SetRenderMode(static_cast<ENUM_ZR_FE_RENDER_MODE_E>(state.range(2)));
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
    // One frame first: fast mode composes its tables on the first frame of a size.
    do {
        d.Process(&frame.desc);
    } while (!done.Wait(1));
    done.Wait(60000);
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
    ->Args({0, 0, 0})
    ->Args({4, 2, 0})
    ->Args({8, 2, 0})
    ->Args({0, 0, 1})
    ->Args({4, 2, 1})
    ->Args({8, 2, 1})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()  // on a shared machine the work done, beside the time it took
    ->UseRealTime();

// The stages of one main picture, as the main worker runs them, with each
// kernel table this build has (0: the reference, then the faster ones).
const zrfe::kernels::KernelTable& TableOf(const benchmark::State& state)
{
    return *zrfe::kernels::AvailableKernelTables().at(static_cast<size_t>(state.range(0)));
}

void ApplyTableArgs(benchmark::internal::Benchmark* b)
{
    for (size_t i = 0; i < zrfe::kernels::AvailableKernelTables().size(); ++i)
        b->Arg(static_cast<int64_t>(i));
    b->Unit(benchmark::kMillisecond);
}

const int kHalfSize = 1088, kRadius = 1024;

struct Stages {
    cv::Mat source, working, panorama;
    zrfe::kernels::RemapTable table;
    zrfe::kernels::RowLayout layout;
    zrfe::kernels::CircleSpans circle;
    std::vector<unsigned char> planes;
    zrfe::PlanarPicture out;
    Stages()
    {
        static Nv12 frame;
        source.create(kSide, kSide, CV_8UC3);
        zrfe::kernels::ReferenceKernels().nv12ToWorking(frame.desc, source);
        zrbase::CreateLargePicture(working, 2 * kHalfSize, 2 * kHalfSize, CV_8UC3);  // as the engine's circle
        zrfe::kernels::ReferenceKernels().resize(source, working.size(), cv::Rect(cv::Point(), working.size()), nullptr,
                                                 working);
        cv::Mat mapX, mapY;
        zrfe::BuildGroundPanoramaTable(kRadius, 0, ZR_FE_INSTALL_CEILING, mapX, mapY);
        zrfe::kernels::BuildRemapTable(mapX, mapY, table);
        layout = zrfe::kernels::WholeTable(mapX.size());
        zrfe::kernels::BuildCircleSpans(Circle().size(), cv::Point(kRadius, kRadius), kRadius, circle);
        panorama.create(mapX.size(), CV_8UC3);
        planes.resize(panorama.total() * 3 / 2);
        out.width = panorama.cols;
        out.height = panorama.rows;
        out.planes[0] = planes.data();
        out.planes[1] = out.planes[0] + panorama.total();
        out.planes[2] = out.planes[1] + panorama.total() / 4;
        out.pitches[0] = out.width;
        out.pitches[1] = out.pitches[2] = out.width / 2;
    }
    cv::Mat Circle() const { return working(cv::Rect(kHalfSize - kRadius, kHalfSize - kRadius, 2 * kRadius, 2 * kRadius)); }
};

void BM_StageConversion(benchmark::State& state)
{
    const zrfe::kernels::KernelTable& k = TableOf(state);
    static Nv12 frame;
    cv::Mat source(kSide, kSide, CV_8UC3);
    for (auto _ : state)
        k.nv12ToWorking(frame.desc, source);
    state.SetLabel(k.name);
}
BENCHMARK(BM_StageConversion)->Apply(ApplyTableArgs);

// The circle's square, the part of the working picture that a frame resizes:
// whole, as the original view needs it, and only where the panorama reads it.
void BM_StageResize(benchmark::State& state)
{
    const zrfe::kernels::KernelTable& k = TableOf(state);
    Stages s;
    const cv::Rect square(kHalfSize - kRadius, kHalfSize - kRadius, 2 * kRadius, 2 * kRadius);
    cv::Mat circle(square.size(), CV_8UC3);
    for (auto _ : state)
        k.resize(s.source, s.working.size(), square, nullptr, circle);
    state.SetLabel(k.name);
}
BENCHMARK(BM_StageResize)->Apply(ApplyTableArgs);

void BM_StageResizePanoramaReads(benchmark::State& state)
{
    const zrfe::kernels::KernelTable& k = TableOf(state);
    Stages s;
    const cv::Rect square(kHalfSize - kRadius, kHalfSize - kRadius, 2 * kRadius, 2 * kRadius);
    cv::Mat circle(square.size(), CV_8UC3);
    zrfe::kernels::RowSpans reads;
    zrfe::kernels::BuildTableReads(s.table, reads);
    for (auto _ : state)
        k.resize(s.source, s.working.size(), square, &reads, circle);
    state.SetLabel(k.name);
}
BENCHMARK(BM_StageResizePanoramaReads)->Apply(ApplyTableArgs);

// What a new panorama geometry's first frame pays once: the spans of the circle that
// the table's gather reads.
void BM_PanoramaTableReads(benchmark::State& state)
{
    Stages s;
    zrfe::kernels::RowSpans reads;
    for (auto _ : state)
        zrfe::kernels::BuildTableReads(s.table, reads);
}
BENCHMARK(BM_PanoramaTableReads)->Unit(benchmark::kMillisecond);

void BM_StageMask(benchmark::State& state)
{
    const zrfe::kernels::KernelTable& k = TableOf(state);
    Stages s;
    cv::Mat circle = s.Circle();
    for (auto _ : state)
        k.maskCircle(circle, s.circle);
    state.SetLabel(k.name);
}
BENCHMARK(BM_StageMask)->Apply(ApplyTableArgs);

void BM_StagePanoramaRemap(benchmark::State& state)
{
    const zrfe::kernels::KernelTable& k = TableOf(state);
    Stages s;
    const cv::Mat circle = s.Circle();
    for (auto _ : state)
        k.remap(circle, s.table, s.layout, s.panorama);
    state.SetLabel(k.name);
}
BENCHMARK(BM_StagePanoramaRemap)->Apply(ApplyTableArgs);

void BM_StageMatToFrame(benchmark::State& state)
{
    const zrfe::kernels::KernelTable& k = TableOf(state);
    Stages s;
    for (auto _ : state)
        k.workingTo420(s.panorama, s.out);
    state.SetLabel(k.name);
}
BENCHMARK(BM_StageMatToFrame)->Apply(ApplyTableArgs);

// The gather and the conversion to 4:2:0 in one pass, as the main worker runs them.
void BM_StagePanoramaRemapTo420(benchmark::State& state)
{
    const zrfe::kernels::KernelTable& k = TableOf(state);
    Stages s;
    const cv::Mat circle = s.Circle();
    for (auto _ : state)
        k.remapTo420(circle, s.table, s.layout, s.out);
    state.SetLabel(k.name);
}
BENCHMARK(BM_StagePanoramaRemapTo420)->Apply(ApplyTableArgs);

// Fast mode's one gather for the same panorama, from the frame's own planes, on one thread.
void BM_StageFastPanorama(benchmark::State& state)
{
    const zrfe::kernels::KernelTable& k = TableOf(state);
    Stages s;
    static Nv12 frame;
    zrfe::kernels::FastPlanes planes;
    zrfe::kernels::PrepareFastPlanes(kSide, kSide, planes);
    cv::Mat(kSide, kSide, CV_8UC1, frame.luma.data()).copyTo(planes.LumaInside());
    zrfe::kernels::FastTableSource source;
    source.mapX = s.table.mapX;
    source.mapY = s.table.mapY;
    source.tableSize = s.table.size();
    source.picture = cv::Size(2 * kRadius, 2 * kRadius);
    source.offset = kHalfSize - kRadius;
    source.scale = static_cast<double>(kSide) / (2 * kHalfSize);
    source.circle = &s.circle;
    source.wrapColumns = true;
    source.allPhases = true;
    zrfe::kernels::FastTable table;
    zrfe::kernels::BuildFastTable(source, cv::Size(kSide, kSide), table);
    const int threads = cv::getNumThreads();
    cv::setNumThreads(1);
    for (auto _ : state)
        k.fastRemapTo420(planes, table, s.layout, s.out);
    cv::setNumThreads(threads);
    state.SetLabel(k.name);
}
BENCHMARK(BM_StageFastPanorama)->Apply(ApplyTableArgs);

}  // namespace

namespace {

// W1 in fast mode on the synchronous engine: the frame copied in and the five
// views gathered, on the library's row threads. Counts the bytes one frame moves
// (frame copied in and out of memory, every table entry read, every output
// sample written; the frame's samples that the gathers read come mostly from
// cache and are left out), for BM_MemcpyW1FastBytes.
struct FastW1 {
    zrfe::Engine engine{ZR_FE_INSTALL_CEILING, 1024, ZR_FE_VIEW_PANORAMA, kSide / 2, 1280, 720};
    std::vector<std::vector<unsigned char>> buffers;
    std::vector<zrfe::PlanarPicture> pictures;
    double bytes = 0;
    FastW1()
    {
        static Nv12 frame;
        const int subViews = 4;
        engine.SetSubViewNum(subViews);
        for (int i = 0; i < subViews; ++i) {
            engine.SetNormalY(30, i);
            engine.SetNormalZ(static_cast<unsigned int>(45 * i), i);
        }
        engine.SetRenderMode(ZR_FE_RENDER_FAST);
        engine.LoadFrame(frame.desc);
        const double frameBytes = 1.5 * kSide * kSide;
        bytes = 2 * frameBytes;  // read from the host, written into our planes
        for (int v = 0; v <= subViews; ++v) {
            const zrfe::ViewSize size = v ? engine.GetSubViewSize(v - 1) : engine.GetMainViewSize();
            const double pixels = static_cast<double>(size.width) * size.height;
            const double entry = sizeof(uint32_t);
            bytes += pixels * entry + (pixels / 4) * entry + 1.5 * pixels;  // luma and chroma tables, planes
            buffers.emplace_back(static_cast<size_t>(pixels * 1.5));
            zrfe::PlanarPicture p;
            p.width = size.width;
            p.height = size.height;
            p.planes[0] = buffers.back().data();
            p.planes[1] = p.planes[0] + static_cast<size_t>(pixels);
            p.planes[2] = p.planes[1] + static_cast<size_t>(pixels / 4);
            p.pitches[0] = size.width;
            p.pitches[1] = p.pitches[2] = size.width / 2;
            pictures.push_back(p);
        }
    }
    void Frame(const tag_ZRFRAME& desc)
    {
        engine.LoadFrame(desc);
        engine.RenderMain(pictures[0]);
        for (size_t v = 1; v < pictures.size(); ++v)
            engine.RenderSub(static_cast<int>(v - 1), pictures[v]);
    }
};

void BM_EngineW1Fast(benchmark::State& state)
{
    static Nv12 frame;
    FastW1 w1;
    w1.Frame(frame.desc);  // the fast tables are composed on the first frame
    for (auto _ : state)
        w1.Frame(frame.desc);
    state.counters["MB"] = w1.bytes / 1e6;
    state.counters["GB/s"] = benchmark::Counter(w1.bytes * static_cast<double>(state.iterations()) / 1e9,
                                                benchmark::Counter::kIsRate);
}
BENCHMARK(BM_EngineW1Fast)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// memcpy of as many bytes as one fast W1 frame moves (half read, half written).
void BM_MemcpyW1FastBytes(benchmark::State& state)
{
    FastW1 w1;
    const size_t half = static_cast<size_t>(w1.bytes / 2);
    std::vector<unsigned char> from(half, 1), to(half, 0);
    for (auto _ : state) {
        std::memcpy(to.data(), from.data(), half);
        benchmark::DoNotOptimize(to.data());
    }
    state.counters["MB"] = w1.bytes / 1e6;
}
BENCHMARK(BM_MemcpyW1FastBytes)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
