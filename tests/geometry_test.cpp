// Install mode, panorama tables, point conversion, sub-view records, tables and outlines.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gnu/libc-version.h>
#include <gtest/gtest.h>
#include <hwy/targets.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/ccalib/omnidir.hpp>

#include "ZRFishEyeEngine.h"
#include "geometry/GroundPanoramaTable.h"
#include "geometry/HeadingRows.h"
#include "geometry/Lens.h"
#include "geometry/LensGeometry.h"
#include "geometry/PointMap.h"
#include "geometry/ProjectionRows.h"
#include "geometry/SubViewOutline.h"
#include "geometry/TrigRows.h"
#include "geometry/WallPanoramaTable.h"
#include "normal/GroundNormalTable.h"
#include "normal/NormalViewClamp.h"
#include "normal/UnifiedCameraViewMap.h"
#include "normal/WallNormalTable.h"

namespace {

using P = tag_ZR_FE_POINT_S;
using Pair = std::pair<int, int>;
using FPair = std::pair<float, float>;
using zrfe::Engine;
constexpr auto kCeiling = ZR_FE_INSTALL_CEILING;
constexpr auto kGround = ZR_FE_INSTALL_GROUND;
constexpr auto kWall = ZR_FE_INSTALL_WALL;

// Digests of whole tables: 64-bit FNV-1a over the raw float bytes of the x table, then
// the y table; for an outline, over nX and nY (16 bits each) of every point, then of the
// centre. Recorded from the version whose tests compared every entry with the per-entry
// formula, with the inputs used below.
constexpr uint64_t kCeiling1000 = 0xf2dce154905684eeull;
constexpr uint64_t kFloor333 = 0xbef1e54ef4cee5a8ull;
constexpr uint64_t kWall64 = 0xa4ba6a1b5bde9bf6ull;
constexpr uint64_t kWall1024 = 0xe0cc2670b8eecd76ull;
constexpr uint64_t kGroundSubDefault = 0x72be057346b5ee4cull;  // 96 x 64, R 500, ceiling
constexpr uint64_t kGroundSubAimed = 0xa88138960da54714ull;    // Y 40, Z 37, zoom 2.625, floor
constexpr uint64_t kWallSub = 0xef9e2eb11957e4a9ull;           // 72 x 40, R 300, partly off the picture
constexpr uint64_t kOutline = 0xb5e8807ea55dc67bull;           // 640 x 360, Y 40, Z 37, r = R = 1000

uint64_t Fnv(const void* data, size_t n, uint64_t h = 14695981039346656037ull)
{
    for (size_t i = 0; i < n; ++i)
        h = (h ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    return h;
}

uint64_t Digest(const cv::Mat& x, const cv::Mat& y)
{
    uint64_t h = Fnv(nullptr, 0);
    for (const cv::Mat* m : {&x, &y})
        for (int r = 0; r < m->rows; ++r)
            h = Fnv(m->ptr<float>(r), static_cast<size_t>(m->cols) * sizeof(float), h);
    return h;
}

uint64_t Digest(const tag_ZR_FE_POINT_SET_S& s)
{
    std::vector<P> v = s.vecPoints;  // two 16-bit fields each, nX first
    v.push_back(s.stCenter);
    return Fnv(v.data(), v.size() * sizeof(P));
}

Pair XY(const P& p) { return {p.nX, p.nY}; }

// A table entry as the point it names.
P Entry(const cv::Mat& x, const cv::Mat& y, int row, int col)
{
    return {zrfe::TruncToPoint16(x.at<float>(row, col)), zrfe::TruncToPoint16(y.at<float>(row, col))};
}

std::vector<unsigned int> Window(const tag_ZR_FE_WALL_VIEW_S& w)
{
    return {w.uStartX, w.uStartY, w.uWidth, w.uHeight, w.uValidWidth, w.uValidHeight};
}
const std::vector<unsigned int> kWindow1000{125, 425, 2000, 1400, 2000, 2000};  // r = 1000, s = 1125

// A sub view's factory record: angles 0, zoom 1.25, fields of view 1.57 x 0.785, level 10.
const tag_ZR_FE_NORMAL_VIEW_S kDefaults{0, 0, 0, 1.25f, 1.25f, 0, 0, 1.57f, 0.785f, 10};

tag_ZR_FE_NORMAL_VIEW_S Record(const Engine& e, unsigned int i)
{
    tag_ZR_FE_NORMAL_VIEW_S v{};
    e.GetNormalParam(v, i);
    return v;
}

TEST(PanoramaTableTest, SizesHalfTurnWindowAndWholeTables)
{
    EXPECT_EQ(Pair(zrfe::GroundPanoramaWidth(1000), zrfe::GroundPanoramaHeight(1000, 0)), Pair(6280, 1000));
    EXPECT_EQ(Pair(zrfe::GroundPanoramaWidth(500), zrfe::GroundPanoramaHeight(500, 0)), Pair(3136, 496));
    cv::Mat x, y;
    zrfe::BuildGroundPanoramaTable(7, 0, kCeiling, x, y);
    EXPECT_TRUE(x.empty() && y.empty()) << "r = 7: height 0";
    zrfe::BuildGroundPanoramaTable(1000, 0, kCeiling, x, y);
    ASSERT_EQ(x.size(), cv::Size(6280, 1000));
    EXPECT_EQ(Digest(x, y), kCeiling1000);
    cv::Mat fx(328, 2088, CV_32FC1, cv::Scalar(7)), fy = fx.clone();  // reused, holding other values
    zrfe::BuildGroundPanoramaTable(333, 0, kGround, fx, fy);
    EXPECT_EQ(Digest(fx, fy), kFloor333);
    zrfe::BuildGroundPanoramaTable(64, 0, kCeiling, x, y);  // the floor table is the ceiling table turned by a half turn
    zrfe::BuildGroundPanoramaTable(64, 0, kGround, fx, fy);
    cv::flip(x, x, -1);
    cv::flip(y, y, -1);
    EXPECT_EQ(cv::norm(x, fx, cv::NORM_INF) + cv::norm(y, fy, cv::NORM_INF), 0.0);

    EXPECT_EQ(Window(zrfe::ComputeWallWindow(1000, 1125)), kWindow1000);
    EXPECT_EQ(zrfe::ComputeWallWindow(1024, 1152).uHeight, 1432u) << "2048 * 0.7 = 1433.6, truncated, down to 8";
    x = cv::Mat(144, 144, CV_32FC1, cv::Scalar(-3));  // reused: entries left 0 are cleared
    y = x.clone();
    zrfe::BuildWallPanoramaTable(zrfe::HalfSizeFor(kWall, 64), x, y);
    EXPECT_EQ(Digest(x, y), kWall64);
    zrfe::BuildWallPanoramaTable(zrfe::HalfSizeFor(kWall, 1024), x, y);
    EXPECT_EQ(Digest(x, y), kWall1024);
}

TEST(InstallModeTest, RefusedValuesKeepTheStateForceResetsTheAngleAndTheWallRowIsBounded)
{
    Engine e(kCeiling, 512, ZR_FE_VIEW_PANORAMA, 512, 64, 48);
    EXPECT_EQ(e.SetInstallMode(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(3), 512) + e.SetWallStarty(10) +
                  e.SetInstallMode(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(-1), 512) +
                  e.SetMainViewType(static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(3)) +
                  e.SetMainViewType(static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(-2)),
              -5);
    EXPECT_TRUE(e.GetInstallMode() == kCeiling && e.GetMainViewType() == ZR_FE_VIEW_PANORAMA);
    EXPECT_EQ(e.SetGroundAngle(725), 0);
    const tag_ZR_FE_GROUND_VIEW_S g = e.GetGroundParam();
    EXPECT_EQ((std::vector<unsigned int>{g.uRadius, g.uRadiusCut, g.uAngle}), (std::vector<unsigned int>{512, 0, 5}));
    EXPECT_EQ(e.SetInstallMode(kCeiling, 512, false), 0);
    EXPECT_EQ(e.GetGroundParam().uAngle, 5u) << "nothing changed, no force: no rebuild";
    EXPECT_EQ(e.SetInstallMode(kCeiling, 512, true), 0);
    EXPECT_EQ(e.GetGroundParam().uAngle, 0u) << "a forced rebuild resets the angle";

    Engine wall(kWall, 1000, ZR_FE_VIEW_PANORAMA, 1000, 64, 48);
    EXPECT_EQ(Window(wall.GetWallParam()), kWindow1000);
    EXPECT_EQ(wall.SetGroundAngle(10), -1);
    auto startY = [&](unsigned int y) { return wall.SetWallStarty(y) == 0 ? wall.GetWallParam().uStartY : 0u; };
    EXPECT_EQ(startY(0), 125u);     // low = (2250 - 2000) / 2
    EXPECT_EQ(startY(5000), 725u);  // high = 2000 - 1400 + 125
    EXPECT_EQ(startY(300), 300u);
    EXPECT_EQ(wall.ResetMainView(), 0);
    EXPECT_EQ(wall.GetWallParam().uStartY, 425u);
    EXPECT_EQ(startY(300), 300u);
    EXPECT_EQ(wall.SetInstallMode(kGround, 512), 0);
    EXPECT_EQ(wall.GetWallParam().uStartY, 300u) << "the window keeps its values in the ground family";
    EXPECT_EQ(wall.ResetMainView(), -1);

    // Tiny radii and a refused mode give defined results.
    for (int mode = 0; mode < 3; ++mode)
        for (int r : {0, 1, 7, 31, 55}) {
            Engine t(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(mode), r, ZR_FE_VIEW_PANORAMA, r, 64, 48);
            P out{9, 9};
            t.GetOriginalPoint(P{0, 0}, out);
            t.GetPanoramaPoint(P{0, 0}, out);
            t.SetWallStarty(3);
            t.SetGroundAngle(3);
            t.SetSubViewNum(2);
            EXPECT_EQ(t.ResetMainView(), mode == 2 ? 0 : -1) << "mode " << mode << " r " << r;
        }
    Engine refused(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(5), 512, ZR_FE_VIEW_PANORAMA, 512, 64, 48);
    P out{9, 9};
    EXPECT_EQ(refused.GetOriginalPoint(P{0, 0}, out) + refused.GetPanoramaPoint(P{512, 0}, out), -2) << "no table";
    EXPECT_EQ(refused.SetInstallMode(kCeiling, 512) + refused.GetOriginalPoint(P{0, 0}, out), 0);
}

TEST(PointMapTest, AnswersExactlyAsAPlainOrderedMapOfFirstTablePixels)
{
    auto compare = [](const cv::Mat& x, const cv::Mat& y, const char* what) {
        std::map<P, P, ZRPointLess> plain;  // emplace keeps the first table pixel in row-major order
        for (int r = 0; r < x.rows; ++r)
            for (int c = 0; c < x.cols; ++c)
                plain.emplace(Entry(x, y, r, c), P{static_cast<unsigned short>(c), static_cast<unsigned short>(r)});
        ZRPointMap fast;
        fast.Build(x, y);
        EXPECT_EQ(fast.Size(), plain.size()) << what;
        for (int ky = -3; ky < 300; ++ky)
            for (int kx = -3; kx < 300; ++kx) {  // every key, and every pixel of a window around them
                const P key{static_cast<unsigned short>(kx), static_cast<unsigned short>(ky)};
                P got{1, 1};
                const bool found = fast.Find(key, got);
                auto it = plain.find(key);
                ASSERT_EQ(found, it != plain.end()) << what << " key " << kx << "," << ky;
                ASSERT_EQ(XY(got), found ? XY(it->second) : Pair(1, 1)) << what << " key " << kx << "," << ky;
            }
    };
    cv::Mat x, y;
    for (unsigned int r : {16u, 64u, 131u})
        for (int mode : {kGround, kCeiling, kWall}) {
            if (mode == kWall)
                zrfe::BuildWallPanoramaTable(zrfe::HalfSizeFor(kWall, r), x, y);
            else
                zrfe::BuildGroundPanoramaTable(r, 0, mode, x, y);
            compare(x, y, mode == kWall ? "wall" : mode == kGround ? "floor" : "ceiling");
        }
    // Keys spread over the whole 16-bit plane (-1 wraps to 65535) take the ordered map.
    compare(cv::Mat_<float>({1, 3}, {5, -1, 5}), cv::Mat_<float>({1, 3}, {0, -1, 0}), "spread");
}

TEST(PointConversionTest, ConversionsFollowTheGroundAngleAndTheWallWindow)
{
    Engine e(kCeiling, 1000, ZR_FE_VIEW_PANORAMA, 1000, 64, 48);
    P out{7, 7};
    EXPECT_EQ(e.GetOriginalPoint(P{0, 1000}, out), -1) << "row beyond the table";
    EXPECT_EQ(e.GetPanoramaPoint(P{0, 0}, out), -1) << "the corner lies outside the circle";
    EXPECT_EQ(XY(out), Pair(7, 7));
    EXPECT_EQ(e.GetOriginalPoint(P{6280, 0}, out), 0) << "columns wrap around the table";
    EXPECT_EQ(XY(out), Pair(1000, 0));
    EXPECT_EQ(e.GetPanoramaPoint(P{1000, 0}, out), 0);
    EXPECT_EQ(XY(out), Pair(0, 0)) << "the first table pixel sampling (1000, 0)";
    EXPECT_EQ(e.SetGroundAngle(90) + e.GetOriginalPoint(P{0, 0}, out), 0);  // the display turns left by 1570
    EXPECT_EQ(XY(out), Pair(2000, 1000)) << "rim at 3 o'clock";
    EXPECT_EQ(e.GetPanoramaPoint(P{1000, 0}, out), 0);
    EXPECT_EQ(XY(out), Pair(6280 - 1570, 0));
    P same{0, 999};  // input and output may be one object
    EXPECT_EQ(e.SetGroundAngle(0) + e.GetOriginalPoint(same, same), 0);
    EXPECT_EQ(XY(same), Pair(1000, 999));
    for (ENUM_ZR_FE_VIEW_TYPE_E t : {ZR_FE_VIEW_ORIGINAL, ZR_FE_VIEW_DOUBLE_PANORAMA}) {
        EXPECT_EQ(e.SetMainViewType(t), 0);
        EXPECT_EQ(e.GetOriginalPoint(P{0, 0}, same) + e.GetPanoramaPoint(P{1000, 0}, same), -2) << t;
        EXPECT_EQ(XY(same), Pair(1000, 999)) << "untouched";
    }
    // W = 840 (r = 134), angle 27: 840 * 27 / 360 is 63 exactly, but the conversions
    // shift by trunc(27 * (840f / 360f)) = 62, one column short of the display.
    Engine s(kCeiling, 134, ZR_FE_VIEW_PANORAMA, 134, 64, 48);
    cv::Mat x, y;
    zrfe::BuildGroundPanoramaTable(134, 0, kCeiling, x, y);
    ASSERT_EQ(x.cols, 840);
    ASSERT_NE(XY(Entry(x, y, 10, 62)), XY(Entry(x, y, 10, 63)));
    EXPECT_EQ(s.SetGroundAngle(27) + s.GetOriginalPoint(P{0, 10}, out), 0);
    EXPECT_EQ(XY(out), XY(Entry(x, y, 10, 62)));
    ZRPointMap reference;
    reference.Build(x, y);
    P first;
    ASSERT_TRUE(reference.Find(Entry(x, y, 0, 300), first));
    EXPECT_EQ(s.GetPanoramaPoint(Entry(x, y, 0, 300), out), 0);
    EXPECT_EQ(XY(out), Pair(first.nX - 62, first.nY));

    // Wall, window at (125, 425). A pixel whose first table pixel is (100, 425), left of
    // the window, maps to 100 - 125, wrapped.
    Engine w(kWall, 1000, ZR_FE_VIEW_PANORAMA, 1000, 64, 48);
    zrfe::BuildWallPanoramaTable(1125, x, y);
    EXPECT_EQ(w.GetOriginalPoint(P{0, 0}, out), 0);
    EXPECT_EQ(XY(out), XY(Entry(x, y, 425, 125)));
    EXPECT_EQ(w.GetOriginalPoint(P{2250 - 125, 0}, out), -1) << "column beyond the table";
    reference.Build(x, y);
    ASSERT_TRUE(reference.Find(Entry(x, y, 425, 100), first));
    ASSERT_EQ(XY(first), Pair(100, 425));
    EXPECT_EQ(w.GetPanoramaPoint(Entry(x, y, 425, 100), out), 0);
    EXPECT_EQ(XY(out), Pair(65511, 0));
}

TEST(NormalViewTest, ClampsHoldTheRecordsToWhatTheLensShows)
{
    // r = 1024, s = 1088 (and r = 512, s = 544); the limits printed in degrees to two places.
    EXPECT_NEAR(zrfe::GroundTiltLimit(1024, 1088, 2.625f), 70.59f, 0.005f);
    EXPECT_NEAR(zrfe::GroundTiltLimit(512, 544, 1.25f), 53.19f, 0.005f);
    EXPECT_TRUE(std::isnan(zrfe::GroundTiltLimit(0, 0, 1.25f)));
    auto stored = [](Engine& en, const tag_ZR_FE_NORMAL_VIEW_S& v) {
        EXPECT_EQ(en.SetNormalView(v, 0), 0);
        return Record(en, 0);
    };
    Engine e(kCeiling, 1024, ZR_FE_VIEW_ORIGINAL, 1024, 64, 48);
    tag_ZR_FE_NORMAL_VIEW_S v = kDefaults;
    v.fAngleY = 89;
    EXPECT_NEAR(stored(e, v).fAngleY, 53.19f, 0.005f);
    v.fZoomHor = 4.0f;
    EXPECT_NEAR(stored(e, v).fAngleY, 75.38f, 0.005f);
    v.fAngleY = 30;
    v.fAngleZ = 400;  // azimuth and zoom are stored as given
    const tag_ZR_FE_NORMAL_VIEW_S kept = stored(e, v);
    EXPECT_EQ(FPair(kept.fAngleY, kept.fAngleZ), FPair(30, 400));
    v.fZoomHor = std::nanf("");  // a record that would make a table of garbage is refused whole
    EXPECT_EQ(e.SetNormalView(v, 0), -1);
    EXPECT_EQ(Record(e, 0).fZoomHor, 4.0f);

    // Wall, r = 1000: kx = ky = 2000 / 2250; bounds printed to eight digits.
    Engine w(kWall, 1000, ZR_FE_VIEW_PANORAMA, 1000, 64, 48);
    w.SetSubViewNum(1);
    EXPECT_FLOAT_EQ(Record(w, 0).fPan, -0.1737366f) << "upper bound for fovH 1.57";
    EXPECT_EQ(Record(w, 0).fTilt, 0.0f);
    v = kDefaults;
    v.fPan = v.fTilt = -5;
    EXPECT_FLOAT_EQ(stored(w, v).fPan, -1.3962634f);
    EXPECT_FLOAT_EQ(Record(w, 0).fTilt, -1.3089969f);
    v.fTilt = 5;
    EXPECT_FLOAT_EQ(stored(w, v).fTilt, 0.5239969f);
    v.fFovHor = 3.0f;  // crossed bounds: the upper one wins
    v.fPan = 0;
    EXPECT_LT(stored(w, v).fPan, -1.3962634f);
}

TEST(NormalViewTest, IndexesZoomAnglesClicksAndTheCountFollowTheirRules)
{
    Engine e(kCeiling, 1000, ZR_FE_VIEW_ORIGINAL, 1000, 64, 48);
    const tag_ZR_FE_NORMAL_VIEW_S v = Record(e, 0);
    EXPECT_TRUE(v.fZoomHor == 1.25f && v.fZoomVer == 1.25f && v.uZoom == 10u);
    EXPECT_TRUE(v.fFovHor == 1.57f && v.fFovVer == 0.785f) << "exactly these floats, not pi/2 and pi/4";
    EXPECT_EQ(e.MoveNormalView(P{0, 0}, 8) + e.ZoomNormalView(3, -1) + e.SetNormalY(3, 8) + e.SetNormalZ(3, -2), -4);
    EXPECT_EQ(e.ZoomNormalView(10, 0), 0);
    EXPECT_EQ(Record(e, 0).fZoomHor, 1.25f) << "level 10 is already the stored level: nothing changes";
    EXPECT_EQ(e.ZoomNormalView(25, 0), 0);
    EXPECT_TRUE(Record(e, 0).uZoom == 20u && Record(e, 0).fZoomHor == 4.0f && Record(e, 0).fZoomVer == 4.0f);
    EXPECT_EQ(e.ZoomNormalView(0, 0), 0);
    EXPECT_EQ(FPair(Record(e, 0).fZoomHor, Record(e, 0).fZoomVer), FPair(1.25f, 1.25f));
    EXPECT_EQ(e.SetNormalY(95, 1) + e.SetNormalZ(725, 1), 0);
    EXPECT_EQ(FPair(Record(e, 1).fAngleY, Record(e, 1).fAngleZ), FPair(5, 5));

    // Clicks 500 pixels off the centre (1000, 1000), in a working image of half size 1054.
    for (const std::pair<P, float>& c : {std::make_pair(P{1500, 1000}, 180.0f), std::make_pair(P{1000, 1500}, 90.0f),
                                         std::make_pair(P{500, 1000}, 0.0f), std::make_pair(P{1000, 500}, 270.0f)}) {
        ASSERT_EQ(e.MoveNormalView(c.first, 3), 0);
        EXPECT_NEAR(Record(e, 3).fAngleZ, c.second, 1e-4f);
        EXPECT_NEAR(Record(e, 3).fAngleY, 2 * std::atan(500.0 / 1054.0) * 180 / 3.141592653589793, 1e-3);
    }
    ASSERT_EQ(e.MoveNormalView(P{1000, 1000}, 3), 0);
    EXPECT_EQ(FPair(Record(e, 3).fAngleY, Record(e, 3).fAngleZ), FPair(0, 180));
    ASSERT_EQ(e.SetMainViewType(ZR_FE_VIEW_PANORAMA), 0);  // the click is converted first:
    ASSERT_EQ(e.MoveNormalView(P{0, 999}, 3), 0);           // panorama (0, 999) is original (1000, 999)
    EXPECT_NEAR(Record(e, 3).fAngleZ, 270.0f, 1e-4f);
    const float before = Record(e, 3).fAngleY;
    EXPECT_EQ(e.MoveNormalView(P{0, 1000}, 3), -1);
    EXPECT_EQ(Record(e, 3).fAngleY, before);

    // Wall zoom: a higher level widens the view, 45 x 22.5 to 112.5 x 56.25 degrees.
    Engine w(kWall, 512, ZR_FE_VIEW_ORIGINAL, 512, 64, 48);
    EXPECT_EQ(w.ZoomNormalView(20, 0) + w.ZoomNormalView(0, 1), 0);
    EXPECT_FLOAT_EQ(Record(w, 0).fFovHor, 1.9634953f);
    EXPECT_FLOAT_EQ(Record(w, 0).fFovVer, 0.9817477f);
    EXPECT_FLOAT_EQ(Record(w, 1).fFovHor, 0.7853982f);
    EXPECT_FLOAT_EQ(Record(w, 1).fFovVer, 0.3926991f);

    // The count builds tables once and keeps them.
    Engine c(kCeiling, 512, ZR_FE_VIEW_ORIGINAL, 512, 64, 48);
    tag_ZR_FE_POINT_SET_S pts, kept;
    c.GetSubViewPoints(pts, 4);
    EXPECT_TRUE(pts.vecPoints.empty() && pts.stCenter.nX == 0) << "never computed";
    c.SetSubViewNum(5);
    c.GetSubViewPoints(pts, 4);
    EXPECT_FALSE(pts.vecPoints.empty());
    c.SetSubViewNum(3);
    c.SetSubViewNum(9);
    EXPECT_EQ(c.GetSubViewNum(), 3) << "a count above 8 is ignored";
    // A new mode rebuilds neither records nor tables, and raising the count again does
    // not rebuild views that have tables: no wall clamp reaches views 2 and 4.
    ASSERT_EQ(c.SetInstallMode(kWall, 512), 0);
    c.SetSubViewNum(5);
    c.GetSubViewPoints(kept, 4);
    EXPECT_EQ(Digest(kept), Digest(pts)) << "view 4's outline is still the one from its ground table";
    EXPECT_EQ(FPair(Record(c, 2).fPan, Record(c, 4).fPan), FPair(0, 0));
    unsigned int width = 0, height = 0;
    EXPECT_EQ(c.SetNormalSize(1, 1) + c.GetNormalSize(width, height), 0);
    EXPECT_EQ(Pair(width, height), Pair(1, 1));
}

TEST(SubViewTableTest, CentresHalfTurnZoomEdgesAndWholeTables)
{
    tag_ZR_FE_NORMAL_VIEW_S v = kDefaults;
    cv::Mat cx, cy, fx, fy;
    zrfe::BuildGroundNormalTable(v, 96, 64, 500, kCeiling, cx, cy);
    EXPECT_EQ(Digest(cx, cy), kGroundSubDefault);
    v.fAngleZ = 37;
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, kCeiling, cx, cy);
    ASSERT_EQ(cx.size(), cv::Size(64, 48));
    EXPECT_LT(std::hypot(cx.at<float>(24, 32) - 500, cy.at<float>(24, 32) - 500), 1e-2) << "tilt 0: the centre";
    v.fAngleY = 40;
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, kCeiling, cx, cy);
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, kGround, fx, fy);
    const cv::Rect inner(1, 1, 63, 47);  // the floor view is the ceiling view turned by a half turn about (32, 24)
    cv::flip(cx(inner), cx, -1);
    cv::flip(cy(inner), cy, -1);
    EXPECT_LT(std::max(cv::norm(cx, fx(inner), cv::NORM_INF), cv::norm(cy, fy(inner), cv::NORM_INF)), 1e-2);
    v.fZoomHor = v.fZoomVer = 2.625f;
    zrfe::BuildGroundNormalTable(v, 96, 64, 500, kGround, fx, fy);
    EXPECT_EQ(Digest(fx, fy), kGroundSubAimed);
    v.fAngleY = 0;  // a higher zoom factor narrows the view: the top edge moves towards the centre
    v.fZoomHor = v.fZoomVer = 1.25f;
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, kCeiling, cx, cy);
    v.fZoomHor = v.fZoomVer = 4.0f;
    zrfe::BuildGroundNormalTable(v, 64, 48, 500, kCeiling, fx, fy);
    EXPECT_LT(std::hypot(fx.at<float>(0, 32) - 500, fy.at<float>(0, 32) - 500),
              std::hypot(cx.at<float>(0, 32) - 500, cy.at<float>(0, 32) - 500) / 2);
    zrfe::BuildGroundNormalTable(v, 0, 48, 500, kCeiling, fx, fy);
    EXPECT_TRUE(fx.empty());

    v = kDefaults;  // wall: pan and tilt at minus half the fields of view look along the axis
    v.fPan = -v.fFovHor / 2;
    v.fTilt = -v.fFovVer / 2;
    zrfe::BuildWallNormalTable(v, 65, 49, 300, cx, cy);
    ASSERT_EQ(cx.size(), cv::Size(65, 49));
    EXPECT_LT(std::hypot(cx.at<float>(24, 32) - 300, cy.at<float>(24, 32) - 300), 0.05);
    v = {0, 0, 0, 0, 0, -1.9f, -0.3f, 2.4f, 1.2f, 0};  // 137.5 degrees wide from 108.9 left of the axis
    zrfe::BuildWallNormalTable(v, 72, 40, 300, cx, cy);
    EXPECT_EQ(Digest(cx, cy), kWallSub);
    zrfe::BuildWallNormalTable(v, 1, 30, 300, cx, cy);  // 1 pixel wide or high: 0 / 0 is not a number
    zrfe::BuildWallNormalTable(v, 40, 1, 300, fx, fy);
    EXPECT_EQ(cv::countNonZero(cx) + cv::countNonZero(cy) + cv::countNonZero(fx) + cv::countNonZero(fy), 0);
}

