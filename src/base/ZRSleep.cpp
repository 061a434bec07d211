#include "ZRSleep.h"

#include <chrono>
#include <thread>

namespace zrbase {
void Sleep(unsigned int uMs)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(uMs));
}
}  // namespace zrbase
