// Row-parallel work on the library's own threads: table builds and the per-frame
// gathers.
//
// Each table entry and each output row is a pure function of its position, so
// splitting the rows over threads gives the same bits as one loop; the thread
// count never changes a byte. Own std::threads rather than OpenCV's pool keep the
// join visible to the sanitizers; their number follows OpenCV's thread setting
// (cv::setNumThreads, which CZRFishEyeDewarper::SetThreadNum passes on), so one
// setting bounds both.
#ifndef ZRFISHEYE_KERNELS_PARALLELROWS_H
#define ZRFISHEYE_KERNELS_PARALLELROWS_H

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "base/OpenCvPool.h"

namespace zrfe {

template <class RowRangeFn>
void ParallelRows(int rows, long long workPerRow, const RowRangeFn& fn)
{
    const long long kMinWorkPerThread = 200000;  // below this a thread costs more than it saves
    const int hw = std::min(static_cast<int>(std::max(1u, std::thread::hardware_concurrency())),
                            std::max(1, zrbase::OpenCvPoolSize()));
    const long long byWork = std::max(1LL, static_cast<long long>(rows) * workPerRow / kMinWorkPerThread);
    const int threads = static_cast<int>(std::min<long long>({static_cast<long long>(hw), 8LL, byWork, rows}));
    if (threads <= 1) {
        fn(0, rows);
        return;
    }
    // Rows differ in cost (a panorama's outer rings miss the cache more than its
    // inner ones), so the rows are cut into a few pieces a thread and each thread
    // takes the next piece when it is done: none waits on a slower half.
    const int kPiecesPerThread = 4;
    const int pieces = std::min(rows, threads * kPiecesPerThread);
    std::atomic<int> next{0};
    const auto work = [&fn, &next, rows, pieces] {
        for (int p = next.fetch_add(1); p < pieces; p = next.fetch_add(1))
            fn(static_cast<int>(static_cast<long long>(rows) * p / pieces),
               static_cast<int>(static_cast<long long>(rows) * (p + 1) / pieces));
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread& th : pool)
        th.join();
}

}  // namespace zrfe

#endif
