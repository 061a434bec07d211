// The engine's public face: each call goes to the core, and nothing the core
// throws (an allocation that fails) gets past it.
#include "EngineCore.h"
#include "FrameConversion.h"
#include "base/NoThrow.h"

namespace zrfe {

Engine::Engine(ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius, ENUM_ZR_FE_VIEW_TYPE_E eMainViewType,
               int nOrgRadius, int nNormalWidth, int nNormalHeight)
    : m_pCore(new EngineCore(eInstallMode, nRadius, eMainViewType, nOrgRadius, nNormalWidth, nNormalHeight))
{
}

Engine::~Engine() = default;

EngineCore& Engine::Core() { return *m_pCore; }
const EngineCore& Engine::Core() const { return *m_pCore; }

int Engine::SetInstallMode(ENUM_ZR_FE_INSTALL_MODE_E eMode, unsigned int uRadius, bool bForce)
{
    // A table that cannot be built leaves the mount and radius as they were.
    const ENUM_ZR_FE_INSTALL_MODE_E eOldMode = m_pCore->m_eInstallMode;
    const unsigned int uOldRadius = m_pCore->m_uRadius;
    return zrbase::AnswerOrUndo(
        -1, [&] { return m_pCore->SetInstallMode(eMode, uRadius, bForce); },
        [&] { m_pCore->SetInstallMode(eOldMode, uOldRadius, true); });
}
ENUM_ZR_FE_INSTALL_MODE_E Engine::GetInstallMode() const { return m_pCore->m_eInstallMode; }
unsigned int Engine::GetRadius() const { return m_pCore->m_uRadius; }
unsigned int Engine::GetOrgRadius() const { return m_pCore->m_uOrgRadius; }
int Engine::SetMainViewType(ENUM_ZR_FE_VIEW_TYPE_E eType, bool bForce)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->SetMainViewType(eType, bForce); });
}
ENUM_ZR_FE_VIEW_TYPE_E Engine::GetMainViewType() const { return m_pCore->m_eMainViewType; }
int Engine::SetGroundAngle(unsigned int uAngle) 
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->SetGroundAngle(uAngle); });
}
int Engine::SetWallStarty(unsigned int uStartY) 
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->SetWallStarty(uStartY); });
}
int Engine::ResetMainView()
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->ResetMainView(); });
}
int Engine::SetLens(const tag_ZRLENS* pLens)
{
    // A table that cannot be built leaves the old lens in every table.
    const tag_ZRLENS stOld = m_pCore->m_stLens;
    return zrbase::AnswerOrUndo(
        -1, [&] { return m_pCore->SetLens(pLens ? *pLens : BuiltinLens()); }, [&] { m_pCore->SetLens(stOld, true); });
}
int Engine::GetLens(tag_ZRLENS* pLens) const
{
    if (!pLens)
        return -1;
    *pLens = m_pCore->m_stLens;
    return 0;
}
tag_ZR_FE_GROUND_VIEW_S Engine::GetGroundParam() const { return m_pCore->m_stGroundView; }
tag_ZR_FE_WALL_VIEW_S Engine::GetWallParam() const { return m_pCore->m_stWallView; }
void Engine::SetLineMask(int nMask) { m_pCore->m_nLineMask = nMask; }
int Engine::GetLineMask() const { return m_pCore->m_nLineMask; }

void Engine::SetSubViewNum(unsigned int uCount)
{
    zrbase::IgnoringFailure([&] { m_pCore->SetSubViewNum(uCount); });
}
int Engine::GetSubViewNum() const { return m_pCore->m_nSubViewNum; }
int Engine::SetNormalView(const tag_ZR_FE_NORMAL_VIEW_S& stView, int nIndex)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->SetNormalView(stView, nIndex); });
}
void Engine::GetNormalParam(tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uIndex) const
{
    if (uIndex < static_cast<unsigned int>(kMaxSubViews))
        stView = m_pCore->m_stNormalView[uIndex];
}
int Engine::MoveNormalView(tag_ZR_FE_POINT_S stPoint, int nIndex)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->MoveNormalView(stPoint, nIndex); });
}
int Engine::ZoomNormalView(unsigned int uLevel, int nIndex)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->ZoomNormalView(uLevel, nIndex); });
}
int Engine::SetNormalY(unsigned int uAngle, int nIndex)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->SetNormalY(uAngle, nIndex); });
}
int Engine::SetNormalZ(unsigned int uAngle, int nIndex)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->SetNormalZ(uAngle, nIndex); });
}
int Engine::SetNormalSize(unsigned int uWidth, unsigned int uHeight)
{
    const unsigned int uOldWidth = m_pCore->m_uNormalWidth;
    const unsigned int uOldHeight = m_pCore->m_uNormalHeight;
    return zrbase::AnswerOrUndo(
        -1, [&] { return m_pCore->SetNormalSize(uWidth, uHeight); },
        [&] { m_pCore->SetNormalSize(uOldWidth, uOldHeight); });
}
int Engine::GetNormalSize(unsigned int& uWidth, unsigned int& uHeight) const
{
    uWidth = m_pCore->m_uNormalWidth;
    uHeight = m_pCore->m_uNormalHeight;
    return 0;
}

int Engine::GetOriginalPoint(const tag_ZR_FE_POINT_S& stPanorama, tag_ZR_FE_POINT_S& stOriginal) const
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->GetOriginalPoint(stPanorama, stOriginal); });
}
int Engine::GetPanoramaPoint(const tag_ZR_FE_POINT_S& stOriginal, tag_ZR_FE_POINT_S& stPanorama) const
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->GetPanoramaPoint(stOriginal, stPanorama); });
}
void Engine::GetSubViewPoints(tag_ZR_FE_POINT_SET_S& stPoints, int nIndex) const
{
    zrbase::IgnoringFailure([&] { m_pCore->GetSubViewPoints(stPoints, nIndex); });
}

int Engine::LoadFrame(const tag_ZRFRAME& stFrame)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->LoadFrame(stFrame); });
}
int Engine::LoadPicture(CZRPacketPIC* pPacket)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->LoadPicture(pPacket); });
}
ViewSize Engine::GetMainViewSize() const
{
    return zrbase::AnswerOr(ViewSize{}, [&] { return m_pCore->MainViewSize(); });
}
ViewSize Engine::GetSubViewSize(int nIndex) const
{
    return zrbase::AnswerOr(ViewSize{}, [&] { return m_pCore->SubViewSize(nIndex); });
}
int Engine::SetRenderMode(ENUM_ZR_FE_RENDER_MODE_E eMode)
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->SetRenderMode(eMode); });
}
ENUM_ZR_FE_RENDER_MODE_E Engine::GetRenderMode() const { return m_pCore->m_eRenderMode; }

namespace {
// The caller's picture, when it has the view's size.
PictureProvider Into(const PlanarPicture& stOut)
{
    return [&stOut](ViewSize size, PlanarPicture& out) {
        if (size.width != stOut.width || size.height != stOut.height)
            return false;
        out = stOut;
        return true;
    };
}
}  // namespace

int Engine::RenderMain(const PlanarPicture& stOut) const
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->RenderMain(Into(stOut), true) ? 0 : -1; });
}

int Engine::RenderSub(int nIndex, const PlanarPicture& stOut) const
{
    return zrbase::AnswerOr(-1, [&] { return m_pCore->RenderSub(nIndex, Into(stOut)) ? 0 : -1; });
}

}  // namespace zrfe
