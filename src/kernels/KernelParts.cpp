#include "KernelParts.h"

#include "ParallelRows.h"
#include "base/LargePictures.h"
#include "base/OpenCvPool.h"

#include <cstring>
#include <vector>

#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

namespace zrfe {
namespace kernels {

namespace {

const int kChannels = 3;
const int kWeightRound = 1 << (kWeightBits - 1);

// The four bilinear weights of each fraction, top-left, top-right, bottom-left,
// bottom-right, summing to 1 << kWeightBits. cv::remap's weights are these times
// 32 (one of them saturated at the zero fraction), which rounds to the same bytes.
struct WeightTable {
    int16_t w[kFractionSteps * kFractionSteps][4];
    WeightTable()
    {
        for (int fy = 0; fy < kFractionSteps; ++fy)
            for (int fx = 0; fx < kFractionSteps; ++fx) {
                int16_t* e = w[(fy << kFractionBits) | fx];
                e[0] = static_cast<int16_t>((kFractionSteps - fx) * (kFractionSteps - fy));
                e[1] = static_cast<int16_t>(fx * (kFractionSteps - fy));
                e[2] = static_cast<int16_t>((kFractionSteps - fx) * fy);
                e[3] = static_cast<int16_t>(fx * fy);
            }
    }
};

const WeightTable& Weights()
{
    static const WeightTable table;
    return table;
}

// One output pixel, one channel at a time; taps off the picture count as 0.
void GatherPixel(const cv::Mat& src, cv::Vec2s tap, const int16_t* w, unsigned char* out)
{
    const int x = tap[0], y = tap[1];
    if (static_cast<unsigned int>(x) < static_cast<unsigned int>(src.cols - 1) &&
        static_cast<unsigned int>(y) < static_cast<unsigned int>(src.rows - 1)) {
        const unsigned char* p = src.ptr<unsigned char>(y) + static_cast<size_t>(x) * kChannels;
        const unsigned char* q = p + src.step;
        for (int c = 0; c < kChannels; ++c)
            out[c] = static_cast<unsigned char>(
                (p[c] * w[0] + p[c + kChannels] * w[1] + q[c] * w[2] + q[c + kChannels] * w[3] + kWeightRound) >>
                kWeightBits);
        return;
    }
    const bool x0 = x >= 0 && x < src.cols, x1 = x + 1 >= 0 && x + 1 < src.cols;
    const bool y0 = y >= 0 && y < src.rows, y1 = y + 1 >= 0 && y + 1 < src.rows;
    const unsigned char* row0 = y0 ? src.ptr<unsigned char>(y) : nullptr;
    const unsigned char* row1 = y1 ? src.ptr<unsigned char>(y + 1) : nullptr;
    for (int c = 0; c < kChannels; ++c) {
        const int v00 = row0 && x0 ? row0[x * kChannels + c] : 0;
        const int v01 = row0 && x1 ? row0[(x + 1) * kChannels + c] : 0;
        const int v10 = row1 && x0 ? row1[x * kChannels + c] : 0;
        const int v11 = row1 && x1 ? row1[(x + 1) * kChannels + c] : 0;
        out[c] = static_cast<unsigned char>((v00 * w[0] + v01 * w[1] + v10 * w[2] + v11 * w[3] + kWeightRound) >>
                                            kWeightBits);
    }
}

#if CV_SIMD128
// Four bytes of a row's two taps as 16-bit lanes (a0 b0 a1 b1 a2 b2 . .), so that
// one multiply-add per lane pair weighs both taps of each channel.
inline cv::v_int16x8 TapPairs(const unsigned char* p)
{
    uint32_t left, right;
    std::memcpy(&left, p, sizeof left);        // a0 a1 a2 b0
    std::memcpy(&right, p + 2, sizeof right);  // a2 b0 b1 b2: stays within the two taps
    const cv::v_uint16x8 a = cv::v_expand_low(cv::v_reinterpret_as_u8(cv::v_setall_u32(left)));
    const cv::v_uint16x8 b = cv::v_rotate_right<1>(cv::v_expand_low(cv::v_reinterpret_as_u8(cv::v_setall_u32(right))));
    cv::v_uint16x8 lo, hi;
    cv::v_zip(a, b, lo, hi);
    return cv::v_reinterpret_as_s16(lo);
}

void GatherRunSimd(const cv::Mat& src, const cv::Vec2s* taps, const uint16_t* fractions, int count,
                   unsigned char* out)
{
    const size_t step = src.step;
    const unsigned int lastTapX = static_cast<unsigned int>(src.cols - 1);
    const unsigned int lastTapY = static_cast<unsigned int>(src.rows - 1);
    const WeightTable& weights = Weights();
    const cv::v_int32x4 round = cv::v_setall_s32(kWeightRound);
    // Each pixel stores four bytes, the fourth overwritten by the next pixel; the
    // run's last pixel is written byte by byte.
    for (int x = 0; x < count; ++x, out += kChannels) {
        const cv::Vec2s tap = taps[x];
        const int16_t* w = weights.w[fractions[x]];
        if (x + 1 < count && static_cast<unsigned int>(tap[0]) < lastTapX &&
            static_cast<unsigned int>(tap[1]) < lastTapY) {
            const unsigned char* p =
                src.data + static_cast<size_t>(tap[1]) * step + static_cast<size_t>(tap[0]) * kChannels;
            int32_t top, bottom;
            std::memcpy(&top, w, sizeof top);
            std::memcpy(&bottom, w + 2, sizeof bottom);
            const cv::v_int32x4 sum = cv::v_dotprod(TapPairs(p), cv::v_reinterpret_as_s16(cv::v_setall_s32(top))) +
                                      cv::v_dotprod(TapPairs(p + step), cv::v_reinterpret_as_s16(cv::v_setall_s32(bottom))) +
                                      round;
            const cv::v_int32x4 value = sum >> kWeightBits;
            const cv::v_int16x8 narrow = cv::v_pack(value, value);
            const uint32_t packed = cv::v_reinterpret_as_u32(cv::v_pack_u(narrow, narrow)).get0();
            std::memcpy(out, &packed, sizeof packed);
            continue;
        }
        GatherPixel(src, tap, w, out);
    }
}
#endif

unsigned char* PlaneRow(const PlanarPicture& out, int plane, int row)
{
    return out.planes[plane] + static_cast<size_t>(row) * static_cast<size_t>(out.pitches[plane]);
}

// Runs gather over count columns of output row r of the layout from column
// first: one or two runs of a table row.
void GatherLayoutSpan(GatherRunFn gather, const cv::Mat& src, const RemapTable& table, const RowLayout& layout, int r,
                      int first, int count, unsigned char* out)
{
    const int tableRow = layout.tableRow[static_cast<size_t>(r)];
    const cv::Vec2s* taps = table.taps.ptr<cv::Vec2s>(tableRow);
    const uint16_t* fractions = table.fractions.ptr<uint16_t>(tableRow);
    int column = (layout.columnStart[static_cast<size_t>(r)] + first) % table.taps.cols;
    for (int done = 0; done < count;) {
        const int run = std::min(count - done, table.taps.cols - column);
        gather(src, taps + column, fractions + column, run, out + static_cast<size_t>(done) * kChannels);
        done += run;
        column = 0;
    }
}

// The output is gathered in tiles of this many rows and columns rather than row
// by row: the source pixels of a tile lie close together (a panorama row is a
// whole ring of the circle), so each is read from the cache, not from memory.
const int kTileRows = 32;  // even: the 4:2:0 path converts row pairs
const int kTileColumns = 128;

// Calls fn(firstColumn, count) for each column tile of a row band.
template <class TileFn>
void ForEachColumnTile(int width, const TileFn& fn)
{
    for (int first = 0; first < width; first += kTileColumns)
        fn(first, std::min(kTileColumns, width - first));
}

}  // namespace

void GatherRunScalar(const cv::Mat& src, const cv::Vec2s* taps, const uint16_t* fractions, int count,
                     unsigned char* out)
{
    const WeightTable& weights = Weights();
    for (int x = 0; x < count; ++x, out += kChannels)
        GatherPixel(src, taps[x], weights.w[fractions[x]], out);
}

void RemapWith(GatherRunFn gather, const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst)
{
    ParallelRows(layout.height(), layout.width, [&](int firstRow, int endRow) {
        for (int band = firstRow; band < endRow; band += kTileRows) {
            const int bandEnd = std::min(endRow, band + kTileRows);
            ForEachColumnTile(layout.width, [&](int first, int count) {
                for (int r = band; r < bandEnd; ++r)
                    GatherLayoutSpan(gather, src, table, layout, r, first, count,
                                     dst.ptr<unsigned char>(r) + static_cast<size_t>(first) * kChannels);
            });
        }
    });
}

void RowPairTo420(const unsigned char* top, const unsigned char* bottom, int width, unsigned char* lumaTop,
                  unsigned char* lumaBottom, unsigned char* u, unsigned char* v)
{
    for (int x = 0; x < width; ++x) {
        lumaTop[x] = top[kChannels * x];
        lumaBottom[x] = bottom[kChannels * x];
    }
    for (int x = 0; x < width / 2; ++x) {
        const int i = 2 * kChannels * x;
        u[x] = static_cast<unsigned char>((top[i + 1] + top[i + 4] + bottom[i + 1] + bottom[i + 4] + 2) >> 2);
        v[x] = static_cast<unsigned char>((top[i + 2] + top[i + 5] + bottom[i + 2] + bottom[i + 5] + 2) >> 2);
    }
}

void WorkingTo420With(RowPairTo420Fn rowPair, const cv::Mat& src, const PlanarPicture& out)
{
    if (src.cols % 2 != 0 || src.rows % 2 != 0) {
        // Odd sizes scale by slightly more than two: OpenCV's bilinear weights decide.
        cv::Mat ch[3];
        cv::split(src, ch);
        ch[0].copyTo(cv::Mat(src.size(), CV_8UC1, out.planes[0], static_cast<size_t>(out.pitches[0])));
        const cv::Size half(src.cols / 2, src.rows / 2);
        const zrbase::OpenCvPoolUse pool;
        for (int c = 1; c < kChannels; ++c)
            cv::resize(ch[c], cv::Mat(half, CV_8UC1, out.planes[c], static_cast<size_t>(out.pitches[c])), half, 0, 0,
                       cv::INTER_LINEAR);
        return;
    }
    ParallelRows(src.rows / 2, 2 * src.cols, [&](int firstPair, int endPair) {
        for (int y = firstPair; y < endPair; ++y)
            rowPair(src.ptr<unsigned char>(2 * y), src.ptr<unsigned char>(2 * y + 1), src.cols,
                    PlaneRow(out, 0, 2 * y), PlaneRow(out, 0, 2 * y + 1), PlaneRow(out, 1, y), PlaneRow(out, 2, y));
    });
}

void GatherRowPairScalar(const cv::Mat& src, const PairRuns& runs, int from, int count, unsigned char* lumaTop,
                         unsigned char* lumaBottom, unsigned char* u, unsigned char* v)
{
    const int kPiece = 64;  // pixels a step, through two small working rows
    unsigned char top[kPiece * kChannels], bottom[kPiece * kChannels];
    for (int done = 0; done < count; done += kPiece) {
        const int n = std::min(kPiece, count - done);
        const int at = from + done;
        GatherRunScalar(src, runs.topTaps + at, runs.topFractions + at, n, top);
        GatherRunScalar(src, runs.bottomTaps + at, runs.bottomFractions + at, n, bottom);
        RowPairTo420(top, bottom, n, lumaTop + done, lumaBottom + done, u + done / 2, v + done / 2);
    }
}

namespace {

// The taps and fractions of count columns of output row r from column first, when
// they are consecutive in the table (the row does not wrap within them).
bool UnbrokenRun(const RemapTable& table, const RowLayout& layout, int r, int first, int count,
                 const cv::Vec2s*& taps, const uint16_t*& fractions)
{
    const int tableRow = layout.tableRow[static_cast<size_t>(r)];
    const int column = (layout.columnStart[static_cast<size_t>(r)] + first) % table.taps.cols;
    if (column + count > table.taps.cols)
        return false;
    taps = table.taps.ptr<cv::Vec2s>(tableRow) + column;
    fractions = table.fractions.ptr<uint16_t>(tableRow) + column;
    return true;
}

}  // namespace

void RemapTo420With(const RemapTo420Parts& parts, WorkingTo420Fn toPlanes, const cv::Mat& src,
                    const RemapTable& table, const RowLayout& layout, const PlanarPicture& out)
{
    if (layout.width % 2 != 0 || layout.height() % 2 != 0) {
        // Odd sizes halve the chroma by OpenCV's bilinear weights: through a whole picture.
        cv::Mat picture(layout.height(), layout.width, CV_8UC3);
        RemapWith(parts.gather, src, table, layout, picture);
        toPlanes(picture, out);
        return;
    }
    // A tile at a time: its row pairs straight into the planes, all in one call, or
    // (where a row wraps within the tile) gathered into a small buffer and
    // converted from there.
    ParallelRows(layout.height() / 2, 2 * layout.width, [&](int firstPair, int endPair) {
        const size_t tileStep = static_cast<size_t>(kTileColumns) * kChannels;
        std::vector<unsigned char> tile(kTileRows * tileStep);
        for (int band = 2 * firstPair; band < 2 * endPair; band += kTileRows) {
            const int bandEnd = std::min(2 * endPair, band + kTileRows);
            ForEachColumnTile(layout.width, [&](int first, int count) {
                RowPairTarget direct[kTileRows / 2];
                int directPairs = 0;
                for (int r = band; r < bandEnd; r += 2) {
                    RowPairTarget t{};
                    t.lumaTop = PlaneRow(out, 0, r) + first;
                    t.lumaBottom = PlaneRow(out, 0, r + 1) + first;
                    t.u = PlaneRow(out, 1, r / 2) + first / 2;
                    t.v = PlaneRow(out, 2, r / 2) + first / 2;
                    if (parts.gatherRowPairs &&
                        UnbrokenRun(table, layout, r, first, count, t.runs.topTaps, t.runs.topFractions) &&
                        UnbrokenRun(table, layout, r + 1, first, count, t.runs.bottomTaps, t.runs.bottomFractions)) {
                        direct[directPairs++] = t;
                        continue;
                    }
                    unsigned char* top = tile.data() + static_cast<size_t>(r - band) * tileStep;
                    GatherLayoutSpan(parts.gather, src, table, layout, r, first, count, top);
                    GatherLayoutSpan(parts.gather, src, table, layout, r + 1, first, count, top + tileStep);
                    parts.rowPair(top, top + tileStep, count, t.lumaTop, t.lumaBottom, t.u, t.v);
                }
                if (directPairs > 0)
                    parts.gatherRowPairs(src, direct, directPairs, count);
            });
        }
    });
}

}  // namespace kernels
}  // namespace zrfe

