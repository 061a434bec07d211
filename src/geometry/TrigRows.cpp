// The wall tables and the tables through a lens model spend most of their build in
// atanf, atan2f, sinf and cosf, a few calls an entry. These rows run the GNU C
// library's own algorithms in vector lanes:
//  - atanf in float arithmetic: one of four reductions, then an odd polynomial of
//    degree 11 split into two halves, each operation rounded as the library's
//    build rounds it;
//  - atan2f as the library's: atanf of |y / x|, then placed in its quadrant;
//  - sinf and cosf together in double: x reduced by multiples of pi / 2, then two
//    short polynomials. The library evaluates them with fused multiply-adds where
//    the processor has them, and so do the lanes of the targets that have them.
// The lanes cover finite arguments of moderate size; the rest (zeros, infinities,
// NaN, sines of tiny or huge angles, quotients beyond 2^60) are passed to the
// library entry by entry. Each target compares its lanes with the library on first
// use, on a spread of arguments, and calls the library for every entry if any
// differ: another C library, or a target without fused multiply-adds on a
// processor whose library uses them.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "geometry/TrigRows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <vector>

#include "TrigRows.h"

#ifndef ZRFISHEYE_GEOMETRY_TRIGROWS_SHARED
#define ZRFISHEYE_GEOMETRY_TRIGROWS_SHARED
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

// Angles near multiples of pi/2 whose sine or cosine rounds to another float when the
// multiply-adds are not fused: these tell a target whose lanes round otherwise.
constexpr float kFusedWitnesses[] = {0x1.1475b6p+4f, 0x1.ab6152p+5f, 0x1.46b80ep+6f, 0x1.b1a47cp+6f};

inline void LibraryAtan(const float* x, float* out, size_t first, size_t end)
{
    for (size_t i = first; i < end; ++i)
        out[i] = atanf(x[i]);
}

inline void LibraryAtan2(const float* y, const float* x, float* out, size_t first, size_t end)
{
    for (size_t i = first; i < end; ++i)
        out[i] = atan2f(y[i], x[i]);
}

inline void LibrarySinCos(const float* x, float* s, float* c, size_t first, size_t end)
{
    for (size_t i = first; i < end; ++i) {
        s[i] = sinf(x[i]);
        c[i] = cosf(x[i]);
    }
}

// Arguments for the first-use comparison: every exponent the lanes take, random
// mantissas and signs, and random bit patterns for the paths left to the library.
struct TrigSample {
    std::vector<float> a, b;
};

inline TrigSample MakeSample(int lowExponent, int highExponent, bool pairs)
{
    constexpr int kPerExponent = 48;
    constexpr int kRandomBits = 512;
    uint32_t state = 0x2545f491u;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return state;
    };
    TrigSample s;
    for (int e = lowExponent; e <= highExponent; ++e)
        for (int k = 0; k < kPerExponent; ++k) {
            const uint32_t mantissa = next() >> 9;
            const uint32_t sign = next() & 0x80000000u;
            s.a.push_back(FromBits(sign | (static_cast<uint32_t>(e + 127) << 23) | mantissa));
            // the other argument of a pair lies within 2^-66 .. 2^66 of the first
            const int other = e + static_cast<int>(next() % 133) - 66;
            const int biased = other < -126 ? 1 : (other > 127 ? 254 : other + 127);
            s.b.push_back(FromBits((next() & 0x80000000u) | (static_cast<uint32_t>(biased) << 23) | (next() >> 9)));
        }
    for (int k = 0; k < kRandomBits; ++k) {
        s.a.push_back(FromBits(next()));
        s.b.push_back(FromBits(next()));
    }
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, INFINITY, -INFINITY, NAN, 0x1p-149f, 120.0f, 0x1p-12f};
    for (float u : specials)
        for (float v : specials) {
            s.a.push_back(u);
            s.b.push_back(pairs ? v : u);
        }
    return s;
}

inline bool SameBits(const std::vector<float>& u, const std::vector<float>& v)
{
    return std::memcmp(u.data(), v.data(), u.size() * sizeof(float)) == 0;
}

}  // namespace trig
}  // namespace zrfe
#endif

