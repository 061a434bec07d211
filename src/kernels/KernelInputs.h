// What the kernels read besides pictures, prepared once when a setting changes:
// a view's remap table in the forms the kernels use, where each output row of
// a view reads its table, and the rows of the lens circle.
#ifndef ZRFISHEYE_KERNELS_KERNELINPUTS_H
#define ZRFISHEYE_KERNELS_KERNELINPUTS_H

#include <vector>

#include <opencv2/core.hpp>

namespace zrfe {
namespace kernels {

// Positions in fixed point are in 1/32 pixel; the bilinear weights of a fraction sum to 32 * 32.
constexpr int kFractionBits = 5;
constexpr int kFractionSteps = 1 << kFractionBits;
constexpr int kWeightBits = 2 * kFractionBits;

// A view's remap table: the float maps (CV_32FC1; per output pixel the source
// column and row) and the same positions as cv::remap reads them for bilinear
// sampling, rounded to 1/32 pixel: taps (CV_16SC2, the top-left tap's column and
// row, saturated) and fractions (CV_16UC1, (fy << 5) | fx). The gathers read only
// the fixed-point form; a table may come without its float maps.
struct RemapTable {
    cv::Mat mapX, mapY;
    cv::Mat taps, fractions;
    bool empty() const { return taps.empty(); }
    cv::Size size() const { return taps.size(); }
};

// Fills the table from the float maps (both of one size; empty maps give an
// empty table).
void BuildRemapTable(const cv::Mat& mapX, const cv::Mat& mapY, RemapTable& out);

// Per picture row, the columns [first, end) that something reads; empty where
// first >= end, and nothing in rows past the end.
struct RowSpans {
    std::vector<int> first, end;
    int rows() const { return static_cast<int>(first.size()); }
};

// The pixels a gather through this table may read: both taps of both rows of
// every entry, from column 0 and row 0 on (a reader clips them to its picture).
void BuildTableReads(const RemapTable& table, RowSpans& out);

// Output row r of a view reads table row tableRow[r] from column columnStart[r],
// wrapping around the table's width, for width columns: the plain table, the
// ground panorama turned by its angle, its two stacked halves, the wall window.
struct RowLayout {
    int width = 0;
    std::vector<int> tableRow;
    std::vector<int> columnStart;
    int height() const { return static_cast<int>(tableRow.size()); }
};
RowLayout WholeTable(cv::Size tableSize);

// The filled circle of a picture of this size, rasterised as cv::circle does
// (8-connected): per row, the columns [first, end) inside it.
struct CircleSpans {
    cv::Size size;
    cv::Point centre;
    int radius = 0;
    std::vector<int> first, end;
};
void BuildCircleSpans(cv::Size size, cv::Point centre, int radius, CircleSpans& out);

}  // namespace kernels
}  // namespace zrfe

#endif
