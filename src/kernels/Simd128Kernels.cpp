// The scalar kernels with their row operations in 128-bit vector arithmetic.
#include "KernelParts.h"

namespace zrfe {
namespace kernels {

namespace {

void ResizeSimd(const cv::Mat& src, cv::Size whole, cv::Rect region, const RowSpans* reads, cv::Mat& dst)
{
    ResizeRegionWith(*Simd128ResizeRows(), src, whole, region, reads, dst);
}

void Nv12ToWorkingSimd(const tag_ZRFRAME& frame, cv::Mat& dst)
{
    Nv12ToWorkingWith(Simd128()->interleavePairs, *Simd128DoublingRows(), frame, dst);
}

void PlanesToWorkingSimd(const cv::Mat& luma, const cv::Mat& u, const cv::Mat& v, cv::Mat& dst)
{
    PlanesToWorkingWith(Simd128()->interleave, *Simd128DoublingRows(), luma, u, v, dst);
}

void WorkingTo420Simd(const cv::Mat& src, const PlanarPicture& out)
{
    WorkingTo420With(Simd128()->rowPair, src, out);
}

void RemapSimd(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst)
{
    RemapWith(Simd128()->gather, src, table, layout, dst);
}

void RemapTo420Simd(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, const PlanarPicture& out)
{
    RemapTo420With({Simd128()->gather, Simd128()->rowPair, nullptr}, WorkingTo420Simd, src, table, layout, out);
}

void FastRemapTo420Simd(const FastPlanes& planes, const FastTable& table, const RowLayout& layout,
                        const PlanarPicture& out)
{
    FastRemapTo420With(FastSimd128()->gather, FastSimd128()->gatherPairs, planes, table, layout, out);
}

}  // namespace

const KernelTable* Simd128Kernels()
{
    if (!Simd128() || !FastSimd128() || !Simd128DoublingRows() || !Simd128ResizeRows())
        return nullptr;
    static const KernelTable table = {"simd128",
                                      RemapSimd,
                                      RemapTo420Simd,
                                      ResizeSimd,
                                      ScalarKernels().maskCircle,
                                      Nv12ToWorkingSimd,
                                      PlanesToWorkingSimd,
                                      WorkingTo420Simd,
                                      FastRemapTo420Simd};
    return &table;
}

}  // namespace kernels
}  // namespace zrfe
