// zrfisheye dewarp: the user's own pictures and videos.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "Commands.h"
#include "Session.h"
#include "ZRFishEyeEngine.h"

namespace zrtool {

namespace {

const char kHelp[] =
    "usage: zrfisheye dewarp INPUT [options]\n"
    "INPUT is an image or a video file. Images give one PNG per view, videos one video (MJPG .avi)\n"
    "per view, written to --out DIR (default zrfisheye-out).\n"
    "  --mount ceiling|ground|wall   how the camera is mounted (default ceiling)\n"
    "  --radius R                    lens-circle radius of the main view (default: half the frame side)\n"
    "  --view circle|panorama|double main view (default panorama)\n"
    "  --angle DEG                   ground angle: turns a floor or ceiling panorama\n"
    "  --start-y ROW                 top row of a wall camera's panorama window\n"
    "  --subviews N                  number of sub views, 0 to 8 (default 0)\n"
    "  --subview-size WxH            size of every sub view (default 640x360)\n"
    "  --zoom I=LEVEL                zoom level 0..20 of sub view I\n"
    "  --aim I=X,Y                   aim sub view I at point (X, Y) of the main view as displayed\n"
    "  --angles I=A,B                sub view I: tilt,azimuth in degrees (floor, ceiling)\n"
    "                                or pan,tilt in radians (wall)\n"
    "  --max-frames N                stop a video after N frames\n"
    "  --no-crop                     feed a non-square input as it is (it is stretched to a square)\n"
    "  --fast                        fast render mode: every view sampled once from the 4:2:0 frame\n"
    "A non-square input is otherwise cut to its largest centred square of even side.\n";

struct SubViewSetting {
    int zoom = -1;
    bool aim = false;
    int x = 0, y = 0;
    bool angles = false;
    double a = 0, b = 0;
};

struct Options {
    std::string input, out = "zrfisheye-out";
    SessionSettings session;
    int angle = -1, startY = -1, maxFrames = -1;
    bool crop = true;
    std::map<int, SubViewSetting> subs;
};

int SubIndex(const std::string& option, const std::string& text, std::string& rest)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        throw UsageError(option + " takes I=VALUE, not '" + text + "'");
    rest = text.substr(eq + 1);
    return ParseInt(option, text.substr(0, eq), 0, 7);
}

Options Parse(const std::vector<std::string>& args)
{
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string rest;
        if (a == "--help") {
            std::fputs(kHelp, stdout);
            std::exit(0);
        } else if (a == "--mount") {
            if (!zrscene::ParseMount(OptionValue(args, i), o.session.mount))
                throw UsageError("--mount takes ceiling, ground or wall, not '" + args[i] + "'");
        } else if (a == "--radius") {
            o.session.radius = ParseInt(a, OptionValue(args, i), 16, 16384);
        } else if (a == "--view") {
            const std::string& v = OptionValue(args, i);
            if (v == "circle" || v == "original")
                o.session.view = ZR_FE_VIEW_ORIGINAL;
            else if (v == "panorama")
                o.session.view = ZR_FE_VIEW_PANORAMA;
            else if (v == "double")
                o.session.view = ZR_FE_VIEW_DOUBLE_PANORAMA;
            else
                throw UsageError("--view takes circle, panorama or double, not '" + v + "'");
        } else if (a == "--angle") {
            o.angle = ParseInt(a, OptionValue(args, i), 0, 359);
        } else if (a == "--start-y") {
            o.startY = ParseInt(a, OptionValue(args, i), 0, 65535);
        } else if (a == "--subviews") {
            o.session.subViews = ParseInt(a, OptionValue(args, i), 0, zrfe::kMaxSubViews);
        } else if (a == "--subview-size") {
            if (!ParseSize(OptionValue(args, i), o.session.subWidth, o.session.subHeight) ||
                o.session.subWidth > 8192 || o.session.subHeight > 8192)
                throw UsageError("--subview-size takes WxH, each 1 to 8192, not '" + args[i] + "'");
        } else if (a == "--zoom") {
            const int k = SubIndex(a, OptionValue(args, i), rest);
            o.subs[k].zoom = ParseInt(a, rest, 0, 20);
        } else if (a == "--aim" || a == "--angles") {
            const int k = SubIndex(a, OptionValue(args, i), rest);
            double p = 0, q = 0;
            char tail = 0;
            if (std::sscanf(rest.c_str(), "%lf,%lf%c", &p, &q, &tail) != 2)
                throw UsageError(a + " takes I=A,B, not '" + args[i] + "'");
            if (a == "--aim") {
                if (p < 0 || q < 0 || p > 65535 || q > 65535)
                    throw UsageError("--aim takes a point of the main view, not '" + args[i] + "'");
                o.subs[k].aim = true;
                o.subs[k].x = static_cast<int>(p);
                o.subs[k].y = static_cast<int>(q);
            } else {
                o.subs[k].angles = true;
                o.subs[k].a = p;
                o.subs[k].b = q;
            }
        } else if (a == "--max-frames") {
            o.maxFrames = ParseInt(a, OptionValue(args, i), 1, 1 << 30);
        } else if (a == "--out") {
            o.out = OptionValue(args, i);
        } else if (a == "--no-crop") {
            o.crop = false;
        } else if (a == "--fast") {
            o.session.fast = true;
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError("unknown option '" + a + "'");
        } else if (o.input.empty()) {
            o.input = a;
        } else {
            throw UsageError("more than one input: '" + o.input + "' and '" + a + "'");
        }
    }
    if (o.input.empty())
        throw UsageError("no INPUT given (try --help)");
    for (const auto& kv : o.subs)
        if (kv.first >= o.session.subViews)
            throw UsageError("sub view " + std::to_string(kv.first) + " is set but --subviews is " +
                             std::to_string(o.session.subViews));
    return o;
}

