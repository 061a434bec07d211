// The remap-table pair of one view.
#ifndef ZRFISHEYE_ENGINE_ZRFISHEYEMAP_H
#define ZRFISHEYE_ENGINE_ZRFISHEYEMAP_H

#include <functional>
#include <memory>

#include <opencv2/core.hpp>

#include "SharedTables.h"
#include "ZRBase.h"

// The installed table holds, per output pixel, the position in the input picture
// to sample, in fixed point (its float maps on demand: SharedRemapTable), and may
// be shared with other engines of the same geometry (SharedRemapTables).
//
// The settings thread replaces tables while a render may be remapping with
// them, so an installed table is never written: a render takes a Lease on it
// under the holder's lock. The settings thread, being the only writer, reads
// the installed table without the lock (Size, Edges, FloatMaps).
class ZRFishEyeMap : public CZRObject {
public:
    // A render's hold on one table: valid and unchanged while it lives.
    class Lease {
    public:
        Lease() = default;
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
    // Takes the table out of the holder for a rebuild, and frees it when nothing
    // else holds it. Until the next Install() the holder is empty and a render
    // composes nothing with it.
    void Reclaim();

    // The installed table (settings thread): its size, its outline's entries,
    // and its float maps (built on first use, see SharedRemapTable).
    cv::Size Size() const { return m_pTable->table.size(); }
    const zrfe::TableEdges& Edges() const { return m_pTable->edges; }
    void FloatMaps(cv::Mat& mapX, cv::Mat& mapY) const { m_pTable->FloatMaps(mapX, mapY); }

private:
    CZRMutex m_mtxTables;
    std::shared_ptr<const zrfe::SharedRemapTable> m_pTable;
};

#endif
