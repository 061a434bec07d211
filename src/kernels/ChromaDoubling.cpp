// 4:2:0 chroma brought to its luma's size in the same pass that interleaves the
// working picture: cv::resize's bilinear doubling, byte for byte, without the
// full-size chroma picture that the resize writes and the interleave reads back.
//
// Doubling a side, OpenCV weighs the two nearest source pixels 3/4 and 1/4 (in
// 11-bit fixed point; the edge pixel alone at either end) and rounds the vertical
// pass in stages: ((1536 (s0 >> 4)) >> 16) + ((512 (s1 >> 4)) >> 16), + 2, >> 2.
// Along a row every sum is a multiple of 512, so in small integers that is
//   m = 3 near + far                         per source row, the edge pixel repeated
//   value = ((3 m_near) >> 2) + (m_far >> 2) + 2) >> 2
// where near is the source row or column nearer to the output position.
#include <algorithm>
#include <vector>

#include <opencv2/core/hal/intrin.hpp>

#include "KernelParts.h"
#include "ParallelRows.h"

namespace zrfe {
namespace kernels {

namespace {

const int kNearWeight = 3;
const int kQuarterShift = 2;
const int kRound = 2;

void WidenRowScalar(const unsigned char* padded, int width, uint16_t* out)
{
    for (int k = 0; k < width; ++k) {
        const int near = kNearWeight * padded[k + 1];
        out[2 * k] = static_cast<uint16_t>(near + padded[k]);
        out[2 * k + 1] = static_cast<uint16_t>(near + padded[k + 2]);
    }
}

void BlendRowsScalar(const uint16_t* near, const uint16_t* far, int count, unsigned char* out)
{
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<unsigned char>(
            (((kNearWeight * near[i]) >> kQuarterShift) + (far[i] >> kQuarterShift) + kRound) >> kQuarterShift);
}

void SplitPairsScalar(const unsigned char* pairs, int count, unsigned char* u, unsigned char* v)
{
    for (int k = 0; k < count; ++k) {
        u[k] = pairs[2 * k];
        v[k] = pairs[2 * k + 1];
    }
}

#if CV_SIMD128
const int kBytes = 16;
const int kWords = 8;

void WidenRowSimd(const unsigned char* padded, int width, uint16_t* out)
{
    int k = 0;
    // Reads padded[k .. k + 9]: the loop stops where that leaves the padded row.
    for (; k + kWords <= width; k += kWords) {
        const cv::v_uint16x8 left = cv::v_load_expand(padded + k);
        const cv::v_uint16x8 mid = cv::v_load_expand(padded + k + 1);
        const cv::v_uint16x8 right = cv::v_load_expand(padded + k + 2);
        const cv::v_uint16x8 near = mid + mid + mid;
        cv::v_uint16x8 lo, hi;
        cv::v_zip(near + left, near + right, lo, hi);
        cv::v_store(out + 2 * k, lo);
        cv::v_store(out + 2 * k + kWords, hi);
    }
    const int done = k;
    WidenRowScalar(padded + done, width - done, out + 2 * done);
}

void BlendRowsSimd(const uint16_t* near, const uint16_t* far, int count, unsigned char* out)
{
    const cv::v_uint16x8 round = cv::v_setall_u16(kRound);
    const auto blend = [&](const uint16_t* n, const uint16_t* f) {
        const cv::v_uint16x8 a = cv::v_load(n), b = cv::v_load(f);
        return (((a + a + a) >> kQuarterShift) + (b >> kQuarterShift) + round) >> kQuarterShift;
    };
    int i = 0;
    for (; i + kBytes <= count; i += kBytes)
        cv::v_store(out + i, cv::v_pack(blend(near + i, far + i), blend(near + i + kWords, far + i + kWords)));
    BlendRowsScalar(near + i, far + i, count - i, out + i);
}

void SplitPairsSimd(const unsigned char* pairs, int count, unsigned char* u, unsigned char* v)
{
    int k = 0;
    for (; k + kBytes <= count; k += kBytes) {
        cv::v_uint8x16 a, b;
        cv::v_load_deinterleave(pairs + 2 * k, a, b);
        cv::v_store(u + k, a);
        cv::v_store(v + k, b);
    }
    SplitPairsScalar(pairs + 2 * k, count - k, u + k, v + k);
}
#endif

// Reads source chroma row k of channel c into padded[1 .. width] (padded[0] and
// padded[width + 1] are then filled with the edge pixels).
template <class ReadRowFn>
void DoubleChroma(const DoublingRowOps& ops, const cv::Mat& luma, cv::Size chroma, const ReadRowFn& readRow,
                  cv::Mat& dst)
{
    const int w = chroma.width, h = chroma.height, outWidth = dst.cols;
    ParallelRows(dst.rows, outWidth, [&](int begin, int end) {
        const int kSlots = 3;  // source rows k - 1, k and k + 1 land in distinct slots
        std::vector<unsigned char> padded[2];
        std::vector<uint16_t> widened[kSlots][2];
        std::vector<unsigned char> blended[2];
        int held[kSlots] = {-1, -1, -1};
        for (int c = 0; c < 2; ++c) {
            padded[c].resize(static_cast<size_t>(w) + 2);
            blended[c].resize(static_cast<size_t>(outWidth));
            for (auto& slot : widened)
                slot[c].resize(static_cast<size_t>(outWidth));
        }
        const auto widenedRow = [&](int k) {
            const int slot = k % kSlots;
            if (held[slot] != k) {
                readRow(k, padded[0].data() + 1, padded[1].data() + 1);
                for (int c = 0; c < 2; ++c) {
                    padded[c][0] = padded[c][1];
                    padded[c][static_cast<size_t>(w) + 1] = padded[c][static_cast<size_t>(w)];
                    ops.widen(padded[c].data(), w, widened[slot][c].data());
                }
                held[slot] = k;
            }
            return slot;
        };
        for (int y = begin; y < end; ++y) {
            const int k = y / 2;
            const int other = y % 2 == 0 ? std::max(k - 1, 0) : std::min(k + 1, h - 1);
            const int near = widenedRow(k), far = widenedRow(other);
            for (int c = 0; c < 2; ++c)
                ops.blend(widened[near][c].data(), widened[far][c].data(), outWidth, blended[c].data());
            ops.interleave(luma.ptr<unsigned char>(y), blended[0].data(), blended[1].data(), outWidth,
                           dst.ptr<unsigned char>(y));
        }
    });
}

}  // namespace

bool IsChromaDoubling(const cv::Mat& luma, cv::Size chroma, const cv::Mat& dst)
{
    return luma.size() == dst.size() && chroma.width >= 1 && chroma.height >= 1 &&
           dst.cols == 2 * chroma.width && dst.rows == 2 * chroma.height;
}

void DoubleChromaPairs(const DoublingRowOps& ops, const cv::Mat& luma, const cv::Mat& pairs, cv::Mat& dst)
{
    DoubleChroma(ops, luma, pairs.size(),
                 [&](int k, unsigned char* u, unsigned char* v) {
                     ops.splitPairs(pairs.ptr<unsigned char>(k), pairs.cols, u, v);
                 },
                 dst);
}

void DoubleChromaPlanes(const DoublingRowOps& ops, const cv::Mat& luma, const cv::Mat& u, const cv::Mat& v,
                        cv::Mat& dst)
{
    DoubleChroma(ops, luma, u.size(),
                 [&](int k, unsigned char* outU, unsigned char* outV) {
                     std::copy_n(u.ptr<unsigned char>(k), u.cols, outU);
                     std::copy_n(v.ptr<unsigned char>(k), v.cols, outV);
                 },
                 dst);
}

const DoublingRowOps& ScalarDoublingRows()
{
    static const DoublingRowOps ops = {SplitPairsScalar, WidenRowScalar, BlendRowsScalar, InterleaveRow};
    return ops;
}

const DoublingRowOps* Simd128DoublingRows()
{
#if CV_SIMD128
    static const DoublingRowOps ops = {SplitPairsSimd, WidenRowSimd, BlendRowsSimd, Simd128()->interleaveRow};
    return &ops;
#else
    return nullptr;
#endif
}

}  // namespace kernels
}  // namespace zrfe
