// Sub views: records and clamps, their tables and outlines, and their rendering.
#include <atomic>
#include <cmath>
#include <memory>

#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "TestSupport.h"
#include "geometry/LensGeometry.h"
#include "geometry/SubViewOutline.h"
#include "normal/GroundNormalTable.h"
#include "normal/NormalViewClamp.h"
#include "normal/WallNormalTable.h"

namespace {

using zrtest::Nv12Buffer;
using zrtest::Recorder;
using P = tag_ZR_FE_POINT_S;

HWND Window(int n) { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x2000 + n)); }

tag_ZR_FE_NORMAL_VIEW_S Record(CZRFishEyeDewarper& d, unsigned int i)
{
    tag_ZR_FE_NORMAL_VIEW_S v;
    d.GetNormalParam(v, i);
    return v;
}

TEST(NormalViewClampTest, GroundTiltLimitDependsOnTheHorizontalZoom)
{
    // r = 1024, s = 1088; the limits printed in degrees to two places.
    EXPECT_NEAR(zrfe::GroundTiltLimit(1024, 1088, 1.25f), 53.19f, 0.005f);
    EXPECT_NEAR(zrfe::GroundTiltLimit(1024, 1088, 2.625f), 70.59f, 0.005f);
    EXPECT_NEAR(zrfe::GroundTiltLimit(1024, 1088, 4.0f), 75.38f, 0.005f);
    EXPECT_NEAR(zrfe::GroundTiltLimit(512, 544, 1.25f), 53.19f, 0.005f);
    EXPECT_TRUE(std::isnan(zrfe::GroundTiltLimit(0, 0, 1.25f)));

    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 1024, ZR_FE_VIEW_ORIGINAL, 1024, 64, 48, 0);
    tag_ZR_FE_NORMAL_VIEW_S v = Record(d, 0);
    v.fAngleY = 89;
    ASSERT_EQ(d.SetNormalView(v, 0), 0);
    EXPECT_NEAR(Record(d, 0).fAngleY, 53.19f, 0.005f);
    v.fZoomHor = 4.0f;
    ASSERT_EQ(d.SetNormalView(v, 0), 0);
    EXPECT_NEAR(Record(d, 0).fAngleY, 75.38f, 0.005f);
    v.fAngleY = 30;
    v.fAngleZ = 400;  // azimuth and zoom are stored as given
    ASSERT_EQ(d.SetNormalView(v, 0), 0);
    EXPECT_EQ(Record(d, 0).fAngleY, 30.0f);
    EXPECT_EQ(Record(d, 0).fAngleZ, 400.0f);
}

TEST(NormalViewClampTest, WallPanAndTiltStayInTheValidBand)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_WALL, 1000, ZR_FE_VIEW_PANORAMA, 1000, 64, 48, 0);
    d.SetSubViewNum(1);
    tag_ZR_FE_NORMAL_VIEW_S v = Record(d, 0);
    EXPECT_FLOAT_EQ(v.fPan, -0.1737366f) << "upper bound for fovH 1.57 and kx = 8/9";
    EXPECT_EQ(v.fTilt, 0.0f);
    v.fPan = -5;
    v.fTilt = -5;
    ASSERT_EQ(d.SetNormalView(v, 0), 0);
    EXPECT_FLOAT_EQ(Record(d, 0).fPan, -1.3962634f);
    EXPECT_FLOAT_EQ(Record(d, 0).fTilt, -1.3089969f);
    v.fTilt = 5;
    ASSERT_EQ(d.SetNormalView(v, 0), 0);
    EXPECT_FLOAT_EQ(Record(d, 0).fTilt, 0.5239969f);
    // Crossed bounds: the upper one wins.
    v.fFovHor = 3.0f;
    v.fPan = 0;
    ASSERT_EQ(d.SetNormalView(v, 0), 0);
    EXPECT_LT(Record(d, 0).fPan, -1.3962634f);
}

