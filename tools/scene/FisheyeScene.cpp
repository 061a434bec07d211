#include "FisheyeScene.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/imgproc.hpp>

namespace zrscene {

namespace {

const double kPi = CV_PI;
const double kHalfWidth = 4.0, kHalfDepth = 4.0, kHeight = 3.0;
const double kEps = 1e-3;
const int kTexelsPerMetre = 100;

double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec3 Normalised(const Vec3& v)
{
    const double n = std::sqrt(Dot(v, v));
    return {v.x / n, v.y / n, v.z / n};
}
Vec3 Cross(const Vec3& a, const Vec3& b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }

// Camera axes (right, down, forward) in world coordinates.
void Axes(ENUM_ZR_FE_INSTALL_MODE_E mount, Vec3& right, Vec3& down, Vec3& forward)
{
    right = {1, 0, 0};
    switch (mount) {
    case ZR_FE_INSTALL_CEILING:
        down = {0, -1, 0};
        forward = {0, 0, -1};
        break;
    case ZR_FE_INSTALL_GROUND:
        down = {0, 1, 0};
        forward = {0, 0, 1};
        break;
    default:
        down = {0, 0, -1};
        forward = {0, 1, 0};
        break;
    }
}

// One wall as a texture: width metres across, 3 m high, base colour, numbers every metre.
cv::Mat WallTexture(double widthMetres, const cv::Scalar& base, int firstNumber)
{
    const int w = static_cast<int>(widthMetres * kTexelsPerMetre), h = static_cast<int>(kHeight * kTexelsPerMetre);
    cv::Mat tex(h, w, CV_8UC3, base);
    for (int x = 0; x <= w; x += kTexelsPerMetre / 2)
        cv::line(tex, cv::Point(x, 0), cv::Point(x, h - 1), cv::Scalar(20, 20, 20), 3);
    for (int y = 0; y <= h; y += kTexelsPerMetre / 2)
        cv::line(tex, cv::Point(0, y), cv::Point(w - 1, y), cv::Scalar(20, 20, 20), 3);
    for (int m = 0; m < static_cast<int>(widthMetres); ++m)
        cv::putText(tex, std::to_string(firstNumber + m), cv::Point(m * kTexelsPerMetre + 18, 140),
                    cv::FONT_HERSHEY_SIMPLEX, 1.4, cv::Scalar(250, 250, 250), 4);
    return tex;
}

struct Textures {
    cv::Mat north, east, south, west, floor, ceiling;
    Textures()
    {
        north = WallTexture(2 * kHalfWidth, cv::Scalar(60, 60, 200), 10);   // red
        east = WallTexture(2 * kHalfDepth, cv::Scalar(60, 180, 60), 20);    // green
        south = WallTexture(2 * kHalfWidth, cv::Scalar(200, 90, 50), 30);   // blue
        west = WallTexture(2 * kHalfDepth, cv::Scalar(40, 190, 220), 40);   // yellow
        const int side = static_cast<int>(2 * kHalfWidth * kTexelsPerMetre);
        floor = cv::Mat(side, side, CV_8UC3);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                floor.at<cv::Vec3b>(y, x) =
                    ((x / 50 + y / 50) % 2) ? cv::Vec3b(230, 230, 230) : cv::Vec3b(70, 70, 70);
        ceiling = cv::Mat(side, side, CV_8UC3, cv::Scalar(200, 210, 215));
        for (int v = 0; v <= side; v += kTexelsPerMetre) {
            cv::line(ceiling, cv::Point(v, 0), cv::Point(v, side - 1), cv::Scalar(120, 120, 120), 3);
            cv::line(ceiling, cv::Point(0, v), cv::Point(side - 1, v), cv::Scalar(120, 120, 120), 3);
        }
    }
};

const Textures& SceneTextures()
{
    static const Textures textures;
    return textures;
}

cv::Vec3b Texel(const cv::Mat& tex, double u, double v)
{
    const int x = std::clamp(static_cast<int>(u * kTexelsPerMetre), 0, tex.cols - 1);
    const int y = std::clamp(static_cast<int>(v * kTexelsPerMetre), 0, tex.rows - 1);
    return tex.at<cv::Vec3b>(y, x);
}

}  // namespace

Vec3 CameraPosition(ENUM_ZR_FE_INSTALL_MODE_E mount)
{
    switch (mount) {
    case ZR_FE_INSTALL_CEILING:
        return {0, 0, kHeight - kEps};
    case ZR_FE_INSTALL_GROUND:
        return {0, 0, kEps};
    default:
        return {0, -kHalfDepth + kEps, 1.5};
    }
}

Vec3 CameraToWorld(ENUM_ZR_FE_INSTALL_MODE_E mount, const Vec3& c)
{
    Vec3 r, d, f;
    Axes(mount, r, d, f);
    return {c.x * r.x + c.y * d.x + c.z * f.x, c.x * r.y + c.y * d.y + c.z * f.y, c.x * r.z + c.y * d.z + c.z * f.z};
}

Vec3 WorldToCamera(ENUM_ZR_FE_INSTALL_MODE_E mount, const Vec3& w)
{
    Vec3 r, d, f;
    Axes(mount, r, d, f);
    return {Dot(w, r), Dot(w, d), Dot(w, f)};
}

cv::Vec3b TraceColour(ENUM_ZR_FE_INSTALL_MODE_E mount, const Vec3& dir)
{
    const Vec3 o = CameraPosition(mount);
    double t = std::numeric_limits<double>::infinity();
    int face = -1;
    auto consider = [&](double tt, int f) {
        if (tt > 1e-9 && tt < t) {
            t = tt;
            face = f;
        }
    };
    if (dir.z < 0) consider((0 - o.z) / dir.z, 0);
    if (dir.z > 0) consider((kHeight - o.z) / dir.z, 1);
    if (dir.y > 0) consider((kHalfDepth - o.y) / dir.y, 2);
    if (dir.y < 0) consider((-kHalfDepth - o.y) / dir.y, 3);
    if (dir.x > 0) consider((kHalfWidth - o.x) / dir.x, 4);
    if (dir.x < 0) consider((-kHalfWidth - o.x) / dir.x, 5);
    if (face < 0)
        return cv::Vec3b(0, 0, 0);
    const Vec3 p{o.x + t * dir.x, o.y + t * dir.y, o.z + t * dir.z};
    const Textures& tex = SceneTextures();
    const double up = kHeight - p.z;  // texture rows run downwards from the ceiling
    switch (face) {
    case 0:
        return Texel(tex.floor, p.x + kHalfWidth, kHalfDepth - p.y);
    case 1:
        return Texel(tex.ceiling, p.x + kHalfWidth, kHalfDepth - p.y);
    case 2:  // north, seen from inside: west on the left
        return Texel(tex.north, p.x + kHalfWidth, up);
    case 3:  // south: east on the left
        return Texel(tex.south, kHalfWidth - p.x, up);
    case 4:  // east: north on the left
        return Texel(tex.east, kHalfDepth - p.y, up);
    default:  // west: south on the left
        return Texel(tex.west, p.y + kHalfDepth, up);
    }
}

namespace {
// A lens as the scene sees it: radius (in rim radii) against angle off the axis.
class SceneOptics {
public:
    explicit SceneOptics(const tag_ZRLENS& lens) : m_lens(lens)
    {
        if (m_lens.eModel == ZR_FE_LENS_BUILTIN) {
            m_lens.eModel = ZR_FE_LENS_EQUIDISTANT;
            m_lens.fFieldOfView = 180.0f;
        }
        m_halfFov = m_lens.fFieldOfView * kPi / 360.0;
        m_rim = Unit(m_halfFov);
    }
    double HalfFov() const { return m_halfFov; }
    double Radius(double theta) const { return Unit(theta) / m_rim; }
    // The angle at radius u (0..1), by bisection: every lens here rises to its rim.
    double Angle(double u) const
    {
        double lo = 0.0, hi = m_halfFov;
        for (int i = 0; i < 64; ++i) {
            const double mid = 0.5 * (lo + hi);
            (Radius(mid) < u ? lo : hi) = mid;
        }
        return 0.5 * (lo + hi);
    }

private:
    double Unit(double t) const
    {
        switch (m_lens.eModel) {
        case ZR_FE_LENS_EQUISOLID: return 2.0 * std::sin(t / 2.0);
        case ZR_FE_LENS_STEREOGRAPHIC: return 2.0 * std::tan(t / 2.0);
        case ZR_FE_LENS_ORTHOGRAPHIC: return std::sin(t);
        case ZR_FE_LENS_POLYNOMIAL: {
            const double* k = m_lens.dK;
            return t * (1.0 + k[0] * std::pow(t, 2) + k[1] * std::pow(t, 4) + k[2] * std::pow(t, 6) +
                        k[3] * std::pow(t, 8));
        }
        default: return t;
        }
    }
    tag_ZRLENS m_lens;
    double m_halfFov = 0.0, m_rim = 1.0;
};
}  // namespace

tag_ZRLENS SceneLens()
{
    tag_ZRLENS lens{};
    lens.eModel = ZR_FE_LENS_EQUIDISTANT;
    lens.fFieldOfView = 180.0f;
    return lens;
}

bool ProjectToFisheye(ENUM_ZR_FE_INSTALL_MODE_E mount, const Vec3& worldPoint, int side, double& px, double& py,
                      const tag_ZRLENS& lens)
{
    const SceneOptics optics(lens);
    const Vec3 o = CameraPosition(mount);
    const Vec3 c = WorldToCamera(mount, Normalised({worldPoint.x - o.x, worldPoint.y - o.y, worldPoint.z - o.z}));
    const double theta = std::acos(std::clamp(c.z, -1.0, 1.0));
    if (theta > optics.HalfFov())
        return false;
    const double R = side / 2.0;
    const double rho = optics.Radius(theta) * R;
    const double phi = std::atan2(c.y, c.x);
    px = R + rho * std::cos(phi);
    py = R + rho * std::sin(phi);
    return true;
}

cv::Mat RenderFisheye(ENUM_ZR_FE_INSTALL_MODE_E mount, int side, const tag_ZRLENS& lens)
{
    return RenderFisheyeOf(mount, side, lens, [mount](const Vec3& dir) { return TraceColour(mount, dir); });
}

cv::Mat RenderFisheyeOf(ENUM_ZR_FE_INSTALL_MODE_E mount, int side, const tag_ZRLENS& lens,
                        const WorldColourFn& colourOf)
{
    const SceneOptics optics(lens);
    const bool sceneLens = lens.eModel == ZR_FE_LENS_BUILTIN ||
                           (lens.eModel == ZR_FE_LENS_EQUIDISTANT && lens.fFieldOfView == 180.0f);
    // Angle against radius, tabled finely enough that interpolating moves no ray
    // by a measurable fraction of a pixel.
    constexpr int kSteps = 1 << 16;
    std::vector<double> angleAt;
    if (!sceneLens)
        for (int i = 0; i <= kSteps; ++i)
            angleAt.push_back(optics.Angle(static_cast<double>(i) / kSteps));
    auto angleOf = [&](double u) {
        const double at = u * kSteps;
        const int i = std::min(static_cast<int>(at), kSteps - 1);
        return angleAt[i] + (angleAt[i + 1] - angleAt[i]) * (at - i);
    };
    cv::Mat out(side, side, CV_8UC3, cv::Scalar(0, 0, 0));
    const double R = side / 2.0;
    cv::parallel_for_(cv::Range(0, side), [&](const cv::Range& rows) {
        for (int y = rows.start; y < rows.end; ++y)
            for (int x = 0; x < side; ++x) {
                cv::Vec3d sum(0, 0, 0);
                int hits = 0;
                for (int sy = 0; sy < 2; ++sy)
                    for (int sx = 0; sx < 2; ++sx) {
                        // Pixel x covers [x - 0.5, x + 0.5): its centre is the integer coordinate.
                        const double dx = x - 0.25 + 0.5 * sx - R, dy = y - 0.25 + 0.5 * sy - R;
                        const double rho = std::sqrt(dx * dx + dy * dy);
                        if (rho > R)
                            continue;
                        // The scene's own lens keeps its closed form, so its pictures stay as they were.
                        const double theta = sceneLens ? rho / R * (kPi / 2) : angleOf(rho / R);
                        const double phi = std::atan2(dy, dx);
                        const Vec3 cam{std::sin(theta) * std::cos(phi), std::sin(theta) * std::sin(phi), std::cos(theta)};
                        sum += cv::Vec3d(colourOf(CameraToWorld(mount, cam)));
                        ++hits;
                    }
                if (hits)
                    out.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(sum[0] / 4 + 0.5),
                                                        static_cast<uchar>(sum[1] / 4 + 0.5),
                                                        static_cast<uchar>(sum[2] / 4 + 0.5));
            }
    });
    return out;
}

