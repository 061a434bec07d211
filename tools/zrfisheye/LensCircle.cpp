#include "LensCircle.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <opencv2/imgproc.hpp>


namespace zrtool {

namespace {

const double kPi = 3.14159265358979323846;

// Frames are searched at most this large; finer adds time, not accuracy, at 0.1 % of the radius.
const int kWorkSide = 2048;
const int kRays = 720;
const double kBlurSigma = 1.0;
// The least fall in grey level per pixel, across the smoothed rim, that counts as an edge.
const double kMinFall = 2.0;
const int kEdgesPerRay = 16;
// Samples this close to the frame edge are left out: the fill beyond it would look like a rim.
const double kEdgeMargin = 3.0;
const int kTrials = 1000;
// Three rim points closer than this (in rays) fit a circle too loosely to try.
const int kMinRaySpread = kRays / 24;
const int kRefinements = 4;
// A circle counts when it is seen on this share of the rays, and on this share of the rays
// that cross it inside the frame.
const double kMinRayShare = 0.15;
const double kMinConfidence = 0.5;
const int kBlackLuma = 0;  // the library's black: Y 0, U 128, V 128
const int kBlackChroma = 128;

// Where the lit circle ends along a ray: the last sample this much above the border's level.
const double kRimContrast = 8.0;
const int kBorderSamples = 4;

struct Edge {
    cv::Point2d p;
    int ray;
};

double Tolerance(double r) { return 1.0 + 0.004 * r; }

bool Circumcircle(const cv::Point2d& a, const cv::Point2d& b, const cv::Point2d& c, cv::Point2d& centre, double& r)
{
    const double d = 2 * (a.x * (b.y - c.y) + b.x * (c.y - a.y) + c.x * (a.y - b.y));
    if (std::abs(d) < 1e-9)
        return false;
    const double a2 = a.dot(a), b2 = b.dot(b), c2 = c.dot(c);
    centre.x = (a2 * (b.y - c.y) + b2 * (c.y - a.y) + c2 * (a.y - b.y)) / d;
    centre.y = (a2 * (c.x - b.x) + b2 * (a.x - c.x) + c2 * (b.x - a.x)) / d;
    r = cv::norm(a - centre);
    return true;
}

// For each ray its outermost edge within the tolerance of the circle (index into edges, or -1):
// a lens casts a dark ring or two inside its rim, and the rim is the last fall to the border.
std::vector<int> RimEdges(const std::vector<Edge>& edges, const cv::Point2d& centre, double r)
{
    std::vector<int> best(kRays, -1);
    std::vector<double> reach(kRays, 0.0);
    const double tolerance = Tolerance(r);
    for (size_t i = 0; i < edges.size(); ++i) {
        const double d = cv::norm(edges[i].p - centre);
        if (std::abs(d - r) < tolerance && (best[edges[i].ray] < 0 || d > reach[edges[i].ray])) {
            reach[edges[i].ray] = d;
            best[edges[i].ray] = static_cast<int>(i);
        }
    }
    return best;
}

int Count(const std::vector<int>& rim)
{
    return static_cast<int>(std::count_if(rim.begin(), rim.end(), [](int i) { return i >= 0; }));
}

// Least squares on x^2 + y^2 + D x + E y + F = 0.
bool FitCircle(const std::vector<Edge>& edges, const std::vector<int>& rim, cv::Point2d& centre, double& r)
{
    cv::Mat a(0, 3, CV_64F), b(0, 1, CV_64F);
    for (int i : rim) {
        if (i < 0)
            continue;
        const cv::Point2d& p = edges[i].p;
        const double row[3] = {p.x, p.y, 1.0};
        a.push_back(cv::Mat(1, 3, CV_64F, const_cast<double*>(row)));
        b.push_back(-(p.x * p.x + p.y * p.y));
    }
    const int kUnknowns = 3;
    cv::Mat x;
    if (a.rows < kUnknowns || !cv::solve(a, b, x, cv::DECOMP_SVD))
        return false;
    const double dd = x.at<double>(0), ee = x.at<double>(1), ff = x.at<double>(2);
    const double r2 = (dd * dd + ee * ee) / 4 - ff;
    if (r2 <= 0)
        return false;
    centre = cv::Point2d(-dd / 2, -ee / 2);
    r = std::sqrt(r2);
    return true;
}

}  // namespace

CircleParse ParseCircleText(const std::string& text, CircleChoice& choice)
{
    CircleChoice c;
    if (text == "auto") {
        c.mode = CircleChoice::kAuto;
        choice = c;
        return CircleParse::kOk;
    }
    char tail = 0;
    if (std::sscanf(text.c_str(), "%lf,%lf,%lf%c", &c.circle.cx, &c.circle.cy, &c.circle.r, &tail) != 3 ||
        !std::isfinite(c.circle.cx) || !std::isfinite(c.circle.cy) || !std::isfinite(c.circle.r))
        return CircleParse::kBadText;
    if (c.circle.r < kMinCircleRadius)
        return CircleParse::kSmallRadius;
    c.mode = CircleChoice::kGiven;
    choice = c;
    return CircleParse::kOk;
}

std::string CircleText(const LensCircle& c)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.0f,%.0f,%.0f", c.cx, c.cy, c.r);
    return text;
}