// The row-split copy of OpenCV's perspective rectification gives OpenCV's own bits,
// on tables big enough to split over every thread, with 1 thread and with several,
// on every vector target this processor runs.
TEST(SubViewTableTest, ViewMapRowsAreOpenCvsForAnyThreadCount)
{
    zrfe::UnifiedCamera camera;
    camera.xi = (cv::Mat_<float>(1, 1) << 1.0f);
    const int threads = cv::getNumThreads();
    for (int variant = 0; variant < 2; ++variant) {
        const float R = variant ? 1000.0f : 777.5f;
        camera.K = (cv::Mat_<float>(3, 3) << R, variant * 0.25f, R, 0, R, R, 0, 0, 1);
        camera.D = variant ? (cv::Mat_<float>(1, 4) << -0.08f, 0, 0, 0)
                           : (cv::Mat_<float>(1, 4) << -0.1f, 0.02f, 1e-3f, -2e-3f);
        cv::Mat rotation;
        cv::Rodrigues(cv::Vec3d(0.3 + variant, -0.6, 1.2), rotation);
        const cv::Size size = variant ? cv::Size(1280, 720) : cv::Size(333, 1001);
        const cv::Mat projection = (cv::Mat_<float>(3, 3) << 450.0f + 400 * variant, 0, size.width * 0.5f, 0, 450,
                                    size.height * 0.5f, 0, 0, 1);
        cv::Mat expectedX, expectedY;
        cv::omnidir::initUndistortRectifyMap(camera.K, camera.D, camera.xi, rotation, projection, size, CV_32FC1,
                                             expectedX, expectedY, cv::omnidir::RECTIFY_PERSPECTIVE);
        for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
            hwy::SetSupportedTargetsForTest(target);
            for (const int count : {1, 4}) {
                cv::setNumThreads(count);
                cv::Mat x, y;
                zrfe::BuildUnifiedCameraViewMap(camera, rotation, projection, size, x, y);
                EXPECT_EQ(Digest(x, y), Digest(expectedX, expectedY))
                    << "variant " << variant << ", " << hwy::TargetName(target) << ", threads " << count;
            }
        }
    }
    hwy::SetSupportedTargetsForTest(0);
    cv::setNumThreads(threads);
    EXPECT_TRUE(zrfe::UnifiedCameraViewMapIsOwn()) << "this OpenCV rounds otherwise: its single-threaded call is used";
}

