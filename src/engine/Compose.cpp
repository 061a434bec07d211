// Composition of every view from the source picture: the one place where a
// frame becomes pictures. The dewarper's workers, its snapshot capture and the
// engine's own renders all come here.
#include <climits>

#include <opencv2/imgproc.hpp>

#include "EngineCore.h"
#include "ViewPlan.h"
#include "geometry/LensGeometry.h"
#include "kernels/KernelParts.h"

namespace zrfe {

namespace {

// Outline colour of each sub view, in working-picture channel order (Y, U, V).
const cv::Scalar kOutlineColour[kMaxSubViews] = {
    cv::Scalar(150, 54, 0, 0),    cv::Scalar(29, 239, 103, 0), cv::Scalar(226, 17, 153, 0),
    cv::Scalar(105, 202, 255, 0), cv::Scalar(179, 165, 0, 0),  cv::Scalar(42, 107, 214, 0),
    cv::Scalar(158, 150, 213, 0), cv::Scalar(166, 115, 0, 0)};

// cv::remap addresses its input and output with 16-bit signed coordinates.
bool CanRemap(const cv::Size& input, const cv::Mat& taps, const cv::Mat& fractions)
{
    return input.width > 0 && input.height > 0 && !taps.empty() && taps.type() == CV_16SC2 &&
           fractions.type() == CV_16UC1 && taps.size() == fractions.size() && input.width < SHRT_MAX &&
           input.height < SHRT_MAX && taps.cols < SHRT_MAX && taps.rows < SHRT_MAX;
}

bool IsWorkingPicture(const cv::Mat& m) { return !m.empty() && m.type() == CV_8UC3; }

}  // namespace

bool CanRemap(const cv::Size& input, const kernels::RemapTable& table)
{
    return CanRemap(input, table.taps, table.fractions);
}

const cv::Scalar& OutlineColour(int nIndex) { return kOutlineColour[nIndex]; }

namespace {

// The ground panorama is shown turned left by this many columns.
int GroundShift(int nTableWidth, unsigned int uAngle)
{
    const unsigned int product = static_cast<unsigned int>(nTableWidth) * uAngle;
    return static_cast<int>(static_cast<float>(product) / static_cast<float>(kDegreesPerTurn));
}

// The width of each half of a double panorama.
int DoubleHalfWidth(int nTableWidth) { return (nTableWidth / 16) * 8; }

}  // namespace

cv::Rect CircleRect(const MainViewSettings& g)
{
    const int s = static_cast<int>(g.uHalfSize);
    if (IsWall(g.nInstallMode))
        return cv::Rect(0, 0, 2 * s, 2 * s);
    const int r = static_cast<int>(g.uRadius);
    return cv::Rect(s - r, s - r, 2 * r, 2 * r);
}

ViewSize PlanMainView(const MainViewSettings& g, bool bHaveSource)
{
    const int side = 2 * static_cast<int>(g.uHalfSize);
    if (!bHaveSource || !IsKnownMode(g.nInstallMode) || side < 2)
        return {};
    if (!IsWall(g.nInstallMode) && (g.uRadius < 1 || g.uRadius > g.uHalfSize))
        return {};
    const cv::Rect circle = CircleRect(g);
    if (g.nViewType == ZR_FE_VIEW_ORIGINAL)
        return {circle.width, circle.height};
    const cv::Size table = g.tables.Table().size();
    if (!CanRemap(circle.size(), g.tables.Table()))
        return {};
    if (IsWall(g.nInstallMode)) {
        const cv::Rect window(static_cast<int>(g.stWall.uStartX), static_cast<int>(g.stWall.uStartY),
                              static_cast<int>(g.stWall.uWidth), static_cast<int>(g.stWall.uHeight));
        if (window.x < 0 || window.y < 0 || window.width < 1 || window.height < 1 ||
            window.x > table.width - window.width || window.y > table.height - window.height)
            return {};
        return {window.width, window.height};
    }
    if (g.nViewType == ZR_FE_VIEW_DOUBLE_PANORAMA) {
        const int half = DoubleHalfWidth(table.width);
        return half < 1 ? ViewSize{} : ViewSize{half, 2 * table.height};
    }
    return {table.width, table.height};
}

kernels::RowLayout PanoramaLayout(const MainViewSettings& g)
{
    const cv::Size table = g.tables.Table().size();
    kernels::RowLayout layout;
    if (IsWall(g.nInstallMode)) {
        layout.width = static_cast<int>(g.stWall.uWidth);
        for (int r = 0; r < static_cast<int>(g.stWall.uHeight); ++r) {
            layout.tableRow.push_back(static_cast<int>(g.stWall.uStartY) + r);
            layout.columnStart.push_back(static_cast<int>(g.stWall.uStartX));
        }
        return layout;
    }
    const int shift = GroundShift(table.width, g.uAngle);
    const int start = shift >= 1 && shift < table.width ? shift : 0;
    const bool halves = g.nViewType == ZR_FE_VIEW_DOUBLE_PANORAMA;
    const int half = DoubleHalfWidth(table.width);
    layout.width = halves ? half : table.width;
    for (int part = 0; part < (halves ? 2 : 1); ++part)
        for (int r = 0; r < table.height; ++r) {
            layout.tableRow.push_back(r);
            layout.columnStart.push_back((start + part * half) % table.width);
        }
    return layout;
}

void EngineCore::TakeMainViewSettings(MainViewSettings& g) const
{
    g.tables = m_pPanoramaMap->Take([&] {
        g.circle = m_pCircleSpans;
        g.uHalfSize = m_uHalfSize;
        g.uRadius = m_uRadius;
        g.nInstallMode = m_eInstallMode;
        g.nViewType = m_eMainViewType;
        g.uAngle = m_stGroundView.uAngle;
        g.stWall = m_stWallView;
    });
}

std::vector<OutlinePolygon> EngineCore::OutlinePolygons() const
{
    const int count = m_nSubViewNum;
    const int mask = m_nLineMask;
    std::vector<OutlinePolygon> outlines;
    for (int i = 0; i < count && i < kMaxSubViews; ++i) {
        if (!((mask >> i) & 1))
            continue;
        OutlinePolygon outline{i, {}};
        {
            CZRGuard guard(m_mtxSubViewPoints);
            for (const tag_ZR_FE_POINT_S& p : m_stSubViewPoints[i].vecPoints)
                outline.points.emplace_back(static_cast<int>(p.nX), static_cast<int>(p.nY));
        }
        if (outline.points.empty())
            continue;
        if (outline.points.back() != outline.points.front())
            outline.points.push_back(outline.points.front());
        outlines.push_back(std::move(outline));
    }
    return outlines;
}

void EngineCore::DrawOutlines(cv::Mat& matCircle) const
{
    for (const OutlinePolygon& outline : OutlinePolygons())
        cv::polylines(matCircle, outline.points, true, kOutlineColour[outline.index], kOutlineThickness, cv::LINE_8,
                      0);
}

// Takes the settings, resizes the source to the working image, masks the lens
// circle and draws the outlines on it.
bool EngineCore::PrepareCircle(MainViewSettings& g, cv::Mat& circle, bool bDrawOutlines) const
{
    TakeMainViewSettings(g);
    const cv::Mat& source = *m_pMatSource;
    if (PlanMainView(g, IsWorkingPicture(source)).width == 0)
        return false;
    const kernels::KernelTable& k = kernels::ActiveKernels();
    const int side = 2 * static_cast<int>(g.uHalfSize);
    // Only the circle's square of the working picture is ever read, so only it is
    // resized, into memory that stays with the thread from one frame to the next;
    // for a panorama, only the part of it that the panorama's table reads.
    const cv::Rect crop = CircleRect(g);
    circle = kernels::Scratch(kernels::ScratchSlot::kWorking, crop.size(), CV_8UC3);
    const kernels::RowSpans* reads = g.nViewType == ZR_FE_VIEW_ORIGINAL ? nullptr : &g.tables.Shared().Reads();
    k.resize(source, cv::Size(side, side), crop, reads, circle);
    if (!IsWall(g.nInstallMode)) {
        if (!g.circle || g.circle->size != circle.size())
            return false;
        k.maskCircle(circle, *g.circle);
    }
    if (bDrawOutlines)
        DrawOutlines(circle);
    return true;
}

bool EngineCore::ComposeMain(cv::Mat& out, bool bDrawOutlines) const
{
    if (m_eSourceMode == ZR_FE_RENDER_FAST)
        return ComposeFast(-1, out, bDrawOutlines);
    MainViewSettings g;
    cv::Mat circle;
    if (!PrepareCircle(g, circle, bDrawOutlines))
        return false;
    if (g.nViewType == ZR_FE_VIEW_ORIGINAL) {
        out = circle;
        return true;
    }
    const kernels::RowLayout layout = PanoramaLayout(g);
    cv::Mat picture(layout.height(), layout.width, CV_8UC3);
    kernels::ActiveKernels().remap(circle, g.tables.Table(), layout, picture);
    out = picture;
    return true;
}

bool EngineCore::RenderMain(const PictureProvider& provide, bool bDrawOutlines) const
{
    if (m_eSourceMode == ZR_FE_RENDER_FAST)
        return RenderMainFast(provide, bDrawOutlines);
    MainViewSettings g;
    cv::Mat circle;
    if (!PrepareCircle(g, circle, bDrawOutlines))
        return false;
    const kernels::KernelTable& k = kernels::ActiveKernels();
    PlanarPicture out;
    if (g.nViewType == ZR_FE_VIEW_ORIGINAL) {
        if (!provide({circle.cols, circle.rows}, out))
            return false;
        k.workingTo420(circle, out);
        return true;
    }
    const kernels::RowLayout layout = PanoramaLayout(g);
    if (!provide({layout.width, layout.height()}, out))
        return false;
    k.remapTo420(circle, g.tables.Table(), layout, out);
    return true;
}

bool EngineCore::ComposeSub(int nIndex, cv::Mat& out) const
{
    if (m_eSourceMode == ZR_FE_RENDER_FAST)
        return ComposeFast(nIndex, out, false);
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return false;
    const ZRFishEyeMap::Lease tables = m_pNormalMap[static_cast<size_t>(nIndex)]->Take();
    const cv::Mat& source = *m_pMatSource;
    if (!IsWorkingPicture(source) || !CanRemap(source.size(), tables.Table()))
        return false;
    const kernels::RowLayout layout = kernels::WholeTable(tables.Table().size());
    cv::Mat view(tables.Table().size(), CV_8UC3);
    kernels::ActiveKernels().remap(source, tables.Table(), layout, view);
    out = view;
    return true;
}

bool EngineCore::RenderSub(int nIndex, const PictureProvider& provide) const
{
    if (m_eSourceMode == ZR_FE_RENDER_FAST)
        return RenderSubFast(nIndex, provide);
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return false;
    const ZRFishEyeMap::Lease tables = m_pNormalMap[static_cast<size_t>(nIndex)]->Take();
    const cv::Mat& source = *m_pMatSource;
    const cv::Size size = tables.Table().size();
    PlanarPicture out;
    if (!IsWorkingPicture(source) || !CanRemap(source.size(), tables.Table()) || size.width < 2 ||
        size.height < 2 || !provide({size.width, size.height}, out))
        return false;
    kernels::ActiveKernels().remapTo420(source, tables.Table(), kernels::WholeTable(size), out);
    return true;
}

ViewSize EngineCore::MainViewSize() const
{
    if (m_eSourceMode == ZR_FE_RENDER_FAST)
        return MainViewSizeFast();
    MainViewSettings g;
    TakeMainViewSettings(g);
    return PlanMainView(g, IsWorkingPicture(*m_pMatSource));
}

ViewSize EngineCore::SubViewSize(int nIndex) const
{
    if (m_eSourceMode == ZR_FE_RENDER_FAST)
        return SubViewSizeFast(nIndex);
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return {};
    const ZRFishEyeMap::Lease tables = m_pNormalMap[static_cast<size_t>(nIndex)]->Take();
    const cv::Mat& source = *m_pMatSource;
    if (!IsWorkingPicture(source) || !CanRemap(source.size(), tables.Table()))
        return {};
    return {tables.Table().size().width, tables.Table().size().height};
}

}  // namespace zrfe
