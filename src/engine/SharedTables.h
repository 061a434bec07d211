// Tables that depend only on a camera's geometry, shared by every engine of the
// process with the same geometry: built once, freed with the last engine that
// holds them, never changed while shared. An engine whose setting changes takes
// other tables (built for it, or found), and leaves the others untouched.
#ifndef ZRFISHEYE_ENGINE_SHAREDTABLES_H
#define ZRFISHEYE_ENGINE_SHAREDTABLES_H

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <tuple>
#include <utility>
#include <vector>

#include "geometry/PointMap.h"
#include "geometry/SubViewOutline.h"
#include "kernels/FastInputs.h"
#include "kernels/KernelInputs.h"

namespace zrfe {

// What a fast table is composed for besides its remap table: the frame's size
// and the geometry between the frame and the table's picture.
using FastKey = std::array<int, 6>;

// A remap table as engines share it, and renders while they read it.
//
// Renders read only the fixed-point form; the float maps it was made from are
// not kept with it (they would double its memory). What reads them (point
// conversion, fast mode's tables) asks FloatMaps, which builds them again with
// the same builder and settings, so with the same values, and keeps them from
// then on. Outlines read only the edges, kept from the first build.
struct SharedRemapTable {
    using BuildFn = std::function<void(cv::Mat& mapX, cv::Mat& mapY)>;
    kernels::RemapTable table;  // taps and fractions; mapX and mapY empty
    TableEdges edges;
    BuildFn rebuild;  // owns what it reads: it may run long after the engine changed

    // Headers of the float maps (CV_32FC1, the table's size), built on the first call.
    void FloatMaps(cv::Mat& mapX, cv::Mat& mapY) const;

    // The rows and columns of its source picture that a gather through it reads,
    // found on the first call: a main view's circle needs only those resized.
    const kernels::RowSpans& Reads() const;

    // Fast mode's forms of this table, made by the first render that needs each
    // and kept with the table: a few, for the frame sizes seen lately.
    std::shared_ptr<const kernels::FastTable> FastForm(
        const FastKey& key, const std::function<void(kernels::FastTable&)>& build) const;

private:
    mutable std::mutex m_mtxFloats;
    mutable cv::Mat m_floatX, m_floatY;
    mutable std::once_flag m_readsFound;
    mutable kernels::RowSpans m_reads;
    mutable std::mutex m_mtxFast;
    mutable std::vector<std::pair<FastKey, std::shared_ptr<const kernels::FastTable>>> m_fastForms;
};

// Which builder made a table.
enum TableKind { kGroundPanoramaTable = 1, kWallPanoramaTable, kGroundSubViewTable, kWallSubViewTable };

inline uint32_t FloatBits(float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    return bits;
}

// What a table is built from: the mount, up to four float settings (by their
// bits, so that equal settings give equal keys), three sizes, and the lens (its
// model, field of view and coefficients by their bits; all 0 for the built-in one).
struct TableKey {
    int kind = 0;
    int mode = 0;
    std::array<uint32_t, 4> settings{};
    std::array<unsigned int, 3> sizes{};
    std::array<uint64_t, 6> lens{};
    bool operator<(const TableKey& o) const
    {
        return std::tie(kind, mode, settings, sizes, lens) < std::tie(o.kind, o.mode, o.settings, o.sizes, o.lens);
    }
};

template <class Value>
class SharedTables {
public:
    // The value of key, from build() when no engine holds one. Two engines asking
    // at once may both build; the first value stored is the one both get.
    std::shared_ptr<const Value> Get(const TableKey& key, const std::function<std::shared_ptr<const Value>()>& build)
    {
        {
            std::lock_guard<std::mutex> lock(m_mtx);
            auto it = m_entries.find(key);
            if (it != m_entries.end())
                if (std::shared_ptr<const Value> found = it->second.lock())
                    return found;
        }
        std::shared_ptr<const Value> built = build();  // outside the lock: other builds go on
        std::lock_guard<std::mutex> lock(m_mtx);
        std::weak_ptr<const Value>& slot = m_entries[key];
        if (std::shared_ptr<const Value> found = slot.lock())
            return found;
        slot = built;
        return built;
    }

    // Gives up an engine's hold on a value; it goes with its last holder.
    void Release(std::shared_ptr<const Value>& value)
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        value.reset();
        for (auto it = m_entries.begin(); it != m_entries.end();)
            it = it->second.expired() ? m_entries.erase(it) : std::next(it);
    }

    // How many values some engine holds.
    size_t LiveCount()
    {
        std::lock_guard<std::mutex> lock(m_mtx);
        size_t live = 0;
        for (const auto& entry : m_entries)
            live += entry.second.expired() ? 0 : 1;
        return live;
    }

private:
    std::mutex m_mtx;
    std::map<TableKey, std::weak_ptr<const Value>> m_entries;
};

// The process's shared remap tables (panoramas and sub views) and point maps.
SharedTables<SharedRemapTable>& SharedRemapTables();
SharedTables<ZRPointMap>& SharedPointMaps();

}  // namespace zrfe

#endif