TEST(SubViewOutlineTest, BorderWalkGivesTwentyPointsAnEdgeAndACentre)
{
    // A real view's outline (ground, s = 1054, R = r = 1000: scale 1.054, offset 54),
    // from the table builder and from an engine holding the view: 20 points an edge
    // and the closing point.
    tag_ZR_FE_NORMAL_VIEW_S v = kDefaults;
    v.fAngleY = 40;
    v.fAngleZ = 37;
    cv::Mat x, y;
    zrfe::BuildGroundNormalTable(v, 640, 360, 1000, kCeiling, x, y);
    const zrfe::OutlineTransform t = zrfe::OutlineTransformFor(kCeiling, 1054, 1000, 1000);
    EXPECT_EQ(FPair(t.offset, t.limit), FPair(54, 2000));
    tag_ZR_FE_POINT_SET_S set;
    zrfe::ComputeSubViewOutline(zrfe::TableEdges::Of(x, y), t, set);
    ASSERT_EQ(set.vecPoints.size(), 81u);
    EXPECT_EQ(Digest(set), kOutline);
    Engine e(kCeiling, 1000, ZR_FE_VIEW_ORIGINAL, 1000, 640, 360);
    ASSERT_EQ(e.SetNormalView(v, 0), 0);
    e.GetSubViewPoints(set, 0);
    EXPECT_EQ(Digest(set), kOutline);

    x -= 1000.0f;  // half out of the view: the accepted points, then the closing point anyway
    zrfe::ComputeSubViewOutline(zrfe::TableEdges::Of(x, y), t, set);
    ASSERT_TRUE(set.vecPoints.size() > 20u && set.vecPoints.size() < 81u) << set.vecPoints.size();
    for (size_t i = 0; i + 1 < set.vecPoints.size(); ++i)
        EXPECT_TRUE(set.vecPoints[i].nX <= 2000 && set.vecPoints[i].nY <= 2000) << i;
    EXPECT_GT(set.vecPoints.back().nX, 2000) << "the corner left of the view, wrapped";
}

