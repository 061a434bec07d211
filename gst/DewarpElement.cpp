// The zrfisheyedewarp element. Settings (element and pad properties, navigation
// events) are recorded under the element's settings lock from any thread and
// applied to the engine by the streaming thread at the start of the next frame;
// only the streaming thread touches the engine while the element runs.
#include "DewarpElement.h"

#include <gst/video/navigation.h>
#include <gst/video/video.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "Lens.h"
#include "LensCircle.h"
#include "LensText.h"
#include "ZRBase.h"
#include "ZRFishEyeEngine.h"

GST_DEBUG_CATEGORY_STATIC(zrfe_dewarp_debug);
#define GST_CAT_DEFAULT zrfe_dewarp_debug

namespace {

constexpr int kMaxSubViews = zrfe::kMaxSubViews;
constexpr guint kMaxZoom = 20;
constexpr guint kDefaultZoom = 10;
constexpr guint kDefaultSubWidth = 1280;
constexpr guint kDefaultSubHeight = 720;
constexpr guint kDegreesPerTurn = 360;
constexpr gint kCentredWallRow = -1;
constexpr gint kNoAim = -1;
constexpr int kLeftButton = 1;
constexpr int kAllOutlines = (1 << kMaxSubViews) - 1;
// Outputs may hold this many buffers downstream before the pool has to grow.
constexpr guint kPoolMinBuffers = 2;
// The field of view of a lens given without one, and the widest the property takes, degrees
// (what the lens model refuses within it is an element error once streaming).
constexpr double kDefaultFieldOfView = 180.0;
constexpr double kMaxFieldOfViewProperty = 360.0;

// Element settings that changed since the engine last saw them.
enum ElementDirty : guint {
    kDirtyGeometry = 1u << 0,  // mount or radius
    kDirtyView = 1u << 1,
    kDirtyGroundAngle = 1u << 2,
    kDirtyWallRow = 1u << 3,
    kDirtySubSize = 1u << 4,
    kDirtyLens = 1u << 5,  // lens, fov or poly
};
// The sub-view count and the outlines follow the requested pads at every frame.

// Sub-view settings that changed since the engine last saw them.
enum SubDirty : guint {
    kDirtyZoom = 1u << 0,
    kDirtyTilt = 1u << 1,
    kDirtyAzimuth = 1u << 2,
    kDirtyPan = 1u << 3,
    kDirtyWallTilt = 1u << 4,
    kDirtyAim = 1u << 5,
    kDirtyRebuild = 1u << 6,  // the view's tables, after a new mount or radius
};

enum ElementProp {
    PROP_0,
    PROP_MOUNT,
    PROP_RADIUS,
    PROP_VIEW,
    PROP_GROUND_ANGLE,
    PROP_WALL_START_Y,
    PROP_SUB_WIDTH,
    PROP_SUB_HEIGHT,
    PROP_OUTLINES,
    PROP_CIRCLE,
    PROP_LENS,
    PROP_FOV,
    PROP_POLY,
};

enum SubPadProp {
    SUB_PROP_0,
    SUB_PROP_ZOOM,
    SUB_PROP_TILT,
    SUB_PROP_AZIMUTH,
    SUB_PROP_PAN,
    SUB_PROP_WALL_TILT,
    SUB_PROP_AIM_X,
    SUB_PROP_AIM_Y,
};

float Radians(float degrees)
{
    return static_cast<float>(degrees * G_PI / 180.0);
}
float Degrees(float radians)
{
    return static_cast<float>(radians * 180.0 / G_PI);
}

// What the user asked of one sub view, and the view as the engine last had it.
struct SubSettings {
    guint zoom = kDefaultZoom;
    float tilt = 0.0f;      // degrees
    float azimuth = 0.0f;   // degrees
    float pan = 0.0f;       // degrees
    float wallTilt = 0.0f;  // degrees
    gint aimX = kNoAim;
    gint aimY = kNoAim;
    guint dirty = 0;
    guint userSet = 0;  // what the user has set, given again to a new engine
    bool haveEngineView = false;
    tag_ZR_FE_NORMAL_VIEW_S engineView{};
};

struct ElementSettings {
    ENUM_ZR_FE_INSTALL_MODE_E mount = ZR_FE_INSTALL_CEILING;
    guint radius = 0;  // 0: half the frame width
    ENUM_ZR_FE_VIEW_TYPE_E view = ZR_FE_VIEW_PANORAMA;
    guint groundAngle = 0;
    gint wallStartY = kCentredWallRow;
    guint subWidth = kDefaultSubWidth;
    guint subHeight = kDefaultSubHeight;
    gboolean outlines = FALSE;
    // The lens circle: "" (the frame as it is), "auto" or "CX,CY,R"; kDefault stands for "".
    std::string circleText;
    zrtool::CircleChoice circle;
    bool circleDirty = false;  // kept apart from `dirty`: it is taken before the frame is read
    ENUM_ZR_FE_LENS_E lens = ZR_FE_LENS_BUILTIN;
    double fov = kDefaultFieldOfView;
    std::string polyText;  // "" or "K1,K2,K3,K4" as given
    double poly[4] = {0.0, 0.0, 0.0, 0.0};
    guint dirty = 0;
    int selected = 0;  // the sub view that navigation aims and zooms
};

// One source pad and what has been negotiated on it; touched by the streaming
// thread, except for `released`, set when the application releases the pad.
struct Output {
    GstPad* pad = nullptr;  // own reference
    int index = -1;         // -1: the main view
    zrfe::ViewSize size{};
    GstVideoInfo info{};
    GstBufferPool* pool = nullptr;
    bool negotiated = false;
    bool released = false;

    Output(GstPad* p, int i) : pad(GST_PAD(gst_object_ref(p))), index(i) {}
    ~Output()
    {
        DropPool();
        gst_object_unref(pad);
    }
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    void DropPool()
    {
        if (pool) {
            gst_buffer_pool_set_active(pool, FALSE);
            gst_object_unref(pool);
            pool = nullptr;
        }
    }
};

struct DewarpState {
    std::mutex settingsLock;  // settings, subs, outputs
    ElementSettings settings;
    std::array<SubSettings, kMaxSubViews> subs;
    std::shared_ptr<Output> main;
    std::array<std::shared_ptr<Output>, kMaxSubViews> outputs;

    // Streaming thread only.
    std::unique_ptr<zrfe::Engine> engine;
    GstVideoInfo inInfo{};
    bool haveInInfo = false;
    int appliedSubViews = 0;
    ENUM_ZR_FE_INSTALL_MODE_E acceptedMount = ZR_FE_INSTALL_CEILING;
    guint acceptedRadius = 0;
    CZRPacketPIC* planar = nullptr;  // I420 frames are copied into it
    std::vector<std::string> warnings;
    std::string lensError;  // why the lens settings cannot be used, posted as an element error
    // The square cut around the lens circle, when one is in use, and the picture it makes.
    bool cropping = false;
    bool findPending = false;  // "auto": the next frame is searched
    zrtool::SquareCrop crop;
    std::vector<guint8> cropped;  // NV12
    int fedWidth = 0;             // width of the pictures the engine is given

    ~DewarpState() { DropPlanar(); }
    void DropPlanar()
    {
        if (planar)
            planar->Release();
        planar = nullptr;
    }

    // The main output and each requested sub output.
    std::vector<std::shared_ptr<Output>> Outputs() const
    {
        std::vector<std::shared_ptr<Output>> all{main};
        for (const auto& out : outputs)
            if (out)
                all.push_back(out);
        return all;
    }

    int RequestedMask() const
    {
        int mask = 0;
        for (int i = 0; i < kMaxSubViews; ++i)
            if (outputs[static_cast<size_t>(i)])
                mask |= 1 << i;
        return mask;
    }
};

}  // namespace

struct ZrfeDewarp {
    GstElement parent;
    GstPad* sinkpad;
    DewarpState* state;
};
struct ZrfeDewarpClass {
    GstElementClass parent_class;
};

struct ZrfeSubPad {
    GstPad parent;
    int index;
};
struct ZrfeSubPadClass {
    GstPadClass parent_class;
};

static void zrfe_dewarp_child_proxy_init(gpointer g_iface, gpointer iface_data);

