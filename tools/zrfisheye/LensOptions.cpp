#include "LensOptions.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "Commands.h"
#include "Lens.h"
#include "LensText.h"
#include "Session.h"

namespace zrtool {

namespace {

// A finite number and nothing else; false otherwise.
bool ParseReal(const std::string& text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0 && std::isfinite(value);
}

std::string Number(double v)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// The option a refused lens is blamed on: the coefficients when the same field of view
// suits a plain lens, else whatever gave the field of view.
std::string CulpritOf(const LensOptions& o, const tag_ZRLENS& lens)
{
    tag_ZRLENS plain = lens;
    plain.eModel = ZR_FE_LENS_EQUIDISTANT;
    if (lens.eModel == ZR_FE_LENS_POLYNOMIAL && !zrfe::LensProblem(plain))
        return "--poly " + o.polyText;
    if (!o.focalText.empty())
        return "--focal " + o.focalText + " (a field of view of " + Number(lens.fFieldOfView) + " degrees)";
    return "--fov " + (o.fovText.empty() ? Number(kDefaultFieldOfView) : o.fovText);
}

void CheckLens(const LensOptions& o, const tag_ZRLENS& lens)
{
    if (const char* problem = zrfe::LensProblem(lens))
        throw UsageError(CulpritOf(o, lens) + ": " + problem);
}

}  // namespace

const char kLensOptionsHelp[] =
    "  --lens MODEL                  the camera's projection: equidistant, equisolid, stereographic,\n"
    "                                orthographic or polynomial (default: the library's built-in lens)\n"
    "  --fov DEG                     the field of view the lens circle spans, with --lens (default 180)\n"
    "  --focal F                     instead of --fov: the focal length in input-frame pixels (OpenCV's\n"
    "                                fisheye calibration's fx)\n"
    "  --poly K1,K2,K3,K4            --lens polynomial's coefficients (OpenCV's fisheye D)\n";

bool ParseLensOption(const std::vector<std::string>& args, size_t& i, LensOptions& o)
{
    const std::string& a = args[i];
    if (a == "--lens") {
        const std::string& v = OptionValue(args, i);
        if (!ParseLensModel(v, o.lens.eModel, false))
            throw UsageError("--lens takes " + LensModelNames(false) + ", not '" + v + "'");
        o.given = true;
    } else if (a == "--fov") {
        const std::string& v = OptionValue(args, i);
        double fov = 0;
        if (!ParseReal(v, fov))
            throw UsageError("--fov takes the field of view in degrees, not '" + v + "'");
        o.lens.fFieldOfView = static_cast<float>(fov);
        o.fovText = v;
    } else if (a == "--focal") {
        const std::string& v = OptionValue(args, i);
        if (!ParseReal(v, o.focal) || !(o.focal > 0))
            throw UsageError("--focal takes a focal length in pixels above 0, not '" + v + "'");
        o.focalText = v;
    } else if (a == "--poly") {
        const std::string& v = OptionValue(args, i);
        if (!ParseLensCoefficients(v, o.lens.dK))
            throw UsageError("--poly takes four numbers K1,K2,K3,K4, not '" + v + "'");
        o.polyText = v;
    } else {
        return false;
    }
    return true;
}

void CheckLensOptions(const LensOptions& o)
{
    if (!o.given) {
        const char* stray = !o.fovText.empty()     ? "--fov"
                            : !o.focalText.empty() ? "--focal"
                            : !o.polyText.empty()  ? "--poly"
                                                   : nullptr;
        if (stray)
            throw UsageError(std::string(stray) + " needs --lens (without it the built-in lens is used)");
        return;
    }
    if (!o.fovText.empty() && !o.focalText.empty())
        throw UsageError("--fov and --focal both give the field of view: use one");
    if (!o.polyText.empty() && o.lens.eModel != ZR_FE_LENS_POLYNOMIAL)
        throw UsageError("--poly applies to --lens polynomial only");
    if (o.focalText.empty())
        CheckLens(o, o.lens);
}

tag_ZRLENS ResolveLens(const LensOptions& o, double circleRadius)
{
    tag_ZRLENS lens = o.lens;
    if (!o.focalText.empty()) {
        const double fov = zrfe::LensFieldOfViewForFocal(lens.eModel, lens.dK, o.focal, circleRadius);
        if (!std::isfinite(fov))
            throw UsageError("--focal " + o.focalText + ": with that focal length the " + LensModelName(lens.eModel) +
                             " lens never reaches the lens circle (radius " + Number(circleRadius) + " pixels)");
        lens.fFieldOfView = static_cast<float>(fov);
    }
    CheckLens(o, lens);
    return lens;
}

void ApplyLens(CZRFishEyeDewarper& d, const LensOptions& o, double circleRadius)
{
    if (!o.given)
        return;
    const tag_ZRLENS lens = ResolveLens(o, circleRadius);
    if (d.SetLens(&lens) != 0)
        throw UsageError(std::string("the dewarper refused the ") + LensModelName(lens.eModel) + " lens");
}

}  // namespace zrtool
