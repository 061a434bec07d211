// The lens circle of a camera frame, and the square picture around it that the library takes.
//
// Coordinates are frame pixels, pixel (i, j) centred on (i, j): a circle that fills a square
// frame of side N has centre (N/2, N/2) and radius N/2, as the synthetic scene draws it.
#ifndef ZRFISHEYE_TOOLS_LENSCIRCLE_H
#define ZRFISHEYE_TOOLS_LENSCIRCLE_H

#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "scene/FisheyeScene.h"

namespace zrtool {

struct LensCircle {
    double cx = 0, cy = 0, r = 0;
};

// What the user asked for: the default (find the circle in a frame that is not square, take a
// square frame whole), --circle auto, --circle CX,CY,R, or --no-crop (the frame stretched as it is).
struct CircleChoice {
    enum Mode { kDefault, kAuto, kGiven, kStretch } mode = kDefault;
    LensCircle circle;
};

// Reads "auto" or "CX,CY,R"; throws UsageError on anything else or a radius under the minimum.
CircleChoice ParseCircleChoice(const std::string& text);
// The text that --circle reads back.
std::string CircleText(const LensCircle& c);

struct CircleFinding {
    bool found = false;
    LensCircle circle;
    double confidence = 0;  // share of the rays that cross the circle inside the frame and find its rim there
};

// Finds the rim between the dark border and the lit circle along rays from the frame centre, in
// the average of the sample frames (BGR, all of one size), and fits a circle to it robustly.
CircleFinding FindLensCircle(const std::vector<cv::Mat>& frames);

// The square of side 2R around a circle, its corner on even coordinates so that NV12 chroma
// stays aligned; the parts outside the frame are black.
struct SquareCrop {
    int x = 0, y = 0, side = 0;
};
SquareCrop CropFor(const LensCircle& c);
cv::Mat CropBgr(const cv::Mat& bgr, const SquareCrop& crop);
zrscene::Nv12Picture CropNv12(const zrscene::Nv12Picture& frame, const SquareCrop& crop);

// Turns the frames of one input into the square pictures fed to the dewarper, as chosen.
class Framing {
public:
    Framing(const CircleChoice& choice, bool quiet) : m_choice(choice), m_quiet(quiet) {}

    // Decides the square from a few frames of the input; the first call does, later ones are ignored.
    // Refuses (UsageError) a given circle outside the frame; says on Err() what it found.
    void Settle(const std::vector<cv::Mat>& samples);
    bool Settled() const { return m_settled; }
    // The frame as fed (settling on it alone when no samples came before).
    zrscene::Nv12Picture Square(const cv::Mat& bgr);
    cv::Mat SquareBgr(const cv::Mat& bgr);

private:
    CircleChoice m_choice;
    bool m_quiet;
    bool m_settled = false, m_stretch = false;
    SquareCrop m_crop;
};

}  // namespace zrtool

#endif
