// Plain C++ kernels, each giving the reference's bytes with fewer passes over
// the picture.
#include "KernelParts.h"

namespace zrfe {
namespace kernels {

namespace {

const int kChannels = 3;

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

void ResizeScalar(const cv::Mat& src, cv::Size whole, cv::Rect region, const RowSpans* reads, cv::Mat& dst)
{
    ResizeRegionWith(ScalarResizeRows(), src, whole, region, reads, dst);
}

void Nv12ToWorkingScalar(const tag_ZRFRAME& frame, cv::Mat& dst)
{
    Nv12ToWorkingWith(InterleavePairs, ScalarDoublingRows(), frame, dst);
}

void PlanesToWorkingScalar(const cv::Mat& luma, const cv::Mat& u, const cv::Mat& v, cv::Mat& dst)
{
    PlanesToWorkingWith(Interleave, ScalarDoublingRows(), luma, u, v, dst);
}

void WorkingTo420Scalar(const cv::Mat& src, const PlanarPicture& out)
{
    WorkingTo420With(RowPairTo420, src, out);
}

void RemapScalar(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst)
{
    RemapWith(GatherRunScalar, src, table, layout, dst);
}

void RemapTo420Scalar(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, const PlanarPicture& out)
{
    RemapTo420With({GatherRunScalar, RowPairTo420, nullptr}, WorkingTo420Scalar, src, table, layout, out);
}

void FastRemapTo420Scalar(const FastPlanes& planes, const FastTable& table, const RowLayout& layout,
                          const PlanarPicture& out)
{
    FastRemapTo420With(FastGatherRunScalar, FastGatherPairsRunScalar, planes, table, layout, out);
}

}  // namespace

const KernelTable& ScalarKernels()
{
    static const KernelTable table = {"scalar",
                                      RemapScalar,
                                      RemapTo420Scalar,
                                      ResizeScalar,
                                      MaskCircleScalar,
                                      Nv12ToWorkingScalar,
                                      PlanesToWorkingScalar,
                                      WorkingTo420Scalar,
                                      FastRemapTo420Scalar};
    return table;
}

}  // namespace kernels
}  // namespace zrfe
