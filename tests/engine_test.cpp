// Identity sweeps: every view that the engine renders, and every picture the
// threaded dewarper delivers, byte for byte against the literal composition.
#include <functional>
#include <memory>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include "LiteralComposition.h"
#include "TestSupport.h"
#include "engine/EngineCore.h"
#include "geometry/LensGeometry.h"

namespace {

using zrtest::LiteralPlanes;
using zrtest::Planes;
using zrtest::SamePlanes;

// Random luma and chroma with a bright disc, so the mask and the rims matter.
zrtest::Nv12Buffer RandomFrame(int w, int h, int pad, unsigned int seed)
{
    cv::RNG rng(seed);
    auto noise = [rng](int x, int y) mutable { return static_cast<unsigned char>((rng.next() & 63) + (x * 7 + y * 3) % 160); };
    return zrtest::Nv12Buffer(w, h, pad, noise, noise, noise);
}

// Three sub views aimed apart, two of them outlined on the main view.
void AimSubViews(zrfe::Engine& e)
{
    e.SetSubViewNum(3);
    e.SetLineMask(0xD);  // bit 3 lies beyond the three views in use and draws nothing
    e.SetNormalY(40, 0);
    e.SetNormalZ(77, 0);
    e.ZoomNormalView(17, 1);
    e.MoveNormalView(tag_ZR_FE_POINT_S{30, 20}, 2);
}

void ExpectEngineMatchesLiteral(const zrfe::Engine& e, const cv::Mat& source, const std::string& what)
{
    SCOPED_TRACE(what);
    int result = 0;
    const Planes main = zrtest::RenderMain(e, result);
    const cv::Mat literal = zrtest::LiteralMainView(source, zrtest::SettingsOf(e), true);
    ASSERT_TRUE(result == 0 && !literal.empty()) << "main view";
    EXPECT_TRUE(SamePlanes(main, LiteralPlanes(literal))) << "main view";
    for (int i = 0; i < e.GetSubViewNum(); ++i) {
        const Planes sub = zrtest::RenderSub(e, i, result);
        ASSERT_EQ(result, 0) << "sub view " << i;
        EXPECT_TRUE(SamePlanes(sub, LiteralPlanes(zrtest::LiteralSubView(source, e, i)))) << "sub view " << i;
    }
}

TEST(EngineIdentity, EveryMountViewTypeAndSubViewMatchesTheLiteralComposition)
{
    // Radius and ground angle (or the wall window's start row). r = 134: a panorama 840 wide (not a
    // multiple of 16), angle 27 where 840 * 27 / 360 is whole; r = 160: angle 91 does not divide
    // the width; r = 149: odd sizes throughout.
    const std::pair<int, unsigned int> cases[] = {{134, 27}, {160, 91}, {149, 0}};
    for (int mode = 0; mode < 3; ++mode)
        for (int view = 0; view < 3; ++view)
            for (const auto& c : cases) {
                zrfe::Engine e(static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(mode), c.first,
                               static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(view), 0, 97, 61);
                AimSubViews(e);
                if (mode == ZR_FE_INSTALL_WALL)
                    e.SetWallStarty(c.second);
                else
                    e.SetGroundAngle(c.second);
                // A padded non-square frame, an odd one (the sub views follow the width), and
                // one as wide as the working picture, which is cropped rather than resized.
                const int side = 2 * static_cast<int>(zrfe::HalfSizeFor(mode, static_cast<unsigned int>(c.first)));
                for (const cv::Size size : {cv::Size(300, 280), cv::Size(321, 333), cv::Size(side, side - 20)}) {
                    zrtest::Nv12Buffer frame = RandomFrame(size.width, size.height, size.width % 5, 7u + static_cast<unsigned int>(mode));
                    ASSERT_EQ(e.LoadFrame(frame.desc), 0);
                    SCOPED_TRACE(testing::Message() << "mode " << mode << " view " << view << " frame " << size.width);
                    ExpectEngineMatchesLiteral(e, zrtest::LiteralSource(frame.desc), "r " + std::to_string(c.first));
                }
            }
}

TEST(EngineIdentity, PacketFramesMatchTheLiteralComposition)
{
    // Padded planes cut by plane 0's pitch; unpadded planes taken whole; an odd size.
    for (const unsigned int pitch : {0u, 339u}) {
        zrfe::Engine e(ZR_FE_INSTALL_CEILING, 160, ZR_FE_VIEW_PANORAMA, 0, 64, 48);
        AimSubViews(e);
        const unsigned int pitches[3] = {pitch, pitch / 2, pitch / 2};
        CZRPacketPIC* packet = CZRPacketPIC::Acquire(333, 320, ZR_PIC_FORMAT_YV12, pitch ? pitches : nullptr, pitch ? 3 : 0);
        cv::RNG rng(5);
        for (int p = 0; p < 3; ++p)
            rng.fill(cv::Mat(static_cast<int>(packet->m_uLines[p]), static_cast<int>(packet->m_uPitch[p]), CV_8UC1,
                             packet->GetLine(p, 0)), cv::RNG::UNIFORM, 0, 256);
        ASSERT_EQ(e.LoadPicture(packet), 0);
        ExpectEngineMatchesLiteral(e, zrtest::LiteralSource(packet), "packet pitch " + std::to_string(pitch));
        packet->Release();
    }
}

// Sizes before and after the first frame, and refusals, in either render mode.
TEST(EngineIdentity, SizesAndRefusalsLeaveThePicturesAlone)
{
    for (const auto mode : {ZR_FE_RENDER_EXACT, ZR_FE_RENDER_FAST}) {
        SCOPED_TRACE(testing::Message() << "render mode " << mode);
        zrfe::Engine e(ZR_FE_INSTALL_CEILING, 128, ZR_FE_VIEW_DOUBLE_PANORAMA, 0, 64, 48);
        ASSERT_EQ(e.SetRenderMode(mode), 0);
        e.SetSubViewNum(1);
        int result = 0;
        EXPECT_EQ(e.GetMainViewSize().width, 0) << "nothing to compose before the first frame";
        zrtest::RenderMain(e, result);
        EXPECT_EQ(result, -1);

        zrtest::Nv12Buffer frame = RandomFrame(256, 256, 0, 3);
        ASSERT_EQ(e.LoadFrame(frame.desc), 0);
        EXPECT_EQ(std::make_pair(e.GetSubViewSize(0).width, e.GetSubViewSize(1).width), std::make_pair(64, 0))
            << "a sub view never set up has no tables";

        // A picture of the wrong size is refused and left untouched.
        const Planes planes{cv::Mat(10, 10, CV_8UC1, cv::Scalar(7)), cv::Mat(5, 5, CV_8UC1, cv::Scalar(7)),
                            cv::Mat(5, 5, CV_8UC1, cv::Scalar(7))};
        const zrfe::PlanarPicture wrong = zrtest::PictureOf(planes);
        EXPECT_EQ(e.RenderMain(wrong) + e.RenderSub(0, wrong) + e.RenderSub(8, wrong), -3);
        EXPECT_EQ(cv::countNonZero(planes.y != 7), 0);

        // An unreadable frame changes nothing, not even the lens circle of the sub views.
        tag_ZRFRAME bad = frame.desc;
        bad.nPitch[0] = 10;
        bad.nWidth = 400;
        EXPECT_EQ(e.LoadFrame(bad), -1);
        EXPECT_EQ(e.GetOrgRadius(), 128u);
        EXPECT_EQ(e.LoadPicture(nullptr), -1);

        // A radius whose circle leaves the working image composes nothing.
        ASSERT_EQ(e.SetInstallMode(ZR_FE_INSTALL_CEILING, 31), 0);
        EXPECT_EQ(e.GetMainViewSize().width, 0);
    }
}

// The threaded dewarper delivers exactly the engine's pictures, whatever its
// worker and OpenCV thread counts, and when they change while it runs.
TEST(EngineIdentity, TheDewarperDeliversTheEnginesBytes)
{
    zrtest::Nv12Buffer frames[2] = {RandomFrame(320, 300, 3, 21), RandomFrame(288, 288, 0, 22)};
    zrtest::Recorder show;  // first, so that it outlives the dewarper's threads
    CZRFishEyeDewarper d(ZR_FE_INSTALL_WALL, 144, ZR_FE_VIEW_PANORAMA, 160, 97, 61, 2);
    zrfe::Engine e(ZR_FE_INSTALL_WALL, 144, ZR_FE_VIEW_PANORAMA, 160, 97, 61);
    d.SetShowCallBack(&show);
    auto setUp = [](auto& x) {
        x.SetSubViewNum(3);
        x.SetLineMask(0x3);
        for (int i = 0; i < 3; ++i)
            x.ZoomNormalView(5u * static_cast<unsigned int>(i), i);
    };
    setUp(d);
    setUp(e);
    for (int i = 0; i < 3; ++i)
        d.SetSubViewHwnd(reinterpret_cast<HWND>(static_cast<intptr_t>(i + 1)), i);
    d.Start();
    // Sub workers (made with two), OpenCV threads, the frame, which changes every time,
    // and the render mode, which the next frame takes up.
    const unsigned int runs[][4] = {{2, 1, 0, 0}, {2, 4, 1, 1}, {0, 1, 0, 1}, {0, 4, 1, 0}, {1, 4, 0, 1}, {2, 1, 1, 1}};
    for (const auto& run : runs) {
        d.SetSubWorkerNum(run[0]);
        CZRFishEyeDewarper::SetThreadNum(static_cast<int>(run[1]));
        const auto mode = static_cast<ENUM_ZR_FE_RENDER_MODE_E>(run[3]);
        ASSERT_EQ(d.SetRenderMode(mode) + e.SetRenderMode(mode), 0);
        show.Clear();
        ASSERT_TRUE(zrtest::Feed(d, show, &frames[run[2]].desc, 4));
        ASSERT_EQ(e.LoadFrame(frames[run[2]].desc), 0);
        int result = 0;
        for (int v = 0; v < 4; ++v) {
            CZRFrame* out = nullptr;
            d.GetFrame(out, v);
            EXPECT_TRUE(SamePlanes(zrtest::PlanesOf(out), v ? zrtest::RenderSub(e, v - 1, result) : zrtest::RenderMain(e, result)))
                << "view " << v << " with " << run[0] << " sub workers, " << run[1] << " OpenCV threads, mode " << run[3];
        }
    }
    d.Stop();
    CZRFishEyeDewarper::SetThreadNum(4);
}

const void* PanoramaMemory(const zrfe::Engine& e) { return e.Core().m_pPanoramaMap->Take().Table().taps.data; }
const void* SubViewMemory(const zrfe::Engine& e, int i)
{
    return e.Core().m_pNormalMap[static_cast<size_t>(i)]->Take().Table().taps.data;
}

// Engines of one geometry share their tables; a change on one builds its own copy
// and leaves the others' pictures as they were; the last engine frees them.
TEST(SharedTables, EnginesOfOneGeometryShareTablesUntilOneChanges)
{
    const size_t before = zrfe::SharedRemapTables().LiveCount();
    zrtest::Nv12Buffer frame = RandomFrame(320, 320, 0, 31);
    {
        std::unique_ptr<zrfe::Engine> engines[2];
        // Built at the same time on two threads: both end up with one set of tables.
        std::thread other([&] { engines[1].reset(new zrfe::Engine(ZR_FE_INSTALL_CEILING, 152, ZR_FE_VIEW_PANORAMA, 160, 96, 64)); });
        engines[0].reset(new zrfe::Engine(ZR_FE_INSTALL_CEILING, 152, ZR_FE_VIEW_PANORAMA, 160, 96, 64));
        other.join();
        zrfe::Engine& a = *engines[0];
        zrfe::Engine& b = *engines[1];
        for (zrfe::Engine* e : {&a, &b}) {
            e->SetSubViewNum(2);
            e->SetNormalY(30, 1);
            ASSERT_EQ(e->LoadFrame(frame.desc), 0);
        }
        EXPECT_EQ(PanoramaMemory(a), PanoramaMemory(b));
        EXPECT_EQ(SubViewMemory(a, 1), SubViewMemory(b, 1));
        EXPECT_EQ(a.Core().PointMap().get(), b.Core().PointMap().get());
        EXPECT_EQ(zrfe::SharedRemapTables().LiveCount(), before + 3) << "the panorama and two different sub views";

        // A new aim and a new radius on b: a keeps its tables and its bytes.
        const void* shared = SubViewMemory(a, 1);
        ASSERT_EQ(b.MoveNormalView(tag_ZR_FE_POINT_S{40, 30}, 1), 0);
        ASSERT_EQ(b.SetInstallMode(ZR_FE_INSTALL_CEILING, 144), 0);
        EXPECT_EQ(SubViewMemory(a, 1), shared);
        EXPECT_NE(SubViewMemory(b, 1), shared);
        EXPECT_NE(PanoramaMemory(a), PanoramaMemory(b));
        {
            // A table keeps only its fixed-point form; its float maps come back when
            // asked for, and give that same form.
            const ZRFishEyeMap& map = *b.Core().m_pNormalMap[1];
            ZRFishEyeMap::Lease lease = b.Core().m_pNormalMap[1]->Take();
            EXPECT_TRUE(lease.Table().mapX.empty() && lease.Table().mapY.empty());
            cv::Mat mapX, mapY, taps, fractions;
            map.FloatMaps(mapX, mapY);
            cv::convertMaps(mapX, mapY, taps, fractions, CV_16SC2);
            EXPECT_EQ(cv::norm(taps, lease.Table().taps, cv::NORM_INF), 0.0);
            EXPECT_EQ(cv::norm(fractions, lease.Table().fractions, cv::NORM_INF), 0.0);
        }
        ExpectEngineMatchesLiteral(a, zrtest::LiteralSource(frame.desc), "the engine left alone");
        ExpectEngineMatchesLiteral(b, zrtest::LiteralSource(frame.desc), "the engine changed");
    }
    EXPECT_EQ(zrfe::SharedRemapTables().LiveCount(), before) << "the last engine frees the tables";
}

}  // namespace

