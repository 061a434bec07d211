// Fast mode: every view sampled once, straight from the frame's own 4:2:0
// planes, through tables composed with the scaling between the frame and the
// picture that each remap table addresses (kernels/FastInputs.h). No 4:4:4
// picture, no resize pass; the outlines are marked where their samples fall.
#include <cmath>
#include <mutex>

#include <opencv2/imgproc.hpp>

#include "EngineCore.h"
#include "FrameConversion.h"
#include "ViewPlan.h"
#include "geometry/LensGeometry.h"
#include "kernels/Kernels.h"

namespace zrfe {

namespace {

// What a fast table was composed for, besides its frame: a sub view reads the
// source square; the main view shows its panorama or the original view itself.
enum FastViewKind { kFastSubView = 1, kFastPanorama, kFastOriginal };

// The table entries whose samples land on an outline, rasterised once in the
// original view, by table row.
struct OutlineMarks {
    std::shared_ptr<const kernels::FastTable> table;
    std::vector<OutlinePolygon> outlines;
    std::vector<int> rowStart;  // first mark of each table row, and the end
    std::vector<int> column;
    std::vector<int> outline;  // the sub view whose outline it is
};

bool SameOutlines(const std::vector<OutlinePolygon>& a, const std::vector<OutlinePolygon>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].index != b[i].index || a[i].points != b[i].points)
            return false;
    return true;
}

std::shared_ptr<const kernels::FastTable> MainFastTable(const MainViewSettings& g, const kernels::FastPlanes& planes)
{
    const bool original = g.nViewType == ZR_FE_VIEW_ORIGINAL;
    const FastKey key = {planes.width,   planes.height, original ? kFastOriginal : kFastPanorama, g.nInstallMode,
                         static_cast<int>(g.uRadius), static_cast<int>(g.uHalfSize)};
    return g.tables.Shared().FastForm(key, [&](kernels::FastTable& table) {
        const cv::Rect circle = CircleRect(g);
        kernels::FastTableSource source;
        if (original) {
            source.tableSize = circle.size();
        } else {
            g.tables.Shared().FloatMaps(source.mapX, source.mapY);
            source.tableSize = source.mapX.size();
        }
        source.picture = circle.size();
        source.offset = circle.x;  // the circle's square starts as far down as across
        source.scale = static_cast<double>(planes.width) / (2.0 * g.uHalfSize);
        source.circle = IsWall(g.nInstallMode) ? nullptr : g.circle.get();
        source.wrapColumns = !original && !IsWall(g.nInstallMode);
        source.allPhases = !original;
        kernels::BuildFastTable(source, cv::Size(planes.width, planes.height), table);
    });
}

std::shared_ptr<const kernels::FastTable> SubFastTable(const ZRFishEyeMap::Lease& tables,
                                                       const kernels::FastPlanes& planes)
{
    const FastKey key = {planes.width, planes.height, kFastSubView, 0, 0, 0};
    return tables.Shared().FastForm(key, [&](kernels::FastTable& table) {
        kernels::FastTableSource source;
        tables.Shared().FloatMaps(source.mapX, source.mapY);
        source.tableSize = source.mapX.size();
        source.picture = cv::Size(planes.width, planes.width);
        kernels::BuildFastTable(source, cv::Size(planes.width, planes.height), table);
    });
}

std::shared_ptr<const OutlineMarks> BuildMarks(const MainViewSettings& g,
                                               const std::shared_ptr<const kernels::FastTable>& table,
                                               std::vector<OutlinePolygon> outlines)
{
    auto marks = std::make_shared<OutlineMarks>();
    const cv::Rect circle = CircleRect(g);
    const unsigned char kNone = 0;
    cv::Mat raster(circle.size(), CV_8UC1, cv::Scalar(kNone));
    for (const OutlinePolygon& o : outlines)
        cv::polylines(raster, o.points, true, cv::Scalar(o.index + 1), kOutlineThickness, cv::LINE_8, 0);
    const bool original = g.nViewType == ZR_FE_VIEW_ORIGINAL;
    cv::Mat mapX, mapY;
    if (!original)
        g.tables.Shared().FloatMaps(mapX, mapY);
    const cv::Size n = table->tableSize;
    marks->rowStart.reserve(static_cast<size_t>(n.height) + 1);
    for (int r = 0; r < n.height; ++r) {
        marks->rowStart.push_back(static_cast<int>(marks->column.size()));
        for (int c = 0; c < n.width; ++c) {
            const float X = original ? static_cast<float>(c) : mapX.at<float>(r, c);
            const float Y = original ? static_cast<float>(r) : mapY.at<float>(r, c);
            if (!std::isfinite(X) || !std::isfinite(Y))
                continue;
            const long x = std::lround(X), y = std::lround(Y);
            if (x < 0 || y < 0 || x >= raster.cols || y >= raster.rows)
                continue;
            const unsigned char label = raster.at<unsigned char>(static_cast<int>(y), static_cast<int>(x));
            if (label != kNone) {
                marks->column.push_back(c);
                marks->outline.push_back(label - 1);
            }
        }
    }
    marks->rowStart.push_back(static_cast<int>(marks->column.size()));
    marks->table = table;
    marks->outlines = std::move(outlines);
    return marks;
}

