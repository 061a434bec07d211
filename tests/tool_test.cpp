// The synthetic scene, the accuracy of the dewarper against its ground truth,
// and the zrfisheye program.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "TestSupport.h"
#include "scene/FisheyeScene.h"

namespace {

namespace fs = std::filesystem;
using zrscene::Vec3;

fs::path TempDir(const std::string& name)
{
    const fs::path dir = fs::temp_directory_path() / ("zrfisheye_tool_" + std::to_string(::getpid())) / name;
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

struct Result {
    int status;
    std::string out, err;
};

Result RunTool(const std::string& args)
{
    const fs::path dir = TempDir("run");
    const std::string cmd = std::string(ZRFISHEYE_TOOL) + " " + args + " >" + (dir / "out").string() + " 2>" +
                            (dir / "err").string();
    const int rc = std::system(cmd.c_str());
    auto slurp = [](const fs::path& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(dir / "out"), slurp(dir / "err")};
}

double LumaPsnr(const cv::Mat& bgrA, const cv::Mat& bgrB)
{
    cv::Mat a, b;
    cv::cvtColor(bgrA, a, cv::COLOR_BGR2GRAY);
    cv::cvtColor(bgrB, b, cv::COLOR_BGR2GRAY);
    return cv::PSNR(a, b);
}

TEST(SceneTest, ScenePointsLandWhereTheEquidistantLensPutsThem)
{
    // Where a point lands in a 512-pixel picture; (-1, -1) behind the lens.
    auto land = [](ENUM_ZR_FE_INSTALL_MODE_E mode, const Vec3& p) {
        double px = 0, py = 0;
        return zrscene::ProjectToFisheye(mode, p, 512, px, py) ? cv::Point2d(px, py) : cv::Point2d(-1, -1);
    };
    EXPECT_LT(cv::norm(land(ZR_FE_INSTALL_CEILING, Vec3{0, 0, 0}) - cv::Point2d(256, 256)), 1e-6) << "straight below";
    // 3 m east on the floor, 3 m below the lens: 45 degrees off the axis, half way to the rim, to the right.
    const cv::Point2d east = land(ZR_FE_INSTALL_CEILING, Vec3{3, 0, 0});
    EXPECT_TRUE(std::abs(east.x - 384) < 0.1 && std::abs(east.y - 256) < 1e-6) << east;
    EXPECT_EQ(land(ZR_FE_INSTALL_GROUND, Vec3{3, 0, -1}), cv::Point2d(-1, -1)) << "behind the floor camera";
    EXPECT_LT(cv::norm(land(ZR_FE_INSTALL_WALL, Vec3{0, 4, 1.5}) - cv::Point2d(256, 256)), 1e-6) << "the north wall's middle";

    // The rendered picture carries the colour of the surface where the formula lands:
    // a floor tile centre 45 degrees off the axis.
    const cv::Mat picture = zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 512);
    const cv::Point2d tile = land(ZR_FE_INSTALL_CEILING, Vec3{2.75, 0.25, 0});
    const double d = 1 / std::sqrt(2.75 * 2.75 + 0.25 * 0.25 + 3.0 * 3.0);
    const cv::Vec3b expected = zrscene::TraceColour(ZR_FE_INSTALL_CEILING, Vec3{2.75 * d, 0.25 * d, -3.0 * d});
    EXPECT_EQ(picture.at<cv::Vec3b>(static_cast<int>(std::lround(tile.y)), static_cast<int>(std::lround(tile.x))), expected);
    EXPECT_EQ(picture.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0)) << "outside the circle";
}

// Runs one wall frame through the dewarper and returns the main and first sub view (BGR).
struct WallRun {
    cv::Mat panorama, sub;
    tag_ZR_FE_WALL_VIEW_S window;
    tag_ZR_FE_NORMAL_VIEW_S view;
    unsigned int halfSize;
};

