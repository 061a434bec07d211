#include "FastInputs.h"

#include <algorithm>
#include <cmath>

#include "ParallelRows.h"
#include "base/LargePictures.h"

namespace zrfe {
namespace kernels {

namespace {

// A chroma block whose four luma samples lie further apart than this (in
// picture pixels) straddles a seam of the table (the wall tables' outside, the
// panorama's wrap): its centre would sample neither side, so its first sample's
// position serves.
const double kSeamSpread = 4.0;

// Nearest whole number, halves up; inline, unlike the library's lround.
inline long Nearest(double v)
{
    const double up = v + 0.5;
    const long t = static_cast<long>(up);  // toward zero
    return t - (static_cast<double>(t) > up ? 1 : 0);
}

struct Position {
    double x, y;
    bool valid;
};

Position At(const FastTableSource& s, int row, int col)
{
    if (s.mapX.empty())
        return {static_cast<double>(col), static_cast<double>(row), true};
    const double x = s.mapX.at<float>(row, col), y = s.mapY.at<float>(row, col);
    return {x, y, std::isfinite(x) && std::isfinite(y)};
}

// Whether the bilinear taps of a position all miss the picture.
bool OffPicture(const Position& p, cv::Size picture)
{
    return !p.valid || p.x <= -1.0 || p.y <= -1.0 || p.x >= picture.width || p.y >= picture.height;
}

bool InsideCircle(const Position& p, const CircleSpans& circle)
{
    const long x = Nearest(p.x), y = Nearest(p.y);
    if (y < 0 || y >= circle.size.height)
        return false;
    const size_t row = static_cast<size_t>(y);
    return x >= circle.first[row] && x < circle.end[row];
}

// One plane's entry for a position in the source square, scaled to a plane of
// planeSize (the frame's luma or chroma, bytesPerSample apart), with the border around it.
uint32_t Entry(double xs, double ys, int side, cv::Size planeSize, int bytesPerSample)
{
    const double x = (xs + 0.5) * planeSize.width / side - 0.5;
    const double y = (ys + 0.5) * planeSize.height / side - 0.5;
    const long fx = Nearest(x * kFastFractionSteps), fy = Nearest(y * kFastFractionSteps);
    const long tx = fx >> kFastFractionBits, ty = fy >> kFastFractionBits;  // floor, also below 0
    if (tx < -kFastBorder || ty < -kFastBorder || tx > planeSize.width - 1 || ty > planeSize.height - 1)
        return 0;
    const long pitch = planeSize.width + 2 * kFastBorder;
    const unsigned long offset = static_cast<unsigned long>(((ty + kFastBorder) * pitch + tx + kFastBorder) * bytesPerSample);
    const unsigned long fraction = static_cast<unsigned long>(((fy & (kFastFractionSteps - 1)) << kFastFractionBits) |
                                                              (fx & (kFastFractionSteps - 1)));
    return static_cast<uint32_t>((offset << kFastOffsetShift) | fraction);
}

void SourcePosition(const FastTableSource& s, const Position& p, double& xs, double& ys)
{
    xs = (p.x + s.offset + 0.5) * s.scale - 0.5;
    ys = (p.y + s.offset + 0.5) * s.scale - 0.5;
}

void Allocate(FastPlaneTable& t, int rows, int cols)
{
    t.entries.create(rows, cols, CV_32SC1);
}

// The centre of the 2 x 2 block whose top-left entry is (row, col).
Position BlockCentre(const FastTableSource& s, int row, int col)
{
    const cv::Size n = s.tableSize;
    const int row1 = std::min(row + 1, n.height - 1);
    const int col1 = s.wrapColumns ? (col + 1) % n.width : std::min(col + 1, n.width - 1);
    const Position q[4] = {At(s, row, col), At(s, row, col1), At(s, row1, col), At(s, row1, col1)};
    if (!q[0].valid)
        return q[0];
    double lowX = q[0].x, highX = q[0].x, lowY = q[0].y, highY = q[0].y, sumX = 0, sumY = 0;
    for (const Position& p : q) {
        if (!p.valid)
            return q[0];
        lowX = std::min(lowX, p.x);
        highX = std::max(highX, p.x);
        lowY = std::min(lowY, p.y);
        highY = std::max(highY, p.y);
        sumX += p.x;
        sumY += p.y;
    }
    if (highX - lowX > kSeamSpread || highY - lowY > kSeamSpread)
        return q[0];
    return {sumX / 4, sumY / 4, true};
}

}  // namespace

cv::Mat FastPlanes::LumaInside() const
{
    return luma(cv::Rect(kFastBorder, kFastBorder, width, height));
}
cv::Mat FastPlanes::ChromaInside() const
{
    return chroma(cv::Rect(kFastBorder, kFastBorder, width / 2, height / 2));
}

bool FastFrameFits(int width, int height)
{
    const long long bordered = static_cast<long long>(width + 2 * kFastBorder) * (height + 2 * kFastBorder);
    return width >= 2 && height >= 2 && bordered < (1LL << (32 - kFastOffsetShift));
}

bool PrepareFastPlanes(int width, int height, FastPlanes& planes)
{
    if (!FastFrameFits(width, height))
        return false;
    if (planes.width == width && planes.height == height && !planes.empty())
        return true;
    const int b = 2 * kFastBorder;
    // The gathers read these at scattered places: large pages where granted.
    zrbase::CreateLargePicture(planes.luma, height + b, width + b, CV_8UC1);
    zrbase::CreateLargePicture(planes.chroma, height / 2 + b, width / 2 + b, CV_8UC2);
    planes.luma.setTo(0);
    planes.chroma.setTo(0);
    planes.width = width;
    planes.height = height;
    return true;
}

void BuildFastTable(const FastTableSource& s, cv::Size frame, FastTable& out)
{
    out = FastTable();
    const cv::Size n = s.tableSize;
    if (n.width < 1 || n.height < 1 || !FastFrameFits(frame.width, frame.height))
        return;
    if (!s.mapX.empty() && (s.mapX.size() != n || s.mapY.size() != n))
        return;
    out.frame = frame;
    out.tableSize = n;
    const int side = frame.width;  // the source square
    const cv::Size chromaPlane(frame.width / 2, frame.height / 2);

    Allocate(out.luma, n.height, n.width);
    ParallelRows(n.height, n.width, [&](int first, int end) {
        for (int r = first; r < end; ++r) {
            uint32_t* entry = out.luma.entries.ptr<uint32_t>(r);
            for (int c = 0; c < n.width; ++c) {
                const Position p = At(s, r, c);
                if (OffPicture(p, s.picture) || (s.circle && !InsideCircle(p, *s.circle))) {
                    entry[c] = 0;
                    continue;
                }
                double xs, ys;
                SourcePosition(s, p, xs, ys);
                entry[c] = Entry(xs, ys, side, frame, 1);
            }
        }
    });

    for (int py = 0; py < (s.allPhases ? 2 : 1); ++py)
        for (int px = 0; px < (s.allPhases ? 2 : 1); ++px) {
            FastPlaneTable& t = out.chroma[py][px];
            const int rows = (n.height - py + 1) / 2, cols = (n.width - px + 1) / 2;
            if (rows < 1 || cols < 1)
                continue;
            Allocate(t, rows, cols);
            ParallelRows(rows, cols, [&](int first, int end) {
                for (int a = first; a < end; ++a) {
                    uint32_t* entry = t.entries.ptr<uint32_t>(a);
                    for (int b = 0; b < cols; ++b) {
                        const Position p = BlockCentre(s, py + 2 * a, px + 2 * b);
                        if (OffPicture(p, s.picture)) {
                            entry[b] = 0;
                            continue;
                        }
                        double xs, ys;
                        SourcePosition(s, p, xs, ys);
                        entry[b] = Entry(xs, ys, side, chromaPlane, 2);
                    }
                }
            });
        }
}

}  // namespace kernels
}  // namespace zrfe