unsigned char* PlaneAt(const PlanarPicture& out, int plane, int row, int col)
{
    return out.planes[plane] + static_cast<size_t>(row) * static_cast<size_t>(out.pitches[plane]) +
           static_cast<size_t>(col);
}

}  // namespace

class FastOutlineCache {
public:
    std::mutex mtx;
    std::shared_ptr<const OutlineMarks> marks;
};

std::shared_ptr<FastOutlineCache> MakeFastOutlineCache() { return std::make_shared<FastOutlineCache>(); }

int EngineCore::SetRenderMode(ENUM_ZR_FE_RENDER_MODE_E eMode)
{
    if (eMode != ZR_FE_RENDER_EXACT && eMode != ZR_FE_RENDER_FAST)
        return -1;
    m_eRenderMode = eMode;
    return 0;
}

// The host's memory is only read here: the frame is copied into planes of our own.
// A frame too large for fast tables is loaded for the exact path instead.
int EngineCore::LoadFastFrame(const tag_ZRFRAME& f)
{
    kernels::FastPlanes& planes = *m_pFastSource;
    if (!kernels::PrepareFastPlanes(f.nWidth, f.nHeight, planes)) {
        m_eSourceMode = ZR_FE_RENDER_EXACT;
        return FrameDescToMat(&f, *m_pMatSource, f.nWidth, f.nWidth);
    }
    cv::Mat luma = planes.LumaInside(), chroma = planes.ChromaInside();
    cv::Mat(f.nHeight, f.nWidth, CV_8UC1, f.pData[0], static_cast<size_t>(f.nPitch[0])).copyTo(luma);
    cv::Mat(f.nHeight / 2, f.nWidth / 2, CV_8UC2, f.pData[1], static_cast<size_t>(f.nPitch[1])).copyTo(chroma);
    PrepareFastTables();
    return 0;
}

int EngineCore::LoadFastPicture(CZRPacketPIC* p)
{
    const int w = static_cast<int>(p->m_uWidth), h = static_cast<int>(p->m_uHeight);
    kernels::FastPlanes& planes = *m_pFastSource;
    if (!kernels::PrepareFastPlanes(w, h, planes)) {
        m_eSourceMode = ZR_FE_RENDER_EXACT;
        return PictureToMat(p, *m_pMatSource, w, w);
    }
    cv::Mat luma = planes.LumaInside(), chroma = planes.ChromaInside();
    cv::Mat(h, w, CV_8UC1, p->GetLine(0, 0), p->m_uPitch[0]).copyTo(luma);
    // The packet's planes are Y, V, U; ours pairs U with V.
    const cv::Size half(w / 2, h / 2);
    const cv::Mat uv[2] = {cv::Mat(half, CV_8UC1, p->GetLine(2, 0), p->m_uPitch[2]),
                           cv::Mat(half, CV_8UC1, p->GetLine(1, 0), p->m_uPitch[1])};
    cv::merge(uv, 2, chroma);
    PrepareFastTables();
    return 0;
}

// Tables are composed here, on the thread that loads frames and changes settings,
// so that the renders of a new frame size find them ready.
void EngineCore::PrepareFastTables() const
{
    const kernels::FastPlanes& planes = *m_pFastSource;
    MainViewSettings g;
    TakeMainViewSettings(g);
    const bool circleReady = IsWall(g.nInstallMode) || (g.circle && g.circle->size == CircleRect(g).size());
    if (PlanMainView(g, true).width != 0 && circleReady)
        MainFastTable(g, planes);
    for (int i = 0; i < m_nSubViewNum && i < kMaxSubViews; ++i) {
        const ZRFishEyeMap::Lease tables = m_pNormalMap[static_cast<size_t>(i)]->Take();
        if (CanRemap(cv::Size(planes.width, planes.width), tables.Table()))
            SubFastTable(tables, planes);
    }
}

bool EngineCore::RenderMainFast(const PictureProvider& provide, bool bDrawOutlines) const
{
    MainViewSettings g;
    TakeMainViewSettings(g);
    const kernels::FastPlanes& planes = *m_pFastSource;
    if (PlanMainView(g, !planes.empty()).width == 0)
        return false;
    const cv::Rect circle = CircleRect(g);
    if (!IsWall(g.nInstallMode) && (!g.circle || g.circle->size != circle.size()))
        return false;
    const std::shared_ptr<const kernels::FastTable> table = MainFastTable(g, planes);
    if (table->empty())
        return false;
    const kernels::RowLayout layout =
        g.nViewType == ZR_FE_VIEW_ORIGINAL ? kernels::WholeTable(circle.size()) : PanoramaLayout(g);
    PlanarPicture out;
    if (!provide({layout.width, layout.height()}, out))
        return false;
    kernels::ActiveKernels().fastRemapTo420(planes, *table, layout, out);
    if (bDrawOutlines)
        MarkOutlines(g, table, layout, out);
    return true;
}

