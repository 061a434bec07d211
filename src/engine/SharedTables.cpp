#include "SharedTables.h"

namespace zrfe {

namespace {
// Frame sizes whose fast forms a table keeps; an older one is built again when it comes back.
const size_t kFastFormsKept = 4;
}  // namespace

void SharedRemapTable::FloatMaps(cv::Mat& mapX, cv::Mat& mapY) const
{
    std::lock_guard<std::mutex> lock(m_mtxFloats);
    if (m_floatX.empty() && rebuild && !table.empty())
        rebuild(m_floatX, m_floatY);
    mapX = m_floatX;
    mapY = m_floatY;
}

const kernels::RowSpans& SharedRemapTable::Reads() const
{
    std::call_once(m_readsFound, [this] { kernels::BuildTableReads(table, m_reads); });
    return m_reads;
}

std::shared_ptr<const kernels::FastTable> SharedRemapTable::FastForm(
    const FastKey& key, const std::function<void(kernels::FastTable&)>& build) const
{
    // Held while building: renders of the same table wait for one build rather than make their own.
    std::lock_guard<std::mutex> lock(m_mtxFast);
    for (const auto& form : m_fastForms)
        if (form.first == key)
            return form.second;
    auto built = std::make_shared<kernels::FastTable>();
    build(*built);
    if (m_fastForms.size() >= kFastFormsKept)
        m_fastForms.erase(m_fastForms.begin());
    m_fastForms.emplace_back(key, built);
    return built;
}

// Never destroyed: an engine that outlives the statics of the process (a host's
// own static) still finds them.
SharedTables<SharedRemapTable>& SharedRemapTables()
{
    static auto* tables = new SharedTables<SharedRemapTable>;
    return *tables;
}

SharedTables<ZRPointMap>& SharedPointMaps()
{
    static auto* maps = new SharedTables<ZRPointMap>;
    return *maps;
}

}  // namespace zrfe
