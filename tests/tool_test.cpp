// The synthetic scene, the accuracy of the dewarper against its ground truth,
// and the zrfisheye program.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <thread>

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

TEST(ToolTest, DewarpOfAPictureWritesOnePngPerView)
{
    const fs::path dir = TempDir("image");
    const std::string input = (dir / "in.png").string();
    ASSERT_TRUE(cv::imwrite(input, zrscene::RenderFisheye(ZR_FE_INSTALL_WALL, 512)));
    const Result r = RunTool("dewarp " + input + " --mount wall --subviews 1 --angles 0=-0.5,-0.2 --out " +
                             (dir / "out").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(cv::imread((dir / "out" / "main.png").string()).size(), cv::Size(512, 352));
    EXPECT_EQ(cv::imread((dir / "out" / "sub0.png").string()).size(), cv::Size(640, 360));
}

TEST(ToolTest, MistakesEndWithOneLineAndStatusTwo)
{
    const fs::path dir = TempDir("errors");
    const std::string text = (dir / "notes.txt").string();
    std::ofstream(text) << "not a picture";
    const std::string picture = (dir / "in.png").string();
    ASSERT_TRUE(cv::imwrite(picture, zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 128)));
    std::vector<std::string> cases = {"", "frobnicate", "dewarp", "dewarp " + (dir / "missing.png").string(),
                                      "dewarp " + text, "scene --mount wall --size 64", "view",
                                      "view " + (dir / "missing.avi").string(), "view " + picture + " --width 5"};
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

// A child process with its output in files; stopped if it is still running when dropped
// (asked first, so that an X server removes its socket and lock file).
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::string& display, const fs::path& out, const fs::path& err)
    {
        m_pid = fork();
        if (m_pid == 0) {
            if (display.empty())
                unsetenv("DISPLAY");
            else
                setenv("DISPLAY", display.c_str(), 1);
            const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(o, 1);
            dup2(e, 2);
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            execvp(args[0], args.data());
            _exit(127);
        }
    }
    ~Child()
    {
        if (m_pid <= 0 || m_done)
            return;
        kill(m_pid, SIGTERM);
        if (Wait(std::chrono::seconds(3)) == -1 && !m_done) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    // The exit status, or -1 when it has not ended within the time (or died of a signal).
    int Wait(std::chrono::milliseconds limit)
    {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!m_done && std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_done = true;
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        return m_done ? m_status : -1;
    }

private:
    pid_t m_pid = -1;
    bool m_done = false;
    int m_status = -1;
};

// An X server of the test's own on a display number that Xvfb picks free.
class VirtualDisplay {
public:
    explicit VirtualDisplay(const fs::path& dir)
    {
        int fds[2];
        if (pipe(fds) != 0)
            return;
        m_server.reset(new Child({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                                  "-nolisten", "tcp"},
                                 "", dir / "xvfb.out", dir / "xvfb.err"));
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, kStartMs) == 1 && read(fds[0], &c, 1) == 1 && c != '\n')
            number += c;
        close(fds[0]);
        if (!number.empty())
            m_name = ":" + number;
    }
    const std::string& Name() const { return m_name; }

private:
    static const int kStartMs = 10000;
    std::unique_ptr<Child> m_server;
    std::string m_name;
};

