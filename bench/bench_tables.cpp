// Table rebuilds: what a mode, radius or sub-view change costs the host thread.
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>

#include <benchmark/benchmark.h>

#include "ZRFishEye.h"
#include "geometry/GroundPanoramaTable.h"
#include "geometry/PointMap.h"
#include "geometry/WallPanoramaTable.h"
#include "normal/GroundNormalTable.h"
#include "normal/WallNormalTable.h"

namespace {

// The whole SetInstallMode rebuild (panorama table and point map) at r = 1024.
void BM_InstallModeRebuild(benchmark::State& state)
{
    const auto mode = static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(state.range(0));
    CZRFishEyeDewarper d(mode, 1024, ZR_FE_VIEW_PANORAMA, 1280, 1280, 720, 0);
    for (auto _ : state)
        d.SetInstallMode(mode, 1024, true);
    state.SetLabel(mode == ZR_FE_INSTALL_WALL ? "wall r=1024" : "ceiling r=1024");
}
BENCHMARK(BM_InstallModeRebuild)->Arg(ZR_FE_INSTALL_CEILING)->Arg(ZR_FE_INSTALL_WALL)->Unit(benchmark::kMillisecond);

// A mount change at r = 1024, ceiling to wall and back: every table of the new
// mount is built (nothing else holds them), and its point map unless none is asked for.
void BM_MountChange(benchmark::State& state)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 1024, ZR_FE_VIEW_PANORAMA, 1280, 1280, 720, 0);
    bool wall = false;
    for (auto _ : state) {
        wall = !wall;
        d.SetInstallMode(wall ? ZR_FE_INSTALL_WALL : ZR_FE_INSTALL_CEILING, 1024);
    }
}
BENCHMARK(BM_MountChange)->Unit(benchmark::kMillisecond);

// The parts of that rebuild on their own.
void BM_GroundPanoramaTable(benchmark::State& state)
{
    cv::Mat x, y;
    for (auto _ : state)
        zrfe::BuildGroundPanoramaTable(1024, 0, ZR_FE_INSTALL_CEILING, x, y);
}
BENCHMARK(BM_GroundPanoramaTable)->Unit(benchmark::kMillisecond);

void BM_WallPanoramaTable(benchmark::State& state)
{
    cv::Mat x, y;
    for (auto _ : state)
        zrfe::BuildWallPanoramaTable(1152, x, y);
}
BENCHMARK(BM_WallPanoramaTable)->Unit(benchmark::kMillisecond);

void BM_PointMap(benchmark::State& state)
{
    cv::Mat x, y;
    zrfe::BuildGroundPanoramaTable(1024, 0, ZR_FE_INSTALL_CEILING, x, y);
    ZRPointMap map;
    for (auto _ : state)
        map.Build(x, y);
}
BENCHMARK(BM_PointMap)->Unit(benchmark::kMillisecond);

void BM_GetPanoramaPoint(benchmark::State& state)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 1024, ZR_FE_VIEW_PANORAMA, 1280, 1280, 720, 0);
    unsigned short i = 0;
    tag_ZR_FE_POINT_S out;
    for (auto _ : state) {
        const tag_ZR_FE_POINT_S p{static_cast<unsigned short>(500 + i % 1000), static_cast<unsigned short>(700 + i % 613)};
        benchmark::DoNotOptimize(d.GetPanoramaPoint(p, out));
        ++i;
    }
}
BENCHMARK(BM_GetPanoramaPoint);

// One sub view's table, 1280 x 720: rebuilt on every mouse move while dragging.
void BM_GroundNormalTable(benchmark::State& state)
{
    tag_ZR_FE_NORMAL_VIEW_S v{0, 35, 120, 1.25f, 1.25f, 0, 0, 1.57f, 0.785f, 10};
    cv::Mat x, y;
    for (auto _ : state)
        zrfe::BuildGroundNormalTable(v, 1280, 720, 1280, ZR_FE_INSTALL_CEILING, x, y);
}
BENCHMARK(BM_GroundNormalTable)->Unit(benchmark::kMillisecond);

void BM_WallNormalTable(benchmark::State& state)
{
    tag_ZR_FE_NORMAL_VIEW_S v{0, 0, 0, 1.25f, 1.25f, -0.5f, -0.3f, 1.57f, 0.785f, 10};
    cv::Mat x, y;
    for (auto _ : state)
        zrfe::BuildWallNormalTable(v, 1280, 720, 1280, x, y);
}
BENCHMARK(BM_WallNormalTable)->Unit(benchmark::kMillisecond);

// Re-aiming a 1280 x 720 sub view through the dewarper, as a click does: its
// table built, made fixed-point and installed, and its outline taken.
void BM_SubViewReaim(benchmark::State& state)
{
    const auto mode = static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(state.range(0));
    CZRFishEyeDewarper d(mode, 1024, ZR_FE_VIEW_PANORAMA, 1280, 1280, 720, 0);
    d.SetSubViewNum(1);
    const tag_ZR_FE_POINT_S clicks[2] = {{1200, 300}, {2600, 500}};  // on the panorama
    int n = 0;
    for (auto _ : state)
        d.MoveNormalView(clicks[n++ % 2], 0);  // a new aim each time: nothing holds its table
    state.SetLabel(mode == ZR_FE_INSTALL_WALL ? "wall" : "ceiling");
}
BENCHMARK(BM_SubViewReaim)->Arg(ZR_FE_INSTALL_CEILING)->Arg(ZR_FE_INSTALL_WALL)->Unit(benchmark::kMillisecond);

