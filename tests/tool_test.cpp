// The synthetic scene, the accuracy of the dewarper against its ground truth,
// and the zrfisheye program.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <regex>
#include <thread>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "LensCircle.h"
#include "Outputs.h"
#include "PipelineOptions.h"
#include "Session.h"
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

// The circle that the tool says it found ("--circle CX,CY,R"), with r 0 when it says none.
zrtool::LensCircle SaidCircle(const std::string& err)
{
    std::smatch m;
    const std::regex said("--circle (-?\\d+),(-?\\d+),(\\d+)");
    if (!std::regex_search(err, m, said))
        return {};
    return {std::stod(m[1]), std::stod(m[2]), std::stod(m[3])};
}

// Within a percent of the radius, the accuracy asked of the circle finder.
bool NearCircle(const zrtool::LensCircle& got, const zrtool::LensCircle& want)
{
    return std::hypot(got.cx - want.cx, got.cy - want.cy) <= 0.01 * want.r && std::abs(got.r - want.r) <= 0.01 * want.r;
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
    EXPECT_TRUE(NearCircle(SaidCircle(r.err), {160, 128, 128})) << r.err;
    for (const char* name : {"main.mp4", "sub0.mp4", "sub1.mp4"}) {
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

    pid_t Pid() const { return m_pid; }

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


// A fisheye picture scaled to a circle of radius r and put with its centre at (cx, cy) into a
// frame of the given size, over a background of that grey level with Gaussian noise of that
// deviation. Answers the circle it drew (the scene's circle fills its square, centred on N/2).
zrtool::LensCircle PlaceCircle(const cv::Mat& fisheye, cv::Size frameSize, double cx, double cy, double r,
                               int background, double noise, cv::Mat& frame)
{
    const int side = static_cast<int>(std::lround(2 * r));
    cv::Mat scaled;
    cv::resize(fisheye, scaled, cv::Size(side, side), 0, 0, side < fisheye.cols ? cv::INTER_AREA : cv::INTER_LINEAR);
    cv::Mat mask = cv::Mat::zeros(side, side, CV_8UC1);
    cv::circle(mask, cv::Point(side / 2, side / 2), side / 2, cv::Scalar(255), cv::FILLED);
    const cv::Point origin(static_cast<int>(std::lround(cx - side / 2.0)), static_cast<int>(std::lround(cy - side / 2.0)));
    frame = cv::Mat(frameSize, CV_8UC3, cv::Scalar::all(background));
    const cv::Rect want(origin, cv::Size(side, side));
    const cv::Rect have = want & cv::Rect(0, 0, frameSize.width, frameSize.height);
    scaled(have - origin).copyTo(frame(have), mask(have - origin));
    if (noise > 0) {
        cv::Mat grain(frameSize, CV_16SC3);
        cv::randn(grain, 0, noise);
        cv::Mat wide;
        frame.convertTo(wide, CV_16SC3);
        cv::Mat(wide + grain).convertTo(frame, CV_8UC3);
    }
    return {origin.x + side / 2.0, origin.y + side / 2.0, side / 2.0};
}

TEST(LensCircleTest, FoundInFramesOfEveryShapeWithinAPercentOfTheRadius)
{
    const int kSide = 1024;
    const std::map<ENUM_ZR_FE_INSTALL_MODE_E, cv::Mat> scenes = {
        {ZR_FE_INSTALL_CEILING, zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, kSide)},
        {ZR_FE_INSTALL_GROUND, zrscene::RenderFisheye(ZR_FE_INSTALL_GROUND, kSide)},
        {ZR_FE_INSTALL_WALL, zrscene::RenderFisheye(ZR_FE_INSTALL_WALL, kSide)}};
    struct Case {
        const char* what;
        ENUM_ZR_FE_INSTALL_MODE_E mount;
        cv::Size frame;
        double cx, cy, r;
        int background;
        double noise;
    };
    const Case cases[] = {
        {"full HD, centred, as rendered", ZR_FE_INSTALL_CEILING, {1920, 1080}, 960, 540, 512, 0, 0},
        {"full HD, off centre", ZR_FE_INSTALL_GROUND, {1920, 1080}, 1003, 522, 500, 0, 2},
        {"4:3 sensor, lit noisy border", ZR_FE_INSTALL_WALL, {2048, 1536}, 1010, 790, 700, 45, 4},
        {"taller than the frame, cut at top and bottom", ZR_FE_INSTALL_CEILING, {1920, 1080}, 975, 536, 620, 0, 2},
        {"square, 20 pixels inside the frame", ZR_FE_INSTALL_CEILING, {2880, 2880}, 1440, 1440, 1430, 0, 2},
        {"small, lit border", ZR_FE_INSTALL_GROUND, {1280, 720}, 600, 380, 300, 30, 3},
    };
    for (const Case& c : cases) {
        cv::Mat frame;
        const zrtool::LensCircle truth =
            PlaceCircle(scenes.at(c.mount), c.frame, c.cx, c.cy, c.r, c.background, c.noise, frame);
        const zrtool::CircleFinding f = zrtool::FindLensCircle({frame});
        EXPECT_TRUE(f.found) << c.what;
        EXPECT_GE(f.confidence, 0.5) << c.what;
        EXPECT_TRUE(NearCircle(f.circle, truth)) << c.what << ": " << f.circle.cx << "," << f.circle.cy << ","
                                                 << f.circle.r << " for " << truth.cx << "," << truth.cy << "," << truth.r;
    }

    // No circle: the lens circle beyond every corner of the frame, and a picture of noise.
    cv::Mat filled, noise(720, 1280, CV_8UC3);
    PlaceCircle(scenes.at(ZR_FE_INSTALL_CEILING), {1920, 1080}, 960, 540, 1150, 0, 2, filled);
    cv::randu(noise, 0, 255);
    cv::GaussianBlur(noise, noise, cv::Size(), 3);
    EXPECT_FALSE(zrtool::FindLensCircle({filled}).found) << "a circle filling the frame";
    EXPECT_FALSE(zrtool::FindLensCircle({noise}).found) << "noise";
}

TEST(LensCircleTest, Nv12CropEqualsTheCropOfTheConvertedFrameWithBlackPadding)
{
    cv::Mat frame(360, 640, CV_8UC3);
    cv::randu(frame, 0, 255);
    const zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(frame);
    // Inside, over the left and top edges, over the right and bottom edges, around the whole frame.
    const zrtool::SquareCrop crops[] = {{100, 40, 200}, {-60, -20, 300}, {500, 250, 220}, {-100, -240, 840}};
    for (const zrtool::SquareCrop& crop : crops) {
        const zrscene::Nv12Picture direct = zrtool::CropNv12(nv12, crop);
        const zrscene::Nv12Picture viaBgr = zrscene::BgrToNv12(zrtool::CropBgr(frame, crop));
        ASSERT_EQ(direct.width, crop.side);
        ASSERT_EQ(direct.height, crop.side);
        EXPECT_TRUE(direct.luma == viaBgr.luma) << crop.x << "," << crop.y;
        EXPECT_TRUE(direct.chroma == viaBgr.chroma) << crop.x << "," << crop.y;
    }
    // The padding is the library's black.
    const zrscene::Nv12Picture around = zrtool::CropNv12(nv12, crops[3]);
    EXPECT_EQ(around.luma.front(), 0);
    EXPECT_EQ(around.chroma.front(), 128);
}

TEST(LensCircleTest, DewarpThroughTheFoundCircleMatchesTheUntouchedSquare)
{
    const fs::path dir = TempDir("circle");
    const cv::Mat square = zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 600);
    cv::Mat placed;
    PlaceCircle(square, {1280, 720}, 640, 360, 300, 0, 0, placed);
    ASSERT_TRUE(cv::imwrite((dir / "square.png").string(), square));
    ASSERT_TRUE(cv::imwrite((dir / "placed.png").string(), placed));
    const std::string views = " --view circle --subviews 2 --angles 0=50,30 --angles 1=70,250 --out ";
    const Result a = RunTool("dewarp " + (dir / "square.png").string() + views + (dir / "a").string());
    const Result b = RunTool("dewarp " + (dir / "placed.png").string() + views + (dir / "b").string());
    ASSERT_EQ(a.status, 0) << a.err;
    ASSERT_EQ(b.status, 0) << b.err;
    EXPECT_NE(b.err.find("lens circle found"), std::string::npos) << b.err;
    for (const char* name : {"main.png", "sub0.png", "sub1.png"}) {
        const cv::Mat want = cv::imread((dir / "a" / name).string()), got = cv::imread((dir / "b" / name).string());
        ASSERT_FALSE(want.empty() || got.empty()) << name;
        cv::Mat same;
        cv::resize(got, same, want.size(), 0, 0, cv::INTER_AREA);
        EXPECT_GE(LumaPsnr(want, same), 35.0) << name;
    }
    // The circle printed reads back through --circle.
    const Result c = RunTool("circle " + (dir / "placed.png").string());
    ASSERT_EQ(c.status, 0) << c.err;
    const std::string given = c.out.substr(0, c.out.find(' '));
    const Result d = RunTool("dewarp " + (dir / "placed.png").string() + " --circle " + given + views + (dir / "d").string());
    ASSERT_EQ(d.status, 0) << d.err;
    EXPECT_EQ(cv::norm(cv::imread((dir / "b" / "sub0.png").string()), cv::imread((dir / "d" / "sub0.png").string()),
                       cv::NORM_INF),
              0);
}

