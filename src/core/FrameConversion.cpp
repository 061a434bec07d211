#include "FrameConversion.h"

#include <opencv2/imgproc.hpp>

namespace zrfe {

namespace {
cv::Mat Scaled(const cv::Mat& plane, int w, int h)
{
    cv::Mat out;
    cv::resize(plane, out, cv::Size(w, h), 0, 0, cv::INTER_LINEAR);
    return out;
}
}  // namespace

bool IsReadableFrameDesc(const tag_ZRFRAME* pDesc)
{
    return pDesc && pDesc->pData[0] && pDesc->pData[1] && pDesc->nWidth >= 2 && pDesc->nHeight >= 2 &&
           pDesc->nPitch[0] >= pDesc->nWidth && pDesc->nPitch[1] >= (pDesc->nWidth / 2) * 2;
}

bool IsReadablePicture(CZRPacketPIC* pPacket)
{
    if (!pPacket || pPacket->GetPlaneCount() != 3 || pPacket->m_uWidth < 2 || pPacket->m_uHeight < 2)
        return false;
    const unsigned int widths[3] = {pPacket->m_uWidth, pPacket->m_uWidth / 2, pPacket->m_uWidth / 2};
    const unsigned int lines[3] = {pPacket->m_uHeight, pPacket->m_uHeight / 2, pPacket->m_uHeight / 2};
    for (int p = 0; p < 3; ++p)
        if (pPacket->m_uPitch[p] < widths[p] || pPacket->m_uLines[p] < lines[p] || !pPacket->GetLine(p, 0))
            return false;
    return pPacket->m_uWidth < 0x7FFFFFFFu && pPacket->m_uHeight < 0x7FFFFFFFu;
}

int FrameDescToMat(const tag_ZRFRAME* pDesc, cv::Mat& dst, int w, int h)
{
    if (!IsReadableFrameDesc(pDesc) || w < 1 || h < 1)
        return -1;
    // Copying the first nWidth bytes of each line drops the pitch padding.
    const cv::Mat lumaView(pDesc->nHeight, pDesc->nWidth, CV_8UC1, pDesc->pData[0],
                           static_cast<size_t>(pDesc->nPitch[0]));
    const cv::Mat luma = lumaView.clone();
    const cv::Mat chromaView(pDesc->nHeight / 2, pDesc->nWidth / 2, CV_8UC2, pDesc->pData[1],
                             static_cast<size_t>(pDesc->nPitch[1]));
    cv::Mat uv[2];
    cv::split(chromaView, uv);  // byte 2x is U, byte 2x + 1 is V
    const cv::Mat channels[3] = {Scaled(luma, w, h), Scaled(uv[0], w, h), Scaled(uv[1], w, h)};
    cv::merge(channels, 3, dst);
    return 0;
}

int PictureToMat(CZRPacketPIC* pPacket, cv::Mat& dst, int w, int h)
{
    if (!IsReadablePicture(pPacket) || w < 1 || h < 1)
        return -1;
    cv::Mat planes[3];
    for (int p = 0; p < 3; ++p)
        planes[p] = cv::Mat(static_cast<int>(pPacket->m_uLines[p]), static_cast<int>(pPacket->m_uPitch[p]), CV_8UC1,
                            pPacket->GetLine(p, 0));
    const int width = static_cast<int>(pPacket->m_uWidth);
    const int height = static_cast<int>(pPacket->m_uHeight);
    // Whether to cut away padding is decided by plane 0 alone.
    if (static_cast<int>(pPacket->m_uPitch[0]) != width || static_cast<int>(pPacket->m_uLines[0]) != height) {
        planes[0] = planes[0](cv::Rect(0, 0, width, height));
        planes[1] = planes[1](cv::Rect(0, 0, width / 2, height / 2));
        planes[2] = planes[2](cv::Rect(0, 0, width / 2, height / 2));
    }
    const cv::Mat luma = planes[0].size() == cv::Size(w, h) ? planes[0] : Scaled(planes[0], w, h);
    // Plane 2 carries U (working channel 1), plane 1 carries V (channel 2).
    const cv::Mat channels[3] = {luma, Scaled(planes[2], w, h), Scaled(planes[1], w, h)};
    cv::merge(channels, 3, dst);
    return 0;
}

int MatToFrame(CZRFrame& frm, const cv::Mat& src)
{
    if (src.channels() != 3 || src.cols < 2 || src.rows < 2)
        return -1;
    cv::Mat ch[3];
    cv::split(src, ch);
    const int W = src.cols, H = src.rows;
    const cv::Mat u = Scaled(ch[1], W / 2, H / 2);
    const cv::Mat v = Scaled(ch[2], W / 2, H / 2);

    CZRPacketPIC* pkt = frm.GetPicture();
    if (!pkt || pkt->m_uWidth != static_cast<unsigned int>(W) || pkt->m_uHeight != static_cast<unsigned int>(H)) {
        CZRPacketPIC* fresh = CZRPacketPIC::Acquire(W, H, ZR_PIC_FORMAT_YV12, nullptr, 0);
        if (!fresh)
            return -1;
        frm.SetPicture(fresh);
        fresh->Release();
        pkt = frm.GetPicture();
    }
    pkt->SetLine(0, 0, ch[0].data, W, H);
    pkt->SetLine(1, 0, v.data, W / 2, H / 2);
    pkt->SetLine(2, 0, u.data, W / 2, H / 2);
    return 0;
}

}  // namespace zrfe