CircleFinding FindLensCircle(const std::vector<cv::Mat>& frames)
{
    CircleFinding result;
    if (frames.empty() || frames[0].empty())
        return result;
    const cv::Size full = frames[0].size();
    const double scale = std::min(1.0, static_cast<double>(kWorkSide) / std::max(full.width, full.height));
    const cv::Size work(std::max(1, static_cast<int>(std::lround(full.width * scale))),
                        std::max(1, static_cast<int>(std::lround(full.height * scale))));
    cv::Mat sum = cv::Mat::zeros(work, CV_32F);
    for (const cv::Mat& f : frames) {
        if (f.size() != full)
            continue;
        cv::Mat grey, small;
        if (f.channels() == 1)
            grey = f;
        else
            cv::cvtColor(f, grey, f.channels() == 4 ? cv::COLOR_BGRA2GRAY : cv::COLOR_BGR2GRAY);
        cv::resize(grey, small, work, 0, 0, cv::INTER_AREA);
        cv::accumulate(small, sum);
    }
    const cv::Mat mean = sum / static_cast<double>(frames.size());
    cv::Mat grey;
    cv::GaussianBlur(mean, grey, cv::Size(), kBlurSigma);

    // Rows of the polar picture are rays, columns the distance from the frame centre.
    const cv::Point2d from((work.width - 1) / 2.0, (work.height - 1) / 2.0);
    const double reach = std::hypot(from.x, from.y) + 1;
    const int samples = static_cast<int>(std::ceil(reach));
    cv::Mat polar;
    cv::warpPolar(grey, polar, cv::Size(samples, kRays), from, reach,
                  cv::INTER_LINEAR | cv::WARP_FILL_OUTLIERS | cv::WARP_POLAR_LINEAR);
    // Unblurred, for placing the rim: blur would spill a lit inside over a thin dark ring at the rim.
    cv::Mat sharp;
    cv::warpPolar(mean, sharp, cv::Size(samples, kRays), from, reach,
                  cv::INTER_LINEAR | cv::WARP_FILL_OUTLIERS | cv::WARP_POLAR_LINEAR);
    const double step = reach / samples;
    const double minRadius = kMinCircleRadius * scale;

    std::vector<Edge> edges;
    std::vector<int> outerEdges;  // the outermost edge of each ray: the rim, where the border is dark
    std::vector<double> exits(kRays);
    for (int ray = 0; ray < kRays; ++ray) {
        const double angle = 2 * kPi * ray / kRays;
        const double ux = std::cos(angle), uy = std::sin(angle);
        double exit = reach;
        if (std::abs(ux) > 1e-12)
            exit = std::min(exit, ((ux > 0 ? work.width - 1 : 0) - from.x) / ux);
        if (std::abs(uy) > 1e-12)
            exit = std::min(exit, ((uy > 0 ? work.height - 1 : 0) - from.y) / uy);
        exits[ray] = exit;
        const float* p = polar.ptr<float>(ray);
        std::vector<std::pair<double, double>> found;  // fall, radius
        const int last = std::min(samples - 3, static_cast<int>((exit - kEdgeMargin) / step));
        std::vector<double> slope(samples, 0.0);
        for (int j = 1; j + 1 < samples; ++j)
            slope[j] = (p[j + 1] - p[j - 1]) / 2.0;
        for (int j = std::max(2, static_cast<int>(std::ceil(minRadius / step))); j <= last; ++j) {
            const double prev = slope[j - 1], here = slope[j], next = slope[j + 1];
            if (here >= -kMinFall || here > prev || here >= next)
                continue;
            const double curve = prev - 2 * here + next;
            const double shift = curve > 0 ? 0.5 * (prev - next) / curve : 0;
            found.emplace_back(-here, (j + shift) * step);
        }
        std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
        if (found.size() > kEdgesPerRay)
            found.resize(kEdgesPerRay);
        for (const auto& f : found)
            edges.push_back({from + cv::Point2d(ux, uy) * f.second, ray});
        if (!found.empty())
            outerEdges.push_back(static_cast<int>(edges.size()) - static_cast<int>(found.size()) +
                                 static_cast<int>(std::max_element(found.begin(), found.end(),
                                                                   [](const auto& a, const auto& b) {
                                                                       return a.second < b.second;
                                                                   }) -
                                                  found.begin()));
    }
    if (edges.size() < 3)
        return result;

    cv::RNG rng(0x5eed);  // fixed, so that a frame always gives the same circle
    cv::Point2d bestCentre;
    double bestR = 0;
    int bestCount = 0;
    const int n = static_cast<int>(edges.size());
    auto spread = [](int a, int b) {
        const int d = std::abs(a - b);
        return std::min(d, kRays - d) >= kMinRaySpread;
    };
    for (int t = 0; t < kTrials; ++t) {
        // Half the trials draw from the outermost edges alone, the rest from all of them.
        auto draw = [&]() -> const Edge& {
            return t % 2 == 0 ? edges[outerEdges[rng.uniform(0, static_cast<int>(outerEdges.size()))]]
                              : edges[rng.uniform(0, n)];
        };
        const Edge& a = draw();
        const Edge& b = draw();
        const Edge& c = draw();
        if (!spread(a.ray, b.ray) || !spread(b.ray, c.ray) || !spread(a.ray, c.ray))
            continue;
        cv::Point2d centre;
        double r = 0;
        if (!Circumcircle(a.p, b.p, c.p, centre, r) || r < minRadius || centre.x < 0 || centre.y < 0 ||
            centre.x > work.width || centre.y > work.height)
            continue;
        const int count = Count(RimEdges(edges, centre, r));
        if (count > bestCount) {
            bestCount = count;
            bestCentre = centre;
            bestR = r;
        }
    }
    if (bestCount < 3)
        return result;
    std::vector<int> rim;
    for (int k = 0; k < kRefinements; ++k) {
        rim = RimEdges(edges, bestCentre, bestR);
        cv::Point2d centre;
        double r = 0;
        if (!FitCircle(edges, rim, centre, r))
            break;
        bestCentre = centre;
        bestR = r;
    }
    // Each rim point moves out to where the light ends: a fall seen through the blur lies inside
    // any last dark ring of the lens.
    std::vector<Edge> rimPoints;
    const double tolerance = Tolerance(bestR);
    rim = RimEdges(edges, bestCentre, bestR);
    for (int i : rim) {
        if (i < 0)
            continue;
        const Edge& e = edges[i];
        const float* p = sharp.ptr<float>(e.ray);
        const double rho = cv::norm(e.p - from);
        const int inner = std::max(1, static_cast<int>((rho - tolerance) / step));
        const int outer = static_cast<int>(std::ceil((rho + tolerance) / step));
        const int end = std::min(static_cast<int>((exits[e.ray] - kEdgeMargin) / step), outer + kBorderSamples);
        if (end <= outer)
            continue;
        double border = 0;
        for (int j = outer + 1; j <= end; ++j)
            border += p[j];
        border /= end - outer;
        const double level = border + kRimContrast;
        int j = outer;
        while (j > inner && p[j] <= level)
            --j;
        if (j <= inner || p[j + 1] > level)
            continue;
        const double at = (j + (p[j] - level) / (p[j] - p[j + 1])) * step;
        const cv::Point2d u = (e.p - from) * (1.0 / rho);
        rimPoints.push_back({from + u * at, e.ray});
    }
    std::vector<int> all(rimPoints.size());
    for (size_t k = 0; k < all.size(); ++k)
        all[k] = static_cast<int>(k);
    for (int k = 0; k < kRefinements; ++k) {
        cv::Point2d centre;
        double r = 0;
        if (!FitCircle(rimPoints, all, centre, r))
            break;
        bestCentre = centre;
        bestR = r;
        // Points off the fit by more than half the tolerance (a lit object at the rim) are left out.
        for (size_t q = 0; q < rimPoints.size(); ++q)
            all[q] = std::abs(cv::norm(rimPoints[q].p - centre) - r) < tolerance / 2 ? static_cast<int>(q) : -1;
    }
    std::vector<bool> onRim(kRays, false);
    for (const Edge& e : rimPoints)
        if (std::abs(cv::norm(e.p - bestCentre) - bestR) < tolerance)
            onRim[e.ray] = true;

    // Rays from the frame centre that meet the circle's rim before they leave the frame.
    int visible = 0;
    const cv::Point2d toCentre = bestCentre - from;
    for (int ray = 0; ray < kRays; ++ray) {
        const double angle = 2 * kPi * ray / kRays;
        const double along = toCentre.x * std::cos(angle) + toCentre.y * std::sin(angle);
        const double disc = along * along - toCentre.dot(toCentre) + bestR * bestR;
        if (disc >= 0 && along + std::sqrt(disc) < exits[ray] - kEdgeMargin)
            ++visible;
    }
    const int seen = static_cast<int>(std::count(onRim.begin(), onRim.end(), true));
    result.confidence = visible > 0 ? std::min(1.0, static_cast<double>(seen) / visible) : 0;
    result.circle.cx = (bestCentre.x + 0.5) / scale - 0.5;
    result.circle.cy = (bestCentre.y + 0.5) / scale - 0.5;
    result.circle.r = bestR / scale;
    result.found = seen >= kRays * kMinRayShare && result.confidence >= kMinConfidence &&
                   result.circle.r >= kMinCircleRadius;
    return result;
}

