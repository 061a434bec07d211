#include "FuzzFrames.h"

#include <algorithm>
#include <climits>

namespace zrfuzz {

namespace {
// A buffer claimed to be larger than this is left out (the descriptor then points at nothing).
const size_t kMaxPlaneBytes = 1 << 20;

int Saturated(long long v) { return static_cast<int>(std::min<long long>(std::max<long long>(v, INT_MIN), INT_MAX)); }
}  // namespace

int FuzzedSize(FuzzedDataProvider& in, int typical)
{
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: {
        // Anything, negative and huge included; but a legal size far above the typical one would
        // spend seconds building tables, so it is folded back (the limits test covers those).
        const int v = in.ConsumeIntegral<int>();
        return v > typical && v <= ZR_FE_MAX_PICTURE_SIDE ? v % (typical + 1) : v;
    }
    case 1:
        return in.PickValueInArray({0, 1, 2, 3, ZR_FE_MAX_PICTURE_SIDE, ZR_FE_MAX_PICTURE_SIDE + 1, 1 << 20, INT_MAX});
    default:
        return in.ConsumeIntegralInRange<int>(0, typical);
    }
}

std::unique_ptr<HostFrame> MakeHostFrame(FuzzedDataProvider& in)
{
    std::unique_ptr<HostFrame> f(new HostFrame);
    f->desc.nWidth = FuzzedSize(in, 96);
    f->desc.nHeight = FuzzedSize(in, 96);
    const int pad0 = in.ConsumeIntegralInRange<int>(-4, 8), pad1 = in.ConsumeIntegralInRange<int>(-4, 8);
    f->desc.nPitch[0] = in.ConsumeBool() ? FuzzedSize(in, 128) : Saturated(f->desc.nWidth + 0LL + pad0);
    f->desc.nPitch[1] = in.ConsumeBool() ? FuzzedSize(in, 128) : Saturated(f->desc.nWidth / 2 * 2 + 0LL + pad1);
    f->desc.nPitch[2] = in.ConsumeIntegral<int>();
    f->desc.u64Reserved = in.ConsumeIntegral<unsigned long long>();
    const long long rows[2] = {f->desc.nHeight, f->desc.nHeight / 2};
    for (int p = 0; p < 2; ++p) {
        const long long claimed = static_cast<long long>(f->desc.nPitch[p]) * rows[p];
        if (in.ConsumeIntegralInRange<int>(0, 31) == 0 || claimed <= 0 || claimed > static_cast<long long>(kMaxPlaneBytes))
            continue;  // a missing plane
        f->planes[p].resize(static_cast<size_t>(claimed));
        const std::vector<unsigned char> fill = in.ConsumeBytes<unsigned char>(f->planes[p].size());
        std::copy(fill.begin(), fill.end(), f->planes[p].begin());
        f->desc.pData[p] = f->planes[p].data();
    }
    return f;
}

std::unique_ptr<CZRFrame> MakePacketFrame(FuzzedDataProvider& in)
{
    std::unique_ptr<CZRFrame> frm(new CZRFrame);
    const unsigned int w = static_cast<unsigned int>(FuzzedSize(in, 96));
    const unsigned int h = static_cast<unsigned int>(FuzzedSize(in, 96));
    const unsigned int pitches[3] = {in.ConsumeIntegralInRange<unsigned int>(0, 160),
                                     in.ConsumeIntegralInRange<unsigned int>(0, 80),
                                     in.ConsumeIntegralInRange<unsigned int>(0, 80)};
    const unsigned int format = in.ConsumeBool() ? ZR_PIC_FORMAT_YV12 : in.ConsumeIntegral<unsigned int>();
    CZRPacketPIC* pkt = CZRPacketPIC::Acquire(w, h, format, pitches, in.ConsumeIntegralInRange<int>(-1, 4));
    if (!pkt)
        return frm;
    for (int p = 0; p < 3; ++p) {
        const std::vector<unsigned char> row = in.ConsumeBytes<unsigned char>(pkt->m_uPitch[p]);
        for (unsigned int y = 0; y < pkt->m_uLines[p] && !row.empty(); ++y)
            pkt->SetLine(p, static_cast<int>(y), row.data(), static_cast<unsigned int>(row.size()), 1);
    }
    frm->SetPicture(pkt);
    pkt->Release();
    return frm;
}

}  // namespace zrfuzz