TEST(NormalViewControlTest, IndexesZoomAndSingleAnglesFollowTheirRules)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 512, ZR_FE_VIEW_ORIGINAL, 512, 64, 48, 0);
    tag_ZR_FE_NORMAL_VIEW_S v = Record(d, 0), untouched{};
    untouched.fAngleY = 123;
    EXPECT_EQ(v.fZoomHor, 1.25f);
    EXPECT_EQ(v.fFovHor, 1.57f);
    EXPECT_EQ(v.fFovVer, 0.785f);
    EXPECT_EQ(v.uZoom, 10u);

    v.fAngleZ = 33;
    EXPECT_EQ(d.SetNormalView(v, 8), 0);
    EXPECT_EQ(d.SetNormalView(v, -1), 0);
    d.GetNormalParam(untouched, 8);
    EXPECT_EQ(untouched.fAngleY, 123.0f);
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(Record(d, i).fAngleZ, 0.0f);
    EXPECT_EQ(d.MoveNormalView(P{0, 0}, 8), -1);
    EXPECT_EQ(d.ZoomNormalView(3, -1), -1);
    EXPECT_EQ(d.SetNormalY(3, 8), -1);
    EXPECT_EQ(d.SetNormalZ(3, -2), -1);

    EXPECT_EQ(d.ZoomNormalView(10, 0), 0);
    EXPECT_EQ(Record(d, 0).fZoomHor, 1.25f) << "level 10 is already the stored level: nothing changes";
    EXPECT_EQ(d.ZoomNormalView(25, 0), 0);
    EXPECT_EQ(Record(d, 0).uZoom, 20u);
    EXPECT_EQ(Record(d, 0).fZoomHor, 4.0f);
    EXPECT_EQ(Record(d, 0).fZoomVer, 4.0f);
    EXPECT_EQ(d.ZoomNormalView(0, 0), 0);
    EXPECT_EQ(Record(d, 0).fZoomVer, 1.25f);

    EXPECT_EQ(d.SetNormalY(95, 1), 0);
    EXPECT_EQ(Record(d, 1).fAngleY, 5.0f);
    EXPECT_EQ(d.SetNormalZ(720, 1), 0);
    EXPECT_EQ(Record(d, 1).fAngleZ, 0.0f);
    EXPECT_EQ(d.SetNormalZ(725, 1), 0);
    EXPECT_EQ(Record(d, 1).fAngleZ, 5.0f);

    // Records with NaN or infinite fields are refused whole.
    v = Record(d, 2);
    v.fAngleY = std::nanf("");
    EXPECT_EQ(d.SetNormalView(v, 2), -1);
    v = Record(d, 2);
    v.fZoomHor = INFINITY;
    EXPECT_EQ(d.SetNormalView(v, 2), -1);
    EXPECT_EQ(Record(d, 2).fZoomHor, 1.25f);
    EXPECT_EQ(Record(d, 2).fAngleY, 0.0f);

    // Wall zoom: a higher level widens the view.
    CZRFishEyeDewarper w(ZR_FE_INSTALL_WALL, 512, ZR_FE_VIEW_ORIGINAL, 512, 64, 48, 0);
    EXPECT_EQ(w.ZoomNormalView(20, 0), 0);
    EXPECT_FLOAT_EQ(Record(w, 0).fFovHor, 1.9634953f);
    EXPECT_FLOAT_EQ(Record(w, 0).fFovVer, 0.9817477f);
    EXPECT_EQ(w.ZoomNormalView(0, 0), 0);
    EXPECT_FLOAT_EQ(Record(w, 0).fFovHor, 0.7853982f);
    EXPECT_FLOAT_EQ(Record(w, 0).fFovVer, 0.3926991f);
}