G_DEFINE_TYPE_WITH_CODE(ZrfeDewarp, zrfe_dewarp, GST_TYPE_ELEMENT,
                        G_IMPLEMENT_INTERFACE(GST_TYPE_CHILD_PROXY, zrfe_dewarp_child_proxy_init))
G_DEFINE_TYPE(ZrfeSubPad, zrfe_sub_pad, GST_TYPE_PAD)

#define ZRFE_DEWARP(obj) (reinterpret_cast<ZrfeDewarp*>(obj))
#define ZRFE_SUB_PAD(obj) (reinterpret_cast<ZrfeSubPad*>(obj))

namespace {

const GEnumValue kMountValues[] = {
    {ZR_FE_INSTALL_GROUND, "Floor or desk, lens looking up", "ground"},
    {ZR_FE_INSTALL_CEILING, "Ceiling, lens looking down", "ceiling"},
    {ZR_FE_INSTALL_WALL, "Wall, lens looking ahead", "wall"},
    {0, nullptr, nullptr},
};
// The nicks are the lens models' names everywhere else.
const GEnumValue kLensValues[] = {
    {ZR_FE_LENS_BUILTIN, "The library's built-in lens", "builtin"},
    {ZR_FE_LENS_EQUIDISTANT, "Equidistant: r = f theta", "equidistant"},
    {ZR_FE_LENS_EQUISOLID, "Equisolid: r = 2 f sin(theta / 2)", "equisolid"},
    {ZR_FE_LENS_STEREOGRAPHIC, "Stereographic: r = 2 f tan(theta / 2)", "stereographic"},
    {ZR_FE_LENS_ORTHOGRAPHIC, "Orthographic: r = f sin(theta)", "orthographic"},
    {ZR_FE_LENS_POLYNOMIAL, "OpenCV's fisheye polynomial, coefficients in poly", "polynomial"},
    {0, nullptr, nullptr},
};
const GEnumValue kViewValues[] = {
    {ZR_FE_VIEW_ORIGINAL, "The lens circle", "circle"},
    {ZR_FE_VIEW_PANORAMA, "The panorama", "panorama"},
    {ZR_FE_VIEW_DOUBLE_PANORAMA, "The panorama in two stacked halves", "double-panorama"},
    {0, nullptr, nullptr},
};

GType MountType()
{
    static GType type = g_enum_register_static("ZrfeDewarpMount", kMountValues);
    return type;
}
GType LensType()
{
    static GType type = g_enum_register_static("ZrfeDewarpLens", kLensValues);
    return type;
}
GType ViewType()
{
    static GType type = g_enum_register_static("ZrfeDewarpView", kViewValues);
    return type;
}

#define ZRFE_VIDEO_SIZES \
    "width = (int) [ 2, 16384 ], height = (int) [ 2, 16384 ], framerate = (fraction) [ 0/1, 2147483647/1 ]"

GstStaticPadTemplate kSinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw, format = (string) { NV12, I420 }, " ZRFE_VIDEO_SIZES));
GstStaticPadTemplate kSrcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS, GST_STATIC_CAPS("video/x-raw, format = (string) I420, " ZRFE_VIDEO_SIZES));
GstStaticPadTemplate kSubTemplate = GST_STATIC_PAD_TEMPLATE(
    "sub_%u", GST_PAD_SRC, GST_PAD_REQUEST, GST_STATIC_CAPS("video/x-raw, format = (string) I420, " ZRFE_VIDEO_SIZES));

DewarpState& State(GstElement* element)
{
    return *ZRFE_DEWARP(element)->state;
}

bool IsGroundFamily(ENUM_ZR_FE_INSTALL_MODE_E mount)
{
    return mount != ZR_FE_INSTALL_WALL;
}

// ---- Applying settings to the engine (streaming thread, settings lock held) ----

unsigned int EffectiveRadius(const ElementSettings& s, int fedWidth)
{
    return s.radius ? s.radius : static_cast<unsigned int>(fedWidth) / 2;
}

std::string Format(const char* format, ...) G_GNUC_PRINTF(1, 2);
std::string Format(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    gchar* text = g_strdup_vprintf(format, args);
    va_end(args);
    std::string result(text);
    g_free(text);
    return result;
}

// Settings refused while the lock was held reach the bus only after it is let go:
// a bus handler may well read a property.
void PostWarnings(GstElement* element, DewarpState& st)
{
    for (const std::string& text : st.warnings)
        GST_ELEMENT_WARNING(element, LIBRARY, SETTINGS, (nullptr), ("%s", text.c_str()));
    st.warnings.clear();
}

void ApplySub(DewarpState& st, int index)
{
    zrfe::Engine& engine = *st.engine;
    SubSettings& sub = st.subs[static_cast<size_t>(index)];
    if (sub.dirty & kDirtyZoom)
        engine.ZoomNormalView(sub.zoom, index);
    const guint angles = kDirtyTilt | kDirtyAzimuth | kDirtyPan | kDirtyWallTilt | kDirtyRebuild;
    if (sub.dirty & angles) {
        tag_ZR_FE_NORMAL_VIEW_S view{};
        engine.GetNormalParam(view, static_cast<unsigned int>(index));
        if (sub.dirty & kDirtyTilt)
            view.fAngleY = sub.tilt;
        if (sub.dirty & kDirtyAzimuth)
            view.fAngleZ = sub.azimuth;
        if (sub.dirty & kDirtyPan)
            view.fPan = Radians(sub.pan);
        if (sub.dirty & kDirtyWallTilt)
            view.fTilt = Radians(sub.wallTilt);
        engine.SetNormalView(view, index);
    }
    if ((sub.dirty & kDirtyAim) && sub.aimX >= 0 && sub.aimY >= 0) {
        const tag_ZR_FE_POINT_S point{static_cast<unsigned short>(sub.aimX), static_cast<unsigned short>(sub.aimY)};
        if (engine.MoveNormalView(point, index) != 0)
            st.warnings.push_back(Format("sub view %d: the point %d,%d of the main view is outside the lens circle",
                                         index, sub.aimX, sub.aimY));
    }
    sub.dirty = 0;
    engine.GetNormalParam(sub.engineView, static_cast<unsigned int>(index));
    sub.haveEngineView = true;
}

// Gives the engine the lens of the lens, fov and poly properties; false, with st.lensError
// saying why, when they make no lens.
bool ApplyLens(DewarpState& st)
{
    const ElementSettings& s = st.settings;
    tag_ZRLENS lens{s.lens, static_cast<float>(s.fov), {s.poly[0], s.poly[1], s.poly[2], s.poly[3]}};
    const char* problem = zrfe::LensProblem(lens);
    if (!s.polyText.empty() && s.lens != ZR_FE_LENS_POLYNOMIAL)
        problem = "poly applies to lens=polynomial only";
    if (!problem && st.engine->SetLens(&lens) != 0)
        problem = "the engine refused it";
    if (problem)
        st.lensError = Format("lens=%s fov=%g poly=\"%s\": %s", zrtool::LensModelName(s.lens), s.fov,
                              s.polyText.c_str(), problem);
    return !problem;
}