// A fisheye video of the synthetic room in a wider frame, its picture tinted a little more each frame.
std::string WriteCircleVideo(const fs::path& path, int frames)
{
    cv::VideoWriter writer(path.string(), cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, cv::Size(480, 320));
    const cv::Mat scene = zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 300);
    for (int i = 0; i < frames; ++i) {
        cv::Mat frame;
        PlaceCircle(scene + cv::Scalar(3 * i, 0, 0), {480, 320}, 240, 160, 150, 0, 0, frame);
        writer.write(frame);
    }
    return path.string();
}

TEST(OutputTest, MosaicVideoHoldsTheViewsOfEveryFrameInTheContactSheetLayout)
{
    const fs::path dir = TempDir("mosaic");
    const int kFrames = 8;
    const std::string input = WriteCircleVideo(dir / "in.avi", kFrames);
    const std::string views = " --subviews 3 --subview-size 160x96 --zoom 2=6 --quiet --out ";
    const Result m = RunTool("dewarp " + input + views + (dir / "m").string() + " --layout mosaic --format mp4");
    const Result p = RunTool("dewarp " + input + views + (dir / "p").string() + " --format png");
    ASSERT_EQ(m.status, 0) << m.err;
    ASSERT_EQ(p.status, 0) << p.err;
    EXPECT_EQ(m.out + m.err + p.out + p.err, "") << "--quiet";
    cv::VideoCapture video((dir / "m" / "mosaic.mp4").string(), cv::CAP_FFMPEG);
    ASSERT_TRUE(video.isOpened());
    const int fourcc = static_cast<int>(video.get(cv::CAP_PROP_FOURCC));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&fourcc), 4), "avc1") << "H.264";
    int frame = 0;
    cv::Mat got;
    for (; video.read(got); ++frame) {
        char number[16];
        std::snprintf(number, sizeof number, "-%06d.png", frame);
        std::vector<cv::Mat> pictures;
        for (const char* name : {"main", "sub0", "sub1", "sub2"})
            pictures.push_back(cv::imread((dir / "p" / (name + std::string(number))).string()));
        ASSERT_FALSE(pictures[3].empty()) << frame;
        // Sub views in two columns under the main view scaled to their width; the fourth cell black.
        const int top = pictures[0].rows * 320 / pictures[0].cols / 2 * 2;
        ASSERT_EQ(got.size(), cv::Size(320, top + 2 * 96)) << frame;
        cv::Mat main;
        cv::resize(pictures[0], main, cv::Size(320, top));
        EXPECT_GE(LumaPsnr(got(cv::Rect(0, 0, 320, top)), main), 30.0) << frame;
        for (int i = 0; i < 3; ++i)
            EXPECT_GE(LumaPsnr(got(cv::Rect(i % 2 * 160, top + i / 2 * 96, 160, 96)), pictures[1 + i]), 30.0)
                << frame << " sub " << i;
        EXPECT_LT(cv::mean(got(cv::Rect(160, top + 96, 160, 96)))[0], 8.0) << frame;
    }
    EXPECT_EQ(frame, kFrames);
    EXPECT_FALSE(fs::exists(dir / "p" / "main-000008.png"));
}

int FreePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    const bool ok = bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
                    getsockname(s, reinterpret_cast<sockaddr*>(&a), &len) == 0;
    close(s);
    return ok ? ntohs(a.sin_port) : -1;
}

// Whether something listens on the TCP port, from the kernel's table (connecting would use up
// a server that takes one client).
bool Listening(int port)
{
    const int kListen = 0x0A;
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        unsigned int ip = 0, p = 0, state = 0;
        if (std::sscanf(line.c_str(), " %*d: %x:%x %*x:%*x %x", &ip, &p, &state) == 3 &&
            static_cast<int>(p) == port && static_cast<int>(state) == kListen)
            return true;
    }
    return false;
}

bool WaitFor(const std::function<bool()>& ready, std::chrono::milliseconds limit)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ready()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Frames a video file holds, read back with OpenCV.
int FramesIn(const fs::path& path)
{
    cv::VideoCapture video(path.string(), cv::CAP_FFMPEG);
    int n = 0;
    cv::Mat f;
    while (video.isOpened() && video.read(f))
        ++n;
    return n;
}

long long DroppedIn(const std::string& err)
{
    std::smatch m;
    const std::regex line("(\\d+) dropped");
    return std::regex_search(err, m, line) ? std::stoll(m[1]) : -1;
}

