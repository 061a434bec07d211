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

#include <hwy/highway.h>

#include <algorithm>
#include <cstring>

#include "KernelParts.h"

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
void GatherRun(const cv::Mat& src, const cv::Vec2s* taps, const uint16_t* fractions, int count,
               unsigned char* out)
{
    const hn::ScalableTag<int32_t> di;
    const hn::RebindToUnsigned<decltype(di)> du;
    const hn::Repartition<int16_t, decltype(di)> dh;  // two 16-bit halves per pixel lane
    const hn::Repartition<uint64_t, decltype(di)> dw;  // a pixel's row word, half as many a vector
    const hn::Rebind<uint16_t, decltype(di)> dfraction;
    const int lanes = static_cast<int>(hn::Lanes(di));
    const int halfLanes = lanes / 2;
    const int channels = 3;

    const int32_t step = static_cast<int32_t>(src.step);
    const auto stepV = hn::Set(di, step);
    // A row word reads the pixel after the second tap too: the vector path takes
    // x < cols - 2, other pixels go one by one.
    const auto lastTapX = hn::Set(du, static_cast<uint32_t>(std::max(src.cols - 2, 0)));
    const auto lastTapY = hn::Set(du, static_cast<uint32_t>(src.rows - 1));
    const auto evenBytes = hn::Set(du, 0x00FF00FFu);
    const auto lowByte = hn::Set(du, 0xFFu);
    const auto fractionMask = hn::Set(du, static_cast<uint32_t>(kFractionSteps - 1));
    const auto roundHalf = hn::Set(dh, static_cast<int16_t>(kFractionSteps / 2));
    const int32_t maxLanes = HWY_MAX_BYTES / sizeof(uint32_t);
    HWY_ALIGN int32_t offsets[maxLanes];
    HWY_ALIGN uint64_t topWords[maxLanes], bottomWords[maxLanes];
    HWY_ALIGN uint32_t pixels[maxLanes];

    // h = 32 a + fx (b - a) in each 16-bit half, computed modulo 2^16 (the true
    // value of a channel lies in [0, 8160], so it comes out exact).
    const auto rowBlend = [&](decltype(hn::Zero(du)) a, decltype(hn::Zero(du)) b, decltype(hn::Zero(dh)) fx) {
        const auto a16 = hn::BitCast(dh, a);
        return hn::Add(hn::ShiftLeft<kFractionBits>(a16), hn::Mul(fx, hn::Sub(hn::BitCast(dh, b), a16)));
    };
    const auto columnBlend = [&](decltype(hn::Zero(dh)) top, decltype(hn::Zero(dh)) bottom,
                                 decltype(hn::Zero(dh)) fyHigh) {
        const auto d = hn::Sub(bottom, top);
        const auto q = hn::Add(hn::Add(top, roundHalf), hn::MulHigh(hn::Add(d, d), fyHigh));
        return hn::BitCast(du, hn::ShiftRight<kFractionBits>(q));
    };

    int x = 0;
    for (; x + lanes <= count; x += lanes) {
        const auto tap = hn::LoadU(di, reinterpret_cast<const int32_t*>(taps + x));
        const auto tapX = hn::ShiftRight<16>(hn::ShiftLeft<16>(tap));
        const auto tapY = hn::ShiftRight<16>(tap);
        const auto inside = hn::And(hn::Lt(hn::BitCast(du, tapX), lastTapX), hn::Lt(hn::BitCast(du, tapY), lastTapY));
        if (!hn::AllTrue(du, inside)) {
            GatherRunScalar(src, taps + x, fractions + x, lanes, out + static_cast<size_t>(x) * channels);
            continue;
        }
        // Each pixel's two taps of a row as one 8-byte word, a0 a1 a2 b0 b1 b2 . .
        // Plain loads rather than the processor's gather: a gather waits for its
        // slowest lane, while separate loads let the misses of many pixels overlap
        // (measured: the panorama's gather a third faster on AVX2).
        hn::Store(hn::Add(hn::Mul(tapY, stepV), hn::Mul(tapX, hn::Set(di, channels))), di, offsets);
        for (int i = 0; i < lanes; ++i) {
            const unsigned char* p = src.data + offsets[i];
            std::memcpy(&topWords[i], p, sizeof(uint64_t));
            std::memcpy(&bottomWords[i], p + step, sizeof(uint64_t));
        }
        // Per pixel lane the first tap's word a0 a1 a2 b0 and the second's b0 b1 b2 0.
        const auto left = [&](const uint64_t* words) {
            return hn::ConcatEven(du, hn::BitCast(du, hn::Load(dw, words + halfLanes)),
                                  hn::BitCast(du, hn::Load(dw, words)));
        };
        const auto right = [&](const uint64_t* words) {
            return hn::ConcatEven(du, hn::BitCast(du, hn::ShiftRight<24>(hn::Load(dw, words + halfLanes))),
                                  hn::BitCast(du, hn::ShiftRight<24>(hn::Load(dw, words))));
        };
        const auto topLeft = left(topWords), topRight = right(topWords);
        const auto bottomLeft = left(bottomWords), bottomRight = right(bottomWords);

        const auto fraction = hn::PromoteTo(du, hn::LoadU(dfraction, fractions + x));
        const auto fx = hn::And(fraction, fractionMask);
        const auto fyHigh = hn::ShiftLeft<10>(hn::ShiftRight<kFractionBits>(fraction));
        const auto fxBoth = hn::BitCast(dh, hn::Or(fx, hn::ShiftLeft<16>(fx)));
        const auto fyBoth = hn::BitCast(dh, hn::Or(fyHigh, hn::ShiftLeft<16>(fyHigh)));

        const auto even = columnBlend(
            rowBlend(hn::And(topLeft, evenBytes), hn::And(topRight, evenBytes), fxBoth),
            rowBlend(hn::And(bottomLeft, evenBytes), hn::And(bottomRight, evenBytes), fxBoth), fyBoth);
        const auto odd = columnBlend(rowBlend(hn::And(hn::ShiftRight<8>(topLeft), evenBytes),
                                              hn::And(hn::ShiftRight<8>(topRight), evenBytes), fxBoth),
                                     rowBlend(hn::And(hn::ShiftRight<8>(bottomLeft), evenBytes),
                                              hn::And(hn::ShiftRight<8>(bottomRight), evenBytes), fxBoth),
                                     fyBoth);
        hn::Store(hn::Or(even, hn::ShiftLeft<8>(hn::And(odd, lowByte))), du, pixels);

        // Four bytes a pixel, the fourth overwritten by the next; the run's last pixel gets three.
        unsigned char* o = out + static_cast<size_t>(x) * channels;
        const int whole = x + lanes < count ? lanes : lanes - 1;
        for (int i = 0; i < whole; ++i)
            std::memcpy(o + i * channels, &pixels[i], sizeof(uint32_t));
        if (whole < lanes)
            std::memcpy(o + whole * channels, &pixels[whole], static_cast<size_t>(channels));
    }
    if (x < count)
        GatherRunScalar(src, taps + x, fractions + x, count - x, out + static_cast<size_t>(x) * channels);
}

void Remap(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst)
{
    RemapWith(GatherRun, src, table, layout, dst);
}

void RemapTo420(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, const PlanarPicture& out)
{
    const KernelTable& base = Simd128Kernels() ? *Simd128Kernels() : ScalarKernels();
    RemapTo420With(GatherRun, Simd128() ? Simd128()->rowPair : RowPairTo420, base.workingTo420, src, table,
                   layout, out);
}

const KernelTable* TargetKernels()
{
    static const KernelTable table = [] {
        KernelTable t = Simd128Kernels() ? *Simd128Kernels() : ScalarKernels();
        t.name = hwy::TargetName(HWY_TARGET);
        t.remap = Remap;
        t.remapTo420 = RemapTo420;
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
