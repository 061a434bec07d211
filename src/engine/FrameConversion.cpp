#include "FrameConversion.h"

#include "base/LargePictures.h"
#include "kernels/Kernels.h"

namespace zrfe {

namespace {
// A working picture of the target size, reallocated only when its size or type
// differ. The sub views gather from it directly.
void Prepare(cv::Mat& dst, int w, int h)
{
    zrbase::CreateLargePicture(dst, h, w, CV_8UC3);
}
}  // namespace

bool IsReadableFrameDesc(const tag_ZRFRAME* pDesc)
{
    // The source picture is a square of the frame's width, so that square must fit too.
    return pDesc && pDesc->pData[0] && pDesc->pData[1] && pDesc->nWidth >= 2 && pDesc->nHeight >= 2 &&
           pDesc->nPitch[0] >= pDesc->nWidth && pDesc->nPitch[1] >= (pDesc->nWidth / 2) * 2 &&
           ZRFitsPictureLimit(pDesc->nWidth, pDesc->nHeight) && ZRFitsPictureLimit(pDesc->nWidth, pDesc->nWidth);
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
    return ZRFitsPictureLimit(pPacket->m_uWidth, pPacket->m_uHeight) &&
           ZRFitsPictureLimit(pPacket->m_uWidth, pPacket->m_uWidth);
}

int FrameDescToMat(const tag_ZRFRAME* pDesc, cv::Mat& dst, int w, int h)
{
    if (!IsReadableFrameDesc(pDesc) || w < 1 || h < 1)
        return -1;
    Prepare(dst, w, h);
    kernels::ActiveKernels().nv12ToWorking(*pDesc, dst);
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
    Prepare(dst, w, h);
    // Plane 2 carries U (working channel 1), plane 1 carries V (channel 2).
    kernels::ActiveKernels().planesToWorking(planes[0], planes[2], planes[1], dst);
    return 0;
}

bool FramePicture(CZRFrame& frm, ViewSize size, PlanarPicture& out)
{
    const int W = size.width, H = size.height;
    if (W < 2 || H < 2)
        return false;
    CZRPacketPIC* pkt = frm.GetPicture();
    if (!pkt || pkt->m_uWidth != static_cast<unsigned int>(W) || pkt->m_uHeight != static_cast<unsigned int>(H)) {
        CZRPacketPIC* fresh = CZRPacketPIC::Acquire(static_cast<unsigned int>(W), static_cast<unsigned int>(H),
                                                    ZR_PIC_FORMAT_YV12, nullptr, 0);
        if (!fresh)
            return false;
        frm.SetPicture(fresh);
        fresh->Release();
        pkt = frm.GetPicture();
    }
    // The packet's planes are Y, V, U.
    out.width = W;
    out.height = H;
    const int order[3] = {0, 2, 1};
    for (int c = 0; c < 3; ++c) {
        out.planes[c] = pkt->GetLine(order[c], 0);
        out.pitches[c] = static_cast<int>(pkt->m_uPitch[order[c]]);
    }
    return true;
}

}  // namespace zrfe
