// Carrying pictures between the host's frame formats and the working format.
//
// The working format is a CV_8UC3 cv::Mat with Y, U, V interleaved at full
// resolution (4:4:4); black is (0, 128, 128). Packets are three-plane 4:2:0
// pictures in the plane order Y, V, U; descriptors are NV12 (Y, then U V pairs).
// The pixel work is done by the active kernels.
#ifndef ZRFISHEYE_ENGINE_FRAMECONVERSION_H
#define ZRFISHEYE_ENGINE_FRAMECONVERSION_H

#include <opencv2/core.hpp>

#include "ZRFishEyeEngine.h"

namespace zrfe {

// Whether the picture can be read without leaving the host's buffer: planes
// present, at least 2 x 2 pixels, pitches no shorter than a line.
bool IsReadableFrameDesc(const tag_ZRFRAME* pDesc);
bool IsReadablePicture(CZRPacketPIC* pPacket);

// Both fill dst as an h x w working picture; -1 (dst untouched) for a null or
// unreadable picture or a target below 1 x 1.
int FrameDescToMat(const tag_ZRFRAME* pDesc, cv::Mat& dst, int w, int h);
int PictureToMat(CZRPacketPIC* pPacket, cv::Mat& dst, int w, int h);

// The frame's packet as a 4:2:0 picture of this size, for a render to write a
// view into: the packet is reused when its size matches (a steady stream of one
// size allocates nothing), else the frame gets a new one; false (frame
// untouched) below 2 x 2 or when no packet can be had.
bool FramePicture(CZRFrame& frm, ViewSize size, PlanarPicture& out);

}  // namespace zrfe

#endif
