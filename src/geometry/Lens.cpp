#include "Lens.h"

#include <algorithm>
#include <cmath>

namespace zrfe {

namespace {

constexpr double kPiD = 3.141592653589793;
constexpr double kRadiansPerDegree = kPiD / 180.0;
// Steps at which a polynomial is checked to rise up to the rim.
constexpr int kRiseChecks = 4096;
// Steps of the radius table: interpolating between them errs by about 1e-7
// circle radii at most (a 330-degree stereographic lens at its rim), below the
// floats' own rounding elsewhere.
constexpr int kRadiusSteps = 1 << 14;

double EquidistantRadius(const double*, double t) { return t; }
double EquidistantAngle(const double*, double r, double) { return r; }
double EquisolidRadius(const double*, double t) { return 2.0 * std::sin(t * 0.5); }
double EquisolidAngle(const double*, double r, double) { return 2.0 * std::asin(std::min(r * 0.5, 1.0)); }
double StereographicRadius(const double*, double t) { return 2.0 * std::tan(t * 0.5); }
double StereographicAngle(const double*, double r, double) { return 2.0 * std::atan(r * 0.5); }
double OrthographicRadius(const double*, double t) { return std::sin(t); }
double OrthographicAngle(const double*, double r, double) { return std::asin(std::min(r, 1.0)); }

double PolynomialRadius(const double* k, double t)
{
    const double t2 = t * t;
    return t * (1.0 + t2 * (k[0] + t2 * (k[1] + t2 * (k[2] + t2 * k[3]))));
}
double PolynomialSlope(const double* k, double t)
{
    const double t2 = t * t;
    return 1.0 + t2 * (3.0 * k[0] + t2 * (5.0 * k[1] + t2 * (7.0 * k[2] + t2 * 9.0 * k[3])));
}
// Newton's method, kept inside a shrinking bracket: the radius rises on [0, tMax].
double PolynomialAngle(const double* k, double r, double tMax)
{
    double lo = 0.0, hi = tMax, t = std::min(r, tMax);
    for (int i = 0; i < 60; ++i) {
        const double err = PolynomialRadius(k, t) - r;
        if (err > 0.0)
            hi = t;
        else
            lo = t;
        if (std::fabs(err) < 1e-15 || hi - lo < 1e-15)
            break;
        double next = t - err / PolynomialSlope(k, t);
        if (!(next > lo && next < hi))
            next = 0.5 * (lo + hi);
        t = next;
    }
    return t;
}

struct ModelFunctions {
    double (*radius)(const double*, double);
    double (*angle)(const double*, double, double);
    double maxFieldOfView;  // the widest the model can image, degrees (inclusive)
};

// Indexed by the lens model; the built-in lens has no projection of this kind.
const ModelFunctions* FunctionsOf(ENUM_ZR_FE_LENS_E eModel)
{
    static const ModelFunctions kModels[] = {
        {EquidistantRadius, EquidistantAngle, kMaxLensFieldOfView},
        {EquisolidRadius, EquisolidAngle, kMaxLensFieldOfView},
        {StereographicRadius, StereographicAngle, kMaxLensFieldOfView},
        {OrthographicRadius, OrthographicAngle, 180.0},
        {PolynomialRadius, PolynomialAngle, kMaxLensFieldOfView},
    };
    if (eModel < ZR_FE_LENS_EQUIDISTANT || eModel > ZR_FE_LENS_POLYNOMIAL)
        return nullptr;
    return &kModels[eModel - ZR_FE_LENS_EQUIDISTANT];
}

// Whether the polynomial's radius rises all the way from the axis to tMax.
bool PolynomialRises(const double* k, double tMax)
{
    double last = 0.0;
    for (int i = 1; i <= kRiseChecks; ++i) {
        const double t = tMax * i / kRiseChecks;
        const double r = PolynomialRadius(k, t);
        if (!(r > last) || !(PolynomialSlope(k, t) > 0.0))
            return false;
        last = r;
    }
    return true;
}

}  // namespace

tag_ZRLENS BuiltinLens()
{
    tag_ZRLENS lens{};
    lens.eModel = ZR_FE_LENS_BUILTIN;
    return lens;
}

const char* LensProblem(const tag_ZRLENS& stLens)
{
    if (stLens.eModel == ZR_FE_LENS_BUILTIN)
        return nullptr;
    const ModelFunctions* model = FunctionsOf(stLens.eModel);
    if (!model)
        return "unknown lens model";
    const float fov = stLens.fFieldOfView;
    if (!std::isfinite(fov) || fov <= 0.0f || fov > kMaxLensFieldOfView)
        return "field of view must be above 0 and at most 330 degrees";
    if (fov > model->maxFieldOfView)
        return "an orthographic lens images at most 180 degrees";
    if (stLens.eModel == ZR_FE_LENS_POLYNOMIAL) {
        for (double k : stLens.dK)
            if (!std::isfinite(k))
                return "polynomial coefficients must be finite";
        if (!PolynomialRises(stLens.dK, fov * 0.5 * kRadiansPerDegree))
            return "the polynomial's radius does not rise all the way to the rim";
    }
    return nullptr;
}

bool SameLens(const tag_ZRLENS& a, const tag_ZRLENS& b)
{
    if (a.eModel != b.eModel)
        return false;
    if (a.eModel == ZR_FE_LENS_BUILTIN)
        return true;
    if (a.fFieldOfView != b.fFieldOfView)
        return false;
    return a.eModel != ZR_FE_LENS_POLYNOMIAL || std::equal(a.dK, a.dK + 4, b.dK);
}

LensProjection::LensProjection(const tag_ZRLENS& stLens)
{
    const ModelFunctions* model = FunctionsOf(stLens.eModel);
    m_unitRadius = model->radius;
    m_unitAngle = model->angle;
    for (int i = 0; i < 4; ++i)
        m_dK[i] = stLens.eModel == ZR_FE_LENS_POLYNOMIAL ? stLens.dK[i] : 0.0;
    m_dMaxAngle = static_cast<double>(stLens.fFieldOfView) * 0.5 * kRadiansPerDegree;
    m_dFocal = 1.0 / m_unitRadius(m_dK, m_dMaxAngle);
    m_radiusAt.resize(kRadiusSteps + 2);
    for (int i = 0; i <= kRadiusSteps; ++i)
        m_radiusAt[i] = static_cast<float>(RadiusOf(m_dMaxAngle * i / kRadiusSteps));
    m_radiusAt[kRadiusSteps + 1] = m_radiusAt[kRadiusSteps];  // the rim itself reads one past
    m_fAngleStep = static_cast<float>(m_dMaxAngle / kRadiusSteps);
}

double LensProjection::AngleOf(double dRho) const
{
    const double rho = std::min(std::max(dRho, 0.0), 1.0);
    return std::min(m_unitAngle(m_dK, rho / m_dFocal, m_dMaxAngle), m_dMaxAngle);
}

bool LensProjection::Project(float fRight, float fDown, float fAlong, float fCircle, float fCentre, float& X,
                             float& Y) const
{
    const float offAxis = sqrtf(fRight * fRight + fDown * fDown);
    return ProjectAt(fRight, fDown, offAxis, atan2f(offAxis, fAlong), fCircle, fCentre, X, Y);
}

bool LensProjection::ProjectAt(float fRight, float fDown, float offAxis, float angle, float fCircle, float fCentre,
                               float& X, float& Y) const
{
    const float at = angle / m_fAngleStep;
    if (!(at <= static_cast<float>(kRadiusSteps)))
        return false;
    if (offAxis == 0.0f) {
        X = Y = fCentre;
        return true;
    }
    const int i = static_cast<int>(at);
    const float radius = m_radiusAt[i] + (m_radiusAt[i + 1] - m_radiusAt[i]) * (at - static_cast<float>(i));
    const float scale = fCircle * radius / offAxis;
    X = fCentre + fRight * scale;
    Y = fCentre + fDown * scale;
    return true;
}

double LensFieldOfViewForFocal(ENUM_ZR_FE_LENS_E eModel, const double* pK, double dFocal, double dRadius)
{
    const ModelFunctions* model = FunctionsOf(eModel);
    if (!model || !(dFocal > 0.0) || !(dRadius > 0.0))
        return std::nan("");
    const double k[4] = {pK[0], pK[1], pK[2], pK[3]};
    const double target = dRadius / dFocal;
    // Walk out from the axis while the radius rises; the rim is where it reaches target.
    const double widest = model->maxFieldOfView * 0.5 * kRadiansPerDegree;
    double lo = 0.0, loR = 0.0;
    for (int i = 1; i <= kRiseChecks; ++i) {
        const double t = widest * i / kRiseChecks;
        const double r = model->radius(k, t);
        if (!(r > loR))
            return std::nan("");
        if (r >= target) {
            double hi = t;
            for (int j = 0; j < 60; ++j) {
                const double mid = 0.5 * (lo + hi);
                (model->radius(k, mid) < target ? lo : hi) = mid;
            }
            return (lo + hi) / kRadiansPerDegree;  // twice the half angle
        }
        lo = t;
        loR = r;
    }
    return std::nan("");
}

}  // namespace zrfe
