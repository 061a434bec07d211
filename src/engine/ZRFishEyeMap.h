// The remap-table pair of one view.
#ifndef ZRFISHEYE_ENGINE_ZRFISHEYEMAP_H
#define ZRFISHEYE_ENGINE_ZRFISHEYEMAP_H

#include <atomic>
#include <functional>
#include <memory>

#include <opencv2/core.hpp>

#include "ZRBase.h"
#include "kernels/KernelInputs.h"

// m_matMapX and m_matMapY hold, per output pixel, the absolute column and row
// of the input picture to sample (CV_32FC1, the view's output size); the
// installed kernels::RemapTable holds them with their fixed-point form.
//
// The settings thread rebuilds tables while a render may be remapping with
// them, so installed tables are never written: a render takes a Lease on them
// under the holder's lock, and a rebuild writes into the old memory only once no
// lease on it is left (Reclaim), otherwise into new matrices, which Install()
// swaps in under the lock. The settings thread, being the only writer, reads
// the members without the lock; nothing else keeps copies of them.
class ZRFishEyeMap : public CZRObject {
public:
    // A render's hold on one table: valid and unchanged while it lives.
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&&) = default;
        Lease& operator=(Lease&&) = default;
        ~Lease();
        const zrfe::kernels::RemapTable& Table() const { return *m_pTable; }

    private:
        friend class ZRFishEyeMap;
        std::shared_ptr<const zrfe::kernels::RemapTable> m_pTable;
        std::shared_ptr<std::atomic<int>> m_pReaders;
    };

    ZRFishEyeMap();
    ~ZRFishEyeMap() override;

    // Derives the fixed-point form and installs both; alsoUnderLock runs under the
    // same lock, for settings that belong with the tables.
    void Install(const cv::Mat& matMapX, const cv::Mat& matMapY, const std::function<void()>& alsoUnderLock = nullptr);
    // alsoUnderLock runs under the lock that hands out the lease.
    Lease Take(const std::function<void()>& alsoUnderLock = nullptr);
    // Runs fn under the tables' lock, for settings a render reads together with them.
    void WithLock(const std::function<void()>& fn);
    // Takes the tables out of the holder for a rebuild: the caller gets their memory
    // when no lease holds it (a rebuild of one size then writes into pages already
    // mapped), else two empty matrices. Until the next Install() the holder is empty
    // and a render composes nothing with it.
    void Reclaim(cv::Mat& matMapX, cv::Mat& matMapY);

    cv::Mat m_matMapX;
    cv::Mat m_matMapY;

private:
    CZRMutex m_mtxTables;
    std::shared_ptr<zrfe::kernels::RemapTable> m_pTable;
    // Leases on the installed table; a new count with every Install.
    std::shared_ptr<std::atomic<int>> m_pReaders;
};

#endif
