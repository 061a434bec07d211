// zrfisheye: the library's synchronous engine on numpy arrays.
//
// A thin layer: frames go in through the zrfisheye tool's own BGR -> NV12
// conversion, every view is rendered by zrfe::Engine, and pictures come back
// through the tool's 4:2:0 -> BGR arithmetic, so the binding, the tool and the
// library give the same bytes.
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "ZRFishEye.h"
#include "LensText.h"
#include "ZRFishEyeEngine.h"
#include "geometry/Lens.h"
#include "scene/FisheyeScene.h"

namespace py = pybind11;

namespace {

// The engine needs a lens radius before the first frame says what "half the
// frame width" is; this one is replaced then and never shows.
constexpr int kProvisionalRadius = 1024;
constexpr int kTopZoomLevel = 20;
// The field of view taken when a lens is named without one, degrees.
constexpr double kDefaultFieldOfView = 180.0;

enum class Format { kBgr, kRgb, kYuv420 };

Format ParseFormat(const std::string& name)
{
    if (name == "bgr")
        return Format::kBgr;
    if (name == "rgb")
        return Format::kRgb;
    if (name == "yuv420")
        return Format::kYuv420;
    throw py::value_error("unknown format '" + name + "': use bgr, rgb or yuv420");
}

ENUM_ZR_FE_INSTALL_MODE_E ParseMount(const std::string& name)
{
    ENUM_ZR_FE_INSTALL_MODE_E mount = ZR_FE_INSTALL_CEILING;
    if (!zrscene::ParseMount(name, mount))
        throw py::value_error("unknown mount '" + name + "': use ground, ceiling or wall");
    return mount;
}

ENUM_ZR_FE_VIEW_TYPE_E ParseView(const std::string& name)
{
    if (name == "circle")
        return ZR_FE_VIEW_ORIGINAL;
    if (name == "panorama")
        return ZR_FE_VIEW_PANORAMA;
    if (name == "double")
        return ZR_FE_VIEW_DOUBLE_PANORAMA;
    throw py::value_error("unknown view '" + name + "': use circle, panorama or double");
}

const char* ViewName(ENUM_ZR_FE_VIEW_TYPE_E view)
{
    return view == ZR_FE_VIEW_ORIGINAL ? "circle" : view == ZR_FE_VIEW_PANORAMA ? "panorama" : "double";
}

void CheckRange(const char* what, long long value, long long lo, long long hi)
{
    if (value < lo || value > hi)
        throw py::value_error(std::string(what) + " must be " + std::to_string(lo) + ".." + std::to_string(hi) +
                              ", got " + std::to_string(value));
}

int CheckIndex(int index)
{
    CheckRange("sub view index", index, 0, zrfe::kMaxSubViews - 1);
    return index;
}

tag_ZR_FE_POINT_S CheckPoint(int x, int y)
{
    CheckRange("x", x, 0, 65535);
    CheckRange("y", y, 0, 65535);
    return {static_cast<unsigned short>(x), static_cast<unsigned short>(y)};
}

// The lens of lens=, fov= (degrees; None: 180) and k= (k1..k4, the polynomial's only).
tag_ZRLENS MakeLens(const std::string& name, const std::optional<double>& fov,
                    const std::optional<std::vector<double>>& k)
{
    tag_ZRLENS lens{ZR_FE_LENS_BUILTIN, static_cast<float>(fov.value_or(kDefaultFieldOfView)), {0.0, 0.0, 0.0, 0.0}};
    if (!zrtool::ParseLensModel(name, lens.eModel, true))
        throw py::value_error("unknown lens '" + name + "': use " + zrtool::LensModelNames(true));
    if (fov && lens.eModel == ZR_FE_LENS_BUILTIN)
        throw py::value_error("fov applies to a lens other than 'builtin'");
    if (k) {
        if (lens.eModel != ZR_FE_LENS_POLYNOMIAL)
            throw py::value_error("k applies to lens='polynomial' only");
        if (k->size() != 4)
            throw py::value_error("k must hold four numbers k1..k4, got " + std::to_string(k->size()));
        std::copy(k->begin(), k->end(), lens.dK);
    }
    if (const char* problem = zrfe::LensProblem(lens))
        throw py::value_error(std::string("lens '") + name + "': " + problem);
    return lens;
}

py::dict LensDict(const tag_ZRLENS& lens)
{
    py::dict d;
    const bool builtin = lens.eModel == ZR_FE_LENS_BUILTIN;
    d["lens"] = zrtool::LensModelName(lens.eModel);
    d["fov"] = builtin ? py::object(py::none()) : py::object(py::float_(lens.fFieldOfView));
    d["k"] = lens.eModel == ZR_FE_LENS_POLYNOMIAL
                 ? py::object(py::make_tuple(lens.dK[0], lens.dK[1], lens.dK[2], lens.dK[3]))
                 : py::object(py::none());
    return d;
}

std::pair<unsigned, unsigned> CheckSubSize(const std::pair<int, int>& size)
{
    CheckRange("sub_size width", size.first, 2, 8192);
    CheckRange("sub_size height", size.second, 2, 8192);
    return {static_cast<unsigned>(size.first), static_cast<unsigned>(size.second)};
}

// A caller's frame, checked: BGR (H, W, 3) or NV12 (H * 3 // 2, W), uint8, C order.
struct Frame {
    py::array array;  // keeps the bytes alive; a C-ordered copy when the caller's was not
    bool bgr = true;
    int width = 0, height = 0;