std::string Slurp(const fs::path& p)
{
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

size_t Count(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

cv::Scalar PatchMean(const cv::Mat& picture, cv::Point centre, int half)
{
    const cv::Rect patch = cv::Rect(centre.x - half, centre.y - half, 2 * half + 1, 2 * half + 1) &
                           cv::Rect(0, 0, picture.cols, picture.rows);
    return cv::mean(picture(patch));
}

TEST(ViewerTest, ClicksAndTheWheelAimAndZoomTheSubViewsThatSnapshotsRecord)
{
    const fs::path dir = TempDir("view");
    const std::string input = (dir / "room.avi").string();
    {
        cv::VideoWriter writer(input, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, cv::Size(384, 384));
        ASSERT_TRUE(writer.isOpened());
        const cv::Mat scene = zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 384);
        for (int i = 0; i < 10; ++i)
            writer.write(scene);
    }
    VirtualDisplay display(dir);
    ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start: " << Slurp(dir / "xvfb.err");
    const std::string x = "DISPLAY=" + display.Name() + " ";
    const int width = 800;
    const cv::Size sub(240, 160);
    const fs::path out = dir / "out", err = dir / "err";
    Child viewer({ZRFISHEYE_TOOL, "view", input, "--loop", "--subviews", "2", "--subview-size", "240x160", "--zoom",
                  "0=20", "--width", std::to_string(width), "--out", (dir / "snaps").string()},
                 display.Name(), out, err);

    const std::string found = (dir / "window").string();
    const std::string search = x + "timeout 20 xdotool search --sync --name '^zrfisheye$' >" + found + " 2>/dev/null";
    ASSERT_EQ(std::system(search.c_str()), 0)
        << Slurp(err);
    std::string window = Slurp(found);
    window = window.substr(0, window.find('\n'));
    auto xdo = [&](const std::string& args) {
        return std::system((x + "xdotool " + args + " >/dev/null 2>&1").c_str());
    };
    // Every press of s is answered with one line: the file saved, or no picture yet before the
    // first frame; so press, wait for the answer, and press again until one is saved. A press
    // that a loaded machine leaves unanswered for long is repeated. The whole conversation ends
    // within the test's time.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    const std::chrono::seconds answerWait(5);
    auto saved = [&] {
        std::vector<std::string> paths;
        const std::string text = Slurp(out);
        const std::regex line(R"(saved (\S+))");
        for (std::sregex_iterator m(text.begin(), text.end(), line), end; m != end; ++m)
            paths.push_back((*m)[1]);
        return paths;
    };
    auto answers = [&] { return saved().size() + Count(Slurp(err), "no picture yet"); };
    auto snapshot = [&](size_t count) {
        while (std::chrono::steady_clock::now() < deadline && saved().size() < count) {
            const size_t answered = answers();
            xdo("key --window " + window + " s");
            const auto giveUp = std::min(deadline, std::chrono::steady_clock::now() + answerWait);
            while (std::chrono::steady_clock::now() < giveUp && answers() == answered)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return saved().size() >= count;
    };
    ASSERT_TRUE(snapshot(1)) << Slurp(out) << Slurp(err);
    const cv::Mat before = cv::imread(saved().front());
    ASSERT_EQ(before.cols, 2 * sub.width);
    const int mainRows = before.rows - sub.height;

    // The window shows the main view at its full width, the two sub views below it side by side.
    // Click a fifth of the way down the panorama, on a wall some 70 degrees off the lens axis:
    // sub view 0 at zoom level 20 may lean that far (at level 10 it stops at the wall's foot).
    // Across, the click lies on the blue wall, while the same window pixel taken unscaled as
    // a main-view pixel would lie on the green one.
    const double windowScale = static_cast<double>(width) / before.cols;
    const int windowMainRows = static_cast<int>(mainRows * windowScale);
    const cv::Point click(width * 45 / 100, windowMainRows / 5);
    ASSERT_EQ(xdo("mousemove --window " + window + " " + std::to_string(click.x) + " " + std::to_string(click.y) +
                  " click 1"),
              0);
    const cv::Point overSub1(width * 3 / 4, windowMainRows + width / 2 * sub.height / sub.width / 2);
    ASSERT_EQ(xdo("mousemove --window " + window + " " + std::to_string(overSub1.x) + " " + std::to_string(overSub1.y) +
                  " click 4 click 4 click 4"),
              0);
    // No pause: the viewer takes the snapshot after the aim that was asked for before it.
    ASSERT_TRUE(snapshot(2)) << Slurp(out) << Slurp(err);
    xdo("key --window " + window + " q");
    EXPECT_EQ(viewer.Wait(std::chrono::seconds(15)), 0) << Slurp(err);
    const std::vector<std::string> paths = saved();
    EXPECT_EQ(paths.size(), 2u) << "more only where a press went unanswered for " << answerWait.count() << " s";
    for (const std::string& path : paths)
        EXPECT_TRUE(fs::exists(path)) << path;

    const cv::Mat after = cv::imread(paths.back());
    ASSERT_EQ(after.size(), before.size());
    const cv::Rect sub0(0, mainRows, sub.width, sub.height), sub1(sub.width, mainRows, sub.width, sub.height);
    const cv::Rect mainPart(0, 0, before.cols, mainRows);
    // The main view and the sub view that only zoomed kept their content; the aimed one changed.
    EXPECT_LT(cv::norm(before(mainPart), after(mainPart), cv::NORM_L1) / mainPart.area(), 10.0);
    EXPECT_GT(cv::norm(before(sub0), after(sub0), cv::NORM_L1) / sub0.area(), 30.0);
    EXPECT_GT(cv::norm(before(sub1), after(sub1), cv::NORM_L1) / sub1.area(), 10.0);
    // The aimed sub view's centre shows the colour of the wall under the click.
    const cv::Point clicked(static_cast<int>(click.x / windowScale), static_cast<int>(click.y / windowScale));
    const cv::Scalar target = PatchMean(after(mainPart), clicked, 3);
    const cv::Point centre(sub0.x + sub.width / 2, sub0.y + sub.height / 2);
    const double aimedDistance = cv::norm(PatchMean(after, centre, 12) - target);
    const double formerDistance = cv::norm(PatchMean(before, centre, 12) - target);
    std::printf("colour under the click %s: sub view centre %.0f away before the click, %.0f after\n",
                cv::format("%.0f,%.0f,%.0f", target[0], target[1], target[2]).c_str(), formerDistance, aimedDistance);
    EXPECT_LT(aimedDistance, formerDistance / 2);
}

TEST(ViewerTest, WithoutADisplayItSaysSoAndExitsWithStatusTwo)
{
    const fs::path dir = TempDir("view-nodisplay");
    const std::string input = (dir / "in.png").string();
    ASSERT_TRUE(cv::imwrite(input, zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 128)));
    Child viewer({ZRFISHEYE_TOOL, "view", input}, "", dir / "out", dir / "err");
    EXPECT_EQ(viewer.Wait(std::chrono::seconds(20)), 2);
    const std::string err = Slurp(dir / "err");
    EXPECT_EQ(Count(err, "\n"), 1u) << err;
    EXPECT_NE(err.find("display"), std::string::npos) << err;
}

}  // namespace
