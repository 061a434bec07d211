// The float tables of a perspective view through the unified omnidirectional
// camera model, as cv::omnidir::initUndistortRectifyMap (RECTIFY_PERSPECTIVE,
// CV_32FC1) computes them, with the rows split over the threads.
#ifndef ZRFISHEYE_NORMAL_UNIFIEDCAMERAVIEWMAP_H
#define ZRFISHEYE_NORMAL_UNIFIEDCAMERAVIEWMAP_H

#include <opencv2/core.hpp>

namespace zrfe {

// The camera as OpenCV takes it: K 3x3, D (k1, k2, p1, p2) and xi, all float;
// the rotation 3x3 double; P 3x3 float.
struct UnifiedCamera {
    cv::Mat K, D, xi;
};

// Gives the same bits as OpenCV's call, which runs on one thread and was most of
// a sub view's re-aim. Where OpenCV's own build rounds another way (checked once,
// on a small view), OpenCV's call is made instead.
void BuildUnifiedCameraViewMap(const UnifiedCamera& camera, const cv::Mat& rotation, const cv::Mat& P, cv::Size size,
                               cv::Mat& mapX, cv::Mat& mapY);

// Whether the rows are computed here (true) or by OpenCV's call.
bool UnifiedCameraViewMapIsOwn();

}  // namespace zrfe

#endif
