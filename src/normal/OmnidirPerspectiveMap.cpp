// Every entry is a pure function of its row and column: a row starts from the
// row's own point on the view plane and steps along it column by column, exactly
// as OpenCV's loop does, so any split of the rows gives OpenCV's bits. The
// expressions below keep OpenCV's operations and their order.
#include "OmnidirPerspectiveMap.h"

#include <cmath>
#include <cstring>

#include <opencv2/calib3d.hpp>
#include <opencv2/ccalib/omnidir.hpp>

#include "kernels/ParallelRows.h"

namespace zrfe {

namespace {

void FillPerspectiveRows(const OmnidirCamera& camera, const cv::Mat& rotation, const cv::Mat& P, cv::Size size,
                         cv::Mat& mapX, cv::Mat& mapY)
{
    const cv::Matx33f camMat = camera.K;
    const cv::Vec2d f = cv::Vec2f(camMat(0, 0), camMat(1, 1));
    const cv::Vec2d c = cv::Vec2f(camMat(0, 2), camMat(1, 2));
    const double s = static_cast<double>(camMat(0, 1));
    const cv::Vec4d kp = static_cast<cv::Vec4d>(*camera.D.ptr<cv::Vec4f>());
    const double xi = static_cast<double>(*camera.xi.ptr<float>());
    const cv::Vec2d k(kp[0], kp[1]);
    const cv::Vec2d p(kp[2], kp[3]);
    cv::Matx33d RR = cv::Matx33d::eye();
    rotation.convertTo(RR, CV_64F);
    cv::Matx33d PP = cv::Matx33d::eye();
    P.colRange(0, 3).convertTo(PP, CV_64F);
    const cv::Matx33d iKR = (PP * RR).inv(cv::DECOMP_SVD);

    mapX.create(size, CV_32FC1);
    mapY.create(size, CV_32FC1);
    ParallelRows(size.height, size.width, [&](int firstRow, int endRow) {
        for (int i = firstRow; i < endRow; ++i) {
            float* m1f = mapX.ptr<float>(i);
            float* m2f = mapY.ptr<float>(i);
            double _x = i * iKR(0, 1) + iKR(0, 2), _y = i * iKR(1, 1) + iKR(1, 2), _w = i * iKR(2, 1) + iKR(2, 2);
            for (int j = 0; j < size.width; ++j, _x += iKR(0, 0), _y += iKR(1, 0), _w += iKR(2, 0)) {
                // onto the unit sphere, then onto the image plane, then the distortion
                const double r = std::sqrt(_x * _x + _y * _y + _w * _w);
                const double Xs = _x / r;
                const double Ys = _y / r;
                const double Zs = _w / r;
                const double xu = Xs / (Zs + xi), yu = Ys / (Zs + xi);
                const double r2 = xu * xu + yu * yu;
                const double r4 = r2 * r2;
                const double xd = (1 + k[0] * r2 + k[1] * r4) * xu + 2 * p[0] * xu * yu + p[1] * (r2 + 2 * xu * xu);
                const double yd = (1 + k[0] * r2 + k[1] * r4) * yu + p[0] * (r2 + 2 * yu * yu) + 2 * p[1] * xu * yu;
                const double u = f[0] * xd + s * yd + c[0];
                const double v = f[1] * yd + c[1];
                m1f[j] = static_cast<float>(u);
                m2f[j] = static_cast<float>(v);
            }
        }
    });
}

void OpenCvPerspective(const OmnidirCamera& camera, const cv::Mat& rotation, const cv::Mat& P, cv::Size size,
                       cv::Mat& mapX, cv::Mat& mapY)
{
    cv::omnidir::initUndistortRectifyMap(camera.K, camera.D, camera.xi, rotation, P, size, CV_32FC1, mapX, mapY,
                                         cv::omnidir::RECTIFY_PERSPECTIVE);
}

// A tilted, swung, zoomed view of a distorted lens: every term of the model in use.
bool RowsMatchOpenCv()
{
    OmnidirCamera camera;
    camera.K = (cv::Mat_<float>(3, 3) << 300, 0.5f, 310, 0, 290, 305, 0, 0, 1);
    camera.D = (cv::Mat_<float>(1, 4) << -0.08f, 0.01f, 0.002f, -0.003f);
    camera.xi = (cv::Mat_<float>(1, 1) << 1.0f);
    cv::Mat rotation;
    cv::Rodrigues(cv::Vec3d(0.4, -0.7, 1.1), rotation);
    const cv::Mat P = (cv::Mat_<float>(3, 3) << 41.5f, 0, 24, 0, 37.25f, 15, 0, 0, 1);
    const cv::Size size(48, 31);
    cv::Mat ox, oy, x, y;
    OpenCvPerspective(camera, rotation, P, size, ox, oy);
    FillPerspectiveRows(camera, rotation, P, size, x, y);
    return std::memcmp(ox.data, x.data, ox.total() * sizeof(float)) == 0 &&
           std::memcmp(oy.data, y.data, oy.total() * sizeof(float)) == 0;
}

}  // namespace

bool OmnidirPerspectiveMapIsOwn()
{
    static const bool sameAsOpenCv = RowsMatchOpenCv();
    return sameAsOpenCv;
}

void OmnidirPerspectiveMap(const OmnidirCamera& camera, const cv::Mat& rotation, const cv::Mat& P, cv::Size size,
                           cv::Mat& mapX, cv::Mat& mapY)
{
    if (OmnidirPerspectiveMapIsOwn())
        FillPerspectiveRows(camera, rotation, P, size, mapX, mapY);
    else
        OpenCvPerspective(camera, rotation, P, size, mapX, mapY);
}

}  // namespace zrfe
