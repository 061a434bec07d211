// The remap gather in Google Highway, compiled once for every vector target that
// Highway knows and chosen by what the processor runs. Each target makes a kernel
// table of its own (the 128-bit table with this gather in place of its own), so
// the kernel checker compares every target with the reference.
//
// A block of pixels is gathered a whole vector at a time: each pixel's two taps
// of a row are read as one 8-byte word, and the three channels are weighed in
// 16-bit lanes with arithmetic that gives exactly the rounded sum of the four
// weighted taps.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "kernels/HighwayKernels.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <algorithm>
#include <cstring>

#include "KernelParts.h"
#include "ParallelRows.h"

HWY_BEFORE_NAMESPACE();
namespace zrfe {
namespace kernels {
namespace HWY_NAMESPACE {

#if HWY_TARGET == HWY_SCALAR
// One lane a vector has no halves to share: this target has no gather of its own.
const KernelTable* TargetKernels()
{
    return nullptr;
}
#else
namespace hn = hwy::HWY_NAMESPACE;

// Output pixels from a block of taps that all lie inside the picture (both taps
// of both rows). With a tap's two pixels a and b of one row and the fraction
// (fx, fy) in 1/32 pixel, the reference value is
//   (w0 a + w1 b + w2 c + w3 d + 2^9) >> 10,  w = (32 - fx)(32 - fy), ...
// which equals, exactly,
//   h = 32 a + fx (b - a)                 per row, in [0, 8160]
//   q = h_top + 16 + floor(fy (h_bottom - h_top) / 32)
//   value = q >> 5
// where the floor is the high half of (2 (h_bottom - h_top)) * (fy << 10). Every
// step fits a 16-bit lane, so two channels share each 32-bit pixel lane: the even
// bytes of a tap word (channels 0 and 2) and the odd ones (channel 1 and a byte
// that is thrown away).
//
// Pixels are gathered in chunks: first every block's source offsets and whether
// it lies inside, then the blocks themselves. The loads of a block then wait only
// on a load of its offsets, not on the arithmetic that makes them, so the loads of
// several blocks overlap.
const int kChunkPixels = 128;
constexpr int kPixelBytes = 3;  // Y, U, V interleaved
constexpr int kBlockBytes = 16;  // a 128-bit block, the unit of byte shuffles

using DI = hn::ScalableTag<int32_t>;
using DU = hn::RebindToUnsigned<DI>;
using VU = hn::Vec<DU>;

// One chunk of one table row: the source offset of each pixel and, per block of
// a vector's pixels, whether all of its taps lie inside the source.
struct ChunkOffsets {
    HWY_ALIGN int32_t offsets[kChunkPixels];
    bool blockInside[kChunkPixels];
    int blocks = 0;
};

// The gather's arithmetic for one source picture.
class BlockGather {
public:
    explicit BlockGather(const cv::Mat& src)
        : m_src(src),
          m_step(static_cast<int32_t>(src.step)),
          // A row word reads the pixel after the second tap too: the vector path takes
          // x < cols - 2, other pixels go one by one.
          m_lastTapX(hn::Set(m_du, static_cast<uint32_t>(std::max(src.cols - 2, 0)))),
          m_lastTapY(hn::Set(m_du, static_cast<uint32_t>(src.rows - 1)))
    {
    }

    static int Lanes() { return static_cast<int>(hn::Lanes(DI())); }
    const cv::Mat& Source() const { return m_src; }

