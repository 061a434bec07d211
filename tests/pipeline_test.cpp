// The worker pipeline: frames in, main and sub views out through the callbacks.
#include <atomic>
#include <memory>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "TestSupport.h"
#include "geometry/GroundPanoramaTable.h"

namespace {

using zrtest::Nv12Buffer;
using zrtest::Recorder;
using zrtest::WaitUntil;
using zrtest::Feed;

HWND Window(int n) { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x1000 + n)); }

// A frame with a different colour in each quadrant, so turns and swaps show.
Nv12Buffer QuadrantFrame(int side, int pad = 0)
{
    auto quad = [side](int x, int y, int s) { return (x * s >= side / 2 ? 1 : 0) + (y * s >= side / 2 ? 2 : 0); };
    return Nv12Buffer(
        side, side, pad, [=](int x, int y) { return static_cast<unsigned char>(40 + 50 * quad(x, y, 1)); },
        [=](int x, int y) { return static_cast<unsigned char>(60 + 30 * quad(x, y, 2)); },
        [=](int x, int y) { return static_cast<unsigned char>(200 - 30 * quad(x, y, 2)); });
}

cv::Mat MainPicture(CZRFishEyeDewarper& d, int index = 0)
{
    CZRFrame* frm = nullptr;
    d.GetFrame(frm, index);
    return zrtest::FrameToWorking(frm);
}

struct Pipeline {
    std::unique_ptr<CZRFishEyeDewarper> d;
    Recorder show;
    Pipeline(ENUM_ZR_FE_INSTALL_MODE_E mode, int r, ENUM_ZR_FE_VIEW_TYPE_E view, unsigned int subWorkers = 0)
        : d(new CZRFishEyeDewarper(mode, r, view, r, 160, 120, subWorkers))
    {
        d->SetShowCallBack(&show);
        d->Start();
    }
};

TEST(PipelineTest, FramesBeforeStartOrAfterStopAreIgnored)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_ORIGINAL, 256, 160, 120, 0);
    Recorder show;
    d.SetShowCallBack(&show);
    Nv12Buffer frame = QuadrantFrame(512);
    EXPECT_EQ(d.Process(&frame.desc), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(show.Signals().empty());
    d.Start();
    d.Start();  // a second Start changes nothing
    ASSERT_TRUE(Feed(d, show, &frame.desc, 1));
    d.Stop();
    d.Stop();
    show.Clear();
    EXPECT_EQ(d.Process(&frame.desc), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(show.Signals().empty());
}

TEST(PipelineTest, MainPictureSizesFollowModeAndViewType)
{
    struct Case {
        ENUM_ZR_FE_INSTALL_MODE_E mode;
        ENUM_ZR_FE_VIEW_TYPE_E view;
        int width, height;
    };
    // r = 256: floor and ceiling s = 272, panorama 1608 x 256 (256 * 2 pi = 1608.5), halves 800 wide;
    // wall s = 288, window 512 x 352 (512 * 0.7 = 358.4 rounded down to a multiple of 8).
    const Case cases[] = {
        {ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL, 512, 512},
        {ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, 1608, 256},
        {ZR_FE_INSTALL_GROUND, ZR_FE_VIEW_DOUBLE_PANORAMA, 800, 512},
        {ZR_FE_INSTALL_CEILING, static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(7), 1608, 256},
        {ZR_FE_INSTALL_WALL, ZR_FE_VIEW_ORIGINAL, 576, 576},
        {ZR_FE_INSTALL_WALL, ZR_FE_VIEW_PANORAMA, 512, 352},
        {ZR_FE_INSTALL_WALL, ZR_FE_VIEW_DOUBLE_PANORAMA, 512, 352},
    };
    Nv12Buffer frame = QuadrantFrame(600);
    for (const Case& c : cases) {
        Pipeline p(c.mode, 256, c.view);
        ASSERT_TRUE(Feed(*p.d, p.show, &frame.desc, 1));
        CZRFrame* frm = nullptr;
        p.d->GetFrame(frm, 0);
        ASSERT_NE(frm->GetPicture(), nullptr);
        EXPECT_EQ(frm->GetPicture()->m_uWidth, static_cast<unsigned int>(c.width)) << c.mode << "/" << c.view;
        EXPECT_EQ(frm->GetPicture()->m_uHeight, static_cast<unsigned int>(c.height)) << c.mode << "/" << c.view;
    }
}

TEST(PipelineTest, OriginalViewIsMaskedToTheLensCircleWithChromaKept)
{
    Pipeline p(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_ORIGINAL);
    Nv12Buffer frame = zrtest::FlatNv12(544, 544, 180, 90, 170);  // 2s = 544: no scaling
    ASSERT_TRUE(Feed(*p.d, p.show, &frame.desc, 1));
    cv::Mat m = MainPicture(*p.d);
    ASSERT_EQ(m.size(), cv::Size(512, 512));
    EXPECT_EQ(m.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 90, 170)) << "corner: outside the circle, luma 0";
    EXPECT_EQ(m.at<cv::Vec3b>(511, 511), cv::Vec3b(0, 90, 170));
    EXPECT_EQ(m.at<cv::Vec3b>(256, 256), cv::Vec3b(180, 90, 170)) << "centre: the picture itself";
    EXPECT_EQ(m.at<cv::Vec3b>(256, 2), cv::Vec3b(180, 90, 170)) << "just inside the rim";
}

