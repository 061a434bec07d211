// Soak: several dewarpers fed frames of changing sizes while two more threads change
// every setting, aim and zoom the sub views, take snapshots, convert points and
// stop and start the pipeline, for a set time (seconds as the first argument,
// default 60). It fails when no frame completes for 10 s (a deadlock), when a
// dewarper delivers nothing, or, without ThreadSanitizer, when resident memory grows
// by more than 5 MB after warm-up; it reports frames a sub view showed but the main
// view never did (which settings that give the main view no picture also cause).
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "ZRFishEye.h"

#if defined(__SANITIZE_THREAD__)
#define ZRFE_SOAK_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define ZRFE_SOAK_UNDER_TSAN 1
#endif
#endif

namespace {

using Clock = std::chrono::steady_clock;

const int kDewarpers = 3;
const auto kStallLimit = std::chrono::seconds(10);
const long kRssGrowthLimitKb = 5 * 1024;
// Frames are uniform grey; the grey level tags the frame, from kFirstTag on.
const int kFirstTag = 32, kTagCount = 192;
const unsigned char kDarkest = 24;  // darker samples are the black outside the lens circle

std::atomic<Clock::rep> g_lastCompletion{Clock::now().time_since_epoch().count()};

long ResidentKb()
{
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
            resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// The most common luma level of a picture, ignoring black: the tag of the frame it shows.
int TagOf(CZRFrame* frm)
{
    CZRPacketPIC* pic = frm ? frm->GetPicture() : nullptr;
    if (!pic)
        return -1;
    std::array<int, 256> counts{};
    for (unsigned int y = 0; y < pic->m_uHeight; y += 7)
        for (unsigned int x = 0; x < pic->m_uWidth; x += 5)
            ++counts[pic->GetLine(0, static_cast<int>(y))[x]];
    std::fill(counts.begin(), counts.begin() + kDarkest, 0);
    const auto best = std::max_element(counts.begin(), counts.end());
    return *best > 0 ? static_cast<int>(best - counts.begin()) : -1;
}

// One dewarper and what its pictures showed.
struct Camera : IZRCallback {
    CZRFishEyeDewarper d{ZR_FE_INSTALL_CEILING, 128, ZR_FE_VIEW_PANORAMA, 128, 160, 120, 2};
    std::atomic<long> offered{0}, mains{0}, subs{0};
    std::mutex mtx;
    std::set<int> mainTags, subTags;

    int OnSignal(CZRObject*, int nCode, void*, void*) override
    {
        CZRFrame* frm = nullptr;
        d.GetFrame(frm, nCode);
        const int tag = TagOf(frm);
        {
            std::lock_guard<std::mutex> lock(mtx);
            (nCode == 0 ? mainTags : subTags).insert(tag);
        }
        ++(nCode == 0 ? mains : subs);
        g_lastCompletion = Clock::now().time_since_epoch().count();
        return 0;
    }
};

// Frames of changing sizes, each tagged with the next grey level.
void Feed(Camera& cam, std::atomic<bool>& stop, unsigned int seed)
{
    std::mt19937 rng(seed);
    const int sizes[][2] = {{320, 320}, {400, 400}, {512, 512}, {512, 384}, {384, 512}, {336, 336}};
    std::vector<unsigned char> luma, chroma;
    for (long n = 0; !stop; ++n) {
        const auto& s = sizes[rng() % 6];
        luma.assign(static_cast<size_t>(s[0]) * s[1], static_cast<unsigned char>(kFirstTag + n % kTagCount));
        chroma.assign(static_cast<size_t>(s[0]) * (s[1] / 2), 128);
        tag_ZRFRAME f{};
        f.pData[0] = luma.data();
        f.pData[1] = chroma.data();
        f.nPitch[0] = f.nPitch[1] = s[0];
        f.nWidth = s[0];
        f.nHeight = s[1];
        cam.d.Process(&f);
        ++cam.offered;
        std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 4));
    }
}

// Mount, lens, main view, sub-view layout and render mode.
void ChangeLayout(std::vector<Camera*>& cams, std::atomic<bool>& stop, unsigned int seed)
{
    std::mt19937 rng(seed);
    // Small enough for the narrowest frame (320): a main view whose circle the frame cannot hold composes
    // nothing while its sub views still show the frame, which the half-delivery check would flag.
    const unsigned int radii[] = {64, 80, 96, 112, 128};
    while (!stop) {
        CZRFishEyeDewarper& d = cams[rng() % cams.size()]->d;
        switch (rng() % 10) {
        case 8: {
            tag_ZRLENS lens{static_cast<ENUM_ZR_FE_LENS_E>(rng() % 5), 160.0f + static_cast<float>(rng() % 60), {}};
            d.SetLens(&lens);
            break;
        }
        case 7: d.SetRenderMode(rng() % 2 ? ZR_FE_RENDER_FAST : ZR_FE_RENDER_EXACT); break;
        case 0: d.SetInstallMode(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(rng() % 3), radii[rng() % 5]); break;
        case 1: d.SetMainViewType(static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(rng() % 3)); break;
        case 2: d.SetGroundAngle(rng() % 400); break;
        case 3: d.SetWallStarty(rng() % 300); break;
        case 4: d.SetSubViewNum(rng() % 9); break;
        case 5: d.SetNormalSize(64 + 16 * (rng() % 8), 48 + 16 * (rng() % 6)); break;
        case 6: d.SetLineMask(static_cast<int>(rng() % 256)); break;
        default: d.ResetMainView(); break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + rng() % 20));
    }
}