TEST(NormalViewControlTest, AClickAimsTheViewAtTheClickedPoint)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 1000, ZR_FE_VIEW_ORIGINAL, 1000, 64, 48, 0);
    struct Click {
        P point;
        float angleZ;
    };
    // Original-view points around the centre (1000, 1000).
    const Click clicks[] = {{{1500, 1000}, 180.0f}, {{1000, 1500}, 90.0f}, {{500, 1000}, 0.0f}, {{1000, 500}, 270.0f}};
    for (const Click& c : clicks) {
        ASSERT_EQ(d.MoveNormalView(c.point, 0), 0);
        EXPECT_NEAR(Record(d, 0).fAngleZ, c.angleZ, 1e-4f);
        // d = 500 pixels in a working image of half size 1054: 2 atan(500 / 1054).
        EXPECT_NEAR(Record(d, 0).fAngleY, 2 * std::atan(500.0 / 1054.0) * 180 / 3.141592653589793, 1e-3);
    }
    ASSERT_EQ(d.MoveNormalView(P{1000, 1000}, 0), 0);
    EXPECT_EQ(Record(d, 0).fAngleY, 0.0f);
    EXPECT_EQ(Record(d, 0).fAngleZ, 180.0f);

    // In the panorama view the click is converted first; a point beyond the table fails.
    ASSERT_EQ(d.SetMainViewType(ZR_FE_VIEW_PANORAMA), 0);
    ASSERT_EQ(d.MoveNormalView(P{0, 999}, 0), 0);  // panorama (0, 999) is original (1000, 999)
    EXPECT_NEAR(Record(d, 0).fAngleZ, 270.0f, 1e-4f);
    const tag_ZR_FE_NORMAL_VIEW_S before = Record(d, 0);
    EXPECT_EQ(d.MoveNormalView(P{0, 1000}, 0), -1);
    EXPECT_EQ(Record(d, 0).fAngleY, before.fAngleY);
}

TEST(NormalViewControlTest, SubViewCountCreatesTablesOnceAndKeepsThem)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 512, ZR_FE_VIEW_ORIGINAL, 512, 64, 48, 0);
    EXPECT_EQ(d.GetAllViewNum(), 1);
    tag_ZR_FE_POINT_SET_S pts;
    d.GetSubViewPoints(pts, 4);
    EXPECT_TRUE(pts.vecPoints.empty()) << "never computed";
    EXPECT_EQ(pts.stCenter.nX, 0);
    d.SetSubViewNum(5);
    EXPECT_EQ(d.GetAllViewNum(), 6);
    d.GetSubViewPoints(pts, 4);
    EXPECT_FALSE(pts.vecPoints.empty());
    d.SetSubViewNum(3);
    EXPECT_EQ(d.GetAllViewNum(), 4);
    d.GetSubViewPoints(pts, 4);
    EXPECT_FALSE(pts.vecPoints.empty()) << "lowering the count frees nothing";
    d.SetSubViewNum(9);
    EXPECT_EQ(d.GetAllViewNum(), 4);

    tag_ZR_FE_POINT_SET_S keep;
    keep.vecPoints.push_back(P{1, 2});
    keep.stCenter = P{3, 4};
    d.GetSubViewPoints(keep, 8);
    d.GetSubViewPoints(keep, -1);
    ASSERT_EQ(keep.vecPoints.size(), 1u);
    EXPECT_EQ(keep.stCenter.nX, 3);

    unsigned int w = 0, h = 0;
    EXPECT_EQ(d.SetNormalSize(64, 48), 0);
    EXPECT_EQ(d.SetNormalSize(0, 0), 0);  // zero-sized views: empty tables, no crash
    EXPECT_EQ(d.SetNormalSize(1, 1), 0);
    EXPECT_EQ(d.GetNormalSize(w, h), 0);
    EXPECT_EQ(w, 1u);
    EXPECT_EQ(h, 1u);
}

