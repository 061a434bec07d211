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

// The smallest lens circle taken, in frame pixels.
constexpr int kMinCircleRadius = 16;

// Reads "auto" or "CX,CY,R" into `choice`, which is left as it was when the text is refused.
enum class CircleParse { kOk, kBadText, kSmallRadius };
CircleParse ParseCircleText(const std::string& text, CircleChoice& choice);
// As ParseCircleText, for the command line: throws UsageError on a refused text.
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

// A 4:2:0 frame in memory: plane 0 is Y; NV12 has its U V pairs in plane 1, I420 has U in
// plane 1 and V in plane 2. Only the frame's even part is read, so that each chroma sample
// covers a whole 2x2 block.
struct PlaneView {
    const unsigned char* data = nullptr;
    int pitch = 0;
};
struct Yuv420View {
    int width = 0, height = 0;
    PlaneView planes[3];
};
// Where a crop goes: planes laid out as the frame's, of the square's sizes.
struct Yuv420Target {
    unsigned char* planes[3];
    int pitches[3];
};
// The square cut straight from a frame of that format, never through BGR.
void CropNv12(const Yuv420View& frame, const SquareCrop& crop, const Yuv420Target& out);
void CropI420(const Yuv420View& frame, const SquareCrop& crop, const Yuv420Target& out);
zrscene::Nv12Picture CropNv12(const zrscene::Nv12Picture& frame, const SquareCrop& crop);

// Turns the frames of one input into the square pictures fed to the dewarper, as chosen
// (the command line's; the finding and cropping above stand alone).
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
