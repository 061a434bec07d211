// Fast mode against the exact path and against the synthetic scene's ground
// truth: the same views, as sharp, with the outlines where the exact path draws them.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "LiteralComposition.h"
#include "TestSupport.h"
#include "engine/EngineCore.h"
#include "scene/FisheyeScene.h"

namespace {

using zrtest::Planes;

const int kSide = 1024;   // the scene's fisheye picture
const int kRadius = 480;  // the lens circle the main view works with
const int kSubWidth = 320, kSubHeight = 240;

// Fast against exact. The exact path resamples twice (and its chroma four times:
// up to 4:4:4, the resize, the remap, the 2 x 2 mean); measured on the scene, the
// worst main view scores 35.1 dB luma (the ceiling panorama's sharp lines) and
// 43 dB chroma. A sub view that shrinks the picture (the wall views, 1.6 : 1) keeps
// in its one chroma sample the thin coloured lines that the exact path's 2 x 2
// mean of upsampled chroma softens: 39.3 dB there, so sub views get 38.
const double kLumaBar = 35.0;
const double kMainChromaBar = 40.0;
const double kSubChromaBar = 38.0;

double Psnr(const cv::Mat& a, const cv::Mat& b) { return cv::PSNR(a, b); }
double ChromaPsnr(const Planes& a, const Planes& b) { return std::min(Psnr(a.u, b.u), Psnr(a.v, b.v)); }

// Two sub views: one looking along the lens axis (pan/tilt for a wall camera),
// one turned and tilted away from it, at an odd size.
void AimSubViews(zrfe::Engine& e)
{
    e.SetSubViewNum(2);
    e.SetNormalY(50, 1);
    e.SetNormalZ(120, 1);
    e.ZoomNormalView(14, 1);
}

struct Views {
    Planes main, sub[2];
};

Views Render(const zrfe::Engine& e)
{
    Views v;
    int result = 0;
    v.main = zrtest::RenderMain(e, result);
    EXPECT_EQ(result, 0) << "main view";
    for (int i = 0; i < e.GetSubViewNum(); ++i) {
        v.sub[i] = zrtest::RenderSub(e, i, result);
        EXPECT_EQ(result, 0) << "sub view " << i;
    }
    return v;
}

Views Load(zrfe::Engine& e, ENUM_ZR_FE_RENDER_MODE_E mode, tag_ZRFRAME frame)
{
    EXPECT_EQ(e.SetRenderMode(mode), 0);
    EXPECT_EQ(e.LoadFrame(frame), 0);
    return Render(e);
}

// The NV12 frame as a three-plane packet (Y, V, U).
CZRPacketPIC* PacketOf(const zrscene::Nv12Picture& nv12)
{
    const int w = nv12.width, h = nv12.height;
    CZRPacketPIC* p = CZRPacketPIC::Acquire(static_cast<unsigned int>(w), static_cast<unsigned int>(h),
                                            ZR_PIC_FORMAT_YV12, nullptr, 0);
    p->SetLine(0, 0, nv12.luma.data(), static_cast<unsigned int>(w), static_cast<unsigned int>(h));
    const cv::Mat pairs(h / 2, w / 2, CV_8UC2, const_cast<unsigned char*>(nv12.chroma.data()));
    cv::Mat uv[2];
    cv::split(pairs, uv);
    p->SetLine(1, 0, uv[1].data, static_cast<unsigned int>(w / 2), static_cast<unsigned int>(h / 2));
    p->SetLine(2, 0, uv[0].data, static_cast<unsigned int>(w / 2), static_cast<unsigned int>(h / 2));
    return p;
}

// Every mount, main view type, ground angle (odd and even column shifts) and wall
// window (odd and even start rows), on a square and on a 4:3 frame of the scene:
// fast mode shows the exact path's views, deterministically whatever the thread
// count, and reads a packet as it reads the same NV12 frame.
TEST(FastMode, EveryViewMatchesTheExactPathOnTheScene)
{
    double worstLuma = 100, worstChroma = 100;
    for (int mode = 0; mode < 3; ++mode) {
        const auto mount = static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(mode);
        const cv::Mat scene = zrscene::RenderFisheye(mount, kSide);
        cv::Mat wide;
        cv::resize(scene, wide, cv::Size(kSide, kSide * 3 / 4), 0, 0, cv::INTER_AREA);
        for (const cv::Mat& picture : {scene, wide}) {
            zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(picture);
            for (int view = 0; view < 3; ++view)
                for (const unsigned int setting : {0u, 37u}) {
                    SCOPED_TRACE(testing::Message() << "mode " << mode << " view " << view << " setting " << setting
                                                    << " frame height " << picture.rows);
                    zrfe::Engine e(mount, kRadius, static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(view), 0, kSubWidth, kSubHeight);
                    AimSubViews(e);
                    if (mount == ZR_FE_INSTALL_WALL)
                        e.SetWallStarty(e.GetWallParam().uStartY + setting);
                    else
                        e.SetGroundAngle(setting);
                    const Views exact = Load(e, ZR_FE_RENDER_EXACT, nv12.Descriptor());
                    const Views fast = Load(e, ZR_FE_RENDER_FAST, nv12.Descriptor());
                    const Planes* pairs[3][2] = {{&exact.main, &fast.main}, {&exact.sub[0], &fast.sub[0]},
                                                 {&exact.sub[1], &fast.sub[1]}};
                    for (int p = 0; p < 3; ++p) {
                        const Planes& a = *pairs[p][0];
                        const Planes& b = *pairs[p][1];
                        ASSERT_EQ(a.y.size(), b.y.size()) << "view " << p;
                        ASSERT_EQ(a.u.size(), b.u.size()) << "view " << p;
                        const double luma = Psnr(a.y, b.y), chroma = ChromaPsnr(a, b);
                        EXPECT_GE(luma, kLumaBar) << "view " << p;
                        EXPECT_GE(chroma, p == 0 ? kMainChromaBar : kSubChromaBar) << "view " << p;
                        worstLuma = std::min(worstLuma, luma);
                        worstChroma = std::min(worstChroma, p == 0 ? chroma : worstChroma);
                    }
                    if (view != 1 || setting != 37u)
                        continue;
                    // One thread, and the frame as a packet: the same bytes.
                    const int threads = cv::getNumThreads();
                    cv::setNumThreads(1);
                    const Views single = Render(e);
                    cv::setNumThreads(threads);
                    CZRPacketPIC* packet = PacketOf(nv12);
                    ASSERT_EQ(e.LoadPicture(packet), 0);
                    packet->Release();
                    const Views fromPacket = Render(e);
                    for (const Views* other : {&single, &fromPacket}) {
                        EXPECT_TRUE(zrtest::SamePlanes(other->main, fast.main));
                        EXPECT_TRUE(zrtest::SamePlanes(other->sub[0], fast.sub[0]));
                        EXPECT_TRUE(zrtest::SamePlanes(other->sub[1], fast.sub[1]));
                    }
                }
        }
    }
    std::printf("fast against exact, worst over the sweep: luma %.2f dB, main view chroma %.2f dB\n", worstLuma,
                worstChroma);
}

}  // namespace

