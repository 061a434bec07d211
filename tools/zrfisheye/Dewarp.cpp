// zrfisheye dewarp: the user's own pictures, videos, cameras and streams.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "CommandLine.h"
#include "Commands.h"
#include "FrameSource.h"
#include "Outputs.h"
#include "PipelineOptions.h"
#include "Session.h"

namespace zrtool {

namespace {

using Clock = std::chrono::steady_clock;

const char kHelpHead[] =
    "usage: zrfisheye dewarp INPUT [options]\n"
    "INPUT is an image, a video file, a camera (/dev/video0 or its index) or a stream (rtsp://, http://).\n"
    "Images give one PNG per view, the rest one video per view, written to --out DIR (default zrfisheye-out).\n";
const char kHelpTail[] =
    "  --format mp4|mkv|avi|png      H.264 in MP4 (default) or MKV, Motion JPEG AVI, or numbered PNG files\n"
    "  --layout views|mosaic         one output per view (default), or the main view above the sub views\n"
    "  --max-frames N                stop after N frames of the input\n"
    "  --duration SECONDS            stop after this long\n"
    "  --quiet                       print nothing but errors\n"
    "A live source that stops or cannot be opened ends with status 1; Ctrl-C stops with every file closed.\n";
const int kMaxDurationSeconds = 1 << 24;
const int kInterruptedStatus = 130;
const std::chrono::milliseconds kIdleWait(1);
// Progress goes to a terminal as one line rewritten in place, elsewhere as a line this often.
const double kReportSeconds = 5.0;

std::atomic<bool> g_interrupted{false};

void OnInterrupt(int) { g_interrupted = true; }

struct Options {
    std::string input, out = "zrfisheye-out";
    PipelineOptions pipeline;
    OutputFormat format = OutputFormat::kMp4;
    OutputLayout layout = OutputLayout::kViews;
    int maxFrames = -1;
    double duration = -1;
    bool quiet = false;
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
            std::fputs(kPipelineOptionsHelp, stdout);
            std::fputs(kLensOptionsHelp, stdout);
            std::fputs(kHelpTail, stdout);
            throw HelpShown();
        } else if (a == "--max-frames") {
            o.maxFrames = ParseInt(a, OptionValue(args, i), 1, 1 << 30);
        } else if (a == "--duration") {
            o.duration = ParseInt(a, OptionValue(args, i), 1, kMaxDurationSeconds);
        } else if (a == "--format") {
            o.format = ParseOutputFormat(OptionValue(args, i));
        } else if (a == "--layout") {
            o.layout = ParseOutputLayout(OptionValue(args, i));
        } else if (a == "--quiet") {
            o.quiet = true;
        } else if (a == "--out") {
            o.out = OptionValue(args, i);
        } else {
            TakeInput(a, o.input);
        }
    }
    FinishPipelineOptions(o.input, o.pipeline);
    return o;
}

std::unique_ptr<Session> StartSession(const Options& o, int side)
{
    CheckFrameSide(o.pipeline, side);
    std::unique_ptr<Session> session(new Session(o.pipeline.session, side));
    ConfigureDewarper(session->Dewarper(), o.pipeline, side);
    return session;
}

// One line of progress: rewritten in place on a terminal, every few seconds elsewhere.
class Progress {
public:
    Progress(bool quiet, double length) : m_quiet(quiet), m_length(length), m_terminal(isatty(fileno(Err())) != 0) {}

    void Report(long long frames, long long dropped, bool last)
    {
        const Clock::time_point now = Clock::now();
        if (m_quiet || (!last && !m_terminal && std::chrono::duration<double>(now - m_last).count() < kReportSeconds))
            return;
        m_last = now;
        const double rate = frames / std::max(std::chrono::duration<double>(now - m_start).count(), 1e-6);
        std::string line = std::to_string(frames) + (m_length > 0 ? "/" + std::to_string(static_cast<long long>(m_length)) : "") +
                           " frames, " + Fixed(rate) + " fps, " + std::to_string(dropped) + " dropped";
        if (m_length > 0 && rate > 0 && !last)
            line += ", " + std::to_string(static_cast<long long>((m_length - frames) / rate)) + " s left";
        std::fprintf(Err(), m_terminal ? "\r%s   %s" : "%s%s", line.c_str(), last || !m_terminal ? "\n" : "");
    }

private:
    static std::string Fixed(double v)
    {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f", v);
        return text;
    }