WallRun RunWall(int side, int r, int subW, int subH)
{
    const cv::Mat scene = zrscene::RenderFisheye(ZR_FE_INSTALL_WALL, side);
    zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(scene);
    tag_ZRFRAME frame = nv12.Descriptor();
    CZRFishEyeDewarper d(ZR_FE_INSTALL_WALL, r, ZR_FE_VIEW_PANORAMA, side / 2, subW, subH, 1);
    zrtest::Recorder show;
    d.SetShowCallBack(&show);
    d.SetSubViewNum(1);
    d.SetSubViewHwnd(reinterpret_cast<HWND>(1), 0);
    tag_ZR_FE_NORMAL_VIEW_S v;
    d.GetNormalParam(v, 0);
    v.fPan = -v.fFovHor / 2;  // looking along the lens axis, at the middle of the north wall
    v.fTilt = -v.fFovVer / 2;
    d.SetNormalView(v, 0);
    d.Start();
    zrtest::Feed(d, show, &frame, 2);
    d.Stop();
    WallRun run;
    CZRFrame* frm = nullptr;
    d.GetFrame(frm, 0);
    run.panorama = zrscene::PacketToBgr(frm->GetPicture());
    d.GetFrame(frm, 1);
    run.sub = zrscene::PacketToBgr(frm->GetPicture());
    run.window = d.GetWallParam();
    d.GetNormalParam(run.view, 0);
    run.halfSize = (static_cast<unsigned int>(r) >> 3) * 9;
    return run;
}

TEST(AccuracyTest, WallPanoramaAndCentreSubViewMatchTheSceneGroundTruth)
{
    const WallRun run = RunWall(1024, 512, 320, 240);
    ASSERT_FALSE(run.panorama.empty());
    ASSERT_FALSE(run.sub.empty());

    // The panorama window against the scene's longitude/latitude picture over the same grid.
    const cv::Rect window(run.window.uStartX, run.window.uStartY, run.window.uWidth, run.window.uHeight);
    const cv::Mat truth = zrscene::RenderLongLat(ZR_FE_INSTALL_WALL, 2 * run.halfSize, window);
    ASSERT_EQ(truth.size(), run.panorama.size());
    const double psnr = LumaPsnr(run.panorama, truth);
    cv::Mat mirrored;
    cv::flip(truth, mirrored, 1);
    const double wrong = LumaPsnr(run.panorama, mirrored);
    // The bar: the picture passes two bilinear resamplings (1024 to 1152, then the remap),
    // which blur the scene's hard black lines and checker edges by about a pixel and move
    // the circle's centre by half a pixel; with that the luma PSNR measures 28 dB. 24 dB
    // leaves room for a different bilinear rounding, while a mapping off by a couple of
    // pixels falls below it, and the left-right mirror image (printed) scores about 8 dB.
    std::printf("wall panorama luma PSNR %.2f dB (mirrored truth %.2f dB)\n", psnr, wrong);
    EXPECT_GT(psnr, 24.0);
    EXPECT_LT(wrong, 15.0);

    // The sub view is a pinhole camera on a vertical plane facing the lens axis: columns at
    // tan steps of 2 tan(fovH / 2) / (W - 1) from column W / 2, rows from t0 to t1.
    const tag_ZR_FE_NORMAL_VIEW_S& v = run.view;
    const int W = run.sub.cols, H = run.sub.rows;
    const double halfFov = v.fFovHor * 0.5, T = 2 * std::tan(halfFov);
    const double t0 = std::tan(v.fTilt) / std::cos(halfFov), t1 = std::tan(v.fFovVer + v.fTilt) / std::cos(halfFov);
    zrscene::Pinhole cam{{0, 0, 1}, {0, 1, 0}, (W - 1) / T, (H - 1) / (t1 - t0), W / 2.0, -t0 * (H - 1) / (t1 - t0), W, H};
    const cv::Mat perspective = zrscene::RenderPerspective(ZR_FE_INSTALL_WALL, cam);
    const double subPsnr = LumaPsnr(run.sub, perspective);
    std::printf("wall sub view luma PSNR %.2f dB\n", subPsnr);
    EXPECT_GT(subPsnr, 24.0);  // measured 27 dB; the same bar as the panorama
}

