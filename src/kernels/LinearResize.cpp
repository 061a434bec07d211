// A region of cv::resize's bilinear resize of a working picture, byte for byte,
// computed for that region alone and split over the threads by rows.
//
// OpenCV resizes 8-bit pictures in fixed point: each output column takes two
// source pixels with 11-bit weights, each output row two of those horizontal
// sums, and the vertical pass rounds in stages,
//   ((b0 (h0 >> 4)) >> 16) + ((b1 (h1 >> 4)) >> 16), + 2, >> 2.
// The offsets and weights below come from the same float operations as OpenCV's
// own, so the bytes agree wherever the picture is cut.
#include <algorithm>
#include <cfloat>
#include <vector>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include "KernelParts.h"
#include "ParallelRows.h"
#include "base/OpenCvPool.h"

namespace zrfe {
namespace kernels {

namespace {

const int kChannels = 3;
const int kWeightScale = 1 << 11;  // OpenCV's resize coefficient scale
const int kSumShift = 4;           // horizontal sums are narrowed by this before the vertical pass
const int kRowShift = 16;
const int kFinalShift = 2;
const int kFinalRound = 1 << (kFinalShift - 1);

// One axis of the resize: for each output position the first source index and
// the weights of it and the next.
struct Axis {
    std::vector<int> first;
    std::vector<int16_t> weight0, weight1;
};

Axis PlanAxis(int sourceLength, int length, double scale, bool clampEdges)
{
    Axis a;
    a.first.resize(static_cast<size_t>(length));
    a.weight0.resize(static_cast<size_t>(length));
    a.weight1.resize(static_cast<size_t>(length));
    for (int d = 0; d < length; ++d) {
        float f = static_cast<float>((d + 0.5) * scale - 0.5);
        int s = cvFloor(f);
        f -= static_cast<float>(s);
        // Along a row the edge pixel is taken alone; along a column the rows are
        // clamped instead and the weights kept.
        if (clampEdges) {
            if (s < 0)
                f = 0, s = 0;
            if (s >= sourceLength - 1)
                f = 0, s = sourceLength - 1;
        }
        a.first[static_cast<size_t>(d)] = s;
        a.weight0[static_cast<size_t>(d)] = cv::saturate_cast<int16_t>((1.f - f) * static_cast<float>(kWeightScale));
        a.weight1[static_cast<size_t>(d)] = cv::saturate_cast<int16_t>(f * static_cast<float>(kWeightScale));
    }
    return a;
}

}  // namespace

void HorizontalRowScalar(const unsigned char* row, const ColumnPlan& plan, int from, int count, int16_t* out)
{
    for (int x = from; x < count; ++x) {
        const unsigned char* p = row + plan.offset[static_cast<size_t>(x)];
        const int16_t* w = &plan.weights[static_cast<size_t>(x) * kWeightLanes];
        for (int c = 0; c < kChannels; ++c) {
            const int sum = w[1] == 0 ? p[c] * w[0] : p[c] * w[0] + p[c + kChannels] * w[1];
            out[kChannels * x + c] = static_cast<int16_t>(sum >> kSumShift);
        }
    }
}

namespace {

void VerticalRowScalar(const int16_t* top, const int16_t* bottom, int16_t b0, int16_t b1, int count,
                       unsigned char* out)
{
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<unsigned char>(
            (((b0 * top[i]) >> kRowShift) + ((b1 * bottom[i]) >> kRowShift) + kFinalRound) >> kFinalShift);
}

#if CV_SIMD128
// Two columns a step: each column's channels as 16-bit pairs (a, b) of its two
// source pixels, summed against its weights, narrowed, and stored as four lanes
// of which the next column overwrites the last.
void HorizontalSimd(const unsigned char* row, const ColumnPlan& plan, int from, int count, int16_t* out)
{
    const auto column = [&](int x) {
        // The eight bytes a0 a1 a2 b0 b1 b2 . . as 16-bit lanes, then each channel's
        // (a, b) as one 32-bit lane.
        const cv::v_uint16x8 bytes = cv::v_expand_low(cv::v_load_low(row + plan.offset[static_cast<size_t>(x)]));
        const cv::v_uint32x4 pairs =
            cv::v_expand_low(bytes) | (cv::v_expand_low(cv::v_rotate_right<kChannels>(bytes)) << 16);
        const cv::v_int16x8 w = cv::v_load(&plan.weights[static_cast<size_t>(x) * kWeightLanes]);
        return cv::v_dotprod(cv::v_reinterpret_as_s16(pairs), w) >> kSumShift;
    };
    int x = from;
    const int vectorEnd = std::min(count, plan.vectorColumns);
    for (; x + 2 <= vectorEnd; x += 2) {
        const cv::v_int16x8 both = cv::v_pack(column(x), column(x + 1));
        cv::v_store_low(out + kChannels * x, both);
        cv::v_store_high(out + kChannels * (x + 1), both);
    }
    HorizontalRowScalar(row, plan, x, count, out);
}

void VerticalSimd(const int16_t* top, const int16_t* bottom, int16_t b0, int16_t b1, int count, unsigned char* out)
{
    const cv::v_int16x8 w0 = cv::v_setall_s16(b0), w1 = cv::v_setall_s16(b1);
    const cv::v_int16x8 round = cv::v_setall_s16(kFinalRound);
    const auto blend = [&](int i) {
        return (cv::v_mul_hi(cv::v_load(top + i), w0) + cv::v_mul_hi(cv::v_load(bottom + i), w1) + round) >>
               kFinalShift;
    };
    const int lanes = 8;
    int i = 0;
    for (; i + 2 * lanes <= count; i += 2 * lanes)
        cv::v_store(out + i, cv::v_pack_u(blend(i), blend(i + lanes)));
    VerticalRowScalar(top + i, bottom + i, b0, b1, count - i, out + i);
}
#endif

// Whether OpenCV resizes these sizes with its bilinear fixed-point path: a
// same-size resize is a copy, and an exact halving is an area average.
enum class ResizePath { kCopy, kAreaHalving, kBilinear };

ResizePath PathFor(cv::Size from, cv::Size to, double& scaleX, double& scaleY)
{
    if (from == to)
        return ResizePath::kCopy;
    scaleX = 1. / (static_cast<double>(to.width) / from.width);
    scaleY = 1. / (static_cast<double>(to.height) / from.height);
    const int integerX = cv::saturate_cast<int>(scaleX), integerY = cv::saturate_cast<int>(scaleY);
    const bool integral = std::abs(scaleX - integerX) < DBL_EPSILON && std::abs(scaleY - integerY) < DBL_EPSILON;
    return integral && integerX == 2 && integerY == 2 ? ResizePath::kAreaHalving : ResizePath::kBilinear;
}

}  // namespace

void ResizeRegionWith(const ResizeRowOps& ops, const cv::Mat& src, cv::Size whole, cv::Rect region,
                      const RowSpans* reads, cv::Mat& dst)
{
    double scaleX = 1, scaleY = 1;
    switch (PathFor(src.size(), whole, scaleX, scaleY)) {
    case ResizePath::kCopy:
        src(region).copyTo(dst);
        return;
    case ResizePath::kAreaHalving: {
        cv::Mat full;
        const zrbase::OpenCvPoolUse pool;
        cv::resize(src, full, whole, 0, 0, cv::INTER_LINEAR);
        full(region).copyTo(dst);
        return;
    }
    case ResizePath::kBilinear:
        break;
    }
    const Axis columns = PlanAxis(src.cols, whole.width, scaleX, true);
    const Axis rows = PlanAxis(src.rows, whole.height, scaleY, false);
    ColumnPlan plan;
    plan.offset.resize(static_cast<size_t>(region.width));
    plan.weights.resize(static_cast<size_t>(region.width) * kWeightLanes);
    for (int x = 0; x < region.width; ++x) {
        const size_t at = static_cast<size_t>(region.x + x);
        plan.offset[static_cast<size_t>(x)] = kChannels * columns.first[at];
        for (int lane = 0; lane < kWeightLanes; lane += 2) {
            plan.weights[static_cast<size_t>(x) * kWeightLanes + static_cast<size_t>(lane)] = columns.weight0[at];
            plan.weights[static_cast<size_t>(x) * kWeightLanes + static_cast<size_t>(lane) + 1] = columns.weight1[at];
        }
        // A vector column reads four bytes at each of its two pixels.
        if (columns.first[at] + 2 < src.cols)
            plan.vectorColumns = x + 1;
    }
    // The columns each output row needs, and from them each source row's: a source
    // row's horizontal sums are made once, for all the output rows that take it.
    std::vector<int> outFirst(static_cast<size_t>(region.height), 0);
    std::vector<int> outEnd(static_cast<size_t>(region.height), region.width);
    std::vector<int> sourceFirst(static_cast<size_t>(src.rows), region.width);
    std::vector<int> sourceEnd(static_cast<size_t>(src.rows), 0);
    for (int y = 0; y < region.height; ++y) {
        const size_t at = static_cast<size_t>(y);
        if (reads) {
            const bool listed = y < reads->rows();
            outFirst[at] = listed ? std::min(std::max(reads->first[at], 0), region.width) : 0;
            outEnd[at] = listed ? std::min(std::max(reads->end[at], 0), region.width) : 0;
            if (outFirst[at] >= outEnd[at])
                continue;
        }
        const int first = rows.first[static_cast<size_t>(region.y + y)];
        for (const int s : {first, first + 1}) {
            const size_t source = static_cast<size_t>(std::min(std::max(s, 0), src.rows - 1));
            sourceFirst[source] = std::min(sourceFirst[source], outFirst[at]);
            sourceEnd[source] = std::max(sourceEnd[source], outEnd[at]);
        }
    }
    const int values = region.width * kChannels;
    ParallelRows(region.height, values, [&](int begin, int end) {
        // The two source rows a row reads are consecutive, so they sit in different slots.
        std::vector<int16_t> sums[2];
        int held[2] = {-1, -1};
        for (std::vector<int16_t>& s : sums)
            s.resize(static_cast<size_t>(values) + kChannels);  // room for the last column's spare lane
        const auto summed = [&](int sourceRow) {
            const int slot = sourceRow & 1;
            if (held[slot] != sourceRow) {
                const size_t at = static_cast<size_t>(sourceRow);
                ops.horizontal(src.ptr<unsigned char>(sourceRow), plan, sourceFirst[at], sourceEnd[at],
                               sums[slot].data());
                held[slot] = sourceRow;
            }
            return sums[slot].data();
        };
        for (int y = begin; y < end; ++y) {
            const int from = outFirst[static_cast<size_t>(y)], to = outEnd[static_cast<size_t>(y)];
            if (from >= to)
                continue;
            const size_t at = static_cast<size_t>(region.y + y);
            const int first = rows.first[at];
            const int skip = from * kChannels;
            const int16_t* top = summed(std::min(std::max(first, 0), src.rows - 1));
            const int16_t* bottom = summed(std::min(std::max(first + 1, 0), src.rows - 1));
            ops.vertical(top + skip, bottom + skip, rows.weight0[at], rows.weight1[at], (to - from) * kChannels,
                         dst.ptr<unsigned char>(y) + skip);
        }
    });
}

const ResizeRowOps& ScalarResizeRows()
{
    static const ResizeRowOps ops = {HorizontalRowScalar, VerticalRowScalar};
    return ops;
}

const ResizeRowOps* Simd128ResizeRows()
{
#if CV_SIMD128
    static const ResizeRowOps ops = {HorizontalSimd, VerticalSimd};
    return &ops;
#else
    return nullptr;
#endif
}

}  // namespace kernels
}  // namespace zrfe