TEST(LiveTest, RtspAndHttpStreamsGiveEveryFrameWrittenOrCountedAsDropped)
{
    const fs::path dir = TempDir("live");
    const int kFrames = 40;
    const std::string input = WriteCircleVideo(dir / "in.avi", kFrames);
    const std::string views = " --subviews 1 --subview-size 160x96 --out ";

    // RTSP, stopped by --max-frames, then by Ctrl-C.
    const int rtspPort = FreePort();
    Child server({"/usr/bin/python3", RTSP_SERVER, input, std::to_string(rtspPort)}, "", dir / "rtsp.out",
                 dir / "rtsp.err");
    ASSERT_TRUE(WaitFor([&] { return Slurp(dir / "rtsp.out").find("ready") != std::string::npos; },
                        std::chrono::seconds(10)))
        << Slurp(dir / "rtsp.err");
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(rtspPort) + "/test";
    const int kLimit = 25;
    const Result r = RunTool("dewarp " + url + views + (dir / "rtsp").string() + " --max-frames " + std::to_string(kLimit));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(NearCircle(SaidCircle(r.err), {240, 160, 150})) << r.err;
    const long long dropped = DroppedIn(r.err);
    ASSERT_GE(dropped, 0) << r.err;
    EXPECT_EQ(FramesIn(dir / "rtsp" / "main.mp4") + dropped, kLimit) << r.err;
    EXPECT_EQ(FramesIn(dir / "rtsp" / "sub0.mp4") + dropped, kLimit) << r.err;

    Child stopped({ZRFISHEYE_TOOL, "dewarp", url, "--out", (dir / "stopped").string()}, "", dir / "stopped.out",
                  dir / "stopped.err");
    ASSERT_TRUE(WaitFor([&] { return Slurp(dir / "stopped.err").find("lens circle") != std::string::npos; },
                        std::chrono::seconds(15)));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(stopped.Pid(), SIGINT);
    EXPECT_EQ(stopped.Wait(std::chrono::seconds(15)), 130) << Slurp(dir / "stopped.err");
    EXPECT_GE(FramesIn(dir / "stopped" / "main.mp4"), 1) << "closed and playable after Ctrl-C";

    // HTTP, read to its end: the stream stops, which is an error of the source, with the file still whole.
    const int httpPort = FreePort();
    Child http({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", input, "-c", "copy", "-f", "matroska", "-listen", "1",
                "http://127.0.0.1:" + std::to_string(httpPort) + "/in.mkv"},
               "", dir / "http.out", dir / "http.err");
    ASSERT_TRUE(WaitFor([&] { return Listening(httpPort); }, std::chrono::seconds(10))) << Slurp(dir / "http.err");
    const std::string source = "http://127.0.0.1:" + std::to_string(httpPort) + "/in.mkv";
    const Result h = RunTool("dewarp " + source + views + (dir / "http").string() + " --format mkv --layout mosaic");
    EXPECT_EQ(h.status, 1) << h.err;
    EXPECT_NE(h.err.find("'" + source + "' stopped after " + std::to_string(kFrames) + " frames"), std::string::npos)
        << h.err;
    EXPECT_EQ(FramesIn(dir / "http" / "mosaic.mkv") + DroppedIn(h.err), kFrames) << h.err;
}

