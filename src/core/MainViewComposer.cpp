#include "MainViewComposer.h"

#include <climits>

#include <opencv2/imgproc.hpp>

#include "geometry/LensGeometry.h"

namespace zrfe {

bool CanRemap(const cv::Mat& input, const cv::Mat& matMapX, const cv::Mat& matMapY)
{
    return !input.empty() && !matMapX.empty() && matMapX.type() == CV_32FC1 && matMapY.type() == CV_32FC1 &&
           matMapX.size() == matMapY.size() && input.cols < SHRT_MAX && input.rows < SHRT_MAX &&
           matMapX.cols < SHRT_MAX && matMapX.rows < SHRT_MAX;
}

namespace {

// The lens circle: the working image itself for a wall camera; for floor and
// ceiling, the 2r square about the centre after masking to radius r.
bool CircleView(const cv::Mat& working, const ZRMainViewSettings& g, cv::Mat& circle)
{
    if (IsWall(g.nInstallMode)) {
        circle = working;
        return true;
    }
    const int s = static_cast<int>(g.uHalfSize);
    const int r = static_cast<int>(g.uRadius);
    if (r < 1 || r > s)
        return false;
    cv::Mat mask(working.size(), working.type(), cv::Scalar(0, 255, 255, 0));
    cv::circle(mask, cv::Point(s, s), r, cv::Scalar(255, 255, 255, 0), -1, cv::LINE_8, 0);
    cv::Mat masked;
    cv::bitwise_and(working, mask, masked);
    circle = masked(cv::Rect(s - r, s - r, 2 * r, 2 * r));
    return true;
}

// The ground strip turned left by the ground angle, optionally cut in two halves stacked.
bool GroundPanorama(const cv::Mat& strip, const ZRMainViewSettings& g, cv::Mat& out)
{
    const int Wp = strip.cols;
    const unsigned int product = static_cast<unsigned int>(Wp) * g.uAngle;
    const int shift = static_cast<int>(static_cast<float>(product) / 360.0f);
    cv::Mat turned;  // a new picture: hconcat must not write over the strip it reads
    if (shift >= 1 && shift < Wp)
        cv::hconcat(strip.colRange(shift, Wp), strip.colRange(0, shift), turned);
    else
        turned = strip;
    if (g.nViewType == ZR_FE_VIEW_DOUBLE_PANORAMA) {
        const int half = (Wp / 16) * 8;
        if (half < 1)
            return false;
        cv::vconcat(turned.colRange(0, half), turned.colRange(half, 2 * half), out);
        return true;
    }
    out = turned;
    return true;
}

}  // namespace

bool ComposeMainView(const cv::Mat& source, const ZRMainViewSettings& g,
                     const std::function<void(cv::Mat&)>& drawOutlines, cv::Mat& out)
{
    const int side = 2 * static_cast<int>(g.uHalfSize);
    if (source.empty() || source.type() != CV_8UC3 || !IsKnownMode(g.nInstallMode) || side < 2)
        return false;
    cv::Mat working;
    cv::resize(source, working, cv::Size(side, side), 0, 0, cv::INTER_LINEAR);
    cv::Mat circle;
    if (!CircleView(working, g, circle))
        return false;
    if (drawOutlines)
        drawOutlines(circle);
    if (g.nViewType == ZR_FE_VIEW_ORIGINAL) {
        out = circle;
        return true;
    }
    if (!CanRemap(circle, g.matMapX, g.matMapY))
        return false;
    cv::Mat panorama;
    cv::remap(circle, panorama, g.matMapX, g.matMapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    if (IsWall(g.nInstallMode)) {
        const cv::Rect window(static_cast<int>(g.stWall.uStartX), static_cast<int>(g.stWall.uStartY),
                              static_cast<int>(g.stWall.uWidth), static_cast<int>(g.stWall.uHeight));
        if (window.x < 0 || window.y < 0 || window.width < 1 || window.height < 1 ||
            window.x > panorama.cols - window.width || window.y > panorama.rows - window.height)
            return false;
        out = panorama(window);
        return true;
    }
    return GroundPanorama(panorama, g, out);
}

}  // namespace zrfe
