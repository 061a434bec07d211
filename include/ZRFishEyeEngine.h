// ZRFishEye's synchronous engine: settings in, tables built, one frame in and
// every view out, with no threads of its own beyond splitting one frame's work
// and no callbacks. CZRFishEyeDewarper runs this engine on its workers; a host
// that wants "this frame in, these views out" (a script, a media framework, a
// test) can use it directly and gets the same bytes.
//
// Settings and queries follow the rules of the CZRFishEyeDewarper members of
// the same names. One thread changes settings; renders may run on other threads
// at the same time, each with the tables and settings as they stood when it began.
#ifndef ZRFISHEYEENGINE_H
#define ZRFISHEYEENGINE_H

#include <memory>

#include "ZRBase.h"
#include "ZRFishEyeTypes.h"

namespace zrfe {

// The most sub views an engine keeps.
constexpr int kMaxSubViews = 8;

// A 4:2:0 picture in memory the caller owns: plane 0 luma (width x height),
// planes 1 (U) and 2 (V) at width / 2 x height / 2.
struct PlanarPicture {
    int width = 0;
    int height = 0;
    unsigned char* planes[3] = {nullptr, nullptr, nullptr};
    int pitches[3] = {0, 0, 0};
};

struct ViewSize {
    int width = 0;
    int height = 0;
};

class EngineCore;

class ZR_API Engine {
public:
    Engine(ENUM_ZR_FE_INSTALL_MODE_E eInstallMode, int nRadius, ENUM_ZR_FE_VIEW_TYPE_E eMainViewType, int nOrgRadius,
           int nNormalWidth, int nNormalHeight);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Install mode, lens circle and main view.
    int SetInstallMode(ENUM_ZR_FE_INSTALL_MODE_E eMode, unsigned int uRadius, bool bForce = false);
    ENUM_ZR_FE_INSTALL_MODE_E GetInstallMode() const;
    unsigned int GetRadius() const;
    unsigned int GetOrgRadius() const;
    int SetMainViewType(ENUM_ZR_FE_VIEW_TYPE_E eType, bool bForce = false);
    ENUM_ZR_FE_VIEW_TYPE_E GetMainViewType() const;
    int SetGroundAngle(unsigned int uAngle);
    int SetWallStarty(unsigned int uStartY);
    int ResetMainView();
    int SetLens(const tag_ZRLENS* pLens);
    int GetLens(tag_ZRLENS* pLens) const;
    tag_ZR_FE_GROUND_VIEW_S GetGroundParam() const;
    tag_ZR_FE_WALL_VIEW_S GetWallParam() const;
    void SetLineMask(int nMask);
    int GetLineMask() const;

    // Sub views.
    void SetSubViewNum(unsigned int uCount);
    int GetSubViewNum() const;
    int SetNormalView(const tag_ZR_FE_NORMAL_VIEW_S& stView, int nIndex);
    void GetNormalParam(tag_ZR_FE_NORMAL_VIEW_S& stView, unsigned int uIndex) const;
    int MoveNormalView(tag_ZR_FE_POINT_S stPoint, int nIndex);
    int ZoomNormalView(unsigned int uLevel, int nIndex);
    int SetNormalY(unsigned int uAngle, int nIndex);
    int SetNormalZ(unsigned int uAngle, int nIndex);
    int SetNormalSize(unsigned int uWidth, unsigned int uHeight);
    int GetNormalSize(unsigned int& uWidth, unsigned int& uHeight) const;

    // Geometry queries.
    int GetOriginalPoint(const tag_ZR_FE_POINT_S& stPanorama, tag_ZR_FE_POINT_S& stOriginal) const;
    int GetPanoramaPoint(const tag_ZR_FE_POINT_S& stOriginal, tag_ZR_FE_POINT_S& stPanorama) const;
    void GetSubViewPoints(tag_ZR_FE_POINT_SET_S& stPoints, int nIndex) const;

    // Frames. A frame becomes the source picture (a square of the frame's width);
    // a new width moves the sub views' lens circle first. -1, nothing changed, for
    // a picture that cannot be read.
    int LoadFrame(const tag_ZRFRAME& stFrame);
    int LoadPicture(CZRPacketPIC* pPacket);

    // How the next frame is loaded and its views rendered (ZR_FE_RENDER_EXACT by
    // default); -1, nothing changed, for an unknown mode.
    int SetRenderMode(ENUM_ZR_FE_RENDER_MODE_E eMode);
    ENUM_ZR_FE_RENDER_MODE_E GetRenderMode() const;

    // The size of each picture that a render of the current source would give;
    // 0 x 0 when there is nothing to compose.
    ViewSize GetMainViewSize() const;
    ViewSize GetSubViewSize(int nIndex) const;

    // Write the main view, or sub view nIndex, of the current source picture.
    // -1, the picture untouched, when nothing can be composed or the picture's
    // size differs from the view's.
    int RenderMain(const PlanarPicture& stOut) const;
    int RenderSub(int nIndex, const PlanarPicture& stOut) const;

    // The library's own objects (the dewarper, the snapshot capture) reach the engine's core here.
    EngineCore& Core();
    const EngineCore& Core() const;

private:
    std::unique_ptr<EngineCore> m_pCore;
};

}  // namespace zrfe

#endif  // ZRFISHEYEENGINE_H