// Arguments of every size a table build can hand the trig rows (2^-30 to 2^30, random
// mantissas and signs, the second of a pair within 2^±40 of the first), then random bit
// patterns, zeros, ones, infinities and NaN for the paths left to the library.
std::pair<std::vector<float>, std::vector<float>> TrigArguments(size_t count)
{
    std::mt19937 random(20261207);
    auto withExponent = [&](int e) {
        const uint32_t bits = (random() & 0x807fffffu) | (static_cast<uint32_t>(e + 127) << 23);
        float f;
        std::memcpy(&f, &bits, sizeof f);
        return f;
    };
    std::vector<float> a, b;
    for (size_t k = 0; k < count; ++k) {
        const int e = static_cast<int>(random() % 61) - 30;
        a.push_back(withExponent(e));
        b.push_back(withExponent(e + static_cast<int>(random() % 81) - 40));
    }
    for (int k = 0; k < 4096; ++k) {
        uint32_t bits[2] = {static_cast<uint32_t>(random()), static_cast<uint32_t>(random())};
        float f[2];
        std::memcpy(f, bits, sizeof f);
        a.push_back(f[0]);
        b.push_back(f[1]);
    }
    // with angles whose sine or cosine rounds otherwise without fused multiply-adds
    const float specials[] = {0.0f,     -0.0f,         1.0f,           -1.0f,          INFINITY,
                              -INFINITY, NAN,          1e-40f,         0x1p-12f,       120.0f,
                              0x1p-149f, 0x1.1475b6p+4f, 0x1.ab6152p+5f, 0x1.46b80ep+6f, -0x1.b1a47cp+6f};
    for (float u : specials)
        for (float v : specials) {
            a.push_back(u);
            b.push_back(v);
        }
    return {a, b};
}

