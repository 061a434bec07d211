// A minimal host: one ceiling camera, one grey frame, the panorama's size back;
// then the synchronous engine on the same frame gives the same picture.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <vector>

#include <cstring>

#include <ZRFishEye.h>
#include <ZRFishEyeEngine.h>

class Shown : public IZRCallback {
public:
    int OnSignal(CZRObject*, int nCode, void*, void*) override
    {
        std::lock_guard<std::mutex> lock(mtx);
        if (nCode == 0)
            done = true;
        cv.notify_all();
        return 0;
    }
    std::mutex mtx;
    std::condition_variable cv;
    bool done = false;
};

int main()
{
    CZRFishEyeDewarper dewarper(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_PANORAMA, 256, 320, 240, 0);
    Shown shown;
    dewarper.SetShowCallBack(&shown);
    dewarper.Start();

    std::vector<unsigned char> luma(512 * 512, 128), chroma(512 * 256, 128);
    tag_ZRFRAME frame{};
    frame.pData[0] = luma.data();
    frame.pData[1] = chroma.data();
    frame.nPitch[0] = frame.nPitch[1] = 512;
    frame.nWidth = frame.nHeight = 512;
    std::unique_lock<std::mutex> lock(shown.mtx);
    for (int i = 0; i < 100 && !shown.done; ++i) {
        lock.unlock();
        dewarper.Process(&frame);
        lock.lock();
        shown.cv.wait_for(lock, std::chrono::milliseconds(100), [&] { return shown.done; });
    }
    CZRFrame* out = nullptr;
    dewarper.GetFrame(out, 0);
    CZRPacketPIC* pic = out ? out->GetPicture() : nullptr;
    if (!pic || pic->m_uWidth != 1608 || pic->m_uHeight != 256) {
        std::printf("consumer: unexpected main view\n");
        return 1;
    }
    std::printf("consumer: panorama %ux%u\n", pic->m_uWidth, pic->m_uHeight);

    zrfe::Engine engine(ZR_FE_INSTALL_CEILING, 256, ZR_FE_VIEW_PANORAMA, 256, 320, 240);
    const zrfe::ViewSize size = engine.GetMainViewSize();
    if (engine.LoadFrame(frame) != 0 || engine.GetMainViewSize().width != 1608) {
        std::printf("consumer: the engine did not take the frame (%dx%d before)\n", size.width, size.height);
        return 1;
    }
    std::vector<unsigned char> y(1608 * 256), u(804 * 128), v(804 * 128);
    const zrfe::PlanarPicture planes{1608, 256, {y.data(), u.data(), v.data()}, {1608, 804, 804}};
    if (engine.RenderMain(planes) != 0) {
        std::printf("consumer: the engine rendered nothing\n");
        return 1;
    }
    for (unsigned int row = 0; row < 256; ++row)
        if (std::memcmp(pic->GetLine(0, static_cast<int>(row)), &y[row * 1608], 1608) != 0) {
            std::printf("consumer: engine and dewarper differ in row %u\n", row);
            return 1;
        }
    std::printf("consumer: the engine gives the same picture\n");
    return 0;
}
