#include "OpenCvPool.h"

#include <algorithm>
#include <mutex>

#include <opencv2/core.hpp>

namespace zrbase {

std::shared_mutex& OpenCvPoolLock()
{
    static std::shared_mutex lock;
    return lock;
}

int OpenCvPoolSize()
{
    const OpenCvPoolUse use;
    return cv::getNumThreads();
}

void SetOpenCvPoolSize(int nThreads)
{
    // More threads than CPUs would not run faster, and the pool's runtime complains
    // about them on the host's terminal.
    const int size = std::min(nThreads, std::max(1, cv::getNumberOfCPUs()));
    std::unique_lock<std::shared_mutex> whole(OpenCvPoolLock());
    if (cv::getNumThreads() != size)
        cv::setNumThreads(size);
}

}  // namespace zrbase