// Aim, zoom, windows, workers, snapshots, point conversion, and short stops.
void Interact(std::vector<Camera*>& cams, std::atomic<bool>& stop, unsigned int seed)
{
    std::mt19937 rng(seed);
    while (!stop) {
        CZRFishEyeDewarper& d = cams[rng() % cams.size()]->d;
        const int i = static_cast<int>(rng() % 8);
        tag_ZR_FE_POINT_S p{static_cast<unsigned short>(rng() % 600), static_cast<unsigned short>(rng() % 600)}, q{};
        int key = 0;
        tag_ZR_FE_POINT_SET_S outline;
        switch (rng() % 10) {
        case 0: d.MoveNormalView(p, i); break;
        case 1: d.ZoomNormalView(rng() % 21, i); break;
        case 2: d.SetNormalY(rng() % 120, i); d.SetNormalZ(rng() % 360, i); break;
        case 3: d.SetSubViewHwnd(rng() % 4 ? reinterpret_cast<HWND>(static_cast<intptr_t>(i + 1)) : nullptr, i); break;
        case 4: d.SetSubWorkerNum(rng() % 3); break;
        case 5:
            if (d.SnapStart() == 0) {
                d.SnapResize(0, 200, 100);
                d.SnapAddBlackBorder(1, 4);
                d.SnapVerconcat({0, 0}, key);
                d.SnapStop();
            }
            break;
        case 6: d.GetOriginalPoint(p, q); d.GetPanoramaPoint(q, p); break;
        case 7: d.GetSubViewPoints(outline, i); break;
        case 8:
            if (rng() % 8 == 0) {
                d.Stop();
                d.Start();
            }
            break;
        default: CZRFishEyeDewarper::SetThreadNum(1 + static_cast<int>(rng() % 4)); break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2 + rng() % 10));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
    std::vector<std::unique_ptr<Camera>> cams;
    std::vector<Camera*> all;
    for (int k = 0; k < kDewarpers; ++k) {
        cams.emplace_back(new Camera);
        Camera& c = *cams.back();
        c.d.SetShowCallBack(&c);
        c.d.SetSubViewNum(4);
        for (int i = 0; i < 8; ++i)
            c.d.SetSubViewHwnd(reinterpret_cast<HWND>(static_cast<intptr_t>(i + 1)), i);
        c.d.Start();
        all.push_back(&c);
    }
    std::atomic<bool> stop{false};
    std::vector<std::thread> threads;
    for (int k = 0; k < kDewarpers; ++k)
        threads.emplace_back(Feed, std::ref(*cams[static_cast<size_t>(k)]), std::ref(stop), 11u + k);
    threads.emplace_back(ChangeLayout, std::ref(all), std::ref(stop), 23u);
    threads.emplace_back(Interact, std::ref(all), std::ref(stop), 37u);

    // Resident memory: the peak of the first third after warm-up against the peak of the last third.
    const auto start = Clock::now(), end = start + std::chrono::seconds(seconds);
    const auto warm = start + std::chrono::seconds(seconds) / 4;
    long early = 0, late = 0;
    bool stalled = false;
    while (Clock::now() < end) {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const auto now = Clock::now();
        if (now - Clock::time_point(Clock::duration(g_lastCompletion.load())) > kStallLimit) {
            stalled = true;
            break;
        }
        const auto third = (end - warm) / 3;
        if (now > warm && now < warm + third)
            early = std::max(early, ResidentKb());
        else if (now > end - third)
            late = std::max(late, ResidentKb());
    }
    if (stalled) {
        std::fprintf(stderr, "soak: no frame completed for %lld s: deadlock\n",
                     static_cast<long long>(std::chrono::duration_cast<std::chrono::seconds>(kStallLimit).count()));
        std::_Exit(1);  // the threads may be stuck: do not join them
    }
    stop = true;
    for (std::thread& t : threads)
        t.join();
    for (auto& c : cams)
        c->d.Stop();

    int failures = 0;
    for (size_t k = 0; k < cams.size(); ++k) {
        Camera& c = *cams[k];
        std::vector<int> orphans;
        for (int tag : c.subTags)
            if (tag >= 0 && !c.mainTags.count(tag))
                orphans.push_back(tag);
        std::printf("soak: dewarper %zu: %ld frames offered, %ld main views and %ld sub views delivered, %ld dropped\n",
                    k, c.offered.load(), c.mains.load(), c.subs.load(), c.offered.load() - c.mains.load());
        // Reported, not failed: a main view may rightly compose nothing for a frame (a wall window
        // or a circle the frame cannot hold, for a moment) while its sub views show that frame.
        if (!orphans.empty())
            std::printf("soak: dewarper %zu showed %zu frames in a sub view but never in its main view\n", k,
                        orphans.size());
        if (c.mains == 0) {
            std::fprintf(stderr, "soak: dewarper %zu delivered nothing\n", k);
            ++failures;
        }
    }
    std::printf("soak: %d s, resident memory %ld kB early, %ld kB late\n", seconds, early, late);
#ifndef ZRFE_SOAK_UNDER_TSAN
    if (late - early > kRssGrowthLimitKb) {
        std::fprintf(stderr, "soak: resident memory grew by %ld kB after warm-up\n", late - early);
        ++failures;
    }
#endif
    return failures == 0 ? 0 : 1;
}
