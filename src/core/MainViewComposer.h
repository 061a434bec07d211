// The main view, composed from the source picture.
#ifndef ZRFISHEYE_CORE_MAINVIEWCOMPOSER_H
#define ZRFISHEYE_CORE_MAINVIEWCOMPOSER_H

#include <functional>

#include <opencv2/core.hpp>

#include "ZRFishEye.h"

// Everything the composition reads, taken together under the panorama
// holder's lock so that a rebuild on the host thread never mixes two settings.
struct ZRMainViewSettings {
    unsigned int uHalfSize = 0;
    unsigned int uRadius = 0;
    int nInstallMode = 0;
    int nViewType = 0;
    unsigned int uAngle = 0;
    tag_ZR_FE_WALL_VIEW_S stWall{};
    cv::Mat matMapX;
    cv::Mat matMapY;
};

namespace zrfe {

// Resizes the source to the working image, masks it to the lens circle (floor
// and ceiling: luma 0 outside radius r, chroma kept) and cuts the original
// view, calls drawOutlines on it, then remaps, turns or crops as the view type
// asks. The result may share memory with temporaries of the call but never with
// the source. False, with out untouched, when the settings do not fit the
// picture (empty tables, a crop outside the working image, a degenerate size).
bool ComposeMainView(const cv::Mat& source, const ZRMainViewSettings& settings,
                     const std::function<void(cv::Mat&)>& drawOutlines, cv::Mat& out);

// cv::remap addresses its input and output with 16-bit signed coordinates.
bool CanRemap(const cv::Mat& input, const cv::Mat& matMapX, const cv::Mat& matMapY);

}  // namespace zrfe

#endif
