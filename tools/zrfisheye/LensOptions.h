// The camera's lens on the command line: --lens, --fov or --focal, --poly. Without
// --lens the dewarper keeps its built-in lens and is never asked to change it.
#ifndef ZRFISHEYE_TOOLS_LENSOPTIONS_H
#define ZRFISHEYE_TOOLS_LENSOPTIONS_H

#include <string>
#include <vector>

#include "ZRFishEye.h"

namespace zrtool {

// The field of view taken when --lens comes without --fov or --focal, degrees.
constexpr float kDefaultFieldOfView = 180.0f;

struct LensOptions {
    bool given = false;  // --lens
    tag_ZRLENS lens{ZR_FE_LENS_BUILTIN, kDefaultFieldOfView, {0.0, 0.0, 0.0, 0.0}};
    double focal = 0;  // --focal, input-frame pixels; 0 when the field of view is given instead
    // The options' texts as typed, for the messages; empty when not given.
    std::string fovText, polyText, focalText;
};

// The help lines of these options.
extern const char kLensOptionsHelp[];

// Takes option args[i] (and its value) when it is one of these; false when it is not.
// Throws UsageError on a value that cannot be read.
bool ParseLensOption(const std::vector<std::string>& args, size_t& i, LensOptions& o);
// Checks the options together and, when the field of view is known already, the lens itself.
void CheckLensOptions(const LensOptions& o);

// The lens for a lens circle of circleRadius input-frame pixels (--focal becomes a field of
// view there); throws UsageError naming the option when the lens cannot be used.
tag_ZRLENS ResolveLens(const LensOptions& o, double circleRadius);
// Gives the dewarper that lens; does nothing without --lens.
void ApplyLens(CZRFishEyeDewarper& d, const LensOptions& o, double circleRadius);

}  // namespace zrtool

#endif
