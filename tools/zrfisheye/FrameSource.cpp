#include "FrameSource.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>

#include "PipelineOptions.h"
#include "Session.h"

namespace zrtool {

namespace {

using Clock = std::chrono::steady_clock;

// Files that do not say their rate, or say something absurd, play at this one.
const double kDefaultFps = 25.0;
const double kMaxFps = 240.0;
// A file that falls this many frames behind its clock (a slow disk, a pause) restarts the clock.
const double kResyncFrames = 2.0;
// The lens circle is looked for in this many frames spread over the first seconds of a file.
const int kCircleSamples = 5;
const double kCircleSampleSeconds = 2.0;
const int kMsPerSecond = 1000;

bool IsCameraIndex(const std::string& s)
{
    const size_t kMaxDigits = 3;
    return !s.empty() && s.size() <= kMaxDigits &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

bool IsLiveInput(const std::string& input)
{
    return IsCameraIndex(input) || input.rfind("/dev/", 0) == 0 || input.find("://") != std::string::npos;
}

bool OpenVideo(cv::VideoCapture& video, const std::string& input)
{
    try {
        if (IsCameraIndex(input))
            video.open(std::stoi(input), cv::CAP_ANY);
        else if (input.rfind("/dev/", 0) == 0)
            video.open(input, cv::CAP_ANY);
        else
            video.open(input, cv::CAP_FFMPEG,
                       {cv::CAP_PROP_OPEN_TIMEOUT_MSEC, FrameSource::kTimeoutSeconds * kMsPerSecond,
                        cv::CAP_PROP_READ_TIMEOUT_MSEC, FrameSource::kTimeoutSeconds * kMsPerSecond});
    } catch (const cv::Exception&) {
    }
    return video.isOpened();
}

std::vector<cv::Mat> ReadCircleSamples(cv::VideoCapture& video, bool live)
{
    std::vector<cv::Mat> samples;
    const double fps = video.get(cv::CAP_PROP_FPS);
    const double rate = fps > 0 && fps <= kMaxFps ? fps : kDefaultFps;
    const int spacing = live ? 1 : std::max(1, static_cast<int>(rate * kCircleSampleSeconds / (kCircleSamples - 1)));
    cv::Mat picture;
    try {
        for (int i = 0; static_cast<int>(samples.size()) < kCircleSamples && video.read(picture) && !picture.empty();
             ++i)
            if (i % spacing == 0)
                samples.push_back(picture.clone());
    } catch (const cv::Exception&) {
    }
    return samples;
}

FrameSource::FrameSource(const std::string& input, const CircleChoice& circle, bool loop, Pace pace, bool quiet,
                         long long limit)
    : m_input(input), m_framing(circle, quiet), m_loop(loop), m_pace(pace), m_limit(limit)
{
    m_live = IsLiveInput(input);
    if (!m_live) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(input, ec))
            throw UsageError("cannot read '" + input + "': no such file");
        cv::Mat picture;
        try {
            picture = cv::imread(input, cv::IMREAD_COLOR);
        } catch (const cv::Exception&) {
        }
        if (!picture.empty()) {
            m_still = true;
            m_ended = true;
            m_framing.Settle({picture});
            Publish(picture);
            return;
        }
    }
    if (!Open()) {
        if (m_live)
            throw SourceError("cannot open '" + input + "'");
        throw UsageError("'" + input + "' is neither a picture nor a video that OpenCV can read");
    }
    const double fps = m_video.get(cv::CAP_PROP_FPS);
    m_fps = fps > 0 && fps <= kMaxFps ? fps : kDefaultFps;
    if (!m_live) {
        const double length = m_video.get(cv::CAP_PROP_FRAME_COUNT);
        m_length = length > 0 ? length : 0;
        SampleForCircle();
    }
    m_thread = std::thread(&FrameSource::Read, this);
}

FrameSource::~FrameSource()
{
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_stop = true;
    }
    m_cv.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

bool FrameSource::Open()
{
    return OpenVideo(m_video, m_input);
}

void FrameSource::SampleForCircle()
{
    // A second reader, so that the frames fed still start at the first one.
    cv::VideoCapture video;
    if (OpenVideo(video, m_input))
        m_framing.Settle(ReadCircleSamples(video, false));
}

void FrameSource::Publish(const cv::Mat& bgr)
{
    auto frame = std::make_shared<SourceFrame>();
    frame->nv12 = m_framing.Square(bgr);
    ++m_read;
    std::unique_lock<std::mutex> lock(m_mtx);
    if (m_pace == Pace::kEveryFrame && !m_live)
        m_cv.wait(lock, [&] { return m_stop || !m_latest; });
    if (m_latest)
        ++m_dropped;
    m_latest = std::move(frame);
}

std::shared_ptr<SourceFrame> FrameSource::Take()
{
    std::shared_ptr<SourceFrame> frame;
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        frame = std::move(m_latest);
    }
    m_cv.notify_all();
    return frame;
}

std::string FrameSource::Error()
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return m_error;
}

void FrameSource::SetPaused(bool paused)
{
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        m_paused = paused;
    }
    m_cv.notify_all();
}

void FrameSource::Read()
{
    const Clock::duration period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / m_fps));
    Clock::time_point due = Clock::now();
    cv::Mat picture;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(m_mtx);
            if (!m_live && m_pace == Pace::kClock) {
                // A paused file waits, and its clock starts again on resuming.
                if (m_paused) {
                    m_cv.wait(lock, [&] { return m_stop || !m_paused; });
                    due = Clock::now();
                }
                m_cv.wait_until(lock, due, [&] { return m_stop; });
            }
            if (m_stop)
                return;
        }
        bool got = false;
        try {
            got = m_video.read(picture) && !picture.empty();
        } catch (const cv::Exception&) {
        }
        if (!got && m_loop && !m_live) {
            m_video.release();
            got = Open() && m_video.read(picture) && !picture.empty();
        }
        if (!got) {
            m_ended = true;
            return;
        }
        bool paused = false;
        {
            std::lock_guard<std::mutex> lock(m_mtx);
            paused = m_paused;
        }
        if (!paused) {
            try {
                Publish(picture);
            } catch (const std::exception& e) {
                // A frame that cannot be converted ends the input like a broken stream.
                std::lock_guard<std::mutex> lock(m_mtx);
                m_error = e.what();
                m_ended = true;
                return;
            }
            if (LimitReached()) {
                m_ended = true;
                return;
            }
        }
        if (!m_live && m_pace == Pace::kClock) {
            due += period;
            const Clock::time_point now = Clock::now();
            if (now - due > period * kResyncFrames)
                due = now;
        }
    }
}

}  // namespace zrtool
