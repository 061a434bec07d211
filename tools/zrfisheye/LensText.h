// The lens models' names and the polynomial's coefficients as text, shared by the command
// line, the Python module and the GStreamer element.
#ifndef ZRFISHEYE_TOOLS_LENSTEXT_H
#define ZRFISHEYE_TOOLS_LENSTEXT_H

#include <string>

#include "ZRFishEyeTypes.h"

namespace zrtool {

// "builtin", "equidistant", "equisolid", "stereographic", "orthographic" or "polynomial".
const char* LensModelName(ENUM_ZR_FE_LENS_E model);
// The model of a name; false for a name that is none. The built-in lens's name only when asked.
bool ParseLensModel(const std::string& name, ENUM_ZR_FE_LENS_E& model, bool builtinToo);
// The names taken, "a, b or c", for messages.
std::string LensModelNames(bool builtinToo);
// Reads "K1,K2,K3,K4": four finite numbers, nothing else.
bool ParseLensCoefficients(const std::string& text, double k[4]);
// The text that ParseLensCoefficients reads back.
std::string LensCoefficientsText(const double k[4]);

}  // namespace zrtool

#endif