TEST(GroundNormalTableTest, CentreAndHalfTurnAndZoom)
{
    tag_ZR_FE_NORMAL_VIEW_S v{};
    v.fZoomHor = v.fZoomVer = 1.25f;
    v.fAngleZ = 37;
    cv::Mat cx, cy, fx, fy;
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, ZR_FE_INSTALL_CEILING, cx, cy);
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, ZR_FE_INSTALL_GROUND, fx, fy);
    ASSERT_EQ(cx.size(), cv::Size(64, 48));
    EXPECT_NEAR(cx.at<float>(24, 32), 500.0f, 1e-2f) << "tilt 0: the centre shows the circle's centre";
    EXPECT_NEAR(cy.at<float>(24, 32), 500.0f, 1e-2f);
    v.fAngleY = 40;
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, ZR_FE_INSTALL_CEILING, cx, cy);
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, ZR_FE_INSTALL_GROUND, fx, fy);
    for (int r = 1; r < 48; ++r)
        for (int c = 1; c < 64; ++c) {
            ASSERT_NEAR(fx.at<float>(r, c), cx.at<float>(48 - r, 64 - c), 1e-2f) << r << "," << c;
            ASSERT_NEAR(fy.at<float>(r, c), cy.at<float>(48 - r, 64 - c), 1e-2f) << r << "," << c;
        }
    // A higher zoom factor narrows the view: the top edge moves towards the view's centre.
    v.fAngleY = 0;
    cv::Mat wx, wy, nx, ny;
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, ZR_FE_INSTALL_CEILING, wx, wy);
    v.fZoomHor = v.fZoomVer = 4.0f;
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, ZR_FE_INSTALL_CEILING, nx, ny);
    const float wide = std::hypot(wx.at<float>(0, 32) - 500, wy.at<float>(0, 32) - 500);
    const float narrow = std::hypot(nx.at<float>(0, 32) - 500, ny.at<float>(0, 32) - 500);
    EXPECT_LT(narrow, wide / 2);
    zrfe::BuildGroundNormalTable(v, 0, 48, 500, ZR_FE_INSTALL_CEILING, nx, ny);
    EXPECT_TRUE(nx.empty());
}

TEST(WallNormalTableTest, MatchesTheLiteralFormulaAndLooksAlongTheAxis)
{
    tag_ZR_FE_NORMAL_VIEW_S v{};
    v.fFovHor = 1.57f;
    v.fFovVer = 0.785f;
    v.fPan = -v.fFovHor / 2;
    v.fTilt = -v.fFovVer / 2;
    cv::Mat x, y;
    zrfe::BuildWallNormalTable(v, 65, 49, 300, x, y);
    ASSERT_EQ(x.size(), cv::Size(65, 49));
    EXPECT_NEAR(x.at<float>(24, 32), 300.0f, 0.05f);
    EXPECT_NEAR(y.at<float>(24, 32), 300.0f, 0.05f);

    // The hoisted per-column values give the same bits as the per-pixel formula.
    v.fPan = -0.9f;
    v.fTilt = 0.2f;
    zrfe::BuildWallNormalTable(v, 40, 30, 300, x, y);
    const float halfFov = v.fFovHor * 0.5f, c0 = halfFov + v.fPan, T = tanf(halfFov) + tanf(halfFov);
    for (int i = 0; i < 30; ++i)
        for (int j = 0; j < 40; ++j) {
            const float a = atanf((static_cast<float>(std::abs(j - 20)) / 39.0f) * T);
            const float c = j >= 20 ? a + c0 : c0 - a;
            const float t0 = tanf(v.fTilt) / cosf(halfFov), t1 = tanf(v.fFovVer + v.fTilt) / cosf(halfFov);
            volatile float prod = (static_cast<float>(i) / 29.0f) * (t1 - t0);
            const float row = atanf(prod + t0);
            volatile float e = atanf(cosf(c0 - c) * tanf(row));
            volatile float ce = cosf(e), px = cosf(c) * ce, py = sinf(c) * ce, pz = sinf(e);
            volatile float zz = pz * pz, yy = py * py;
            volatile float rho = atan2f(sqrtf(zz + yy), px) * ((300.0f + 300.0f) / 3.1415927f);
            volatile float phi = atan2f(pz, py);
            volatile float cr = cosf(phi) * rho, sr = sinf(phi) * rho;
            const float X = cr + 300.0f, Y = sr + 300.0f;
            const bool inside = 600.0f > X && X >= 0 && 600.0f > Y && Y >= 0;
            ASSERT_EQ(x.at<float>(i, j), inside ? X : 0.0f) << i << "," << j;
            ASSERT_EQ(y.at<float>(i, j), inside ? Y : 0.0f) << i << "," << j;
        }
    // 1 pixel wide or high: 0 / 0 is not a number, every entry stays 0.
    zrfe::BuildWallNormalTable(v, 1, 30, 300, x, y);
    EXPECT_EQ(cv::countNonZero(x), 0);
    zrfe::BuildWallNormalTable(v, 40, 1, 300, x, y);
    EXPECT_EQ(cv::countNonZero(y), 0);
}

