// Install mode, panorama tables and point conversion.
#include <cmath>
#include <map>
#include <random>

#include <gtest/gtest.h>

#include "ZRFishEye.h"
#include "geometry/GroundPanoramaTable.h"
#include "geometry/LensGeometry.h"
#include "geometry/PointMap.h"
#include "geometry/WallPanoramaTable.h"

namespace {

using P = tag_ZR_FE_POINT_S;

CZRFishEyeDewarper* MakeDewarper(ENUM_ZR_FE_INSTALL_MODE_E mode, int r,
                                 ENUM_ZR_FE_VIEW_TYPE_E view = ZR_FE_VIEW_PANORAMA)
{
    return new CZRFishEyeDewarper(mode, r, view, r, 640, 360, 0);
}

// One ground entry exactly as written, with nothing hoisted out of the loops.
void LiteralGroundEntry(unsigned int r, int i, int j, float& X, float& Y)
{
    const int H = zrfe::GroundPanoramaHeight(r, 0);
    const int W = zrfe::GroundPanoramaWidth(r);
    const float rho = static_cast<float>(H - i);
    const float theta =
        static_cast<float>(static_cast<double>(static_cast<float>(j) / static_cast<float>(W)) * 3.141592653589793 * 2);
    const float c = static_cast<float>(r);
    volatile float st = sinf(theta), ct = cosf(theta);  // volatile: no fused multiply-add here either
    volatile float a = st * rho;
    volatile float b = ct * rho;
    X = a + c;
    Y = c - b;
}

TEST(GroundPanoramaTableTest, SizesFollowTheRadius)
{
    EXPECT_EQ(zrfe::GroundPanoramaHeight(1000, 0), 1000);
    EXPECT_EQ(zrfe::GroundPanoramaWidth(1000), 6280);  // 6283.18... rounded down to a multiple of 8
    EXPECT_EQ(zrfe::GroundPanoramaHeight(500, 0), 496);
    EXPECT_EQ(zrfe::GroundPanoramaWidth(500), 3136);   // 3141.59...
    EXPECT_EQ(zrfe::GroundPanoramaHeight(7, 0), 0);
    cv::Mat x, y;
    zrfe::BuildGroundPanoramaTable(7, 0, ZR_FE_INSTALL_CEILING, x, y);
    EXPECT_TRUE(x.empty());
    EXPECT_TRUE(y.empty());
}

TEST(GroundPanoramaTableTest, CeilingTableAtRadius1000HasTheNamedEntriesAndMatchesTheLiteralFormula)
{
    cv::Mat x, y;
    zrfe::BuildGroundPanoramaTable(1000, 0, ZR_FE_INSTALL_CEILING, x, y);
    ASSERT_EQ(x.rows, 1000);
    ASSERT_EQ(x.cols, 6280);
    // Column 0 looks up from the centre: row 0 on the ring of radius 1000, row 999 on the ring of radius 1.
    EXPECT_FLOAT_EQ(x.at<float>(0, 0), 1000.0f);
    EXPECT_FLOAT_EQ(y.at<float>(0, 0), 0.0f);
    EXPECT_FLOAT_EQ(x.at<float>(999, 0), 1000.0f);
    EXPECT_FLOAT_EQ(y.at<float>(999, 0), 999.0f);
    // A quarter turn clockwise: 3 o'clock on the rim.
    EXPECT_NEAR(x.at<float>(0, 1570), 2000.0f, 1e-2);
    EXPECT_NEAR(y.at<float>(0, 1570), 1000.0f, 1e-2);

    // The per-column sines and cosines must give the same bits as the per-entry formula.
    std::mt19937 rng(7);
    for (int n = 0; n < 20000; ++n) {
        const int i = static_cast<int>(rng() % 1000), j = static_cast<int>(rng() % 6280);
        float X, Y;
        LiteralGroundEntry(1000, i, j, X, Y);
        ASSERT_EQ(x.at<float>(i, j), X) << "row " << i << " column " << j;
        ASSERT_EQ(y.at<float>(i, j), Y) << "row " << i << " column " << j;
    }
}

TEST(GroundPanoramaTableTest, FloorTableIsTheCeilingTableTurnedByAHalfTurn)
{
    for (unsigned int r : {64u, 333u}) {
        cv::Mat cx, cy, fx, fy;
        zrfe::BuildGroundPanoramaTable(r, 0, ZR_FE_INSTALL_CEILING, cx, cy);
        zrfe::BuildGroundPanoramaTable(r, 0, ZR_FE_INSTALL_GROUND, fx, fy);
        ASSERT_EQ(cx.size(), fx.size());
        cv::Mat turnedX, turnedY;
        cv::flip(cx, turnedX, -1);
        cv::flip(cy, turnedY, -1);
        EXPECT_EQ(cv::norm(turnedX, fx, cv::NORM_INF), 0.0) << "r = " << r;
        EXPECT_EQ(cv::norm(turnedY, fy, cv::NORM_INF), 0.0) << "r = " << r;
    }
}

// One wall entry exactly as written.
void LiteralWallEntry(unsigned int s, int x, int y, float& X, float& Y, bool& stored)
{
    const int n = 2 * static_cast<int>(s);
    auto grid = [&](int k) {
        const float q = static_cast<float>(k) / static_cast<float>(n - 1) - 0.5f;
        return static_cast<float>(static_cast<double>(q) * 3.141592653589793);
    };
    const float lambda = grid(x), phi = grid(y);
    const float f = static_cast<float>(s + s) / static_cast<float>(3.141592653589793);
    volatile float cphi = cosf(phi);
    volatile float dz = cosf(lambda) * cphi;
    volatile float dx = sinf(lambda) * cphi;
    volatile float dy = sinf(phi);
    volatile float dyy = dy * dy, dxx = dx * dx;
    volatile float nrm = sqrtf(dyy + dxx);
    volatile float theta = atan2f(nrm, dz);
    volatile float rho = theta * f;
    volatile float alpha = atan2f(dy, dx);
    volatile float cx = cosf(alpha) * rho, sy = sinf(alpha) * rho;
    X = cx + static_cast<float>(s);
    Y = sy + static_cast<float>(s);
    const float edge = static_cast<float>(n);
    stored = X >= 0 && X < edge && Y >= 0 && Y < edge;
}

TEST(WallPanoramaTableTest, WindowIsCentredAndSizedFromTheRadius)
{
    tag_ZR_FE_WALL_VIEW_S w = zrfe::ComputeWallWindow(1000, 1125);
    EXPECT_EQ(w.uValidWidth, 2000u);
    EXPECT_EQ(w.uValidHeight, 2000u);
    EXPECT_EQ(w.uWidth, 2000u);
    EXPECT_EQ(w.uHeight, 1400u);
    EXPECT_EQ(w.uStartX, 125u);
    EXPECT_EQ(w.uStartY, 425u);
    w = zrfe::ComputeWallWindow(1024, 1152);
    EXPECT_EQ(w.uHeight, 1432u) << "2048 * 0.7 = 1433.6, truncated, then down to a multiple of 8";
}

TEST(WallPanoramaTableTest, EntriesMatchTheLiteralFormulaAndStayOnTheImage)
{
    const unsigned int s = 72;  // r = 64
    cv::Mat x, y;
    zrfe::BuildWallPanoramaTable(s, x, y);
    ASSERT_EQ(x.rows, 144);
    ASSERT_EQ(x.cols, 144);
    for (int row = 0; row < x.rows; ++row)
        for (int col = 0; col < x.cols; ++col) {
            float X, Y;
            bool stored;
            LiteralWallEntry(s, col, row, X, Y, stored);
            const float gotX = x.at<float>(row, col), gotY = y.at<float>(row, col);
            ASSERT_EQ(gotX, stored ? X : 0.0f) << "row " << row << " column " << col;
            ASSERT_EQ(gotY, stored ? Y : 0.0f) << "row " << row << " column " << col;
            if (stored)  // within distance s of the centre, up to rounding
                ASSERT_LE(std::hypot(gotX - 72.0f, gotY - 72.0f), 72.0f + 1e-3f);
        }
    // The centre looks along the axis; row 0 samples the top of the 90-degree circle.
    EXPECT_NEAR(x.at<float>(72, 72), 72.0f, 1.0f);
    EXPECT_NEAR(y.at<float>(72, 72), 72.0f, 1.0f);
    for (int col = 1; col < 143; ++col) {
        EXPECT_NEAR(x.at<float>(0, col), 72.0f, 1e-3f);
        EXPECT_NEAR(y.at<float>(0, col), 0.0f, 1e-3f);
    }
}

TEST(InstallModeTest, SettersRefuseWhatTheModeCannotTakeAndKeepTheirState)
{
    std::unique_ptr<CZRFishEyeDewarper> d(MakeDewarper(ZR_FE_INSTALL_CEILING, 512));
    EXPECT_EQ(d->SetInstallMode(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(3), 512), -1);
    EXPECT_EQ(d->SetInstallMode(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(-1), 512), -1);
    EXPECT_EQ(d->GetInstallMode(), ZR_FE_INSTALL_CEILING);
    EXPECT_EQ(d->SetWallStarty(10), -1);
    EXPECT_EQ(d->SetGroundAngle(725), 0);
    EXPECT_EQ(d->GetGroundParam().uAngle, 5u);
    EXPECT_EQ(d->GetGroundParam().uRadius, 512u);
    EXPECT_EQ(d->GetGroundParam().uRadiusCut, 0u);

    // Nothing changed and no force: the angle survives. With force: rebuilt, angle back to 0.
    EXPECT_EQ(d->SetInstallMode(ZR_FE_INSTALL_CEILING, 512, false), 0);
    EXPECT_EQ(d->GetGroundParam().uAngle, 5u);
    EXPECT_EQ(d->SetInstallMode(ZR_FE_INSTALL_CEILING, 512, true), 0);
    EXPECT_EQ(d->GetGroundParam().uAngle, 0u);

    EXPECT_EQ(d->SetMainViewType(static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(3)), -1);
    EXPECT_EQ(d->SetMainViewType(static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(-2)), -1);
    EXPECT_EQ(d->GetMainViewType(), ZR_FE_VIEW_PANORAMA);
}

TEST(InstallModeTest, WallWindowStartRowIsHeldWithinTheValidBand)
{
    std::unique_ptr<CZRFishEyeDewarper> d(MakeDewarper(ZR_FE_INSTALL_WALL, 1000));
    tag_ZR_FE_WALL_VIEW_S w = d->GetWallParam();
    EXPECT_EQ(w.uStartX, 125u);
    EXPECT_EQ(w.uStartY, 425u);
    EXPECT_EQ(d->SetGroundAngle(10), -1);
    EXPECT_EQ(d->SetWallStarty(0), 0);
    EXPECT_EQ(d->GetWallParam().uStartY, 125u);  // low = (2250 - 2000) / 2
    EXPECT_EQ(d->SetWallStarty(5000), 0);
    EXPECT_EQ(d->GetWallParam().uStartY, 725u);  // high = 2000 - 1400 + 125
    EXPECT_EQ(d->SetWallStarty(300), 0);
    EXPECT_EQ(d->GetWallParam().uStartY, 300u);
    EXPECT_EQ(d->ResetMainView(), 0);
    EXPECT_EQ(d->GetWallParam().uStartY, 425u);

    // The ground parameters keep their last values while the mode is wall, and vice versa.
    EXPECT_EQ(d->SetInstallMode(ZR_FE_INSTALL_GROUND, 512), 0);
    EXPECT_EQ(d->GetWallParam().uStartY, 425u);
    EXPECT_EQ(d->ResetMainView(), -1);
}

TEST(PointMapTest, DenseGridAnswersExactlyAsTheLiteralOrderedMap)
{
    auto literal = [](const cv::Mat& x, const cv::Mat& y) {
        std::map<P, P, ZRPointLess> m;
        for (int r = 0; r < x.rows; ++r)
            for (int c = 0; c < x.cols; ++c) {
                const P key{zrfe::TruncToPoint16(x.at<float>(r, c)), zrfe::TruncToPoint16(y.at<float>(r, c))};
                if (!m.count(key))
                    m[key] = P{static_cast<unsigned short>(c), static_cast<unsigned short>(r)};
            }
        return m;
    };
    auto compare = [&](const cv::Mat& x, const cv::Mat& y, const char* what) {
        ZRPointMap fast;
        fast.Build(x, y);
        const auto slow = literal(x, y);
        EXPECT_EQ(fast.Size(), slow.size()) << what;
        // Every key of the literal map, and every pixel of a window around the keys, answers alike.
        for (int ky = -3; ky < 300; ++ky)
            for (int kx = -3; kx < 300; ++kx) {
                const P key{static_cast<unsigned short>(kx), static_cast<unsigned short>(ky)};
                P got{1, 1};
                const bool found = fast.Find(key, got);
                auto it = slow.find(key);
                ASSERT_EQ(found, it != slow.end()) << what << " key " << kx << "," << ky;
                if (found) {
                    ASSERT_EQ(got.nX, it->second.nX) << what << " key " << kx << "," << ky;
                    ASSERT_EQ(got.nY, it->second.nY) << what << " key " << kx << "," << ky;
                }
            }
    };
    for (unsigned int r : {16u, 64u, 131u}) {
        cv::Mat x, y;
        zrfe::BuildGroundPanoramaTable(r, 0, ZR_FE_INSTALL_CEILING, x, y);
        compare(x, y, "ceiling");
        zrfe::BuildGroundPanoramaTable(r, 0, ZR_FE_INSTALL_GROUND, x, y);
        compare(x, y, "floor");
        zrfe::BuildWallPanoramaTable(zrfe::HalfSizeFor(ZR_FE_INSTALL_WALL, r), x, y);
        compare(x, y, "wall");
    }
    // Keys spread over the whole 16-bit plane (negative and huge values) take the ordered map.
    cv::Mat x(40, 40, CV_32FC1), y(40, 40, CV_32FC1);
    cv::RNG rng(3);
    rng.fill(x, cv::RNG::UNIFORM, -70000.0, 70000.0);
    rng.fill(y, cv::RNG::UNIFORM, -10.0, 250.0);
    x.at<float>(0, 0) = std::nanf("");
    x.at<float>(0, 1) = 5.0f;
    y.at<float>(0, 1) = 5.0f;
    compare(x, y, "spread");
}

TEST(PointConversionTest, CeilingConversionsAtRadius1000)
{
    std::unique_ptr<CZRFishEyeDewarper> d(MakeDewarper(ZR_FE_INSTALL_CEILING, 1000));
    P out{7, 7};
    ASSERT_EQ(d->GetOriginalPoint(P{0, 0}, out), 0);
    EXPECT_EQ(out.nX, 1000);
    EXPECT_EQ(out.nY, 0);
    ASSERT_EQ(d->GetOriginalPoint(P{0, 999}, out), 0);
    EXPECT_EQ(out.nX, 1000);
    EXPECT_EQ(out.nY, 999);
    out = {7, 7};
    EXPECT_EQ(d->GetOriginalPoint(P{0, 1000}, out), -1) << "row beyond the table";
    EXPECT_EQ(out.nX, 7);
    EXPECT_EQ(d->GetOriginalPoint(P{6280, 0}, out), 0) << "columns wrap around the table";

    // The first table pixel sampling (1000, 0) is column 0, row 0; the circle's corner has none.
    ASSERT_EQ(d->GetPanoramaPoint(P{1000, 0}, out), 0);
    EXPECT_EQ(out.nX, 0);
    EXPECT_EQ(out.nY, 0);
    out = {7, 7};
    EXPECT_EQ(d->GetPanoramaPoint(P{0, 0}, out), -1);
    EXPECT_EQ(out.nX, 7);

    // Angle 90: the display turns left by 1570 columns, so displayed column 0 reads table column 1570.
    ASSERT_EQ(d->SetGroundAngle(90), 0);
    ASSERT_EQ(d->GetOriginalPoint(P{0, 0}, out), 0);
    EXPECT_EQ(out.nX, 2000) << "rim at 3 o'clock: sinf of the quarter turn rounds to 1";
    EXPECT_EQ(out.nY, 1000);
    ASSERT_EQ(d->GetPanoramaPoint(P{1000, 0}, out), 0);
    EXPECT_EQ(out.nX, 6280 - 1570);

    // Input and output may be one object.
    P same{0, 999};
    ASSERT_EQ(d->SetGroundAngle(0), 0);
    ASSERT_EQ(d->GetOriginalPoint(same, same), 0);
    EXPECT_EQ(same.nX, 1000);
    EXPECT_EQ(same.nY, 999);

    // Only the panorama view converts.
    for (ENUM_ZR_FE_VIEW_TYPE_E t : {ZR_FE_VIEW_ORIGINAL, ZR_FE_VIEW_DOUBLE_PANORAMA}) {
        ASSERT_EQ(d->SetMainViewType(t), 0);
        out = {7, 7};
        EXPECT_EQ(d->GetOriginalPoint(P{0, 0}, out), -1);
        EXPECT_EQ(d->GetPanoramaPoint(P{1000, 0}, out), -1);
        EXPECT_EQ(out.nX, 7);
        EXPECT_EQ(out.nY, 7);
    }
}

TEST(PointConversionTest, ConversionShiftKeepsItsOwnFloatFormula)
{
    // W = 840 (r = 134) with angle 27: W * 27 / 360 is 63 exactly, but the float
    // quotient 840 / 360 makes the conversions shift by 62.
    std::unique_ptr<CZRFishEyeDewarper> d(MakeDewarper(ZR_FE_INSTALL_CEILING, 134));
    ASSERT_EQ(zrfe::GroundPanoramaWidth(134), 840);
    ASSERT_EQ(d->SetGroundAngle(27), 0);
    const int k1 = zrfe::TruncToInt32(27.0f * (840.0f / -360.0f));
    const int k2 = zrfe::TruncToInt32(27.0f * (840.0f / 360.0f));
    EXPECT_EQ(k1, -62);
    EXPECT_EQ(k2, 62);
    cv::Mat x, y;
    zrfe::BuildGroundPanoramaTable(134, 0, ZR_FE_INSTALL_CEILING, x, y);
    P out;
    ASSERT_EQ(d->GetOriginalPoint(P{0, 10}, out), 0);
    EXPECT_EQ(out.nX, zrfe::TruncToPoint16(x.at<float>(10, 62)));
    EXPECT_EQ(out.nY, zrfe::TruncToPoint16(y.at<float>(10, 62)));
}

TEST(PointConversionTest, WallConversionsAddAndSubtractTheWindowWithWrap)
{
    std::unique_ptr<CZRFishEyeDewarper> d(MakeDewarper(ZR_FE_INSTALL_WALL, 1000));
    cv::Mat x, y;
    zrfe::BuildWallPanoramaTable(1125, x, y);
    P out;
    ASSERT_EQ(d->GetOriginalPoint(P{0, 0}, out), 0);
    EXPECT_EQ(out.nX, zrfe::TruncToPoint16(x.at<float>(425, 125)));
    EXPECT_EQ(out.nY, zrfe::TruncToPoint16(y.at<float>(425, 125)));
    EXPECT_EQ(d->GetOriginalPoint(P{2250 - 125, 0}, out), -1) << "column beyond the table";

    // The original pixel sampled by table entry (100, 425) maps back to its first table
    // pixel less the window origin, wrapping below 0.
    const P key{zrfe::TruncToPoint16(x.at<float>(425, 100)), zrfe::TruncToPoint16(y.at<float>(425, 100))};
    ZRPointMap reference;
    reference.Build(x, y);
    P first;
    ASSERT_TRUE(reference.Find(key, first));
    ASSERT_EQ(d->GetPanoramaPoint(key, out), 0);
    EXPECT_EQ(out.nX, static_cast<unsigned short>(first.nX - 125));
    EXPECT_EQ(out.nY, static_cast<unsigned short>(first.nY - 425));
    if (first.nX == 100 && first.nY == 425)
        EXPECT_EQ(out.nX, 65511);
}

TEST(InstallModeTest, TinyAndRefusedRadiiGiveDefinedResults)
{
    for (int mode = 0; mode < 3; ++mode)
        for (int r : {0, 1, 7, 31, 55}) {
            std::unique_ptr<CZRFishEyeDewarper> d(
                MakeDewarper(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(mode), r, ZR_FE_VIEW_PANORAMA));
            P out{9, 9};
            d->GetOriginalPoint(P{0, 0}, out);
            d->GetPanoramaPoint(P{0, 0}, out);
            d->SetWallStarty(3);
            d->SetGroundAngle(3);
            EXPECT_EQ(d->ResetMainView(), mode == 2 ? 0 : -1);
        }
    // A refused constructor mode: no tables, half size 0, conversions fail.
    std::unique_ptr<CZRFishEyeDewarper> d(MakeDewarper(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(5), 512));
    P out{9, 9};
    EXPECT_EQ(d->GetOriginalPoint(P{0, 0}, out), -1);
    EXPECT_EQ(d->GetPanoramaPoint(P{512, 0}, out), -1);
    EXPECT_EQ(d->SetInstallMode(ZR_FE_INSTALL_CEILING, 512), 0);
    EXPECT_EQ(d->GetOriginalPoint(P{0, 0}, out), 0);
}

}  // namespace