    void Prepare(const cv::Vec2s* taps, const uint16_t* fractions, int count, ChunkOffsets& c) const
    {
        const int lanes = Lanes();
        const auto stepV = hn::Set(m_di, m_step);
        c.blocks = count / lanes;
        for (int b = 0; b < c.blocks; ++b) {
            const int x = b * lanes;
            const auto tap = hn::LoadU(m_di, reinterpret_cast<const int32_t*>(taps + x));
            const auto tapX = hn::ShiftRight<16>(hn::ShiftLeft<16>(tap));
            const auto tapY = hn::ShiftRight<16>(tap);
            const auto inside =
                hn::And(hn::Lt(hn::BitCast(m_du, tapX), m_lastTapX), hn::Lt(hn::BitCast(m_du, tapY), m_lastTapY));
            c.blockInside[b] = hn::AllTrue(m_du, inside);
            hn::Store(hn::Add(hn::Mul(tapY, stepV), hn::Mul(tapX, hn::Set(m_di, kPixelBytes))), m_di, c.offsets + x);
        }
        // Ask for the two source rows of every other pixel before the first load waits
        // on one: a panorama's source is a ring the cache has not seen yet, and the
        // loads of a block alone leave most of that wait exposed. Neighbours lie at
        // most about a row apart, so every other pixel's rows cover the one between
        // (measured: fewer requests, same hits, faster than asking for every pixel).
        constexpr int kPrefetchStride = 2;
        for (int b = 0; b < c.blocks; ++b) {
            if (!c.blockInside[b])
                continue;
            for (int i = b * lanes; i < (b + 1) * lanes; i += kPrefetchStride) {
                hwy::Prefetch(m_src.data + c.offsets[i]);
                hwy::Prefetch(m_src.data + c.offsets[i] + m_step);
            }
        }
        // The gather works in tiles, so the next chunk of this table row is read only
        // after a tile's other rows: too many streams for the hardware to follow.
        // Fetch it now; it is in the cache by the time the next tile reaches this row.
        constexpr int kCacheLine = 64;
        const char* nextTaps = reinterpret_cast<const char*>(taps + kChunkPixels);
        const char* nextFractions = reinterpret_cast<const char*>(fractions + kChunkPixels);
        for (int byte = 0; byte < kChunkPixels * static_cast<int>(sizeof(cv::Vec2s)); byte += kCacheLine)
            hwy::Prefetch(nextTaps + byte);
        for (int byte = 0; byte < kChunkPixels * static_cast<int>(sizeof(uint16_t)); byte += kCacheLine)
            hwy::Prefetch(nextFractions + byte);
    }