void ApplySettings(DewarpState& st)
{
    zrfe::Engine& engine = *st.engine;
    ElementSettings& s = st.settings;
    // First: every table that follows is built through the lens. A refused lens is tried
    // again at the next frame, the engine keeping the lens it had.
    const guint lensFailed = (s.dirty & kDirtyLens) && !ApplyLens(st) ? kDirtyLens : 0u;
    if (s.dirty & kDirtyGeometry) {
        const unsigned int radius = EffectiveRadius(s, st.fedWidth);
        if (engine.SetInstallMode(s.mount, radius) != 0) {
            st.warnings.push_back(Format("radius %u is too large for a %s camera; keeping the %s camera of radius %u",
                                         radius, kMountValues[s.mount].value_nick,
                                         kMountValues[st.acceptedMount].value_nick, engine.GetRadius()));
            s.mount = st.acceptedMount;
            s.radius = st.acceptedRadius;
        } else {
            st.acceptedMount = s.mount;
            st.acceptedRadius = s.radius;
            // A new geometry centres the wall window and turns the panorama back to 0;
            // the sub views' tables follow it only when rebuilt.
            s.dirty |= kDirtyGroundAngle | kDirtyWallRow;
            for (auto& sub : st.subs)
                sub.dirty |= sub.haveEngineView ? kDirtyRebuild : 0u;
        }
    }
    if (s.dirty & kDirtyView)
        engine.SetMainViewType(s.view);
    if (s.dirty & kDirtyGroundAngle && IsGroundFamily(engine.GetInstallMode()))
        engine.SetGroundAngle(s.groundAngle);
    if (s.dirty & kDirtyWallRow && !IsGroundFamily(engine.GetInstallMode())) {
        if (s.wallStartY == kCentredWallRow)
            engine.ResetMainView();
        else
            engine.SetWallStarty(static_cast<unsigned int>(s.wallStartY));
    }
    if (s.dirty & kDirtySubSize)
        engine.SetNormalSize(s.subWidth, s.subHeight);
    const int mask = st.RequestedMask();
    int count = 0;
    for (int i = 0; i < kMaxSubViews; ++i)
        if (mask & (1 << i))
            count = i + 1;
    if (count != st.appliedSubViews) {
        engine.SetSubViewNum(static_cast<unsigned int>(count));
        st.appliedSubViews = count;
    }
    engine.SetLineMask(s.outlines ? mask & kAllOutlines : 0);
    s.dirty = lensFailed;
    for (int i = 0; i < count; ++i)
        if (st.subs[static_cast<size_t>(i)].dirty || !st.subs[static_cast<size_t>(i)].haveEngineView)
            ApplySub(st, i);
}

// Posts the lens settings' refusal, once the lock is let go; true when there was one.
bool PostLensError(GstElement* element, DewarpState& st)
{
    std::string text;
    {
        std::lock_guard<std::mutex> lock(st.settingsLock);
        text.swap(st.lensError);
    }
    if (text.empty())
        return false;
    GST_ELEMENT_ERROR(element, LIBRARY, SETTINGS, ("the lens settings make no lens"), ("%s", text.c_str()));
    return true;
}

// ---- The lens circle ----

// Takes a newly set circle into the streaming state (settings lock held).
void TakeCircle(DewarpState& st)
{
    ElementSettings& s = st.settings;
    if (!s.circleDirty)
        return;
    s.circleDirty = false;
    st.findPending = s.circle.mode == zrtool::CircleChoice::kAuto;
    st.cropping = s.circle.mode == zrtool::CircleChoice::kGiven;
    if (st.cropping)
        st.crop = zrtool::CropFor(s.circle.circle);
}

// The frame's even part as BGR, for the circle finder only.
cv::Mat FrameToBgr(const GstVideoFrame& frame)
{
    const int width = GST_VIDEO_FRAME_WIDTH(&frame) / 2 * 2, height = GST_VIDEO_FRAME_HEIGHT(&frame) / 2 * 2;
    const bool nv12 = GST_VIDEO_FRAME_FORMAT(&frame) == GST_VIDEO_FORMAT_NV12;
    // Y rows, then the chroma rows: NV12's U V pairs, or I420's U rows and then its V rows.
    cv::Mat yuv(height * 3 / 2, width, CV_8UC1);
    guint8* dst = yuv.ptr<guint8>(0);
    const auto copyRows = [&](int comp, int rows, int bytes) {
        const guint8* src = static_cast<const guint8*>(GST_VIDEO_FRAME_COMP_DATA(&frame, comp));
        const int stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, comp);
        for (int r = 0; r < rows; ++r, dst += bytes)
            std::memcpy(dst, src + static_cast<size_t>(r) * stride, static_cast<size_t>(bytes));
    };
    copyRows(GST_VIDEO_COMP_Y, height, width);
    if (nv12) {
        copyRows(GST_VIDEO_COMP_U, height / 2, width);
    } else {
        copyRows(GST_VIDEO_COMP_U, height / 2, width / 2);
        copyRows(GST_VIDEO_COMP_V, height / 2, width / 2);
    }
    cv::Mat bgr;
    cv::cvtColor(yuv, bgr, nv12 ? cv::COLOR_YUV2BGR_NV12 : cv::COLOR_YUV2BGR_I420);
    return bgr;
}

// "auto": finds the circle in this frame; without one, the centred square is fed.
void FindCircle(GstElement* element, DewarpState& st, const GstVideoFrame& frame)
{
    st.findPending = false;
    const int width = GST_VIDEO_FRAME_WIDTH(&frame), height = GST_VIDEO_FRAME_HEIGHT(&frame);
    zrtool::CircleFinding found;
    try {
        found = zrtool::FindLensCircle({FrameToBgr(frame)});
    } catch (const cv::Exception& e) {
        GST_WARNING_OBJECT(element, "the lens circle finder failed: %s", e.what());
    }
    st.cropping = true;
    const int side = found.found ? zrtool::CropFor(found.circle).side : 0;
    if (found.found && ZRFitsPictureLimit(side, side)) {
        st.crop = zrtool::CropFor(found.circle);
        GST_INFO_OBJECT(element, "lens circle found (confidence %.2f): %s", found.confidence,
                        zrtool::CircleText(found.circle).c_str());
        return;
    }
    st.crop.side = std::min(width, height) / 2 * 2;
    st.crop.x = (width - st.crop.side) / 4 * 2;
    st.crop.y = (height - st.crop.side) / 4 * 2;
    st.warnings.push_back(Format("no lens circle found in the %d x %d frame; feeding its centred %d x %d square", width,
                                 height, st.crop.side, st.crop.side));
}

// ---- Negotiation and output ----

GstCaps* ViewCaps(const DewarpState& st, zrfe::ViewSize size)
{
    GstVideoInfo info;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_I420, static_cast<guint>(size.width),
                              static_cast<guint>(size.height));
    info.fps_n = st.inInfo.fps_n;
    info.fps_d = st.inInfo.fps_d;
    info.interlace_mode = st.inInfo.interlace_mode;
    return gst_video_info_to_caps(&info);
}

// Passes on the input's sticky events that an output has not had yet, those that
// go before the caps or those that go after them (the segment, tags).
struct StickyCopy {
    GstPad* target;
    bool beforeCaps;
};
gboolean CopyMissingSticky(GstPad*, GstEvent** event, gpointer data)
{
    const StickyCopy& copy = *static_cast<const StickyCopy*>(data);
    const GstEventType type = GST_EVENT_TYPE(*event);
    const bool wanted = copy.beforeCaps ? type < GST_EVENT_CAPS : type > GST_EVENT_CAPS && type != GST_EVENT_EOS;
    if (wanted) {
        GstEvent* held = gst_pad_get_sticky_event(copy.target, type, 0);
        if (held)
            gst_event_unref(held);
        else
            gst_pad_push_event(copy.target, gst_event_ref(*event));
    }
    return TRUE;
}

// Announces a new picture size on an output and gives it a pool of that size. An
// output that has never had caps gets the stream's start before and its segment after.
bool Negotiate(GstElement* element, DewarpState& st, Output& out, zrfe::ViewSize size)
{
    GstPad* sinkpad = ZRFE_DEWARP(element)->sinkpad;
    GstCaps* caps = ViewCaps(st, size);
    out.DropPool();
    gst_video_info_from_caps(&out.info, caps);
    out.size = size;
    StickyCopy copy{out.pad, true};
    gst_pad_sticky_events_foreach(sinkpad, CopyMissingSticky, &copy);
    const bool sent = gst_pad_push_event(out.pad, gst_event_new_caps(caps));
    copy.beforeCaps = false;
    gst_pad_sticky_events_foreach(sinkpad, CopyMissingSticky, &copy);
    out.pool = gst_buffer_pool_new();
    GstStructure* config = gst_buffer_pool_get_config(out.pool);
    gst_buffer_pool_config_set_params(config, caps, static_cast<guint>(GST_VIDEO_INFO_SIZE(&out.info)),
                                      kPoolMinBuffers, 0);
    gst_buffer_pool_set_config(out.pool, config);
    gst_caps_unref(caps);
    if (!gst_buffer_pool_set_active(out.pool, TRUE)) {
        GST_ELEMENT_ERROR(element, RESOURCE, NO_SPACE_LEFT, (nullptr),
                          ("cannot allocate %d x %d pictures for pad %s", size.width, size.height,
                           GST_PAD_NAME(out.pad)));
        return false;
    }
    out.negotiated = true;
    GST_DEBUG_OBJECT(element, "%s: %d x %d (%s)", GST_PAD_NAME(out.pad), size.width, size.height,
                     sent ? "accepted" : "not linked yet");
    return true;
}

