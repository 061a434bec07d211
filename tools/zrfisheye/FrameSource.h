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

#include <opencv2/videoio.hpp>

#include "scene/FisheyeScene.h"

namespace zrtool {

// One frame as the dewarper takes it.
struct SourceFrame {
    zrscene::Nv12Picture nv12;
    tag_ZRFRAME Descriptor() { return nv12.Descriptor(); }
};

class FrameSource {
public:
    // Opens the input; throws UsageError when OpenCV cannot. crop: feed the centred square.
    FrameSource(const std::string& input, bool crop, bool loop);
    ~FrameSource();
    FrameSource(const FrameSource&) = delete;
    FrameSource& operator=(const FrameSource&) = delete;

    // The newest frame not taken yet, or null. A frame that the next one replaces
    // before it is taken (the dewarper was busy) counts as dropped.
    std::shared_ptr<SourceFrame> Take();
    // A file stops where it is; a live source goes on being read and its frames are let go.
    void SetPaused(bool paused);

    bool Live() const { return m_live; }
    bool Still() const { return m_still; }
    bool Ended() const { return m_ended; }
    long long FramesRead() const { return m_read; }
    long long FramesDropped() const { return m_dropped; }

private:
    void Read();
    bool Open();
    void Publish(const cv::Mat& bgr);

    std::string m_input;
    bool m_crop, m_loop, m_live = false, m_still = false, m_announced = false;
    double m_fps = 0;
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
