// The per-pixel work of the library, as a table of kernels.
//
// Every routine that touches every pixel of a frame sits here behind a function
// pointer. The reference table is the plain chain of OpenCV calls whose bytes
// define the library's output; other tables replace some entries with faster
// code that gives the same bytes (the kernel checker in the tests proves it on
// random inputs of many sizes). One table is chosen when first asked for and
// used by every path, so all of them give the same bytes.
//
// Conventions: a working picture is CV_8UC3 with Y, U, V interleaved at full
// resolution. Outputs are allocated by the caller with the stated size and type
// and written in place; a kernel writes nothing outside them.
#ifndef ZRFISHEYE_KERNELS_KERNELS_H
#define ZRFISHEYE_KERNELS_KERNELS_H

#include <vector>

#include <opencv2/core.hpp>

#include "FastInputs.h"
#include "KernelInputs.h"
#include "ZRFishEyeEngine.h"

namespace zrfe {
namespace kernels {

// dst (layout.height() x layout.width, CV_8UC3): output pixel (r, c) is the
// bilinear sample of src (CV_8UC3) at the table's position in row tableRow[r],
// column (columnStart[r] + c) wrapped, with 0 in every channel for taps off src.
using RemapFn = void (*)(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst);

// The same picture written as 4:2:0 planes (see WorkingTo420Fn) without keeping it.
using RemapTo420Fn = void (*)(const cv::Mat& src, const RemapTable& table, const RowLayout& layout,
                              const PlanarPicture& out);

// dst (region's size, CV_8UC3) = the region of src's bilinear resize to whole;
// the region lies inside whole. Given reads (per row of dst, the columns a
// gather will read), only those pixels need be written; the rest may keep what
// they held.
using ResizeFn = void (*)(const cv::Mat& src, cv::Size whole, cv::Rect region, const RowSpans* reads, cv::Mat& dst);

// In place: luma 0 outside the filled circle (8-connected rasterisation), chroma
// everywhere and luma inside kept. The picture has the circle's size.
using MaskCircleFn = void (*)(cv::Mat& picture, const CircleSpans& circle);

// dst (h x w, CV_8UC3) = the NV12 frame's luma and its U and V planes, each
// bilinearly resized to w x h. The frame is readable (see IsReadableFrameDesc).
using Nv12ToWorkingFn = void (*)(const tag_ZRFRAME& frame, cv::Mat& dst);

// dst (h x w, CV_8UC3) = (luma, u, v) each bilinearly resized to w x h; luma of
// dst's size is taken as it is.
using PlanesToWorkingFn = void (*)(const cv::Mat& luma, const cv::Mat& u, const cv::Mat& v, cv::Mat& dst);

// out (the picture's size) = luma copied, U and V each bilinearly resized to
// half width and half height.
using WorkingTo420Fn = void (*)(const cv::Mat& src, const PlanarPicture& out);

// Fast mode: out (the layout's size) gathered from the frame's own planes through
// the view's fast table, one bilinear sample per output sample. Luma row r reads
// table row tableRow[r] from column columnStart[r]; chroma row j reads the phase
// of the block at (tableRow[2j], columnStart[2j]); columns wrap at the table's width.
using FastRemapTo420Fn = void (*)(const FastPlanes& planes, const FastTable& table, const RowLayout& layout,
                                  const PlanarPicture& out);

struct KernelTable {
    const char* name;
    RemapFn remap;
    RemapTo420Fn remapTo420;
    ResizeFn resize;
    MaskCircleFn maskCircle;
    Nv12ToWorkingFn nv12ToWorking;
    PlanesToWorkingFn planesToWorking;
    WorkingTo420Fn workingTo420;
    FastRemapTo420Fn fastRemapTo420;
};

// The chain of OpenCV calls that defines every output byte.
const KernelTable& ReferenceKernels();

// Plain C++ versions, exact to the reference.
const KernelTable& ScalarKernels();

// The scalar table with the gathers in 128-bit vector arithmetic (the
// processor's baseline: SSE2, NEON); null where this build has none.
const KernelTable* Simd128Kernels();

// The 128-bit table with the remap gather of each vector target that Highway
// compiled and this CPU runs, weakest first.
std::vector<const KernelTable*> HighwayKernelTables();

// Every table this build has and this CPU runs, the reference first and the
// fastest last.
std::vector<const KernelTable*> AvailableKernelTables();

// The table every path uses: the last of AvailableKernelTables, chosen once.
const KernelTable& ActiveKernels();

}  // namespace kernels
}  // namespace zrfe

#endif