// A panorama point found for an original-view point converts back to that point,
// through every change of the panorama table after the first query: radius, mount
// and lens. (The point map is built when first asked for; a stale one fails here.)
TEST(PointConversion, PanoramaPointsFollowEveryTableChange)
{
    zrfe::Engine e(ZR_FE_INSTALL_CEILING, 200, ZR_FE_VIEW_PANORAMA, 256, 64, 48);
    const tag_ZRLENS equisolid{ZR_FE_LENS_EQUISOLID, 190.0f, {}};
    const std::function<int()> changes[] = {
        [&] { return 0; },
        [&] { return e.SetInstallMode(ZR_FE_INSTALL_CEILING, 232); },
        [&] { return e.SetInstallMode(ZR_FE_INSTALL_WALL, 232); },
        [&] { return e.SetLens(&equisolid); },
        [&] { return e.SetInstallMode(ZR_FE_INSTALL_GROUND, 232); },
        [&] { return e.SetLens(nullptr); },
    };
    for (size_t c = 0; c < sizeof changes / sizeof changes[0]; ++c) {
        ASSERT_EQ(changes[c](), 0) << "change " << c;
        int converted = 0;
        for (unsigned short y = 0; y < 220; y += 11)
            for (unsigned short x = 0; x < 460; x += 23) {
                tag_ZR_FE_POINT_S original{}, panorama{}, back{};
                if (e.GetOriginalPoint({x, y}, original) != 0 || (original.nX == 0 && original.nY == 0))
                    continue;
                ASSERT_EQ(e.GetPanoramaPoint(original, panorama), 0) << "change " << c;
                ASSERT_EQ(e.GetOriginalPoint(panorama, back), 0) << "change " << c;
                EXPECT_TRUE(back.nX == original.nX && back.nY == original.nY) << "change " << c;
                ++converted;
            }
        EXPECT_GT(converted, 100) << "change " << c;
    }
}
