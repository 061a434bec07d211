#include "LensText.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zrtool {

namespace {

// Indexed by the model.
const char* const kModelNames[] = {"builtin",       "equidistant",  "equisolid",
                                   "stereographic", "orthographic", "polynomial"};
constexpr int kModels = sizeof kModelNames / sizeof kModelNames[0];
constexpr int kCoefficients = 4;

}  // namespace

const char* LensModelName(ENUM_ZR_FE_LENS_E model)
{
    return model >= 0 && model < kModels ? kModelNames[model] : "unknown";
}

bool ParseLensModel(const std::string& name, ENUM_ZR_FE_LENS_E& model, bool builtinToo)
{
    for (int m = builtinToo ? 0 : 1; m < kModels; ++m)
        if (name == kModelNames[m]) {
            model = static_cast<ENUM_ZR_FE_LENS_E>(m);
            return true;
        }
    return false;
}

std::string LensModelNames(bool builtinToo)
{
    std::string names;
    for (int m = builtinToo ? 0 : 1; m < kModels; ++m)
        names += std::string(names.empty() ? "" : m + 1 == kModels ? " or " : ", ") + kModelNames[m];
    return names;
}

bool ParseLensCoefficients(const std::string& text, double k[4])
{
    double read[kCoefficients];
    const char* at = text.c_str();
    for (int i = 0; i < kCoefficients; ++i) {
        char* end = nullptr;
        read[i] = std::strtod(at, &end);
        // strtod skips leading blanks: a number must start right at its place.
        if (end == at || *at == ' ' || *at == '\t' || !std::isfinite(read[i]))
            return false;
        if (i + 1 < kCoefficients && *end != ',')
            return false;
        at = i + 1 < kCoefficients ? end + 1 : end;
    }
    if (*at != '\0')
        return false;
    for (int i = 0; i < kCoefficients; ++i)
        k[i] = read[i];
    return true;
}

std::string LensCoefficientsText(const double k[4])
{
    std::string text;
    for (int i = 0; i < kCoefficients; ++i) {
        char number[32];
        std::snprintf(number, sizeof number, "%.17g", k[i]);
        text += (i ? "," : "") + std::string(number);
    }
    return text;
}

}  // namespace zrtool
