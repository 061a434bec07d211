#include "SubViewOutline.h"

#include <algorithm>

#include "LensGeometry.h"
#include "engine/EngineCore.h"

namespace zrfe {

OutlineTransform OutlineTransformFor(int nInstallMode, unsigned int uHalfSize, unsigned int uOrgRadius,
                                     unsigned int uRadius)
{
    OutlineTransform t;
    t.scale = static_cast<float>(uHalfSize) / static_cast<float>(uOrgRadius);
    if (IsWall(nInstallMode)) {
        t.offset = 0.0f;
        t.limit = static_cast<float>(2 * uHalfSize);
    } else {
        t.offset = static_cast<float>(static_cast<int>(uHalfSize - uRadius));
        t.limit = static_cast<float>(2 * uRadius);
    }
    return t;
}

TableEdges TableEdges::Of(const cv::Mat& mapX, const cv::Mat& mapY)
{
    TableEdges e;
    if (mapX.empty() || mapY.size() != mapX.size())
        return e;
    e.rows = mapX.rows;
    e.cols = mapX.cols;
    const auto entry = [&](int row, int col) { return cv::Point2f(mapX.at<float>(row, col), mapY.at<float>(row, col)); };
    for (int c = 0; c < e.cols; ++c) {
        e.top.push_back(entry(0, c));
        e.bottom.push_back(entry(e.rows - 1, c));
    }
    for (int r = 0; r < e.rows; ++r) {
        e.left.push_back(entry(r, 0));
        e.right.push_back(entry(r, e.cols - 1));
    }
    e.centre = entry(e.rows / 2, e.cols / 2);
    return e;
}

cv::Point2f TableEdges::At(int row, int col) const
{
    if (row == 0)
        return top[static_cast<size_t>(col)];
    if (row == rows - 1)
        return bottom[static_cast<size_t>(col)];
    if (col == 0)
        return left[static_cast<size_t>(row)];
    if (col == cols - 1)
        return right[static_cast<size_t>(row)];
    return centre;  // the only other entry an outline reads
}

namespace {

struct OutlineWalker {
    const TableEdges& edges;
    const OutlineTransform& t;
    std::vector<tag_ZR_FE_POINT_S>& out;

    void Point(int row, int col, float& X, float& Y) const
    {
        const cv::Point2f p = edges.At(row, col);
        X = t.scale * p.x - t.offset;
        Y = t.scale * p.y - t.offset;
    }
    static tag_ZR_FE_POINT_S ToPoint(float X, float Y) { return {TruncToPoint16(X), TruncToPoint16(Y)}; }
    void AppendIfInside(int row, int col) const
    {
        float X, Y;
        Point(row, col, X, Y);
        if (0.0f <= X && 0.0f <= Y && X <= t.limit && Y <= t.limit)  // NaN fails
            out.push_back(ToPoint(X, Y));
    }
    tag_ZR_FE_POINT_S At(int row, int col) const
    {
        float X, Y;
        Point(row, col, X, Y);
        return ToPoint(X, Y);
    }
};

}  // namespace

void ComputeSubViewOutline(const TableEdges& edges, const OutlineTransform& t, tag_ZR_FE_POINT_SET_S& stPoints)
{
    stPoints.vecPoints.clear();
    stPoints.stCenter = {0, 0};
    const int cols = edges.cols;
    const int rows = edges.rows;
    if (rows == 0 || cols == 0)
        return;
    // Views narrower or lower than 20 pixels still advance one entry a step.
    const int stepX = std::max(cols / 20, 1);
    const int stepY = std::max(rows / 20, 1);
    OutlineWalker walk{edges, t, stPoints.vecPoints};

    if (cols - 1 > 0)
        for (int x = 0; x < cols - 1; x += stepX)
            walk.AppendIfInside(0, x);
    if (rows - 1 > 0)
        for (int y = 0; y < rows - 1; y += stepY)
            walk.AppendIfInside(y, cols - 1);
    if (cols - 1 >= 0)
        for (int x = cols - 1; x >= 0; x -= stepX)
            walk.AppendIfInside(rows - 1, x);
    if (rows - 1 > 0)
        for (int y = rows - 1; y > 0; y -= stepY)
            walk.AppendIfInside(y, 0);
    stPoints.vecPoints.push_back(walk.At(0, 0));
    stPoints.stCenter = walk.At(rows / 2, cols / 2);
}


int EngineCore::UpdateNormalPoints(int nIndex)
{
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return -1;
    const OutlineTransform t = OutlineTransformFor(m_eInstallMode, m_uHalfSize, m_uOrgRadius, m_uRadius);
    const ZRFishEyeMap& map = *m_pNormalMap[nIndex];
    CZRGuard guard(m_mtxSubViewPoints);
    ComputeSubViewOutline(map.Edges(), t, m_stSubViewPoints[nIndex]);
    return 0;
}

void EngineCore::GetSubViewPoints(tag_ZR_FE_POINT_SET_S& stPoints, int nIndex) const
{
    CZRGuard guard(m_mtxSubViewPoints);
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return;
    if (&stPoints != &m_stSubViewPoints[nIndex])
        stPoints.vecPoints = m_stSubViewPoints[nIndex].vecPoints;
    stPoints.stCenter = m_stSubViewPoints[nIndex].stCenter;
}

}  // namespace zrfe
