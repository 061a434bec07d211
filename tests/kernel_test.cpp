// The kernel checker: every version of every kernel against the reference, on
// random pictures of many sizes (odd, not multiples of 16 or 64, one row or
// column, circles and taps across the rims), each output inside guard bytes.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "LiteralComposition.h"
#include "TestSupport.h"
#include "kernels/Kernels.h"

namespace {

using zrfe::kernels::KernelTable;

const unsigned char kGuard = 0xA5;
const int kMargin = 16;  // guard bytes before and after every row and plane

// A picture inside a larger buffer filled with guard bytes.
struct Guarded {
    std::vector<unsigned char> buffer;
    cv::Mat picture;
    Guarded(int rows, int cols, int type)
    {
        const int elem = CV_ELEM_SIZE(type);
        const int stride = cols * elem + 2 * kMargin;
        buffer.assign(static_cast<size_t>(stride) * static_cast<size_t>(rows + 2) + 2 * kMargin, kGuard);
        picture = cv::Mat(rows, cols, type, buffer.data() + kMargin + stride, static_cast<size_t>(stride));
    }
    // Only the picture's own bytes may differ from the guard.
    bool GuardsIntact() const
    {
        std::vector<unsigned char> rest = buffer;
        cv::Mat(picture.size(), picture.type(), rest.data() + (picture.data - buffer.data()), picture.step)
            .setTo(cv::Scalar::all(kGuard));
        return std::all_of(rest.begin(), rest.end(), [](unsigned char b) { return b == kGuard; });
    }
};

bool SameBytes(const Guarded& a, const Guarded& b)
{
    return a.buffer.size() == b.buffer.size() && std::memcmp(a.buffer.data(), b.buffer.data(), a.buffer.size()) == 0;
}

cv::Mat Random(int rows, int cols, int type, cv::RNG& rng)
{
    cv::Mat m(rows, cols, type);
    rng.fill(m, cv::RNG::UNIFORM, 0, 256);
    return m;
}

const std::vector<cv::Size> kSizes = {{1, 1},  {2, 2},   {7, 1},   {1, 9},   {3, 2},   {2, 3},
                                      {17, 5}, {16, 16}, {33, 31}, {50, 34}, {64, 64}, {65, 47}, {130, 129}};

// Runs check(table) for every table but the reference, naming the table in failures.
void ForEachCandidate(const std::function<void(const KernelTable&)>& check)
{
    const std::vector<const KernelTable*> tables = zrfe::kernels::AvailableKernelTables();
    ASSERT_GE(tables.size(), 2u) << "a build has the reference and at least one faster table";
    ASSERT_STREQ(tables.front()->name, "reference");
    for (size_t i = 1; i < tables.size(); ++i) {
        SCOPED_TRACE(tables[i]->name);
        check(*tables[i]);
    }
}

std::string Named(const char* what, cv::Size size)
{
    return what + (" " + std::to_string(size.width) + "x" + std::to_string(size.height));
}

// Calls the kernel on a fresh guarded output (CV_8UC3) for each table and compares.
void Compare(cv::Size size, const std::function<void(const KernelTable&, cv::Mat&)>& call, const KernelTable& candidate,
             const std::string& what)
{
    Guarded expected(size.height, size.width, CV_8UC3), got(size.height, size.width, CV_8UC3);
    call(zrfe::kernels::ReferenceKernels(), expected.picture);
    call(candidate, got.picture);
    ASSERT_TRUE(expected.GuardsIntact()) << "reference, " << what;
    ASSERT_TRUE(got.GuardsIntact()) << what;
    ASSERT_TRUE(SameBytes(expected, got)) << what;
}

// The same for a 4:2:0 picture of this size: three planes, each inside guard bytes.
void ComparePlanes(cv::Size size, const std::function<void(const KernelTable&, const zrfe::PlanarPicture&)>& call,
                   const KernelTable& candidate, const std::string& what)
{
    const int w = size.width, h = size.height;
    Guarded expected[3] = {{h, w, CV_8UC1}, {h / 2, w / 2, CV_8UC1}, {h / 2, w / 2, CV_8UC1}};
    Guarded got[3] = {{h, w, CV_8UC1}, {h / 2, w / 2, CV_8UC1}, {h / 2, w / 2, CV_8UC1}};
    auto picture = [](const Guarded* g) { return zrtest::PictureOf({g[0].picture, g[1].picture, g[2].picture}); };
    call(zrfe::kernels::ReferenceKernels(), picture(expected));
    call(candidate, picture(got));
    for (int p = 0; p < 3; ++p) {
        ASSERT_TRUE(got[p].GuardsIntact()) << what << ", plane " << p;
        ASSERT_TRUE(SameBytes(expected[p], got[p])) << what << ", plane " << p;
    }
}

// A table of random positions inside, on and past the rims of a source, on whole
// pixels, halves (ties of the rounding) and in between.
zrfe::kernels::RemapTable RandomTable(cv::Size table, cv::Size src, cv::RNG& rng)
{
    cv::Mat mapX(table, CV_32FC1), mapY(table, CV_32FC1);
    rng.fill(mapX, cv::RNG::UNIFORM, -2.0, src.width + 2.0);
    rng.fill(mapY, cv::RNG::UNIFORM, -2.0, src.height + 2.0);
    for (int i = 0; i < static_cast<int>(mapX.total()); i += 3) {
        mapX.at<float>(i) = static_cast<float>(rng.uniform(-128, 64 * src.width + 128)) / 64.0f;
        mapY.at<float>(i) = static_cast<float>(rng.uniform(-128, 64 * src.height + 128)) / 64.0f;
    }
    mapX.at<float>(0) = std::nanf("");
    zrfe::kernels::RemapTable out;
    zrfe::kernels::BuildRemapTable(mapX, mapY, out);
    return out;
}

// The layouts a view uses: the whole table, rows turned with a wrap, two halves stacked.
std::vector<zrfe::kernels::RowLayout> Layouts(cv::Size table)
{
    std::vector<zrfe::kernels::RowLayout> layouts = {zrfe::kernels::WholeTable(table)};
    zrfe::kernels::RowLayout turned = layouts[0];
    for (int& start : turned.columnStart)
        start = table.width * 2 / 3;
    layouts.push_back(turned);
    zrfe::kernels::RowLayout halves;
    halves.width = table.width / 2;
    for (int part = 0; part < 2; ++part)
        for (int r = 0; r < table.height; ++r) {
            halves.tableRow.push_back(r);
            halves.columnStart.push_back((1 + part * halves.width) % table.width);
        }
    if (halves.width > 0)
        layouts.push_back(halves);
    return layouts;
}

TEST(KernelCheck, RemapGathersAsTheReferenceIncludingTapsOffThePicture)
{
    cv::RNG rng(11);
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& src : kSizes)
            for (const cv::Size& table : {cv::Size(1, 1), cv::Size(19, 5), cv::Size(64, 33)}) {
                const cv::Mat input = Random(src.height, src.width, CV_8UC3, rng);
                const zrfe::kernels::RemapTable remap = RandomTable(table, src, rng);
                for (const zrfe::kernels::RowLayout& layout : Layouts(table))
                    Compare({layout.width, layout.height()},
                            [&](const KernelTable& t, cv::Mat& dst) { t.remap(input, remap, layout, dst); }, k,
                            Named("remap", src));
            }
    });
}

