// The library's pictures composed literally: the plain chain of OpenCV calls
// that defines every output byte, written once, from frame to 4:2:0 planes.
// The identity tests hold every faster path against it.
#ifndef ZRFISHEYE_TESTS_LITERALCOMPOSITION_H
#define ZRFISHEYE_TESTS_LITERALCOMPOSITION_H

#include <vector>

#include <opencv2/core.hpp>

#include "ZRFishEye.h"
#include "ZRFishEyeEngine.h"

namespace zrtest {

// What the main view's composition reads, copied out of an engine.
struct LiteralSettings {
    int mode = 0;
    int viewType = 0;
    int radius = 0;
    int halfSize = 0;
    unsigned int angle = 0;
    tag_ZR_FE_WALL_VIEW_S wall{};
    cv::Mat mapX, mapY;                           // the panorama tables
    std::vector<std::vector<cv::Point>> outlines;  // one per sub view whose line-mask bit is set
    std::vector<int> outlineIndex;
};
LiteralSettings SettingsOf(const zrfe::Engine& engine);

// The source picture: the frame, stretched to a square of its width, Y U V interleaved.
cv::Mat LiteralSource(const tag_ZRFRAME& frame);
cv::Mat LiteralSource(CZRPacketPIC* packet);

// The main view, or an empty picture when the settings compose nothing.
cv::Mat LiteralMainView(const cv::Mat& source, const LiteralSettings& settings, bool drawOutlines);
// Sub view i of the engine, or an empty picture.
cv::Mat LiteralSubView(const cv::Mat& source, const zrfe::Engine& engine, int index);

// A working picture as the three 4:2:0 planes Y, U, V.
struct Planes {
    cv::Mat y, u, v;
};
Planes LiteralPlanes(const cv::Mat& working);
// The planes as a picture of the luma's size, for a renderer to write into.
zrfe::PlanarPicture PictureOf(const Planes& planes);

// The planes of a frame's packet (plane 1 is V, plane 2 is U), and of an engine render.
Planes PlanesOf(CZRFrame* frame);
Planes RenderMain(const zrfe::Engine& engine, int& result);
Planes RenderSub(const zrfe::Engine& engine, int index, int& result);

// Byte-for-byte equality of two pictures, and of two sets of planes (sizes and types included).
bool Same(const cv::Mat& a, const cv::Mat& b);
bool SamePlanes(const Planes& a, const Planes& b);

}  // namespace zrtest

#endif
