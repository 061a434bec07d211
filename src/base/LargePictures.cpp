#include "LargePictures.h"

#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace zrbase {

namespace {

const size_t kLargePage = size_t(2) << 20;
// Below this a buffer stays with the ordinary heap: a large page would be mostly empty.
const size_t kLargeBufferBytes = 2 * kLargePage;

size_t RoundUp(size_t n, size_t unit) { return (n + unit - 1) / unit * unit; }

// OpenCV's standard allocator, with large buffers from Allocate below.
class LargePictureAllocatorImpl : public cv::MatAllocator {
public:
    cv::UMatData* allocate(int dims, const int* sizes, int type, void* data0, size_t* step, cv::AccessFlag,
                           cv::UMatUsageFlags) const override
    {
        size_t total = CV_ELEM_SIZE(type);
        for (int i = dims - 1; i >= 0; i--) {
            if (step) {
                if (data0 && step[i] != cv::Mat::AUTO_STEP)
                    total = step[i];
                else
                    step[i] = total;
            }
            total *= static_cast<size_t>(sizes[i]);
        }
        uchar* data = data0 ? static_cast<uchar*>(data0) : Allocate(total);
        cv::UMatData* u = new cv::UMatData(this);
        u->data = u->origdata = data;
        u->size = total;
        if (data0)
            u->flags |= cv::UMatData::USER_ALLOCATED;
        return u;
    }

    bool allocate(cv::UMatData* u, cv::AccessFlag, cv::UMatUsageFlags) const override { return u != nullptr; }

    void deallocate(cv::UMatData* u) const override
    {
        if (!u)
            return;
        if (!(u->flags & cv::UMatData::USER_ALLOCATED)) {
            if (u->size >= kLargeBufferBytes)
                std::free(u->origdata);
            else
                cv::fastFree(u->origdata);
        }
        delete u;
    }

private:
    static uchar* Allocate(size_t total)
    {
        if (total < kLargeBufferBytes)
            return static_cast<uchar*>(cv::fastMalloc(total));
        const size_t bytes = RoundUp(total, kLargePage);
        void* p = std::aligned_alloc(kLargePage, bytes);
        if (!p)
            throw std::bad_alloc();
#if defined(__linux__) && defined(MADV_HUGEPAGE)
        madvise(p, bytes, MADV_HUGEPAGE);  // advice only: plain pages if refused
#endif
        return static_cast<uchar*>(p);
    }
};

}  // namespace

cv::MatAllocator* LargePictureAllocator()
{
    static LargePictureAllocatorImpl allocator;
    return &allocator;
}

void CreateLargePicture(cv::Mat& m, int rows, int cols, int type)
{
    if (m.rows == rows && m.cols == cols && m.type() == type && m.dims == 2 && !m.empty())
        return;
    m.release();
    m.allocator = LargePictureAllocator();
    m.create(rows, cols, type);
}

}  // namespace zrbase