// The largest centred square of even side, or the whole picture with --no-crop.
cv::Mat Prepare(const cv::Mat& picture, bool crop, bool& announced)
{
    if (!crop || picture.cols == picture.rows) {
        if (picture.cols % 2 == 0 && picture.rows % 2 == 0)
            return picture;
        return picture(cv::Rect(0, 0, picture.cols / 2 * 2, picture.rows / 2 * 2)).clone();
    }
    const int side = std::min(picture.cols, picture.rows) / 2 * 2;
    const cv::Rect square((picture.cols - side) / 2, (picture.rows - side) / 2, side, side);
    if (!announced) {
        std::fprintf(stderr, "zrfisheye: input is %dx%d; feeding its centred %dx%d square (--no-crop to keep it)\n",
                     picture.cols, picture.rows, side, side);
        announced = true;
    }
    return picture(square).clone();
}

void Configure(CZRFishEyeDewarper& d, const Options& o)
{
    if (o.angle >= 0 && d.SetGroundAngle(static_cast<unsigned int>(o.angle)) != 0)
        throw UsageError("--angle applies to ceiling and ground mounts only");
    if (o.startY >= 0 && d.SetWallStarty(static_cast<unsigned int>(o.startY)) != 0)
        throw UsageError("--start-y applies to the wall mount only");
    const bool wall = o.session.mount == ZR_FE_INSTALL_WALL;
    for (const auto& kv : o.subs) {
        const int i = kv.first;
        const SubViewSetting& s = kv.second;
        if (s.zoom >= 0)
            d.ZoomNormalView(static_cast<unsigned int>(s.zoom), i);
        if (s.angles) {
            tag_ZR_FE_NORMAL_VIEW_S v;
            d.GetNormalParam(v, static_cast<unsigned int>(i));
            if (wall) {
                v.fPan = static_cast<float>(s.a);
                v.fTilt = static_cast<float>(s.b);
            } else {
                v.fAngleY = static_cast<float>(s.a);
                v.fAngleZ = static_cast<float>(s.b);
            }
            if (d.SetNormalView(v, i) != 0)
                throw UsageError("--angles for sub view " + std::to_string(i) + " are not usable numbers");
        }
        if (s.aim && d.MoveNormalView(tag_ZR_FE_POINT_S{static_cast<unsigned short>(s.x), static_cast<unsigned short>(s.y)}, i) != 0)
            throw UsageError("--aim for sub view " + std::to_string(i) + " is not on the main view");
    }
}

std::string ViewFile(const Options& o, int view, const char* ext)
{
    const std::string name = view == 0 ? "main" : "sub" + std::to_string(view - 1);
    return (std::filesystem::path(o.out) / (name + ext)).string();
}

void CheckRadius(const Options& o, int side)
{
    if (side < 32)
        throw UsageError("the picture is too small (" + std::to_string(side) + " pixels; at least 32)");
    if (o.session.radius > side / 2)
        throw UsageError("radius " + std::to_string(o.session.radius) + " is too large for a " + std::to_string(side) +
                         "-pixel frame (at most " + std::to_string(side / 2) + ")");
}