namespace zrfe {
namespace kernels {

namespace {

const int kPlaneChannels = 3;

void InterleavePairsRow(const unsigned char* luma, const unsigned char* pairs, unsigned char* out, int from, int to)
{
    for (int x = from; x < to; ++x) {
        out[kPlaneChannels * x] = luma[x];
        out[kPlaneChannels * x + 1] = pairs[2 * x];
        out[kPlaneChannels * x + 2] = pairs[2 * x + 1];
    }
}

cv::Mat ResizedTo(const cv::Mat& plane, cv::Size size, ScratchSlot slot)
{
    if (plane.size() == size)
        return plane;  // OpenCV copies a plane of the target size unchanged
    cv::Mat& out = Scratch(slot, size, CV_8UC1);
    const zrbase::OpenCvPoolUse pool;
    cv::resize(plane, out, size, 0, 0, cv::INTER_LINEAR);
    return out;
}

}  // namespace

void InterleaveRow(const unsigned char* c0, const unsigned char* c1, const unsigned char* c2, int count,
                   unsigned char* out)
{
    for (int x = 0; x < count; ++x) {
        out[kPlaneChannels * x] = c0[x];
        out[kPlaneChannels * x + 1] = c1[x];
        out[kPlaneChannels * x + 2] = c2[x];
    }
}

cv::Mat& Scratch(ScratchSlot slot, cv::Size size, int type)
{
    thread_local cv::Mat slots[static_cast<int>(ScratchSlot::kCount)];
    cv::Mat& m = slots[static_cast<int>(slot)];
    zrbase::CreateLargePicture(m, size.height, size.width, type);
    return m;
}

void Interleave(const cv::Mat& c0, const cv::Mat& c1, const cv::Mat& c2, cv::Mat& dst)
{
    for (int y = 0; y < dst.rows; ++y)
        InterleaveRow(c0.ptr<unsigned char>(y), c1.ptr<unsigned char>(y), c2.ptr<unsigned char>(y), dst.cols,
                      dst.ptr<unsigned char>(y));
}

void InterleavePairs(const cv::Mat& luma, const cv::Mat& pairs, cv::Mat& dst)
{
    for (int y = 0; y < dst.rows; ++y)
        InterleavePairsRow(luma.ptr<unsigned char>(y), pairs.ptr<unsigned char>(y), dst.ptr<unsigned char>(y), 0,
                           dst.cols);
}

void Nv12ToWorkingWith(InterleavePairsFn interleave, const DoublingRowOps& doubling, const tag_ZRFRAME& frame,
                       cv::Mat& dst)
{
    const cv::Mat luma(frame.nHeight, frame.nWidth, CV_8UC1, frame.pData[0], static_cast<size_t>(frame.nPitch[0]));
    const cv::Mat pairs(frame.nHeight / 2, frame.nWidth / 2, CV_8UC2, frame.pData[1],
                        static_cast<size_t>(frame.nPitch[1]));
    if (IsChromaDoubling(luma, pairs.size(), dst)) {
        DoubleChromaPairs(doubling, luma, pairs, dst);
        return;
    }
    const cv::Size size = dst.size();
    cv::Mat scaledPairs = pairs;
    if (pairs.size() != size) {
        scaledPairs = Scratch(ScratchSlot::kScaledPairs, size, CV_8UC2);
        const zrbase::OpenCvPoolUse pool;
        cv::resize(pairs, scaledPairs, size, 0, 0, cv::INTER_LINEAR);
    }
    interleave(ResizedTo(luma, size, ScratchSlot::kScaledLuma), scaledPairs, dst);
}

void PlanesToWorkingWith(InterleaveFn interleave, const DoublingRowOps& doubling, const cv::Mat& luma,
                         const cv::Mat& u, const cv::Mat& v, cv::Mat& dst)
{
    if (u.size() == v.size() && IsChromaDoubling(luma, u.size(), dst)) {
        DoubleChromaPlanes(doubling, luma, u, v, dst);
        return;
    }
    // Chroma is always resized, even at the target size (a same-size resize is a copy).
    const cv::Size size = dst.size();
    interleave(ResizedTo(luma, size, ScratchSlot::kScaledLuma), ResizedTo(u, size, ScratchSlot::kScaledU),
               ResizedTo(v, size, ScratchSlot::kScaledV), dst);
}

}  // namespace kernels
}  // namespace zrfe

