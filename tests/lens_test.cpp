// Lenses: the synthetic room rendered through each lens model, dewarped with that
// lens, gives true perspective sub views, the same views whatever the lens, and a
// click that aims where the lens put the object; refused lenses change nothing.
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/calib3d.hpp>
#include <opencv2/imgproc.hpp>

#include "LiteralComposition.h"
#include "ZRFishEyeEngine.h"
#include "geometry/LensGeometry.h"
#include "scene/FisheyeScene.h"

namespace {

const int kSide = 1600;               // the fisheye frame: lens circle of radius 800
const unsigned int kRadius = 752;     // the main view's circle (half size 799)
const int kViewWidth = 960, kViewHeight = 720;

tag_ZRLENS Lens(ENUM_ZR_FE_LENS_E model, float fov, double k1 = 0, double k2 = 0, double k3 = 0, double k4 = 0)
{
    tag_ZRLENS lens{};
    lens.eModel = model;
    lens.fFieldOfView = fov;
    lens.dK[0] = k1;
    lens.dK[1] = k2;
    lens.dK[2] = k3;
    lens.dK[3] = k4;
    return lens;
}

// One lens of each model, as real cameras have them; the polynomial is a
// calibrated-looking equisolid-like design (radius rising to 200 degrees).
struct NamedLens {
    const char* name;
    tag_ZRLENS lens;
};
const NamedLens kLenses[] = {
    {"equidistant 180", Lens(ZR_FE_LENS_EQUIDISTANT, 180)},
    {"equisolid 190", Lens(ZR_FE_LENS_EQUISOLID, 190)},
    {"stereographic 200", Lens(ZR_FE_LENS_STEREOGRAPHIC, 200)},
    {"orthographic 170", Lens(ZR_FE_LENS_ORTHOGRAPHIC, 170)},
    {"polynomial 200", Lens(ZR_FE_LENS_POLYNOMIAL, 200, -0.04, 0.003, -0.0002, 0.00001)},
};

// A calibration board of 8 x 6 squares (7 x 5 inner corners) with a white
// margin one square wide, on a plane otherwise mid grey: centre, the directions of
// its rows and columns, and the square's side in metres.
struct Board {
    zrscene::Vec3 centre, across, down;
    double square;
};
const int kBoardCols = 7, kBoardRows = 5;  // inner corners

zrscene::Vec3 Minus(const zrscene::Vec3& a, const zrscene::Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double Dot(const zrscene::Vec3& a, const zrscene::Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
zrscene::Vec3 Cross(const zrscene::Vec3& a, const zrscene::Vec3& b)
{
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

cv::Mat RenderBoard(ENUM_ZR_FE_INSTALL_MODE_E mount, const Board& b, const tag_ZRLENS& lens)
{
    const zrscene::Vec3 eye = zrscene::CameraPosition(mount);
    const zrscene::Vec3 normal = Cross(b.across, b.down);
    return zrscene::RenderFisheyeOf(mount, kSide, lens, [&](const zrscene::Vec3& dir) {
        const cv::Vec3b grey(128, 128, 128), white(235, 235, 235), black(20, 20, 20);
        const double t = Dot(Minus(b.centre, eye), normal) / Dot(dir, normal);
        if (!(t > 0))
            return grey;
        const zrscene::Vec3 hit{eye.x + t * dir.x, eye.y + t * dir.y, eye.z + t * dir.z};
        const zrscene::Vec3 p = Minus(hit, b.centre);
        const double u = Dot(p, b.across) / b.square + (kBoardCols + 1) / 2.0;
        const double v = Dot(p, b.down) / b.square + (kBoardRows + 1) / 2.0;
        if (u < -1 || v < -1 || u >= kBoardCols + 2 || v >= kBoardRows + 2)
            return grey;
        if (u < 0 || v < 0 || u >= kBoardCols + 1 || v >= kBoardRows + 1)
            return white;
        return (static_cast<int>(u) + static_cast<int>(v)) % 2 ? black : white;
    });
}

// The board's inner corners found in a sub view, and how far they are from a
// homography of the board's grid: RMS, pixels. Empty when the board is not found.
struct BoardFit {
    std::vector<cv::Point2f> corners;
    double residual = -1;
};
BoardFit FitBoard(const cv::Mat& luma)
{
    BoardFit fit;
    std::vector<cv::Point2f> corners;
    if (!cv::findChessboardCorners(luma, cv::Size(kBoardCols, kBoardRows), corners))
        return fit;
    cv::cornerSubPix(luma, corners, cv::Size(9, 9), cv::Size(-1, -1),
                     cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 100, 0.001));
    std::vector<cv::Point2f> grid;
    for (int r = 0; r < kBoardRows; ++r)
        for (int c = 0; c < kBoardCols; ++c)
            grid.emplace_back(static_cast<float>(c), static_cast<float>(r));
    const cv::Mat H = cv::findHomography(grid, corners, 0);
    std::vector<cv::Point2f> mapped;
    cv::perspectiveTransform(grid, mapped, H);
    double sum = 0;
    for (size_t i = 0; i < corners.size(); ++i) {
        const cv::Point2f d = mapped[i] - corners[i];
        sum += d.dot(d);
    }
    fit.corners = corners;
    fit.residual = std::sqrt(sum / static_cast<double>(corners.size()));
    return fit;
}

// An engine for the mount and lens, showing the panorama, with one sub view
// aimed by a click on the panorama where the board's centre appears.
struct Aimed {
    std::unique_ptr<zrfe::Engine> engine;
    int aimResult = -1;
};
Aimed AimAtBoard(ENUM_ZR_FE_INSTALL_MODE_E mount, const tag_ZRLENS* lens, const tag_ZRLENS& cameraLens,
                 const Board& b)
{
    Aimed a;
    a.engine.reset(new zrfe::Engine(mount, kRadius, ZR_FE_VIEW_PANORAMA, kSide / 2, kViewWidth, kViewHeight));
    zrfe::Engine& e = *a.engine;
    EXPECT_EQ(e.SetLens(lens), 0);
    e.SetSubViewNum(1);
    e.ZoomNormalView(mount == ZR_FE_INSTALL_WALL ? 10 : 4, 0);
    double px = 0, py = 0;
    EXPECT_TRUE(zrscene::ProjectToFisheye(mount, b.centre, kSide, px, py, cameraLens));
    // The frame's circle into the original view: scaled to the working image,
    // then (floor and ceiling) cut to the main view's circle.
    const double s = zrfe::HalfSizeFor(mount, kRadius), R = kSide / 2.0;
    const double cut = mount == ZR_FE_INSTALL_WALL ? 0.0 : s - kRadius;
    const long ox = std::lround(px * s / R - cut), oy = std::lround(py * s / R - cut);
    // Where a lens spreads the circle, not every pixel is some panorama pixel's
    // sample: click the panorama pixel of the nearest one that is.
    tag_ZR_FE_POINT_S panorama{};
    int found = -1;
    for (int step = 0; step < 9 && found != 0; ++step) {
        const tag_ZR_FE_POINT_S original{static_cast<unsigned short>(ox + step % 3 - 1 + (step == 0)),
                                         static_cast<unsigned short>(oy + step / 3 - 1 + (step == 0))};
        found = e.GetPanoramaPoint(original, panorama);
    }
    EXPECT_EQ(found, 0);
    a.aimResult = e.MoveNormalView(panorama, 0);
    return a;
}

Board BoardFor(ENUM_ZR_FE_INSTALL_MODE_E mount)
{
    switch (mount) {
    case ZR_FE_INSTALL_CEILING: return {{2.4, 1.5, 0.0}, {1, 0, 0}, {0, 1, 0}, 0.25};
    case ZR_FE_INSTALL_GROUND: return {{2.4, 1.5, 3.0}, {1, 0, 0}, {0, 1, 0}, 0.25};
    default: return {{1.8, -1.0, 2.1}, {1, 0, 0}, {0, 0, -1}, 0.2};  // upright, 3 m ahead
    }
}

}  // namespace

// Through each lens model and mount, a sub view aimed by a click on the panorama
// is a perspective picture with the clicked object at its centre: the board's
// corners lie on a homography up to detection noise, and its centre corner sits
// in the middle of the view. The built-in lens seeing an equisolid 190-degree
// camera bends the board by pixels and aims beside it.
TEST(LensTest, ClickedSubViewsAreTruePerspectivePicturesThroughEveryModel)
{
    const double kNoise = 0.25;           // corner detection on a rendered board, pixels
    const double kAimTolerance = 0.01;    // of the view's width
    struct Case {
        ENUM_ZR_FE_INSTALL_MODE_E mount;
        const NamedLens& lens;
    };
    const Case cases[] = {{ZR_FE_INSTALL_CEILING, kLenses[1]}, {ZR_FE_INSTALL_CEILING, kLenses[4]},
                          {ZR_FE_INSTALL_GROUND, kLenses[2]},  {ZR_FE_INSTALL_GROUND, kLenses[3]},
                          {ZR_FE_INSTALL_WALL, kLenses[0]},    {ZR_FE_INSTALL_WALL, kLenses[1]}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << zrscene::MountName(c.mount) << ", " << c.lens.name);
        const Board board = BoardFor(c.mount);
        const zrscene::Nv12Picture frame = zrscene::BgrToNv12(RenderBoard(c.mount, board, c.lens.lens));
        for (const bool builtin : {false, true}) {
            if (builtin && (c.lens.lens.eModel != ZR_FE_LENS_EQUISOLID || c.mount != ZR_FE_INSTALL_CEILING))
                continue;
            Aimed a = AimAtBoard(c.mount, builtin ? nullptr : &c.lens.lens, c.lens.lens, board);
            ASSERT_EQ(a.aimResult, 0);
            zrscene::Nv12Picture f = frame;
            ASSERT_EQ(a.engine->LoadFrame(f.Descriptor()), 0);
            int result = -1;
            const zrtest::Planes view = zrtest::RenderSub(*a.engine, 0, result);
            ASSERT_EQ(result, 0);
            const BoardFit fit = FitBoard(view.y);
            const cv::Point2f middle(kViewWidth / 2.0f, kViewHeight / 2.0f);
            // A wall view aimed by a click keeps the clicked row's elevation at its side
            // edges, not at its centre, so only its column is held to the click there.
            cv::Point2f miss = fit.corners.empty() ? cv::Point2f() : fit.corners[fit.corners.size() / 2] - middle;
            if (c.mount == ZR_FE_INSTALL_WALL)
                miss.y = 0;
            const double aimError = fit.corners.empty() ? -1 : cv::norm(miss) / kViewWidth;
            if (builtin) {
                EXPECT_TRUE(fit.corners.empty() || fit.residual > 1.0 || aimError > kAimTolerance)
                    << "the built-in lens should not fit this camera";
                continue;
            }
            ASSERT_FALSE(fit.corners.empty()) << "no board in the sub view";
            EXPECT_LE(fit.residual, kNoise);
            EXPECT_LE(aimError, kAimTolerance);
        }
    }
}

// One room through different lenses, each dewarped with its own lens, gives the
// same panorama and sub view as through the scene's reference lens; dewarped
// with the built-in lens instead, an equisolid camera's panorama is another picture.
TEST(LensTest, TheSameRoomThroughAnyLensGivesTheSameViews)
{
    // Luma PSNR against the reference lens. Measured: 33.3 to 35.9 dB with the
    // right lens (each lens resamples the room differently), 12.0 dB for the
    // panorama through the wrong one.
    const double kSameView = 30.0;
    const double kOtherView = 20.0;
    struct Result {
        zrtest::Planes main, sub;
    };
    auto dewarp = [](const tag_ZRLENS& camera, const tag_ZRLENS* lens) {
        zrfe::Engine e(ZR_FE_INSTALL_CEILING, kRadius, ZR_FE_VIEW_PANORAMA, kSide / 2, kViewWidth, kViewHeight);
        EXPECT_EQ(e.SetLens(lens), 0);
        e.SetSubViewNum(1);
        e.SetNormalY(45, 0);
        e.SetNormalZ(100, 0);
        zrscene::Nv12Picture frame = zrscene::BgrToNv12(zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, kSide, camera));
        EXPECT_EQ(e.LoadFrame(frame.Descriptor()), 0);
        Result r;
        int result = -1;
        r.main = zrtest::RenderMain(e, result);
        EXPECT_EQ(result, 0);
        r.sub = zrtest::RenderSub(e, 0, result);
        EXPECT_EQ(result, 0);
        return r;
    };
    const Result reference = dewarp(kLenses[0].lens, &kLenses[0].lens);
    for (const NamedLens* l : {&kLenses[1], &kLenses[2], &kLenses[4]}) {
        SCOPED_TRACE(l->name);
        const Result r = dewarp(l->lens, &l->lens);
        EXPECT_GE(cv::PSNR(r.main.y, reference.main.y), kSameView);
        EXPECT_GE(cv::PSNR(r.sub.y, reference.sub.y), kSameView);
    }
    const Result wrong = dewarp(kLenses[1].lens, nullptr);
    EXPECT_LT(cv::PSNR(wrong.main.y, reference.main.y), kOtherView);
}