TEST(ToolTest, BadInputsEndWithOneLineAndTheirStatus)
{
    const fs::path dir = TempDir("bad");
    const std::string picture = (dir / "in.png").string();
    cv::Mat frame;
    PlaceCircle(zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 128), {256, 160}, 128, 80, 64, 0, 0, frame);
    ASSERT_TRUE(cv::imwrite(picture, frame));
    const std::string empty = (dir / "empty.avi").string();
    cv::VideoWriter(empty, cv::CAP_FFMPEG, cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 10, cv::Size(64, 64)).release();
    std::ofstream(dir / "file") << "in the way";
    const int closedPort = FreePort();
    struct Case {
        std::string args;
        int status;
    };
    const Case cases[] = {
        {"dewarp " + picture + " --circle 400,80,64", 2},
        {"dewarp " + picture + " --circle 128,80,12", 2},
        {"dewarp " + picture + " --circle 128,80", 2},
        {"dewarp " + picture + " --circle middle", 2},
        {"dewarp " + picture + " --format webm", 2},
        {"dewarp " + picture + " --layout grid", 2},
        {"dewarp " + empty, 2},
        {"dewarp " + picture + " --out " + (dir / "file" / "out").string(), 2},
        {"circle " + picture + " --draw " + (dir / "file" / "c.png").string(), 2},
        {"dewarp rtsp://127.0.0.1:" + std::to_string(closedPort) + "/none", 1},
        {"dewarp http://127.0.0.1:" + std::to_string(closedPort) + "/none.mkv", 1},
        {"circle rtsp://127.0.0.1:" + std::to_string(closedPort) + "/none", 1},
    };
    for (const Case& c : cases) {
        const bool outGiven = c.args.rfind("circle", 0) == 0 || c.args.find("--out") != std::string::npos;
        const std::string args = outGiven ? c.args : c.args + " --out " + (dir / "o").string();
        const Result r = RunTool(args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << ": " << r.err;
    }
}