SquareCrop CropFor(const LensCircle& c)
{
    SquareCrop s;
    const int r = std::max(1, static_cast<int>(std::lround(c.r)));
    s.side = 2 * r;
    s.x = static_cast<int>(std::floor((std::lround(c.cx) - r) / 2.0)) * 2;
    s.y = static_cast<int>(std::floor((std::lround(c.cy) - r) / 2.0)) * 2;
    return s;
}

cv::Mat CropBgr(const cv::Mat& bgr, const SquareCrop& crop)
{
    cv::Mat out(crop.side, crop.side, bgr.type(), cv::Scalar::all(kBlackLuma));  // BGR black converts to Y 0, U V 128
    const cv::Rect want(crop.x, crop.y, crop.side, crop.side);
    const cv::Rect have = want & cv::Rect(0, 0, bgr.cols, bgr.rows);
    if (!have.empty())
        bgr(have).copyTo(out(have - want.tl()));
    return out;
}

namespace {

struct PlaneSamples {
    PlaneView plane;
    int width, height;
};

// Copies the part of a square that lies inside a plane and fills the rest. Sizes and the
// corner are in the plane's own samples; a sample is `bytes` wide (2 for NV12's U V pairs).
void CropPlane(const PlaneSamples& src, int x, int y, int side, int bytes, unsigned char fill, unsigned char* dst,
               int dstPitch)
{
    const size_t rowBytes = static_cast<size_t>(side) * bytes;
    const int x0 = std::max(x, 0), y0 = std::max(y, 0);
    const int x1 = std::min(x + side, src.width), y1 = std::min(y + side, src.height);
    for (int row = 0; row < side; ++row) {
        unsigned char* out = dst + static_cast<size_t>(row) * dstPitch;
        const int sy = y + row;
        if (sy < y0 || sy >= y1 || x1 <= x0) {
            std::memset(out, fill, rowBytes);
            continue;
        }
        const size_t before = static_cast<size_t>(x0 - x) * bytes, inside = static_cast<size_t>(x1 - x0) * bytes;
        std::memset(out, fill, before);
        std::memcpy(out + before, src.plane.data + static_cast<size_t>(sy) * src.plane.pitch + static_cast<size_t>(x0) * bytes,
                    inside);
        std::memset(out + before + inside, fill, rowBytes - before - inside);
    }
}

// A 4:2:0 frame is read on its even part only, so that each chroma sample covers a whole 2x2 block.
PlaneSamples LumaOf(const Yuv420View& frame)
{
    return {frame.planes[0], frame.width / 2 * 2, frame.height / 2 * 2};
}
PlaneSamples ChromaOf(const Yuv420View& frame, int plane)
{
    return {frame.planes[plane], frame.width / 2, frame.height / 2};
}

}  // namespace

