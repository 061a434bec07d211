// OpenCV's thread pool is one per process. Resizing it while an operation runs on
// it from another thread crashes inside the pool, and a host may resize it
// (SetThreadNum, a new dewarper) while other cameras are mid-frame. So every
// library call into an OpenCV operation that may run on the pool holds a share of
// one lock, and a resize holds all of it.
#ifndef ZRFISHEYE_BASE_OPENCVPOOL_H
#define ZRFISHEYE_BASE_OPENCVPOOL_H

#include <shared_mutex>

namespace zrbase {

std::shared_mutex& OpenCvPoolLock();

// Held around one pooled OpenCV operation.
class OpenCvPoolUse {
public:
    OpenCvPoolUse() : m_lock(OpenCvPoolLock()) {}

private:
    std::shared_lock<std::shared_mutex> m_lock;
};

// The pool's size, read while no resize runs.
int OpenCvPoolSize();

// Sets the pool's size (at most the machine's CPU count) once no operation runs on
// it; a size it already has is left alone, so a new dewarper does not stall the others.
void SetOpenCvPoolSize(int nThreads);

}  // namespace zrbase

#endif
