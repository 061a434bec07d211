// Frames from the input, of any size, pitch and plane layout, as NV12 descriptors
// and as picture packets: into a running dewarper (its gate and conversion, and
// its workers whenever they are free), and into an engine with the same settings
// that renders every view at once, so that each input reaches the compositions,
// in either render mode.
#include <vector>

#include "FuzzFrames.h"
#include "ZRFishEyeEngine.h"

namespace {

const int kMaxFramesPerInput = 4;
const int kSubViews = 2;
const int kRadius = 48, kSubWidth = 64, kSubHeight = 48;

template <class T>
void SetUp(T& x)
{
    x.SetSubViewNum(kSubViews);
    x.SetLineMask(0xff);
    x.SetNormalY(40, 1);
}

CZRFishEyeDewarper& Dewarper()
{
    static CZRFishEyeDewarper* d = [] {
        auto* made = new CZRFishEyeDewarper(ZR_FE_INSTALL_CEILING, kRadius, ZR_FE_VIEW_PANORAMA, kRadius, kSubWidth,
                                            kSubHeight, 1);
        SetUp(*made);
        for (int i = 0; i < kSubViews; ++i)
            made->SetSubViewHwnd(reinterpret_cast<HWND>(static_cast<intptr_t>(i + 1)), i);
        made->Start();
        return made;
    }();
    return *d;
}

zrfe::Engine& Engine()
{
    static zrfe::Engine* e = [] {
        auto* made = new zrfe::Engine(ZR_FE_INSTALL_CEILING, kRadius, ZR_FE_VIEW_PANORAMA, kRadius, kSubWidth,
                                      kSubHeight);
        SetUp(*made);
        return made;
    }();
    return *e;
}

// Renders a view of the given size into a fresh 4:2:0 picture.
template <class Render>
void RenderInto(zrfe::ViewSize size, Render render)
{
    if (size.width < 1 || size.height < 1)
        return;
    std::vector<unsigned char> y(static_cast<size_t>(size.width) * size.height);
    std::vector<unsigned char> u(static_cast<size_t>(size.width / 2) * (size.height / 2)), v(u.size());
    zrfe::PlanarPicture out{size.width, size.height, {y.data(), u.data(), v.data()},
                            {size.width, size.width / 2, size.width / 2}};
    render(out);
}

void RenderAll(zrfe::Engine& e)
{
    RenderInto(e.GetMainViewSize(), [&](const zrfe::PlanarPicture& out) { e.RenderMain(out); });
    for (int i = 0; i < kSubViews; ++i)
        RenderInto(e.GetSubViewSize(i), [&](const zrfe::PlanarPicture& out) { e.RenderSub(i, out); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    CZRFishEyeDewarper& d = Dewarper();
    zrfe::Engine& e = Engine();
    const ENUM_ZR_FE_VIEW_TYPE_E views[] = {ZR_FE_VIEW_ORIGINAL, ZR_FE_VIEW_PANORAMA, ZR_FE_VIEW_DOUBLE_PANORAMA};
    const ENUM_ZR_FE_VIEW_TYPE_E view = in.PickValueInArray(views);
    d.SetMainViewType(view);
    e.SetMainViewType(view);
    const ENUM_ZR_FE_RENDER_MODE_E mode = in.ConsumeBool() ? ZR_FE_RENDER_FAST : ZR_FE_RENDER_EXACT;
    d.SetRenderMode(mode);
    e.SetRenderMode(mode);
    for (int n = 0; n < kMaxFramesPerInput && in.remaining_bytes() > 0; ++n) {
        if (in.ConsumeBool()) {
            std::unique_ptr<zrfuzz::HostFrame> f = zrfuzz::MakeHostFrame(in);
            d.Process(&f->desc);
            if (e.LoadFrame(f->desc) == 0)
                RenderAll(e);
        } else {
            std::unique_ptr<CZRFrame> f = zrfuzz::MakePacketFrame(in);
            d.Process(f.get());
            if (e.LoadPicture(f->GetPicture()) == 0)
                RenderAll(e);
        }
    }
    return 0;
}
