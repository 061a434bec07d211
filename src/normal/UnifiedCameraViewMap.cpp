// Every entry is a pure function of its row and column: a row starts from the
// row's own point on the view plane and steps along it column by column, exactly
// as OpenCV's loop does, so any split of the rows gives OpenCV's bits. The
// arithmetic keeps OpenCV's double operations and their order; the vector rows
// run the same operations in lanes (IEEE multiply, add, divide and square root,
// nothing fused), compiled for every target that Highway knows.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "normal/UnifiedCameraViewMap.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep

#include <hwy/highway.h>

#include <cmath>
#include <cstring>
#include <vector>

#include <opencv2/calib3d.hpp>
#include <opencv2/ccalib/omnidir.hpp>

#include "UnifiedCameraViewMap.h"
#include "kernels/ParallelRows.h"

#ifndef ZRFISHEYE_NORMAL_UNIFIEDCAMERAVIEWMAPMODEL
#define ZRFISHEYE_NORMAL_UNIFIEDCAMERAVIEWMAPMODEL
namespace zrfe {
namespace {
// What OpenCV derives from its arguments before the loop, in its own precision.
struct PerspectiveModel {
    cv::Matx33d iKR;
    cv::Vec2d f, c, k, p;
    double s = 0, xi = 0;
};

// One entry, as OpenCV's loop computes it from the point (_x, _y, _w) on the view plane.
inline void PerspectiveEntry(const PerspectiveModel& m, double _x, double _y, double _w, float& outX, float& outY)
{
    // onto the unit sphere, then onto the image plane, then the distortion
    const double r = std::sqrt(_x * _x + _y * _y + _w * _w);
    const double Xs = _x / r;
    const double Ys = _y / r;
    const double Zs = _w / r;
    const double xu = Xs / (Zs + m.xi), yu = Ys / (Zs + m.xi);
    const double r2 = xu * xu + yu * yu;
    const double r4 = r2 * r2;
    const double xd = (1 + m.k[0] * r2 + m.k[1] * r4) * xu + 2 * m.p[0] * xu * yu + m.p[1] * (r2 + 2 * xu * xu);
    const double yd = (1 + m.k[0] * r2 + m.k[1] * r4) * yu + m.p[0] * (r2 + 2 * yu * yu) + 2 * m.p[1] * xu * yu;
    const double u = m.f[0] * xd + m.s * yd + m.c[0];
    const double v = m.f[1] * yd + m.c[1];
    outX = static_cast<float>(u);
    outY = static_cast<float>(v);
}

// The row's points on the view plane, stepped as OpenCV steps them.
inline void PlanePoints(const PerspectiveModel& m, int row, int width, double* xs, double* ys, double* ws)
{
    const cv::Matx33d& iKR = m.iKR;
    double _x = row * iKR(0, 1) + iKR(0, 2), _y = row * iKR(1, 1) + iKR(1, 2), _w = row * iKR(2, 1) + iKR(2, 2);
    for (int j = 0; j < width; ++j, _x += iKR(0, 0), _y += iKR(1, 0), _w += iKR(2, 0)) {
        xs[j] = _x;
        ys[j] = _y;
        ws[j] = _w;
    }
}
}  // namespace
}  // namespace zrfe
#endif