// Bits of the rows and of the library's per-entry calls differ at no argument.
void ExpectLibraryBits(const std::vector<float>& a, const std::vector<float>& b, const std::string& where)
{
    const size_t n = a.size();
    std::vector<float> atanRow(n), atan2Row(n), sinRow(n), cosRow(n);
    zrfe::AtanRow(a.data(), atanRow.data(), n);
    zrfe::Atan2Row(a.data(), b.data(), atan2Row.data(), n);
    zrfe::SinCosRow(a.data(), sinRow.data(), cosRow.data(), n);
    size_t wrong = 0;
    for (size_t i = 0; i < n; ++i) {
        const float expected[] = {atanf(a[i]), atan2f(a[i], b[i]), sinf(a[i]), cosf(a[i])};
        const float got[] = {atanRow[i], atan2Row[i], sinRow[i], cosRow[i]};
        if (std::memcmp(expected, got, sizeof got) != 0 && wrong++ < 3)
            ADD_FAILURE() << where << ": at " << a[i] << ", " << b[i] << " (entry " << i << ") atan " << got[0]
                          << "/" << expected[0] << ", atan2 " << got[1] << "/" << expected[1] << ", sin " << got[2]
                          << "/" << expected[2] << ", cos " << got[3] << "/" << expected[3];
    }
    EXPECT_EQ(wrong, 0u) << where;
}

