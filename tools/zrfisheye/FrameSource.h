// Where the viewer's frames come from: a picture, a video file played at its own
// frame rate, or a live source (camera, stream) read on its own thread.
#ifndef ZRFISHEYE_TOOLS_FRAMESOURCE_H
#define ZRFISHEYE_TOOLS_FRAMESOURCE_H

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <opencv2/videoio.hpp>

#include "LensCircle.h"
#include "scene/FisheyeScene.h"

namespace zrtool {

// One frame as the dewarper takes it.
struct SourceFrame {
    zrscene::Nv12Picture nv12;
    tag_ZRFRAME Descriptor() { return nv12.Descriptor(); }
};

// A camera (/dev/..., or its index) or a stream (a URL) rather than a file.
bool IsLiveInput(const std::string& input);
// Opens a video file, camera or stream; a stream that does not answer in FrameSource::kTimeoutSeconds fails.
bool OpenVideo(cv::VideoCapture& video, const std::string& input);
// A few frames spread over the first seconds of a file (the first few of a live source), where
// the lens circle is looked for.
std::vector<cv::Mat> ReadCircleSamples(cv::VideoCapture& video, bool live);

class FrameSource {
public:
    // How a file is read: at its own frame rate (frames the taker misses are dropped), or every
    // frame as soon as the previous one is taken. A live source is read as it comes either way.
    enum class Pace { kClock, kEveryFrame };
    // Opens the input; throws UsageError when OpenCV cannot open a file, SourceError a live source.
    // Frames become the square picture around the lens circle as chosen.
    // limit: the reader stops after that many frames (0: no limit).
    FrameSource(const std::string& input, const CircleChoice& circle, bool loop, Pace pace = Pace::kClock,
                bool quiet = false, long long limit = 0);
    ~FrameSource();
    FrameSource(const FrameSource&) = delete;
    FrameSource& operator=(const FrameSource&) = delete;

    // The newest frame not taken yet, or null. A frame that the next one replaces
    // before it is taken (the dewarper was busy) counts as dropped.
    std::shared_ptr<SourceFrame> Take();
    // A file stops where it is; a live source goes on being read and its frames are let go.
    void SetPaused(bool paused);

    const std::string& Input() const { return m_input; }
    double Fps() const { return m_fps; }
    // The length of a file in frames, 0 when unknown.
    double Length() const { return m_length; }
    bool Live() const { return m_live; }
    bool Still() const { return m_still; }
    bool Ended() const { return m_ended; }
    bool LimitReached() const { return m_limit > 0 && m_read >= m_limit; }
    // Why the input ended early (a frame that cannot be used), empty when it did not.
    std::string Error();
    // A stream that cannot be opened in this time, or sends nothing for it, has stopped.
    static const int kTimeoutSeconds = 10;
    long long FramesRead() const { return m_read; }
    long long FramesDropped() const { return m_dropped; }

private:
    void Read();
    bool Open();
    void SampleForCircle();
    void Publish(const cv::Mat& bgr);

    std::string m_input;
    Framing m_framing;
    bool m_loop, m_live = false, m_still = false;
    Pace m_pace;
    double m_fps = 0, m_length = 0;
    long long m_limit;
    std::string m_error;
    cv::VideoCapture m_video;
    std::thread m_thread;
    std::mutex m_mtx;
    std::condition_variable m_cv;
    std::shared_ptr<SourceFrame> m_latest;
    bool m_paused = false, m_stop = false;
    std::atomic<bool> m_ended{false};
    std::atomic<long long> m_read{0}, m_dropped{0};
};

}  // namespace zrtool

#endif
