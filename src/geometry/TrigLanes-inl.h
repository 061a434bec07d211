// The GNU C library's atanf, atan2f, sinf and cosf in vector lanes, for every Highway
// target of the file that includes this one (TrigRows.cpp tells how they follow the
// library, and keeps each target's verdict on whether they do).
#ifndef ZRFISHEYE_GEOMETRY_TRIGCONSTANTS
#define ZRFISHEYE_GEOMETRY_TRIGCONSTANTS
#include <cstdint>
#include <cstring>

namespace zrfe {
namespace trig {

inline float FromBits(uint32_t u)
{
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// atanf: bounds on |x|'s bits.
constexpr int32_t kAtanIsArgument = 0x31000000;  // below 2^-29, atan(x) rounds to x
constexpr int32_t kAtanReduce0 = 0x3ee00000;     // 7/16: reduced about 1/2
constexpr int32_t kAtanReduce1 = 0x3f300000;     // 11/16: about 1
constexpr int32_t kAtanReduce2 = 0x3f980000;     // 19/16: about 3/2
constexpr int32_t kAtanReduce3 = 0x401c0000;     // 39/16: about infinity, as -1/x
constexpr int32_t kAtanIsHalfPi = 0x4c000000;    // from 2^25 on, atan(x) rounds to pi / 2
constexpr int32_t kInfinityBits = 0x7f800000;
// The polynomial's even-power half, aT0 + w aT2 + ..., and its odd-power half, whose
// coefficients are negative and enter as subtractions of their magnitudes.
constexpr float kAtanEven[] = {0x1.555556p-2f, 0x1.24924ap-3f, 0x1.745cdcp-4f,
                               0x1.10d66ap-4f, 0x1.97b4b2p-5f, 0x1.0ad3aep-6f};
constexpr float kAtanOddTop = -0x1.2b4442p-5f;
constexpr float kAtanOddMagnitudes[] = {0x1.99999ap-3f, 0x1.c71c70p-4f, 0x1.3b0f2ap-4f, 0x1.dde2d6p-5f};
// atan at the reduction points 1/2, 1, 3/2 and infinity, split in a high and a low part.
constexpr float kAtanHigh[] = {0x1.dac670p-2f, 0x1.921fb4p-1f, 0x1.f730bcp-1f, 0x1.921fb4p+0f};
constexpr float kAtanLow[] = {0x1.586ed2p-28f, 0x1.4442d0p-25f, 0x1.281f68p-25f, 0x1.4442d0p-24f};

// atan2f: pi, and the amount pi's float falls short of pi, which the library adds
// before it subtracts from (or subtracts) pi.
constexpr float kPiFloat = 0x1.921fb6p+1f;
constexpr float kPiShortfall = 0x1.777a5cp-24f;
constexpr int32_t kAtan2FarExponents = 0x1e7fffff;  // |y / x| beyond 2^60
constexpr int32_t kAtan2NearExponents = -60;
constexpr uint32_t kOneBits = 0x3f800000;

// sinf and cosf: 2/pi scaled by 2^24 and pi/2 for the reduction, the sign of the
// sine in each quadrant's reduced argument, and the two polynomials (for quadrants
// 0 and 1; quadrants 2 and 3 negate the cosine one, which negates its result).
constexpr double kTwoOverPiScaled = 0x1.45f306dc9c883p+23;
constexpr double kHalfPi = 0x1.921fb54442d18p+0;
constexpr int32_t kQuadrantRound = 0x800000;
constexpr double kCos0 = 1.0, kCos1 = -0x1.ffffffd0c621cp-2, kCos2 = 0x1.55553e1068f19p-5,
                 kCos3 = -0x1.6c087e89a359dp-10, kCos4 = 0x1.99343027bf8c3p-16;
constexpr double kSin1 = -0x1.555545995a603p-3, kSin2 = 0x1.1107605230bc4p-7, kSin3 = -0x1.994eb3774cf24p-13;
// The lanes take |x| in [2^-12, 120): below, sin x rounds to x; above, the library
// reduces with a long product.
constexpr uint32_t kSinCosLowestTop = 0x398;
constexpr uint32_t kSinCosHighestTop = 0x42e;

}  // namespace trig
}  // namespace zrfe
#endif

// Once per target: Highway's include guard for per-target code.
#if defined(ZRFISHEYE_GEOMETRY_TRIGLANES_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef ZRFISHEYE_GEOMETRY_TRIGLANES_INL_H_
#undef ZRFISHEYE_GEOMETRY_TRIGLANES_INL_H_
#else
#define ZRFISHEYE_GEOMETRY_TRIGLANES_INL_H_
#endif

#include <hwy/highway.h>

HWY_BEFORE_NAMESPACE();
namespace zrfe {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using VF = hn::Vec<DF>;

// atanf of every lane, as the library computes it. kNonNegativeFinite: every lane that
// matters holds a finite x >= 0 (atan2f's |y / x|), so the sign and NaN are not handled.
template <bool kNonNegativeFinite = false>
HWY_INLINE VF AtanLanes(DF d, VF x)
{
    using namespace trig;
    const hn::RebindToSigned<DF> di;
    const VF ax = kNonNegativeFinite ? x : hn::Abs(x);
    const auto ix = hn::BitCast(di, ax);
    // |x|'s bits at or above a bound (integer lanes compare only by greater-than here)
    auto above = [&](int32_t bits) { return hn::RebindMask(d, hn::Gt(ix, hn::Set(di, bits - 1))); };
    const auto reduce = above(kAtanReduce0), at1 = above(kAtanReduce1), at15 = above(kAtanReduce2),
               atInf = above(kAtanReduce3);
    const VF one = hn::Set(d, 1.0f), onePointFive = hn::Set(d, 1.5f);

    // the reduced argument (x - a) / (1 + a x) about the nearest reduction point a
    VF num = hn::Sub(hn::Add(ax, ax), one);
    VF den = hn::Add(ax, hn::Set(d, 2.0f));
    num = hn::IfThenElse(at1, hn::Sub(ax, one), num);
    den = hn::IfThenElse(at1, hn::Add(ax, one), den);
    num = hn::IfThenElse(at15, hn::Sub(ax, onePointFive), num);
    den = hn::IfThenElse(at15, hn::Add(hn::Mul(ax, onePointFive), one), den);
    num = hn::IfThenElse(atInf, hn::Set(d, -1.0f), num);
    den = hn::IfThenElse(atInf, ax, den);
    auto pick = [&](const float* table) {
        VF v = hn::Set(d, table[0]);
        v = hn::IfThenElse(at1, hn::Set(d, table[1]), v);
        v = hn::IfThenElse(at15, hn::Set(d, table[2]), v);
        return hn::IfThenElse(atInf, hn::Set(d, table[3]), v);
    };
    const VF t = hn::IfThenElse(reduce, hn::Div(num, den), x);

    const VF z = hn::Mul(t, t);
    const VF w = hn::Mul(z, z);
    VF even = hn::Set(d, kAtanEven[5]);
    for (int k = 4; k >= 0; --k)
        even = hn::Add(hn::Mul(even, w), hn::Set(d, kAtanEven[k]));
    even = hn::Mul(even, z);
    VF odd = hn::Mul(hn::Set(d, kAtanOddTop), w);
    for (int k = 3; k >= 0; --k)
        odd = hn::Mul(hn::Sub(odd, hn::Set(d, kAtanOddMagnitudes[k])), w);
    const VF tail = hn::Mul(hn::Add(even, odd), t);

    const VF small = hn::Sub(t, tail);
    const VF reduced = hn::Sub(pick(kAtanHigh), hn::Sub(hn::Sub(tail, pick(kAtanLow)), t));
    const VF halfPi = hn::Set(d, kAtanHigh[3] + kAtanLow[3]);
    const auto tiny = hn::RebindMask(d, hn::Lt(ix, hn::Set(di, kAtanIsArgument)));
    if (kNonNegativeFinite) {
        const VF result = hn::IfThenElse(above(kAtanIsHalfPi), halfPi, hn::IfThenElse(reduce, reduced, small));
        return hn::IfThenElse(tiny, x, result);
    }
    const VF signBit = hn::And(x, hn::Set(d, -0.0f));
    VF result = hn::IfThenElse(reduce, hn::Xor(reduced, signBit), small);
    result = hn::IfThenElse(above(kAtanIsHalfPi), hn::Xor(halfPi, signBit), result);
    result = hn::IfThenElse(tiny, x, result);
    return hn::IfThenElse(above(kInfinityBits + 1), hn::Add(x, x), result);  // NaN
}

// atan2f(y, x) where both are finite and not zero, x is not 1 and |y / x| within
// 2^-60 .. 2^60.
HWY_INLINE VF Atan2Lanes(DF d, VF y, VF x)
{
    using namespace trig;
    const VF z = AtanLanes<true>(d, hn::Abs(hn::Div(y, x)));
    // y's sign on both sides; pi - (z + the shortfall) on the left, where x < 0
    const VF ySign = hn::And(y, hn::Set(d, -0.0f));
    const VF left = hn::Sub(hn::Set(d, kPiFloat), hn::Add(z, hn::Set(d, kPiShortfall)));
    return hn::IfNegativeThenElse(x, hn::Xor(left, ySign), hn::Xor(z, ySign));
}

// Lanes where atan2f takes a path left to the library: either argument zero, infinite
// or NaN, x exactly 1, |y / x| beyond 2^60, or below 2^-60 with x negative.
HWY_INLINE hn::Mask<DF> Atan2LanesAreLibrarys(DF d, VF y, VF x)
{
    using namespace trig;
    const hn::RebindToSigned<DF> di;
    const auto hx = hn::BitCast(di, x), hy = hn::BitCast(di, y);
    const auto magnitude = hn::Set(di, 0x7fffffff);
    const auto ix = hn::And(hx, magnitude), iy = hn::And(hy, magnitude);
    const auto zero = hn::Zero(di);
    const auto beyondFinite = hn::Set(di, kInfinityBits - 1);
    const auto gap = hn::Sub(iy, ix);
    auto m = hn::Or(hn::Gt(ix, beyondFinite), hn::Gt(iy, beyondFinite));
    m = hn::Or(m, hn::Or(hn::Eq(ix, zero), hn::Eq(iy, zero)));
    m = hn::Or(m, hn::Eq(hx, hn::Set(di, static_cast<int32_t>(kOneBits))));
    m = hn::Or(m, hn::Gt(gap, hn::Set(di, kAtan2FarExponents)));
    m = hn::Or(m, hn::And(hn::Gt(zero, hx), hn::Gt(hn::Set(di, kAtan2NearExponents), hn::ShiftRight<23>(gap))));
    return hn::RebindMask(d, m);
}
// sinf and cosf of every double lane holding a float x with |x| in [2^-12, 120), as
// the library computes them (before they are rounded to float).
template <class DD>
HWY_INLINE void SinCosLanes(DD dd, hn::Vec<DD> v, hn::Vec<DD>& sinOut, hn::Vec<DD>& cosOut)
{
    using namespace trig;
    const hn::Rebind<int32_t, DD> di;
    const hn::Rebind<int64_t, DD> dl;
    const auto oneL = hn::Set(dl, 1), twoL = hn::Set(dl, 2), zeroL = hn::Zero(dl);
    const auto plus = hn::Set(dd, 1.0), minus = hn::Set(dd, -1.0);
    // quadrant n = round(x / (pi/2)) as the library takes it, and r = x - n pi/2 fused
    const auto scaled = hn::DemoteTo(di, hn::Mul(v, hn::Set(dd, kTwoOverPiScaled)));
    const auto q = hn::ShiftRight<24>(hn::Add(scaled, hn::Set(di, kQuadrantRound)));
    const auto r = hn::NegMulAdd(hn::PromoteTo(dd, q), hn::Set(dd, kHalfPi), v);
    const auto q64 = hn::PromoteTo(dl, q);
    const auto even = hn::RebindMask(dd, hn::Eq(hn::And(q64, oneL), zeroL));
    const auto low = hn::RebindMask(dd, hn::Eq(hn::And(q64, twoL), zeroL));
    // the sine's sign: + in quadrants 0 and 3, - in 1 and 2
    const auto sign = hn::IfThenElse(even, hn::IfThenElse(low, plus, minus), hn::IfThenElse(low, minus, plus));
    const auto xs = hn::Mul(r, sign);
    const auto x2 = hn::Mul(r, r);
    const auto x3 = hn::Mul(x2, xs), x4 = hn::Mul(x2, x2);
    const auto x5 = hn::Mul(x2, x3), x6 = hn::Mul(x2, x4);
    const auto sinHigh = hn::MulAdd(x2, hn::Set(dd, kSin3), hn::Set(dd, kSin2));
    const auto cosHigh = hn::MulAdd(x2, hn::Set(dd, kCos4), hn::Set(dd, kCos3));
    const auto sinLow = hn::MulAdd(x3, hn::Set(dd, kSin1), xs);
    const auto cosLow = hn::MulAdd(x4, hn::Set(dd, kCos2), hn::MulAdd(x2, hn::Set(dd, kCos1), hn::Set(dd, kCos0)));
    const auto sinPoly = hn::MulAdd(sinHigh, x5, sinLow);
    auto cosPoly = hn::MulAdd(cosHigh, x6, cosLow);
    cosPoly = hn::IfThenElse(low, cosPoly, hn::Neg(cosPoly));
    sinOut = hn::IfThenElse(even, sinPoly, cosPoly);
    cosOut = hn::IfThenElse(even, cosPoly, sinPoly);
}

// Lanes of float angles that sinf and cosf take down a path left to the library:
// |x| outside [2^-12, 120), infinity or NaN.
template <class D>
HWY_INLINE hn::Mask<D> SinCosLanesAreLibrarys(D d, hn::Vec<D> x)
{
    using namespace trig;
    const hn::RebindToSigned<D> di;
    const auto top = hn::And(hn::ShiftRight<20>(hn::BitCast(di, x)), hn::Set(di, 0x7ff));
    return hn::RebindMask(d, hn::Or(hn::Gt(hn::Set(di, static_cast<int32_t>(kSinCosLowestTop)), top),
                                    hn::Gt(top, hn::Set(di, static_cast<int32_t>(kSinCosHighestTop)))));
}

// Whether this target's lanes give the library's bits (found on first use).
bool OwnRows();

}  // namespace HWY_NAMESPACE
}  // namespace zrfe
HWY_AFTER_NAMESPACE();

#endif