// The GNU C library whose algorithms and constants the trig rows follow.
const char* const kTrigRowsLibraryVersion = "2.36";

// On every vector target: its own lanes, or the library's calls where its lanes would
// round otherwise (a target without fused multiply-adds on a processor with them).
TEST(TrigRowsTest, RowsGiveTheLibrarysBitsOnEveryTarget)
{
    const auto args = TrigArguments(200003);  // an odd count: the rows end in a partial vector
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        ExpectLibraryBits(args.first, args.second, hwy::TargetName(target));
    }
    hwy::SetSupportedTargetsForTest(0);
    // The lanes follow this C library's version; with another, calling it per entry is right.
    if (std::string(gnu_get_libc_version()) == kTrigRowsLibraryVersion) {
        EXPECT_TRUE(zrfe::TrigRowsAreOwn()) << "the lanes round otherwise than the C library: it is called per entry";
    }
}

// The built-in lens's heading rows against the per-ray projection on every vector target:
// rays on the axis, on the horizon, straight ahead, behind the lens and past the square's
// edge, the mirrored rows included, and a row that ends in a partial vector.
TEST(TrigRowsTest, HeadingRowsAreTheirPerRayProjections)
{
    std::mt19937 random(11);
    std::uniform_real_distribution<float> angle(-3.2f, 3.2f);
    constexpr size_t kRays = 3001;
    std::vector<float> cosH(kRays), sinH(kRays), cosE(kRays), sinE(kRays);
    for (size_t j = 0; j < kRays; ++j) {
        // sparse, so that most vectors have no lane left to the library
        const float heading = j % 97 == 0 ? 0.0f : angle(random);
        const float elevation = j % 89 == 0 ? 0.0f : angle(random) / 2;
        cosH[j] = cosf(heading);
        sinH[j] = sinf(heading);
        cosE[j] = cosf(elevation);
        sinE[j] = sinf(elevation);
    }
    sinE[3] = NAN;
    constexpr float kFocal = 651.9f, kCentre = 1024.0f, kEdge = 2000.0f;  // far rays land off the square
    for (const int64_t target : hwy::SupportedAndGeneratedTargets()) {
        hwy::SetSupportedTargetsForTest(target);
        std::vector<float> X(kRays, -1.0f), Y(kRays, -1.0f), mirrorX(kRays, -1.0f), mirrorY(kRays, -1.0f);
        zrfe::EquidistantHeadingRow(cosH.data(), sinH.data(), cosE.data(), sinE.data(), kFocal, kCentre, kEdge,
                                    X.data(), Y.data(), mirrorX.data(), mirrorY.data(), kRays);
        size_t inside = 0;
        for (size_t j = 0; j < kRays; ++j) {
            float offRight = 0, offDown = 0;
            zrfe::EquidistantOffsets(sinH[j] * cosE[j], sinE[j], cosH[j] * cosE[j], kFocal, offRight, offDown);
            float x[2], y[2];
            zrfe::StoreSquareEntry(x, y, 0, true, offRight + kCentre, offDown + kCentre, kEdge);
            zrfe::StoreSquareEntry(x, y, 1, true, offRight + kCentre, -offDown + kCentre, kEdge);
            ASSERT_EQ(FPair(X[j], Y[j]), FPair(x[0], y[0])) << hwy::TargetName(target) << ", ray " << j;
            ASSERT_EQ(FPair(mirrorX[j], mirrorY[j]), FPair(x[1], y[1])) << hwy::TargetName(target) << ", ray " << j;
            inside += x[0] != 0.0f;
        }
        EXPECT_GT(inside, kRays / 2);
        EXPECT_LT(inside, kRays - kRays / 10);
    }
    hwy::SetSupportedTargetsForTest(0);
}

