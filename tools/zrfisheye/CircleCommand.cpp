// zrfisheye circle: the lens circle of a picture, video, camera or stream.
#include <cstdio>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "CommandLine.h"
#include "Commands.h"
#include "FrameSource.h"
#include "LensCircle.h"
#include "Session.h"

namespace zrtool {

namespace {

const char kHelp[] =
    "usage: zrfisheye circle INPUT [--draw OUT.png]\n"
    "Finds the lens circle of a picture, video, camera or stream (in a few of its first frames) and prints\n"
    "it as CX,CY,R, the value --circle takes, with a confidence from 0 to 1. Where it finds none it prints\n"
    "the circle of the frame's centred square with confidence 0. --draw writes the first frame with the\n"
    "circle drawn over it.\n";
const cv::Scalar kDrawColour(0, 255, 0);
// Lines a little thicker in larger frames, so that they stay visible when the picture is shown shrunk.
const int kPixelsPerLineWidth = 500;

}  // namespace

int RunCircle(const std::vector<std::string>& args)
{
    std::string input, draw;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--draw") {
            draw = OptionValue(args, i);
        } else if (!a.empty() && a[0] == '-') {
            throw UsageError("unknown option '" + a + "'");
        } else if (input.empty()) {
            input = a;
        } else {
            throw UsageError("more than one input: '" + input + "' and '" + a + "'");
        }
    }
    if (input.empty())
        throw UsageError("no INPUT given (try --help)");
    const bool live = IsLiveInput(input);
    std::vector<cv::Mat> samples;
    if (!live) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(input, ec))
            throw UsageError("cannot read '" + input + "': no such file");
        try {
            cv::Mat picture = cv::imread(input, cv::IMREAD_COLOR);
            if (!picture.empty())
                samples.push_back(picture);
        } catch (const cv::Exception&) {
        }
    }
    if (samples.empty()) {
        cv::VideoCapture video;
        if (!OpenVideo(video, input)) {
            if (live)
                throw SourceError("cannot open '" + input + "'");
            throw UsageError("'" + input + "' is neither a picture nor a video that OpenCV can read");
        }
        samples = ReadCircleSamples(video, live);
        if (samples.empty())
            throw SourceError("'" + input + "' gave no frame");
    }
    CircleFinding f = FindLensCircle(samples);
    if (!f.found) {
        const cv::Size size = samples[0].size();
        f.circle = {size.width / 2.0, size.height / 2.0, std::min(size.width, size.height) / 2.0};
        f.confidence = 0;
        std::fprintf(Err(), "zrfisheye circle: no lens circle found in the %dx%d frame; the centred square's is\n",
                     size.width, size.height);
    }
    std::printf("%s confidence %.2f\n", CircleText(f.circle).c_str(), f.confidence);
    if (!draw.empty()) {
        cv::Mat picture = samples[0].clone();
        const int width = 1 + std::max(picture.cols, picture.rows) / kPixelsPerLineWidth;
        const cv::Point centre(static_cast<int>(f.circle.cx), static_cast<int>(f.circle.cy));
        cv::circle(picture, centre, static_cast<int>(f.circle.r), kDrawColour, width, cv::LINE_AA);
        cv::drawMarker(picture, centre, kDrawColour, cv::MARKER_CROSS, 20 * width, width);
        bool written = false;
        try {
            written = cv::imwrite(draw, picture);
        } catch (const cv::Exception&) {
        }
        if (!written)
            throw UsageError("cannot write '" + draw + "'");
        std::printf("wrote %s\n", draw.c_str());
    }
    return 0;
}

}  // namespace zrtool
