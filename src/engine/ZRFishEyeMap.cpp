#include "ZRFishEyeMap.h"

ZRFishEyeMap::ZRFishEyeMap()
    : m_pTable(std::make_shared<zrfe::kernels::RemapTable>()), m_pReaders(std::make_shared<std::atomic<int>>(0))
{
}

ZRFishEyeMap::~ZRFishEyeMap() = default;

ZRFishEyeMap::Lease::~Lease()
{
    m_pTable.reset();
    if (m_pReaders)
        m_pReaders->fetch_sub(1, std::memory_order_release);  // the reads happen before a reuse
}

void ZRFishEyeMap::Install(const cv::Mat& matMapX, const cv::Mat& matMapY, const std::function<void()>& alsoUnderLock)
{
    // The fixed-point form is derived before the lock: renders go on meanwhile.
    auto table = std::make_shared<zrfe::kernels::RemapTable>();
    zrfe::kernels::BuildRemapTable(matMapX, matMapY, *table);
    CZRGuard guard(m_mtxTables);
    if (alsoUnderLock)
        alsoUnderLock();
    m_matMapX = matMapX;
    m_matMapY = matMapY;
    m_pTable = std::move(table);
    m_pReaders = std::make_shared<std::atomic<int>>(0);
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
    lease.m_pReaders = m_pReaders;
    m_pReaders->fetch_add(1, std::memory_order_relaxed);
    return lease;
}

void ZRFishEyeMap::Reclaim(cv::Mat& matMapX, cv::Mat& matMapY)
{
    std::shared_ptr<std::atomic<int>> readers;
    {
        CZRGuard guard(m_mtxTables);
        matMapX = m_matMapX;
        matMapY = m_matMapY;
        readers = m_pReaders;
        m_matMapX.release();
        m_matMapY.release();
        m_pTable = std::make_shared<zrfe::kernels::RemapTable>();
        m_pReaders = std::make_shared<std::atomic<int>>(0);
    }
    // No new lease can reach the old table now; one still held keeps it unchanged.
    if (readers->load(std::memory_order_acquire) != 0) {
        matMapX.release();
        matMapY.release();
    }
}
