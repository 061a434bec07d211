// Drives one dewarper through its public pipeline and collects each view's picture.
#ifndef ZRFISHEYE_TOOLS_SESSION_H
#define ZRFISHEYE_TOOLS_SESSION_H

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "ZRFishEye.h"
#include "scene/FisheyeScene.h"

namespace zrtool {

// A problem with what the user asked for; main prints it on one line and exits 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Thrown by an option parser once it has printed the help: the command ends with status 0.
struct HelpShown {};

// An input that stops or cannot be reached (a camera, a stream); main says so on one line and exits 1.
struct SourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct SessionSettings {
    ENUM_ZR_FE_INSTALL_MODE_E mount = ZR_FE_INSTALL_CEILING;
    int radius = 0;  // lens-circle radius of the main view; 0: half the frame side
    ENUM_ZR_FE_VIEW_TYPE_E view = ZR_FE_VIEW_PANORAMA;
    int subViews = 0;
    int subWidth = 640, subHeight = 360;
    unsigned int subWorkers = 2;
    bool fast = false;  // fast render mode
};

class Session : public IZRCallback {
public:
    Session(const SessionSettings& settings, int frameSide);
    ~Session() override;

    CZRFishEyeDewarper& Dewarper() { return *m_dewarper; }
    // Feeds one frame (retrying while the pipeline is busy) and waits for every view.
    // pictures[0] is the main view, pictures[1 + i] sub view i (BGR).
    bool Run(tag_ZRFRAME& frame, std::vector<cv::Mat>& pictures);

    // The live road, without waiting: Offer hands a frame over when the previous one is
    // done (false: still busy, the frame is not taken); Poll keeps offering a frame that
    // the dewarper's gate refused and answers true once every view of it has arrived.
    // The frame's memory must stay valid until then.
    bool Busy() const { return m_inFlight; }
    bool Offer(const tag_ZRFRAME& frame);
    bool Poll(std::vector<cv::Mat>& pictures);
    // Sets the number of sub views. Meant for between frames: a frame in flight may have been
    // started with the old count, and is given up when fewer views arrive than it waits for.
    void SetSubViewCount(int count);
    int SubViewCount() const { return m_views - 1; }

    int OnSignal(CZRObject* pSender, int nCode, void* pParam1, void* pParam2) override;

private:
    using Clock = std::chrono::steady_clock;

    std::unique_ptr<CZRFishEyeDewarper> m_dewarper;
    int m_views;
    bool m_inFlight = false;
    tag_ZRFRAME m_frame{};
    int m_seen = 0;  // views of the frame in flight that Poll has seen arrive
    Clock::time_point m_lastSign;
    std::mutex m_mtx;
    std::condition_variable m_cv;
    std::vector<cv::Mat> m_pictures;
    int m_received = 0;
};

// Reads "WxH".
bool ParseSize(const std::string& text, int& w, int& h);

}  // namespace zrtool

#endif
