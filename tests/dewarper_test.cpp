// The threaded dewarper: the gate, its signals and threads, and the snapshot store.
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <future>
#include <map>
#include <set>
#include <tuple>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "LiteralComposition.h"
#include "TestSupport.h"
#include "engine/EngineCore.h"

namespace {

using namespace zrtest;

HWND Window(int n) { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x1000 + n)); }

// Four patches of known colour (B, G, R), top left, top right, bottom left, bottom right.
const cv::Vec3b kPatches[4] = {{40, 40, 220}, {40, 200, 40}, {220, 60, 40}, {200, 200, 200}};

// The patches as a decoder would deliver them: converted to YUV, chroma taken at even pixels.
Nv12Buffer PatchFrame(int side)
{
    cv::Mat yuv;
    cv::cvtColor(cv::Mat(1, 4, CV_8UC3, const_cast<cv::Vec3b*>(kPatches)), yuv, cv::COLOR_BGR2YUV);
    auto at = [=](int x, int y, int c) { return yuv.at<cv::Vec3b>(0, (2 * x >= side) + 2 * (2 * y >= side))[c]; };
    return Nv12Buffer(side, side, 0, [=](int x, int y) { return at(x, y, 0); },
                      [=](int x, int y) { return at(2 * x, 2 * y, 1); },
                      [=](int x, int y) { return at(2 * x, 2 * y, 2); });
}

// A dewarper (r = 256, sub views 160 x 120, all outlined) with sub views 0..views-1 tilted apart
// and shown where `windows` says, both callbacks recording, and beside it an engine with the same
// settings made for 544-pixel frames: the dewarper, made for 512, must move its sub views' lens
// circle when the first one comes. The dewarper is not started.
struct Rig {
    Recorder show, info;  // first, so that they outlive the dewarper's threads
    CZRFishEyeDewarper d;
    zrfe::Engine e;
    Rig(ENUM_ZR_FE_INSTALL_MODE_E mode, ENUM_ZR_FE_VIEW_TYPE_E view, unsigned int subWorkers = 0,
        unsigned int views = 0, std::initializer_list<int> windows = {})
        : d(mode, 256, view, 256, 160, 120, subWorkers), e(mode, 256, view, 272, 160, 120)
    {
        info.infoCallback = true;
        d.SetShowCallBack(&show);
        d.SetInfoNotifyCallBack(&info);
        auto setUp = [views](auto& x) {
            x.SetSubViewNum(views);
            x.SetLineMask(0xff);
            for (unsigned int i = 0; i < views; ++i)
                x.SetNormalY(30 + 20 * i, static_cast<int>(i));
        };
        setUp(d);
        setUp(e);
        for (int i : windows)
            d.SetSubViewHwnd(Window(i), i);
    }
    CZRFrame* Frame(int index)
    {
        CZRFrame* frm = nullptr;
        d.GetFrame(frm, index);
        return frm;
    }
};

// The signal codes that came on each thread, in order.
std::map<std::thread::id, std::vector<int>> CodesByThread(const std::vector<Signal>& signals)
{
    std::map<std::thread::id, std::vector<int>> codes;
    for (const Signal& s : signals)
        codes[s.thread].push_back(s.code);
    return codes;
}

// Pictures of the snapshot store as SavePic writes them, in a folder removed at the end of the test.
struct SavedPictures {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("zrfe_dewarper_" + std::to_string(::getpid()));
    SavedPictures() { std::filesystem::create_directories(dir); }
    ~SavedPictures() { std::error_code ignored; std::filesystem::remove_all(dir, ignored); }
    std::string Path(const std::string& name) const { return (dir / name).string(); }
    // The picture under key, read back; empty when SavePic fails.
    cv::Mat operator()(CZRFishEyeDewarper& d, int key) const
    {
        const std::string path = Path("key" + std::to_string(key) + ".png");
        return d.SavePic(path, key) == 0 ? cv::imread(path) : cv::Mat();
    }
};

