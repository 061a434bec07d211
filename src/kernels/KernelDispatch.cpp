// Chooses the kernel table once, the first time it is asked for.
#include <opencv2/core.hpp>

#include "Kernels.h"

namespace zrfe {
namespace kernels {

namespace {

bool SameBytes(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// The resize and the conversions in redo OpenCV's own fixed-point arithmetic, as
// the OpenCV that this library is built with does it. An OpenCV that rounds
// another way would make them differ from it, so they are compared with it once,
// on small random pictures (scaled down and up, chroma doubled), before use.
bool RedoesOpenCvExactly(const KernelTable& t)
{
    const KernelTable& reference = ReferenceKernels();
    cv::RNG rng(0x5eed);
    const auto random = [&rng](int rows, int cols, int type) {
        cv::Mat m(rows, cols, type);
        rng.fill(m, cv::RNG::UNIFORM, 0, 256);
        return m;
    };
    const cv::Mat picture = random(53, 67, CV_8UC3);
    for (const cv::Size whole : {cv::Size(57, 45), cv::Size(150, 121)}) {
        const cv::Rect region(2, 3, whole.width - 5, whole.height - 7);
        cv::Mat expected(region.size(), CV_8UC3), got(region.size(), CV_8UC3);
        reference.resize(picture, whole, region, nullptr, expected);
        t.resize(picture, whole, region, nullptr, got);
        if (!SameBytes(expected, got))
            return false;
    }
    const int side = 36;
    cv::Mat luma = random(side, side, CV_8UC1), pairs = random(side / 2, side / 2, CV_8UC2);
    tag_ZRFRAME frame{};
    frame.pData[0] = luma.data;
    frame.pData[1] = pairs.data;
    frame.nPitch[0] = static_cast<int>(luma.step);
    frame.nPitch[1] = static_cast<int>(pairs.step);
    frame.nWidth = frame.nHeight = side;
    cv::Mat expected(side, side, CV_8UC3), got(side, side, CV_8UC3);
    reference.nv12ToWorking(frame, expected);
    t.nv12ToWorking(frame, got);
    if (!SameBytes(expected, got))
        return false;
    cv::Mat u = random(side / 2, side / 2, CV_8UC1), v = random(side / 2, side / 2, CV_8UC1);
    reference.planesToWorking(luma, u, v, expected);
    t.planesToWorking(luma, u, v, got);
    return SameBytes(expected, got);
}

}  // namespace

std::vector<const KernelTable*> AvailableKernelTables()
{
    std::vector<const KernelTable*> tables = {&ReferenceKernels(), &ScalarKernels()};
    if (const KernelTable* simd = Simd128Kernels())
        tables.push_back(simd);
    for (const KernelTable* vector : HighwayKernelTables())
        tables.push_back(vector);
    return tables;
}

const KernelTable& ActiveKernels()
{
    static const KernelTable active = [] {
        KernelTable t = *AvailableKernelTables().back();
        if (!RedoesOpenCvExactly(t)) {
            const KernelTable& reference = ReferenceKernels();
            t.resize = reference.resize;
            t.nv12ToWorking = reference.nv12ToWorking;
            t.planesToWorking = reference.planesToWorking;
        }
        return t;
    }();
    return active;
}

}  // namespace kernels
}  // namespace zrfe