zrfe::ViewSize ViewSizeOf(const DewarpState& st, const Output& out)
{
    return out.index < 0 ? st.engine->GetMainViewSize() : st.engine->GetSubViewSize(out.index);
}

// Renders one view into a fresh buffer and pushes it.
GstFlowReturn RenderAndPush(GstElement* element, DewarpState& st, Output& out, GstBuffer* in)
{
    GstBuffer* buffer = nullptr;
    GstFlowReturn ret = gst_buffer_pool_acquire_buffer(out.pool, &buffer, nullptr);
    if (ret != GST_FLOW_OK)
        return ret;
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &out.info, buffer, GST_MAP_WRITE)) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(element, RESOURCE, WRITE, (nullptr), ("cannot map an output picture"));
        return GST_FLOW_ERROR;
    }
    zrfe::PlanarPicture picture;
    picture.width = out.size.width;
    picture.height = out.size.height;
    for (int p = 0; p < 3; ++p) {
        picture.planes[p] = static_cast<unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        picture.pitches[p] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
    }
    const int rendered = out.index < 0 ? st.engine->RenderMain(picture) : st.engine->RenderSub(out.index, picture);
    gst_video_frame_unmap(&frame);
    if (rendered != 0) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(element, STREAM, FAILED, (nullptr),
                          ("the %s view could not be composed", GST_PAD_NAME(out.pad)));
        return GST_FLOW_ERROR;
    }
    gst_buffer_copy_into(buffer, in, GST_BUFFER_COPY_TIMESTAMPS, 0, static_cast<gsize>(-1));
    return gst_pad_push(out.pad, buffer);
}

// One result for the frame from the results of its outputs: an error or a flush
// at once; end of stream or not-linked only when every output says so.
GstFlowReturn Combine(const std::vector<GstFlowReturn>& results)
{
    bool allEos = true, allNotLinked = true;
    for (GstFlowReturn r : results) {
        if (r < GST_FLOW_EOS || r == GST_FLOW_FLUSHING)
            return r;
        allEos = allEos && r == GST_FLOW_EOS;
        allNotLinked = allNotLinked && r == GST_FLOW_NOT_LINKED;
    }
    if (results.empty())
        return GST_FLOW_OK;
    if (allEos)
        return GST_FLOW_EOS;
    return allNotLinked ? GST_FLOW_NOT_LINKED : GST_FLOW_OK;
}

bool ReplacePlanar(DewarpState& st, int width, int height)
{
    if (st.planar && st.planar->m_uWidth == static_cast<unsigned int>(width) &&
        st.planar->m_uHeight == static_cast<unsigned int>(height))
        return true;
    st.DropPlanar();
    st.planar = CZRPacketPIC::Acquire(static_cast<unsigned int>(width), static_cast<unsigned int>(height),
                                      ZR_PIC_FORMAT_YV12, nullptr, 0);
    return st.planar != nullptr;
}

// Cuts the square around the lens circle straight from the frame, in its own format.
int LoadCroppedFrame(DewarpState& st, const GstVideoFrame& frame)
{
    const int side = st.crop.side;
    const bool nv12 = GST_VIDEO_FRAME_FORMAT(&frame) == GST_VIDEO_FORMAT_NV12;
    zrtool::Yuv420View in;
    in.width = GST_VIDEO_FRAME_WIDTH(&frame);
    in.height = GST_VIDEO_FRAME_HEIGHT(&frame);
    for (int p = 0; p < (nv12 ? 2 : 3); ++p) {
        in.planes[p].data = static_cast<const unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
        in.planes[p].pitch = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
    }
    if (nv12) {
        const size_t lumaBytes = static_cast<size_t>(side) * static_cast<size_t>(side);
        st.cropped.resize(lumaBytes + lumaBytes / 2);
        zrtool::CropNv12(in, st.crop, {{st.cropped.data(), st.cropped.data() + lumaBytes, nullptr}, {side, side, 0}});
        tag_ZRFRAME desc{};
        desc.pData[0] = st.cropped.data();
        desc.pData[1] = st.cropped.data() + lumaBytes;
        desc.nPitch[0] = desc.nPitch[1] = side;
        desc.nWidth = desc.nHeight = side;
        return st.engine->LoadFrame(desc);
    }
    if (!ReplacePlanar(st, side, side))
        return -1;
    // The planar picture carries V in plane 1 and U in plane 2.
    const zrtool::Yuv420Target out{
        {st.planar->GetLine(0, 0), st.planar->GetLine(2, 0), st.planar->GetLine(1, 0)},
        {static_cast<int>(st.planar->m_uPitch[0]), static_cast<int>(st.planar->m_uPitch[2]),
         static_cast<int>(st.planar->m_uPitch[1])}};
    zrtool::CropI420(in, st.crop, out);
    return st.engine->LoadPicture(st.planar);
}

// Makes the engine's source picture from a mapped input frame.
int LoadFrame(DewarpState& st, const GstVideoFrame& frame)
{
    if (st.cropping)
        return LoadCroppedFrame(st, frame);
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    if (GST_VIDEO_FRAME_FORMAT(&frame) == GST_VIDEO_FORMAT_NV12) {
        tag_ZRFRAME desc{};
        for (int p = 0; p < 2; ++p) {
            desc.pData[p] = static_cast<unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, p));
            desc.nPitch[p] = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, p);
        }
        desc.nWidth = width;
        desc.nHeight = height;
        return st.engine->LoadFrame(desc);
    }
    // A planar picture carries V in plane 1 and U in plane 2.
    constexpr int kComponentOfPlane[3] = {GST_VIDEO_COMP_Y, GST_VIDEO_COMP_V, GST_VIDEO_COMP_U};
    if (!ReplacePlanar(st, width, height))
        return -1;
    for (int p = 0; p < 3; ++p) {
        const int comp = kComponentOfPlane[p];
        const guint8* src = static_cast<const guint8*>(GST_VIDEO_FRAME_COMP_DATA(&frame, comp));
        const int stride = GST_VIDEO_FRAME_COMP_STRIDE(&frame, comp);
        const unsigned int lines = st.planar->m_uLines[p];
        const size_t bytes = std::min<size_t>(static_cast<size_t>(GST_VIDEO_FRAME_COMP_WIDTH(&frame, comp)),
                                              st.planar->m_uPitch[p]);
        for (unsigned int y = 0; y < lines; ++y)
            std::memcpy(st.planar->GetLine(p, static_cast<int>(y)), src + static_cast<size_t>(y) * stride, bytes);
    }
    return st.engine->LoadPicture(st.planar);
}

