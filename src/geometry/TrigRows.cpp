// The wall tables and the tables through a lens model spend most of their build in
// atanf, atan2f, sinf and cosf, a few calls an entry. These rows run the GNU C
// library's own algorithms in vector lanes (TrigLanes-inl.h, which HeadingRows.cpp
// shares):
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

#include "geometry/TrigLanes-inl.h"

#ifndef ZRFISHEYE_GEOMETRY_TRIGROWS_SHARED
#define ZRFISHEYE_GEOMETRY_TRIGROWS_SHARED
namespace zrfe {
namespace trig {

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
    const size_t lanes = hn::Lanes(dd);
    // One vector of arguments; false where a lane is left to the library.
    const auto lanesOf = [&](size_t at) HWY_ATTR {
        const auto angles = hn::LoadU(df, x + at);
        hn::Vec<decltype(dd)> sines, cosines;
        SinCosLanes(dd, hn::PromoteTo(dd, angles), sines, cosines);
        hn::StoreU(hn::DemoteTo(df, sines), df, sinOut + at);
        hn::StoreU(hn::DemoteTo(df, cosines), df, cosOut + at);
        return hn::AllFalse(df, SinCosLanesAreLibrarys(df, angles));
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
