// The command line's side of the lens circle: its option text and the framing of an input.
#include <algorithm>
#include <cstdio>

#include "CommandLine.h"
#include "LensCircle.h"
#include "Session.h"

namespace zrtool {

CircleChoice ParseCircleChoice(const std::string& text)
{
    CircleChoice c;
    const CircleParse parsed = ParseCircleText(text, c);
    if (parsed == CircleParse::kBadText)
        throw UsageError("--circle takes auto or CX,CY,R in frame pixels, not '" + text + "'");
    if (parsed == CircleParse::kSmallRadius)
        throw UsageError("--circle radius " + text.substr(text.rfind(',') + 1) + " is under " +
                         std::to_string(kMinCircleRadius) + " pixels");
    return c;
}

void Framing::Settle(const std::vector<cv::Mat>& samples)
{
    if (m_settled || samples.empty())
        return;
    const cv::Mat& first = samples[0];
    const int w = first.cols, h = first.rows;
    m_settled = true;
    CircleChoice::Mode mode = m_choice.mode;
    if (mode == CircleChoice::kDefault)
        mode = w == h ? CircleChoice::kStretch : CircleChoice::kAuto;
    if (mode == CircleChoice::kStretch) {
        m_stretch = true;
        return;
    }
    if (mode == CircleChoice::kGiven) {
        const LensCircle& c = m_choice.circle;
        if (c.cx < 0 || c.cy < 0 || c.cx > w || c.cy > h)
            throw UsageError("--circle " + CircleText(c) + " has its centre outside the " + std::to_string(w) + "x" +
                             std::to_string(h) + " frame");
        m_crop = CropFor(c);
        return;
    }
    const CircleFinding f = FindLensCircle(samples);
    if (f.found) {
        m_crop = CropFor(f.circle);
        if (!m_quiet)
            std::fprintf(Err(), "zrfisheye: lens circle found (confidence %.2f): --circle %s\n", f.confidence,
                         CircleText(f.circle).c_str());
        return;
    }
    m_crop.side = std::min(w, h) / 2 * 2;
    m_crop.x = (w - m_crop.side) / 4 * 2;
    m_crop.y = (h - m_crop.side) / 4 * 2;
    if (!m_quiet)
        std::fprintf(Err(), "zrfisheye: no lens circle found in the %dx%d frame; feeding its centred %dx%d square\n", w,
                     h, m_crop.side, m_crop.side);
}

cv::Mat Framing::SquareBgr(const cv::Mat& bgr)
{
    if (!m_settled)
        Settle({bgr});
    if (m_stretch) {
        if (bgr.cols % 2 == 0 && bgr.rows % 2 == 0)
            return bgr;
        return bgr(cv::Rect(0, 0, bgr.cols / 2 * 2, bgr.rows / 2 * 2)).clone();
    }
    return CropBgr(bgr, m_crop);
}

zrscene::Nv12Picture Framing::Square(const cv::Mat& bgr)
{
    return zrscene::BgrToNv12(SquareBgr(bgr));
}

}  // namespace zrtool