cv::Mat RenderLongLat(ENUM_ZR_FE_INSTALL_MODE_E mount, int n, const cv::Rect& window)
{
    cv::Mat out(window.height, window.width, CV_8UC3);
    auto angle = [n](double k) { return (k / (n - 1) - 0.5) * kPi; };
    for (int r = 0; r < window.height; ++r)
        for (int c = 0; c < window.width; ++c) {
            cv::Vec3d sum(0, 0, 0);
            for (int s = 0; s < 4; ++s) {
                const double lambda = angle(window.x + c - 0.25 + 0.5 * (s % 2));
                const double phi = angle(window.y + r - 0.25 + 0.5 * (s / 2));
                const Vec3 cam{std::sin(lambda) * std::cos(phi), std::sin(phi), std::cos(lambda) * std::cos(phi)};
                sum += cv::Vec3d(TraceColour(mount, CameraToWorld(mount, cam)));
            }
            out.at<cv::Vec3b>(r, c) = cv::Vec3b(static_cast<uchar>(sum[0] / 4 + 0.5), static_cast<uchar>(sum[1] / 4 + 0.5),
                                                static_cast<uchar>(sum[2] / 4 + 0.5));
        }
    return out;
}

cv::Mat RenderPerspective(ENUM_ZR_FE_INSTALL_MODE_E mount, const Pinhole& cam)
{
    const Vec3 f = Normalised(cam.dir);
    const Vec3 right = Normalised(Cross(cam.down, f));
    const Vec3 down = Cross(f, right);
    cv::Mat out(cam.height, cam.width, CV_8UC3);
    for (int y = 0; y < cam.height; ++y)
        for (int x = 0; x < cam.width; ++x) {
            cv::Vec3d sum(0, 0, 0);
            for (int s = 0; s < 4; ++s) {
                const double u = (x - 0.25 + 0.5 * (s % 2) - cam.cx) / cam.fx;
                const double v = (y - 0.25 + 0.5 * (s / 2) - cam.cy) / cam.fy;
                const Vec3 ray = Normalised({f.x + u * right.x + v * down.x, f.y + u * right.y + v * down.y,
                                             f.z + u * right.z + v * down.z});
                sum += cv::Vec3d(TraceColour(mount, CameraToWorld(mount, ray)));
            }
            out.at<cv::Vec3b>(y, x) = cv::Vec3b(static_cast<uchar>(sum[0] / 4 + 0.5), static_cast<uchar>(sum[1] / 4 + 0.5),
                                                static_cast<uchar>(sum[2] / 4 + 0.5));
        }
    return out;
}

