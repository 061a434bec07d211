#include "WindowZoom.h"

namespace zrtool {

void ResetWindowZoom(const char*) {}

}  // namespace zrtool