void EngineCore::MarkOutlines(const MainViewSettings& g, const std::shared_ptr<const kernels::FastTable>& table,
                              const kernels::RowLayout& layout, const PlanarPicture& out) const
{
    std::vector<OutlinePolygon> outlines = OutlinePolygons();
    if (outlines.empty())
        return;
    std::shared_ptr<const OutlineMarks> marks;
    {
        std::lock_guard<std::mutex> lock(m_pFastOutlines->mtx);
        marks = m_pFastOutlines->marks;
    }
    if (!marks || marks->table != table || !SameOutlines(marks->outlines, outlines)) {
        marks = BuildMarks(g, table, std::move(outlines));
        std::lock_guard<std::mutex> lock(m_pFastOutlines->mtx);
        m_pFastOutlines->marks = marks;
    }
    const int tableWidth = table->tableSize.width;
    for (int r = 0; r < layout.height(); ++r) {
        const size_t tableRow = static_cast<size_t>(layout.tableRow[static_cast<size_t>(r)]);
        const int start = layout.columnStart[static_cast<size_t>(r)];
        for (int k = marks->rowStart[tableRow]; k < marks->rowStart[tableRow + 1]; ++k) {
            int col = marks->column[static_cast<size_t>(k)] - start;
            if (col < 0)
                col += tableWidth;
            if (col >= layout.width)
                continue;
            const cv::Scalar& colour = OutlineColour(marks->outline[static_cast<size_t>(k)]);
            *PlaneAt(out, 0, r, col) = cv::saturate_cast<unsigned char>(colour[0]);
            if (r / 2 < out.height / 2 && col / 2 < out.width / 2) {
                *PlaneAt(out, 1, r / 2, col / 2) = cv::saturate_cast<unsigned char>(colour[1]);
                *PlaneAt(out, 2, r / 2, col / 2) = cv::saturate_cast<unsigned char>(colour[2]);
            }
        }
    }
}

bool EngineCore::RenderSubFast(int nIndex, const PictureProvider& provide) const
{
    if (nIndex < 0 || nIndex >= kMaxSubViews)
        return false;
    const ZRFishEyeMap::Lease tables = m_pNormalMap[static_cast<size_t>(nIndex)]->Take();
    const kernels::FastPlanes& planes = *m_pFastSource;
    const cv::Size size = tables.Table().size();
    if (planes.empty() || !CanRemap(cv::Size(planes.width, planes.width), tables.Table()) || size.width < 2 ||
        size.height < 2)
        return false;
    const std::shared_ptr<const kernels::FastTable> table = SubFastTable(tables, planes);
    PlanarPicture out;
    if (table->empty() || !provide({size.width, size.height}, out))
        return false;
    kernels::ActiveKernels().fastRemapTo420(planes, *table, kernels::WholeTable(size), out);
    return true;
}

bool EngineCore::ComposeFast(int nIndex, cv::Mat& out, bool bDrawOutlines) const
{
    cv::Mat planes[3];
    const PictureProvider into = [&planes](ViewSize size, PlanarPicture& picture) {
        planes[0].create(size.height, size.width, CV_8UC1);
        planes[1].create(size.height / 2, size.width / 2, CV_8UC1);
        planes[2].create(size.height / 2, size.width / 2, CV_8UC1);
        picture.width = size.width;
        picture.height = size.height;
        for (int c = 0; c < 3; ++c) {
            picture.planes[c] = planes[c].data;
            picture.pitches[c] = static_cast<int>(planes[c].step);
        }
        return true;
    };
    if (!(nIndex < 0 ? RenderMainFast(into, bDrawOutlines) : RenderSubFast(nIndex, into)))
        return false;
    cv::Mat picture(planes[0].size(), CV_8UC3);
    kernels::ActiveKernels().planesToWorking(planes[0], planes[1], planes[2], picture);
    out = picture;
    return true;
}

ViewSize EngineCore::MainViewSizeFast() const
{
    MainViewSettings g;
    TakeMainViewSettings(g);
    return PlanMainView(g, !m_pFastSource->empty());
}

ViewSize EngineCore::SubViewSizeFast(int nIndex) const
{
    if (nIndex < 0 || nIndex >= kMaxSubViews || m_pFastSource->empty())
        return {};
    const ZRFishEyeMap::Lease tables = m_pNormalMap[static_cast<size_t>(nIndex)]->Take();
    const int side = m_pFastSource->width;
    if (!CanRemap(cv::Size(side, side), tables.Table()))
        return {};
    return {tables.Table().size().width, tables.Table().size().height};
}

}  // namespace zrfe
