// The building blocks that the kernel tables share: the gather through a
// fixed-point remap table and the drivers that run it over a view's row layout
// on OpenCV's thread pool (rows are independent, so the split never changes a
// byte), and the row operations of the conversions, each in a scalar and a
// vector version.
#ifndef ZRFISHEYE_KERNELS_KERNELPARTS_H
#define ZRFISHEYE_KERNELS_KERNELPARTS_H

#include <cstdint>
#include <vector>

#include "Kernels.h"

namespace zrfe {
namespace kernels {

// Writes count output pixels (three bytes each, nothing beyond) from consecutive
// taps and fractions of one table row.
using GatherRunFn = void (*)(const cv::Mat& src, const cv::Vec2s* taps, const uint16_t* fractions, int count,
                             unsigned char* out);
void GatherRunScalar(const cv::Mat& src, const cv::Vec2s* taps, const uint16_t* fractions, int count,
                     unsigned char* out);

void RemapWith(GatherRunFn gather, const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst);

// Two rows of a working picture (even width) as two luma rows and one row each
// of U and V, the rounded mean of each 2 x 2 block: what halving an even size
// bilinearly gives.
using RowPairTo420Fn = void (*)(const unsigned char* top, const unsigned char* bottom, int width,
                                unsigned char* lumaTop, unsigned char* lumaBottom, unsigned char* u, unsigned char* v);
void RowPairTo420(const unsigned char* top, const unsigned char* bottom, int width, unsigned char* lumaTop,
                  unsigned char* lumaBottom, unsigned char* u, unsigned char* v);

// The table runs of an output row pair: consecutive taps and fractions of each row.
struct PairRuns {
    const cv::Vec2s* topTaps;
    const uint16_t* topFractions;
    const cv::Vec2s* bottomTaps;
    const uint16_t* bottomFractions;
};
// A row pair's runs and where its pixels go: two luma rows and a row of each chroma plane.
struct RowPairTarget {
    PairRuns runs;
    unsigned char* lumaTop;
    unsigned char* lumaBottom;
    unsigned char* u;
    unsigned char* v;
};
// An even count of pixels of each of n row pairs gathered straight into their
// planes (RowPairTo420's values, without the working rows).
using GatherRowPairsFn = void (*)(const cv::Mat& src, const RowPairTarget* pairs, int n, int count);
// Pixels from .. from + count of the runs, one by one; the rows start at pixel from.
void GatherRowPairScalar(const cv::Mat& src, const PairRuns& runs, int from, int count, unsigned char* lumaTop,
                         unsigned char* lumaBottom, unsigned char* u, unsigned char* v);

struct RemapTo420Parts {
    GatherRunFn gather;
    RowPairTo420Fn rowPair;
    GatherRowPairsFn gatherRowPairs;  // null: every row pair gathered, then converted
};
// Even sizes go row pair by row pair (straight to the planes where both rows' runs
// are unbroken and the parts have a row-pair gather); odd ones through a whole
// picture and toPlanes.
void RemapTo420With(const RemapTo420Parts& parts, WorkingTo420Fn toPlanes, const cv::Mat& src,
                    const RemapTable& table, const RowLayout& layout, const PlanarPicture& out);
// A working picture into 4:2:0 planes: even sizes row pair by row pair, odd ones
// with OpenCV's bilinear halving of the chroma.
void WorkingTo420With(RowPairTo420Fn rowPair, const cv::Mat& src, const PlanarPicture& out);

// Three rows of count bytes interleaved into one working-picture row.
using InterleaveRowFn = void (*)(const unsigned char* c0, const unsigned char* c1, const unsigned char* c2, int count,
                                 unsigned char* out);
void InterleaveRow(const unsigned char* c0, const unsigned char* c1, const unsigned char* c2, int count,
                   unsigned char* out);
// Three planes of one size interleaved into a working picture of that size.
using InterleaveFn = void (*)(const cv::Mat& c0, const cv::Mat& c1, const cv::Mat& c2, cv::Mat& dst);
void Interleave(const cv::Mat& c0, const cv::Mat& c1, const cv::Mat& c2, cv::Mat& dst);
// A luma plane and a plane of U V pairs (CV_8UC2), of one size, interleaved into
// a working picture of that size.
using InterleavePairsFn = void (*)(const cv::Mat& luma, const cv::Mat& pairs, cv::Mat& dst);
void InterleavePairs(const cv::Mat& luma, const cv::Mat& pairs, cv::Mat& dst);

// 4:2:0 chroma doubled to its luma's size, exactly as cv::resize's bilinear
// doubling, and interleaved with the luma in one pass (ChromaDoubling.cpp).
struct DoublingRowOps {
    // A row of U V pairs into a row of U and a row of V.
    void (*splitPairs)(const unsigned char* pairs, int count, unsigned char* u, unsigned char* v);
    // One channel's source row (its edge pixels repeated once at either end) into
    // 2 x width sums 3 near + far, in output order.
    void (*widen)(const unsigned char* padded, int width, uint16_t* out);
    // Two widened rows, the nearer first, into output bytes.
    void (*blend)(const uint16_t* near, const uint16_t* far, int count, unsigned char* out);
    // Y, U and V rows into one working-picture row.
    InterleaveRowFn interleave;
};
const DoublingRowOps& ScalarDoublingRows();
const DoublingRowOps* Simd128DoublingRows();  // null where this build has no 128-bit vectors
// Whether the doubling applies: luma of dst's size, chroma exactly half of it.
bool IsChromaDoubling(const cv::Mat& luma, cv::Size chroma, const cv::Mat& dst);
void DoubleChromaPairs(const DoublingRowOps& ops, const cv::Mat& luma, const cv::Mat& pairs, cv::Mat& dst);
void DoubleChromaPlanes(const DoublingRowOps& ops, const cv::Mat& luma, const cv::Mat& u, const cv::Mat& v,
                        cv::Mat& dst);

// A region of cv::resize's bilinear resize of a working picture, exactly
// (LinearResize.cpp). A row of horizontal sums is kept narrowed to 16 bits, as
// the vertical pass reads them.
const int kWeightLanes = 8;  // 16-bit lanes of a 128-bit vector

// What a horizontal pass needs for a run of output columns: each column's source
// byte offset, and its weight pair repeated over a vector of 16-bit lanes.
struct ColumnPlan {
    std::vector<int> offset;
    std::vector<int16_t> weights;  // kWeightLanes a column: w0 w1 w0 w1 ...
    int vectorColumns = 0;         // the leading columns whose reads stay inside a row
};
// Columns from..count-1 of a row's horizontal pass, one by one.
void HorizontalRowScalar(const unsigned char* row, const ColumnPlan& plan, int from, int count, int16_t* out);

struct ResizeRowOps {
    // Output columns from..count-1 of one source row, at their places in out.
    void (*horizontal)(const unsigned char* row, const ColumnPlan& plan, int from, int count, int16_t* out);
    // Two rows of sums, weighed b0 and b1, into count output bytes.
    void (*vertical)(const int16_t* top, const int16_t* bottom, int16_t b0, int16_t b1, int count,
                     unsigned char* out);
};
const ResizeRowOps& ScalarResizeRows();
const ResizeRowOps* Simd128ResizeRows();  // null where this build has no 128-bit vectors
void ResizeRegionWith(const ResizeRowOps& ops, const cv::Mat& src, cv::Size whole, cv::Rect region,
                      const RowSpans* reads, cv::Mat& dst);

// The conversions in, built from those row operations. Chroma of half the
// target's size is doubled as above; any other scale (and luma of another size)
// goes through cv::resize, whose rounding is OpenCV's own: NV12's U V pairs are
// scaled as one two-channel picture, which gives each channel the bytes it gets alone.
void Nv12ToWorkingWith(InterleavePairsFn interleave, const DoublingRowOps& doubling, const tag_ZRFRAME& frame,
                       cv::Mat& dst);
void PlanesToWorkingWith(InterleaveFn interleave, const DoublingRowOps& doubling, const cv::Mat& luma,
                         const cv::Mat& u, const cv::Mat& v, cv::Mat& dst);

// Fast mode: writes count samples of one bordered plane (rows pitch bytes apart),
// each the bilinear sample of its table entry.
using FastGatherRunFn = void (*)(const unsigned char* plane, size_t pitch, const uint32_t* entries, int count,
                                 unsigned char* out);
void FastGatherRunScalar(const unsigned char* plane, size_t pitch, const uint32_t* entries, int count,
                         unsigned char* out);
// The same from a plane of U V pairs, into the U and the V row.
using FastGatherPairsRunFn = void (*)(const unsigned char* plane, size_t pitch, const uint32_t* entries, int count,
                                      unsigned char* outU, unsigned char* outV);
void FastGatherPairsRunScalar(const unsigned char* plane, size_t pitch, const uint32_t* entries, int count,
                              unsigned char* outU, unsigned char* outV);
// The vector versions; null where this build has none.
struct FastSimd128Parts {
    FastGatherRunFn gather;
    FastGatherPairsRunFn gatherPairs;
};
const FastSimd128Parts* FastSimd128();
void FastRemapTo420With(FastGatherRunFn gather, FastGatherPairsRunFn gatherPairs, const FastPlanes& planes,
                        const FastTable& table, const RowLayout& layout, const PlanarPicture& out);

// Working memory that a thread keeps from one frame to the next, so that a frame
// of the same size touches no fresh pages: the matrix of this slot, (re)allocated
// only when its size or type differ.
enum class ScratchSlot { kScaledLuma, kScaledU, kScaledV, kScaledPairs, kWorking, kCount };
cv::Mat& Scratch(ScratchSlot slot, cv::Size size, int type);

// The row operations in 128-bit vector arithmetic (the processor's baseline:
// SSE2, NEON); null where this build has none.
struct Simd128Parts {
    GatherRunFn gather;
    RowPairTo420Fn rowPair;
    InterleaveRowFn interleaveRow;
    InterleaveFn interleave;
    InterleavePairsFn interleavePairs;
};
const Simd128Parts* Simd128();

}  // namespace kernels
}  // namespace zrfe

#endif
