#include "ZRFishEyeMap.h"

ZRFishEyeMap::ZRFishEyeMap() = default;
ZRFishEyeMap::~ZRFishEyeMap() = default;

void ZRFishEyeMap::Install(const cv::Mat& matMapX, const cv::Mat& matMapY)
{
    CZRGuard guard(m_mtxTables);
    m_matMapX = matMapX;
    m_matMapY = matMapY;
}

void ZRFishEyeMap::Take(cv::Mat& matMapX, cv::Mat& matMapY)
{
    CZRGuard guard(m_mtxTables);
    matMapX = m_matMapX;
    matMapY = m_matMapY;
}
