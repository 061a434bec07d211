// What fast mode's kernels read: the frame in its own 4:2:0 planes, and each
// view's table composed once with every scaling between that frame and the
// picture the view's remap table addresses, so that one bilinear sample per
// output sample reads the frame itself.
#ifndef ZRFISHEYE_KERNELS_FASTINPUTS_H
#define ZRFISHEYE_KERNELS_FASTINPUTS_H

#include <cstdint>

#include <opencv2/core.hpp>

#include "KernelInputs.h"

namespace zrfe {
namespace kernels {

// Every plane is kept inside a border of this many zero samples, so that a tap
// one sample off the picture reads 0 (the exact path's constant border) and no
// gather needs a bounds test.
constexpr int kFastBorder = 1;

// A frame as fast mode keeps it: luma (width x height) and its U V pairs
// (width / 2 x height / 2, CV_8UC2, as NV12 holds them: one read gives both), each
// a continuous matrix with the zero border around it.
struct FastPlanes {
    int width = 0;
    int height = 0;
    cv::Mat luma, chroma;
    bool empty() const { return luma.empty(); }
    // The part of each plane that holds the picture.
    cv::Mat LumaInside() const;
    cv::Mat ChromaInside() const;
};

// Whether fast mode can address a frame of this size (its bordered luma within
// the entries' index bits: up to about 4094 x 4094).
bool FastFrameFits(int width, int height);

// Sizes the planes for a frame (zeroed only when the size changes); false below
// 2 x 2 or for a frame that does not fit.
bool PrepareFastPlanes(int width, int height, FastPlanes& planes);

// Fast tables sample at 1/16 pixel: one 32-bit entry holds the byte offset in the
// bordered plane of the top-left tap (luma sample, or chroma pair) above
// (fy << 4) | fx. An entry that samples nothing points at the border's first
// sample with fraction 0, and so reads 0.
constexpr int kFastFractionBits = 4;
constexpr int kFastFractionSteps = 1 << kFastFractionBits;
constexpr int kFastOffsetShift = 2 * kFastFractionBits;

struct FastPlaneTable {
    cv::Mat entries;  // CV_32SC1, read as uint32_t
    bool empty() const { return entries.empty(); }
    int cols() const { return entries.cols; }
    int rows() const { return entries.rows; }
};

// A view's fast table for frames of one size. Chroma sample (j, i) of a view
// covers the 2 x 2 luma block whose top-left entry sits at table row t, column c;
// it is sampled at the block's centre, from chroma[t & 1][c & 1] at row t >> 1,
// column c >> 1. Sub views only need the even phase; panoramas are shown turned
// and windowed, so they keep all four.
struct FastTable {
    cv::Size frame;
    cv::Size tableSize;
    FastPlaneTable luma;
    FastPlaneTable chroma[2][2];
    bool empty() const { return luma.empty(); }
};

// Where a view's table entries sample, and how that picture maps to the frame.
struct FastTableSource {
    // Per entry the sampled position in the picture the exact path remaps
    // (CV_32FC1); both empty: the identity over tableSize (the original view shown as it is).
    cv::Mat mapX, mapY;
    cv::Size tableSize;
    // That picture's size; a sample whose taps all fall outside it reads 0.
    cv::Size picture;
    // Its pixel (x, y) is the working image's pixel (x + offset, y + offset), and
    // the working image is the source square scaled by 1 / scale (1 and 0 for a
    // table that reads the source square itself).
    double offset = 0.0;
    double scale = 1.0;
    // Luma outside this circle of the picture is 0 (null: no mask).
    const CircleSpans* circle = nullptr;
    // Columns wrap around the table (a panorama turned round).
    bool wrapColumns = false;
    bool allPhases = false;
};

// The table for frames of this size: the source square of side frame.width is the
// frame scaled vertically. Empty for a frame that does not fit.
void BuildFastTable(const FastTableSource& source, cv::Size frame, FastTable& out);

}  // namespace kernels
}  // namespace zrfe

#endif