TEST(PipelineTest, ChromaPlanesKeepTheirOrderThroughPacketFrames)
{
    Pipeline p(ZR_FE_INSTALL_WALL, 256, ZR_FE_VIEW_ORIGINAL);
    cv::Mat working(576, 576, CV_8UC3, cv::Scalar(120, 70, 210));
    CZRPacketPIC* pkt = zrtest::PacketFromWorking(working);
    CZRFrame in;
    in.SetPicture(pkt);
    pkt->Release();
    for (int attempt = 0; attempt < 50 && !p.show.WaitForCount(1, 0); ++attempt) {
        p.d->Process(&in);
        p.show.WaitForCount(1, 400);
    }
    CZRFrame* out = nullptr;
    p.d->GetFrame(out, 0);
    ASSERT_NE(out->GetPicture(), nullptr);
    EXPECT_EQ(out->GetPicture()->GetLine(0, 100)[100], 120);
    EXPECT_EQ(out->GetPicture()->GetLine(1, 50)[50], 210) << "plane 1 carries V";
    EXPECT_EQ(out->GetPicture()->GetLine(2, 50)[50], 70) << "plane 2 carries U";
}

TEST(PipelineTest, GroundAngleTurnsThePanoramaLeft)
{
    Pipeline p(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_PANORAMA);
    Nv12Buffer frame = QuadrantFrame(544);
    ASSERT_TRUE(Feed(*p.d, p.show, &frame.desc, 1));
    const cv::Mat straight = MainPicture(*p.d);
    ASSERT_EQ(p.d->SetGroundAngle(90), 0);
    ASSERT_TRUE(Feed(*p.d, p.show, &frame.desc, 2));
    const cv::Mat turned = MainPicture(*p.d);
    const int shift = static_cast<int>(1608.0f * 90 / 360.0f);  // 402
    cv::Mat expected;
    cv::hconcat(straight.colRange(shift, 1608), straight.colRange(0, shift), expected);
    EXPECT_EQ(cv::norm(turned, expected, cv::NORM_INF), 0.0);
    EXPECT_GT(cv::norm(turned, straight, cv::NORM_INF), 0.0);
}

TEST(PipelineTest, DoublePanoramaStacksTheTwoHalves)
{
    Pipeline single(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_PANORAMA);
    Pipeline dbl(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_DOUBLE_PANORAMA);
    Nv12Buffer frame = QuadrantFrame(544);
    ASSERT_TRUE(Feed(*single.d, single.show, &frame.desc, 1));
    ASSERT_TRUE(Feed(*dbl.d, dbl.show, &frame.desc, 1));
    const cv::Mat full = MainPicture(*single.d), stacked = MainPicture(*dbl.d);
    cv::Mat expected;
    cv::vconcat(full.colRange(0, 800), full.colRange(800, 1600), expected);
    EXPECT_EQ(cv::norm(stacked, expected, cv::NORM_INF), 0.0) << "columns 1600 to 1607 are not shown";
}

