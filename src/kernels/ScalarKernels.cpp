// Plain C++ kernels, each giving the reference's bytes with fewer passes over
// the picture. Where the reference's rounding is OpenCV's own (bilinear
// scaling to arbitrary sizes) they keep calling OpenCV for that step.
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "Gather.h"

namespace zrfe {
namespace kernels {

namespace {

const int kChannels = 3;

// One pass interleaves the three planes (each of dst's size) into dst.
void Interleave(const cv::Mat& c0, const cv::Mat& c1, const cv::Mat& c2, cv::Mat& dst)
{
    for (int y = 0; y < dst.rows; ++y) {
        const unsigned char* p0 = c0.ptr<unsigned char>(y);
        const unsigned char* p1 = c1.ptr<unsigned char>(y);
        const unsigned char* p2 = c2.ptr<unsigned char>(y);
        unsigned char* out = dst.ptr<unsigned char>(y);
        for (int x = 0; x < dst.cols; ++x) {
            out[kChannels * x] = p0[x];
            out[kChannels * x + 1] = p1[x];
            out[kChannels * x + 2] = p2[x];
        }
    }
}

cv::Mat ResizedTo(const cv::Mat& plane, cv::Size size)
{
    if (plane.size() == size)
        return plane;  // OpenCV copies a plane of the target size unchanged
    cv::Mat out;
    cv::resize(plane, out, size, 0, 0, cv::INTER_LINEAR);
    return out;
}

void MaskCircleScalar(cv::Mat& picture, const CircleSpans& circle)
{
    // The circle's rows were rasterised once with the geometry: only luma outside them changes.
    for (int y = 0; y < picture.rows; ++y) {
        unsigned char* px = picture.ptr<unsigned char>(y);
        const int first = circle.first[static_cast<size_t>(y)], end = circle.end[static_cast<size_t>(y)];
        for (int x = 0; x < first; ++x)
            px[kChannels * x] = 0;
        for (int x = end; x < picture.cols; ++x)
            px[kChannels * x] = 0;
    }
}

void Nv12ToWorkingScalar(const tag_ZRFRAME& frame, cv::Mat& dst)
{
    const cv::Mat luma(frame.nHeight, frame.nWidth, CV_8UC1, frame.pData[0], static_cast<size_t>(frame.nPitch[0]));
    const int cw = frame.nWidth / 2, ch = frame.nHeight / 2;
    cv::Mat u(ch, cw, CV_8UC1), v(ch, cw, CV_8UC1);
    for (int y = 0; y < ch; ++y) {
        const unsigned char* pair = frame.pData[1] + static_cast<size_t>(y) * static_cast<size_t>(frame.nPitch[1]);
        unsigned char* pu = u.ptr<unsigned char>(y);
        unsigned char* pv = v.ptr<unsigned char>(y);
        for (int x = 0; x < cw; ++x) {
            pu[x] = pair[2 * x];
            pv[x] = pair[2 * x + 1];
        }
    }
    const cv::Size size = dst.size();
    Interleave(ResizedTo(luma, size), ResizedTo(u, size), ResizedTo(v, size), dst);
}

void PlanesToWorkingScalar(const cv::Mat& luma, const cv::Mat& u, const cv::Mat& v, cv::Mat& dst)
{
    const cv::Size size = dst.size();
    // Chroma is always resized, even at the target size (a same-size resize is a copy).
    Interleave(ResizedTo(luma, size), ResizedTo(u, size), ResizedTo(v, size), dst);
}

void WorkingTo420Scalar(const cv::Mat& src, const PlanarPicture& out)
{
    const int W = src.cols, H = src.rows;
    if (W % 2 != 0 || H % 2 != 0) {
        for (int y = 0; y < H; ++y) {
            const unsigned char* px = src.ptr<unsigned char>(y);
            unsigned char* luma = out.planes[0] + static_cast<size_t>(y) * static_cast<size_t>(out.pitches[0]);
            for (int x = 0; x < W; ++x)
                luma[x] = px[kChannels * x];
        }
        // Odd sizes scale by slightly more than two: OpenCV's bilinear weights decide.
        cv::Mat ch[3];
        cv::split(src, ch);
        const cv::Size half(W / 2, H / 2);
        for (int c = 0; c < 2; ++c)
            ResizedTo(ch[1 + c], half)
                .copyTo(cv::Mat(half, CV_8UC1, out.planes[1 + c], static_cast<size_t>(out.pitches[1 + c])));
        return;
    }
    // Halving an even size bilinearly is the rounded mean of each 2 x 2 block.
    for (int y = 0; y < H / 2; ++y) {
        auto row = [&](int p, int r) { return out.planes[p] + static_cast<size_t>(r) * static_cast<size_t>(out.pitches[p]); };
        RowPairTo420(src.ptr<unsigned char>(2 * y), src.ptr<unsigned char>(2 * y + 1), W, row(0, 2 * y),
                     row(0, 2 * y + 1), row(1, y), row(2, y));
    }
}

void RemapScalar(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst)
{
    RemapWith(GatherRunScalar, src, table, layout, dst);
}

void RemapTo420Scalar(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, const PlanarPicture& out)
{
    RemapTo420With(GatherRunScalar, WorkingTo420Scalar, src, table, layout, out);
}

void RemapSimd128(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst)
{
    RemapWith(GatherRunSimd128(), src, table, layout, dst);
}

void RemapTo420Simd128(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, const PlanarPicture& out)
{
    RemapTo420With(GatherRunSimd128(), WorkingTo420Scalar, src, table, layout, out);
}

}  // namespace

const KernelTable& ScalarKernels()
{
    // The resize of the working copy stays the reference's: its rounding is OpenCV's own.
    static const KernelTable table = {"scalar",
                                      RemapScalar,
                                      RemapTo420Scalar,
                                      ReferenceKernels().resize,
                                      MaskCircleScalar,
                                      Nv12ToWorkingScalar,
                                      PlanesToWorkingScalar,
                                      WorkingTo420Scalar};
    return table;
}

const KernelTable* Simd128Kernels()
{
    if (!GatherRunSimd128())
        return nullptr;
    static const KernelTable table = [] {
        KernelTable t = ScalarKernels();
        t.name = "simd128";
        t.remap = RemapSimd128;
        t.remapTo420 = RemapTo420Simd128;
        return t;
    }();
    return &table;
}

}  // namespace kernels
}  // namespace zrfe
