// zrfisheye dewarp: the user's own pictures and videos.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "CommandLine.h"
#include "Commands.h"
#include "PipelineOptions.h"
#include "Session.h"

namespace zrtool {

namespace {

const char kHelpHead[] =
    "usage: zrfisheye dewarp INPUT [options]\n"
    "INPUT is an image or a video file. Images give one PNG per view, videos one video (MJPG .avi)\n"
    "per view, written to --out DIR (default zrfisheye-out).\n";
const char kHelpTail[] = "  --max-frames N                stop a video after N frames\n";

struct Options {
    std::string input, out = "zrfisheye-out";
    PipelineOptions pipeline;
    int maxFrames = -1;
};

Options Parse(const std::vector<std::string>& args)
{
    Options o;
    for (size_t i = 0; i < args.size(); ++i) {
        if (ParsePipelineOption(args, i, o.pipeline))
            continue;
        const std::string& a = args[i];
        if (a == "--help") {
            std::fputs(kHelpHead, stdout);
            std::fputs(kHelpTail, stdout);
            std::fputs(kPipelineOptionsHelp, stdout);
            throw HelpShown();
        } else if (a == "--max-frames") {
            o.maxFrames = ParseInt(a, OptionValue(args, i), 1, 1 << 30);
        } else if (a == "--out") {
            o.out = OptionValue(args, i);
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
    CheckPipelineOptions(o.pipeline);
    return o;
}

std::string ViewFile(const Options& o, int view, const char* ext)
{
    const std::string name = view == 0 ? "main" : "sub" + std::to_string(view - 1);
    return (std::filesystem::path(o.out) / (name + ext)).string();
}

int DewarpImage(const Options& o, const cv::Mat& image)
{
    bool announced = false;
    const cv::Mat fed = PrepareFrame(image, o.pipeline.crop, announced);
    CheckFrameSide(o.pipeline, std::min(fed.cols, fed.rows));
    Session session(o.pipeline.session, fed.cols);
    ConfigureDewarper(session.Dewarper(), o.pipeline);
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
    const bool terminal = isatty(fileno(Err()));
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
        const cv::Mat fed = PrepareFrame(picture, o.pipeline.crop, announced);
        if (!session) {
            CheckFrameSide(o.pipeline, std::min(fed.cols, fed.rows));
            session.reset(new Session(o.pipeline.session, fed.cols));
            ConfigureDewarper(session->Dewarper(), o.pipeline);
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
            std::fprintf(Err(), terminal ? "\r%d/%.0f frames, %.1f fps, %.0f s left   " : "%d/%.0f frames, %.1f fps, %.0f s left\n",
                         done, total, rate, left);
        }
    }
    if (terminal)
        std::fputc('\n', Err());
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