    const unsigned char* Data() const { return static_cast<const unsigned char*>(array.data()); }
};

Frame ReadFrame(py::handle object)
{
    if (!py::isinstance<py::array>(object))
        throw py::type_error("frame must be a numpy array, not " + std::string(py::str(object.get_type().attr("__name__"))));
    if (!py::isinstance<py::array_t<std::uint8_t>>(object))
        throw py::type_error("frame must have dtype uint8, not " +
                             std::string(py::str(py::reinterpret_borrow<py::array>(object).dtype())));
    Frame f;
    f.array = py::reinterpret_borrow<py::array>(object);
    const py::ssize_t rows = f.array.ndim() >= 1 ? f.array.shape(0) : 0;
    const py::ssize_t cols = f.array.ndim() >= 2 ? f.array.shape(1) : 0;
    py::ssize_t height = 0;
    if (f.array.ndim() == 3 && f.array.shape(2) == 3) {
        height = rows;
    } else if (f.array.ndim() == 2) {
        f.bgr = false;
        if (rows % 3 != 0)
            throw py::value_error("an NV12 frame has H * 3 // 2 rows, a multiple of 3; got " + std::to_string(rows));
        height = rows / 3 * 2;
    } else {
        std::string shape;
        for (py::ssize_t d = 0; d < f.array.ndim(); ++d)
            shape += (d ? ", " : "") + std::to_string(f.array.shape(d));
        throw py::value_error("frame must be (H, W, 3) BGR or (H * 3 // 2, W) NV12, got shape (" + shape + ")");
    }
    // 4:2:0 halves both sides; the library reads the frame as a square of its width.
    if (cols < 32 || height < 32 || cols % 2 || height % 2 || cols > 16384 || height > 16384)
        throw py::value_error("frame width and height must be even and 32..16384, got " + std::to_string(cols) + " x " +
                              std::to_string(height));
    f.width = static_cast<int>(cols);
    f.height = static_cast<int>(height);
    if (!(f.array.flags() & py::array::c_style))
        f.array = py::array_t<std::uint8_t, py::array::c_style>::ensure(f.array);
    if (!f.array)
        throw py::error_already_set();
    return f;
}

// The frame as the library takes it. For BGR the tool's own conversion, whose bytes stay in nv12.
tag_ZRFRAME Describe(const Frame& f, zrscene::Nv12Picture& nv12)
{
    if (f.bgr) {
        nv12 = zrscene::BgrToNv12(cv::Mat(f.height, f.width, CV_8UC3, const_cast<unsigned char*>(f.Data())));
        return nv12.Descriptor();
    }
    tag_ZRFRAME d{};
    d.pData[0] = const_cast<unsigned char*>(f.Data());
    d.pData[1] = d.pData[0] + static_cast<size_t>(f.width) * static_cast<size_t>(f.height);
    d.nPitch[0] = d.nPitch[1] = f.width;
    d.nWidth = f.width;
    d.nHeight = f.height;
    return d;
}

// One finished view: a 4:2:0 picture (Y, U, V one after another) or packed BGR/RGB.
struct Picture {
    int width = 0, height = 0;
    bool planar = false;
    std::unique_ptr<std::vector<unsigned char>> bytes;
};

size_t PlanarBytes(int w, int h)
{
    return static_cast<size_t>(w) * static_cast<size_t>(h) + 2 * static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2);
}

zrfe::PlanarPicture PlanesAt(unsigned char* base, int w, int h)
{
    zrfe::PlanarPicture p;
    p.width = w;
    p.height = h;
    p.planes[0] = base;
    p.planes[1] = base + static_cast<size_t>(w) * static_cast<size_t>(h);
    p.planes[2] = p.planes[1] + static_cast<size_t>(w / 2) * static_cast<size_t>(h / 2);
    p.pitches[0] = w;
    p.pitches[1] = p.pitches[2] = w / 2;
    return p;
}