    bool m_quiet;
    double m_length;
    bool m_terminal;
    Clock::time_point m_start = Clock::now(), m_last = Clock::now();
};

int DewarpPicture(const Options& o, FrameSource& source)
{
    std::shared_ptr<SourceFrame> frame = source.Take();
    if (!frame)
        throw UsageError("'" + o.input + "' holds no readable picture");
    std::unique_ptr<Session> session = StartSession(o, frame->nv12.width);
    tag_ZRFRAME descriptor = frame->Descriptor();
    std::vector<cv::Mat> views;
    if (!session->Run(descriptor, views))
        throw std::runtime_error("the pipeline did not answer");
    Outputs outputs(o.out, o.format, o.layout, source.Fps(), true, o.quiet);
    outputs.Write(views);
    outputs.Close();
    return 0;
}

// Frames go to the dewarper as it takes them: every frame of a file, the newest of a live
// source (the rest are dropped and counted).
int DewarpFrames(const Options& o, FrameSource& source)
{
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigaction(SIGINT, &action, nullptr);
    Outputs outputs(o.out, o.format, o.layout, source.Fps(), false, o.quiet);
    Progress progress(o.quiet, source.Live() ? 0 : o.maxFrames > 0 && source.Length() > 0
                                                      ? std::min<double>(o.maxFrames, source.Length())
                                                      : source.Length());
    // Declared before the session, so the frame it may still read outlives it.
    std::shared_ptr<SourceFrame> inFlight;
    std::unique_ptr<Session> session;
    std::vector<cv::Mat> views;
    const Clock::time_point start = Clock::now();
    bool timeUp = false;
    for (;;) {
        timeUp = o.duration > 0 && std::chrono::duration<double>(Clock::now() - start).count() >= o.duration;
        if (g_interrupted || timeUp)
            break;
        if (session && session->Busy()) {
            if (session->Poll(views)) {
                inFlight.reset();
                outputs.Write(views);
                progress.Report(outputs.Frames(), source.FramesDropped(), false);
            } else if (!session->Busy()) {
                throw std::runtime_error("the pipeline did not answer");
            } else {
                std::this_thread::sleep_for(kIdleWait);
            }
            continue;
        }
        // Ended is read first: the reader hands over its last frame before it says it has ended.
        const bool ended = source.Ended();
        std::shared_ptr<SourceFrame> frame = source.Take();
        if (!frame) {
            if (ended)
                break;
            std::this_thread::sleep_for(kIdleWait);
            continue;
        }
        if (!session)
            session = StartSession(o, frame->nv12.width);
        inFlight = frame;
        session->Offer(inFlight->Descriptor());
    }
    if (outputs.Frames() > 0)
        progress.Report(outputs.Frames(), source.FramesDropped(), true);
    session.reset();
    outputs.Close();
    if (g_interrupted)
        return kInterruptedStatus;
    if (!source.Error().empty())
        throw SourceError("'" + o.input + "': " + source.Error());
    if (outputs.Frames() == 0 && !timeUp) {
        if (source.Live())
            throw SourceError("'" + o.input + "' gave no frame");
        throw UsageError("'" + o.input + "' holds no readable frame");
    }
    if (source.Live() && !timeUp && !source.LimitReached())
        throw SourceError("'" + o.input + "' stopped after " + std::to_string(source.FramesRead()) +
                          " frames (it ended, or sent nothing for " + std::to_string(FrameSource::kTimeoutSeconds) +
                          " s)");
    return 0;
}

}  // namespace

int RunDewarp(const std::vector<std::string>& args)
{
    const Options o = Parse(args);
    std::error_code ec;
    std::filesystem::create_directories(o.out, ec);
    if (ec || !std::filesystem::is_directory(o.out))
        throw UsageError("cannot create '" + o.out + "'" + (ec ? ": " + ec.message() : ""));
    FrameSource source(o.input, o.pipeline.circle, false, FrameSource::Pace::kEveryFrame, o.quiet,
                       std::max(o.maxFrames, 0));
    if (source.Still())
        return DewarpPicture(o, source);
    return DewarpFrames(o, source);
}

}  // namespace zrtool