    // A block whose taps all lie inside: per pixel lane, channels 0 and 2 in the
    // low and high 16 bits of even, channel 1 in the low 16 bits of odd (its high
    // half holds a byte that is thrown away); every value in [0, 255].
    void Block(const int32_t* offsets, const uint16_t* fractions, VU& even, VU& odd) const
    {
        const hn::Repartition<uint64_t, DI> dw;  // a pixel's row word, half as many a vector
        const hn::Rebind<uint16_t, DI> dfraction;
        const int lanes = Lanes(), halfLanes = lanes / 2;
        constexpr int maxLanes = HWY_MAX_BYTES / sizeof(uint32_t);
        // Each pixel's two taps of a row as one 8-byte word, a0 a1 a2 b0 b1 b2 . .
        // Plain loads rather than the processor's gather: a gather waits for its
        // slowest lane, while separate loads let the misses of many pixels overlap
        // (measured: the panorama's gather a third faster on AVX2).
        HWY_ALIGN uint64_t topWords[maxLanes], bottomWords[maxLanes];
        for (int i = 0; i < lanes; ++i) {
            const unsigned char* p = m_src.data + offsets[i];
            std::memcpy(&topWords[i], p, sizeof(uint64_t));
            std::memcpy(&bottomWords[i], p + m_step, sizeof(uint64_t));
        }
        // Per pixel lane the first tap's word a0 a1 a2 b0 and the second's b0 b1 b2 0.
        const auto left = [&](const uint64_t* words) {
            return hn::ConcatEven(m_du, hn::BitCast(m_du, hn::Load(dw, words + halfLanes)),
                                  hn::BitCast(m_du, hn::Load(dw, words)));
        };
        const auto right = [&](const uint64_t* words) {
            return hn::ConcatEven(m_du, hn::BitCast(m_du, hn::ShiftRight<24>(hn::Load(dw, words + halfLanes))),
                                  hn::BitCast(m_du, hn::ShiftRight<24>(hn::Load(dw, words))));
        };
        const auto topLeft = left(topWords), topRight = right(topWords);
        const auto bottomLeft = left(bottomWords), bottomRight = right(bottomWords);

        const auto fraction = hn::PromoteTo(m_du, hn::LoadU(dfraction, fractions));
        const auto fx = hn::And(fraction, hn::Set(m_du, static_cast<uint32_t>(kFractionSteps - 1)));
        const auto fyHigh = hn::ShiftLeft<10>(hn::ShiftRight<kFractionBits>(fraction));
        const auto fxBoth = hn::BitCast(m_dh, hn::Or(fx, hn::ShiftLeft<16>(fx)));
        const auto fyBoth = hn::BitCast(m_dh, hn::Or(fyHigh, hn::ShiftLeft<16>(fyHigh)));

        // h = 32 a + fx (b - a) in each 16-bit half, computed modulo 2^16 (the true
        // value of a channel lies in [0, 8160], so it comes out exact).
        const auto rowBlend = [&](VU a, VU b) {
            const auto a16 = hn::BitCast(m_dh, a);
            return hn::Add(hn::ShiftLeft<kFractionBits>(a16), hn::Mul(fxBoth, hn::Sub(hn::BitCast(m_dh, b), a16)));
        };
        const auto roundHalf = hn::Set(m_dh, static_cast<int16_t>(kFractionSteps / 2));
        const auto columnBlend = [&](decltype(hn::Zero(m_dh)) top, decltype(hn::Zero(m_dh)) bottom) {
            const auto d = hn::Sub(bottom, top);
            const auto q = hn::Add(hn::Add(top, roundHalf), hn::MulHigh(hn::Add(d, d), fyBoth));
            return hn::BitCast(m_du, hn::ShiftRight<kFractionBits>(q));
        };
        const auto evenBytes = hn::Set(m_du, 0x00FF00FFu);
        const auto evens = [&](VU v) { return hn::And(v, evenBytes); };
        const auto odds = [&](VU v) { return hn::And(hn::ShiftRight<8>(v), evenBytes); };
        even = columnBlend(rowBlend(evens(topLeft), evens(topRight)), rowBlend(evens(bottomLeft), evens(bottomRight)));
        odd = columnBlend(rowBlend(odds(topLeft), odds(topRight)), rowBlend(odds(bottomLeft), odds(bottomRight)));
    }

private:
    DI m_di;
    DU m_du;
    hn::Repartition<int16_t, DI> m_dh;  // two 16-bit halves per pixel lane
    const cv::Mat& m_src;
    int32_t m_step;
    VU m_lastTapX, m_lastTapY;
};

void GatherChunk(const BlockGather& gather, const cv::Vec2s* taps, const uint16_t* fractions, int count,
                 unsigned char* out)
{
    const cv::Mat& src = gather.Source();
    const hn::Repartition<uint8_t, DI> d8;
    const int lanes = BlockGather::Lanes();
    constexpr int channels = kPixelBytes;
    constexpr int kBlockPixels = kBlockBytes / 4;
    HWY_ALIGN static constexpr uint8_t kPackPixels[16] = {0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 15, 15, 15, 15};
    const auto packPixels = hn::LoadDup128(d8, kPackPixels);
    const auto lowByte = hn::Set(DU(), 0xFFu);
    HWY_ALIGN unsigned char pixels[HWY_MAX_BYTES];

    ChunkOffsets c;
    gather.Prepare(taps, fractions, count, c);
    int x = 0;
    for (int b = 0; b < c.blocks; ++b, x += lanes) {
        if (!c.blockInside[b]) {
            GatherRunScalar(src, taps + x, fractions + x, lanes, out + static_cast<size_t>(x) * channels);
            continue;
        }
        VU even, odd;
        gather.Block(c.offsets + x, fractions + x, even, odd);
        // Each 16-byte block's four pixels packed into its first twelve bytes, and
        // written sixteen at a time: the last four are overwritten by the next
        // block, except at the chunk's end, where twelve are written.
        const auto packed = hn::TableLookupBytes(
            hn::BitCast(d8, hn::Or(even, hn::ShiftLeft<8>(hn::And(odd, lowByte)))), packPixels);
        hn::Store(packed, d8, pixels);
        unsigned char* o = out + static_cast<size_t>(x) * channels;
        for (int block = 0; block < lanes / kBlockPixels; ++block) {
            unsigned char* to = o + block * kBlockPixels * channels;
            if (x + (block + 1) * kBlockPixels + 2 <= count)
                std::memcpy(to, pixels + block * kBlockBytes, kBlockBytes);
            else
                std::memcpy(to, pixels + block * kBlockBytes, kBlockPixels * channels);
        }
    }
    if (x < count)
        GatherRunScalar(src, taps + x, fractions + x, count - x, out + static_cast<size_t>(x) * channels);
}

// n pixels from column first of a row pair, straight into the 4:2:0 planes: both
// luma rows, and each chroma value the rounded mean of its 2 x 2 block,
// (a + b + c + d + 2) >> 2, as the row-pair conversion gives it.
void GatherPairChunk(const BlockGather& gather, const RowPairTarget& t, int first, int n, const ChunkOffsets& top,
                     const ChunkOffsets& bottom)
{
    const cv::Mat& src = gather.Source();
    const hn::Rebind<uint8_t, DU> dLuma;
    const hn::Repartition<uint64_t, DI> dPair;  // two pixel lanes: one chroma value
    const hn::Rebind<uint8_t, decltype(dPair)> dChroma;
    const int lanes = BlockGather::Lanes();
    const auto lowHalves = hn::Set(dPair, 0x0000FFFF0000FFFFull);
    const auto two = hn::Set(dPair, 2);
    // (sum over the two pixel lanes of one 16-bit half + 2) >> 2, in the low byte.
    const auto blockMean = [&](hn::Vec<decltype(dPair)> halves) {
        const auto both = hn::Add(halves, hn::ShiftRight<32>(halves));
        return hn::TruncateTo(dChroma, hn::ShiftRight<2>(hn::Add(both, two)));
    };
    const PairRuns& runs = t.runs;
    int x = 0;
    for (int b = 0; b < top.blocks; ++b, x += lanes) {
        const int at = first + x;
        if (!top.blockInside[b] || !bottom.blockInside[b]) {
            GatherRowPairScalar(src, runs, at, lanes, t.lumaTop + at, t.lumaBottom + at, t.u + at / 2, t.v + at / 2);
            continue;
        }
        VU evenTop, oddTop, evenBottom, oddBottom;
        gather.Block(top.offsets + x, runs.topFractions + at, evenTop, oddTop);
        gather.Block(bottom.offsets + x, runs.bottomFractions + at, evenBottom, oddBottom);
        hn::StoreU(hn::TruncateTo(dLuma, evenTop), dLuma, t.lumaTop + at);
        hn::StoreU(hn::TruncateTo(dLuma, evenBottom), dLuma, t.lumaBottom + at);
        // The two rows' sums fit their 16-bit halves (at most 510).
        const auto evenSums = hn::BitCast(dPair, hn::Add(evenTop, evenBottom));
        const auto oddSums = hn::BitCast(dPair, hn::Add(oddTop, oddBottom));
        hn::StoreU(blockMean(hn::And(oddSums, lowHalves)), dChroma, t.u + at / 2);
        hn::StoreU(blockMean(hn::And(hn::ShiftRight<16>(evenSums), lowHalves)), dChroma, t.v + at / 2);
    }
    if (x < n) {
        const int at = first + x;
        GatherRowPairScalar(src, runs, at, n - x, t.lumaTop + at, t.lumaBottom + at, t.u + at / 2, t.v + at / 2);
    }
}

// The row pairs of a tile, a chunk at a time, the offsets of the next chunk made
// (and its source asked for) before this one is gathered: the source of a whole
// chunk of work is on its way while the loads of this one wait.
void GatherRowPairs(const cv::Mat& src, const RowPairTarget* pairs, int n, int count)
{
    const BlockGather gather(src);
    const int chunks = (count + kChunkPixels - 1) / kChunkPixels;
    const int units = n * chunks;
    ChunkOffsets prepared[2][2];  // [unit parity][top, bottom]
    const auto prepare = [&](int unit) {
        const PairRuns& runs = pairs[unit / chunks].runs;
        const int first = (unit % chunks) * kChunkPixels;
        const int m = std::min(kChunkPixels, count - first);
        ChunkOffsets* c = prepared[unit & 1];
        gather.Prepare(runs.topTaps + first, runs.topFractions + first, m, c[0]);
        gather.Prepare(runs.bottomTaps + first, runs.bottomFractions + first, m, c[1]);
    };
    if (units > 0)
        prepare(0);
    for (int unit = 0; unit < units; ++unit) {
        if (unit + 1 < units)
            prepare(unit + 1);
        const int first = (unit % chunks) * kChunkPixels;
        GatherPairChunk(gather, pairs[unit / chunks], first, std::min(kChunkPixels, count - first),
                        prepared[unit & 1][0], prepared[unit & 1][1]);
    }
}

void GatherRun(const cv::Mat& src, const cv::Vec2s* taps, const uint16_t* fractions, int count,
               unsigned char* out)
{
    const BlockGather gather(src);
    for (int first = 0; first < count; first += kChunkPixels)
        GatherChunk(gather, taps + first, fractions + first, std::min(kChunkPixels, count - first),
                    out + static_cast<size_t>(first) * kPixelBytes);
}

void Remap(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst)
{
    RemapWith(GatherRun, src, table, layout, dst);
}

// The resize's horizontal pass, a column a 128-bit block (two a step where a
// vector has two blocks): the column's eight source bytes a0 a1 a2 b0 b1 b2 . .
// become the 16-bit pairs (a0, b0) (a1, b1) (a2, b2) (0, 0) with one shuffle,
// and each pair is summed against the weights (w0, w1) in 32 bits, then narrowed
// as OpenCV narrows it.
template <class D8>
void HorizontalResizeColumns(D8 d8, const unsigned char* row, const ColumnPlan& plan, int from, int count,
                             int16_t* out)
{
    const hn::Repartition<int16_t, decltype(d8)> d16;
    const hn::Repartition<int32_t, decltype(d8)> d32;
    const hn::Rebind<int16_t, decltype(d32)> dNarrow;  // four lanes a column
    const hn::Full128<uint8_t> dBlock;
    const hn::Full64<uint8_t> dWord;
    constexpr int kColumns = static_cast<int>(hn::MaxLanes(d8)) / kBlockBytes;
    constexpr uint8_t kZero = 0x80;  // a shuffle index that gives 0
    HWY_ALIGN static constexpr uint8_t kPairs[16] = {0, kZero, 3, kZero, 1, kZero, 4, kZero,
                                                     2, kZero, 5, kZero, kZero, kZero, kZero, kZero};
    const auto pairs = hn::LoadDup128(d8, kPairs);
    const auto word = [&](int x) {
        return hn::ZeroExtendVector(dBlock, hn::LoadU(dWord, row + plan.offset[static_cast<size_t>(x)]));
    };
    const int vectorEnd = std::min(count, plan.vectorColumns);
    int x = from;
    for (; x + kColumns <= vectorEnd; x += kColumns) {
        hn::Vec<decltype(d8)> bytes;
        if constexpr (kColumns == 1)
            bytes = word(x);
        else
            bytes = hn::Combine(d8, word(x + 1), word(x));
        const auto taps = hn::BitCast(d16, hn::TableLookupBytesOr0(bytes, pairs));
        const auto weights = hn::LoadU(d16, &plan.weights[static_cast<size_t>(x) * kWeightLanes]);
        auto odd = hn::Zero(d32);
        const auto even = hn::ReorderWidenMulAccumulate(d32, taps, weights, hn::Zero(d32), odd);
        const auto sums = hn::DemoteTo(dNarrow, hn::ShiftRight<4>(hn::RearrangeToOddPlusEven(even, odd)));
        // Four lanes a column stored, the fourth overwritten by the next column (the row has room for it).
        if constexpr (kColumns == 1) {
            hn::StoreU(sums, dNarrow, out + kPixelBytes * x);
        } else {
            const hn::Half<decltype(dNarrow)> dColumn;
            hn::StoreU(hn::LowerHalf(dColumn, sums), dColumn, out + kPixelBytes * x);
            hn::StoreU(hn::UpperHalf(dColumn, sums), dColumn, out + kPixelBytes * (x + 1));
        }
    }
    HorizontalRowScalar(row, plan, x, count, out);
}

void HorizontalResizeRow(const unsigned char* row, const ColumnPlan& plan, int from, int count, int16_t* out)
{
    HorizontalResizeColumns(hn::CappedTag<uint8_t, 32>(), row, plan, from, count, out);
}

// The resize's vertical pass, as OpenCV rounds it: ((b0 top) >> 16) + ((b1 bottom) >> 16), + 2, >> 2.
void VerticalResizeRow(const int16_t* top, const int16_t* bottom, int16_t b0, int16_t b1, int count,
                       unsigned char* out)
{
    const hn::ScalableTag<int16_t> d16;
    const hn::Rebind<uint8_t, decltype(d16)> d8;
    const int lanes = static_cast<int>(hn::Lanes(d16));
    const auto w0 = hn::Set(d16, b0), w1 = hn::Set(d16, b1), round = hn::Set(d16, 2);
    int i = 0;
    for (; i + lanes <= count; i += lanes) {
        const auto upper = hn::MulHigh(hn::LoadU(d16, top + i), w0);
        const auto lower = hn::MulHigh(hn::LoadU(d16, bottom + i), w1);
        const auto sum = hn::Add(hn::Add(upper, lower), round);
        hn::StoreU(hn::DemoteTo(d8, hn::ShiftRight<2>(sum)), d8, out + i);
    }
    ScalarResizeRows().vertical(top + i, bottom + i, b0, b1, count - i, out + i);
}

void Resize(const cv::Mat& src, cv::Size whole, cv::Rect region, const RowSpans* reads, cv::Mat& dst)
{
    static const ResizeRowOps ops = {HorizontalResizeRow, VerticalResizeRow};
    ResizeRegionWith(ops, src, whole, region, reads, dst);
}

// Two working-picture rows into two luma rows and a row of each chroma plane, the
// chroma the rounded mean of each 2 x 2 block.
void RowPairTo420Vector(const unsigned char* top, const unsigned char* bottom, int width, unsigned char* lumaTop,
                        unsigned char* lumaBottom, unsigned char* u, unsigned char* v)
{
    const hn::ScalableTag<uint8_t> d8;
    const hn::RepartitionToWide<decltype(d8)> d16;
    const hn::RebindToSigned<decltype(d16)> dSigned;  // the means fit 8 bits: narrowed from signed lanes
    const hn::Rebind<uint8_t, decltype(dSigned)> dHalf;
    const int lanes = static_cast<int>(hn::Lanes(d8));
    const auto lowByte = hn::Set(d16, 0xFF);
    const auto two = hn::Set(d16, 2);
    // (sum of the block + 2) >> 2, from the channel's two rows of a block column pair
    const auto blockMeans = [&](decltype(hn::Zero(d8)) upper, decltype(hn::Zero(d8)) lower) {
        const auto a = hn::BitCast(d16, upper), b = hn::BitCast(d16, lower);
        const auto sums = hn::Add(hn::Add(hn::And(a, lowByte), hn::ShiftRight<8>(a)),
                                  hn::Add(hn::And(b, lowByte), hn::ShiftRight<8>(b)));
        return hn::DemoteTo(dHalf, hn::BitCast(dSigned, hn::ShiftRight<2>(hn::Add(sums, two))));
    };
    int x = 0;
    for (; x + lanes <= width; x += lanes) {
        const size_t at = static_cast<size_t>(x) * kPixelBytes;
        auto y0 = hn::Zero(d8), u0 = y0, v0 = y0, y1 = y0, u1 = y0, v1 = y0;
        hn::LoadInterleaved3(d8, top + at, y0, u0, v0);
        hn::LoadInterleaved3(d8, bottom + at, y1, u1, v1);
        hn::StoreU(y0, d8, lumaTop + x);
        hn::StoreU(y1, d8, lumaBottom + x);
        hn::StoreU(blockMeans(u0, u1), dHalf, u + x / 2);
        hn::StoreU(blockMeans(v0, v1), dHalf, v + x / 2);
    }
    const size_t done = static_cast<size_t>(x);
    RowPairTo420(top + done * kPixelBytes, bottom + done * kPixelBytes, width - x, lumaTop + done,
                 lumaBottom + done, u + done / 2, v + done / 2);
}

void WorkingTo420(const cv::Mat& src, const PlanarPicture& out)
{
    WorkingTo420With(RowPairTo420Vector, src, out);
}

void RemapTo420(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, const PlanarPicture& out)
{
    RemapTo420With({GatherRun, RowPairTo420Vector, GatherRowPairs}, WorkingTo420, src, table, layout, out);
}

void InterleaveRowVector(const unsigned char* c0, const unsigned char* c1, const unsigned char* c2, int count,
                         unsigned char* out)
{
    const hn::ScalableTag<uint8_t> d8;
    const int lanes = static_cast<int>(hn::Lanes(d8));
    int x = 0;
    for (; x + lanes <= count; x += lanes)
        hn::StoreInterleaved3(hn::LoadU(d8, c0 + x), hn::LoadU(d8, c1 + x), hn::LoadU(d8, c2 + x), d8,
                              out + static_cast<size_t>(x) * kPixelBytes);
    InterleaveRow(c0 + x, c1 + x, c2 + x, count - x, out + static_cast<size_t>(x) * kPixelBytes);
}

// The chroma doubling's column pass: ((3 near) >> 2) + (far >> 2), + 2, >> 2.
void BlendRowsVector(const uint16_t* near, const uint16_t* far, int count, unsigned char* out)
{
    const hn::ScalableTag<uint16_t> d16;
    const hn::RebindToSigned<decltype(d16)> dSigned;  // every value fits 8 bits: narrowed from signed lanes
    const hn::Rebind<uint8_t, decltype(dSigned)> d8;
    const int lanes = static_cast<int>(hn::Lanes(d16));
    const auto round = hn::Set(d16, 2);
    int i = 0;
    for (; i + lanes <= count; i += lanes) {
        const auto a = hn::LoadU(d16, near + i), b = hn::LoadU(d16, far + i);
        const auto sum = hn::Add(hn::Add(hn::ShiftRight<2>(hn::Add(hn::Add(a, a), a)), hn::ShiftRight<2>(b)), round);
        hn::StoreU(hn::DemoteTo(d8, hn::BitCast(dSigned, hn::ShiftRight<2>(sum))), d8, out + i);
    }
    ScalarDoublingRows().blend(near + i, far + i, count - i, out + i);
}

void SplitPairsVector(const unsigned char* pairs, int count, unsigned char* u, unsigned char* v)
{
    const hn::ScalableTag<uint8_t> d8;
    const int lanes = static_cast<int>(hn::Lanes(d8));
    int k = 0;
    for (; k + lanes <= count; k += lanes) {
        auto a = hn::Zero(d8), b = a;
        hn::LoadInterleaved2(d8, pairs + 2 * k, a, b);
        hn::StoreU(a, d8, u + k);
        hn::StoreU(b, d8, v + k);
    }
    ScalarDoublingRows().splitPairs(pairs + 2 * k, count - k, u + k, v + k);
}

// Luma of pixels from .. to - 1 of a working-picture row set to 0: a vector's
// worth of pixels at a time, ANDed with a pattern that keeps every chroma byte.
void ClearLuma(unsigned char* row, int from, int to)
{
    const hn::ScalableTag<uint8_t> d8;
    const int lanes = static_cast<int>(hn::Lanes(d8));
    struct Pattern {
        HWY_ALIGN unsigned char bytes[kPixelBytes * HWY_MAX_BYTES];
    };
    static const Pattern pattern = [] {
        Pattern p{};
        for (int i = 0; i < kPixelBytes * HWY_MAX_BYTES; ++i)
            p.bytes[i] = i % kPixelBytes == 0 ? 0 : 0xFF;
        return p;
    }();
    const unsigned char* keepChroma = pattern.bytes;
    int x = from;
    for (; x + lanes <= to; x += lanes) {
        unsigned char* at = row + static_cast<size_t>(x) * kPixelBytes;
        for (int part = 0; part < kPixelBytes; ++part)
            hn::StoreU(hn::And(hn::LoadU(d8, at + part * lanes), hn::Load(d8, keepChroma + part * lanes)), d8,
                       at + part * lanes);
    }
    for (; x < to; ++x)
        row[static_cast<size_t>(x) * kPixelBytes] = 0;
}

void MaskCircle(cv::Mat& picture, const CircleSpans& circle)
{
    ParallelRows(picture.rows, picture.cols, [&](int begin, int end) {
        for (int y = begin; y < end; ++y) {
            unsigned char* row = picture.ptr<unsigned char>(y);
            ClearLuma(row, 0, circle.first[static_cast<size_t>(y)]);
            ClearLuma(row, circle.end[static_cast<size_t>(y)], picture.cols);
        }
    });
}

const DoublingRowOps& DoublingRows()
{
    static const DoublingRowOps ops = [] {
        DoublingRowOps o = Simd128DoublingRows() ? *Simd128DoublingRows() : ScalarDoublingRows();
        o.splitPairs = SplitPairsVector;
        o.blend = BlendRowsVector;
        o.interleave = InterleaveRowVector;
        return o;
    }();
    return ops;
}

void Nv12ToWorking(const tag_ZRFRAME& frame, cv::Mat& dst)
{
    Nv12ToWorkingWith(Simd128() ? Simd128()->interleavePairs : InterleavePairs, DoublingRows(), frame, dst);
}

void PlanesToWorking(const cv::Mat& luma, const cv::Mat& u, const cv::Mat& v, cv::Mat& dst)
{
    PlanesToWorkingWith(Simd128() ? Simd128()->interleave : Interleave, DoublingRows(), luma, u, v, dst);
}

const KernelTable* TargetKernels()
{
    static const KernelTable table = [] {
        KernelTable t = Simd128Kernels() ? *Simd128Kernels() : ScalarKernels();
        t.name = hwy::TargetName(HWY_TARGET);
        t.remap = Remap;
        t.remapTo420 = RemapTo420;
        t.resize = Resize;
        t.maskCircle = MaskCircle;
        t.workingTo420 = WorkingTo420;
        t.nv12ToWorking = Nv12ToWorking;
        t.planesToWorking = PlanesToWorking;
        return t;
    }();
    return &table;
}
#endif

}  // namespace HWY_NAMESPACE
}  // namespace kernels
}  // namespace zrfe
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zrfe {
namespace kernels {

std::vector<const KernelTable*> HighwayKernelTables()
{
    using TableFn = const KernelTable* (*)();
    struct Compiled {
        int64_t target;
        TableFn table;
    };
    // Weakest first, as AvailableKernelTables lists them; the portable emulation
    // first of all, so that the checker runs it, but never chosen over the others.
    const Compiled compiled[] = {
        {HWY_EMU128, HWY_CHOOSE_FALLBACK(TargetKernels)},
        {HWY_SSSE3, HWY_CHOOSE_SSSE3(TargetKernels)}, {HWY_SSE4, HWY_CHOOSE_SSE4(TargetKernels)},
        {HWY_AVX2, HWY_CHOOSE_AVX2(TargetKernels)},   {HWY_AVX3, HWY_CHOOSE_AVX3(TargetKernels)},
        {HWY_AVX3_DL, HWY_CHOOSE_AVX3_DL(TargetKernels)}, {HWY_NEON, HWY_CHOOSE_NEON(TargetKernels)},
        {HWY_SVE, HWY_CHOOSE_SVE(TargetKernels)},     {HWY_SVE2, HWY_CHOOSE_SVE2(TargetKernels)},
    };
    std::vector<const KernelTable*> tables;
    const int64_t supported = hwy::SupportedTargets();
    for (const Compiled& c : compiled)
        if (c.table && (supported & c.target) != 0 && c.table())
            tables.push_back(c.table());
    return tables;
}

}  // namespace kernels
}  // namespace zrfe
#endif