TEST(SubViewOutlineTest, BorderWalkGivesTwentyPointsAnEdgeAndACentre)
{
    // A view that lies well inside the original view: 20 points an edge plus the closing point.
    cv::Mat x(1080, 1920, CV_32FC1), y(1080, 1920, CV_32FC1);
    for (int r = 0; r < 1080; ++r)
        for (int c = 0; c < 1920; ++c) {
            x.at<float>(r, c) = 500.0f + c * 0.5f;
            y.at<float>(r, c) = 600.0f + r * 0.5f;
        }
    // Ground family at r = 1000, s = 1054, R = 1000: scale 1.054, offset 54, bound 2000.
    const zrfe::OutlineTransform t = zrfe::OutlineTransformFor(ZR_FE_INSTALL_CEILING, 1054, 1000, 1000);
    EXPECT_EQ(t.offset, 54.0f);
    EXPECT_EQ(t.limit, 2000.0f);
    tag_ZR_FE_POINT_SET_S set;
    zrfe::ComputeSubViewOutline(x, y, t, set);
    ASSERT_EQ(set.vecPoints.size(), 81u);
    EXPECT_EQ(set.vecPoints.front().nX, set.vecPoints.back().nX);
    EXPECT_EQ(set.vecPoints.front().nY, set.vecPoints.back().nY);
    EXPECT_EQ(set.vecPoints[0].nX, static_cast<unsigned short>(1.054f * 500.0f - 54.0f));
    EXPECT_EQ(set.vecPoints[20].nX, static_cast<unsigned short>(1.054f * (500.0f + 1919 * 0.5f) - 54.0f))
        << "the right edge starts at the last column";
    EXPECT_EQ(set.stCenter.nX, static_cast<unsigned short>(1.054f * (500.0f + 960 * 0.5f) - 54.0f));
    EXPECT_EQ(set.stCenter.nY, static_cast<unsigned short>(1.054f * (600.0f + 540 * 0.5f) - 54.0f));

    // Shifted half out of the view: only the accepted points, then the closing point anyway.
    x -= 1000.0f;
    zrfe::ComputeSubViewOutline(x, y, t, set);
    EXPECT_LT(set.vecPoints.size(), 81u);
    EXPECT_GT(set.vecPoints.size(), 20u);
    EXPECT_EQ(set.vecPoints.back().nX, zrfe::TruncToPoint16(1.054f * -500.0f - 54.0f));

    // Wall: no offset, bound 2s. Tiny views still walk (steps of at least 1).
    const zrfe::OutlineTransform wall = zrfe::OutlineTransformFor(ZR_FE_INSTALL_WALL, 1125, 1000, 1000);
    EXPECT_EQ(wall.offset, 0.0f);
    EXPECT_EQ(wall.limit, 2250.0f);
    cv::Mat tx(3, 5, CV_32FC1, cv::Scalar(100)), ty(3, 5, CV_32FC1, cv::Scalar(100));
    zrfe::ComputeSubViewOutline(tx, ty, wall, set);
    EXPECT_EQ(set.vecPoints.size(), 4u + 2u + 5u + 2u + 1u);
}

// --- Rendering through the pipeline -------------------------------------------

Nv12Buffer SceneFrame(int side)
{
    return Nv12Buffer(
        side, side, 0, [](int x, int y) { return static_cast<unsigned char>((x / 8 + y / 8) % 2 ? 200 : 40 + x % 50); },
        [](int x, int y) { return static_cast<unsigned char>(x * 3 + y); },
        [](int x, int y) { return static_cast<unsigned char>(y * 5 - x); });
}