TEST(KernelCheck, RemapStraightTo420GivesTheReferencePlanes)
{
    cv::RNG rng(17);
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& src : kSizes)
            for (const cv::Size& table : {cv::Size(2, 2), cv::Size(19, 6), cv::Size(64, 33), cv::Size(150, 64)}) {
                const cv::Mat input = Random(src.height, src.width, CV_8UC3, rng);
                const zrfe::kernels::RemapTable remap = RandomTable(table, src, rng);
                for (const zrfe::kernels::RowLayout& layout : Layouts(table)) {
                    const cv::Size out(layout.width, layout.height());
                    if (out.width >= 2 && out.height >= 2)  // the library writes pictures of at least 2 x 2
                        ComparePlanes(out, [&](const KernelTable& t, const zrfe::PlanarPicture& p) { t.remapTo420(input, remap, layout, p); },
                                      k, Named("remap to 4:2:0,", out));
                }
            }
    });
}

// Whole pictures and regions cut anywhere, scaled up, down, by half and not at all.
TEST(KernelCheck, ResizeScalesAsTheReference)
{
    cv::RNG rng(12);
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& src : kSizes)
            for (const cv::Size& out : kSizes) {
                const cv::Mat input = Random(src.height, src.width, CV_8UC3, rng);
                const int x = rng.uniform(0, out.width), y = rng.uniform(0, out.height);
                const cv::Rect part(x, y, rng.uniform(1, out.width - x + 1), rng.uniform(1, out.height - y + 1));
                for (const cv::Rect& region : {cv::Rect(cv::Point(), out), part})
                    Compare(region.size(),
                            [&](const KernelTable& t, cv::Mat& dst) { t.resize(input, out, region, nullptr, dst); },
                            k, Named("resize to", out));
            }
        // A picture halved exactly, and one as large as a lens circle's.
        for (const cv::Size& src : {cv::Size(130, 66), cv::Size(640, 640)}) {
            const cv::Mat input = Random(src.height, src.width, CV_8UC3, rng);
            for (const cv::Size& out : {cv::Size(65, 33), cv::Size(544, 544)})
                Compare(cv::Size(out.width - 8, out.height - 8),
                        [&](const KernelTable& t, cv::Mat& dst) {
                            t.resize(input, out, cv::Rect(4, 4, out.width - 8, out.height - 8), nullptr, dst);
                        },
                        k, Named("resize to", out));
        }
    });
}