GstFlowReturn Chain(GstPad*, GstObject* parent, GstBuffer* in)
{
    GstElement* element = GST_ELEMENT(parent);
    DewarpState& st = State(element);
    if (!st.engine) {
        gst_buffer_unref(in);
        GST_ELEMENT_ERROR(element, CORE, NEGOTIATION, (nullptr), ("a frame arrived before its caps"));
        return GST_FLOW_NOT_NEGOTIATED;
    }
    // A buffer that is shorter than its caps say is refused before anything reads it.
    if (!gst_buffer_get_video_meta(in) && gst_buffer_get_size(in) < GST_VIDEO_INFO_SIZE(&st.inInfo)) {
        GST_ELEMENT_ERROR(element, STREAM, FORMAT, (nullptr),
                          ("a frame of %" G_GSIZE_FORMAT " bytes is shorter than the %" G_GSIZE_FORMAT
                           " bytes of a %d x %d %s picture",
                           gst_buffer_get_size(in), GST_VIDEO_INFO_SIZE(&st.inInfo), GST_VIDEO_INFO_WIDTH(&st.inInfo),
                           GST_VIDEO_INFO_HEIGHT(&st.inInfo), GST_VIDEO_INFO_NAME(&st.inInfo)));
        gst_buffer_unref(in);
        return GST_FLOW_ERROR;
    }

    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &st.inInfo, in, GST_MAP_READ)) {
        GST_ELEMENT_ERROR(element, STREAM, FORMAT, (nullptr),
                          ("a frame does not hold the %d x %d %s picture that its caps say",
                           GST_VIDEO_INFO_WIDTH(&st.inInfo), GST_VIDEO_INFO_HEIGHT(&st.inInfo),
                           GST_VIDEO_INFO_NAME(&st.inInfo)));
        gst_buffer_unref(in);
        return GST_FLOW_ERROR;
    }
    {
        std::lock_guard<std::mutex> lock(st.settingsLock);
        TakeCircle(st);
    }
    // The search runs without the lock: it takes a while, and only this thread touches the crop.
    if (st.findPending)
        FindCircle(element, st, frame);

    std::vector<std::shared_ptr<Output>> outputs;
    {
        std::lock_guard<std::mutex> lock(st.settingsLock);
        const int fedWidth = st.cropping ? st.crop.side : GST_VIDEO_FRAME_WIDTH(&frame);
        if (fedWidth != st.fedWidth) {
            st.fedWidth = fedWidth;
            if (st.settings.radius == 0)
                st.settings.dirty |= kDirtyGeometry;
        }
        ApplySettings(st);
        outputs = st.Outputs();
    }
    PostWarnings(element, st);
    if (PostLensError(element, st)) {
        gst_video_frame_unmap(&frame);
        gst_buffer_unref(in);
        return GST_FLOW_ERROR;
    }

    const int loaded = LoadFrame(st, frame);
    gst_video_frame_unmap(&frame);
    if (loaded != 0) {
        GST_ELEMENT_ERROR(element, STREAM, FORMAT, (nullptr), ("the frame could not be read"));
        gst_buffer_unref(in);
        return GST_FLOW_ERROR;
    }

    std::vector<GstFlowReturn> results;
    GstFlowReturn ret = GST_FLOW_OK;
    for (const auto& out : outputs) {
        const zrfe::ViewSize size = ViewSizeOf(st, *out);
        if (size.width <= 0 || size.height <= 0) {
            GST_ELEMENT_ERROR(element, STREAM, FAILED, (nullptr),
                              ("the settings give the %s view no picture", GST_PAD_NAME(out->pad)));
            ret = GST_FLOW_ERROR;
            break;
        }
        if ((!out->negotiated || size.width != out->size.width || size.height != out->size.height) &&
            !Negotiate(element, st, *out, size)) {
            ret = GST_FLOW_ERROR;
            break;
        }
        const GstFlowReturn pushed = RenderAndPush(element, st, *out, in);
        std::lock_guard<std::mutex> lock(st.settingsLock);
        if (!out->released)
            results.push_back(pushed);
    }
    gst_buffer_unref(in);
    return ret != GST_FLOW_OK ? ret : Combine(results);
}

// ---- Events and queries ----

bool SetInputCaps(GstElement* element, DewarpState& st, GstCaps* caps)
{
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps) ||
        (GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_NV12 && GST_VIDEO_INFO_FORMAT(&info) != GST_VIDEO_FORMAT_I420)) {
        gchar* text = gst_caps_to_string(caps);
        GST_ELEMENT_ERROR(element, CORE, NEGOTIATION, ("zrfisheyedewarp takes NV12 or I420 video"),
                          ("refused caps %s", text));
        g_free(text);
        return false;
    }
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    // The source picture is a square of the frame's width.
    if (!ZRFitsPictureLimit(width, height) || !ZRFitsPictureLimit(width, width)) {
        GST_ELEMENT_ERROR(element, CORE, NEGOTIATION, ("zrfisheyedewarp cannot take frames of this size"),
                          ("a %d x %d frame is past the picture limit of %d pixels a side and %lld in all", width,
                           height, ZR_FE_MAX_PICTURE_SIDE, ZR_FE_MAX_PICTURE_PIXELS));
        return false;
    }
    std::unique_lock<std::mutex> lock(st.settingsLock);
    // A given lens circle is cut from the first frame on, so the first caps have its size;
    // "auto" waits for a frame to search.
    TakeCircle(st);
    const int fedWidth = st.cropping ? st.crop.side : width;
    const int fedHeight = st.cropping ? st.crop.side : height;
    const bool newWidth = st.fedWidth != fedWidth;
    st.fedWidth = fedWidth;
    st.inInfo = info;
    st.haveInInfo = true;
    if (!st.engine) {
        const ElementSettings& s = st.settings;
        st.engine.reset(new zrfe::Engine(s.mount, static_cast<int>(EffectiveRadius(s, fedWidth)), s.view,
                                         fedWidth / 2, static_cast<int>(s.subWidth), static_cast<int>(s.subHeight)));
        st.appliedSubViews = 0;
        st.acceptedMount = s.mount;
        st.acceptedRadius = s.radius;
        for (auto& sub : st.subs) {
            sub.haveEngineView = false;
            sub.dirty = sub.userSet;
        }
        // The constructor took the geometry, the view and the sub-view size.
        st.settings.dirty = kDirtyGroundAngle | kDirtyWallRow | kDirtyLens;
    } else if (newWidth && st.settings.radius == 0) {
        st.settings.dirty |= kDirtyGeometry;
    }
    ApplySettings(st);
    std::vector<std::shared_ptr<Output>> outputs = st.Outputs();
    lock.unlock();
    PostWarnings(element, st);
    if (PostLensError(element, st))
        return false;

    // The view sizes need a source picture of the new size: a blank one stands in
    // until the first frame, so that every output has its caps before the segment.
    const size_t lumaBytes = static_cast<size_t>(fedWidth) * static_cast<size_t>(fedHeight);
    std::vector<guint8> blank(lumaBytes + lumaBytes / 2);
    tag_ZRFRAME desc{};
    desc.pData[0] = blank.data();
    desc.pData[1] = blank.data() + lumaBytes;
    desc.nPitch[0] = desc.nPitch[1] = fedWidth;
    desc.nWidth = fedWidth;
    desc.nHeight = fedHeight;
    st.engine->LoadFrame(desc);
    for (const auto& out : outputs) {
        out->negotiated = false;  // the frame rate may have changed with the size
        const zrfe::ViewSize size = ViewSizeOf(st, *out);
        if (size.width > 0 && size.height > 0 && !Negotiate(element, st, *out, size))
            return false;
    }
    return true;
}

gboolean SinkEvent(GstPad* pad, GstObject* parent, GstEvent* event)
{
    GstElement* element = GST_ELEMENT(parent);
    if (GST_EVENT_TYPE(event) == GST_EVENT_CAPS) {
        GstCaps* caps = nullptr;
        gst_event_parse_caps(event, &caps);
        const bool ok = SetInputCaps(element, State(element), caps);
        gst_event_unref(event);
        return ok;
    }
    // The segment and what follows it reach an output only after its caps; one
    // without caps yet gets them from the input's sticky events when negotiated.
    if (GST_EVENT_IS_STICKY(event) && GST_EVENT_TYPE(event) > GST_EVENT_CAPS && GST_EVENT_TYPE(event) != GST_EVENT_EOS) {
        DewarpState& st = State(element);
        std::vector<std::shared_ptr<Output>> outputs;
        {
            std::lock_guard<std::mutex> lock(st.settingsLock);
            outputs = st.Outputs();
        }
        for (const auto& out : outputs)
            if (out->negotiated)
                gst_pad_push_event(out->pad, gst_event_ref(event));
        gst_event_unref(event);
        return TRUE;
    }
    return gst_pad_event_default(pad, parent, event);
}

gboolean SinkQuery(GstPad* pad, GstObject* parent, GstQuery* query)
{
    switch (GST_QUERY_TYPE(query)) {
    case GST_QUERY_ACCEPT_CAPS: {
        // Any raw video is let through to the caps event, which refuses the
        // formats the element cannot read with a message that names them.
        GstCaps* caps = nullptr;
        gst_query_parse_accept_caps(query, &caps);
        const GstStructure* s = gst_caps_get_size(caps) == 1 ? gst_caps_get_structure(caps, 0) : nullptr;
        gst_query_set_accept_caps_result(query, s && gst_structure_has_name(s, "video/x-raw"));
        return TRUE;
    }
    case GST_QUERY_ALLOCATION:
        return FALSE;  // the outputs have their own sizes and pools
    default:
        return gst_pad_query_default(pad, parent, query);
    }
}