// A refused lens answers -1 and changes nothing: the lens read back, every view's
// bytes. Going back to the built-in lens gives its bytes again, and an engine of
// the same geometry that keeps the built-in lens never sees another's lens.
TEST(LensTest, RefusedLensesChangeNothingAndTheBuiltInLensComesBack)
{
    const double kInf = std::numeric_limits<double>::infinity();
    const tag_ZRLENS refused[] = {
        Lens(static_cast<ENUM_ZR_FE_LENS_E>(6), 180),
        Lens(static_cast<ENUM_ZR_FE_LENS_E>(-1), 180),
        Lens(ZR_FE_LENS_EQUIDISTANT, 0),
        Lens(ZR_FE_LENS_EQUIDISTANT, -10),
        Lens(ZR_FE_LENS_EQUISOLID, 330.5f),
        Lens(ZR_FE_LENS_EQUIDISTANT, std::numeric_limits<float>::quiet_NaN()),
        Lens(ZR_FE_LENS_STEREOGRAPHIC, std::numeric_limits<float>::infinity()),
        Lens(ZR_FE_LENS_ORTHOGRAPHIC, 180.5f),
        Lens(ZR_FE_LENS_POLYNOMIAL, 200, -0.5),          // turns back before the rim
        Lens(ZR_FE_LENS_POLYNOMIAL, 190, 0, 0, 0, kInf),  // not finite
    };
    for (const ENUM_ZR_FE_INSTALL_MODE_E mount : {ZR_FE_INSTALL_CEILING, ZR_FE_INSTALL_WALL}) {
        SCOPED_TRACE(zrscene::MountName(mount));
        zrscene::Nv12Picture frame = zrscene::BgrToNv12(zrscene::RenderFisheye(mount, 512));
        auto render = [&](zrfe::Engine& e) {
            EXPECT_EQ(e.LoadFrame(frame.Descriptor()), 0);
            int result = -1;
            std::vector<zrtest::Planes> views{zrtest::RenderMain(e, result)};
            for (int i = 0; i < e.GetSubViewNum(); ++i)
                views.push_back(zrtest::RenderSub(e, i, result));
            return views;
        };
        auto same = [](const std::vector<zrtest::Planes>& a, const std::vector<zrtest::Planes>& b) {
            for (size_t i = 0; i < a.size(); ++i)
                if (!zrtest::SamePlanes(a[i], b[i]))
                    return false;
            return a.size() == b.size();
        };
        auto make = [&] {
            std::unique_ptr<zrfe::Engine> e(new zrfe::Engine(mount, 240, ZR_FE_VIEW_PANORAMA, 256, 160, 120));
            e->SetSubViewNum(2);
            e->SetNormalY(40, 1);
            return e;
        };
        auto keeper = make();  // never given a lens
        const std::vector<zrtest::Planes> builtin = render(*keeper);

        auto e = make();
        const tag_ZRLENS equisolid = kLenses[1].lens;
        ASSERT_EQ(e->SetLens(&equisolid), 0);
        const std::vector<zrtest::Planes> withLens = render(*e);
        EXPECT_FALSE(same(withLens, builtin));
        for (const tag_ZRLENS& bad : refused) {
            SCOPED_TRACE(testing::Message() << "model " << bad.eModel << " fov " << bad.fFieldOfView);
            EXPECT_EQ(e->SetLens(&bad), -1);
            tag_ZRLENS now{};
            ASSERT_EQ(e->GetLens(&now), 0);
            EXPECT_EQ(now.eModel, ZR_FE_LENS_EQUISOLID);
            EXPECT_EQ(now.fFieldOfView, equisolid.fFieldOfView);
        }
        EXPECT_TRUE(same(render(*e), withLens));
        EXPECT_EQ(e->GetLens(nullptr), -1);

        ASSERT_EQ(e->SetLens(nullptr), 0);
        tag_ZRLENS now{};
        ASSERT_EQ(e->GetLens(&now), 0);
        EXPECT_EQ(now.eModel, ZR_FE_LENS_BUILTIN);
        EXPECT_TRUE(same(render(*e), builtin));
        EXPECT_TRUE(same(render(*keeper), builtin));
    }
}
