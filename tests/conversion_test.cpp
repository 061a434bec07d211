// Frame conversion between host formats and the working format.
#include <gtest/gtest.h>
#include <opencv2/imgproc.hpp>

#include "TestSupport.h"
#include "core/FrameConversion.h"

namespace {

using zrtest::Nv12Buffer;

TEST(FrameDescToMatTest, PitchPaddingIsDroppedAndChannelsAreYUV)
{
    // Luma is a gradient, chroma flat; padding bytes are 255 and must not show.
    Nv12Buffer buf(16, 8, 5, [](int x, int y) { return static_cast<unsigned char>(x * 10 + y); },
                   [](int, int) { return 60; }, [](int, int) { return 190; });
    cv::Mat out;
    ASSERT_EQ(zrfe::FrameDescToMat(&buf.desc, out, 16, 8), 0);
    ASSERT_EQ(out.type(), CV_8UC3);
    ASSERT_EQ(out.size(), cv::Size(16, 8));
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 16; ++x) {
            const cv::Vec3b p = out.at<cv::Vec3b>(y, x);
            ASSERT_EQ(p[0], x * 10 + y) << x << "," << y;
            ASSERT_EQ(p[1], 60);   // U, the first byte of each pair
            ASSERT_EQ(p[2], 190);  // V
        }
    EXPECT_EQ(zrfe::FrameDescToMat(nullptr, out, 16, 8), -1);
}

TEST(FrameDescToMatTest, NonSquareAndOddFramesAreStretchedToTheTarget)
{
    Nv12Buffer buf(40, 30, 0, [](int x, int) { return static_cast<unsigned char>(x * 6); },
                   [](int x, int) { return static_cast<unsigned char>(x * 12); }, [](int, int) { return 128; });
    cv::Mat out;
    ASSERT_EQ(zrfe::FrameDescToMat(&buf.desc, out, 40, 40), 0);
    EXPECT_EQ(out.size(), cv::Size(40, 40));
    // The reference: the same planes stretched with cv::resize.
    cv::Mat y(30, 40, CV_8UC1, buf.luma.data()), yExp;
    cv::resize(y, yExp, cv::Size(40, 40), 0, 0, cv::INTER_LINEAR);
    cv::Mat ch[3];
    cv::split(out, ch);
    EXPECT_EQ(cv::norm(ch[0], yExp, cv::NORM_INF), 0.0);

    // 7 x 5: 3 chroma pairs on 2 lines are read, the rest is not touched.
    Nv12Buffer odd(7, 5, 0, [](int, int) { return 50; }, [](int, int) { return 70; }, [](int, int) { return 90; });
    odd.chroma.resize(6 * 2);  // exactly 2 lines of 3 pairs: AddressSanitizer sees any read beyond
    odd.desc.pData[1] = odd.chroma.data();
    ASSERT_EQ(zrfe::FrameDescToMat(&odd.desc, out, 7, 7), 0);
    EXPECT_EQ(out.at<cv::Vec3b>(6, 6), cv::Vec3b(50, 70, 90));
}

TEST(PictureToMatTest, PacketPlanesYVUBecomeWorkingChannelsYUV)
{
    cv::Mat working(8, 8, CV_8UC3, cv::Scalar(10, 50, 200));
    CZRPacketPIC* pkt = zrtest::PacketFromWorking(working);
    // Plane 1 holds V and plane 2 holds U.
    EXPECT_EQ(pkt->GetLine(1, 0)[0], 200);
    EXPECT_EQ(pkt->GetLine(2, 0)[0], 50);
    cv::Mat out;
    ASSERT_EQ(zrfe::PictureToMat(pkt, out, 8, 8), 0);
    EXPECT_EQ(out.at<cv::Vec3b>(3, 3), cv::Vec3b(10, 50, 200));

    // And back: MatToFrame puts V into plane 1 and U into plane 2 again.
    CZRFrame frame;
    ASSERT_EQ(zrfe::MatToFrame(frame, out), 0);
    CZRPacketPIC* back = frame.GetPicture();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->GetLine(0, 7)[7], 10);
    EXPECT_EQ(back->GetLine(1, 3)[3], 200);
    EXPECT_EQ(back->GetLine(2, 3)[3], 50);
    pkt->Release();
    EXPECT_EQ(zrfe::PictureToMat(nullptr, out, 8, 8), -1);
}