// The column of the darkest pixel near x0 in each row of a luma picture, to a tenth of a pixel.
double DarkestNear(const cv::Mat& gray, int row, double x0, int reach)
{
    int best = -1;
    for (int x = std::max(1, static_cast<int>(x0) - reach); x < std::min(gray.cols - 1, static_cast<int>(x0) + reach); ++x)
        if (best < 0 || gray.at<uchar>(row, x) < gray.at<uchar>(row, best))
            best = x;
    // Parabola through the minimum and its neighbours.
    const double a = gray.at<uchar>(row, best - 1), b = gray.at<uchar>(row, best), c = gray.at<uchar>(row, best + 1);
    const double denom = a - 2 * b + c;
    return best + (denom > 0 ? 0.5 * (a - c) / denom : 0.0);
}

TEST(AccuracyTest, StraightWallLinesStayStraightInAWallSubView)
{
    const WallRun run = RunWall(1024, 512, 640, 480);
    cv::Mat gray;
    cv::cvtColor(run.sub, gray, cv::COLOR_BGR2GRAY);
    // The north wall fills rows 165 to 315 and columns 160 to 480 of this view, with its
    // numbers near row 228. Take the wall's first vertical line right of the centre below
    // the numbers, follow it down to the floor and fit x = a y + b.
    int start = gray.cols / 2 + 5;
    while (start < gray.cols && gray.at<uchar>(260, start) > 60)
        ++start;
    ASSERT_LT(start, gray.cols);
    std::vector<cv::Point2f> pts;
    double x = start;
    for (int row = 250; row <= 310; ++row) {
        // Rows on one of the wall's horizontal lines are dark across: nothing to locate there.
        const cv::Mat span = gray.row(row).colRange(static_cast<int>(x) - 6, static_cast<int>(x) + 7);
        double lo, hi;
        cv::minMaxLoc(span, &lo, &hi);
        if (hi - lo < 60)
            continue;
        x = DarkestNear(gray, row, x, 3);
        pts.emplace_back(static_cast<float>(row), static_cast<float>(x));
    }
    ASSERT_GT(pts.size(), 40u);
    cv::Vec4f line;
    cv::fitLine(pts, line, cv::DIST_L2, 0, 0.01, 0.01);
    double worst = 0;
    for (const auto& p : pts) {
        // Distance of (row, x) from the fitted line.
        const double dx = p.x - line[2], dy = p.y - line[3];
        worst = std::max(worst, std::abs(dx * line[1] - dy * line[0]));
    }
    std::printf("vertical wall line: slope %.4f, worst residual %.3f px\n", line[1] / line[0], worst);
    EXPECT_LT(worst, 1.0);
    EXPECT_LT(std::abs(line[1] / line[0]), 0.01) << "columns keep one horizontal angle: vertical stays vertical";
}

std::vector<std::pair<std::string, cv::Size>> Announced(const std::string& out)
{
    std::vector<std::pair<std::string, cv::Size>> files;
    const std::regex wrote(R"(wrote (\S+) (\d+)x(\d+))");
    for (std::sregex_iterator m(out.begin(), out.end(), wrote), end; m != end; ++m)
        files.push_back({(*m)[1], cv::Size(std::stoi((*m)[2]), std::stoi((*m)[3]))});
    return files;
}

TEST(ToolTest, DemoWritesEveryFileItAnnounces)
{
    const fs::path dir = TempDir("demo");
    const Result r = RunTool("demo --size 512 --out " + dir.string());
    ASSERT_EQ(r.status, 0) << r.err;
    const auto files = Announced(r.out);
    // Per mount: the fisheye, three (wall: two) main views, four sub views and a contact sheet.
    EXPECT_EQ(files.size(), 3u * 9u - 1u);
    for (const auto& f : files) {
        const cv::Mat picture = cv::imread(f.first);
        ASSERT_FALSE(picture.empty()) << f.first;
        EXPECT_EQ(picture.size(), f.second) << f.first;
    }
    EXPECT_TRUE(fs::exists(dir / "wall" / "contact-sheet.png"));
}