// Positions in a disc of the picture, as a panorama of a lens circle reads it,
// the rim's taps partly off the picture.
zrfe::kernels::RemapTable DiscTable(cv::Size table, cv::Size picture, cv::RNG& rng)
{
    cv::Mat mapX(table, CV_32FC1), mapY(table, CV_32FC1);
    const float radius = 0.5f * static_cast<float>(std::min(picture.width, picture.height));
    const float cx = static_cast<float>(rng.uniform(0.0, static_cast<double>(picture.width)));
    const float cy = static_cast<float>(rng.uniform(0.0, static_cast<double>(picture.height)));
    for (int i = 0; i < static_cast<int>(mapX.total()); ++i) {
        const float rho = static_cast<float>(rng.uniform(0.0, radius + 1.5));
        const float angle = static_cast<float>(rng.uniform(0.0, 6.3));
        mapX.at<float>(i) = cx + rho * std::cos(angle);
        mapY.at<float>(i) = cy + rho * std::sin(angle);
    }
    zrfe::kernels::RemapTable out;
    zrfe::kernels::BuildRemapTable(mapX, mapY, out);
    return out;
}

// A circle resized for a panorama needs only the pixels that the panorama's table
// reads: with the rest left holding anything, the gather gives the same picture.
TEST(KernelCheck, ResizeForATableWritesAllThatItsGatherReads)
{
    cv::RNG rng(19);
    const KernelTable& reference = zrfe::kernels::ReferenceKernels();
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& src : {cv::Size(67, 53), cv::Size(160, 160)})
            for (const cv::Size& whole : {cv::Size(57, 45), cv::Size(128, 128), cv::Size(150, 121)}) {
                const std::string what = Named("resize for a table to", whole);
                const cv::Mat input = Random(src.height, src.width, CV_8UC3, rng);
                const cv::Rect region(3, 2, whole.width - 5, whole.height - 4);
                cv::Mat full(region.size(), CV_8UC3);
                reference.resize(input, whole, region, nullptr, full);
                const zrfe::kernels::RemapTable table = DiscTable({61, 17}, region.size(), rng);
                zrfe::kernels::RowSpans reads;
                zrfe::kernels::BuildTableReads(table, reads);
                ASSERT_TRUE(std::any_of(reads.end.begin(), reads.end.end(), [](int e) { return e > 0; })) << what;
                cv::Mat partial = Random(region.height, region.width, CV_8UC3, rng);  // what a scratch picture held
                k.resize(input, whole, region, &reads, partial);
                for (int y = 0; y < std::min(reads.rows(), region.height); ++y) {
                    const int first = std::min(reads.first[static_cast<size_t>(y)], region.width);
                    const int end = std::min(reads.end[static_cast<size_t>(y)], region.width);
                    if (first < end) {
                        ASSERT_EQ(cv::norm(full.row(y).colRange(first, end), partial.row(y).colRange(first, end),
                                           cv::NORM_INF),
                                  0)
                            << what << ", row " << y;
                    }
                }
                const zrfe::kernels::RowLayout layout = zrfe::kernels::WholeTable(table.size());
                cv::Mat expected(table.size(), CV_8UC3), got(table.size(), CV_8UC3);
                reference.remap(full, table, layout, expected);
                k.remap(partial, table, layout, got);
                ASSERT_EQ(cv::norm(expected, got, cv::NORM_INF), 0) << what;
            }
    });
}

