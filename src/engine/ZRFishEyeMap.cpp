#include "ZRFishEyeMap.h"

ZRFishEyeMap::ZRFishEyeMap() : m_pTable(std::make_shared<zrfe::SharedRemapTable>()) {}

ZRFishEyeMap::~ZRFishEyeMap() = default;

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