TEST(DewarperTest, OnlyAReadableFrameThatMeetsAnIdleRunningPipelineIsTaken)
{
    std::promise<void> held;
    std::atomic<bool> first{true};
    Rig r(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL, 2);
    // The first show signal waits for `release`, which leaving the test early breaks.
    std::promise<void> release;
    r.show.onShow = [&held, &first, released = release.get_future().share()](int) {
        if (first.exchange(false)) {
            held.set_value();
            released.wait();
        }
    };
    SavedPictures saved;
    auto sourceLuma = [&] {  // the centre of the source picture, seen through a snapshot; -1 for none
        const cv::Mat main = r.d.SnapStart() == 0 ? saved(r.d, 0) : cv::Mat();
        r.d.SnapStop();
        return main.empty() ? -1 : main.at<cv::Vec3b>(256, 256)[0];
    };
    auto grey = [](unsigned char y) { return [y](int, int) { return y; }; };  // flat frames, luma 30 and 220
    Nv12Buffer dark(544, 544, 0, grey(30), grey(128), grey(128)), bright(544, 544, 0, grey(220), grey(128), grey(128));
    EXPECT_EQ(r.d.Process(&bright.desc), 0);
    r.d.Start();
    r.d.Start();  // a second Start changes nothing
    std::vector<tag_ZRFRAME> bad(7, bright.desc);
    bad[0].pData[0] = bad[1].pData[1] = nullptr;
    bad[2].nWidth = 0;
    bad[3].nHeight = -5;
    bad[4].nPitch[0] = 10;  // shorter than a line
    bad[5].nPitch[1] = 2;
    bad[6].nWidth = 1;
    for (tag_ZRFRAME& f : bad)
        EXPECT_EQ(r.d.Process(&f), 0);
    CZRFrame empty;
    EXPECT_EQ(r.d.Process(&empty) + r.d.Process(static_cast<tag_ZRFRAME*>(nullptr)), 0);
    EXPECT_EQ(sourceLuma(), -1) << "neither the frame fed before Start nor a bad one became the source";

    r.d.Process(&dark.desc);  // an idle pipeline takes it
    ASSERT_EQ(held.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    r.d.Process(&bright.desc);  // the main worker is inside the show callback
    EXPECT_EQ(sourceLuma(), 30) << "a frame fed while the show callback runs is dropped";
    release.set_value();
    ASSERT_TRUE(r.show.WaitForCount(1));
    r.d.Stop();
    r.d.Stop();
    EXPECT_EQ(r.d.Process(&bright.desc), 0);
    r.d.Start();
    EXPECT_EQ(sourceLuma(), 30) << "so is one fed after Stop";
    ASSERT_TRUE(Feed(r.d, r.show, &bright.desc, 2));  // the next frame to meet an idle pipeline
    EXPECT_EQ(PlanesOf(r.Frame(0)).y.at<unsigned char>(256, 256), 220);
}

// That the pictures stay the same however the work is split is EngineIdentity's to prove.
TEST(DewarperTest, SignalsAndNoticesComeOnTheirThreadsAndTheWorkSplitsIntoBlocks)
{
    // Three sub views; at first sub view 1 has no window and there is no sub worker.
    Rig r(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, 0, 3, {0, 2});
    Nv12Buffer frame = PatchFrame(544);
    r.d.Start();
    ASSERT_TRUE(Feed(r.d, r.show, &frame.desc, 3));
    ASSERT_TRUE(r.info.WaitForCount(3));
    const std::thread::id mainWorker = r.show.Signals()[0].thread;
    EXPECT_EQ(CodesByThread(r.show.Signals()), (std::map<std::thread::id, std::vector<int>>{{mainWorker, {0, 1, 3}}}))
        << "all on the main worker, in order, none for sub view 1";
    EXPECT_NE(mainWorker, std::this_thread::get_id());
    EXPECT_EQ(r.Frame(2)->GetPicture(), nullptr) << "sub view 1 gets no picture";
    // One notice per picture, naming its view (-1 the main view), all on the dewarper's own thread.
    const std::vector<Signal> notices = r.info.Signals();
    ASSERT_EQ(notices.size(), 3u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(std::make_tuple(notices[i].info.nIndex, notices[i].info.bMain, notices[i].info.uPicWidth,
                                  notices[i].info.uPicHeight, notices[i].code, notices[i].thread),
                  std::make_tuple(i == 0 ? -1 : 2 * i - 2, i == 0, r.Frame(i == 0 ? 0 : 2 * i - 1)->GetPicture()->m_uWidth,
                                  r.Frame(i == 0 ? 0 : 2 * i - 1)->GetPicture()->m_uHeight, 0, notices[0].thread))
            << i;
    EXPECT_TRUE(notices[0].thread != mainWorker && notices[0].thread != std::this_thread::get_id());

    // Draw requests: forwarded for the main window only, on the caller's thread.
    r.d.SetMainViewHwnd(Window(100));
    EXPECT_EQ(r.d.OnDraw(Window(0), 0, nullptr, nullptr), 0);
    EXPECT_EQ(r.info.Signals().size(), 3u) << "a sub view's window is not forwarded";
    EXPECT_EQ(r.d.OnDraw(Window(100), 0, nullptr, nullptr), 0);
    ASSERT_EQ(r.info.Signals().size(), 4u);
    EXPECT_EQ(std::make_pair(r.info.Signals()[3].code, r.info.Signals()[3].thread),
              std::make_pair(1, std::this_thread::get_id()));

    // Two sub workers take contiguous blocks: views 0 and 1 in order on one, view 2 on the other.
    r.d.SetSubViewHwnd(Window(1), 1);
    r.d.SetSubWorkerNum(2);
    r.show.Clear();
    ASSERT_TRUE(Feed(r.d, r.show, &frame.desc, 4));
    std::map<std::thread::id, std::vector<int>> split = CodesByThread(r.show.Signals());
    EXPECT_EQ(split[mainWorker], std::vector<int>{0});
    std::set<std::vector<int>> blocks;
    for (const auto& thread : split)
        blocks.insert(thread.second);
    EXPECT_EQ(blocks, (std::set<std::vector<int>>{{0}, {1, 2}, {3}})) << "one block per thread";
}

TEST(DewarperTest, SettingsMayChangeOnAnotherThreadWhileFramesFlow)
{
    Rig r(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, 2, 3, {0, 1, 2});
    Nv12Buffer small = PatchFrame(480), large = PatchFrame(544);
    r.d.Start();
    std::atomic<bool> done{false};
    std::thread changer([&] {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(1500);
        for (unsigned int i = 0; std::chrono::steady_clock::now() < end; ++i) {
            r.show.WaitForCount(r.show.Signals().size() + 1, 5);  // let a picture through, or 5 ms pass
            const int view = static_cast<int>(i % 3);
            switch (i % 9) {
            case 0: r.d.SetGroundAngle(i % 360); break;
            case 1: r.d.ZoomNormalView(i % 21, view); break;
            case 2: r.d.MoveNormalView({static_cast<unsigned short>(100 + i % 300), 200}, view); break;
            case 3: r.d.SetMainViewType(static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(i % 3)); break;
            case 4: r.d.SetSubViewNum(1 + i % 3); break;
            case 5: r.d.SetSubWorkerNum(i % 3); break;
            case 6: r.d.SetNormalSize(160 + 16 * (i % 4), 120); break;
            case 7: {
                const tag_ZRLENS lens{static_cast<ENUM_ZR_FE_LENS_E>(i % 3), 170.0f + static_cast<float>(i % 40), {}};
                r.d.SetLens(&lens);
                break;
            }
            default: r.d.SetInstallMode(i % 2 ? ZR_FE_INSTALL_GROUND : ZR_FE_INSTALL_CEILING, 240 + i % 32);
            }
            r.d.SetLineMask(static_cast<int>(i));
            // OpenCV's pool resized while a frame converts on it
            CZRFishEyeDewarper::SetThreadNum(1 + static_cast<int>(i % 2));
        }
        CZRFishEyeDewarper::SetThreadNum(4);
        done = true;
    });
    for (unsigned int n = 0; !done; ++n) {
        r.d.Process(n % 2 ? &small.desc : &large.desc);
        r.show.WaitForCount(r.show.Signals().size() + 1, 5);  // paced by the pipeline
    }
    changer.join();
    EXPECT_FALSE(r.show.Signals().empty()) << "pictures came while the settings changed";

    ASSERT_TRUE(Feed(r.d, r.show, &large.desc, r.show.Signals().size() + 1)) << "and it still takes frames";
}

TEST(SnapshotTest, CaptureHoldsTheMainViewAsShownWithoutOutlinesAndTheSubViewsWithWindows)
{
    const std::tuple<ENUM_ZR_FE_INSTALL_MODE_E, ENUM_ZR_FE_VIEW_TYPE_E, unsigned int> cases[] = {
        {ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL, 0}, {ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, 90},
        {ZR_FE_INSTALL_GROUND, ZR_FE_VIEW_DOUBLE_PANORAMA, 30}, {ZR_FE_INSTALL_WALL, ZR_FE_VIEW_ORIGINAL, 0}};
    Nv12Buffer frame = PatchFrame(544);
    const cv::Mat source = LiteralSource(frame.desc);
    SavedPictures saved;
    auto bgr = [](const cv::Mat& working) {  // as SavePic converts it
        cv::Mat out;
        cv::cvtColor(working, out, cv::COLOR_YUV2BGR);
        return out;
    };
    cv::Mat main;
    for (const auto& [mode, view, angle] : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << mode << ", view " << view);
        Rig r(mode, view, 0, 2, {1});  // two sub views, only the second shown: keys 0 and 2
        r.d.SetGroundAngle(angle);
        r.e.SetGroundAngle(angle);
        r.d.Start();
        ASSERT_TRUE(Feed(r.d, r.show, &frame.desc, 2));
        ASSERT_EQ(r.e.LoadFrame(frame.desc), 0);
        const LiteralSettings settings = SettingsOf(r.e);
        const cv::Mat expected = LiteralMainView(source, settings, false);
        ASSERT_FALSE(Same(expected, LiteralMainView(source, settings, true))) << "outlines would show";
        ASSERT_EQ(r.d.SnapStart(), 0);
        EXPECT_EQ(r.d.SnapStart(), -1) << "already open";
        main = saved(r.d, 0);
        EXPECT_TRUE(Same(main, bgr(expected)));
        EXPECT_EQ(r.d.SavePic(saved.Path("sub0.png"), 1), -1) << "sub view 0 has no window";
        EXPECT_TRUE(Same(saved(r.d, 2), bgr(LiteralSubView(source, r.e, 1))));
    }
    // The last case shows the whole frame, scaled to 576 x 576, in its natural colours; YUV
    // rounding and the scaling move a flat colour by a unit or two.
    ASSERT_EQ(main.size(), cv::Size(576, 576));
    for (int i = 0; i < 4; ++i)
        for (int ch = 0; ch < 3; ++ch)
            EXPECT_NEAR(main.at<cv::Vec3b>(144 + 288 * (i / 2), 144 + 288 * (i % 2))[ch], kPatches[i][ch], 3) << i;
}

// A new dewarper renders exactly; fast mode is taken up by the next frame, and a
// capture in fast mode holds the fast views.
TEST(SnapshotTest, FastModeIsChosenPerFrameAndCapturedAsShown)
{
    Nv12Buffer frame = PatchFrame(544);
    SavedPictures saved;
    Rig r(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, 1, 2, {0, 1});
    EXPECT_EQ(r.d.GetRenderMode(), ZR_FE_RENDER_EXACT);
    EXPECT_EQ(r.d.SetRenderMode(static_cast<ENUM_ZR_FE_RENDER_MODE_E>(2)) +
                  r.d.SetRenderMode(static_cast<ENUM_ZR_FE_RENDER_MODE_E>(-1)), -2);
    EXPECT_EQ(r.d.GetRenderMode(), ZR_FE_RENDER_EXACT) << "a refused mode changes nothing";
    r.d.Start();
    ASSERT_TRUE(Feed(r.d, r.show, &frame.desc, 3));
    ASSERT_EQ(r.d.SetRenderMode(ZR_FE_RENDER_FAST), 0);
    EXPECT_EQ(r.d.GetRenderMode(), ZR_FE_RENDER_FAST);
    ASSERT_EQ(r.d.SnapStart(), 0);
    const cv::Mat exactMain = saved(r.d, 0);
    r.d.SnapStop();

    ASSERT_TRUE(Feed(r.d, r.show, &frame.desc, 6));
    ASSERT_EQ(r.e.SetRenderMode(ZR_FE_RENDER_FAST) + r.e.LoadFrame(frame.desc), 0);
    ASSERT_EQ(r.d.SnapStart(), 0);
    for (int key = 0; key < 3; ++key) {
        cv::Mat working, bgr;
        ASSERT_TRUE(key ? r.e.Core().ComposeSub(key - 1, working) : r.e.Core().ComposeMain(working, false));
        cv::cvtColor(working, bgr, cv::COLOR_YUV2BGR);
        EXPECT_TRUE(Same(saved(r.d, key), bgr)) << "key " << key;
    }
    EXPECT_FALSE(Same(saved(r.d, 0), exactMain)) << "the capture before the fast frame was exact";
    r.d.SnapStop();
}

TEST(SnapshotTest, EditsNeedAnOpenSnapshotReplacePicturesAndJoinsGetRisingKeys)
{
    Rig r(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL, 0, 2, {1});
    Nv12Buffer frame = PatchFrame(544);
    SavedPictures saved;
    auto expectEditsFail = [&](const char* when) {
        int key = -7;
        EXPECT_EQ(r.d.SnapResize(0, 10, 10), -1) << when;
        EXPECT_EQ(r.d.SnapAddBlackBorder(0, 2), -1) << when;
        EXPECT_EQ(r.d.SnapHorconcat({0, 0}, key) + r.d.SnapVerconcat({0, 0}, key), -2) << when;
        EXPECT_EQ(r.d.SavePic(saved.Path("a.png"), 0), -1) << when;
        EXPECT_EQ(key, -7) << when;
    };
    expectEditsFail("never opened");
    r.d.Start();
    EXPECT_EQ(r.d.SnapStart(), -1) << "nothing to capture before the first frame";
    expectEditsFail("after a capture without a frame");
    ASSERT_TRUE(Feed(r.d, r.show, &frame.desc, 2));
    EXPECT_EQ(r.d.SnapStop(), 0) << "with none open";
    ASSERT_EQ(r.d.SnapStart(), 0);

    int key = -1;
    EXPECT_EQ(r.d.SnapHorconcat({0, 2}, key), -1) << "512 rows against 120";
    ASSERT_EQ(r.d.SnapResize(0, 160, 120), 0);
    const cv::Mat main = saved(r.d, 0), sub = saved(r.d, 2);
    ASSERT_EQ(main.size(), cv::Size(160, 120));
    cv::Mat side, bars;
    cv::hconcat(main, sub, side);
    cv::copyMakeBorder(sub, bars, 0, 0, 16, 16, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    ASSERT_EQ(r.d.SnapHorconcat({0, 2}, key), 0);
    EXPECT_EQ(key, 100);
    EXPECT_TRUE(Same(saved(r.d, 100), side)) << "the first key on the left";
    EXPECT_EQ(r.d.SnapVerconcat({2}, key) + r.d.SnapVerconcat({100, 2}, key) + r.d.SnapHorconcat({0, 77}, key), -3)
        << "a single part, 320 columns against 160, a missing key";
    EXPECT_EQ(key, 100) << "a failed join leaves the key alone";
    ASSERT_EQ(r.d.SnapVerconcat({2, 0}, key), 0);
    EXPECT_EQ(key, 101);
    EXPECT_EQ(saved(r.d, 101).size(), cv::Size(160, 240));
    // A border replaces the picture with one between black bars; a join made from it keeps its own.
    ASSERT_EQ(r.d.SnapAddBlackBorder(2, 16), 0);
    EXPECT_TRUE(Same(saved(r.d, 2), bars));
    EXPECT_TRUE(Same(saved(r.d, 100), side));

    // Bad sizes, keys and paths answer -1 and keep the store.
    EXPECT_EQ(r.d.SnapResize(2, 0, 10) + r.d.SnapResize(2, -5, 10) + r.d.SnapAddBlackBorder(2, -1), -3);
    EXPECT_EQ(r.d.SnapResize(1, 10, 10) + r.d.SnapAddBlackBorder(103, 2), -2);
    EXPECT_EQ(r.d.SavePic(saved.Path("x.unknownext"), 2) + r.d.SavePic("/nonexistent-dir/deeper/x.png", 2), -2);
    EXPECT_TRUE(Same(saved(r.d, 2), bars));

    // Composed keys start again at 100 after SnapStop, which closes the store.
    ASSERT_EQ(r.d.SnapStop(), 0);
    expectEditsFail("after SnapStop");
    ASSERT_EQ(r.d.SnapStart(), 0);
    ASSERT_EQ(r.d.SnapVerconcat({2, 2}, key), 0);
    EXPECT_EQ(key, 100);
}

}  // namespace

namespace {

// Radii at the picture limit, found from the sizes the library documents: the floor and
// ceiling panorama is 2 pi r wide (rounded down to 8 pixels), 16384 at r = 2608; the wall's
// working square has the side 2 * 9 * (r / 8), 8190 at r = 3647 and so within 2^26 pixels.
const unsigned int kLargestGroundRadius = 2608;
const unsigned int kLargestWallRadius = 3647;

// An NV12 descriptor over one small buffer, claiming any size: a refused frame is never read.
tag_ZRFRAME ClaimedFrame(std::vector<unsigned char>& bytes, int w, int h)
{
    tag_ZRFRAME f{};
    f.pData[0] = f.pData[1] = bytes.data();
    f.nPitch[0] = f.nPitch[1] = w;
    f.nWidth = w;
    f.nHeight = h;
    return f;
}

}  // namespace

// Every size a caller hands the library is held to one limit: the call works at the limit,
// and one step past it answers -1 (or ignores the frame) without throwing or changing anything.
TEST(LimitsTest, EverySizeFromACallerWorksAtTheLimitAndIsRefusedOnePast)
{
    const int side = ZR_FE_MAX_PICTURE_SIDE;
    const int squareSide = 8192;  // 8192 x 8192 is exactly the pixel limit
    ASSERT_EQ(static_cast<long long>(squareSide) * squareSide, ZR_FE_MAX_PICTURE_PIXELS);
    Rig r(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL);  // no sub view, so no sub-view table is built
    std::vector<unsigned char> small(2 * side + 64, 16);
    std::vector<unsigned char> frameBytes(static_cast<size_t>(squareSide) * 3, 100);
    struct Entry {
        const char* what;
        std::function<int()> atLimit, onePast;
    };
    const std::vector<Entry> entries = {
        {"ceiling radius", [&] { return r.e.SetInstallMode(ZR_FE_INSTALL_CEILING, kLargestGroundRadius); },
         [&] { return r.e.SetInstallMode(ZR_FE_INSTALL_CEILING, kLargestGroundRadius + 1); }},
        {"wall radius", [&] { return r.e.SetInstallMode(ZR_FE_INSTALL_WALL, kLargestWallRadius); },
         [&] { return r.e.SetInstallMode(ZR_FE_INSTALL_WALL, kLargestWallRadius + 1); }},
        {"absurd radius", [&] { return r.d.SetInstallMode(ZR_FE_INSTALL_CEILING, 256, true); },
         [&] { return r.d.SetInstallMode(ZR_FE_INSTALL_CEILING, 1u << 20); }},
        {"sub-view side", [&] { return r.e.SetNormalSize(side, squareSide / 2); },
         [&] { return r.e.SetNormalSize(side + 1, 1); }},
        {"sub-view pixels", [&] { return r.d.SetNormalSize(squareSide, squareSide); },
         [&] { return r.d.SetNormalSize(squareSide, squareSide + 1); }},
        {"frame width",
         [&] {
             tag_ZRFRAME f = ClaimedFrame(frameBytes, squareSide, 2);
             return r.e.LoadFrame(f);
         },
         [&] {
             tag_ZRFRAME f = ClaimedFrame(small, squareSide + 2, 2);
             return r.e.LoadFrame(f);
         }},
        {"frame of 2^20 x 2^20",
         [&] {
             tag_ZRFRAME f = ClaimedFrame(small, 64, 64);
             return r.e.LoadFrame(f);
         },
         [&] {
             tag_ZRFRAME f = ClaimedFrame(small, 1 << 20, 1 << 20);
             return r.e.LoadFrame(f);
         }},
        {"picture packet",
         [&] {
             CZRPacketPIC* p = CZRPacketPIC::Acquire(side, 2, ZR_PIC_FORMAT_YV12, nullptr, 0);
             const int got = p ? 0 : -1;
             if (p)
                 p->Release();
             return got;
         },
         [&] { return CZRPacketPIC::Acquire(side + 2, 2, ZR_PIC_FORMAT_YV12, nullptr, 0) ? 0 : -1; }},
    };
    for (const Entry& entry : entries) {
        EXPECT_NO_THROW(EXPECT_EQ(entry.atLimit(), 0) << entry.what);
        const zrfe::ViewSize before = r.e.GetMainViewSize();
        unsigned int w = 0, h = 0, ew = 0, eh = 0;
        r.d.GetNormalSize(w, h);
        r.e.GetNormalSize(ew, eh);
        const unsigned int radius = r.e.GetRadius(), mode = r.e.GetInstallMode();
        EXPECT_NO_THROW(EXPECT_EQ(entry.onePast(), -1) << entry.what);
        unsigned int w2 = 0, h2 = 0, ew2 = 0, eh2 = 0;
        r.d.GetNormalSize(w2, h2);
        r.e.GetNormalSize(ew2, eh2);
        EXPECT_EQ(std::make_tuple(w2, h2, ew2, eh2, r.e.GetRadius(), static_cast<unsigned int>(r.e.GetInstallMode())),
                  std::make_tuple(w, h, ew, eh, radius, mode))
            << entry.what << ": the refused call changed a setting";
        EXPECT_EQ(r.e.GetMainViewSize().width, before.width) << entry.what;
    }
    EXPECT_EQ(r.d.GetGroundParam().uRadius, 256u) << "the dewarper kept its tables for r = 256";

    // A frame past the limit meets a running pipeline and is ignored; the next good one is shown.
    r.d.Start();
    tag_ZRFRAME huge = ClaimedFrame(small, 1 << 20, 1 << 20);
    EXPECT_NO_THROW(r.d.Process(&huge));
    Nv12Buffer frame = PatchFrame(512);
    ASSERT_TRUE(Feed(r.d, r.show, &frame.desc, 1));

    // Snapshot edits: the result, not the argument, is held to the limit; a refused edit leaves
    // the picture editable and savable.
    SavedPictures saved;
    ASSERT_EQ(r.d.SnapStart(), 0);
    EXPECT_EQ(r.d.SnapAddBlackBorder(0, 1 << 20), -1);
    EXPECT_EQ(r.d.SnapResize(0, side + 1, 1), -1);
    EXPECT_EQ(r.d.SnapResize(0, squareSide, squareSide + 1), -1);
    ASSERT_EQ(saved(r.d, 0).size(), cv::Size(512, 512));
    EXPECT_EQ(r.d.SnapAddBlackBorder(0, (side - 512) / 2), 0) << "exactly the widest picture";
    EXPECT_EQ(r.d.SnapAddBlackBorder(0, 1), -1);
    int key = -1;
    EXPECT_EQ(r.d.SnapHorconcat({0, 0}, key), -1) << "two of the widest side by side";
    ASSERT_EQ(r.d.SnapResize(0, side, squareSide / 4), 0);
    EXPECT_EQ(r.d.SnapVerconcat({0, 0}, key), 0) << "16384 x 4096, at the pixel limit";
    EXPECT_EQ(r.d.SnapVerconcat({0, 0, 0}, key), -1);
    EXPECT_EQ(r.d.SnapResize(0, 32, 24), 0);
    EXPECT_EQ(saved(r.d, 0).size(), cv::Size(32, 24));

    // A radius refused at construction builds no panorama, not even when a new lens
    // rebuilds every table (this once asked for 6.7 GB).
    zrfe::Engine refused(ZR_FE_INSTALL_CEILING, side, ZR_FE_VIEW_PANORAMA, 512, 64, 48);
    const tag_ZRLENS lens{ZR_FE_LENS_EQUISOLID, 190.0f, {}};
    EXPECT_NO_THROW(EXPECT_EQ(refused.SetLens(&lens), 0));
    EXPECT_EQ(refused.GetMainViewSize().width, 0);
}