TEST(PictureToMatTest, LumaPassesUnscaledAtItsOwnSizeWhileChromaIsScaledUp)
{
    cv::Mat working(8, 8, CV_8UC3);
    cv::randu(working, 0, 256);
    CZRPacketPIC* pkt = zrtest::PacketFromWorking(working);
    cv::Mat out;
    ASSERT_EQ(zrfe::PictureToMat(pkt, out, 8, 8), 0);
    cv::Mat ch[3], src[3];
    cv::split(out, ch);
    cv::split(working, src);
    EXPECT_EQ(cv::norm(ch[0], src[0], cv::NORM_INF), 0.0);
    cv::Mat u(4, 4, CV_8UC1, pkt->GetLine(2, 0)), uExp;
    cv::resize(u, uExp, cv::Size(8, 8), 0, 0, cv::INTER_LINEAR);
    EXPECT_EQ(cv::norm(ch[1], uExp, cv::NORM_INF), 0.0);
    pkt->Release();
}

TEST(PictureToMatTest, PaddingIsCutOnlyWhenPlaneZeroIsPadded)
{
    // Plane 0 unpadded, chroma planes padded with 255: not narrowed, so the padding is scaled in.
    const unsigned int pitches[3] = {8, 6, 6};
    CZRPacketPIC* pkt = CZRPacketPIC::Acquire(8, 8, ZR_PIC_FORMAT_YV12, pitches, 3);
    std::vector<unsigned char> chroma(6 * 4, 255), luma(64, 100);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            chroma[y * 6 + x] = 128;
    pkt->SetLine(0, 0, luma.data(), 8, 8);
    pkt->SetLine(1, 0, chroma.data(), 6, 4);
    pkt->SetLine(2, 0, chroma.data(), 6, 4);
    cv::Mat out;
    ASSERT_EQ(zrfe::PictureToMat(pkt, out, 8, 8), 0);
    EXPECT_GT(out.at<cv::Vec3b>(0, 7)[1], 128) << "the 6-column chroma plane is scaled whole";
    pkt->Release();

    // Plane 0 padded: every plane is narrowed and the padding disappears.
    const unsigned int padded[3] = {12, 6, 6};
    pkt = CZRPacketPIC::Acquire(8, 8, ZR_PIC_FORMAT_YV12, padded, 3);
    for (int y = 0; y < 8; ++y)
        std::fill(pkt->GetLine(0, y), pkt->GetLine(0, y) + 12, 255), std::fill(pkt->GetLine(0, y), pkt->GetLine(0, y) + 8, 100);
    pkt->SetLine(1, 0, chroma.data(), 6, 4);
    pkt->SetLine(2, 0, chroma.data(), 6, 4);
    ASSERT_EQ(zrfe::PictureToMat(pkt, out, 8, 8), 0);
    EXPECT_EQ(out.at<cv::Vec3b>(0, 7), cv::Vec3b(100, 128, 128));
    pkt->Release();
}

TEST(MatToFrameTest, ReusesThePacketForOneSizeAndRefusesOtherChannelCounts)
{
    CZRFrame frame;
    cv::Mat a(6, 10, CV_8UC3, cv::Scalar(1, 2, 3)), b(6, 10, CV_8UC3, cv::Scalar(4, 5, 6));
    ASSERT_EQ(zrfe::MatToFrame(frame, a), 0);
    CZRPacketPIC* first = frame.GetPicture();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->m_uWidth, 10u);
    EXPECT_EQ(first->m_uHeight, 6u);
    ASSERT_EQ(zrfe::MatToFrame(frame, b), 0);
    EXPECT_EQ(frame.GetPicture(), first) << "same size: rewritten in place";
    EXPECT_EQ(first->GetLine(0, 5)[9], 4);
    EXPECT_EQ(first->GetLine(1, 2)[4], 6);
    EXPECT_EQ(first->GetLine(2, 2)[4], 5);

    cv::Mat gray(6, 10, CV_8UC1, cv::Scalar(9)), four(6, 10, CV_8UC4, cv::Scalar(9, 9, 9, 9));
    EXPECT_EQ(zrfe::MatToFrame(frame, gray), -1);
    EXPECT_EQ(zrfe::MatToFrame(frame, four), -1);
    EXPECT_EQ(frame.GetPicture(), first);
    EXPECT_EQ(first->GetLine(0, 0)[0], 4);

    cv::Mat c(8, 12, CV_8UC3, cv::Scalar(7, 8, 9));
    ASSERT_EQ(zrfe::MatToFrame(frame, c), 0);
    ASSERT_NE(frame.GetPicture(), nullptr);
    EXPECT_EQ(frame.GetPicture()->m_uWidth, 12u);
    EXPECT_EQ(frame.GetPicture()->m_uHeight, 8u);
}

}  // namespace
