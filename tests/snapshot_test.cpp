// Snapshots: capture, edit, join and save.
#include <filesystem>
#include <memory>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "TestSupport.h"

namespace {

using zrtest::Nv12Buffer;
using zrtest::Recorder;

HWND Window(int n) { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x3000 + n)); }

class SnapshotTest : public ::testing::Test {
protected:
    // Ceiling camera, r = 256 (s = 272), two sub views of 160 x 120 of which only the second has a window.
    void Open(ENUM_ZR_FE_INSTALL_MODE_E mode, ENUM_ZR_FE_VIEW_TYPE_E view, const Nv12Buffer& frame)
    {
        d.reset(new CZRFishEyeDewarper(mode, 256, view, 256, 160, 120, 0));
        show.Clear();
        d->SetShowCallBack(&show);
        d->SetSubViewNum(2);
        d->SetSubViewHwnd(Window(1), 1);
        d->SetNormalY(30, 1);
        d->SetLineMask(0x3);
        d->Start();
        ASSERT_TRUE(zrtest::Feed(*d, show, const_cast<tag_ZRFRAME*>(&frame.desc), 2));
    }

    std::filesystem::path TempPath(const std::string& name)
    {
        const auto dir = std::filesystem::temp_directory_path() / ("zrfisheye_snap_" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        return dir / name;
    }

    void TearDown() override
    {
        d.reset();
        std::filesystem::remove_all(std::filesystem::temp_directory_path() /
                                    ("zrfisheye_snap_" + std::to_string(::getpid())));
    }

    std::unique_ptr<CZRFishEyeDewarper> d;
    Recorder show;
};

Nv12Buffer Grey() { return zrtest::FlatNv12(544, 544, 120, 128, 128); }

TEST_F(SnapshotTest, EveryEditFailsWithoutAnOpenSnapshot)
{
    Nv12Buffer frame = Grey();
    Open(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL, frame);
    int key = -7;
    EXPECT_EQ(d->SnapResize(0, 10, 10), -1);
    EXPECT_EQ(d->SnapAddBlackBorder(0, 2), -1);
    EXPECT_EQ(d->SnapHorconcat({0, 0}, key), -1);
    EXPECT_EQ(d->SnapVerconcat({0, 0}, key), -1);
    EXPECT_EQ(d->SavePic(TempPath("a.png").string(), 0, 0), -1);
    EXPECT_EQ(key, -7);
    EXPECT_EQ(d->SnapStop(), 0);
    ASSERT_EQ(d->SnapStart(), 0);
    ASSERT_EQ(d->SnapStop(), 0);
    EXPECT_EQ(d->SnapResize(0, 10, 10), -1) << "after SnapStop the store is gone";
}

TEST_F(SnapshotTest, CaptureHoldsTheMainViewAndSubViewsWithWindows)
{
    Nv12Buffer frame = Grey();
    Open(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL, frame);
    ASSERT_EQ(d->SnapStart(), 0);
    EXPECT_EQ(d->SnapStart(), -1) << "already open";
    // Key 0: the 512-pixel square around the circle, luma 0 in the corners and no outlines;
    // key 2: sub view 1; key 1 is missing because sub view 0 has no window.
    const std::string main = TempPath("main.png").string();
    ASSERT_EQ(d->SavePic(main, 0, 0), 0);
    const cv::Mat saved = cv::imread(main);
    ASSERT_EQ(saved.size(), cv::Size(512, 512));
    EXPECT_EQ(saved.at<cv::Vec3b>(0, 0), cv::Vec3b(0, 0, 0)) << "(0, 128, 128) is black";
    // Grey 120 everywhere inside: an outline would show as another value.
    cv::Mat grey;
    cv::cvtColor(saved, grey, cv::COLOR_BGR2GRAY);
    cv::Mat inside(512, 512, CV_8UC1, cv::Scalar(0));
    cv::circle(inside, cv::Point(256, 256), 250, cv::Scalar(255), -1);
    double lo, hi;
    cv::minMaxLoc(grey, &lo, &hi, nullptr, nullptr, inside);
    EXPECT_NEAR(lo, 120, 2);
    EXPECT_NEAR(hi, 120, 2);
    EXPECT_EQ(d->SavePic(TempPath("one.png").string(), 1, 0), -1);
    EXPECT_EQ(d->SavePic(TempPath("two.png").string(), 2, 0), 0);
    EXPECT_EQ(cv::imread(TempPath("two.png").string()).size(), cv::Size(160, 120));
}

TEST_F(SnapshotTest, MainPicturesAreTurnedHalvedOrLeftWholeAsDisplayed)
{
    Nv12Buffer quadrants(544, 544, 0, [](int x, int y) { return static_cast<unsigned char>(x < 272 ? (y < 272 ? 30 : 90) : (y < 272 ? 150 : 210)); },
                         [](int, int) { return 128; }, [](int, int) { return 128; });
    Open(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, quadrants);
    ASSERT_EQ(d->SnapStart(), 0);
    ASSERT_EQ(d->SavePic(TempPath("straight.png").string(), 0, 0), 0);
    ASSERT_EQ(d->SnapStop(), 0);
    ASSERT_EQ(d->SetGroundAngle(90), 0);
    ASSERT_EQ(d->SnapStart(), 0);
    ASSERT_EQ(d->SavePic(TempPath("turned.png").string(), 0, 0), 0);
    ASSERT_EQ(d->SnapStop(), 0);
    const cv::Mat straight = cv::imread(TempPath("straight.png").string());
    const cv::Mat turned = cv::imread(TempPath("turned.png").string());
    ASSERT_EQ(straight.size(), cv::Size(1608, 256));
    cv::Mat expected;
    cv::hconcat(straight.colRange(402, 1608), straight.colRange(0, 402), expected);  // trunc(1608 / 4)
    EXPECT_EQ(cv::norm(turned, expected, cv::NORM_INF), 0.0);

    Nv12Buffer frame = Grey();
    Open(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_DOUBLE_PANORAMA, frame);
    ASSERT_EQ(d->SnapStart(), 0);
    ASSERT_EQ(d->SavePic(TempPath("double.png").string(), 0, 0), 0);
    EXPECT_EQ(cv::imread(TempPath("double.png").string()).size(), cv::Size(800, 512));  // (1608 / 16) * 8 wide
    ASSERT_EQ(d->SnapStop(), 0);

    // Wall: the whole working square, unmasked.
    Open(ZR_FE_INSTALL_WALL, ZR_FE_VIEW_ORIGINAL, frame);
    ASSERT_EQ(d->SnapStart(), 0);
    ASSERT_EQ(d->SavePic(TempPath("wall.png").string(), 0, 0), 0);
    const cv::Mat wall = cv::imread(TempPath("wall.png").string(), cv::IMREAD_GRAYSCALE);
    ASSERT_EQ(wall.size(), cv::Size(576, 576));
    EXPECT_NEAR(wall.at<unsigned char>(0, 0), 120, 2);
}

TEST_F(SnapshotTest, EditsReplacePicturesAndJoinsGetRisingKeys)
{
    Nv12Buffer frame = Grey();
    Open(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL, frame);
    ASSERT_EQ(d->SnapStart(), 0);
    int key = -1;
    EXPECT_EQ(d->SnapHorconcat({0, 2}, key), -1) << "512 rows against 120";
    EXPECT_EQ(key, -1);
    ASSERT_EQ(d->SnapResize(0, 160, 120), 0);
    ASSERT_EQ(d->SnapHorconcat({0, 2}, key), 0);
    EXPECT_EQ(key, 100);
    ASSERT_EQ(d->SnapHorconcat({2, 2, 0}, key), 0);
    EXPECT_EQ(key, 101);
    ASSERT_EQ(d->SnapVerconcat({2}, key), -1) << "a single part";
    EXPECT_EQ(key, 101);
    EXPECT_EQ(d->SnapVerconcat({100, 2}, key), -1) << "320 columns against 160";
    ASSERT_EQ(d->SnapVerconcat({2, 2}, key), 0);
    EXPECT_EQ(key, 102);
    ASSERT_EQ(d->SnapHorconcat({100, 0}, key), 0) << "a joined picture serves as a part";
    EXPECT_EQ(d->SnapHorconcat({0, 77}, key), -1);

    // A 16-pixel bar on each side, black in the working format.
    ASSERT_EQ(d->SnapAddBlackBorder(2, 16), 0);
    ASSERT_EQ(d->SavePic(TempPath("bars.png").string(), 2, 0), 0);
    const cv::Mat bars = cv::imread(TempPath("bars.png").string());
    ASSERT_EQ(bars.size(), cv::Size(192, 120));
    EXPECT_EQ(bars.at<cv::Vec3b>(60, 0), cv::Vec3b(0, 0, 0));
    EXPECT_EQ(bars.at<cv::Vec3b>(60, 191), cv::Vec3b(0, 0, 0));
    EXPECT_GT(bars.at<cv::Vec3b>(60, 96)[1], 0);

    // Failed edits keep the last good picture.
    EXPECT_EQ(d->SnapResize(2, 0, 10), -1);
    EXPECT_EQ(d->SnapResize(2, -5, 10), -1);
    EXPECT_EQ(d->SnapAddBlackBorder(2, -1), -1);
    EXPECT_EQ(d->SavePic(TempPath("x.unknownext").string(), 2, 0), -1);
    EXPECT_EQ(d->SavePic(TempPath("").string(), 2, 0), -1) << "a directory";
    EXPECT_EQ(d->SavePic("/nonexistent-dir/deeper/x.png", 2, 0), -1);
    EXPECT_EQ(d->SavePic(std::string(5000, 'a') + ".png", 2, 0), -1);
    ASSERT_EQ(d->SavePic(TempPath("bars2.jpg").string(), 2, 0), 0);
    EXPECT_EQ(cv::imread(TempPath("bars2.jpg").string()).size(), cv::Size(192, 120));

    // Keys start again at 100 after SnapStop.
    ASSERT_EQ(d->SnapStop(), 0);
    ASSERT_EQ(d->SnapStart(), 0);
    ASSERT_EQ(d->SnapVerconcat({2, 2}, key), 0);
    EXPECT_EQ(key, 100);
}

TEST_F(SnapshotTest, SavedPicturesShowTheNaturalColours)
{
    // Four patches of known colour, converted to NV12 the way a decoder would (BGR to YUV).
    const cv::Vec3b patches[4] = {{40, 40, 220}, {40, 200, 40}, {220, 60, 40}, {200, 200, 200}};
    cv::Mat bgr(544, 544, CV_8UC3);
    for (int y = 0; y < 544; ++y)
        for (int x = 0; x < 544; ++x)
            bgr.at<cv::Vec3b>(y, x) = patches[(x >= 272) + 2 * (y >= 272)];
    cv::Mat yuv;
    cv::cvtColor(bgr, yuv, cv::COLOR_BGR2YUV);
    Nv12Buffer frame(
        544, 544, 0, [&](int x, int y) { return yuv.at<cv::Vec3b>(y, x)[0]; },
        [&](int x, int y) { return yuv.at<cv::Vec3b>(2 * y, 2 * x)[1]; },
        [&](int x, int y) { return yuv.at<cv::Vec3b>(2 * y, 2 * x)[2]; });
    Open(ZR_FE_INSTALL_WALL, ZR_FE_VIEW_ORIGINAL, frame);
    ASSERT_EQ(d->SnapStart(), 0);
    ASSERT_EQ(d->SavePic(TempPath("patches.png").string(), 0, 0), 0);
    const cv::Mat back = cv::imread(TempPath("patches.png").string());
    ASSERT_EQ(back.size(), cv::Size(576, 576));
    // Patch centres; YUV rounding and the bilinear resize move a flat colour by a unit or two.
    const cv::Point centres[4] = {{144, 144}, {432, 144}, {144, 432}, {432, 432}};
    for (int i = 0; i < 4; ++i)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(back.at<cv::Vec3b>(centres[i])[c], patches[i][c], 3) << "patch " << i << " channel " << c;
}

TEST(SnapshotCaptureTest, NothingToCaptureLeavesNoSnapshotOpen)
{
    CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_ORIGINAL, 256, 160, 120, 0);
    EXPECT_EQ(d.SnapStart(), -1) << "stopped dewarper";
    int key;
    EXPECT_EQ(d.SnapHorconcat({0, 0}, key), -1);
    d.Start();
    EXPECT_EQ(d.SnapStart(), -1) << "no frame yet";
    EXPECT_EQ(d.SnapResize(0, 4, 4), -1) << "and nothing waits on it";
}

}  // namespace
