// Composition of every view from the source picture: the one place where a
// frame becomes pictures. The dewarper's workers, its snapshot capture and the
// engine's own renders all come here.
#include <climits>

#include <opencv2/imgproc.hpp>

#include "EngineCore.h"
#include "geometry/LensGeometry.h"
#include "kernels/Kernels.h"

namespace zrfe {

namespace {

// Outline colour of each sub view, in working-picture channel order (Y, U, V).
const cv::Scalar kOutlineColour[kMaxSubViews] = {
    cv::Scalar(150, 54, 0, 0),    cv::Scalar(29, 239, 103, 0), cv::Scalar(226, 17, 153, 0),
    cv::Scalar(105, 202, 255, 0), cv::Scalar(179, 165, 0, 0),  cv::Scalar(42, 107, 214, 0),
    cv::Scalar(158, 150, 213, 0), cv::Scalar(166, 115, 0, 0)};
const int kOutlineThickness = 2;

// cv::remap addresses its input and output with 16-bit signed coordinates.
bool CanRemap(const cv::Size& input, const cv::Mat& matMapX, const cv::Mat& matMapY)
{
    return input.width > 0 && input.height > 0 && !matMapX.empty() && matMapX.type() == CV_32FC1 &&
           matMapY.type() == CV_32FC1 && matMapX.size() == matMapY.size() && input.width < SHRT_MAX &&
           input.height < SHRT_MAX && matMapX.cols < SHRT_MAX && matMapX.rows < SHRT_MAX;
}

bool IsWorkingPicture(const cv::Mat& m) { return !m.empty() && m.type() == CV_8UC3; }

// The ground panorama is shown turned left by this many columns.
int GroundShift(int nTableWidth, unsigned int uAngle)
{
    const unsigned int product = static_cast<unsigned int>(nTableWidth) * uAngle;
    return static_cast<int>(static_cast<float>(product) / static_cast<float>(kDegreesPerTurn));
}

// The width of each half of a double panorama.
int DoubleHalfWidth(int nTableWidth) { return (nTableWidth / 16) * 8; }

// The lens circle: the working image itself for a wall camera; for floor and
// ceiling, the 2r square about the centre.
cv::Rect CircleRect(const MainViewSettings& g)
{
    const int s = static_cast<int>(g.uHalfSize);
    if (IsWall(g.nInstallMode))
        return cv::Rect(0, 0, 2 * s, 2 * s);
    const int r = static_cast<int>(g.uRadius);
    return cv::Rect(s - r, s - r, 2 * r, 2 * r);
}

// The main picture's size for these settings; 0 x 0 when nothing can be composed
// (empty tables, a crop outside the working image, a degenerate size).
ViewSize PlanMainView(const MainViewSettings& g, const cv::Mat& source)
{
    const int side = 2 * static_cast<int>(g.uHalfSize);
    if (!IsWorkingPicture(source) || !IsKnownMode(g.nInstallMode) || side < 2)
        return {};
    if (!IsWall(g.nInstallMode) && (g.uRadius < 1 || g.uRadius > g.uHalfSize))
        return {};
    const cv::Rect circle = CircleRect(g);
    if (g.nViewType == ZR_FE_VIEW_ORIGINAL)
        return {circle.width, circle.height};
    const cv::Mat& mapX = g.tables.mapX;
    if (!CanRemap(circle.size(), mapX, g.tables.mapY))
        return {};
    if (IsWall(g.nInstallMode)) {
        const cv::Rect window(static_cast<int>(g.stWall.uStartX), static_cast<int>(g.stWall.uStartY),
                              static_cast<int>(g.stWall.uWidth), static_cast<int>(g.stWall.uHeight));
        if (window.x < 0 || window.y < 0 || window.width < 1 || window.height < 1 ||
            window.x > mapX.cols - window.width || window.y > mapX.rows - window.height)
            return {};
        return {window.width, window.height};
    }
    if (g.nViewType == ZR_FE_VIEW_DOUBLE_PANORAMA) {
        const int half = DoubleHalfWidth(mapX.cols);
        return half < 1 ? ViewSize{} : ViewSize{half, 2 * mapX.rows};
    }
    return {mapX.cols, mapX.rows};
}

// The ground strip turned left by the ground angle, optionally cut in two halves stacked.
void GroundPanorama(const cv::Mat& strip, const MainViewSettings& g, cv::Mat& out)
{
    const int Wp = strip.cols;
    const int shift = GroundShift(Wp, g.uAngle);
    cv::Mat turned;  // a new picture: hconcat must not write over the strip it reads
    if (shift >= 1 && shift < Wp)
        cv::hconcat(strip.colRange(shift, Wp), strip.colRange(0, shift), turned);
    else
        turned = strip;
    if (g.nViewType == ZR_FE_VIEW_DOUBLE_PANORAMA) {
        const int half = DoubleHalfWidth(Wp);
        cv::vconcat(turned.colRange(0, half), turned.colRange(half, 2 * half), out);
        return;
    }
    out = turned;
}

}  // namespace

void EngineCore::TakeMainViewSettings(MainViewSettings& g) const
{
    g.tables = m_pPanoramaMap->Take([&] {
        g.uHalfSize = m_uHalfSize;
        g.uRadius = m_uRadius;
        g.nInstallMode = m_eInstallMode;
        g.nViewType = m_eMainViewType;
        g.uAngle = m_stGroundView.uAngle;
        g.stWall = m_stWallView;
    });
}

void EngineCore::DrawOutlines(cv::Mat& matCircle) const
{
    const int count = m_nSubViewNum;
    const int mask = m_nLineMask;
    std::vector<cv::Point> polygon;
    for (int i = 0; i < count && i < kMaxSubViews; ++i) {
        if (!((mask >> i) & 1))
            continue;
        polygon.clear();
        {
            CZRGuard guard(m_mtxSubViewPoints);
            for (const tag_ZR_FE_POINT_S& p : m_stSubViewPoints[i].vecPoints)
                polygon.emplace_back(static_cast<int>(p.nX), static_cast<int>(p.nY));
        }
        if (polygon.empty())
            continue;
        if (polygon.back() != polygon.front())
            polygon.push_back(polygon.front());
        cv::polylines(matCircle, polygon, true, kOutlineColour[i], kOutlineThickness, cv::LINE_8, 0);
    }
}

bool EngineCore::ComposeMain(cv::Mat& out, bool bDrawOutlines) const
{
    MainViewSettings g;
    TakeMainViewSettings(g);
    const cv::Mat& source = *m_pMatSource;
    if (PlanMainView(g, source).width == 0)
        return false;
    const kernels::KernelTable& k = kernels::ActiveKernels();
    const int side = 2 * static_cast<int>(g.uHalfSize);
    cv::Mat working(side, side, CV_8UC3);
    k.resize(source, working);
    if (!IsWall(g.nInstallMode))
        k.maskCircle(working, cv::Point(static_cast<int>(g.uHalfSize), static_cast<int>(g.uHalfSize)),
                     static_cast<int>(g.uRadius));
    cv::Mat circle = working(CircleRect(g));
    if (bDrawOutlines)
        DrawOutlines(circle);
    if (g.nViewType == ZR_FE_VIEW_ORIGINAL) {
        out = circle;
        return true;
    }
    cv::Mat panorama(g.tables.mapX.size(), CV_8UC3);
    k.remap(circle, g.tables.mapX, g.tables.mapY, panorama);
    if (IsWall(g.nInstallMode)) {
        out = panorama(cv::Rect(static_cast<int>(g.stWall.uStartX), static_cast<int>(g.stWall.uStartY),
                                static_cast<int>(g.stWall.uWidth), static_cast<int>(g.stWall.uHeight)));
        return true;
    }
    GroundPanorama(panorama, g, out);
    return true;
}

bool EngineCore::ComposeSub(int nIndex, cv::Mat& out) const
{
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return false;
    const ZRFishEyeMap::Lease tables = m_pNormalMap[static_cast<size_t>(nIndex)]->Take();
    const cv::Mat& source = *m_pMatSource;
    if (!IsWorkingPicture(source) || !CanRemap(source.size(), tables.mapX, tables.mapY))
        return false;
    cv::Mat view(tables.mapX.size(), CV_8UC3);
    kernels::ActiveKernels().remap(source, tables.mapX, tables.mapY, view);
    out = view;
    return true;
}

ViewSize EngineCore::MainViewSize() const
{
    MainViewSettings g;
    TakeMainViewSettings(g);
    return PlanMainView(g, *m_pMatSource);
}

ViewSize EngineCore::SubViewSize(int nIndex) const
{
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return {};
    const ZRFishEyeMap::Lease tables = m_pNormalMap[static_cast<size_t>(nIndex)]->Take();
    const cv::Mat& source = *m_pMatSource;
    if (!IsWorkingPicture(source) || !CanRemap(source.size(), tables.mapX, tables.mapY))
        return {};
    return {tables.mapX.cols, tables.mapY.rows};
}

}  // namespace zrfe