namespace {

const double kPi = 3.141592653589793;

// The luma that the library's format gives a BGR picture.
cv::Mat LumaOf(const cv::Mat& bgr)
{
    cv::Mat ch[3];
    cv::split(zrscene::BgrToWorking(bgr), ch);
    return ch[0];
}

// The scene along the rays that a sub view's table samples in a fisheye picture of
// side n: each output pixel traced at four points of its footprint.
cv::Mat TruthAlongTable(ENUM_ZR_FE_INSTALL_MODE_E mount, const cv::Mat& mapX, const cv::Mat& mapY, int n)
{
    cv::Mat out(mapX.size(), CV_8UC3);
    const double R = n / 2.0;
    auto at = [&](const cv::Mat& m, int r, int c) {
        return static_cast<double>(m.at<float>(std::clamp(r, 0, m.rows - 1), std::clamp(c, 0, m.cols - 1)));
    };
    for (int r = 0; r < out.rows; ++r)
        for (int c = 0; c < out.cols; ++c) {
            cv::Vec3d sum(0, 0, 0);
            for (int k = 0; k < 4; ++k) {
                const double du = (k & 1) ? 0.25 : -0.25, dv = (k & 2) ? 0.25 : -0.25;
                const double x = at(mapX, r, c) + du * (at(mapX, r, c + 1) - at(mapX, r, c - 1)) / 2 +
                                 dv * (at(mapX, r + 1, c) - at(mapX, r - 1, c)) / 2;
                const double y = at(mapY, r, c) + du * (at(mapY, r, c + 1) - at(mapY, r, c - 1)) / 2 +
                                 dv * (at(mapY, r + 1, c) - at(mapY, r - 1, c)) / 2;
                const double dx = x - R, dy = y - R;
                const double theta = std::sqrt(dx * dx + dy * dy) / R * (kPi / 2), phi = std::atan2(dy, dx);
                const zrscene::Vec3 cam{std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
                sum += cv::Vec3d(zrscene::TraceColour(mount, zrscene::CameraToWorld(mount, cam)));
            }
            out.at<cv::Vec3b>(r, c) = cv::Vec3b(cv::saturate_cast<uchar>(sum[0] / 4), cv::saturate_cast<uchar>(sum[1] / 4),
                                                cv::saturate_cast<uchar>(sum[2] / 4));
        }
    return out;
}

// Against the scene's ground truth fast mode does at least as well as the exact
// path, less half a decibel: the wall panorama (longitude/latitude truth), a wall
// sub view along the lens axis (pinhole truth) and a ceiling sub view (the scene
// traced along the rays its table samples).
TEST(FastMode, ScoresAtLeastTheExactPathAgainstTheSceneGroundTruth)
{
    const int side = 1024, radius = 512;
    const double kAllowance = 0.5;
    for (const auto mount : {ZR_FE_INSTALL_WALL, ZR_FE_INSTALL_CEILING}) {
        zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(zrscene::RenderFisheye(mount, side));
        zrfe::Engine e(mount, radius, ZR_FE_VIEW_PANORAMA, 0, 320, 240);
        e.SetSubViewNum(1);
        cv::Mat truth[2];  // panorama, sub view
        if (mount == ZR_FE_INSTALL_WALL) {
            tag_ZR_FE_NORMAL_VIEW_S v;
            e.GetNormalParam(v, 0);
            v.fPan = -v.fFovHor / 2;  // along the lens axis, at the middle of the north wall
            v.fTilt = -v.fFovVer / 2;
            e.SetNormalView(v, 0);
            const tag_ZR_FE_WALL_VIEW_S w = e.GetWallParam();
            const cv::Rect window(static_cast<int>(w.uStartX), static_cast<int>(w.uStartY), static_cast<int>(w.uWidth),
                                  static_cast<int>(w.uHeight));
            truth[0] = zrscene::RenderLongLat(mount, 2 * static_cast<int>((static_cast<unsigned int>(radius) >> 3) * 9), window);
            // A pinhole on a vertical plane facing the lens axis: columns at tan steps of
            // 2 tan(fovH / 2) / (W - 1) from column W / 2, rows from t0 to t1.
            const int W = 320, H = 240;
            const double halfFov = v.fFovHor * 0.5, T = 2 * std::tan(halfFov);
            const double t0 = std::tan(v.fTilt) / std::cos(halfFov), t1 = std::tan(v.fFovVer + v.fTilt) / std::cos(halfFov);
            const zrscene::Pinhole cam{{0, 0, 1}, {0, 1, 0}, (W - 1) / T, (H - 1) / (t1 - t0), W / 2.0, -t0 * (H - 1) / (t1 - t0), W, H};
            truth[1] = zrscene::RenderPerspective(mount, cam);
        } else {
            e.SetNormalY(45, 0);
            e.SetNormalZ(30, 0);
            ASSERT_EQ(e.LoadFrame(nv12.Descriptor()), 0);  // the sub view's table follows the frame width
            cv::Mat mapX, mapY;
            e.Core().m_pNormalMap[0]->FloatMaps(mapX, mapY);
            truth[1] = TruthAlongTable(mount, mapX, mapY, side);
        }
        const Views exact = Load(e, ZR_FE_RENDER_EXACT, nv12.Descriptor());
        const Views fast = Load(e, ZR_FE_RENDER_FAST, nv12.Descriptor());
        const char* names[2] = {"panorama", "sub view"};
        for (int v = 0; v < 2; ++v) {
            if (truth[v].empty())
                continue;
            const cv::Mat y = LumaOf(truth[v]);
            const double exactPsnr = Psnr(v ? exact.sub[0].y : exact.main.y, y);
            const double fastPsnr = Psnr(v ? fast.sub[0].y : fast.main.y, y);
            std::printf("%s %s against the scene: exact %.2f dB, fast %.2f dB\n", zrscene::MountName(mount), names[v],
                        exactPsnr, fastPsnr);
            EXPECT_GE(fastPsnr, exactPsnr - kAllowance) << zrscene::MountName(mount) << " " << names[v];
        }
    }
}

}  // namespace

namespace {

// Pixels that the outlines change: the luma with them against the luma without.
cv::Mat OutlinePixels(zrfe::Engine& e, int lineMask)
{
    int result = 0;
    e.SetLineMask(0);
    const Planes plain = zrtest::RenderMain(e, result);
    e.SetLineMask(lineMask);
    const Planes lined = zrtest::RenderMain(e, result);
    const double kChanged = 24;
    cv::Mat diff;
    cv::absdiff(plain.y, lined.y, diff);
    return diff > kChanged;
}

// The share of the marked pixels of a that lie within reach of a marked pixel of b.
double ShareNear(const cv::Mat& a, const cv::Mat& b, int reach)
{
    cv::Mat grown;
    cv::dilate(b, grown, cv::getStructuringElement(cv::MORPH_RECT, cv::Size(2 * reach + 1, 2 * reach + 1)));
    const int total = cv::countNonZero(a);
    return total ? static_cast<double>(cv::countNonZero(a & grown)) / total : 0.0;
}

// On the original view and on the bent panorama, the fast main view shows the
// outlines where the exact path draws them (within 2 pixels), in their colours.
TEST(FastMode, OutlinesFallWhereTheExactPathDrawsThem)
{
    const int kReach = 2;
    const double kShare = 0.97;
    const cv::Mat scene = zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, kSide);
    zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(scene);
    for (const auto view : {ZR_FE_VIEW_ORIGINAL, ZR_FE_VIEW_PANORAMA, ZR_FE_VIEW_DOUBLE_PANORAMA}) {
        SCOPED_TRACE(testing::Message() << "view " << view);
        zrfe::Engine e(ZR_FE_INSTALL_CEILING, kRadius, view, 0, kSubWidth, kSubHeight);
        AimSubViews(e);
        e.SetGroundAngle(45);
        const int mask = 0x3;
        e.SetRenderMode(ZR_FE_RENDER_EXACT);
        ASSERT_EQ(e.LoadFrame(nv12.Descriptor()), 0);
        const cv::Mat exact = OutlinePixels(e, mask);
        e.SetRenderMode(ZR_FE_RENDER_FAST);
        ASSERT_EQ(e.LoadFrame(nv12.Descriptor()), 0);
        const cv::Mat fast = OutlinePixels(e, mask);
        ASSERT_GT(cv::countNonZero(exact), 200);
        EXPECT_GE(ShareNear(exact, fast, kReach), kShare) << "exact outline pixels near a fast one";
        EXPECT_GE(ShareNear(fast, exact, kReach), kShare) << "fast outline pixels near an exact one";
        EXPECT_NEAR(cv::countNonZero(fast), cv::countNonZero(exact), cv::countNonZero(exact) / 4) << "about the same width";

        // Each changed pixel carries an outline's own luma (sub view 0: 150, sub view 1: 29).
        int result = 0;
        const Planes lined = zrtest::RenderMain(e, result);
        const cv::Mat own = (lined.y == 150) | (lined.y == 29);
        EXPECT_EQ(cv::countNonZero(fast & ~own), 0);
    }
}

}  // namespace