// Each bad lens option: status 2, one line, and the line names the option at fault.
TEST(ToolTest, BadLensOptionsEndWithOneLineNamingTheOption)
{
    const fs::path dir = TempDir("lens");
    const std::string picture = (dir / "in.png").string();
    ASSERT_TRUE(cv::imwrite(picture, zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 128)));
    const std::string dewarp = "dewarp " + picture + " ";
    struct Case {
        std::string args, named;
    };
    const Case cases[] = {
        {dewarp + "--lens fisheye", "--lens"},
        {dewarp + "--lens", "--lens"},
        {dewarp + "--lens equisolid --fov 0", "--fov"},
        {dewarp + "--lens equisolid --fov 331", "--fov"},
        {dewarp + "--lens equisolid --fov wide", "--fov"},
        {dewarp + "--lens orthographic --fov 181", "--fov"},
        {dewarp + "--fov 190", "--fov"},
        {dewarp + "--lens equisolid --fov 190 --focal 80", "--focal"},
        {dewarp + "--lens equisolid --focal -3", "--focal"},
        // The lens circle has a radius of 64: 10 pixels of focal length never reach it.
        {dewarp + "--lens equidistant --focal 10", "--focal"},
        {dewarp + "--lens equisolid --poly 0.1,0,0,0", "--poly"},
        {dewarp + "--lens polynomial --poly 0.1,0,0", "--poly"},
        {dewarp + "--lens polynomial --poly 0.1,0,0,0,0", "--poly"},
        {dewarp + "--lens polynomial --poly 0.1,x,0,0", "--poly"},
        // Turns back before the rim of a 190-degree circle.
        {dewarp + "--lens polynomial --fov 190 --poly -0.3,0,0,0", "--poly"},
        {"demo --lens stereographic --fov 400 --out " + (dir / "demo").string(), "--fov"},
        {"scene --lens orthographic --fov 200 --out " + (dir / "scene.png").string(), "--fov"},
        {"view " + picture + " --lens polynomial --poly 1,2,3", "--poly"},
    };
    for (const Case& c : cases) {
        const Result r = RunTool(c.args + (c.args.rfind("dewarp", 0) == 0 ? " --out " + (dir / "o").string() : ""));
        EXPECT_EQ(r.status, 2) << c.args << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << c.args << ": " << r.err;
    }
}

// A lens changes the pictures; --focal is the field of view at which the lens reaches the
// circle given by --circle, in input-frame pixels; the scene rendered through a lens is
// dewarped right through that lens.
TEST(ToolTest, LensOptionsChangeTheViewsAndFocalLengthMeetsTheLensCircle)
{
    const fs::path dir = TempDir("lensviews");
    const std::string input = (dir / "in.png").string();
    // The scene's circle (radius 128) off-centre in a wider frame.
    cv::Mat frame(256, 320, CV_8UC3, cv::Scalar::all(0));
    zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, 256).copyTo(frame(cv::Rect(32, 0, 256, 256)));
    ASSERT_TRUE(cv::imwrite(input, frame));
    auto mainView = [&](const std::string& name, const std::string& options) {
        const fs::path out = dir / name;
        const Result r = RunTool("dewarp " + input + " --circle 160,128,128 --subviews 1 " + options + " --out " +
                                 out.string());
        EXPECT_EQ(r.status, 0) << options << ": " << r.err;
        return std::make_pair(cv::imread((out / "main.png").string()), cv::imread((out / "sub0.png").string()));
    };
    const auto builtin = mainView("builtin", "");
    const auto equisolid = mainView("equisolid", "--lens equisolid --fov 190");
    ASSERT_FALSE(builtin.first.empty() || equisolid.first.empty());
    EXPECT_EQ(builtin.first.size(), equisolid.first.size());
    EXPECT_LT(LumaPsnr(builtin.first, equisolid.first), 25.0) << "the main view did not change";
    EXPECT_LT(LumaPsnr(builtin.second, equisolid.second), 25.0) << "the sub view did not change";
    // An equidistant lens reaches radius 128 at 100 degrees off its axis with f = 128 / (100 pi / 180).
    const auto byFov = mainView("fov", "--lens equidistant --fov 200");
    const auto byFocal = mainView("focal", "--lens equidistant --focal 73.33859777674537");
    EXPECT_EQ(cv::norm(byFov.first, byFocal.first, cv::NORM_INF), 0.0);
    EXPECT_EQ(cv::norm(byFov.second, byFocal.second, cv::NORM_INF), 0.0);
    const auto shorterFocal = mainView("focal2", "--lens equidistant --focal 65");
    EXPECT_LT(LumaPsnr(byFov.first, shorterFocal.first), 40.0) << "--focal did not reach the lens";

    // The room through another lens, dewarped through that lens, gives the sub view that the
    // default scene (equidistant, 180 degrees) gives through its own; through a wrong lens it does not.
    auto subView = [&](const std::string& name, const std::string& scene, const std::string& options) {
        const fs::path picture = dir / (name + ".png"), out = dir / name;
        EXPECT_EQ(RunTool("scene --mount ceiling --size 512 " + scene + " --out " + picture.string()).status, 0);
        const Result r = RunTool("dewarp " + picture.string() + " --subviews 1 --angles 0=50,30 " + options +
                                 " --out " + out.string());
        EXPECT_EQ(r.status, 0) << options << ": " << r.err;
        return cv::imread((out / "sub0.png").string());
    };
    const cv::Mat truth = subView("equidistant", "", "--lens equidistant --fov 180");
    const std::string equisolid190 = "--lens equisolid --fov 190";
    EXPECT_GT(LumaPsnr(subView("equisolid190", equisolid190, equisolid190), truth), 25.0);
    EXPECT_LT(LumaPsnr(subView("stereographic190", equisolid190, "--lens stereographic --fov 190"), truth), 15.0);
}

