#include "ZRFishEyeMap.h"

ZRFishEyeMap::ZRFishEyeMap() = default;
ZRFishEyeMap::~ZRFishEyeMap() = default;

void ZRFishEyeMap::Install(const cv::Mat& matMapX, const cv::Mat& matMapY, const std::function<void()>& alsoUnderLock)
{
    CZRGuard guard(m_mtxTables);
    if (alsoUnderLock)
        alsoUnderLock();
    m_matMapX = matMapX;
    m_matMapY = matMapY;
}

namespace {
// Whether m holds the only reference to its data. The count is changed atomically by
// whoever releases a copy (a worker that finished its remap), so it is read atomically.
bool SoleOwner(const cv::Mat& m)
{
    return m.u && __atomic_load_n(&m.u->refcount, __ATOMIC_ACQUIRE) == 1;
}
}  // namespace

void ZRFishEyeMap::Reclaim(cv::Mat& matMapX, cv::Mat& matMapY)
{
    {
        CZRGuard guard(m_mtxTables);
        matMapX = m_matMapX;
        matMapY = m_matMapY;
        m_matMapX.release();
        m_matMapY.release();
    }
    // A worker that took the tables before keeps them until its remap ends.
    if (!SoleOwner(matMapX) || !SoleOwner(matMapY)) {
        matMapX.release();
        matMapY.release();
    }
}

void ZRFishEyeMap::Take(cv::Mat& matMapX, cv::Mat& matMapY)
{
    CZRGuard guard(m_mtxTables);
    matMapX = m_matMapX;
    matMapY = m_matMapY;
}