namespace zrfe {
namespace kernels {

#if CV_SIMD128
namespace {

const int kLanes = 16;

// The sums of adjacent byte pairs, as eight 16-bit lanes.
inline cv::v_uint16x8 PairSums(const cv::v_uint8x16& a)
{
    const cv::v_uint16x8 w = cv::v_reinterpret_as_u16(a);
    return (w & cv::v_setall_u16(0xFF)) + (w >> 8);
}

void RowPairTo420Simd(const unsigned char* top, const unsigned char* bottom, int width, unsigned char* lumaTop,
                      unsigned char* lumaBottom, unsigned char* u, unsigned char* v)
{
    int x = 0;
    for (; x + 2 * kLanes <= width; x += 2 * kLanes) {
        cv::v_uint8x16 y0[2], u0[2], v0[2], y1[2], u1[2], v1[2];
        for (int half = 0; half < 2; ++half) {
            const size_t at = static_cast<size_t>(x + half * kLanes) * kPlaneChannels;
            cv::v_load_deinterleave(top + at, y0[half], u0[half], v0[half]);
            cv::v_load_deinterleave(bottom + at, y1[half], u1[half], v1[half]);
            cv::v_store(lumaTop + x + half * kLanes, y0[half]);
            cv::v_store(lumaBottom + x + half * kLanes, y1[half]);
        }
        // (sum of the 2 x 2 block + 2) >> 2, packed
        cv::v_store(u + x / 2, cv::v_rshr_pack<2>(PairSums(u0[0]) + PairSums(u1[0]), PairSums(u0[1]) + PairSums(u1[1])));
        cv::v_store(v + x / 2, cv::v_rshr_pack<2>(PairSums(v0[0]) + PairSums(v1[0]), PairSums(v0[1]) + PairSums(v1[1])));
    }
    const size_t done = static_cast<size_t>(x);
    RowPairTo420(top + done * kPlaneChannels, bottom + done * kPlaneChannels, width - x, lumaTop + done,
                 lumaBottom + done, u + done / 2, v + done / 2);
}

void InterleaveRowSimd(const unsigned char* c0, const unsigned char* c1, const unsigned char* c2, int count,
                       unsigned char* out)
{
    int x = 0;
    for (; x + kLanes <= count; x += kLanes)
        cv::v_store_interleave(out + static_cast<size_t>(x) * kPlaneChannels, cv::v_load(c0 + x), cv::v_load(c1 + x),
                               cv::v_load(c2 + x));
    InterleaveRow(c0 + x, c1 + x, c2 + x, count - x, out + static_cast<size_t>(x) * kPlaneChannels);
}

void InterleaveSimd(const cv::Mat& c0, const cv::Mat& c1, const cv::Mat& c2, cv::Mat& dst)
{
    for (int y = 0; y < dst.rows; ++y)
        InterleaveRowSimd(c0.ptr<unsigned char>(y), c1.ptr<unsigned char>(y), c2.ptr<unsigned char>(y), dst.cols,
                          dst.ptr<unsigned char>(y));
}

void InterleavePairsSimd(const cv::Mat& luma, const cv::Mat& pairs, cv::Mat& dst)
{
    for (int y = 0; y < dst.rows; ++y) {
        const unsigned char* p0 = luma.ptr<unsigned char>(y);
        const unsigned char* p1 = pairs.ptr<unsigned char>(y);
        unsigned char* out = dst.ptr<unsigned char>(y);
        int x = 0;
        for (; x + kLanes <= dst.cols; x += kLanes) {
            cv::v_uint8x16 u, v;
            cv::v_load_deinterleave(p1 + 2 * static_cast<size_t>(x), u, v);
            cv::v_store_interleave(out + static_cast<size_t>(x) * kPlaneChannels, cv::v_load(p0 + x), u, v);
        }
        InterleavePairsRow(p0, p1, out, x, dst.cols);
    }
}

}  // namespace
#endif

const Simd128Parts* Simd128()
{
#if CV_SIMD128
    static const Simd128Parts parts = {GatherRunSimd, RowPairTo420Simd, InterleaveRowSimd, InterleaveSimd,
                                             InterleavePairsSimd};
    return &parts;
#else
    return nullptr;
#endif
}

}  // namespace kernels
}  // namespace zrfe
