// Reference-counted planar pictures and the frames that hold them.
#include <atomic>
#include <cstring>
#include <exception>
#include <vector>

#include "ZRBase.h"
#include "ZRFishEyeTypes.h"

struct CZRPacketPIC::Impl {
    std::atomic<int> refs{1};
    unsigned int format = 0;
    int planes = 0;
    std::vector<unsigned char> data[3];
};

CZRPacketPIC::CZRPacketPIC() : m_uWidth(0), m_uHeight(0), m_uLines{0, 0, 0}, m_uPitch{0, 0, 0}, m_pImpl(new Impl) {}
CZRPacketPIC::~CZRPacketPIC() = default;

CZRPacketPIC* CZRPacketPIC::Acquire(unsigned int uWidth, unsigned int uHeight, unsigned int uFormat,
                                    const unsigned int* pPitch, int nCount)
{
    if (uFormat != ZR_PIC_FORMAT_YV12 || uWidth == 0 || uHeight == 0 || !ZRFitsPictureLimit(uWidth, uHeight))
        return nullptr;
    const unsigned int widths[3] = {uWidth, uWidth / 2, uWidth / 2};
    const unsigned int lines[3] = {uHeight, uHeight / 2, uHeight / 2};
    unsigned int pitches[3];
    for (int p = 0; p < 3; ++p) {
        pitches[p] = (pPitch && p < nCount) ? pPitch[p] : widths[p];
        // Padding may widen a line, but not past twice the widest picture.
        if (pitches[p] < widths[p] || pitches[p] > 2u * ZR_FE_MAX_PICTURE_SIDE)
            return nullptr;
    }
    CZRPacketPIC* pkt = nullptr;
    try {
        pkt = new CZRPacketPIC;
        pkt->m_uWidth = uWidth;
        pkt->m_uHeight = uHeight;
        pkt->m_pImpl->format = uFormat;
        pkt->m_pImpl->planes = 3;
        for (int p = 0; p < 3; ++p) {
            pkt->m_uLines[p] = lines[p];
            pkt->m_uPitch[p] = pitches[p];
            pkt->m_pImpl->data[p].assign(static_cast<size_t>(pitches[p]) * lines[p], 0);
        }
    } catch (const std::exception&) {
        delete pkt;  // out of memory: no packet, as for a bad size
        return nullptr;
    }
    return pkt;
}

void CZRPacketPIC::AddRef() { m_pImpl->refs.fetch_add(1); }

void CZRPacketPIC::Release()
{
    if (m_pImpl->refs.fetch_sub(1) == 1)
        delete this;
}

unsigned int CZRPacketPIC::GetFormat() const { return m_pImpl->format; }
int CZRPacketPIC::GetPlaneCount() const { return m_pImpl->planes; }

unsigned char* CZRPacketPIC::GetLine(int nPlane, int nLine)
{
    if (nPlane < 0 || nPlane >= m_pImpl->planes || nLine < 0 || static_cast<unsigned int>(nLine) >= m_uLines[nPlane])
        return nullptr;
    return m_pImpl->data[nPlane].data() + static_cast<size_t>(m_uPitch[nPlane]) * static_cast<unsigned int>(nLine);
}

int CZRPacketPIC::SetLine(int nPlane, int nFirstLine, const unsigned char* pSrc, unsigned int uWidth, unsigned int uLines)
{
    if (nPlane < 0 || nPlane >= m_pImpl->planes || nFirstLine < 0 || (!pSrc && uLines > 0))
        return -1;
    const unsigned long long first = static_cast<unsigned int>(nFirstLine);
    if (uWidth > m_uPitch[nPlane] || first + uLines > m_uLines[nPlane])
        return -1;
    for (unsigned int y = 0; y < uLines; ++y)
        std::memcpy(GetLine(nPlane, static_cast<int>(first + y)), pSrc + static_cast<size_t>(y) * uWidth, uWidth);
    return 0;
}

CZRFrame::CZRFrame() : m_pPacket(nullptr) {}

CZRFrame::CZRFrame(const CZRFrame& other) : m_pPacket(other.m_pPacket)
{
    if (m_pPacket)
        m_pPacket->AddRef();
}

CZRFrame& CZRFrame::operator=(const CZRFrame& other)
{
    SetPicture(other.m_pPacket);
    return *this;
}

CZRFrame::~CZRFrame()
{
    if (m_pPacket)
        m_pPacket->Release();
}

int CZRFrame::SetPicture(CZRPacketPIC* pPacket)
{
    if (pPacket)
        pPacket->AddRef();  // before the release: the new packet may be the old one
    if (m_pPacket)
        m_pPacket->Release();
    m_pPacket = pPacket;
    return 0;
}

CZRPacketPIC* CZRFrame::GetPicture() const { return m_pPacket; }