TEST(KernelCheck, MaskKeepsChromaAndClearsLumaOutsideTheSameCircle)
{
    cv::RNG rng(13);
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& size : kSizes)
            for (int radius : {0, 1, 3, size.width / 2, size.width + 5}) {
                const cv::Mat input = Random(size.height, size.width, CV_8UC3, rng);
                // Centred, off centre and outside the picture.
                for (const cv::Point centre : {cv::Point(size.width / 2, size.height / 2), cv::Point(1, size.height),
                                               cv::Point(-4, -4)}) {
                    zrfe::kernels::CircleSpans circle;
                    zrfe::kernels::BuildCircleSpans(size, centre, radius, circle);
                    Compare(size,
                            [&](const KernelTable& t, cv::Mat& dst) {
                                input.copyTo(dst);
                                t.maskCircle(dst, circle);
                            },
                            k, Named("mask", size));
                }
            }
    });
}

TEST(KernelCheck, Nv12FramesConvertAsTheReference)
{
    cv::RNG rng(14);
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& size : kSizes) {
            if (size.width < 2 || size.height < 2)
                continue;  // a frame is at least 2 x 2
            for (int pad : {0, 3}) {
                auto noise = [&rng](int, int) { return static_cast<unsigned char>(rng.next()); };
                const zrtest::Nv12Buffer frame(size.width, size.height, pad, noise, noise, noise);
                // The square of the frame's width, the frame's own size, and an odd target.
                for (const cv::Size& target : {cv::Size(size.width, size.width), size, cv::Size(13, 7)})
                    Compare(target, [&](const KernelTable& t, cv::Mat& dst) { t.nv12ToWorking(frame.desc, dst); }, k,
                            Named("nv12", size));
            }
        }
    });
}

TEST(KernelCheck, PlanarPicturesConvertAsTheReference)
{
    cv::RNG rng(15);
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& size : kSizes) {
            const cv::Mat luma = Random(size.height, size.width, CV_8UC1, rng);
            const cv::Size half(std::max(1, size.width / 2), std::max(1, size.height / 2));
            const cv::Mat u = Random(half.height, half.width, CV_8UC1, rng);
            const cv::Mat v = Random(half.height, half.width, CV_8UC1, rng);
            // At the luma's size the luma passes unscaled while the chroma is still scaled.
            for (const cv::Size& target : {size, cv::Size(size.width, size.width), cv::Size(9, 4)})
                Compare(target, [&](const KernelTable& t, cv::Mat& dst) { t.planesToWorking(luma, u, v, dst); }, k,
                        Named("planes", size));
        }
    });
}

