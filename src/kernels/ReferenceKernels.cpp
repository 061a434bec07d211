// The reference kernels: each is the chain of OpenCV calls whose bytes the
// library promises.
#include <algorithm>
#include <cstring>

#include <opencv2/imgproc.hpp>

#include "KernelParts.h"
#include "base/OpenCvPool.h"

namespace zrfe {
namespace kernels {

namespace {

// Luma 0 and chroma kept: the mask is (0, 255, 255) outside the circle, (255, 255, 255) inside.
const cv::Scalar kMaskOutside(0, 255, 255, 0);
const cv::Scalar kMaskInside(255, 255, 255, 0);

cv::Mat Resized(const cv::Mat& plane, cv::Size size)
{
    cv::Mat out;
    const zrbase::OpenCvPoolUse pool;
    cv::resize(plane, out, size, 0, 0, cv::INTER_LINEAR);
    return out;
}

void RemapReference(const cv::Mat& src, const RemapTable& table, const RowLayout& layout, cv::Mat& dst)
{
    cv::Mat whole;
    const zrbase::OpenCvPoolUse pool;
    // From the float maps where the table has them; cv::remap turns them into the
    // fixed-point form first, so either form gives the same bytes.
    const bool floats = !table.mapX.empty();
    cv::remap(src, whole, floats ? table.mapX : table.taps, floats ? table.mapY : table.fractions, cv::INTER_LINEAR,
              cv::BORDER_CONSTANT, cv::Scalar::all(0));
    // Each output row is a run of a table row, wrapping at its end.
    const size_t pixel = whole.elemSize();
    for (int r = 0; r < layout.height(); ++r) {
        const unsigned char* row = whole.ptr<unsigned char>(layout.tableRow[static_cast<size_t>(r)]);
        unsigned char* out = dst.ptr<unsigned char>(r);
        int column = layout.columnStart[static_cast<size_t>(r)];
        for (int done = 0; done < layout.width;) {
            const int run = std::min(layout.width - done, whole.cols - column);
            std::memcpy(out + static_cast<size_t>(done) * pixel, row + static_cast<size_t>(column) * pixel,
                        static_cast<size_t>(run) * pixel);
            done += run;
            column = 0;
        }
    }
}

// Writes the whole region: the reads only say what a faster resize may skip.
void ResizeReference(const cv::Mat& src, cv::Size whole, cv::Rect region, const RowSpans*, cv::Mat& dst)
{
    cv::Mat full;
    {
        const zrbase::OpenCvPoolUse pool;
        cv::resize(src, full, whole, 0, 0, cv::INTER_LINEAR);
    }
    full(region).copyTo(dst);
}

void MaskCircleReference(cv::Mat& picture, const CircleSpans& circle)
{
    cv::Mat mask(picture.size(), picture.type(), kMaskOutside);
    cv::circle(mask, circle.centre, circle.radius, kMaskInside, cv::FILLED, cv::LINE_8, 0);
    cv::bitwise_and(picture, mask, picture);
}

void Nv12ToWorkingReference(const tag_ZRFRAME& frame, cv::Mat& dst)
{
    // Copying the first nWidth bytes of each line drops the pitch padding.
    const cv::Mat lumaView(frame.nHeight, frame.nWidth, CV_8UC1, frame.pData[0],
                           static_cast<size_t>(frame.nPitch[0]));
    const cv::Mat luma = lumaView.clone();
    const cv::Mat chromaView(frame.nHeight / 2, frame.nWidth / 2, CV_8UC2, frame.pData[1],
                             static_cast<size_t>(frame.nPitch[1]));
    cv::Mat uv[2];
    cv::split(chromaView, uv);  // byte 2x is U, byte 2x + 1 is V
    const cv::Size size = dst.size();
    const cv::Mat channels[3] = {Resized(luma, size), Resized(uv[0], size), Resized(uv[1], size)};
    cv::merge(channels, 3, dst);
}

void PlanesToWorkingReference(const cv::Mat& luma, const cv::Mat& u, const cv::Mat& v, cv::Mat& dst)
{
    const cv::Size size = dst.size();
    const cv::Mat channels[3] = {luma.size() == size ? luma : Resized(luma, size), Resized(u, size),
                                 Resized(v, size)};
    cv::merge(channels, 3, dst);
}

void WorkingTo420Reference(const cv::Mat& src, const PlanarPicture& out)
{
    cv::Mat ch[3];
    cv::split(src, ch);
    const cv::Size half(src.cols / 2, src.rows / 2);
    const cv::Mat chroma[2] = {Resized(ch[1], half), Resized(ch[2], half)};
    ch[0].copyTo(cv::Mat(src.size(), CV_8UC1, out.planes[0], static_cast<size_t>(out.pitches[0])));
    for (int c = 0; c < 2; ++c)
        chroma[c].copyTo(cv::Mat(half, CV_8UC1, out.planes[1 + c], static_cast<size_t>(out.pitches[1 + c])));
}

void RemapTo420Reference(const cv::Mat& src, const RemapTable& table, const RowLayout& layout,
                         const PlanarPicture& out)
{
    cv::Mat picture(layout.height(), layout.width, CV_8UC3);
    RemapReference(src, table, layout, picture);
    WorkingTo420Reference(picture, out);
}

// Fast mode has no OpenCV chain to follow: its reference is the plain scalar gather.
void FastRemapTo420Reference(const FastPlanes& planes, const FastTable& table, const RowLayout& layout,
                             const PlanarPicture& out)
{
    FastRemapTo420With(FastGatherRunScalar, FastGatherPairsRunScalar, planes, table, layout, out);
}

}  // namespace

const KernelTable& ReferenceKernels()
{
    static const KernelTable table = {"reference",
                                      RemapReference,
                                      RemapTo420Reference,
                                      ResizeReference,
                                      MaskCircleReference,
                                      Nv12ToWorkingReference,
                                      PlanesToWorkingReference,
                                      WorkingTo420Reference,
                                      FastRemapTo420Reference};
    return table;
}

}  // namespace kernels
}  // namespace zrfe
