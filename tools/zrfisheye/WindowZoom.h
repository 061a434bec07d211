// OpenCV's Qt windows zoom their picture on the mouse wheel, which the viewer uses for the
// sub views' zoom levels: this undoes that zoom. A no-op with other window backends.
#ifndef ZRFISHEYE_TOOLS_WINDOWZOOM_H
#define ZRFISHEYE_TOOLS_WINDOWZOOM_H

namespace zrtool {

void ResetWindowZoom(const char* windowName);

}  // namespace zrtool

#endif