// Navigation on the main view: a click aims the selected sub view, a scroll zooms
// it, keys 1 to 8 select one.
bool Navigate(GstElement* element, GstEvent* event)
{
    DewarpState& st = State(element);
    std::lock_guard<std::mutex> lock(st.settingsLock);
    ElementSettings& s = st.settings;
    SubSettings& sub = st.subs[static_cast<size_t>(s.selected)];
    switch (gst_navigation_event_get_type(event)) {
    case GST_NAVIGATION_EVENT_MOUSE_BUTTON_PRESS: {
        gint button = 0;
        gdouble x = 0, y = 0;
        if (!gst_navigation_event_parse_mouse_button_event(event, &button, &x, &y) || button != kLeftButton ||
            x < 0 || y < 0 || x > G_MAXUINT16 || y > G_MAXUINT16)
            return false;
        sub.aimX = static_cast<gint>(x);
        sub.aimY = static_cast<gint>(y);
        sub.dirty |= kDirtyAim;
        sub.userSet |= kDirtyAim;
        return true;
    }
    case GST_NAVIGATION_EVENT_MOUSE_SCROLL: {
        gdouble x = 0, y = 0, dx = 0, dy = 0;
        if (!gst_navigation_event_parse_mouse_scroll_event(event, &x, &y, &dx, &dy) || dy == 0)
            return false;
        // A higher level narrows a floor or ceiling view and widens a wall view.
        const guint current = (sub.dirty & kDirtyZoom) || !sub.haveEngineView ? sub.zoom : sub.engineView.uZoom;
        const bool closer = (dy > 0) == IsGroundFamily(s.mount);
        sub.zoom = closer ? std::min(current + 1, kMaxZoom) : (current > 0 ? current - 1 : 0);
        sub.dirty |= kDirtyZoom;
        sub.userSet |= kDirtyZoom;
        return true;
    }
    case GST_NAVIGATION_EVENT_KEY_PRESS: {
        const gchar* key = nullptr;
        if (!gst_navigation_event_parse_key_event(event, &key) || !key || std::strlen(key) != 1 || key[0] < '1' ||
            key[0] >= '1' + kMaxSubViews)
            return false;
        s.selected = key[0] - '1';
        GST_DEBUG_OBJECT(element, "sub view %d selected", s.selected);
        return true;
    }
    default:
        return false;
    }
}

gboolean MainSrcEvent(GstPad* pad, GstObject* parent, GstEvent* event)
{
    if (GST_EVENT_TYPE(event) == GST_EVENT_NAVIGATION && Navigate(GST_ELEMENT(parent), event)) {
        gst_event_unref(event);
        return TRUE;
    }
    return gst_pad_event_default(pad, parent, event);
}

gboolean SubSrcEvent(GstPad* pad, GstObject* parent, GstEvent* event)
{
    // Points of a sub view mean nothing upstream.
    if (GST_EVENT_TYPE(event) == GST_EVENT_NAVIGATION) {
        gst_event_unref(event);
        return FALSE;
    }
    return gst_pad_event_default(pad, parent, event);
}

// ---- Request pads ----

GstPad* RequestNewPad(GstElement* element, GstPadTemplate* templ, const gchar* name, const GstCaps*)
{
    DewarpState& st = State(element);
    int index = -1;
    GstPad* pad = nullptr;
    {
        // One lock from the choice of index to the output's entry, so that two
        // requests at once never take the same sub view.
        std::lock_guard<std::mutex> lock(st.settingsLock);
        if (name) {
            guint64 parsed = 0;
            if (!g_str_has_prefix(name, "sub_") ||
                !g_ascii_string_to_unsigned(name + 4, 10, 0, kMaxSubViews - 1, &parsed, nullptr) ||
                st.outputs[parsed]) {
                GST_WARNING_OBJECT(element, "no pad %s: sub views are sub_0 to sub_%d, each once", name,
                                   kMaxSubViews - 1);
                return nullptr;
            }
            index = static_cast<int>(parsed);
        } else {
            for (int i = 0; i < kMaxSubViews && index < 0; ++i)
                if (!st.outputs[static_cast<size_t>(i)])
                    index = i;
            if (index < 0) {
                GST_WARNING_OBJECT(element, "all %d sub views are in use", kMaxSubViews);
                return nullptr;
            }
        }
        gchar* padName = g_strdup_printf("sub_%d", index);
        pad = GST_PAD(g_object_new(zrfe_sub_pad_get_type(), "name", padName, "direction", GST_PAD_SRC, "template",
                                   templ, nullptr));
        g_free(padName);
        ZRFE_SUB_PAD(pad)->index = index;
        gst_pad_set_event_function(pad, SubSrcEvent);
        gst_pad_use_fixed_caps(pad);
        st.outputs[static_cast<size_t>(index)] = std::make_shared<Output>(pad, index);
    }
    gst_element_add_pad(element, pad);
    gst_child_proxy_child_added(GST_CHILD_PROXY(element), G_OBJECT(pad), GST_OBJECT_NAME(pad));
    return pad;
}

void ReleasePad(GstElement* element, GstPad* pad)
{
    DewarpState& st = State(element);
    const int index = ZRFE_SUB_PAD(pad)->index;
    {
        std::lock_guard<std::mutex> lock(st.settingsLock);
        auto& out = st.outputs[static_cast<size_t>(index)];
        if (out)
            out->released = true;
        out.reset();
    }
    gst_child_proxy_child_removed(GST_CHILD_PROXY(element), G_OBJECT(pad), GST_OBJECT_NAME(pad));
    gst_pad_set_active(pad, FALSE);
    gst_element_remove_pad(element, pad);
}

GstStateChangeReturn ChangeState(GstElement* element, GstStateChange transition)
{
    const GstStateChangeReturn ret = GST_ELEMENT_CLASS(zrfe_dewarp_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) {
        // Streaming has stopped: the engine and everything negotiated go.
        DewarpState& st = State(element);
        std::lock_guard<std::mutex> lock(st.settingsLock);
        st.engine.reset();
        st.DropPlanar();
        st.haveInInfo = false;
        // The next stream cuts its own square: "auto" searches again.
        st.cropping = st.findPending = false;
        st.fedWidth = 0;
        st.settings.circleDirty = true;
        st.appliedSubViews = 0;
        st.main->DropPool();
        st.main->negotiated = false;
        for (auto& out : st.outputs)
            if (out) {
                out->DropPool();
                out->negotiated = false;
            }
        for (auto& sub : st.subs)
            sub.haveEngineView = false;
    }
    return ret;
}

// ---- Properties ----

void SetProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    DewarpState& st = State(GST_ELEMENT(object));
    std::lock_guard<std::mutex> lock(st.settingsLock);
    ElementSettings& s = st.settings;
    switch (id) {
    case PROP_MOUNT:
        s.mount = static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(g_value_get_enum(value));
        s.dirty |= kDirtyGeometry;
        break;
    case PROP_RADIUS:
        s.radius = g_value_get_uint(value);
        s.dirty |= kDirtyGeometry;
        break;
    case PROP_VIEW:
        s.view = static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(g_value_get_enum(value));
        s.dirty |= kDirtyView;
        break;
    case PROP_GROUND_ANGLE:
        s.groundAngle = g_value_get_uint(value);
        s.dirty |= kDirtyGroundAngle;
        break;
    case PROP_WALL_START_Y:
        s.wallStartY = g_value_get_int(value);
        s.dirty |= kDirtyWallRow;
        break;
    case PROP_SUB_WIDTH:
    case PROP_SUB_HEIGHT: {
        const guint v = g_value_get_uint(value);
        const guint w = id == PROP_SUB_WIDTH ? v : s.subWidth;
        const guint h = id == PROP_SUB_HEIGHT ? v : s.subHeight;
        // 4:2:0 pictures need even sizes.
        if (v % 2 != 0 || !ZRFitsPictureLimit(w, h)) {
            g_warning("%s: %s %u refused (even, and %u x %u within %lld pixels); keeping %u", GST_OBJECT_NAME(object),
                      pspec->name, v, w, h, ZR_FE_MAX_PICTURE_PIXELS, id == PROP_SUB_WIDTH ? s.subWidth : s.subHeight);
            return;
        }
        s.subWidth = w;
        s.subHeight = h;
        s.dirty |= kDirtySubSize;
        break;
    }
    case PROP_OUTLINES:
        s.outlines = g_value_get_boolean(value);
        break;
    case PROP_CIRCLE: {
        const gchar* given = g_value_get_string(value);
        const std::string text = given ? given : "";
        zrtool::CircleChoice choice;
        if (!text.empty()) {
            const zrtool::CircleParse parsed = zrtool::ParseCircleText(text, choice);
            const int side = zrtool::CropFor(choice.circle).side;
            if (parsed != zrtool::CircleParse::kOk ||
                (choice.mode == zrtool::CircleChoice::kGiven && !ZRFitsPictureLimit(side, side))) {
                g_warning("%s: circle '%s' refused (\"\", auto, or CX,CY,R with R from %d to %d); keeping '%s'",
                          GST_OBJECT_NAME(object), text.c_str(), zrtool::kMinCircleRadius, ZR_FE_MAX_PICTURE_SIDE / 2,
                          s.circleText.c_str());
                return;
            }
        }
        s.circleText = text;
        s.circle = choice;
        s.circleDirty = true;
        break;
    }
    case PROP_LENS:
        s.lens = static_cast<ENUM_ZR_FE_LENS_E>(g_value_get_enum(value));
        s.dirty |= kDirtyLens;
        break;
    case PROP_FOV:
        s.fov = g_value_get_double(value);
        s.dirty |= kDirtyLens;
        break;
    case PROP_POLY: {
        const gchar* given = g_value_get_string(value);
        const std::string text = given ? given : "";
        double k[4] = {0.0, 0.0, 0.0, 0.0};
        if (!text.empty() && !zrtool::ParseLensCoefficients(text, k)) {
            g_warning("%s: poly '%s' refused (\"\" or four numbers K1,K2,K3,K4); keeping '%s'", GST_OBJECT_NAME(object),
                      text.c_str(), s.polyText.c_str());
            return;
        }
        s.polyText = text;
        std::copy(k, k + 4, s.poly);
        s.dirty |= kDirtyLens;
        break;
    }
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

void GetProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    DewarpState& st = State(GST_ELEMENT(object));
    std::lock_guard<std::mutex> lock(st.settingsLock);
    const ElementSettings& s = st.settings;
    switch (id) {
    case PROP_MOUNT:
        g_value_set_enum(value, s.mount);
        break;
    case PROP_RADIUS:
        g_value_set_uint(value, s.radius);
        break;
    case PROP_VIEW:
        g_value_set_enum(value, s.view);
        break;
    case PROP_GROUND_ANGLE:
        g_value_set_uint(value, s.groundAngle);
        break;
    case PROP_WALL_START_Y:
        g_value_set_int(value, s.wallStartY);
        break;
    case PROP_SUB_WIDTH:
        g_value_set_uint(value, s.subWidth);
        break;
    case PROP_SUB_HEIGHT:
        g_value_set_uint(value, s.subHeight);
        break;
    case PROP_OUTLINES:
        g_value_set_boolean(value, s.outlines);
        break;
    case PROP_CIRCLE:
        g_value_set_string(value, s.circleText.c_str());
        break;
    case PROP_LENS:
        g_value_set_enum(value, s.lens);
        break;
    case PROP_FOV:
        g_value_set_double(value, s.fov);
        break;
    case PROP_POLY:
        g_value_set_string(value, s.polyText.c_str());
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

DewarpState* PadState(GObject* pad, int& index)
{
    index = ZRFE_SUB_PAD(pad)->index;
    GstObject* parent = gst_object_get_parent(GST_OBJECT(pad));
    if (!parent)
        return nullptr;
    DewarpState* st = ZRFE_DEWARP(parent)->state;
    gst_object_unref(parent);
    return st;
}

void SetPadProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec)
{
    int index = 0;
    DewarpState* st = PadState(object, index);
    if (!st)
        return;
    std::lock_guard<std::mutex> lock(st->settingsLock);
    SubSettings& sub = st->subs[static_cast<size_t>(index)];
    const guint before = sub.dirty;
    switch (id) {
    case SUB_PROP_ZOOM:
        sub.zoom = g_value_get_uint(value);
        sub.dirty |= kDirtyZoom;
        break;
    case SUB_PROP_TILT:
        sub.tilt = g_value_get_float(value);
        sub.dirty |= kDirtyTilt;
        break;
    case SUB_PROP_AZIMUTH:
        sub.azimuth = g_value_get_float(value);
        sub.dirty |= kDirtyAzimuth;
        break;
    case SUB_PROP_PAN:
        sub.pan = g_value_get_float(value);
        sub.dirty |= kDirtyPan;
        break;
    case SUB_PROP_WALL_TILT:
        sub.wallTilt = g_value_get_float(value);
        sub.dirty |= kDirtyWallTilt;
        break;
    case SUB_PROP_AIM_X:
        sub.aimX = g_value_get_int(value);
        sub.dirty |= kDirtyAim;
        break;
    case SUB_PROP_AIM_Y:
        sub.aimY = g_value_get_int(value);
        sub.dirty |= kDirtyAim;
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
    sub.userSet |= sub.dirty & ~before;
}

// A pad property reads what was set and not yet applied, else the view as the
// engine has it (after its clamps, a click or a scroll).
void GetPadProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec)
{
    int index = 0;
    DewarpState* st = PadState(object, index);
    if (!st)
        return;
    std::lock_guard<std::mutex> lock(st->settingsLock);
    const SubSettings& sub = st->subs[static_cast<size_t>(index)];
    const tag_ZR_FE_NORMAL_VIEW_S& v = sub.engineView;
    const auto pick = [&](SubDirty bit, float wanted, float engine) {
        return (sub.dirty & bit) || !sub.haveEngineView ? wanted : engine;
    };
    switch (id) {
    case SUB_PROP_ZOOM:
        g_value_set_uint(value, (sub.dirty & kDirtyZoom) || !sub.haveEngineView ? sub.zoom : v.uZoom);
        break;
    case SUB_PROP_TILT:
        g_value_set_float(value, pick(kDirtyTilt, sub.tilt, v.fAngleY));
        break;
    case SUB_PROP_AZIMUTH:
        g_value_set_float(value, pick(kDirtyAzimuth, sub.azimuth, v.fAngleZ));
        break;
    case SUB_PROP_PAN:
        g_value_set_float(value, pick(kDirtyPan, sub.pan, Degrees(v.fPan)));
        break;
    case SUB_PROP_WALL_TILT:
        g_value_set_float(value, pick(kDirtyWallTilt, sub.wallTilt, Degrees(v.fTilt)));
        break;
    case SUB_PROP_AIM_X:
        g_value_set_int(value, sub.aimX);
        break;
    case SUB_PROP_AIM_Y:
        g_value_set_int(value, sub.aimY);
        break;
    default:
        G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec);
    }
}

constexpr GParamFlags kLiveProperty =
    static_cast<GParamFlags>(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_MUTABLE_PLAYING);

// ---- Child proxy: the sub pads, so that gst-launch can set "d.sub_0::zoom=15" ----

GObject* ChildByIndex(GstChildProxy* proxy, guint index)
{
    GstElement* element = GST_ELEMENT(proxy);
    GObject* child = nullptr;
    GST_OBJECT_LOCK(element);
    if (GList* node = g_list_nth(element->srcpads, index))
        child = G_OBJECT(gst_object_ref(node->data));
    GST_OBJECT_UNLOCK(element);
    return child;
}

guint ChildrenCount(GstChildProxy* proxy)
{
    GstElement* element = GST_ELEMENT(proxy);
    GST_OBJECT_LOCK(element);
    const guint count = element->numsrcpads;
    GST_OBJECT_UNLOCK(element);
    return count;
}

}  // namespace

