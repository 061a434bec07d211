// A sequence of calls decoded from the input, on one dewarper made for it:
// setters at and past their ranges (NaN angles included), frames, point
// conversions, outlines, snapshot edits, start and stop in any order.
#include <cmath>
#include <limits>
#include <string>
#include <unistd.h>

#include "FuzzFrames.h"

namespace {

const int kMaxCalls = 48;

HWND Window(int n) { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x100 + n)); }

// An index: mostly a valid one, sometimes one past either end or anything.
int FuzzedIndex(FuzzedDataProvider& in, int count)
{
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 0:
        return in.ConsumeIntegral<int>();
    case 1:
        return in.PickValueInArray({-1, count, count + 1});
    default:
        return in.ConsumeIntegralInRange<int>(0, count - 1);
    }
}

unsigned int FuzzedAngle(FuzzedDataProvider& in)
{
    return in.ConsumeBool() ? in.ConsumeIntegralInRange<unsigned int>(0, 400) : in.ConsumeIntegral<unsigned int>();
}

float FuzzedFloat(FuzzedDataProvider& in)
{
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
    case 0:
        return std::numeric_limits<float>::quiet_NaN();
    case 1:
        return in.PickValueInArray({std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                    1e30f, -1e30f, 0.0f});
    default:
        return in.ConsumeFloatingPointInRange<float>(-7.0f, 7.0f);
    }
}

std::vector<int> FuzzedKeys(FuzzedDataProvider& in)
{
    std::vector<int> keys(in.ConsumeIntegralInRange<size_t>(0, 4));
    for (int& k : keys)
        k = in.PickValueInArray({0, 1, 2, 8, 9, 100, 101, -1, in.ConsumeIntegral<int>()});
    return keys;
}