TEST(ToolTest, DewarpTurnsAVideoIntoOneVideoPerView)
{
    const fs::path dir = TempDir("video");
    const std::string input = (dir / "input.avi").string();
    {
        cv::VideoWriter writer(input, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, cv::Size(320, 256));
        ASSERT_TRUE(writer.isOpened());
        const cv::Mat scene = zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 256);
        for (int i = 0; i < 6; ++i) {
            cv::Mat frame(256, 320, CV_8UC3, cv::Scalar(i * 20, 0, 0));
            scene.copyTo(frame(cv::Rect(32, 0, 256, 256)));
            writer.write(frame);
        }
    }
    const Result r = RunTool("dewarp " + input + " --subviews 2 --subview-size 160x90 --zoom 1=15 --out " +
                             (dir / "out").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("centred 256x256 square"), std::string::npos) << r.err;
    for (const char* name : {"main.avi", "sub0.avi", "sub1.avi"}) {
        cv::VideoCapture out((dir / "out" / name).string());
        ASSERT_TRUE(out.isOpened()) << name;
        int frames = 0;
        cv::Mat f;
        while (out.read(f))
            ++frames;
        EXPECT_EQ(frames, 6) << name;
    }
}

TEST(ToolTest, DewarpOfAPictureWritesOnePngPerViewInEitherMode)
{
    const fs::path dir = TempDir("image");
    const std::string input = (dir / "in.png").string();
    ASSERT_TRUE(cv::imwrite(input, zrscene::RenderFisheye(ZR_FE_INSTALL_WALL, 512)));
    // Exact and fast: the same pictures in size, close in content.
    cv::Mat views[2][2];
    for (const char* mode : {"", " --fast"}) {
        const fs::path out = dir / (*mode ? "fast" : "exact");
        const Result r = RunTool("dewarp " + input + " --mount wall --subviews 1 --angles 0=-0.5,-0.2" + mode +
                                 " --out " + out.string());
        ASSERT_EQ(r.status, 0) << r.err;
        cv::Mat* v = views[*mode ? 1 : 0];
        v[0] = cv::imread((out / "main.png").string());
        v[1] = cv::imread((out / "sub0.png").string());
        EXPECT_EQ(v[0].size(), cv::Size(512, 352));
        EXPECT_EQ(v[1].size(), cv::Size(640, 360));
    }
    EXPECT_GT(LumaPsnr(views[0][0], views[1][0]), 30.0) << "fast main view";
    EXPECT_GT(LumaPsnr(views[0][1], views[1][1]), 30.0) << "fast sub view";
}

TEST(ToolTest, MistakesEndWithOneLineAndStatusTwo)
{
    const fs::path dir = TempDir("errors");
    const std::string text = (dir / "notes.txt").string();
    std::ofstream(text) << "not a picture";
    const std::string picture = (dir / "in.png").string();
    ASSERT_TRUE(cv::imwrite(picture, zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 128)));
    std::vector<std::string> cases = {"", "frobnicate", "dewarp", "dewarp " + (dir / "missing.png").string(),
                                      "dewarp " + text, "scene --mount wall --size 64"};
    for (const char* option : {"--radius 400", "--mount sideways", "--subviews 9", "--zoom 3=5", "--bogus", "--angle"})
        cases.push_back("dewarp " + picture + " " + option);
    for (const std::string& args : cases) {
        const Result r = RunTool(args + " --out " + (dir / "o").string());
        EXPECT_EQ(r.status, 2) << "'" << args << "': " << r.err;
        EXPECT_FALSE(r.err.empty()) << args;
        EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), args.empty() ? 10 : 1) << args << ": " << r.err;
    }
    EXPECT_EQ(RunTool("dewarp --help").status, 0);
    EXPECT_EQ(RunTool("scene --mount wall --size 64 --out " + (dir / "s.png").string()).status, 0);
}

}  // namespace