// The tool's 4:2:0 -> BGR arithmetic (PacketToBgr), written into dst.
void PlanarToPacked(const zrfe::PlanarPicture& p, Format format, unsigned char* dst)
{
    const int w = p.width, h = p.height;
    const cv::Mat y(h, w, CV_8UC1, p.planes[0], static_cast<size_t>(p.pitches[0]));
    const cv::Mat u(h / 2, w / 2, CV_8UC1, p.planes[1], static_cast<size_t>(p.pitches[1]));
    const cv::Mat v(h / 2, w / 2, CV_8UC1, p.planes[2], static_cast<size_t>(p.pitches[2]));
    cv::Mat uu, vv, yuv;
    cv::resize(u, uu, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::resize(v, vv, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::merge(std::vector<cv::Mat>{y, uu, vv}, yuv);
    cv::Mat out(h, w, CV_8UC3, dst);
    cv::cvtColor(yuv, out, format == Format::kRgb ? cv::COLOR_YUV2RGB : cv::COLOR_YUV2BGR);
    if (out.data != dst)
        throw std::runtime_error("colour conversion did not write in place");
}

// Hands the bytes to numpy without a copy: the arrays share one owner.
py::object ToPython(Picture& p)
{
    if (!p.bytes)
        return py::none();
    std::vector<unsigned char>* owner = p.bytes.release();
    py::capsule base(owner, [](void* v) { delete static_cast<std::vector<unsigned char>*>(v); });
    unsigned char* data = owner->data();
    const py::ssize_t w = p.width, h = p.height;
    if (!p.planar)
        return py::array_t<std::uint8_t>({h, w, py::ssize_t(3)}, {w * 3, py::ssize_t(3), py::ssize_t(1)}, data, base);
    const py::ssize_t cw = w / 2, ch = h / 2;
    py::array_t<std::uint8_t> y({h, w}, {w, py::ssize_t(1)}, data, base);
    py::array_t<std::uint8_t> u({ch, cw}, {cw, py::ssize_t(1)}, data + w * h, base);
    py::array_t<std::uint8_t> v({ch, cw}, {cw, py::ssize_t(1)}, data + w * h + cw * ch, base);
    return py::make_tuple(y, u, v);
}

py::list ToPython(std::vector<Picture>& pictures)
{
    py::list out;
    for (Picture& p : pictures)
        out.append(ToPython(p));
    return out;
}

class Dewarper {
public:
    Dewarper(const std::string& mount, py::object radius, const std::string& view, int subViews,
             std::pair<int, int> subSize, int workers, bool fast, const std::string& lensName,
             std::optional<double> fov, const std::optional<std::vector<double>>& k)
    {
        const tag_ZRLENS lens = MakeLens(lensName, fov, k);
        const ENUM_ZR_FE_INSTALL_MODE_E m = ParseMount(mount);
        const ENUM_ZR_FE_VIEW_TYPE_E v = ParseView(view);
        int r = kProvisionalRadius;
        if (!radius.is_none()) {
            if (!py::isinstance<py::int_>(radius) || py::isinstance<py::bool_>(radius))
                throw py::type_error("radius must be an int or None");
            r = CheckRadius(radius.cast<long long>());
            m_radiusKnown = true;
        }
        CheckRange("sub_views", subViews, 0, zrfe::kMaxSubViews);
        const auto size = CheckSubSize(subSize);
        CheckRange("workers", workers, 1, 1024);
        m_engine.reset(new zrfe::Engine(m, r, v, r, static_cast<int>(size.first), static_cast<int>(size.second)));
        m_engine->SetSubViewNum(static_cast<unsigned>(subViews));
        m_engine->SetLineMask(0xFF);
        m_engine->SetRenderMode(fast ? ZR_FE_RENDER_FAST : ZR_FE_RENDER_EXACT);
        if (lens.eModel != ZR_FE_LENS_BUILTIN)
            m_engine->SetLens(&lens);
        CZRFishEyeDewarper::SetThreadNum(workers);
    }

    void SetLens(const std::string& name, std::optional<double> fov, const std::optional<std::vector<double>>& k)
    {
        const tag_ZRLENS lens = MakeLens(name, fov, k);
        if (Locked([&](zrfe::Engine& e) { return e.SetLens(&lens); }) != 0)
            throw py::value_error("the engine refused lens '" + name + "'");
    }
    py::dict Lens()
    {
        tag_ZRLENS lens{};
        Locked([&](zrfe::Engine& e) { return e.GetLens(&lens); });
        return LensDict(lens);
    }

    bool Fast() { return Locked([](zrfe::Engine& e) { return e.GetRenderMode() == ZR_FE_RENDER_FAST; }); }
    void SetFast(bool fast)
    {
        Locked([&](zrfe::Engine& e) { return e.SetRenderMode(fast ? ZR_FE_RENDER_FAST : ZR_FE_RENDER_EXACT); });
    }

    py::list Process(py::handle object, const std::string& format)
    {
        const Format fmt = ParseFormat(format);
        const Frame frame = ReadFrame(object);
        std::vector<Picture> pictures;
        {
            py::gil_scoped_release nogil;
            std::lock_guard<std::mutex> lock(m_mutex);
            Render(frame, fmt, pictures);
        }
        return ToPython(pictures);
    }

    void Aim(int index, int x, int y)
    {
        CheckIndex(index);
        const tag_ZR_FE_POINT_S p = CheckPoint(x, y);
        if (Locked([&](zrfe::Engine& e) { RequireRadius("aim"); return e.MoveNormalView(p, index); }) != 0)
            throw py::value_error("(" + std::to_string(x) + ", " + std::to_string(y) + ") is not a point of the main view");
    }

    void Zoom(int index, int level)
    {
        CheckIndex(index);
        CheckRange("zoom level", level, 0, kTopZoomLevel);
        Locked([&](zrfe::Engine& e) { return e.ZoomNormalView(static_cast<unsigned>(level), index); });
    }

    void SetAngles(int index, float tilt, float azimuth)
    {
        CheckIndex(index);
        const int rc = Locked([&](zrfe::Engine& e) {
            if (e.GetInstallMode() == ZR_FE_INSTALL_WALL)
                return 1;
            tag_ZR_FE_NORMAL_VIEW_S v;
            e.GetNormalParam(v, static_cast<unsigned>(index));
            v.fAngleY = tilt;
            v.fAngleZ = azimuth;
            return e.SetNormalView(v, index);
        });
        if (rc == 1)
            throw py::value_error("set_angles is for ground and ceiling mounts; use set_wall_angles");
        if (rc != 0)
            throw py::value_error("tilt and azimuth must be finite numbers");
    }

    void SetWallAngles(int index, float pan, float tilt, std::optional<float> fovH, std::optional<float> fovV)
    {
        CheckIndex(index);
        const int rc = Locked([&](zrfe::Engine& e) {
            if (e.GetInstallMode() != ZR_FE_INSTALL_WALL)
                return 1;
            tag_ZR_FE_NORMAL_VIEW_S view;
            e.GetNormalParam(view, static_cast<unsigned>(index));
            view.fPan = pan;
            view.fTilt = tilt;
            view.fFovHor = fovH.value_or(view.fFovHor);
            view.fFovVer = fovV.value_or(view.fFovVer);
            return e.SetNormalView(view, index);
        });
        if (rc == 1)
            throw py::value_error("set_wall_angles is for wall mounts; use set_angles");
        if (rc != 0)
            throw py::value_error("pan, tilt and fields of view must be finite numbers");
    }

    py::object OriginalPoint(int x, int y) { return Convert(x, y, true); }
    py::object PanoramaPoint(int x, int y) { return Convert(x, y, false); }

    py::tuple Outline(int index)
    {
        CheckIndex(index);
        tag_ZR_FE_POINT_SET_S set;
        Locked([&](zrfe::Engine& e) { RequireRadius("outline"); e.GetSubViewPoints(set, index); return 0; });
        py::array_t<std::int32_t> points({static_cast<py::ssize_t>(set.vecPoints.size()), py::ssize_t(2)});
        auto a = points.mutable_unchecked<2>();
        for (size_t k = 0; k < set.vecPoints.size(); ++k) {
            a(static_cast<py::ssize_t>(k), 0) = set.vecPoints[k].nX;
            a(static_cast<py::ssize_t>(k), 1) = set.vecPoints[k].nY;
        }
        return py::make_tuple(points, py::make_tuple(int(set.stCenter.nX), int(set.stCenter.nY)));
    }

    std::string Mount() { return zrscene::MountName(Locked([](zrfe::Engine& e) { return e.GetInstallMode(); })); }
    void SetMount(const std::string& name)
    {
        const ENUM_ZR_FE_INSTALL_MODE_E m = ParseMount(name);
        Locked([&](zrfe::Engine& e) { return e.SetInstallMode(m, e.GetRadius()); });
    }
    std::string View() { return ViewName(Locked([](zrfe::Engine& e) { return e.GetMainViewType(); })); }
    void SetView(const std::string& name)
    {
        const ENUM_ZR_FE_VIEW_TYPE_E v = ParseView(name);
        Locked([&](zrfe::Engine& e) { return e.SetMainViewType(v); });
    }
    py::object Radius()
    {
        bool known = false;
        const unsigned r = Locked([&](zrfe::Engine& e) { known = m_radiusKnown; return e.GetRadius(); });
        return known ? py::object(py::int_(r)) : py::none();
    }
    void SetRadius(long long radius)
    {
        const int r = CheckRadius(radius);
        Locked([&](zrfe::Engine& e) {
            m_radiusKnown = true;
            return e.SetInstallMode(e.GetInstallMode(), static_cast<unsigned>(r));
        });
    }
    py::object GroundAngle()
    {
        bool wall = false;
        const unsigned a = Locked([&](zrfe::Engine& e) {
            wall = e.GetInstallMode() == ZR_FE_INSTALL_WALL;
            return e.GetGroundParam().uAngle;
        });
        return wall ? py::none() : py::object(py::int_(a));
    }
    void SetGroundAngle(int angle)
    {
        CheckRange("ground_angle", angle, 0, 359);
        if (Locked([&](zrfe::Engine& e) { return e.SetGroundAngle(static_cast<unsigned>(angle)); }) != 0)
            throw py::value_error("ground_angle applies to ground and ceiling mounts only");
    }
    py::object WallStartY()
    {
        bool wall = false;
        const unsigned y = Locked([&](zrfe::Engine& e) {
            wall = e.GetInstallMode() == ZR_FE_INSTALL_WALL;
            return e.GetWallParam().uStartY;
        });
        return wall ? py::object(py::int_(y)) : py::none();
    }
    void SetWallStartY(int row)
    {
        CheckRange("wall_start_y", row, 0, 65535);
        if (Locked([&](zrfe::Engine& e) { return e.SetWallStarty(static_cast<unsigned>(row)); }) != 0)
            throw py::value_error("wall_start_y applies to the wall mount only");
    }
    int SubViews() { return Locked([](zrfe::Engine& e) { return e.GetSubViewNum(); }); }
    void SetSubViews(int count)
    {
        CheckRange("sub_views", count, 0, zrfe::kMaxSubViews);
        Locked([&](zrfe::Engine& e) { e.SetSubViewNum(static_cast<unsigned>(count)); return 0; });
    }
    std::pair<int, int> SubSize()
    {
        unsigned w = 0, h = 0;
        Locked([&](zrfe::Engine& e) { return e.GetNormalSize(w, h); });
        return {static_cast<int>(w), static_cast<int>(h)};
    }
    void SetSubSize(std::pair<int, int> size)
    {
        const auto s = CheckSubSize(size);
        Locked([&](zrfe::Engine& e) { return e.SetNormalSize(s.first, s.second); });
    }
    int LineMask() { return Locked([](zrfe::Engine& e) { return e.GetLineMask(); }); }
    void SetLineMask(int mask)
    {
        CheckRange("line_mask", mask, 0, 255);
        Locked([&](zrfe::Engine& e) { e.SetLineMask(mask); return 0; });
    }

private:
    static int CheckRadius(long long radius)
    {
        CheckRange("radius", radius, 16, 16384);
        return static_cast<int>(radius);
    }

    // Renders may take a while: the GIL goes, and the lock keeps a second
    // Python thread from changing settings or loading a frame meanwhile.
    template <class F>
    auto Locked(F&& f) -> decltype(f(std::declval<zrfe::Engine&>()))
    {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> lock(m_mutex);
        return f(*m_engine);
    }

    void RequireRadius(const char* what) const
    {
        if (!m_radiusKnown)
            throw std::runtime_error(std::string(what) + " needs the lens radius: pass radius= or process a frame first");
    }

    py::object Convert(int x, int y, bool toOriginal)
    {
        const tag_ZR_FE_POINT_S in = CheckPoint(x, y);
        tag_ZR_FE_POINT_S out{0, 0};
        const int rc = Locked([&](zrfe::Engine& e) {
            RequireRadius(toOriginal ? "original_point" : "panorama_point");
            return toOriginal ? e.GetOriginalPoint(in, out) : e.GetPanoramaPoint(in, out);
        });
        if (rc != 0)
            return py::none();
        return py::make_tuple(int(out.nX), int(out.nY));
    }

    // Called with the lock held and without the GIL.
    void Render(const Frame& frame, Format fmt, std::vector<Picture>& pictures)
    {
        zrfe::Engine& e = *m_engine;
        zrscene::Nv12Picture nv12;
        const tag_ZRFRAME desc = Describe(frame, nv12);
        if (!m_radiusKnown) {
            e.SetInstallMode(e.GetInstallMode(), static_cast<unsigned>(frame.width / 2));
            m_radiusKnown = true;
        }
        if (e.LoadFrame(desc) != 0)
            throw std::runtime_error("the engine could not read the frame");
        const int views = 1 + e.GetSubViewNum();
        pictures.resize(static_cast<size_t>(views));
        for (int v = 0; v < views; ++v) {
            const zrfe::ViewSize size = v == 0 ? e.GetMainViewSize() : e.GetSubViewSize(v - 1);
            if (size.width < 2 || size.height < 2)
                throw std::runtime_error("nothing to compose for " + ViewLabel(v) + " with these settings");
            pictures[static_cast<size_t>(v)].width = size.width;
            pictures[static_cast<size_t>(v)].height = size.height;
        }
        // The sub views go to two threads of their own while this one renders the
        // main view, as the threaded dewarper's two sub workers do.
        const int subs = views - 1, blocks = std::min(subs, 2), per = blocks ? (subs + blocks - 1) / blocks : 0;
        std::vector<std::exception_ptr> errors(static_cast<size_t>(blocks) + 1);
        auto work = [&](int block, int first, int last) {
            try {
                for (int v = first; v < last; ++v)
                    RenderView(v, fmt, pictures[static_cast<size_t>(v)]);
            } catch (...) {
                errors[static_cast<size_t>(block)] = std::current_exception();
            }
        };
        std::vector<std::thread> threads;
        for (int b = 0; b < blocks; ++b)
            threads.emplace_back(work, b + 1, 1 + b * per, std::min(views, 1 + (b + 1) * per));
        work(0, 0, 1);
        for (std::thread& t : threads)
            t.join();
        for (const std::exception_ptr& error : errors)
            if (error)
                std::rethrow_exception(error);
    }

    static std::string ViewLabel(int v) { return v == 0 ? "the main view" : "sub view " + std::to_string(v - 1); }

    void RenderView(int v, Format fmt, Picture& p) const
    {
        p.planar = fmt == Format::kYuv420;
        std::unique_ptr<std::vector<unsigned char>> planes(new std::vector<unsigned char>(PlanarBytes(p.width, p.height)));
        const zrfe::PlanarPicture out = PlanesAt(planes->data(), p.width, p.height);
        if ((v == 0 ? m_engine->RenderMain(out) : m_engine->RenderSub(v - 1, out)) != 0)
            throw std::runtime_error("the engine could not render " + ViewLabel(v));
        if (p.planar) {
            p.bytes = std::move(planes);
            return;
        }
        p.bytes.reset(new std::vector<unsigned char>(static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 3));
        PlanarToPacked(out, fmt, p.bytes->data());
    }

    std::mutex m_mutex;
    std::unique_ptr<zrfe::Engine> m_engine;
    bool m_radiusKnown = false;
};

py::array Scene(const std::string& mount, int size)
{
    const ENUM_ZR_FE_INSTALL_MODE_E m = ParseMount(mount);
    CheckRange("size", size, 16, 8192);
    cv::Mat bgr;
    {
        py::gil_scoped_release nogil;
        bgr = zrscene::RenderFisheye(m, size);
    }
    if (!bgr.isContinuous())
        bgr = bgr.clone();
    py::array_t<std::uint8_t> out({py::ssize_t(size), py::ssize_t(size), py::ssize_t(3)});
    std::copy(bgr.datastart, bgr.dataend, out.mutable_data());
    return out;
}

// Collects every view the threaded dewarper shows, copied inside the callback
// (the frame is only the host's while it runs).
class Collector : public IZRCallback {
public:
    Collector(Format fmt, int views) : m_fmt(fmt), m_views(views), m_pictures(static_cast<size_t>(views)) {}

    int OnSignal(CZRObject*, int nCode, void*, void*) override
    {
        if (nCode < 0 || nCode >= m_views)
            return 0;
        CZRFrame* frame = nullptr;
        m_dewarper->GetFrame(frame, nCode);
        CZRPacketPIC* pkt = frame ? frame->GetPicture() : nullptr;
        Picture p;
        if (pkt) {
            p.width = static_cast<int>(pkt->m_uWidth);
            p.height = static_cast<int>(pkt->m_uHeight);
            p.planar = m_fmt == Format::kYuv420;
            if (p.planar) {
                // Y, then U (the packet's plane 2), then V (plane 1), each row after row.
                p.bytes.reset(new std::vector<unsigned char>());
                const int packetPlane[3] = {0, 2, 1};
                for (int c = 0; c < 3; ++c) {
                    const int w = c ? p.width / 2 : p.width, h = c ? p.height / 2 : p.height;
                    for (int row = 0; row < h; ++row) {
                        const unsigned char* line = pkt->GetLine(packetPlane[c], row);
                        p.bytes->insert(p.bytes->end(), line, line + w);
                    }
                }
            } else {
                cv::Mat bgr = zrscene::PacketToBgr(pkt);
                if (m_fmt == Format::kRgb)
                    cv::cvtColor(bgr, bgr, cv::COLOR_BGR2RGB);
                p.bytes.reset(new std::vector<unsigned char>(bgr.datastart, bgr.dataend));
            }
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pictures[static_cast<size_t>(nCode)] = std::move(p);
        ++m_received;
        m_cv.notify_all();
        return 0;
    }

    // Feeds the frame until the pipeline takes it, then waits for every view;
    // the seconds from the taken Process call to the last view.
    double Run(CZRFishEyeDewarper& d, tag_ZRFRAME& frame)
    {
        using Clock = std::chrono::steady_clock;
        m_dewarper = &d;
        const auto deadline = Clock::now() + std::chrono::seconds(60);
        std::unique_lock<std::mutex> lock(m_mutex);
        m_received = 0;
        Clock::time_point start;
        do {
            if (Clock::now() > deadline)
                throw std::runtime_error("the threaded dewarper did not take the frame");
            lock.unlock();
            start = Clock::now();
            d.Process(&frame);  // refused without effect while a worker is busy
            lock.lock();
        } while (!m_cv.wait_for(lock, std::chrono::milliseconds(500), [&] { return m_received > 0; }));
        if (!m_cv.wait_until(lock, deadline, [&] { return m_received >= m_views; }))
            throw std::runtime_error("the threaded dewarper did not show every view");
        for (const Picture& p : m_pictures)
            if (!p.bytes)
                throw std::runtime_error("the threaded dewarper showed a view without a picture");
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

    std::vector<Picture>& Pictures() { return m_pictures; }

private:
    Format m_fmt;
    int m_views;
    CZRFishEyeDewarper* m_dewarper = nullptr;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<Picture> m_pictures;
    int m_received = 0;
};

// Testing and benchmark hook: the same frame and settings through the threaded
// CZRFishEyeDewarper, as a host would drive it.
py::tuple ThreadedProcess(py::handle object, const std::string& mount, py::object radius, const std::string& view,
                          int subViews, std::pair<int, int> subSize, const std::string& format,
                          const std::map<int, int>& zoom, const std::map<int, std::pair<int, int>>& aim, int lineMask,
                          int repeat, const std::string& lensName, std::optional<double> fov,
                          const std::optional<std::vector<double>>& coefficients)
{
    const tag_ZRLENS lens = MakeLens(lensName, fov, coefficients);
    const Format fmt = ParseFormat(format);
    const ENUM_ZR_FE_INSTALL_MODE_E m = ParseMount(mount);
    const ENUM_ZR_FE_VIEW_TYPE_E v = ParseView(view);
    CheckRange("sub_views", subViews, 0, zrfe::kMaxSubViews);
    CheckRange("repeat", repeat, 1, 1000);
    const auto size = CheckSubSize(subSize);
    const Frame frame = ReadFrame(object);
    const int r = radius.is_none() ? frame.width / 2 : radius.cast<int>();
    Collector collector(fmt, 1 + subViews);
    double best = 0;
    {
        py::gil_scoped_release nogil;
        zrscene::Nv12Picture nv12;
        tag_ZRFRAME desc = Describe(frame, nv12);
        const int threads = cv::getNumThreads();
        CZRFishEyeDewarper d(m, r, v, frame.width / 2, static_cast<int>(size.first), static_cast<int>(size.second), 2);
        CZRFishEyeDewarper::SetThreadNum(threads);  // its constructor sets its own pool size; keep the caller's
        d.SetShowCallBack(&collector);
        d.SetSubViewNum(static_cast<unsigned>(subViews));
        d.SetMainViewHwnd(reinterpret_cast<HWND>(1));
        for (int i = 0; i < subViews; ++i)
            d.SetSubViewHwnd(reinterpret_cast<HWND>(static_cast<intptr_t>(i + 2)), i);
        d.SetLineMask(lineMask);
        if (lens.eModel != ZR_FE_LENS_BUILTIN)
            d.SetLens(&lens);
        for (const auto& kv : zoom)
            d.ZoomNormalView(static_cast<unsigned>(kv.second), kv.first);
        for (const auto& kv : aim)
            d.MoveNormalView(tag_ZR_FE_POINT_S{static_cast<unsigned short>(kv.second.first),
                                               static_cast<unsigned short>(kv.second.second)},
                             kv.first);
        d.Start();
        try {
            for (int k = 0; k < repeat; ++k) {
                if (k > 0)  // let the workers go idle, so the next frame is not refused
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
                const double seconds = collector.Run(d, desc);
                best = k == 0 ? seconds : std::min(best, seconds);
            }
        } catch (...) {
            d.Stop();
            throw;
        }
        d.Stop();
    }
    return py::make_tuple(ToPython(collector.Pictures()), best);
}

}  // namespace

PYBIND11_MODULE(zrfisheye, m)
{
    m.doc() = "Fisheye dewarping on numpy arrays: ZRFishEye's engine, synchronous, one frame in, every view out.";

    py::class_<Dewarper>(m, "Dewarper", R"doc(
Dewarps the frames of one fisheye camera into a main view and up to eight sub views.

mount: "ground", "ceiling" or "wall". radius: the lens-circle radius of the main
view (16..16384), or None for half the width of the first frame processed.
view: the main view, "circle", "panorama" or "double". sub_views: 0..8.
sub_size: (width, height) of every sub view, each 2..8192.
workers: how many threads OpenCV's pool may use to split one frame. That pool is
shared by the whole process: the Dewarper made last sets it for all of them.
Outlines of every sub view are drawn on the main view (line_mask 0xFF).
fast: render in fast mode, every view sampled once from the 4:2:0 frame (the same
views at a fraction of the cost, not the exact path's bytes).
lens: the camera's projection, "builtin" (the library's own, the default),
"equidistant", "equisolid", "stereographic", "orthographic" or "polynomial";
fov: the field of view its circle spans, degrees (None: 180); k: (k1, k2, k3, k4)
of the polynomial, as OpenCV's fisheye calibration gives them in D.
)doc")
        .def(py::init<const std::string&, py::object, const std::string&, int, std::pair<int, int>, int, bool,
                      const std::string&, std::optional<double>, const std::optional<std::vector<double>>&>(),
             py::arg("mount") = "ceiling", py::arg("radius") = py::none(), py::arg("view") = "panorama",
             py::arg("sub_views") = 0, py::arg("sub_size") = std::make_pair(640, 360), py::arg("workers") = 2,
             py::arg("fast") = false, py::arg("lens") = "builtin", py::arg("fov") = py::none(),
             py::arg("k") = py::none())
        .def("set_lens", &Dewarper::SetLens, py::arg("lens") = "builtin", py::arg("fov") = py::none(),
             py::arg("k") = py::none(), "Changes the lens; the arguments are the constructor's")
        .def_property_readonly("lens", &Dewarper::Lens,
                               "The lens as set_lens takes it: {'lens': name, 'fov': degrees or None, "
                               "'k': tuple or None}")
        .def("process", &Dewarper::Process, py::arg("frame"), py::arg("format") = "bgr", R"doc(
Dewarps one frame and returns [main view, sub view 0, sub view 1, ...] as new uint8 arrays.

frame: an (H, W, 3) BGR array (as cv2 reads it), converted to 4:2:0 as the zrfisheye
tool does, or an (H * 3 // 2, W) NV12 array; W and H even. A frame that is not
C-contiguous (a slice, a crop) is copied first. The library reads the frame as a
square of its width: a non-square frame is stretched.
format: "bgr" (default) or "rgb": (h, w, 3) arrays; "yuv420": per view a tuple of
planes (Y, U, V) of shapes (h, w), (h/2, w/2), (h/2, w/2).
The GIL is released while the views are rendered.
)doc")
        .def("aim", &Dewarper::Aim, py::arg("i"), py::arg("x"), py::arg("y"),
             "Aims sub view i (0..7) at the point (x, y) of the main view as displayed.")
        .def("zoom", &Dewarper::Zoom, py::arg("i"), py::arg("level"),
             "Zooms sub view i (0..7) to a level 0..20 (ground and ceiling: higher is narrower; wall: wider).")
        .def("set_angles", &Dewarper::SetAngles, py::arg("i"), py::arg("tilt"), py::arg("azimuth"),
             "Ground and ceiling mounts: points sub view i by its tilt from the lens axis and azimuth, in degrees.")
        .def("set_wall_angles", &Dewarper::SetWallAngles, py::arg("i"), py::arg("pan"), py::arg("tilt"),
             py::arg("fov_h") = py::none(), py::arg("fov_v") = py::none(),
             "Wall mount: sub view i's pan (left edge), tilt and, when given, fields of view, in radians.")
        .def("original_point", &Dewarper::OriginalPoint, py::arg("x"), py::arg("y"),
             "The point of the lens circle under point (x, y) of the panorama, or None.")
        .def("panorama_point", &Dewarper::PanoramaPoint, py::arg("x"), py::arg("y"),
             "The point of the panorama showing point (x, y) of the lens circle, or None.")
        .def("outline", &Dewarper::Outline, py::arg("i"),
             "Sub view i's outline on the lens circle: ((N, 2) int32 array of (x, y), (cx, cy)).")
        .def_property("fast", &Dewarper::Fast, &Dewarper::SetFast, "fast render mode, from the next frame on")
        .def_property("mount", &Dewarper::Mount, &Dewarper::SetMount)
        .def_property("view", &Dewarper::View, &Dewarper::SetView)
        .def_property("radius", &Dewarper::Radius, &Dewarper::SetRadius, "None until known")
        .def_property("ground_angle", &Dewarper::GroundAngle, &Dewarper::SetGroundAngle,
                      "Degrees 0..359 the ground or ceiling panorama is turned by; None for a wall mount")
        .def_property("wall_start_y", &Dewarper::WallStartY, &Dewarper::SetWallStartY,
                      "Top row of the wall panorama's window (kept within the panorama); None for other mounts")
        .def_property("sub_views", &Dewarper::SubViews, &Dewarper::SetSubViews)
        .def_property("sub_size", &Dewarper::SubSize, &Dewarper::SetSubSize)
        .def_property("line_mask", &Dewarper::LineMask, &Dewarper::SetLineMask,
                      "Bit i set: sub view i's outline is drawn on the main view");

    m.def("scene", &Scene, py::arg("mount") = "wall", py::arg("size") = 1024,
          "The built-in synthetic room as an ideal fisheye picture of side size (16..8192), BGR.");

    m.def("_threaded_process", &ThreadedProcess, py::arg("frame"), py::arg("mount") = "ceiling",
          py::arg("radius") = py::none(), py::arg("view") = "panorama", py::arg("sub_views") = 0,
          py::arg("sub_size") = std::make_pair(640, 360), py::arg("format") = "bgr",
          py::arg("zoom") = std::map<int, int>(), py::arg("aim") = std::map<int, std::pair<int, int>>(),
          py::arg("line_mask") = 0xFF, py::arg("repeat") = 1, py::arg("lens") = "builtin",
          py::arg("fov") = py::none(), py::arg("k") = py::none(),
          "Testing hook: the frame through the threaded CZRFishEyeDewarper; (views, best seconds per frame).");
}
