// The inverse of the panorama table: for an original-view pixel, the first
// table pixel (row-major) whose entry truncates to it.
#ifndef ZRFISHEYE_GEOMETRY_POINTMAP_H
#define ZRFISHEYE_GEOMETRY_POINTMAP_H

#include <cstdint>
#include <map>
#include <vector>

#include <opencv2/core.hpp>

#include "ZRFishEyeTypes.h"

// Keys are ordered by column, then row, both unsigned.
struct ZRPointLess {
    bool operator()(const tag_ZR_FE_POINT_S& a, const tag_ZR_FE_POINT_S& b) const
    {
        return a.nX != b.nX ? a.nX < b.nX : a.nY < b.nY;
    }
};

// The keys of a panorama table fill a small rectangle (at most (2r + 1) squared
// pixels), so the map is a dense grid over their bounding box, built in one pass;
// an ordered map takes over when the keys spread too far for a grid.
class ZRPointMap {
public:
    void Build(const cv::Mat& matMapX, const cv::Mat& matMapY);
    void Clear();
    bool Find(const tag_ZR_FE_POINT_S& key, tag_ZR_FE_POINT_S& value) const;
    size_t Size() const { return m_uCount; }

private:
    static const uint64_t kMaxGridCells = 1ull << 26;
    unsigned int m_uMinX = 0, m_uMinY = 0, m_uSpanX = 0, m_uSpanY = 0;
    std::vector<uint32_t> m_vecValue;  // packed (nY << 16) | nX
    std::vector<uint8_t> m_vecPresent;
    std::map<tag_ZR_FE_POINT_S, tag_ZR_FE_POINT_S, ZRPointLess> m_mapFallback;
    bool m_bGrid = true;
    size_t m_uCount = 0;
};

#endif