// The same tables through each lens model at r = 1024 (argument: the model; 0,
// the built-in lens, is the reference): what a real lens costs a rebuild.
const tag_ZRLENS kBenchLenses[] = {
    {ZR_FE_LENS_BUILTIN, 0.0f, {}},
    {ZR_FE_LENS_EQUIDISTANT, 185.0f, {}},
    {ZR_FE_LENS_EQUISOLID, 190.0f, {}},
    {ZR_FE_LENS_STEREOGRAPHIC, 200.0f, {}},
    {ZR_FE_LENS_ORTHOGRAPHIC, 170.0f, {}},
    {ZR_FE_LENS_POLYNOMIAL, 200.0f, {-0.04, 0.003, -0.0002, 0.00001}},
};
const char* kBenchLensNames[] = {"builtin", "equidistant", "equisolid", "stereographic", "orthographic", "polynomial"};

template <class BuildFn>
void LensTableBench(benchmark::State& state, const BuildFn& build)
{
    const int model = static_cast<int>(state.range(0));
    std::unique_ptr<zrfe::LensProjection> lens;
    if (model != ZR_FE_LENS_BUILTIN)
        lens.reset(new zrfe::LensProjection(kBenchLenses[model]));
    cv::Mat x, y;
    for (auto _ : state)
        build(lens.get(), x, y);
    state.SetLabel(kBenchLensNames[model]);
}
void BM_LensGroundPanorama(benchmark::State& state)
{
    LensTableBench(state, [](const zrfe::LensProjection* lens, cv::Mat& x, cv::Mat& y) {
        zrfe::BuildGroundPanoramaTable(1024, 0, ZR_FE_INSTALL_CEILING, x, y, lens);
    });
}
void BM_LensWallPanorama(benchmark::State& state)
{
    LensTableBench(state, [](const zrfe::LensProjection* lens, cv::Mat& x, cv::Mat& y) {
        zrfe::BuildWallPanoramaTable(1152, x, y, lens);
    });
}
void BM_LensGroundSubView(benchmark::State& state)
{
    const tag_ZR_FE_NORMAL_VIEW_S v{0, 35, 120, 1.25f, 1.25f, 0, 0, 1.57f, 0.785f, 10};
    LensTableBench(state, [&](const zrfe::LensProjection* lens, cv::Mat& x, cv::Mat& y) {
        zrfe::BuildGroundNormalTable(v, 1280, 720, 1280, ZR_FE_INSTALL_CEILING, x, y, lens);
    });
}
void BM_LensWallSubView(benchmark::State& state)
{
    const tag_ZR_FE_NORMAL_VIEW_S v{0, 0, 0, 1.25f, 1.25f, -0.5f, -0.3f, 1.57f, 0.785f, 10};
    LensTableBench(state, [&](const zrfe::LensProjection* lens, cv::Mat& x, cv::Mat& y) {
        zrfe::BuildWallNormalTable(v, 1280, 720, 1280, x, y, lens);
    });
}
BENCHMARK(BM_LensGroundPanorama)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LensWallPanorama)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LensGroundSubView)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LensWallSubView)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);

}  // namespace

namespace {

// Resident memory of the process, in megabytes.
double ResidentMegabytes()
{
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

std::unique_ptr<CZRFishEyeDewarper> W1Dewarper()
{
    std::unique_ptr<CZRFishEyeDewarper> d(new CZRFishEyeDewarper(ZR_FE_INSTALL_CEILING, 1024, ZR_FE_VIEW_PANORAMA, 1280,
                                                                 1280, 720, 2));
    d->SetSubViewNum(4);
    for (int i = 0; i < 4; ++i)
        d->SetNormalZ(static_cast<unsigned int>(90 * i), i);
    return d;
}

// What one dewarper of workload W1 (ceiling, r = 1024, four 1280 x 720 sub views)
// holds before its first frame, and what a second one of the same geometry adds
// and costs to construct.
void BM_DewarperMemory(benchmark::State& state)
{
    double first = 0, second = 0, seconds = 0;
    for (auto _ : state) {
        const double start = ResidentMegabytes();
        std::unique_ptr<CZRFishEyeDewarper> a = W1Dewarper();
        const double one = ResidentMegabytes();
        const auto t0 = std::chrono::steady_clock::now();
        std::unique_ptr<CZRFishEyeDewarper> b = W1Dewarper();
        seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        first = one - start;
        second = ResidentMegabytes() - one;
    }
    state.counters["first_MB"] = first;
    state.counters["second_MB"] = second;
    state.counters["second_ms"] = seconds * 1000.0;
}
BENCHMARK(BM_DewarperMemory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
