#include "TestSupport.h"

#include <opencv2/imgproc.hpp>

namespace zrtest {

CZRPacketPIC* PacketFromWorking(const cv::Mat& working)
{
    cv::Mat ch[3];
    cv::split(working, ch);
    const int w = working.cols, h = working.rows;
    CZRPacketPIC* pkt = CZRPacketPIC::Acquire(w, h, ZR_PIC_FORMAT_YV12, nullptr, 0);
    cv::Mat u, v;
    cv::resize(ch[1], u, cv::Size(w / 2, h / 2), 0, 0, cv::INTER_NEAREST);
    cv::resize(ch[2], v, cv::Size(w / 2, h / 2), 0, 0, cv::INTER_NEAREST);
    pkt->SetLine(0, 0, ch[0].data, w, h);
    pkt->SetLine(1, 0, v.data, w / 2, h / 2);
    pkt->SetLine(2, 0, u.data, w / 2, h / 2);
    return pkt;
}

cv::Mat PlanesOf(CZRPacketPIC* pkt, int plane)
{
    return cv::Mat(static_cast<int>(pkt->m_uLines[plane]), static_cast<int>(pkt->m_uPitch[plane]), CV_8UC1,
                   pkt->GetLine(plane, 0))
        .clone();
}

bool Feed(CZRFishEyeDewarper& d, Recorder& rec, tag_ZRFRAME* frame, size_t signals)
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        d.Process(frame);
        if (rec.WaitForCount(signals, 400))
            return true;
    }
    return false;
}

cv::Mat FrameToWorking(CZRFrame* frm)
{
    CZRPacketPIC* pkt = frm->GetPicture();
    if (!pkt)
        return cv::Mat();
    const int w = static_cast<int>(pkt->m_uWidth), h = static_cast<int>(pkt->m_uHeight);
    cv::Mat y = PlanesOf(pkt, 0)(cv::Rect(0, 0, w, h)).clone();
    cv::Mat v = PlanesOf(pkt, 1)(cv::Rect(0, 0, w / 2, h / 2)).clone();
    cv::Mat u = PlanesOf(pkt, 2)(cv::Rect(0, 0, w / 2, h / 2)).clone();
    cv::resize(u, u, cv::Size(w, h), 0, 0, cv::INTER_NEAREST);
    cv::resize(v, v, cv::Size(w, h), 0, 0, cv::INTER_NEAREST);
    cv::Mat out;
    cv::merge(std::vector<cv::Mat>{y, u, v}, out);
    return out;
}

}  // namespace zrtest
