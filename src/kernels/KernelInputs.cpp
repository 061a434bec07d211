#include "KernelInputs.h"
#include "ParallelRows.h"

#include <opencv2/imgproc.hpp>

namespace zrfe {
namespace kernels {

void BuildRemapTable(const cv::Mat& mapX, const cv::Mat& mapY, RemapTable& out)
{
    out.mapX = mapX;
    out.mapY = mapY;
    if (mapX.empty()) {
        out.taps.release();
        out.fractions.release();
        return;
    }
    // OpenCV's own conversion: the rounding its bilinear remap applies to float maps.
    // Each entry is converted on its own, so bands of rows on several threads give
    // the same table; OpenCV converts on one.
    out.taps.create(mapX.size(), CV_16SC2);
    out.fractions.create(mapX.size(), CV_16UC1);
    ParallelRows(mapX.rows, mapX.cols, [&](int firstRow, int endRow) {
        const cv::Range rows(firstRow, endRow);
        cv::Mat taps = out.taps.rowRange(rows), fractions = out.fractions.rowRange(rows);
        cv::convertMaps(mapX.rowRange(rows), mapY.rowRange(rows), taps, fractions, CV_16SC2, false);
    });
}

RowLayout WholeTable(cv::Size tableSize)
{
    RowLayout layout;
    layout.width = tableSize.width;
    layout.tableRow.resize(static_cast<size_t>(tableSize.height));
    layout.columnStart.assign(static_cast<size_t>(tableSize.height), 0);
    for (int r = 0; r < tableSize.height; ++r)
        layout.tableRow[static_cast<size_t>(r)] = r;
    return layout;
}

void BuildCircleSpans(cv::Size size, cv::Point centre, int radius, CircleSpans& out)
{
    out.size = size;
    out.centre = centre;
    out.radius = radius;
    out.first.assign(static_cast<size_t>(size.height), 0);
    out.end.assign(static_cast<size_t>(size.height), 0);
    const unsigned char kInside = 255;
    cv::Mat inside(size, CV_8UC1, cv::Scalar(0));
    cv::circle(inside, centre, radius, cv::Scalar(kInside), cv::FILLED, cv::LINE_8, 0);
    for (int y = 0; y < size.height; ++y) {
        const unsigned char* row = inside.ptr<unsigned char>(y);
        int x = 0;
        while (x < size.width && row[x] != kInside)
            ++x;
        int e = x;
        while (e < size.width && row[e] == kInside)
            ++e;
        out.first[static_cast<size_t>(y)] = x;
        out.end[static_cast<size_t>(y)] = e;
    }
}

}  // namespace kernels
}  // namespace zrfe
