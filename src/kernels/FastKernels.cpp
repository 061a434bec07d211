// Fast mode's gather: one bilinear sample per output sample, read straight from
// the frame's bordered planes, in a scalar and a 128-bit vector version that give
// the same bytes.
#include <algorithm>
#include <cstring>

#include <opencv2/core/hal/intrin.hpp>

#include "KernelParts.h"
#include "ParallelRows.h"

namespace zrfe {
namespace kernels {

namespace {

const int kWeightRound = 1 << (kWeightBits - 1);
const int kFractionMask = kFractionSteps - 1;

inline unsigned char Sample(const unsigned char* p, size_t pitch, uint16_t fraction)
{
    const int fx = fraction & kFractionMask, fy = fraction >> kFractionBits;
    const int top = p[0] * (kFractionSteps - fx) + p[1] * fx;
    const int bottom = p[pitch] * (kFractionSteps - fx) + p[pitch + 1] * fx;
    return static_cast<unsigned char>((top * (kFractionSteps - fy) + bottom * fy + kWeightRound) >> kWeightBits);
}

#if CV_SIMD128
const int kRunLanes = 8;

// Eight samples at a time: the two taps of each row gathered as byte pairs, then
// weighed across (fx) and down (fy) with one multiply-add of 16-bit pairs each;
// the sums are those of the scalar version, so the bytes are too.
void FastGatherRunSimd(const unsigned char* plane, size_t pitch, const int32_t* index, const uint16_t* fractions,
                       int count, unsigned char* out)
{
    const cv::v_uint16x8 mask = cv::v_setall_u16(kFractionMask);
    const cv::v_uint16x8 steps = cv::v_setall_u16(kFractionSteps);
    const cv::v_int32x4 round = cv::v_setall_s32(kWeightRound);
    int x = 0;
    for (; x + kRunLanes <= count; x += kRunLanes) {
        uint16_t top[kRunLanes], bottom[kRunLanes];
        for (int k = 0; k < kRunLanes; ++k) {
            const unsigned char* p = plane + index[x + k];
            std::memcpy(&top[k], p, sizeof top[k]);
            std::memcpy(&bottom[k], p + pitch, sizeof bottom[k]);
        }
        const cv::v_uint16x8 f = cv::v_load(fractions + x);
        const cv::v_uint16x8 fx = f & mask, fy = f >> kFractionBits;
        cv::v_uint16x8 wxLow, wxHigh, wyLow, wyHigh;
        cv::v_zip(steps - fx, fx, wxLow, wxHigh);
        cv::v_zip(steps - fy, fy, wyLow, wyHigh);
        cv::v_uint16x8 tLow, tHigh, bLow, bHigh;
        cv::v_expand(cv::v_reinterpret_as_u8(cv::v_load(top)), tLow, tHigh);
        cv::v_expand(cv::v_reinterpret_as_u8(cv::v_load(bottom)), bLow, bHigh);
        const cv::v_int16x8 wxL = cv::v_reinterpret_as_s16(wxLow), wxH = cv::v_reinterpret_as_s16(wxHigh);
        const cv::v_int16x8 across = cv::v_pack(cv::v_dotprod(cv::v_reinterpret_as_s16(tLow), wxL),
                                                cv::v_dotprod(cv::v_reinterpret_as_s16(tHigh), wxH));
        const cv::v_int16x8 acrossBottom = cv::v_pack(cv::v_dotprod(cv::v_reinterpret_as_s16(bLow), wxL),
                                                      cv::v_dotprod(cv::v_reinterpret_as_s16(bHigh), wxH));
        cv::v_int16x8 pairLow, pairHigh;
        cv::v_zip(across, acrossBottom, pairLow, pairHigh);
        const cv::v_int32x4 low = (cv::v_dotprod(pairLow, cv::v_reinterpret_as_s16(wyLow)) + round) >> kWeightBits;
        const cv::v_int32x4 high = (cv::v_dotprod(pairHigh, cv::v_reinterpret_as_s16(wyHigh)) + round) >> kWeightBits;
        const cv::v_int16x8 narrow = cv::v_pack(low, high);
        cv::v_pack_u_store(out + x, narrow);
    }
    FastGatherRunScalar(plane, pitch, index + x, fractions + x, count - x, out + x);
}
#endif

unsigned char* PlaneRow(const PlanarPicture& out, int plane, int row)
{
    return out.planes[plane] + static_cast<size_t>(row) * static_cast<size_t>(out.pitches[plane]);
}

// count samples of table row `row` from column `start`, wrapping at the table's width.
void GatherRow(FastGatherRunFn gather, const cv::Mat& plane, const FastPlaneTable& t, int row, int start, int count,
               unsigned char* out)
{
    if (t.empty() || row >= t.index.rows || start >= t.cols()) {
        std::memset(out, 0, static_cast<size_t>(count));  // a layout the table was not built for
        return;
    }
    const int32_t* index = t.index.ptr<int32_t>(row);
    const uint16_t* fractions = t.fractions.ptr<uint16_t>(row);
    for (int done = 0; done < count;) {
        const int run = std::min(count - done, t.cols() - start);
        gather(plane.data, plane.step, index + start, fractions + start, run, out + done);
        done += run;
        start = 0;
    }
}

}  // namespace

void FastGatherRunScalar(const unsigned char* plane, size_t pitch, const int32_t* index, const uint16_t* fractions,
                         int count, unsigned char* out)
{
    for (int x = 0; x < count; ++x)
        out[x] = Sample(plane + index[x], pitch, fractions[x]);
}

FastGatherRunFn FastGatherSimd128()
{
#if CV_SIMD128
    return FastGatherRunSimd;
#else
    return nullptr;
#endif
}

void FastRemapTo420With(FastGatherRunFn gather, const FastPlanes& planes, const FastTable& table,
                        const RowLayout& layout, const PlanarPicture& out)
{
    const int width = layout.width, height = layout.height();
    const int chromaWidth = width / 2;
    // A row pair of luma and its chroma row together, so that each thread reads one band of the tables.
    ParallelRows((height + 1) / 2, 3 * width, [&](int firstPair, int endPair) {
        for (int j = firstPair; j < endPair; ++j) {
            for (int r = 2 * j; r < std::min(2 * j + 2, height); ++r)
                GatherRow(gather, planes.luma, table.luma, layout.tableRow[static_cast<size_t>(r)],
                          layout.columnStart[static_cast<size_t>(r)], width, PlaneRow(out, 0, r));
            if (2 * j + 1 >= height || chromaWidth < 1)
                continue;
            const int t = layout.tableRow[2 * static_cast<size_t>(j)];
            const int c = layout.columnStart[2 * static_cast<size_t>(j)];
            const FastPlaneTable& phase = table.chroma[t & 1][c & 1];
            GatherRow(gather, planes.u, phase, t >> 1, c >> 1, chromaWidth, PlaneRow(out, 1, j));
            GatherRow(gather, planes.v, phase, t >> 1, c >> 1, chromaWidth, PlaneRow(out, 2, j));
        }
    });
}

}  // namespace kernels
}  // namespace zrfe
