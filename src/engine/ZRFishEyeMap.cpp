#include "ZRFishEyeMap.h"

ZRFishEyeMap::ZRFishEyeMap() : m_pTable(std::make_shared<zrfe::SharedRemapTable>()) {}

ZRFishEyeMap::~ZRFishEyeMap() = default;

ZRFishEyeMap::Lease::~Lease()
{
    // The count falls before the hold goes, so a reclaim that sees neither reads
    // after every read of this render.
    if (m_pTable)
        m_pTable->leases.fetch_sub(1, std::memory_order_release);
}

ZRFishEyeMap::Lease& ZRFishEyeMap::Lease::operator=(Lease&& other) noexcept
{
    if (this != &other) {
        if (m_pTable)
            m_pTable->leases.fetch_sub(1, std::memory_order_release);
        m_pTable = std::move(other.m_pTable);
    }
    return *this;
}

void ZRFishEyeMap::Install(std::shared_ptr<const zrfe::SharedRemapTable> pTable,
                           const std::function<void()>& alsoUnderLock)
{
    CZRGuard guard(m_mtxTables);
    if (alsoUnderLock)
        alsoUnderLock();
    m_pTable = std::move(pTable);
}

void ZRFishEyeMap::WithLock(const std::function<void()>& fn)
{
    CZRGuard guard(m_mtxTables);
    fn();
}

ZRFishEyeMap::Lease ZRFishEyeMap::Take(const std::function<void()>& alsoUnderLock)
{
    Lease lease;
    CZRGuard guard(m_mtxTables);
    if (alsoUnderLock)
        alsoUnderLock();
    lease.m_pTable = m_pTable;
    m_pTable->leases.fetch_add(1, std::memory_order_relaxed);
    return lease;
}

void ZRFishEyeMap::Reclaim()
{
    std::shared_ptr<const zrfe::SharedRemapTable> old;
    {
        CZRGuard guard(m_mtxTables);
        old = std::move(m_pTable);
        m_pTable = std::make_shared<zrfe::SharedRemapTable>();
    }
    zrfe::SharedRemapTables().Release(old);
}
