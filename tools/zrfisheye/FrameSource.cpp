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

bool IsCameraIndex(const std::string& s)
{
    const size_t kMaxDigits = 3;
    return !s.empty() && s.size() <= kMaxDigits &&
           std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

}  // namespace

FrameSource::FrameSource(const std::string& input, bool crop, bool loop) : m_input(input), m_crop(crop), m_loop(loop)
{
    m_live = IsCameraIndex(input) || input.rfind("/dev/", 0) == 0 || input.find("://") != std::string::npos;
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
            Publish(picture);
            return;
        }
    }
    if (!Open())
        throw UsageError(m_live ? "cannot open '" + input + "'"
                                : "'" + input + "' is neither a picture nor a video that OpenCV can read");
    const double fps = m_video.get(cv::CAP_PROP_FPS);
    m_fps = fps > 0 && fps <= kMaxFps ? fps : kDefaultFps;
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
    try {
        if (IsCameraIndex(m_input))
            m_video.open(std::stoi(m_input), cv::CAP_ANY);
        else
            m_video.open(m_input, m_live ? cv::CAP_ANY : cv::CAP_FFMPEG);
    } catch (const cv::Exception&) {
    }
    return m_video.isOpened();
}

void FrameSource::Publish(const cv::Mat& bgr)
{
    auto frame = std::make_shared<SourceFrame>();
    frame->nv12 = zrscene::BgrToNv12(PrepareFrame(bgr, m_crop, m_announced));
    ++m_read;
    std::lock_guard<std::mutex> lock(m_mtx);
    if (m_latest)
        ++m_dropped;
    m_latest = std::move(frame);
}

std::shared_ptr<SourceFrame> FrameSource::Take()
{
    std::lock_guard<std::mutex> lock(m_mtx);
    return std::move(m_latest);
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
            if (!m_live) {
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
            } catch (const std::exception&) {
                // A frame that cannot be converted ends the input like a broken stream.
                m_ended = true;
                return;
            }
        }
        if (!m_live) {
            due += period;
            const Clock::time_point now = Clock::now();
            if (now - due > period * kResyncFrames)
                due = now;
        }
    }
}

}  // namespace zrtool
