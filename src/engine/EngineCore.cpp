// The engine's core: construction and the frames that become the source picture.
#include "EngineCore.h"

#include "FrameConversion.h"
#include "base/NoThrow.h"
#include "geometry/LensGeometry.h"

namespace zrfe {

namespace {
// Factory defaults of a sub view: exactly 1.57 and 0.785, not pi/2 and pi/4.
tag_ZR_FE_NORMAL_VIEW_S DefaultNormalView()
{
    tag_ZR_FE_NORMAL_VIEW_S v;
    v.fAngleX = 0.0f;
    v.fAngleY = 0.0f;
    v.fAngleZ = 0.0f;
    v.fZoomVer = 1.25f;
    v.fZoomHor = 1.25f;
    v.fPan = 0.0f;
    v.fTilt = 0.0f;
    v.fFovHor = 1.57f;
    v.fFovVer = 0.785f;
    v.uZoom = 10;
    return v;
}
}  // namespace

EngineCore::EngineCore(ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius, ENUM_ZR_FE_VIEW_TYPE_E eMainViewType,
                       int nOrgRadius, int nNormalWidth, int nNormalHeight)
    : m_uRadius(static_cast<unsigned int>(nRadius)),
      m_uHalfSize(0),
      m_uNormalWidth(0),
      m_uNormalHeight(0),
      m_uOrgRadius(static_cast<unsigned int>(nOrgRadius)),
      m_eInstallMode(eInstallMode),
      m_eMainViewType(eMainViewType),
      m_stGroundView{0, 0, 0},
      m_stWallView{0, 0, 0, 0, 0, 0},
      m_pPanoramaMap(new ZRFishEyeMap),
      m_bNormalMapInUse{},
      m_nSubViewNum(0),
      m_nLineMask(0),
      m_pMatSource(new cv::Mat)
{
    // A sub-view size past the picture limit is taken as none: no sub view composes.
    if (ZRFitsPictureLimit(nNormalWidth, nNormalHeight)) {
        m_uNormalWidth = static_cast<unsigned int>(nNormalWidth);
        m_uNormalHeight = static_cast<unsigned int>(nNormalHeight);
    }
    for (int i = 0; i < kMaxSubViews; ++i) {
        m_stNormalView[i] = DefaultNormalView();
        m_pNormalMap[static_cast<size_t>(i)].reset(new ZRFishEyeMap);
        m_stSubViewPoints[i].stCenter = {0, 0};
    }
    // A refused mode, or tables that cannot be built, leave the panorama empty.
    zrbase::IgnoringFailure([&] { SetInstallMode(eInstallMode, static_cast<unsigned int>(nRadius), true); });
    m_uOrgRadius = static_cast<unsigned int>(nOrgRadius);
}

void EngineCore::InstallShared(ZRFishEyeMap& holder, const TableKey& key, const SharedRemapTable::BuildFn& build,
                               const std::function<void()>& alsoUnderLock)
{
    holder.Reclaim();
    std::shared_ptr<const SharedRemapTable> table = SharedRemapTables().Get(key, [&] {
        cv::Mat mapX, mapY;
        build(mapX, mapY);
        auto built = std::make_shared<SharedRemapTable>();
        kernels::BuildRemapTable(mapX, mapY, built->table);
        built->table.mapX.release();  // rebuilt when asked for: see SharedRemapTable
        built->table.mapY.release();
        built->edges = TableEdges::Of(mapX, mapY);
        built->rebuild = build;
        return std::shared_ptr<const SharedRemapTable>(std::move(built));
    });
    holder.Install(std::move(table), alsoUnderLock);
}

int EngineCore::LoadFrame(const tag_ZRFRAME& stFrame)
{
    if (!IsReadableFrameDesc(&stFrame))
        return -1;
    const int w = stFrame.nWidth;
    SetOrgRadius(static_cast<unsigned int>(w) >> 1, false);  // the lens circle follows the frame width
    m_eSourceMode = m_eRenderMode.load();
    if (m_eSourceMode == ZR_FE_RENDER_FAST)
        return LoadFastFrame(stFrame);
    return FrameDescToMat(&stFrame, *m_pMatSource, w, w);
}

int EngineCore::LoadPicture(CZRPacketPIC* pPacket)
{
    if (!IsReadablePicture(pPacket))
        return -1;
    const int w = static_cast<int>(pPacket->m_uWidth);
    SetOrgRadius(static_cast<unsigned int>(w) >> 1, false);
    m_eSourceMode = m_eRenderMode.load();
    if (m_eSourceMode == ZR_FE_RENDER_FAST)
        return LoadFastPicture(pPacket);
    return PictureToMat(pPacket, *m_pMatSource, w, w);
}

}  // namespace zrfe