int DewarpImage(const Options& o, const cv::Mat& image)
{
    bool announced = false;
    const cv::Mat fed = Prepare(image, o.crop, announced);
    CheckRadius(o, std::min(fed.cols, fed.rows));
    Session session(o.session, fed.cols);
    Configure(session.Dewarper(), o);
    zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(fed);
    tag_ZRFRAME frame = nv12.Descriptor();
    std::vector<cv::Mat> pictures;
    if (!session.Run(frame, pictures))
        throw std::runtime_error("the pipeline did not answer");
    for (size_t v = 0; v < pictures.size(); ++v) {
        const std::string path = ViewFile(o, static_cast<int>(v), ".png");
        if (pictures[v].empty() || !cv::imwrite(path, pictures[v]))
            throw UsageError("cannot write '" + path + "'");
        std::printf("wrote %s %dx%d\n", path.c_str(), pictures[v].cols, pictures[v].rows);
    }
    return 0;
}

int DewarpVideo(const Options& o, cv::VideoCapture& video)
{
    const bool terminal = isatty(fileno(stderr));
    const double total = video.get(cv::CAP_PROP_FRAME_COUNT);
    const double fps = video.get(cv::CAP_PROP_FPS) > 0 ? video.get(cv::CAP_PROP_FPS) : 25.0;
    std::unique_ptr<Session> session;
    std::vector<cv::VideoWriter> writers;
    bool announced = false;
    int done = 0;
    const auto t0 = std::chrono::steady_clock::now();
    auto lastReport = t0;
    cv::Mat picture;
    while ((o.maxFrames < 0 || done < o.maxFrames) && video.read(picture) && !picture.empty()) {
        const cv::Mat fed = Prepare(picture, o.crop, announced);
        if (!session) {
            CheckRadius(o, std::min(fed.cols, fed.rows));
            session.reset(new Session(o.session, fed.cols));
            Configure(session->Dewarper(), o);
        }
        zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(fed);
        tag_ZRFRAME frame = nv12.Descriptor();
        std::vector<cv::Mat> views;
        if (!session->Run(frame, views))
            throw std::runtime_error("the pipeline did not answer");
        if (writers.empty()) {
            for (size_t v = 0; v < views.size(); ++v) {
                writers.emplace_back(ViewFile(o, static_cast<int>(v), ".avi"), cv::CAP_FFMPEG,
                                     cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), fps, views[v].size());
                if (!writers.back().isOpened())
                    throw UsageError("cannot write '" + ViewFile(o, static_cast<int>(v), ".avi") + "'");
            }
        }
        for (size_t v = 0; v < views.size(); ++v)
            writers[v].write(views[v]);
        ++done;
        const auto now = std::chrono::steady_clock::now();
        const double seconds = std::chrono::duration<double>(now - t0).count();
        const double rate = done / std::max(seconds, 1e-6);
        const bool sparse = std::chrono::duration<double>(now - lastReport).count() >= 5.0;
        if (terminal || sparse) {
            lastReport = now;
            const double left = total > 0 ? (total - done) / rate : 0;
            std::fprintf(stderr, terminal ? "\r%d/%.0f frames, %.1f fps, %.0f s left   " : "%d/%.0f frames, %.1f fps, %.0f s left\n",
                         done, total, rate, left);
        }
    }
    if (terminal)
        std::fputc('\n', stderr);
    if (done == 0)
        throw UsageError("'" + o.input + "' holds no readable frame");
    for (size_t v = 0; v < writers.size(); ++v)
        std::printf("wrote %s %d frames\n", ViewFile(o, static_cast<int>(v), ".avi").c_str(), done);
    return 0;
}

}  // namespace

int RunDewarp(const std::vector<std::string>& args)
{
    const Options o = Parse(args);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(o.input, ec))
        throw UsageError("cannot read '" + o.input + "': no such file");
    std::filesystem::create_directories(o.out, ec);
    if (ec)
        throw UsageError("cannot create '" + o.out + "': " + ec.message());
    cv::Mat image;
    try {
        image = cv::imread(o.input, cv::IMREAD_COLOR);
    } catch (const cv::Exception&) {
    }
    if (!image.empty())
        return DewarpImage(o, image);
    cv::VideoCapture video;
    try {
        video.open(o.input, cv::CAP_FFMPEG);
    } catch (const cv::Exception&) {
    }
    if (!video.isOpened())
        throw UsageError("'" + o.input + "' is neither a picture nor a video that OpenCV can read");
    return DewarpVideo(o, video);
}

}  // namespace zrtool