cv::Mat BgrToWorking(const cv::Mat& bgr)
{
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV);
    return yuv;
}

tag_ZRFRAME Nv12Picture::Descriptor()
{
    tag_ZRFRAME d{};
    d.pData[0] = luma.data();
    d.pData[1] = chroma.data();
    d.nPitch[0] = width;
    d.nPitch[1] = (width / 2) * 2;
    d.nWidth = width;
    d.nHeight = height;
    return d;
}

Nv12Picture BgrToNv12(const cv::Mat& bgr)
{
    const cv::Mat yuv = BgrToWorking(bgr);
    cv::Mat ch[3];
    cv::split(yuv, ch);
    Nv12Picture pic;
    pic.width = bgr.cols;
    pic.height = bgr.rows;
    pic.luma.assign(ch[0].datastart, ch[0].dataend);
    cv::Mat u, v;
    cv::resize(ch[1], u, cv::Size(bgr.cols / 2, bgr.rows / 2), 0, 0, cv::INTER_AREA);
    cv::resize(ch[2], v, cv::Size(bgr.cols / 2, bgr.rows / 2), 0, 0, cv::INTER_AREA);
    cv::Mat uv;
    cv::merge(std::vector<cv::Mat>{u, v}, uv);
    pic.chroma.assign(uv.datastart, uv.dataend);
    return pic;
}

