// Conversion of points between the displayed panorama and the original view.
#include "LensGeometry.h"
#include "engine/EngineCore.h"

namespace zrfe {

int EngineCore::UpdatePointMap()
{
    std::lock_guard<std::mutex> lock(m_mtxPointMap);
    m_mapPoint.reset();
    return 0;
}

std::shared_ptr<const ZRPointMap> EngineCore::PointMap() const
{
    // The point map follows the panorama table: shared where the table is.
    std::lock_guard<std::mutex> lock(m_mtxPointMap);
    if (!m_mapPoint)
        m_mapPoint = SharedPointMaps().Get(PanoramaKey(), [this] {
            auto points = std::make_shared<ZRPointMap>();
            cv::Mat mapX, mapY;
            m_pPanoramaMap->FloatMaps(mapX, mapY);
            points->Build(mapX, mapY);
            return std::shared_ptr<const ZRPointMap>(std::move(points));
        });
    return m_mapPoint;
}

int EngineCore::GetOriginalPoint(const tag_ZR_FE_POINT_S& stPanorama, tag_ZR_FE_POINT_S& stOriginal) const
{
    if (m_eMainViewType != ZR_FE_VIEW_PANORAMA)
        return -1;
    cv::Mat mapX, mapY;
    m_pPanoramaMap->FloatMaps(mapX, mapY);
    int x = stPanorama.nX;
    int y = stPanorama.nY;
    if (IsWall(m_eInstallMode)) {
        x = static_cast<int>((static_cast<unsigned int>(x) + m_stWallView.uStartX) & 0xFFFFu);
        y = static_cast<int>((static_cast<unsigned int>(y) + m_stWallView.uStartY) & 0xFFFFu);
    } else if (IsGroundFamily(m_eInstallMode)) {
        const int W = mapX.cols;
        if (W <= 0)
            return -1;
        // The conversions keep their own float shift, which can be one column
        // short of the display's when W * angle / 360 is whole.
        const int k1 = TruncToInt32(static_cast<float>(m_stGroundView.uAngle) * (static_cast<float>(W) / -static_cast<float>(kDegreesPerTurn)));
        x = (x - k1) % W;
    }
    if (x < 0 || y < 0 || x >= mapX.cols || y >= mapX.rows)
        return -1;
    const tag_ZR_FE_POINT_S out{TruncToPoint16(mapX.at<float>(y, x)), TruncToPoint16(mapY.at<float>(y, x))};
    stOriginal = out;
    return 0;
}

int EngineCore::GetPanoramaPoint(const tag_ZR_FE_POINT_S& stOriginal, tag_ZR_FE_POINT_S& stPanorama) const
{
    if (m_eMainViewType != ZR_FE_VIEW_PANORAMA)
        return -1;
    tag_ZR_FE_POINT_S table;
    if (!PointMap()->Find(stOriginal, table))
        return -1;
    tag_ZR_FE_POINT_S out = table;
    if (IsWall(m_eInstallMode)) {
        out.nX = static_cast<unsigned short>((table.nX - m_stWallView.uStartX) & 0xFFFFu);
        out.nY = static_cast<unsigned short>((table.nY - m_stWallView.uStartY) & 0xFFFFu);
    } else if (IsGroundFamily(m_eInstallMode)) {
        const int W = m_pPanoramaMap->Size().width;
        if (W <= 0)
            return -1;
        const int k2 = TruncToInt32(static_cast<float>(m_stGroundView.uAngle) * (static_cast<float>(W) / static_cast<float>(kDegreesPerTurn)));
        out.nX = static_cast<unsigned short>((table.nX - k2 + W) % W);
    }
    stPanorama = out;
    return 0;
}

}  // namespace zrfe
