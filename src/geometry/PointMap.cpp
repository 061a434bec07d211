#include "PointMap.h"

#include <algorithm>

#include "LensGeometry.h"

void ZRPointMap::Clear()
{
    m_vecValue.clear();
    m_vecPresent.clear();
    m_mapFallback.clear();
    m_uMinX = m_uMinY = m_uSpanX = m_uSpanY = 0;
    m_bGrid = true;
    m_uCount = 0;
}

void ZRPointMap::Build(const cv::Mat& matMapX, const cv::Mat& matMapY)
{
    Clear();
    const int rows = matMapX.rows;
    const int cols = matMapY.cols;
    if (rows < 1 || cols < 1)
        return;

    unsigned int minX = 0xFFFF, minY = 0xFFFF, maxX = 0, maxY = 0;
    for (int y = 0; y < rows; ++y) {
        const float* px = matMapX.ptr<float>(y);
        const float* py = matMapY.ptr<float>(y);
        for (int c = 0; c < cols; ++c) {
            const unsigned int kx = zrfe::TruncToPoint16(px[c]);
            const unsigned int ky = zrfe::TruncToPoint16(py[c]);
            minX = std::min(minX, kx);
            maxX = std::max(maxX, kx);
            minY = std::min(minY, ky);
            maxY = std::max(maxY, ky);
        }
    }
    const uint64_t spanX = maxX - minX + 1, spanY = maxY - minY + 1;
    m_bGrid = spanX * spanY <= kMaxGridCells;

    if (m_bGrid) {
        m_uMinX = minX;
        m_uMinY = minY;
        m_uSpanX = static_cast<unsigned int>(spanX);
        m_uSpanY = static_cast<unsigned int>(spanY);
        m_vecValue.assign(spanX * spanY, 0);
        m_vecPresent.assign(spanX * spanY, 0);
    }
    for (int y = 0; y < rows; ++y) {
        const float* px = matMapX.ptr<float>(y);
        const float* py = matMapY.ptr<float>(y);
        for (int c = 0; c < cols; ++c) {
            tag_ZR_FE_POINT_S key{zrfe::TruncToPoint16(px[c]), zrfe::TruncToPoint16(py[c])};
            const tag_ZR_FE_POINT_S value{static_cast<unsigned short>(c), static_cast<unsigned short>(y)};
            if (m_bGrid) {
                const size_t cell = static_cast<size_t>(key.nY - minY) * m_uSpanX + (key.nX - minX);
                if (!m_vecPresent[cell]) {  // the first table pixel in row-major order wins
                    m_vecPresent[cell] = 1;
                    m_vecValue[cell] = (static_cast<uint32_t>(value.nY) << 16) | value.nX;
                    ++m_uCount;
                }
            } else if (m_mapFallback.emplace(key, value).second) {
                ++m_uCount;
            }
        }
    }
}

bool ZRPointMap::Find(const tag_ZR_FE_POINT_S& key, tag_ZR_FE_POINT_S& value) const
{
    if (!m_bGrid) {
        auto it = m_mapFallback.find(key);
        if (it == m_mapFallback.end())
            return false;
        value = it->second;
        return true;
    }
    if (m_vecPresent.empty() || key.nX < m_uMinX || key.nY < m_uMinY)
        return false;
    const unsigned int dx = key.nX - m_uMinX, dy = key.nY - m_uMinY;
    if (dx >= m_uSpanX || dy >= m_uSpanY)
        return false;
    const size_t cell = static_cast<size_t>(dy) * m_uSpanX + dx;
    if (!m_vecPresent[cell])
        return false;
    value.nX = static_cast<unsigned short>(m_vecValue[cell] & 0xFFFFu);
    value.nY = static_cast<unsigned short>(m_vecValue[cell] >> 16);
    return true;
}
