// The engine's core: every setting of the lens, the mount and the views, the
// tables built from them, the source picture, and the composition of each view.
//
// The members keep the names under which the dewarper has always described its
// state. One thread (the host's) changes settings and rebuilds tables at once;
// compositions may run meanwhile on other threads: each takes what it reads
// together, under the panorama holder's lock or through a table lease.
#ifndef ZRFISHEYE_ENGINE_ENGINECORE_H
#define ZRFISHEYE_ENGINE_ENGINECORE_H

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

#include <opencv2/core.hpp>

#include "ZRFishEyeEngine.h"
#include "ZRFishEyeMap.h"
#include "geometry/Lens.h"
#include "geometry/PointMap.h"
#include "kernels/FastInputs.h"

namespace zrfe {

// Everything the main view's composition reads, taken together under the
// panorama holder's lock so that a rebuild never mixes two settings.
struct MainViewSettings {
    unsigned int uHalfSize = 0;
    unsigned int uRadius = 0;
    int nInstallMode = 0;
    int nViewType = 0;
    unsigned int uAngle = 0;
    tag_ZR_FE_WALL_VIEW_S stWall{};
    ZRFishEyeMap::Lease tables;
    std::shared_ptr<const kernels::CircleSpans> circle;
};

// One sub view's outline as the main view draws it, closed.
struct OutlinePolygon {
    int index;
    std::vector<cv::Point> points;
};

class FastOutlineCache;
std::shared_ptr<FastOutlineCache> MakeFastOutlineCache();

// Hands a render the 4:2:0 picture to write a view of this size into; false
// when it has none, and nothing is written.
using PictureProvider = std::function<bool(ViewSize size, PlanarPicture& out)>;

class EngineCore {
public:
    EngineCore(ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius, ENUM_ZR_FE_VIEW_TYPE_E eMainViewType,
               int nOrgRadius, int nNormalWidth, int nNormalHeight);
    EngineCore(const EngineCore&) = delete;
    EngineCore& operator=(const EngineCore&) = delete;

    // Install mode and lens circle.
    int SetInstallMode(ENUM_ZR_FE_INSTALL_MODE_E eMode, unsigned int uRadius, bool bForce);
    int SetGroundAngle(unsigned int uAngle);
    int SetWallStarty(unsigned int uStartY);
    int SetOrgRadius(unsigned int uOrgRadius, bool bForce);
    int ResetMainView();

    // The lens every table follows; -1, nothing changed, for one LensProblem refuses.
    int SetLens(const tag_ZRLENS& stLens, bool bForce = false);

    // Sub views.
    int SetNormalView(const tag_ZR_FE_NORMAL_VIEW_S& stView, int nIndex);
    int MoveNormalView(tag_ZR_FE_POINT_S stPoint, int nIndex);
    int ZoomNormalView(unsigned int uLevel, int nIndex);
    int SetNormalY(unsigned int uAngle, int nIndex);
    int SetNormalZ(unsigned int uAngle, int nIndex);
    void SetSubViewNum(unsigned int uCount);
    int SetNormalSize(unsigned int uWidth, unsigned int uHeight);
    int SetMainViewType(ENUM_ZR_FE_VIEW_TYPE_E eType, bool bForce);

    // Geometry queries.
    int GetOriginalPoint(const tag_ZR_FE_POINT_S& stPanorama, tag_ZR_FE_POINT_S& stOriginal) const;
    int GetPanoramaPoint(const tag_ZR_FE_POINT_S& stOriginal, tag_ZR_FE_POINT_S& stPanorama) const;
    void GetSubViewPoints(tag_ZR_FE_POINT_SET_S& stPoints, int nIndex) const;

    // Frames into the source picture.
    int LoadFrame(const tag_ZRFRAME& stFrame);
    int LoadPicture(CZRPacketPIC* pPacket);

    // The mode that the next frame is loaded and rendered in; -1 for an unknown one.
    int SetRenderMode(ENUM_ZR_FE_RENDER_MODE_E eMode);

    // Composition into working pictures (CV_8UC3, Y U V). False, out untouched,
    // when nothing can be composed. The main view may share memory with the
    // thread's working picture, valid until its next composition; never with the source.
    bool ComposeMain(cv::Mat& out, bool bDrawOutlines) const;
    bool ComposeSub(int nIndex, cv::Mat& out) const;
    // The same views written straight into 4:2:0 pictures; false, nothing
    // written, when nothing can be composed or the provider has no picture.
    bool RenderMain(const PictureProvider& provide, bool bDrawOutlines) const;
    bool RenderSub(int nIndex, const PictureProvider& provide) const;
    ViewSize MainViewSize() const;
    ViewSize SubViewSize(int nIndex) const;