struct Rendered {
    std::vector<cv::Mat> views;  // 0: main, 1 + i: sub view i
    std::vector<zrtest::Signal> signals;
};

Rendered Render(ENUM_ZR_FE_INSTALL_MODE_E mode, unsigned int subWorkers, int views, int threads,
                const std::vector<int>& withWindow)
{
    CZRFishEyeDewarper::SetThreadNum(threads);
    CZRFishEyeDewarper d(mode, 256, ZR_FE_VIEW_PANORAMA, 256, 96, 64, subWorkers);
    CZRFishEyeDewarper::SetThreadNum(threads);
    Recorder show;
    d.SetShowCallBack(&show);
    d.SetSubViewNum(views);
    for (int i : withWindow)
        d.SetSubViewHwnd(Window(i), i);
    for (int i = 0; i < views; ++i)
        d.SetNormalZ(40 * i, i), d.SetNormalY(20 + 5 * i, i);
    d.SetLineMask(0xFF);
    d.Start();
    Nv12Buffer frame = SceneFrame(600);
    zrtest::Feed(d, show, &frame.desc, 1 + withWindow.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    Rendered out;
    out.signals = show.Signals();
    for (int i = 0; i <= 8; ++i) {
        CZRFrame* frm = nullptr;
        d.GetFrame(frm, i);
        out.views.push_back(zrtest::FrameToWorking(frm));
    }
    CZRFishEyeDewarper::SetThreadNum(4);
    return out;
}

TEST(SubViewPipelineTest, SubWorkersShareTheViewsInContiguousBlocks)
{
    Rendered two = Render(ZR_FE_INSTALL_CEILING, 2, 3, 4, {0, 1, 2});
    ASSERT_EQ(two.signals.size(), 4u);
    std::map<int, std::thread::id> by;
    for (const auto& s : two.signals)
        by[s.code] = s.thread;
    EXPECT_EQ(by[1], by[2]) << "views 0 and 1 on sub worker 0";
    EXPECT_NE(by[2], by[3]) << "view 2 on sub worker 1";
    EXPECT_NE(by[0], by[1]);
    EXPECT_NE(by[0], by[3]);

    Rendered none = Render(ZR_FE_INSTALL_CEILING, 0, 3, 4, {0, 1, 2});
    ASSERT_EQ(none.signals.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(none.signals[i].code, i) << "the main worker renders in index order, after the main view";
        EXPECT_EQ(none.signals[i].thread, none.signals[0].thread);
    }

    Rendered gap = Render(ZR_FE_INSTALL_CEILING, 1, 3, 4, {0, 2});
    ASSERT_EQ(gap.signals.size(), 3u);
    for (const auto& s : gap.signals)
        EXPECT_NE(s.code, 2) << "a view without a window gets no signal";
    EXPECT_TRUE(gap.views[2].empty()) << "and no picture";
    EXPECT_EQ(gap.views[3].size(), cv::Size(96, 64));
}

TEST(SubViewPipelineTest, PicturesDoNotDependOnWorkerOrThreadCounts)
{
    for (ENUM_ZR_FE_INSTALL_MODE_E mode : {ZR_FE_INSTALL_CEILING, ZR_FE_INSTALL_WALL}) {
        const Rendered reference = Render(mode, 0, 3, 1, {0, 1, 2});
        ASSERT_EQ(reference.views[1].size(), cv::Size(96, 64));
        for (const auto& setting : {std::make_pair(1u, 4), std::make_pair(2u, 4), std::make_pair(2u, 1)}) {
            const Rendered other = Render(mode, setting.first, 3, setting.second, {0, 1, 2});
            for (int i = 0; i < 4; ++i) {
                ASSERT_EQ(other.views[i].size(), reference.views[i].size());
                EXPECT_EQ(cv::norm(other.views[i], reference.views[i], cv::NORM_INF), 0.0)
                    << "mode " << mode << " view " << i << " with " << setting.first << " sub workers, "
                    << setting.second << " threads";
            }
        }
    }
}

TEST(SubViewPipelineTest, OutlinesAreDrawnOnlyForMaskedViewsInUse)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_ORIGINAL, 256, 96, 64, 0);
    Recorder show;
    d.SetShowCallBack(&show);
    d.SetSubViewNum(2);
    d.SetNormalY(30, 0);
    d.SetNormalY(30, 1);
    d.SetNormalZ(180, 1);
    d.Start();
    Nv12Buffer grey = zrtest::FlatNv12(600, 600, 100, 128, 128);
    auto render = [&](int mask) {
        d.SetLineMask(mask);
        zrtest::Feed(d, show, &grey.desc, show.Signals().size() + 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        CZRFrame* frm = nullptr;
        d.GetFrame(frm, 0);
        return zrtest::FrameToWorking(frm);
    };
    const cv::Mat plain = render(0);
    const cv::Mat one = render(1);
    const cv::Mat beyond = render(0x4);  // bit 2 is beyond the two views in use
    EXPECT_EQ(cv::norm(beyond, plain, cv::NORM_INF), 0.0);
    cv::Mat diff;
    cv::absdiff(one, plain, diff);
    std::vector<cv::Mat> ch;
    cv::split(diff, ch);
    EXPECT_GT(cv::countNonZero(ch[0]), 100) << "outline of view 0 drawn";
    // Drawn in view 0's colour: luma 150 on the line.
    tag_ZR_FE_POINT_SET_S pts;
    d.GetSubViewPoints(pts, 0);
    ASSERT_FALSE(pts.vecPoints.empty());
    EXPECT_EQ(one.at<cv::Vec3b>(pts.vecPoints[0].nY, pts.vecPoints[0].nX)[0], 150);
}