void CropNv12(const Yuv420View& frame, const SquareCrop& crop, const Yuv420Target& out)
{
    CropPlane(LumaOf(frame), crop.x, crop.y, crop.side, 1, kBlackLuma, out.planes[0], out.pitches[0]);
    CropPlane(ChromaOf(frame, 1), crop.x / 2, crop.y / 2, crop.side / 2, 2,
              kBlackChroma, out.planes[1], out.pitches[1]);
}

void CropI420(const Yuv420View& frame, const SquareCrop& crop, const Yuv420Target& out)
{
    CropPlane(LumaOf(frame), crop.x, crop.y, crop.side, 1, kBlackLuma, out.planes[0], out.pitches[0]);
    for (int p = 1; p < 3; ++p)
        CropPlane(ChromaOf(frame, p), crop.x / 2, crop.y / 2, crop.side / 2, 1,
                  kBlackChroma, out.planes[p], out.pitches[p]);
}

zrscene::Nv12Picture CropNv12(const zrscene::Nv12Picture& frame, const SquareCrop& crop)
{
    zrscene::Nv12Picture out;
    out.width = out.height = crop.side;
    out.luma.resize(static_cast<size_t>(crop.side) * crop.side);
    out.chroma.resize(static_cast<size_t>(crop.side / 2) * crop.side);
    // Interleaved U V pairs: a chroma row is as many bytes as the even part of a luma row.
    const int chromaPitch = frame.width / 2 * 2;
    Yuv420View in;
    in.width = frame.width;
    in.height = frame.height;
    in.planes[0] = {frame.luma.data(), frame.width};
    in.planes[1] = {frame.chroma.data(), chromaPitch};
    CropNv12(in, crop, {{out.luma.data(), out.chroma.data(), nullptr}, {crop.side, crop.side, 0}});
    return out;
}

}  // namespace zrtool
