// Fast mode's gathers: one bilinear sample per output sample, read straight from
// the frame's bordered planes (luma, and U V pairs that give both chroma planes
// in one read), in a scalar and a 128-bit vector version that give the same bytes.
#include <algorithm>
#include <cstring>

#include <hwy/cache_control.h>
#include <opencv2/core/hal/intrin.hpp>

#include "KernelParts.h"
#include "ParallelRows.h"

namespace zrfe {
namespace kernels {

namespace {

const int kFractionMask = kFastFractionSteps - 1;
const int kFastRound = 1 << (2 * kFastFractionBits - 1);
const uint32_t kFractionField = (1u << kFastOffsetShift) - 1;

// The bilinear sample of taps a, b (top row) and c, d (row below).
inline unsigned char Blend(int a, int b, int c, int d, uint32_t entry)
{
    const int fx = static_cast<int>(entry & kFractionMask);
    const int fy = static_cast<int>((entry >> kFastFractionBits) & kFractionMask);
    const int top = a * (kFastFractionSteps - fx) + b * fx;
    const int bottom = c * (kFastFractionSteps - fx) + d * fx;
    return static_cast<unsigned char>((top * (kFastFractionSteps - fy) + bottom * fy + kFastRound) >> kFastOffsetShift);
}

inline const unsigned char* Tap(const unsigned char* plane, uint32_t entry) { return plane + (entry >> kFastOffsetShift); }

#if CV_SIMD128
const int kRunLanes = 8;

inline uint16_t TwoBytes(const unsigned char* p)
{
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline uint32_t FourBytes(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// The weights of eight entries as 16-bit pairs (steps - f, f) for a multiply-add:
// across for samples 0..3 and 4..7, down likewise.
struct Weights8 {
    cv::v_int16x8 acrossLow, acrossHigh, downLow, downHigh;
    explicit Weights8(const uint32_t* entries)
    {
        const cv::v_uint32x4 field = cv::v_setall_u32(kFractionField);
        const cv::v_uint16x8 f = cv::v_pack(cv::v_load(entries) & field, cv::v_load(entries + 4) & field);
        const cv::v_uint16x8 mask = cv::v_setall_u16(kFractionMask), steps = cv::v_setall_u16(kFastFractionSteps);
        const cv::v_uint16x8 fx = f & mask, fy = f >> kFastFractionBits;
        cv::v_uint16x8 a, b, c, d;
        cv::v_zip(steps - fx, fx, a, b);
        cv::v_zip(steps - fy, fy, c, d);
        acrossLow = cv::v_reinterpret_as_s16(a);
        acrossHigh = cv::v_reinterpret_as_s16(b);
        downLow = cv::v_reinterpret_as_s16(c);
        downHigh = cv::v_reinterpret_as_s16(d);
    }
};

// Eight samples from their tap pairs as 16-bit lanes (left tap, right tap), top
// and bottom rows, samples 0..3 in the low registers: the scalar version's sums.
inline cv::v_int16x8 Blend8(const cv::v_uint16x8& topLow, const cv::v_uint16x8& topHigh,
                            const cv::v_uint16x8& bottomLow, const cv::v_uint16x8& bottomHigh, const Weights8& w)
{
    const cv::v_int16x8 top = cv::v_pack(cv::v_dotprod(cv::v_reinterpret_as_s16(topLow), w.acrossLow),
                                         cv::v_dotprod(cv::v_reinterpret_as_s16(topHigh), w.acrossHigh));
    const cv::v_int16x8 bottom = cv::v_pack(cv::v_dotprod(cv::v_reinterpret_as_s16(bottomLow), w.acrossLow),
                                            cv::v_dotprod(cv::v_reinterpret_as_s16(bottomHigh), w.acrossHigh));
    cv::v_int16x8 low, high;
    cv::v_zip(top, bottom, low, high);
    const cv::v_int32x4 round = cv::v_setall_s32(kFastRound);
    return cv::v_pack((cv::v_dotprod(low, w.downLow) + round) >> kFastOffsetShift,
                      (cv::v_dotprod(high, w.downHigh) + round) >> kFastOffsetShift);
}

// A row runs along a ring of the frame that the cache has not seen yet: each step
// asks for the source rows of the samples this far ahead, one in every few (the
// taps of neighbouring samples share cache lines), so the misses overlap with the
// work (measured: the panorama a fifth faster).
constexpr int kAheadSamples = 64;
constexpr int kAheadStride = 4;

inline void AskAhead(const unsigned char* plane, size_t pitch, const uint32_t* entries, int x, int count)
{
    const int end = std::min(count, x + kAheadSamples + kRunLanes);
    for (int k = x + kAheadSamples; k < end; k += kAheadStride) {
        hwy::Prefetch(Tap(plane, entries[k]));
        hwy::Prefetch(Tap(plane, entries[k]) + pitch);
    }
}

void FastGatherRunSimd(const unsigned char* plane, size_t pitch, const uint32_t* entries, int count,
                       unsigned char* out)
{
    int x = 0;
    for (; x + kRunLanes <= count; x += kRunLanes) {
        AskAhead(plane, pitch, entries, x, count);
        uint16_t top[kRunLanes], bottom[kRunLanes];
        for (int k = 0; k < kRunLanes; ++k) {
            const unsigned char* p = Tap(plane, entries[x + k]);
            top[k] = TwoBytes(p);
            bottom[k] = TwoBytes(p + pitch);
        }
        cv::v_uint16x8 tLow, tHigh, bLow, bHigh;
        cv::v_expand(cv::v_reinterpret_as_u8(cv::v_load(top)), tLow, tHigh);
        cv::v_expand(cv::v_reinterpret_as_u8(cv::v_load(bottom)), bLow, bHigh);
        cv::v_pack_u_store(out + x, Blend8(tLow, tHigh, bLow, bHigh, Weights8(entries + x)));
    }
    FastGatherRunScalar(plane, pitch, entries + x, count - x, out + x);
}

// Pairs plane: each tap reads U V U' V'; as 16-bit lanes (U | V << 8, U' | V' << 8),
// the low bytes are U's tap pair and the high bytes V's.
void FastGatherPairsRunSimd(const unsigned char* plane, size_t pitch, const uint32_t* entries, int count,
                            unsigned char* outU, unsigned char* outV)
{
    const cv::v_uint16x8 low = cv::v_setall_u16(0xFF);
    int x = 0;
    for (; x + kRunLanes <= count; x += kRunLanes) {
        AskAhead(plane, pitch, entries, x, count);
        uint32_t top[kRunLanes], bottom[kRunLanes];
        for (int k = 0; k < kRunLanes; ++k) {
            const unsigned char* p = Tap(plane, entries[x + k]);
            top[k] = FourBytes(p);
            bottom[k] = FourBytes(p + pitch);
        }
        const Weights8 w(entries + x);
        const cv::v_uint16x8 t0 = cv::v_reinterpret_as_u16(cv::v_load(top)), t1 = cv::v_reinterpret_as_u16(cv::v_load(top + 4));
        const cv::v_uint16x8 b0 = cv::v_reinterpret_as_u16(cv::v_load(bottom)),
                             b1 = cv::v_reinterpret_as_u16(cv::v_load(bottom + 4));
        cv::v_pack_u_store(outU + x, Blend8(t0 & low, t1 & low, b0 & low, b1 & low, w));
        cv::v_pack_u_store(outV + x, Blend8(t0 >> 8, t1 >> 8, b0 >> 8, b1 >> 8, w));
    }
    FastGatherPairsRunScalar(plane, pitch, entries + x, count - x, outU + x, outV + x);
}
#endif

unsigned char* PlaneRow(const PlanarPicture& out, int plane, int row)
{
    return out.planes[plane] + static_cast<size_t>(row) * static_cast<size_t>(out.pitches[plane]);
}

// The entries of table row `row` from column `start` on, in runs that wrap at the
// table's width: run(entries, count, done).
template <class RunFn>
void ForRuns(const FastPlaneTable& t, int row, int start, int count, const RunFn& run)
{
    const uint32_t* entries = t.entries.ptr<uint32_t>(row);
    for (int done = 0; done < count;) {
        const int n = std::min(count - done, t.cols() - start);
        run(entries + start, n, done);
        done += n;
        start = 0;
    }
}

// Whether the table has row `row` and column `start` (a layout it was built for).
bool Covers(const FastPlaneTable& t, int row, int start)
{
    return !t.empty() && row < t.rows() && start < t.cols();
}

}  // namespace

void FastGatherRunScalar(const unsigned char* plane, size_t pitch, const uint32_t* entries, int count,
                         unsigned char* out)
{
    for (int x = 0; x < count; ++x) {
        const unsigned char* p = Tap(plane, entries[x]);
        out[x] = Blend(p[0], p[1], p[pitch], p[pitch + 1], entries[x]);
    }
}

void FastGatherPairsRunScalar(const unsigned char* plane, size_t pitch, const uint32_t* entries, int count,
                              unsigned char* outU, unsigned char* outV)
{
    for (int x = 0; x < count; ++x) {
        const unsigned char* p = Tap(plane, entries[x]);
        outU[x] = Blend(p[0], p[2], p[pitch], p[pitch + 2], entries[x]);
        outV[x] = Blend(p[1], p[3], p[pitch + 1], p[pitch + 3], entries[x]);
    }
}

const FastSimd128Parts* FastSimd128()
{
#if CV_SIMD128
    static const FastSimd128Parts parts = {FastGatherRunSimd, FastGatherPairsRunSimd};
    return &parts;
#else
    return nullptr;
#endif
}

void FastRemapTo420With(FastGatherRunFn gather, FastGatherPairsRunFn gatherPairs, const FastPlanes& planes,
                        const FastTable& table, const RowLayout& layout, const PlanarPicture& out)
{
    const int width = layout.width, height = layout.height();
    const int chromaWidth = width / 2;
    // A row pair of luma and its chroma row together, so that each thread reads one band of the tables.
    ParallelRows((height + 1) / 2, 3 * width, [&](int firstPair, int endPair) {
        for (int j = firstPair; j < endPair; ++j) {
            for (int r = 2 * j; r < std::min(2 * j + 2, height); ++r) {
                unsigned char* y = PlaneRow(out, 0, r);
                const int t = layout.tableRow[static_cast<size_t>(r)], c = layout.columnStart[static_cast<size_t>(r)];
                if (!Covers(table.luma, t, c)) {
                    std::memset(y, 0, static_cast<size_t>(width));
                    continue;
                }
                ForRuns(table.luma, t, c, width, [&](const uint32_t* entries, int n, int done) {
                    gather(planes.luma.data, planes.luma.step, entries, n, y + done);
                });
            }
            if (2 * j + 1 >= height || chromaWidth < 1)
                continue;
            unsigned char* u = PlaneRow(out, 1, j);
            unsigned char* v = PlaneRow(out, 2, j);
            const int t = layout.tableRow[2 * static_cast<size_t>(j)], c = layout.columnStart[2 * static_cast<size_t>(j)];
            const FastPlaneTable& phase = table.chroma[t & 1][c & 1];
            if (!Covers(phase, t >> 1, c >> 1)) {
                std::memset(u, 0, static_cast<size_t>(chromaWidth));
                std::memset(v, 0, static_cast<size_t>(chromaWidth));
                continue;
            }
            ForRuns(phase, t >> 1, c >> 1, chromaWidth, [&](const uint32_t* entries, int n, int done) {
                gatherPairs(planes.chroma.data, planes.chroma.step, entries, n, u + done, v + done);
            });
        }
    });
}

}  // namespace kernels
}  // namespace zrfe
