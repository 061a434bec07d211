// The gather through a fixed-point remap table, and the drivers that run it over
// a view's row layout, on OpenCV's thread pool: rows are independent, so the
// split never changes a byte.
#ifndef ZRFISHEYE_KERNELS_GATHER_H
#define ZRFISHEYE_KERNELS_GATHER_H

#include <cstdint>

#include "Kernels.h"

namespace zrfe {
namespace kernels {

// Writes count output pixels (three bytes each, nothing beyond) from consecutive
// taps and fractions of one table row.
using GatherRunFn = void (*)(const cv::Mat& src, const cv::Vec2s* taps, const uint16_t* fractions, int count,
                             unsigned char* out);
void GatherRunScalar(const cv::Mat& src, const cv::Vec2s* taps, const uint16_t* fractions, int count,
                     unsigned char* out);
// Null where this build has no 128-bit vector arithmetic.
GatherRunFn GatherRunSimd128();

void RemapWith(GatherRunFn gather, const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst);
void RemapTo420With(GatherRunFn gather, WorkingTo420Fn toPlanes, const cv::Mat& src, const RemapTable& table,
                    const RowLayout& layout, const PlanarPicture& out);

// Two rows of a working picture (even width) as two luma rows and one row each
// of U and V, the rounded mean of each 2 x 2 block: what halving an even size
// bilinearly gives.
void RowPairTo420(const unsigned char* top, const unsigned char* bottom, int width, unsigned char* lumaTop,
                  unsigned char* lumaBottom, unsigned char* u, unsigned char* v);

}  // namespace kernels
}  // namespace zrfe

#endif
