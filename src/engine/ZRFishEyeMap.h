// The remap-table pair of one view.
#ifndef ZRFISHEYE_ENGINE_ZRFISHEYEMAP_H
#define ZRFISHEYE_ENGINE_ZRFISHEYEMAP_H

#include <functional>
#include <memory>

#include <opencv2/core.hpp>

#include "SharedTables.h"
#include "ZRBase.h"

// m_matMapX and m_matMapY hold, per output pixel, the absolute column and row
// of the input picture to sample (CV_32FC1, the view's output size); the
// installed table holds them with their fixed-point form, and may be shared
// with other engines of the same geometry (SharedRemapTables).
//
// The settings thread replaces tables while a render may be remapping with
// them, so an installed table is never written: a render takes a Lease on it
// under the holder's lock, and a rebuild writes into its memory only once no
// engine and no lease holds it (Reclaim), otherwise into new matrices. The
// settings thread, being the only writer, reads the members without the lock;
// nothing else keeps copies of them.
class ZRFishEyeMap : public CZRObject {
public:
    // A render's hold on one table: valid and unchanged while it lives.
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept : m_pTable(std::move(other.m_pTable)) {}
        Lease& operator=(Lease&& other) noexcept;
        ~Lease();
        const zrfe::kernels::RemapTable& Table() const { return m_pTable->table; }
        const zrfe::SharedRemapTable& Shared() const { return *m_pTable; }

    private:
        friend class ZRFishEyeMap;
        std::shared_ptr<const zrfe::SharedRemapTable> m_pTable;
    };

    ZRFishEyeMap();
    ~ZRFishEyeMap() override;

    // alsoUnderLock runs under the same lock, for settings that belong with the table.
    void Install(std::shared_ptr<const zrfe::SharedRemapTable> pTable,
                 const std::function<void()>& alsoUnderLock = nullptr);
    // alsoUnderLock runs under the lock that hands out the lease.
    Lease Take(const std::function<void()>& alsoUnderLock = nullptr);
    // Runs fn under the table's lock, for settings a render reads together with it.
    void WithLock(const std::function<void()>& fn);
    // Takes the table out of the holder for a rebuild: the caller gets the float
    // maps' memory when nothing else holds the table (a rebuild of one size then
    // writes into pages already mapped), else two empty matrices. Until the next
    // Install() the holder is empty and a render composes nothing with it.
    void Reclaim(cv::Mat& matMapX, cv::Mat& matMapY);

    cv::Mat m_matMapX;
    cv::Mat m_matMapY;

private:
    CZRMutex m_mtxTables;
    std::shared_ptr<const zrfe::SharedRemapTable> m_pTable;
};

#endif