HWY_BEFORE_NAMESPACE();
namespace zrfe {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<float>;
using VF = hn::Vec<DF>;

// atanf of every lane, as the library computes it.
HWY_INLINE VF AtanLanes(DF d, VF x)
{
    using namespace trig;
    const hn::RebindToSigned<DF> di;
    const VF ax = hn::Abs(x);
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
    const VF signBit = hn::And(x, hn::Set(d, -0.0f));
    VF result = hn::IfThenElse(reduce, hn::Xor(reduced, signBit), small);

    const VF halfPi = hn::Set(d, kAtanHigh[3] + kAtanLow[3]);
    result = hn::IfThenElse(above(kAtanIsHalfPi), hn::Xor(halfPi, signBit), result);
    result = hn::IfThenElse(hn::RebindMask(d, hn::Lt(ix, hn::Set(di, kAtanIsArgument))), x, result);
    return hn::IfThenElse(above(kInfinityBits + 1), hn::Add(x, x), result);  // NaN
}

// atan2f(y, x) where both are finite and not zero, x is not 1 and |y / x| within
// 2^-60 .. 2^60.
HWY_INLINE VF Atan2Lanes(DF d, VF y, VF x)
{
    using namespace trig;
    const VF z = AtanLanes(d, hn::Abs(hn::Div(y, x)));
    const VF signMask = hn::Set(d, -0.0f);
    const VF lifted = hn::Add(z, hn::Set(d, kPiShortfall));
    const VF pi = hn::Set(d, kPiFloat);
    const auto yNegative = hn::RebindMask(d, hn::Ne(hn::BitCast(hn::RebindToSigned<DF>(), hn::And(y, signMask)),
                                                    hn::Zero(hn::RebindToSigned<DF>())));
    const auto xNegative = hn::RebindMask(d, hn::Ne(hn::BitCast(hn::RebindToSigned<DF>(), hn::And(x, signMask)),
                                                    hn::Zero(hn::RebindToSigned<DF>())));
    const VF right = hn::IfThenElse(yNegative, hn::Xor(z, signMask), z);
    const VF left = hn::IfThenElse(yNegative, hn::Sub(lifted, pi), hn::Sub(pi, lifted));
    return hn::IfThenElse(xNegative, left, right);
}

void AtanLanesRow(const float* x, float* out, size_t n)
{
    const DF d;
    const size_t lanes = hn::Lanes(d);
    size_t i = 0;
    // two vectors at a time: the polynomial is a chain of dependent steps
    for (; i + 2 * lanes <= n; i += 2 * lanes) {
        const VF a = AtanLanes(d, hn::LoadU(d, x + i));
        const VF b = AtanLanes(d, hn::LoadU(d, x + i + lanes));
        hn::StoreU(a, d, out + i);
        hn::StoreU(b, d, out + i + lanes);
    }
    for (; i + lanes <= n; i += lanes)
        hn::StoreU(AtanLanes(d, hn::LoadU(d, x + i)), d, out + i);
    trig::LibraryAtan(x, out, i, n);
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

void Atan2LanesRow(const float* y, const float* x, float* out, size_t n)
{
    const DF d;
    const size_t lanes = hn::Lanes(d);
    size_t i = 0;
    for (; i + 2 * lanes <= n; i += 2 * lanes) {
        const VF ya = hn::LoadU(d, y + i), xa = hn::LoadU(d, x + i);
        const VF yb = hn::LoadU(d, y + i + lanes), xb = hn::LoadU(d, x + i + lanes);
        hn::StoreU(Atan2Lanes(d, ya, xa), d, out + i);
        hn::StoreU(Atan2Lanes(d, yb, xb), d, out + i + lanes);
        if (!hn::AllFalse(d, hn::Or(Atan2LanesAreLibrarys(d, ya, xa), Atan2LanesAreLibrarys(d, yb, xb))))
            trig::LibraryAtan2(y, x, out, i, i + 2 * lanes);
    }
    for (; i + lanes <= n; i += lanes) {
        const VF vy = hn::LoadU(d, y + i), vx = hn::LoadU(d, x + i);
        hn::StoreU(Atan2Lanes(d, vy, vx), d, out + i);
        if (!hn::AllFalse(d, Atan2LanesAreLibrarys(d, vy, vx)))
            trig::LibraryAtan2(y, x, out, i, i + lanes);
    }
    trig::LibraryAtan2(y, x, out, i, n);
}

void SinCosLanesRow(const float* x, float* sinOut, float* cosOut, size_t n)
{
    using namespace trig;
    const hn::ScalableTag<double> dd;
    const hn::Rebind<float, decltype(dd)> df;
    const hn::Rebind<int32_t, decltype(dd)> di;
    const hn::Rebind<int64_t, decltype(dd)> dl;
    const size_t lanes = hn::Lanes(dd);
    const auto scale = hn::Set(dd, kTwoOverPiScaled), halfPi = hn::Set(dd, kHalfPi);
    const auto round = hn::Set(di, kQuadrantRound);
    const auto oneL = hn::Set(dl, 1), twoL = hn::Set(dl, 2), zeroL = hn::Zero(dl);
    const auto plus = hn::Set(dd, 1.0), minus = hn::Set(dd, -1.0);
    const auto topMask = hn::Set(di, 0x7ff);
    const auto lowestTop = hn::Set(di, static_cast<int32_t>(kSinCosLowestTop));
    const auto highestTop = hn::Set(di, static_cast<int32_t>(kSinCosHighestTop));
    // One vector of arguments; false where a lane is left to the library.
    const auto lanesOf = [&](size_t at) HWY_ATTR {
        const auto v = hn::PromoteTo(dd, hn::LoadU(df, x + at));
        // quadrant n = round(x / (pi/2)) as the library takes it, and r = x - n pi/2 fused
        const auto q = hn::ShiftRight<24>(hn::Add(hn::DemoteTo(di, hn::Mul(v, scale)), round));
        const auto r = hn::NegMulAdd(hn::PromoteTo(dd, q), halfPi, v);
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
        hn::StoreU(hn::DemoteTo(df, hn::IfThenElse(even, sinPoly, cosPoly)), df, sinOut + at);
        hn::StoreU(hn::DemoteTo(df, hn::IfThenElse(even, cosPoly, sinPoly)), df, cosOut + at);
        // |x| outside [2^-12, 120), infinity or NaN: the library's own paths
        const auto top = hn::And(hn::ShiftRight<20>(hn::BitCast(di, hn::LoadU(df, x + at))), topMask);
        return hn::AllFalse(di, hn::Or(hn::Gt(lowestTop, top), hn::Gt(top, highestTop)));
    };
    size_t i = 0;
    for (; i + 2 * lanes <= n; i += 2 * lanes) {
        const bool first = lanesOf(i);
        const bool second = lanesOf(i + lanes);
        if (!first || !second)
            LibrarySinCos(x, sinOut, cosOut, i, i + 2 * lanes);
    }
    for (; i + lanes <= n; i += lanes)
        if (!lanesOf(i))
            LibrarySinCos(x, sinOut, cosOut, i, i + lanes);
    LibrarySinCos(x, sinOut, cosOut, i, n);
}

bool LanesMatchLibrary()
{
    using namespace trig;
    const TrigSample atanArgs = MakeSample(-40, 40, false);
    std::vector<float> mine(atanArgs.a.size()), theirs(atanArgs.a.size());
    AtanLanesRow(atanArgs.a.data(), mine.data(), mine.size());
    LibraryAtan(atanArgs.a.data(), theirs.data(), 0, theirs.size());
    if (!SameBits(mine, theirs))
        return false;

    const TrigSample pairs = MakeSample(-100, 100, true);
    mine.resize(pairs.a.size());
    theirs.resize(pairs.a.size());
    Atan2LanesRow(pairs.a.data(), pairs.b.data(), mine.data(), mine.size());
    LibraryAtan2(pairs.a.data(), pairs.b.data(), theirs.data(), 0, theirs.size());
    if (!SameBits(mine, theirs))
        return false;

    TrigSample angles = MakeSample(-13, 7, false);
    angles.a.insert(angles.a.end(), std::begin(kFusedWitnesses), std::end(kFusedWitnesses));
    const size_t n = angles.a.size();
    std::vector<float> mineSin(n), mineCos(n), theirSin(n), theirCos(n);
    SinCosLanesRow(angles.a.data(), mineSin.data(), mineCos.data(), n);
    LibrarySinCos(angles.a.data(), theirSin.data(), theirCos.data(), 0, n);
    return SameBits(mineSin, theirSin) && SameBits(mineCos, theirCos);
}

// Each target keeps its own verdict.
bool OwnRows()
{
    static const bool own = LanesMatchLibrary();
    return own;
}

void AtanRowOnTarget(const float* x, float* out, size_t n)
{
    if (OwnRows())
        AtanLanesRow(x, out, n);
    else
        trig::LibraryAtan(x, out, 0, n);
}

void Atan2RowOnTarget(const float* y, const float* x, float* out, size_t n)
{
    if (OwnRows())
        Atan2LanesRow(y, x, out, n);
    else
        trig::LibraryAtan2(y, x, out, 0, n);
}

void SinCosRowOnTarget(const float* x, float* sinOut, float* cosOut, size_t n)
{
    if (OwnRows())
        SinCosLanesRow(x, sinOut, cosOut, n);
    else
        trig::LibrarySinCos(x, sinOut, cosOut, 0, n);
}

}  // namespace HWY_NAMESPACE
}  // namespace zrfe
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zrfe {

HWY_EXPORT(AtanRowOnTarget);
HWY_EXPORT(Atan2RowOnTarget);
HWY_EXPORT(SinCosRowOnTarget);
HWY_EXPORT(OwnRows);

void AtanRow(const float* x, float* out, size_t n) { HWY_DYNAMIC_DISPATCH(AtanRowOnTarget)(x, out, n); }

void Atan2Row(const float* y, const float* x, float* out, size_t n)
{
    HWY_DYNAMIC_DISPATCH(Atan2RowOnTarget)(y, x, out, n);
}

void SinCosRow(const float* x, float* sinOut, float* cosOut, size_t n)
{
    HWY_DYNAMIC_DISPATCH(SinCosRowOnTarget)(x, sinOut, cosOut, n);
}

bool TrigRowsAreOwn() { return HWY_DYNAMIC_DISPATCH(OwnRows)(); }

}  // namespace zrfe
#endif