TEST(PipelineTest, AFrameMeetingABusyPipelineIsDroppedAndTheNextIsTaken)
{
    Pipeline p(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_ORIGINAL);
    std::atomic<bool> release{false};
    std::atomic<int> inside{0};
    p.show.onShow = [&](int) {
        ++inside;
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    Nv12Buffer dark = zrtest::FlatNv12(544, 544, 30, 128, 128);
    Nv12Buffer bright = zrtest::FlatNv12(544, 544, 220, 128, 128);
    p.d->Process(&dark.desc);
    ASSERT_TRUE(WaitUntil([&] { return inside == 1; }));
    p.d->Process(&bright.desc);  // the main worker is inside the show callback: dropped
    release = true;
    ASSERT_TRUE(p.show.WaitForCount(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(p.show.Signals().size(), 1u) << "the dropped frame produced nothing";
    EXPECT_EQ(MainPicture(*p.d).at<cv::Vec3b>(256, 256)[0], 30);
    ASSERT_TRUE(Feed(*p.d, p.show, &bright.desc, 2));
    EXPECT_EQ(MainPicture(*p.d).at<cv::Vec3b>(256, 256)[0], 220);
}

TEST(PipelineTest, InfoNoticesArriveOnTheDewarperThreadAndDrawRequestsOnlyForTheMainWindow)
{
    Pipeline p(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_PANORAMA);
    Recorder info;
    info.infoCallback = true;
    p.d->SetInfoNotifyCallBack(&info);
    Nv12Buffer frame = QuadrantFrame(544);
    ASSERT_TRUE(Feed(*p.d, p.show, &frame.desc, 1));
    ASSERT_TRUE(info.WaitForCount(1));
    const zrtest::Signal s = info.Signals()[0];
    EXPECT_EQ(s.code, 0);
    EXPECT_EQ(s.info.bMain, 1);
    EXPECT_EQ(s.info.nIndex, -1);
    EXPECT_EQ(s.info.uPicWidth, 1608u);
    EXPECT_EQ(s.info.uPicHeight, 256u);
    EXPECT_NE(s.thread, p.show.Signals()[0].thread) << "notices come on the dewarper thread, not the worker";
    EXPECT_NE(s.thread, std::this_thread::get_id());

    p.d->SetMainViewHwnd(Window(0));
    int token = 5;
    EXPECT_EQ(p.d->OnDraw(Window(1), 0, nullptr, &token), 0);
    EXPECT_EQ(info.Signals().size(), 1u);
    EXPECT_EQ(p.d->OnDraw(Window(0), 0, nullptr, &token), 0);
    ASSERT_EQ(info.Signals().size(), 2u);
    EXPECT_EQ(info.Signals()[1].code, 1);
    EXPECT_EQ(info.Signals()[1].thread, std::this_thread::get_id());
}

TEST(PipelineTest, WidthChangeMovesTheLensCircleOfTheSubViews)
{
    // Constructed for a 200-pixel source; a 400-pixel frame must rebuild the sub view
    // so that its centre (tilt 0) shows the centre of the new frame.
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_ORIGINAL, 100, 64, 48, 0);
    Recorder show;
    d.SetShowCallBack(&show);
    d.SetSubViewNum(1);
    d.SetSubViewHwnd(Window(1), 0);
    tag_ZR_FE_POINT_SET_S before, after;
    d.GetSubViewPoints(before, 0);
    d.Start();
    Nv12Buffer frame(400, 400, 0,
                     [](int x, int y) { return static_cast<unsigned char>(std::abs(x - 200) + std::abs(y - 200) < 40 ? 250 : 20); },
                     [](int, int) { return 128; }, [](int, int) { return 128; });
    ASSERT_TRUE(Feed(d, show, &frame.desc, 2));
    CZRFrame* sub = nullptr;
    d.GetFrame(sub, 1);
    cv::Mat view = zrtest::FrameToWorking(sub);
    ASSERT_EQ(view.size(), cv::Size(64, 48));
    EXPECT_EQ(view.at<cv::Vec3b>(24, 32)[0], 250) << "centre of the view shows the frame's centre";
    d.GetSubViewPoints(after, 0);
    EXPECT_EQ(after.stCenter.nX, 256);  // the original view's centre, whatever the source size
    EXPECT_EQ(after.stCenter.nY, 256);
}

TEST(PipelineTest, BadFramesAreDroppedWithoutTrace)
{
    Pipeline p(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_ORIGINAL, 2);
    Nv12Buffer good = QuadrantFrame(64);
    std::vector<tag_ZRFRAME> bad(7, good.desc);
    bad[0].pData[0] = nullptr;
    bad[1].pData[1] = nullptr;
    bad[2].nWidth = 0;
    bad[3].nHeight = -5;
    bad[4].nPitch[0] = 10;  // shorter than a line
    bad[5].nPitch[1] = 2;
    bad[6].nWidth = 1;
    for (tag_ZRFRAME& f : bad)
        EXPECT_EQ(p.d->Process(&f), 0);
    EXPECT_EQ(p.d->Process(static_cast<tag_ZRFRAME*>(nullptr)), 0);
    EXPECT_EQ(p.d->Process(static_cast<CZRFrame*>(nullptr)), 0);
    CZRFrame empty;
    EXPECT_EQ(p.d->Process(&empty), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(p.show.Signals().empty());

    // Odd sizes are fine; a callback cleared while frames flow just stops the signals.
    Nv12Buffer odd = QuadrantFrame(63);
    ASSERT_TRUE(Feed(*p.d, p.show, &odd.desc, 1));
    p.d->SetShowCallBack(nullptr);
    for (int i = 0; i < 20; ++i) {
        p.d->Process(&odd.desc);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_EQ(p.show.Signals().size(), 1u);
    // Destroyed while running: the destructor stops it.
}

}  // namespace