static void zrfe_dewarp_child_proxy_init(gpointer g_iface, gpointer)
{
    GstChildProxyInterface* iface = static_cast<GstChildProxyInterface*>(g_iface);
    iface->get_child_by_index = ChildByIndex;
    iface->get_children_count = ChildrenCount;
}

static void zrfe_sub_pad_class_init(ZrfeSubPadClass* klass)
{
    GObjectClass* gobject = G_OBJECT_CLASS(klass);
    gobject->set_property = SetPadProperty;
    gobject->get_property = GetPadProperty;
    g_object_class_install_property(
        gobject, SUB_PROP_ZOOM,
        g_param_spec_uint("zoom", "Zoom", "Zoom level: higher narrows a floor or ceiling view, widens a wall view", 0,
                          kMaxZoom, kDefaultZoom, kLiveProperty));
    g_object_class_install_property(
        gobject, SUB_PROP_TILT,
        g_param_spec_float("tilt", "Tilt", "Floor and ceiling: degrees away from the lens axis (clamped to the lens)",
                           0.0f, 90.0f, 0.0f, kLiveProperty));
    g_object_class_install_property(
        gobject, SUB_PROP_AZIMUTH,
        g_param_spec_float("azimuth", "Azimuth", "Floor and ceiling: degrees about the lens axis", 0.0f,
                           static_cast<float>(kDegreesPerTurn), 0.0f, kLiveProperty));
    g_object_class_install_property(
        gobject, SUB_PROP_PAN,
        g_param_spec_float("pan", "Pan", "Wall: degrees from the lens axis to the view's left edge (clamped to the lens)",
                           -90.0f, 90.0f, 0.0f, kLiveProperty));
    g_object_class_install_property(
        gobject, SUB_PROP_WALL_TILT,
        g_param_spec_float("wall-tilt", "Wall tilt",
                           "Wall: degrees from the horizon to the view's top corners (clamped to the lens)", -90.0f,
                           90.0f, 0.0f, kLiveProperty));
    g_object_class_install_property(
        gobject, SUB_PROP_AIM_X,
        g_param_spec_int("aim-x", "Aim x", "Column of the main view to aim at, with aim-y (-1: none)", kNoAim,
                         G_MAXUINT16, kNoAim, kLiveProperty));
    g_object_class_install_property(
        gobject, SUB_PROP_AIM_Y,
        g_param_spec_int("aim-y", "Aim y", "Row of the main view to aim at, with aim-x (-1: none)", kNoAim,
                         G_MAXUINT16, kNoAim, kLiveProperty));
}

static void zrfe_sub_pad_init(ZrfeSubPad* pad)
{
    pad->index = 0;
}

static void zrfe_dewarp_finalize(GObject* object)
{
    delete ZRFE_DEWARP(object)->state;
    G_OBJECT_CLASS(zrfe_dewarp_parent_class)->finalize(object);
}

static void zrfe_dewarp_class_init(ZrfeDewarpClass* klass)
{
    GObjectClass* gobject = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gobject->set_property = SetProperty;
    gobject->get_property = GetProperty;
    gobject->finalize = zrfe_dewarp_finalize;

    g_object_class_install_property(
        gobject, PROP_MOUNT,
        g_param_spec_enum("mount", "Mount", "How the camera is mounted", MountType(), ZR_FE_INSTALL_CEILING,
                          kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_RADIUS,
        g_param_spec_uint("radius", "Radius", "Lens circle radius in pixels (0: half the frame width)", 0,
                          ZR_FE_MAX_PICTURE_SIDE, 0, kLiveProperty));
    g_object_class_install_property(gobject, PROP_VIEW,
                                    g_param_spec_enum("view", "View", "What the main view shows", ViewType(),
                                                      ZR_FE_VIEW_PANORAMA, kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_GROUND_ANGLE,
        g_param_spec_uint("ground-angle", "Ground angle", "Floor and ceiling: degrees the panorama is turned", 0,
                          kDegreesPerTurn - 1, 0, kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_WALL_START_Y,
        g_param_spec_int("wall-start-y", "Wall start row",
                         "Wall: first panorama row the main view shows (-1: centred)", kCentredWallRow,
                         ZR_FE_MAX_PICTURE_SIDE, kCentredWallRow, kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_SUB_WIDTH,
        g_param_spec_uint("sub-width", "Sub-view width", "Width of every sub view (even)", 2, ZR_FE_MAX_PICTURE_SIDE,
                          kDefaultSubWidth, kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_SUB_HEIGHT,
        g_param_spec_uint("sub-height", "Sub-view height", "Height of every sub view (even)", 2,
                          ZR_FE_MAX_PICTURE_SIDE, kDefaultSubHeight, kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_OUTLINES,
        g_param_spec_boolean("outlines", "Outlines", "Draw the sub views' outlines on the main view", FALSE,
                             kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_CIRCLE,
        g_param_spec_string("circle", "Lens circle",
                            "Feed the square around the lens circle: \"\" (the frame as it is), auto (found in the "
                            "next frame) or CX,CY,R in frame pixels",
                            "", kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_LENS,
        g_param_spec_enum("lens", "Lens", "The camera's projection (builtin: the library's own)", LensType(),
                          ZR_FE_LENS_BUILTIN, kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_FOV,
        g_param_spec_double("fov", "Field of view", "Degrees the lens circle spans, for a lens other than builtin",
                            0.0, kMaxFieldOfViewProperty, kDefaultFieldOfView, kLiveProperty));
    g_object_class_install_property(
        gobject, PROP_POLY,
        g_param_spec_string("poly", "Polynomial",
                            "lens=polynomial: K1,K2,K3,K4, as OpenCV's fisheye calibration gives them in D "
                            "(\"\": all 0)",
                            "", kLiveProperty));

    gst_element_class_add_static_pad_template(element, &kSinkTemplate);
    gst_element_class_add_static_pad_template(element, &kSrcTemplate);
    gst_element_class_add_static_pad_template_with_gtype(element, &kSubTemplate, zrfe_sub_pad_get_type());
    gst_element_class_set_static_metadata(
        element, "Fisheye dewarper", "Filter/Effect/Video",
        "Dewarps a fisheye camera into a main view (circle or panorama) and up to eight pan-tilt-zoom sub views",
        "ZRFishEye");
    element->request_new_pad = RequestNewPad;
    element->release_pad = ReleasePad;
    element->change_state = ChangeState;
    gst_type_mark_as_plugin_api(MountType(), static_cast<GstPluginAPIFlags>(0));
    gst_type_mark_as_plugin_api(ViewType(), static_cast<GstPluginAPIFlags>(0));
    gst_type_mark_as_plugin_api(LensType(), static_cast<GstPluginAPIFlags>(0));
    gst_type_mark_as_plugin_api(zrfe_sub_pad_get_type(), static_cast<GstPluginAPIFlags>(0));
    GST_DEBUG_CATEGORY_INIT(zrfe_dewarp_debug, ZRFE_ELEMENT_NAME, 0, "ZRFishEye dewarper");
}

static void zrfe_dewarp_init(ZrfeDewarp* self)
{
    GstElement* element = GST_ELEMENT(self);
    self->state = new DewarpState();
    self->sinkpad = gst_pad_new_from_static_template(&kSinkTemplate, "sink");
    gst_pad_set_chain_function(self->sinkpad, Chain);
    gst_pad_set_event_function(self->sinkpad, SinkEvent);
    gst_pad_set_query_function(self->sinkpad, SinkQuery);
    gst_element_add_pad(element, self->sinkpad);

    GstPad* src = gst_pad_new_from_static_template(&kSrcTemplate, "src");
    gst_pad_set_event_function(src, MainSrcEvent);
    gst_pad_use_fixed_caps(src);
    self->state->main = std::make_shared<Output>(src, -1);
    gst_element_add_pad(element, src);
}

gboolean zrfe_dewarp_register(GstPlugin* plugin)
{
    return gst_element_register(plugin, ZRFE_ELEMENT_NAME, GST_RANK_NONE, zrfe_dewarp_get_type());
}