    // Lens and mounting.
    unsigned int m_uRadius;
    unsigned int m_uHalfSize;
    unsigned int m_uNormalWidth;
    unsigned int m_uNormalHeight;
    unsigned int m_uOrgRadius;
    ENUM_ZR_FE_INSTALL_MODE_E m_eInstallMode;
    std::atomic<ENUM_ZR_FE_VIEW_TYPE_E> m_eMainViewType;
    tag_ZR_FE_GROUND_VIEW_S m_stGroundView;
    tag_ZR_FE_WALL_VIEW_S m_stWallView;
    // The lens, and its projection (null for the built-in lens).
    tag_ZRLENS m_stLens = BuiltinLens();
    std::shared_ptr<const LensProjection> m_pLens;
    // Sub views: records, tables and outlines.
    tag_ZR_FE_NORMAL_VIEW_S m_stNormalView[kMaxSubViews];
    std::unique_ptr<ZRFishEyeMap> m_pPanoramaMap;
    // Holders exist for the engine's whole life, so a render never sees one appear
    // or vanish; m_bNormalMapInUse says which ones a sub view has claimed.
    std::array<std::unique_ptr<ZRFishEyeMap>, kMaxSubViews> m_pNormalMap;
    bool m_bNormalMapInUse[kMaxSubViews];
    // Shared with every engine whose panorama table is the same. Built when a
    // panorama point is first asked for after the table changed (null until then):
    // a host that never asks holds none and its rebuilds skip it.
    std::shared_ptr<const ZRPointMap> PointMap() const;
    tag_ZR_FE_POINT_SET_S m_stSubViewPoints[kMaxSubViews];
    mutable CZRMutex m_mtxSubViewPoints;
    std::atomic<int> m_nSubViewNum;
    std::atomic<int> m_nLineMask;
    // The latest frame in the working format, a square of the frame's width.
    std::unique_ptr<cv::Mat> m_pMatSource;
    // The floor and ceiling lens circle's rows in the original view; set with the
    // panorama tables, under their lock.
    std::shared_ptr<const kernels::CircleSpans> m_pCircleSpans;
    // The render mode asked for, and the one the current source was loaded in
    // (its renders and snapshots use that one).
    std::atomic<ENUM_ZR_FE_RENDER_MODE_E> m_eRenderMode{ZR_FE_RENDER_EXACT};
    std::atomic<ENUM_ZR_FE_RENDER_MODE_E> m_eSourceMode{ZR_FE_RENDER_EXACT};
    // Fast mode's source: the latest frame's own planes.
    std::unique_ptr<kernels::FastPlanes> m_pFastSource{new kernels::FastPlanes};
    // Where the outlines fall on the fast main view, kept until they move.
    std::shared_ptr<FastOutlineCache> m_pFastOutlines{MakeFastOutlineCache()};

private:
    int UpdatePanoramaMap();
    int UpdateGroundMap();
    // A new lens keeps the window where the host put it; a new radius centres it.
    int UpdateWallMap(bool bKeepWindow = false);
    int UpdatePointMap();
    int UpdateNormalPoints(int nIndex);
    int UpdateGroundNormalMap(int nIndex);
    int UpdateWallNormalMap(int nIndex);
    int UpdateNormalMap(int nIndex);
    void RebuildAllNormalViews();
    void TakeMainViewSettings(MainViewSettings& stSettings) const;
    std::vector<OutlinePolygon> OutlinePolygons() const;
    void DrawOutlines(cv::Mat& matCircle) const;
    bool PrepareCircle(MainViewSettings& g, cv::Mat& circle, bool bDrawOutlines) const;
    // Installs the table of key into holder: one that another engine holds, or
    // one built by build, which keeps by value all it reads (the table may build
    // its float maps again with it later).
    static void InstallShared(ZRFishEyeMap& holder, const TableKey& key, const SharedRemapTable::BuildFn& build,
                              const std::function<void()>& alsoUnderLock = nullptr);
    TableKey PanoramaKey() const;
    mutable std::mutex m_mtxPointMap;
    mutable std::shared_ptr<const ZRPointMap> m_mapPoint;
    static bool RadiusFitsPictureLimit(int nMode, unsigned int uRadius);
    // A table key's lens part for the current lens.
    std::array<uint64_t, 6> LensKey() const;

    // Fast mode.
    int LoadFastFrame(const tag_ZRFRAME& stFrame);
    int LoadFastPicture(CZRPacketPIC* pPacket);
    void PrepareFastTables() const;
    bool RenderMainFast(const PictureProvider& provide, bool bDrawOutlines) const;
    bool RenderSubFast(int nIndex, const PictureProvider& provide) const;
    // A fast view as a working picture, for the snapshot store (nIndex -1: the main view).
    bool ComposeFast(int nIndex, cv::Mat& out, bool bDrawOutlines) const;
    ViewSize MainViewSizeFast() const;
    ViewSize SubViewSizeFast(int nIndex) const;
    void MarkOutlines(const MainViewSettings& g, const std::shared_ptr<const kernels::FastTable>& table,
                      const kernels::RowLayout& layout, const PlanarPicture& out) const;
};

}  // namespace zrfe

#endif
