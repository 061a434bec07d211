// Platform sleep, for the library's polling waits.
#ifndef ZRFISHEYE_BASE_ZRSLEEP_H
#define ZRFISHEYE_BASE_ZRSLEEP_H

namespace zrbase {
void Sleep(unsigned int uMs);
}

#endif