// A folder of this process's own for the pictures SavePic writes.
const std::string& SaveFolder()
{
    static const std::string dir = [] {
        char name[] = "/tmp/zrfe_fuzz_api_XXXXXX";
        const char* made = mkdtemp(name);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

void Call(CZRFishEyeDewarper& d, FuzzedDataProvider& in)
{
    const ENUM_ZR_FE_INSTALL_MODE_E mode = static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(in.ConsumeIntegralInRange<int>(-1, 3));
    const ENUM_ZR_FE_VIEW_TYPE_E view = static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(in.ConsumeIntegralInRange<int>(-1, 3));
    tag_ZR_FE_POINT_S p{in.ConsumeIntegral<unsigned short>(), in.ConsumeIntegral<unsigned short>()};
    tag_ZR_FE_POINT_S q{};
    int key = 0;
    switch (in.ConsumeIntegralInRange<int>(0, 29)) {
    case 0:
        d.SetInstallMode(mode, static_cast<unsigned int>(zrfuzz::FuzzedSize(in, 200)), in.ConsumeBool());
        break;
    case 1:
        d.SetMainViewType(view, in.ConsumeBool());
        break;
    case 2:
        d.SetGroundAngle(FuzzedAngle(in));
        break;
    case 3:
        d.SetWallStarty(static_cast<unsigned int>(zrfuzz::FuzzedSize(in, 400)));
        break;
    case 4:
        d.SetSubViewNum(static_cast<unsigned int>(FuzzedIndex(in, 10)));
        break;
    case 5:
        d.SetNormalSize(static_cast<unsigned int>(zrfuzz::FuzzedSize(in, 96)),
                        static_cast<unsigned int>(zrfuzz::FuzzedSize(in, 96)));
        break;
    case 6:
        d.ZoomNormalView(static_cast<unsigned int>(FuzzedIndex(in, 21)), FuzzedIndex(in, 8));
        break;
    case 7:
        d.SetNormalY(FuzzedAngle(in), FuzzedIndex(in, 8));
        break;
    case 8:
        d.SetNormalZ(FuzzedAngle(in), FuzzedIndex(in, 8));
        break;
    case 9:
        d.MoveNormalView(p, FuzzedIndex(in, 8));
        break;
    case 10: {
        tag_ZR_FE_NORMAL_VIEW_S v{};
        d.GetNormalParam(v, static_cast<unsigned int>(FuzzedIndex(in, 8)));
        float* fields[] = {&v.fAngleX, &v.fAngleY, &v.fAngleZ, &v.fZoomVer, &v.fZoomHor,
                           &v.fPan,    &v.fTilt,   &v.fFovHor, &v.fFovVer};
        *fields[in.ConsumeIntegralInRange<size_t>(0, 8)] = FuzzedFloat(in);
        if (in.ConsumeBool())
            v.uZoom = static_cast<unsigned int>(FuzzedIndex(in, 21));
        d.SetNormalView(v, FuzzedIndex(in, 8));
        break;
    }
    case 11:
        d.GetOriginalPoint(p, q);
        d.GetPanoramaPoint(q, p);
        break;
    case 12: {
        tag_ZR_FE_POINT_SET_S set;
        d.GetSubViewPoints(set, FuzzedIndex(in, 8));
        break;
    }
    case 13: {
        std::unique_ptr<zrfuzz::HostFrame> f = zrfuzz::MakeHostFrame(in);
        d.Process(&f->desc);
        break;
    }
    case 14: {
        std::unique_ptr<CZRFrame> f = zrfuzz::MakePacketFrame(in);
        d.Process(f.get());
        break;
    }
    case 15:
        d.Start();
        break;
    case 16:
        d.Stop();
        break;
    case 17:
        d.SetSubWorkerNum(static_cast<unsigned int>(FuzzedIndex(in, 3)));
        break;
    case 18:
        d.SetSubViewHwnd(in.ConsumeBool() ? Window(1) : nullptr, FuzzedIndex(in, 8));
        break;
    case 19:
        d.SnapStart();
        break;
    case 20:
        d.SnapStop();
        break;
    case 21:
        d.SnapResize(FuzzedIndex(in, 9), zrfuzz::FuzzedSize(in, 200), zrfuzz::FuzzedSize(in, 200));
        break;
    case 22:
        d.SnapAddBlackBorder(FuzzedIndex(in, 9), zrfuzz::FuzzedSize(in, 64));
        break;
    case 23:
        d.SnapHorconcat(FuzzedKeys(in), key);
        break;
    case 24:
        d.SnapVerconcat(FuzzedKeys(in), key);
        break;
    case 25:
        d.SavePic(SaveFolder() + in.PickValueInArray({"/s.bmp", "/s.unknown", "/no/such/dir/s.bmp", ""}),
                  FuzzedIndex(in, 9));
        break;
    case 26:
        d.ResetMainView();
        d.SetLineMask(in.ConsumeIntegral<int>());
        break;
    case 27:
        d.SetRenderMode(static_cast<ENUM_ZR_FE_RENDER_MODE_E>(in.ConsumeIntegralInRange<int>(-1, 2)));
        break;
    case 28: {
        // Mostly real lenses (fields of view near the usual ones, small coefficients), some absurd.
        tag_ZRLENS lens{};
        lens.eModel = static_cast<ENUM_ZR_FE_LENS_E>(in.ConsumeIntegralInRange<int>(-1, 6));
        lens.fFieldOfView = in.ConsumeBool() ? in.ConsumeFloatingPointInRange<float>(150.0f, 240.0f) : FuzzedFloat(in) * 50.0f;
        for (double& k : lens.dK)
            k = in.ConsumeBool() ? 0.0 : static_cast<double>(FuzzedFloat(in)) * 0.01;
        tag_ZRLENS back{};
        d.SetLens(in.ConsumeBool() ? &lens : nullptr);
        d.GetLens(&back);
        break;
    }
    default: {
        CZRFrame* frm = nullptr;
        d.GetFrame(frm, FuzzedIndex(in, 9));
        if (frm && frm->GetPicture())
            (void)*frm->GetPicture()->GetLine(0, 0);
        break;
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    const ENUM_ZR_FE_INSTALL_MODE_E mode = static_cast<ENUM_ZR_FE_INSTALL_MODE_E>(in.ConsumeIntegralInRange<int>(-1, 3));
    const ENUM_ZR_FE_VIEW_TYPE_E view = static_cast<ENUM_ZR_FE_VIEW_TYPE_E>(in.ConsumeIntegralInRange<int>(-1, 3));
    const int radius = zrfuzz::FuzzedSize(in, 96), org = zrfuzz::FuzzedSize(in, 96);
    const int w = zrfuzz::FuzzedSize(in, 64), h = zrfuzz::FuzzedSize(in, 64);
    CZRFishEyeDewarper d(mode, radius, view, org, w, h, in.ConsumeIntegralInRange<unsigned int>(0, 3));
    d.SetSubViewHwnd(Window(0), 0);
    for (int n = 0; n < kMaxCalls && in.remaining_bytes() > 0; ++n)
        Call(d, in);
    return 0;
}