cv::Mat PacketToBgr(CZRPacketPIC* pkt)
{
    if (!pkt)
        return cv::Mat();
    const int w = static_cast<int>(pkt->m_uWidth), h = static_cast<int>(pkt->m_uHeight);
    const cv::Mat y(h, w, CV_8UC1, pkt->GetLine(0, 0), pkt->m_uPitch[0]);
    const cv::Mat v(h / 2, w / 2, CV_8UC1, pkt->GetLine(1, 0), pkt->m_uPitch[1]);
    const cv::Mat u(h / 2, w / 2, CV_8UC1, pkt->GetLine(2, 0), pkt->m_uPitch[2]);
    cv::Mat uu, vv, yuv, bgr;
    cv::resize(u, uu, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::resize(v, vv, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    cv::merge(std::vector<cv::Mat>{y.clone(), uu, vv}, yuv);
    cv::cvtColor(yuv, bgr, cv::COLOR_YUV2BGR);
    return bgr;
}

bool ParseMount(const std::string& name, ENUM_ZR_FE_INSTALL_MODE_E& mount)
{
    if (name == "ceiling")
        mount = ZR_FE_INSTALL_CEILING;
    else if (name == "ground" || name == "floor")
        mount = ZR_FE_INSTALL_GROUND;
    else if (name == "wall")
        mount = ZR_FE_INSTALL_WALL;
    else
        return false;
    return true;
}

const char* MountName(ENUM_ZR_FE_INSTALL_MODE_E mount)
{
    switch (mount) {
    case ZR_FE_INSTALL_CEILING:
        return "ceiling";
    case ZR_FE_INSTALL_GROUND:
        return "ground";
    default:
        return "wall";
    }
}

}  // namespace zrscene
