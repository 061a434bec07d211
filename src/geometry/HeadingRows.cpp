// One pass a row: the rays, their two atan2f, the sine and cosine of the angle about
// the axis and the table entries stay in vector lanes, and only a vector with a lane
// that the library must take (a ray on the axis or the horizon, for instance) is
// computed entry by entry.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "geometry/HeadingRows.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <cmath>

#include "HeadingRows.h"
#include "LensGeometry.h"
#include "ProjectionRows.h"

#include "geometry/TrigLanes-inl.h"

#ifndef ZRFISHEYE_GEOMETRY_HEADINGROWS_SHARED
#define ZRFISHEYE_GEOMETRY_HEADINGROWS_SHARED
namespace zrfe {
namespace {
// Entries first .. end - 1 with the library's calls.
void HeadingEntries(const float* cosHeading, const float* sinHeading, const float* cosElevation,
                    const float* sinElevation, float focal, float centre, float edge, float* mapX, float* mapY,
                    float* mirrorX, float* mirrorY, size_t first, size_t end)
{
    for (size_t j = first; j < end; ++j) {
        const float along = cosHeading[j] * cosElevation[j];
        const float right = sinHeading[j] * cosElevation[j];
        float offRight = 0, offDown = 0;
        EquidistantOffsets(right, sinElevation[j], along, focal, offRight, offDown);
        StoreSquareEntry(mapX, mapY, j, true, offRight + centre, offDown + centre, edge);
        if (mirrorX)
            StoreSquareEntry(mirrorX, mirrorY, j, true, offRight + centre, -offDown + centre, edge);
    }
}
}  // namespace
}  // namespace zrfe
#endif

HWY_BEFORE_NAMESPACE();
namespace zrfe {
namespace HWY_NAMESPACE {

// (X, Y) where inside the edge x edge square (NaN is not), else (0, 0).
HWY_INLINE void StoreSquareLanes(DF d, VF X, VF Y, VF edge, float* mapX, float* mapY)
{
    const VF zero = hn::Zero(d);
    const auto inside = hn::And(hn::And(hn::Ge(X, zero), hn::Lt(X, edge)), hn::And(hn::Ge(Y, zero), hn::Lt(Y, edge)));
    hn::StoreU(hn::IfThenElseZero(inside, X), d, mapX);
    hn::StoreU(hn::IfThenElseZero(inside, Y), d, mapY);
}

// sinf and cosf of every lane: the library's double polynomials, half a vector at a
// time in double lanes.
HWY_INLINE void SinCosOfFloatLanes(DF d, VF angles, VF& sines, VF& cosines)
{
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DF> dd;
    hn::Vec<decltype(dd)> s, c;
    SinCosLanes(dd, hn::PromoteTo(dd, angles), s, c);
    sines = hn::DemoteTo(d, s);
    cosines = hn::DemoteTo(d, c);
#else
    const hn::Half<DF> dHalf;
    const hn::Rebind<double, decltype(dHalf)> dd;
    hn::Vec<decltype(dd)> sLow, cLow, sHigh, cHigh;
    SinCosLanes(dd, hn::PromoteTo(dd, hn::LowerHalf(dHalf, angles)), sLow, cLow);
    SinCosLanes(dd, hn::PromoteTo(dd, hn::UpperHalf(dHalf, angles)), sHigh, cHigh);
    sines = hn::Combine(d, hn::DemoteTo(dHalf, sHigh), hn::DemoteTo(dHalf, sLow));
    cosines = hn::Combine(d, hn::DemoteTo(dHalf, cHigh), hn::DemoteTo(dHalf, cLow));
#endif
}

void HeadingLanesRow(const float* cosHeading, const float* sinHeading, const float* cosElevation,
                     const float* sinElevation, float focal, float centre, float edge, float* mapX, float* mapY,
                     float* mirrorX, float* mirrorY, size_t n)
{
    const DF d;
    const size_t lanes = hn::Lanes(d);
    const VF vFocal = hn::Set(d, focal), vCentre = hn::Set(d, centre), vEdge = hn::Set(d, edge);
    // Entries j .. j + lanes - 1; false where a lane is left to the library.
    const auto vectorAt = [&](size_t j) HWY_ATTR {
        const VF cosE = hn::LoadU(d, cosElevation + j);
        const VF down = hn::LoadU(d, sinElevation + j);
        const VF along = hn::Mul(hn::LoadU(d, cosHeading + j), cosE);
        const VF right = hn::Mul(hn::LoadU(d, sinHeading + j), cosE);
        const VF offAxis = hn::Sqrt(hn::Add(hn::Mul(down, down), hn::Mul(right, right)));
        const VF rho = hn::Mul(Atan2Lanes(d, offAxis, along), vFocal);
        const VF alpha = Atan2Lanes(d, down, right);
        VF sinAlpha, cosAlpha;
        SinCosOfFloatLanes(d, alpha, sinAlpha, cosAlpha);
        const VF offRight = hn::Mul(cosAlpha, rho);
        const VF offDown = hn::Mul(sinAlpha, rho);
        const VF X = hn::Add(offRight, vCentre);
        StoreSquareLanes(d, X, hn::Add(offDown, vCentre), vEdge, mapX + j, mapY + j);
        if (mirrorX)
            StoreSquareLanes(d, X, hn::Add(hn::Neg(offDown), vCentre), vEdge, mirrorX + j, mirrorY + j);
        const auto library = hn::Or(Atan2LanesAreLibrarys(d, offAxis, along),
                                    hn::Or(Atan2LanesAreLibrarys(d, down, right), SinCosLanesAreLibrarys(d, alpha)));
        return hn::AllFalse(d, library);
    };
    const auto entries = [&](size_t first, size_t end) {
        HeadingEntries(cosHeading, sinHeading, cosElevation, sinElevation, focal, centre, edge, mapX, mapY, mirrorX,
                       mirrorY, first, end);
    };
    size_t j = 0;
    for (; j + lanes <= n; j += lanes)
        if (!vectorAt(j))
            entries(j, j + lanes);
    entries(j, n);
}

void EquidistantHeadingRowOnTarget(const float* cosHeading, const float* sinHeading, const float* cosElevation,
                                   const float* sinElevation, float focal, float centre, float edge, float* mapX,
                                   float* mapY, float* mirrorX, float* mirrorY, size_t n)
{
    if (OwnRows())
        HeadingLanesRow(cosHeading, sinHeading, cosElevation, sinElevation, focal, centre, edge, mapX, mapY, mirrorX,
                        mirrorY, n);
    else
        HeadingEntries(cosHeading, sinHeading, cosElevation, sinElevation, focal, centre, edge, mapX, mapY, mirrorX,
                       mirrorY, 0, n);
}

}  // namespace HWY_NAMESPACE
}  // namespace zrfe
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zrfe {

HWY_EXPORT(EquidistantHeadingRowOnTarget);

void EquidistantHeadingRow(const float* cosHeading, const float* sinHeading, const float* cosElevation,
                           const float* sinElevation, float focal, float centre, float edge, float* mapX, float* mapY,
                           float* mirrorX, float* mirrorY, size_t n)
{
    HWY_DYNAMIC_DISPATCH(EquidistantHeadingRowOnTarget)
    (cosHeading, sinHeading, cosElevation, sinElevation, focal, centre, edge, mapX, mapY, mirrorX, mirrorY, n);
}

}  // namespace zrfe
#endif
