// Lens projections: where a ray at angle theta off the lens axis lands in the
// lens circle, and back. One projection is chosen when a table is built; its
// pair of pure functions then serves every entry, with no branch per pixel.
//
// Radii are in lens-circle radii: the rim (half the field of view) is at 1.
#ifndef ZRFISHEYE_GEOMETRY_LENS_H
#define ZRFISHEYE_GEOMETRY_LENS_H

#include <vector>

#include "ZRFishEyeTypes.h"

namespace zrfe {

// The largest field of view any model is taken with, degrees.
constexpr float kMaxLensFieldOfView = 330.0f;

// Why a lens cannot be used (one line), or null when it can. The built-in lens always can.
const char* LensProblem(const tag_ZRLENS& stLens);

// The built-in lens, with the other fields zero.
tag_ZRLENS BuiltinLens();

// Whether two lenses give the same tables (the built-in one ignores its other fields).
bool SameLens(const tag_ZRLENS& a, const tag_ZRLENS& b);

class LensProjection {
public:
    // stLens: a lens other than the built-in one that LensProblem accepts.
    explicit LensProjection(const tag_ZRLENS& stLens);

    // Half the field of view, radians.
    double MaxAngle() const { return m_dMaxAngle; }
    // The radius of a ray theta (0 .. MaxAngle) off the axis.
    double RadiusOf(double dTheta) const { return m_dFocal * m_unitRadius(m_dK, dTheta); }
    // The angle off the axis of a point at radius rho (0 .. 1; clamped to that range).
    double AngleOf(double dRho) const;

    // Where the ray (right, down, along the axis) lands in a circle of radius
    // fCircle centred on (fCentre, fCentre); false beyond half the field of view.
    // Single precision with the radius tabled: a table build evaluates it per
    // entry, and its error stays far below a thousandth of a pixel.
    bool Project(float fRight, float fDown, float fAlong, float fCircle, float fCentre, float& X, float& Y) const;

    // Project, given the ray's distance from the axis, sqrtf(right^2 + down^2), and its
    // angle off the axis, atan2f(offAxis, along): rows of rays compute those in lanes.
    bool ProjectAt(float fRight, float fDown, float offAxis, float angle, float fCircle, float fCentre, float& X,
                   float& Y) const;

private:
    using UnitRadius = double (*)(const double* k, double theta);   // r(theta) for f = 1
    using UnitAngle = double (*)(const double* k, double r, double thetaMax);  // its inverse on [0, thetaMax]
    UnitRadius m_unitRadius;
    UnitAngle m_unitAngle;
    double m_dK[4];
    double m_dMaxAngle;
    double m_dFocal;  // in circle radii
    // RadiusOf at kRadiusSteps + 1 equal steps of angle up to the rim, for Project.
    std::vector<float> m_radiusAt;
    float m_fAngleStep = 0.0f;
};

// The field of view (degrees) at which a lens of this model and focal length
// (pixels) reaches a circle of dRadius pixels; NaN where it never does.
double LensFieldOfViewForFocal(ENUM_ZR_FE_LENS_E eModel, const double* pK, double dFocal, double dRadius);

}  // namespace zrfe

#endif