// The lens models' row projections against their per-ray forms: rays on the axis, behind
// the lens, past the field of view and all around it.
TEST(TrigRowsTest, RowProjectionsAreTheirPerRayProjections)
{
    std::mt19937 random(7);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    constexpr size_t kRays = 3001;
    std::vector<float> right(kRays), down(kRays), along(kRays);
    for (size_t j = 0; j < kRays; ++j) {
        right[j] = unit(random);
        down[j] = j % 7 == 0 ? 0.0f : unit(random);
        along[j] = j % 11 == 0 ? 0.0f : unit(random);
    }
    right[0] = down[0] = 0.0f;  // on the axis
    std::vector<float> X(kRays), Y(kRays);
    for (int model = ZR_FE_LENS_EQUIDISTANT; model <= ZR_FE_LENS_POLYNOMIAL; ++model) {
        const tag_ZRLENS setting{static_cast<ENUM_ZR_FE_LENS_E>(model), 190.0f - 25.0f * (model % 3),
                                 {-0.02, 0.003, 0.0, 0.0}};
        const zrfe::LensProjection lens(setting);
        std::vector<unsigned char> seen(kRays);
        zrfe::LensProjectionRow(lens, right.data(), down.data(), along.data(), 1000.0f, 1100.0f, X.data(), Y.data(),
                                seen.data(), kRays);
        size_t seenCount = 0;
        for (size_t j = 0; j < kRays; ++j) {
            float x = 0, y = 0;
            const bool expected = lens.Project(right[j], down[j], along[j], 1000.0f, 1100.0f, x, y);
            ASSERT_EQ(seen[j] != 0, expected) << "model " << model << ", ray " << j;
            if (expected) {
                ASSERT_EQ(FPair(X[j], Y[j]), FPair(x, y)) << "model " << model << ", ray " << j;
            }
            seenCount += expected;
        }
        EXPECT_GT(seenCount, kRays / 4) << model;
        EXPECT_LT(seenCount, kRays) << model;
    }
}

// Every float through atanf, sinf and cosf, and atan2f over a large sample, on the best
// target. About a minute; run by hand with --gtest_also_run_disabled_tests.
TEST(TrigRowsTest, DISABLED_EveryFloatGivesTheLibrarysBits)
{
    ASSERT_TRUE(zrfe::TrigRowsAreOwn());
    constexpr size_t kBlock = 1 << 20;
    std::vector<float> a(kBlock), b(kBlock);
    for (uint64_t start = 0; start < (1ull << 32); start += kBlock) {
        for (size_t i = 0; i < kBlock; ++i) {
            const uint32_t bits = static_cast<uint32_t>(start + i);
            std::memcpy(&a[i], &bits, sizeof bits);
            const uint32_t other = bits * 2654435761u;
            std::memcpy(&b[i], &other, sizeof other);
        }
        ExpectLibraryBits(a, b, "block " + std::to_string(start >> 20));
        if (HasFailure())
            return;
    }
}

}  // namespace