// Sub views neither aimed nor given angles: a ceiling camera's at equal steps of azimuth
// toward the walls, a wall camera's at equal steps across; the ones given angles keep them.
TEST(ToolTest, SubViewsNotAimedLookAroundTheRoom)
{
    static constexpr int kSide = 512;
    auto configure = [](const std::vector<std::string>& args) {
        zrtool::PipelineOptions o;
        for (size_t i = 0; i < args.size(); ++i)
            EXPECT_TRUE(zrtool::ParsePipelineOption(args, i, o)) << args[i];
        o.session.subWidth = 320;
        o.session.subHeight = 180;
        auto session = std::make_unique<zrtool::Session>(o.session, kSide);
        zrtool::ConfigureDewarper(session->Dewarper(), o, kSide);
        return session;
    };
    auto viewOf = [](zrtool::Session& s, int i) {
        tag_ZR_FE_NORMAL_VIEW_S v;
        s.Dewarper().GetNormalParam(v, static_cast<unsigned int>(i));
        return v;
    };

    auto ceiling = configure({"--subviews", "4"});
    zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, kSide));
    tag_ZRFRAME frame = nv12.Descriptor();
    std::vector<cv::Mat> pictures;
    ASSERT_TRUE(ceiling->Run(frame, pictures));
    // The room's four walls have four colours: the upper part of each view shows its own.
    std::vector<cv::Scalar> wallColour;
    for (int i = 0; i < 4; ++i) {
        const tag_ZR_FE_NORMAL_VIEW_S v = viewOf(*ceiling, i);
        EXPECT_FLOAT_EQ(v.fAngleZ, 90.0f * i) << "sub view " << i;
        // The walls of the room lie beyond 45 degrees off the axis of the lens.
        EXPECT_GT(v.fAngleY, 45.0f) << "sub view " << i;
        const cv::Mat& p = pictures[1 + i];
        wallColour.push_back(cv::mean(p(cv::Rect(0, 0, p.cols, p.rows / 4))));
        for (int j = 0; j < i; ++j)
            EXPECT_GT(cv::norm(wallColour[i] - wallColour[j]), 60.0) << "sub views " << j << " and " << i;
    }

    auto wall = configure({"--mount", "wall", "--subviews", "3"});
    float lastPan = -10.0f;
    for (int i = 0; i < 3; ++i) {
        const tag_ZR_FE_NORMAL_VIEW_S v = viewOf(*wall, i);
        EXPECT_GT(v.fPan, lastPan + 0.2f) << "sub view " << i;
        lastPan = v.fPan;
    }
    const tag_ZR_FE_NORMAL_VIEW_S middle = viewOf(*wall, 1);
    EXPECT_NEAR(middle.fPan + middle.fFovHor / 2, 0.0f, 1e-4f) << "the middle view looks along the lens axis";

    auto mixed = configure({"--subviews", "2", "--angles", "1=30,45"});
    EXPECT_EQ(viewOf(*mixed, 0).fAngleZ, 0.0f);
    EXPECT_GT(viewOf(*mixed, 0).fAngleY, 45.0f);
    EXPECT_EQ(viewOf(*mixed, 1).fAngleY, 30.0f);
    EXPECT_EQ(viewOf(*mixed, 1).fAngleZ, 45.0f);
}

}  // namespace