TEST(KernelCheck, WorkingPicturesBecomeTheSame420Planes)
{
    cv::RNG rng(16);
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& size : kSizes) {
            if (size.width < 2 || size.height < 2)
                continue;  // the library writes pictures of at least 2 x 2
            const cv::Mat input = Random(size.height, size.width, CV_8UC3, rng);
            ComparePlanes(size, [&](const KernelTable& t, const zrfe::PlanarPicture& out) { t.workingTo420(input, out); }, k,
                          Named("4:2:0 of", size));
        }
    });
}

// Fast mode's gather on random frames through tables composed from random
// positions (inside, on and past the rims, NaN), with and without the lens mask,
// for frames taller and shorter than wide, in every layout (odd column starts read
// the other chroma phase).
TEST(KernelCheck, FastGatherReadsTheFramePlanesAsTheReference)
{
    cv::RNG rng(18);
    ForEachCandidate([&](const KernelTable& k) {
        for (const cv::Size& frame : kSizes) {
            if (frame.width < 2 || frame.height < 2)
                continue;  // a frame is at least 2 x 2
            zrfe::kernels::FastPlanes planes;
            ASSERT_TRUE(zrfe::kernels::PrepareFastPlanes(frame.width, frame.height, planes));
            for (cv::Mat inside : {planes.LumaInside(), planes.ChromaInside()})
                rng.fill(inside, cv::RNG::UNIFORM, 0, 256);
            for (const cv::Size& tableSize : {cv::Size(2, 2), cv::Size(19, 6), cv::Size(64, 33), cv::Size(130, 64)}) {
                const zrfe::kernels::RemapTable remap = RandomTable(tableSize, frame, rng);
                zrfe::kernels::CircleSpans circle;
                zrfe::kernels::BuildCircleSpans(frame, cv::Point(frame.width / 2, frame.height / 2), frame.width / 3, circle);
                zrfe::kernels::FastTableSource source;
                source.mapX = remap.mapX;
                source.mapY = remap.mapY;
                source.tableSize = tableSize;
                source.picture = frame;
                source.offset = rng.uniform(0, 3);
                source.scale = rng.uniform(0.5, 2.0);
                source.circle = rng.uniform(0, 2) ? &circle : nullptr;
                source.wrapColumns = true;
                source.allPhases = true;
                zrfe::kernels::FastTable table;
                zrfe::kernels::BuildFastTable(source, frame, table);
                ASSERT_FALSE(table.empty());
                for (const zrfe::kernels::RowLayout& layout : Layouts(tableSize)) {
                    const cv::Size out(layout.width, layout.height());
                    if (out.width >= 2 && out.height >= 2)
                        ComparePlanes(out, [&](const KernelTable& t, const zrfe::PlanarPicture& p) { t.fastRemapTo420(planes, table, layout, p); },
                                      k, Named("fast gather from", frame));
                }
            }
        }
    });
}

// With the OpenCV that the checks above hold the kernels to, the start-up
// comparison keeps every entry of the fastest table.
TEST(KernelCheck, TheActiveTableIsTheLastOneAvailable)
{
    const KernelTable& active = zrfe::kernels::ActiveKernels();
    const KernelTable& last = *zrfe::kernels::AvailableKernelTables().back();
    EXPECT_STREQ(active.name, last.name);
    EXPECT_EQ(active.remap, last.remap);
    EXPECT_EQ(active.remapTo420, last.remapTo420);
    EXPECT_EQ(active.resize, last.resize);
    EXPECT_EQ(active.nv12ToWorking, last.nv12ToWorking);
    EXPECT_EQ(active.planesToWorking, last.planesToWorking);
}

}  // namespace