HWY_BEFORE_NAMESPACE();
namespace zrfe {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One row of the tables; plane holds 3 x width doubles of scratch.
void PerspectiveRow(const PerspectiveModel& m, int row, int width, double* plane, float* outX, float* outY)
{
    double* xs = plane;
    double* ys = plane + width;
    double* ws = plane + 2 * width;
    PlanePoints(m, row, width, xs, ys, ws);

    const hn::ScalableTag<double> d;
    const hn::Rebind<float, decltype(d)> df;
    const int lanes = static_cast<int>(hn::Lanes(d));
    const auto one = hn::Set(d, 1.0), two = hn::Set(d, 2.0), xi = hn::Set(d, m.xi);
    const auto k0 = hn::Set(d, m.k[0]), k1 = hn::Set(d, m.k[1]);
    const auto p0 = hn::Set(d, m.p[0]), p1 = hn::Set(d, m.p[1]);
    const auto twoP0 = hn::Mul(two, p0), twoP1 = hn::Mul(two, p1);
    const auto f0 = hn::Set(d, m.f[0]), f1 = hn::Set(d, m.f[1]);
    const auto c0 = hn::Set(d, m.c[0]), c1 = hn::Set(d, m.c[1]), s = hn::Set(d, m.s);
    int j = 0;
    for (; j + lanes <= width; j += lanes) {
        const auto x = hn::LoadU(d, xs + j), y = hn::LoadU(d, ys + j), w = hn::LoadU(d, ws + j);
        const auto r = hn::Sqrt(hn::Add(hn::Add(hn::Mul(x, x), hn::Mul(y, y)), hn::Mul(w, w)));
        const auto Xs = hn::Div(x, r), Ys = hn::Div(y, r), Zs = hn::Div(w, r);
        const auto xu = hn::Div(Xs, hn::Add(Zs, xi)), yu = hn::Div(Ys, hn::Add(Zs, xi));
        const auto r2 = hn::Add(hn::Mul(xu, xu), hn::Mul(yu, yu));
        const auto r4 = hn::Mul(r2, r2);
        const auto radial = hn::Add(hn::Add(one, hn::Mul(k0, r2)), hn::Mul(k1, r4));
        const auto xd = hn::Add(hn::Add(hn::Mul(radial, xu), hn::Mul(hn::Mul(twoP0, xu), yu)),
                                hn::Mul(p1, hn::Add(r2, hn::Mul(hn::Mul(two, xu), xu))));
        const auto yd = hn::Add(hn::Add(hn::Mul(radial, yu), hn::Mul(p0, hn::Add(r2, hn::Mul(hn::Mul(two, yu), yu)))),
                                hn::Mul(hn::Mul(twoP1, xu), yu));
        const auto u = hn::Add(hn::Add(hn::Mul(f0, xd), hn::Mul(s, yd)), c0);
        const auto v = hn::Add(hn::Mul(f1, yd), c1);
        hn::StoreU(hn::DemoteTo(df, u), df, outX + j);
        hn::StoreU(hn::DemoteTo(df, v), df, outY + j);
    }
    for (; j < width; ++j)
        PerspectiveEntry(m, xs[j], ys[j], ws[j], outX[j], outY[j]);
}

}  // namespace HWY_NAMESPACE
}  // namespace zrfe
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace zrfe {

HWY_EXPORT(PerspectiveRow);

namespace {

PerspectiveModel ModelOf(const UnifiedCamera& camera, const cv::Mat& rotation, const cv::Mat& P)
{
    PerspectiveModel m;
    const cv::Matx33f camMat = camera.K;
    m.f = cv::Vec2f(camMat(0, 0), camMat(1, 1));
    m.c = cv::Vec2f(camMat(0, 2), camMat(1, 2));
    m.s = static_cast<double>(camMat(0, 1));
    const cv::Vec4d kp = static_cast<cv::Vec4d>(*camera.D.ptr<cv::Vec4f>());
    m.k = cv::Vec2d(kp[0], kp[1]);
    m.p = cv::Vec2d(kp[2], kp[3]);
    m.xi = static_cast<double>(*camera.xi.ptr<float>());
    cv::Matx33d RR = cv::Matx33d::eye();
    rotation.convertTo(RR, CV_64F);
    cv::Matx33d PP = cv::Matx33d::eye();
    P.colRange(0, 3).convertTo(PP, CV_64F);
    m.iKR = (PP * RR).inv(cv::DECOMP_SVD);
    return m;
}

void FillPerspectiveRows(const UnifiedCamera& camera, const cv::Mat& rotation, const cv::Mat& P, cv::Size size,
                         cv::Mat& mapX, cv::Mat& mapY)
{
    const PerspectiveModel m = ModelOf(camera, rotation, P);
    mapX.create(size, CV_32FC1);
    mapY.create(size, CV_32FC1);
    const auto row = HWY_DYNAMIC_DISPATCH(PerspectiveRow);
    ParallelRows(size.height, size.width, [&](int firstRow, int endRow) {
        std::vector<double> plane(static_cast<size_t>(size.width) * 3);
        for (int i = firstRow; i < endRow; ++i)
            row(m, i, size.width, plane.data(), mapX.ptr<float>(i), mapY.ptr<float>(i));
    });
}

void OpenCvPerspective(const UnifiedCamera& camera, const cv::Mat& rotation, const cv::Mat& P, cv::Size size,
                       cv::Mat& mapX, cv::Mat& mapY)
{
    cv::omnidir::initUndistortRectifyMap(camera.K, camera.D, camera.xi, rotation, P, size, CV_32FC1, mapX, mapY,
                                         cv::omnidir::RECTIFY_PERSPECTIVE);
}

// A tilted, swung, zoomed view of a distorted lens: every term of the model in use.
bool RowsMatchOpenCv()
{
    UnifiedCamera camera;
    camera.K = (cv::Mat_<float>(3, 3) << 300, 0.5f, 310, 0, 290, 305, 0, 0, 1);
    camera.D = (cv::Mat_<float>(1, 4) << -0.08f, 0.01f, 0.002f, -0.003f);
    camera.xi = (cv::Mat_<float>(1, 1) << 1.0f);
    cv::Mat rotation;
    cv::Rodrigues(cv::Vec3d(0.4, -0.7, 1.1), rotation);
    const cv::Mat P = (cv::Mat_<float>(3, 3) << 41.5f, 0, 24, 0, 37.25f, 15, 0, 0, 1);
    const cv::Size size(47, 31);
    cv::Mat ox, oy, x, y;
    OpenCvPerspective(camera, rotation, P, size, ox, oy);
    FillPerspectiveRows(camera, rotation, P, size, x, y);
    return std::memcmp(ox.data, x.data, ox.total() * sizeof(float)) == 0 &&
           std::memcmp(oy.data, y.data, oy.total() * sizeof(float)) == 0;
}

}  // namespace

bool UnifiedCameraViewMapIsOwn()
{
    static const bool sameAsOpenCv = RowsMatchOpenCv();
    return sameAsOpenCv;
}

void BuildUnifiedCameraViewMap(const UnifiedCamera& camera, const cv::Mat& rotation, const cv::Mat& P, cv::Size size,
                               cv::Mat& mapX, cv::Mat& mapY)
{
    if (UnifiedCameraViewMapIsOwn())
        FillPerspectiveRows(camera, rotation, P, size, mapX, mapY);
    else
        OpenCvPerspective(camera, rotation, P, size, mapX, mapY);
}

}  // namespace zrfe
#endif
