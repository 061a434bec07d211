// A synthetic room seen through an ideal equidistant 180-degree fisheye lens.
//
// The room is a box 8 m wide (x, west to east), 8 m deep (y, south to north)
// and 3 m high (z). The floor is a checkerboard of 0.5 m tiles, the ceiling
// light grey with a 1 m grid, and each wall has its own colour with vertical
// lines every 0.5 m, horizontal lines every 0.5 m of height and a number every
// metre. The cameras:
//   ceiling: at the centre of the ceiling, looking down, north at the top;
//   ground:  at the centre of the floor, looking up, north at the bottom;
//   wall:    on the south wall at 1.5 m, looking north, up at the top.
// A fisheye picture of side N has its lens circle centred on pixel (N/2, N/2)
// with radius N/2; a ray at angle theta from the axis lands at distance
// theta / (pi/2) * N/2 from the centre. Pictures are BGR unless said otherwise.
#ifndef ZRFISHEYE_TOOLS_FISHEYESCENE_H
#define ZRFISHEYE_TOOLS_FISHEYESCENE_H

#include <functional>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "ZRFishEye.h"

namespace zrscene {

struct Vec3 {
    double x, y, z;
};

// Camera-frame ray (x right, y down, z along the lens axis) in world coordinates.
Vec3 CameraToWorld(ENUM_ZR_FE_INSTALL_MODE_E mount, const Vec3& cam);
Vec3 WorldToCamera(ENUM_ZR_FE_INSTALL_MODE_E mount, const Vec3& world);
Vec3 CameraPosition(ENUM_ZR_FE_INSTALL_MODE_E mount);

// The colour (BGR) of the first surface a world ray from the camera meets.
cv::Vec3b TraceColour(ENUM_ZR_FE_INSTALL_MODE_E mount, const Vec3& worldDir);

// The room can also be seen through any of the library's lens models, the
// circle's rim at half the lens's field of view; the built-in lens here means the
// scene's own equidistant 180-degree lens.
tag_ZRLENS SceneLens();

// Where a world point appears in a fisheye picture of side N (false when behind
// the lens, or beyond half its field of view).
bool ProjectToFisheye(ENUM_ZR_FE_INSTALL_MODE_E mount, const Vec3& worldPoint, int side, double& px, double& py,
                      const tag_ZRLENS& lens = SceneLens());

// The fisheye picture, side N, supersampled 2 x 2 per pixel; black outside the circle.
cv::Mat RenderFisheye(ENUM_ZR_FE_INSTALL_MODE_E mount, int side, const tag_ZRLENS& lens = SceneLens());

// The same camera looking at another world: colourOf gives the colour (BGR) that
// a world ray from the camera sees.
using WorldColourFn = std::function<cv::Vec3b(const Vec3& worldDir)>;
cv::Mat RenderFisheyeOf(ENUM_ZR_FE_INSTALL_MODE_E mount, int side, const tag_ZRLENS& lens,
                        const WorldColourFn& colourOf);

// Ground truth of the wall panorama: the longitude/latitude picture over a grid of
// n angles from -90 to +90 degrees (the same grid as the dewarper's wall table),
// cut to the window (x, y, width, height) of that n x n grid.
cv::Mat RenderLongLat(ENUM_ZR_FE_INSTALL_MODE_E mount, int n, const cv::Rect& window);

// Ground truth of a pinhole camera at the lens, looking along camDir (camera frame
// of the mount) with camDown pointing down its picture: pixel (x, y) looks along
// camDir + (x - cx) / fx * right + (y - cy) / fy * down.
struct Pinhole {
    Vec3 dir, down;
    double fx, fy, cx, cy;
    int width, height;
};
cv::Mat RenderPerspective(ENUM_ZR_FE_INSTALL_MODE_E mount, const Pinhole& camera);

// Conversions for the dewarper: BGR to the working format (Y, U, V) and to NV12.
cv::Mat BgrToWorking(const cv::Mat& bgr);
struct Nv12Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> luma, chroma;
    tag_ZRFRAME Descriptor();
};
Nv12Picture BgrToNv12(const cv::Mat& bgr);

// A frame's packet as a BGR picture (chroma upsampled bilinearly).
cv::Mat PacketToBgr(CZRPacketPIC* pkt);

bool ParseMount(const std::string& name, ENUM_ZR_FE_INSTALL_MODE_E& mount);
const char* MountName(ENUM_ZR_FE_INSTALL_MODE_E mount);

}  // namespace zrscene

#endif