TEST(SubViewPipelineTest, SettingsChangingWhileFramesFlowLeaveEveryFrameWellFormed)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_PANORAMA, 256, 96, 64, 2);
    std::atomic<int> shown{0};
    struct Counter : IZRCallback {
        std::atomic<int>* n;
        int OnSignal(CZRObject*, int, void*, void*) override { return ++*n, 0; }
    } counter;
    counter.n = &shown;
    d.SetShowCallBack(&counter);
    d.SetInfoNotifyCallBack(&counter);
    d.SetSubViewNum(4);
    for (int i = 0; i < 4; ++i)
        d.SetSubViewHwnd(Window(i), i);
    d.SetLineMask(0xF);
    d.Start();

    std::atomic<bool> stop{false};
    std::thread settings([&] {
        unsigned int step = 0;
        while (!stop) {
            ++step;
            d.MoveNormalView(P{static_cast<unsigned short>(step * 37 % 500), static_cast<unsigned short>(step * 11 % 300)},
                             static_cast<int>(step % 4));
            d.ZoomNormalView(step % 21, static_cast<int>(step % 4));
            if (step % 7 == 0)
                d.SetNormalSize(64 + step % 5 * 16, 48 + step % 3 * 16);
            if (step % 11 == 0)
                d.SetInstallMode(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(step % 3), 128 + step % 4 * 64);
            if (step % 5 == 0)
                d.SetMainViewType(static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(step % 3));
            if (step % 13 == 0)
                d.SetSubWorkerNum(step % 3);
            d.SetGroundAngle(step * 7);
            d.SetWallStarty(step * 3);
        }
    });
    Nv12Buffer frames[2] = {SceneFrame(400), SceneFrame(512)};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    int fed = 0;
    while (std::chrono::steady_clock::now() < end) {
        d.Process(&frames[fed++ % 2].desc);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    stop = true;
    settings.join();
    d.Stop();
    EXPECT_GT(shown.load(), 0);
    for (int i = 0; i <= 4; ++i) {
        CZRFrame* frm = nullptr;
        d.GetFrame(frm, i);
        if (CZRPacketPIC* pkt = frm->GetPicture()) {
            EXPECT_GE(pkt->m_uWidth, 2u);
            EXPECT_EQ(pkt->m_uLines[1], pkt->m_uHeight / 2);
            EXPECT_EQ(pkt->m_uPitch[2], pkt->m_uWidth / 2);
        }
    }
}

}  // namespace
