#include "KernelInputs.h"
#include "ParallelRows.h"

#include <algorithm>
#include <climits>
#include <mutex>

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

void BuildTableReads(const RemapTable& table, RowSpans& out)
{
    out.first.clear();
    out.end.clear();
    if (table.empty())
        return;
    // Spans by top tap row y, kept at y + 1 so that a tap row of -1 (its lower
    // row is row 0) has a place; saturated taps stop at SHRT_MAX.
    const size_t kTopRows = static_cast<size_t>(SHRT_MAX) + 2;
    std::vector<int> first(kTopRows, INT_MAX), end(kTopRows, 0);
    std::mutex merge;
    ParallelRows(table.taps.rows, table.taps.cols, [&](int firstRow, int endRow) {
        std::vector<int> f(kTopRows, INT_MAX), e(kTopRows, 0);
        for (int r = firstRow; r < endRow; ++r) {
            const cv::Vec2s* taps = table.taps.ptr<cv::Vec2s>(r);
            for (int c = 0; c < table.taps.cols; ++c) {
                const int x = taps[c][0], y = taps[c][1];
                if (x < -1 || y < -1)
                    continue;
                const size_t at = static_cast<size_t>(y + 1);
                f[at] = std::min(f[at], std::max(x, 0));
                e[at] = std::max(e[at], x + 2);
            }
        }
        const std::lock_guard<std::mutex> lock(merge);
        for (size_t i = 0; i < kTopRows; ++i) {
            first[i] = std::min(first[i], f[i]);
            end[i] = std::max(end[i], e[i]);
        }
    });
    // Row y is read by the taps whose top row is y or y - 1.
    size_t rows = 0;
    for (size_t i = 0; i < kTopRows; ++i)
        if (first[i] < end[i])
            rows = i + 1;
    out.first.assign(rows, 0);
    out.end.assign(rows, 0);
    for (size_t y = 0; y < rows; ++y) {
        int f = first[y], e = end[y];
        if (y + 1 < kTopRows && first[y + 1] < end[y + 1]) {
            f = std::min(f, first[y + 1]);
            e = std::max(e, end[y + 1]);
        }
        if (f < e) {
            out.first[y] = f;
            out.end[y] = e;
        }
    }
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
