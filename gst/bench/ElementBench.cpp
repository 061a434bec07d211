// Frame rate of the zrfisheyedewarp element beside the library's own rate for the
// same workload, in one run: a ceiling camera's 2560 x 2560 NV12 frame into a
// panorama (radius 1024) and four 1280 x 720 sub views, N frames (default 300).
// The library path is the engine's LoadFrame and renders into memory of its own;
// the element path is appsrc ! zrfisheyedewarp ! fakesink with each sub pad to a
// fakesink of its own, on one streaming thread. Each path runs RUNS times (default
// 2), interleaved, and the best run of each counts (the machine may be shared).
// Usage: zrfisheye_gst_bench [FRAMES [RUNS]]
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "DewarpElement.h"
#include "ZRFishEyeEngine.h"

namespace {

constexpr int kSide = 2560;
constexpr int kRadius = 1024;
constexpr int kSubViews = 4;
constexpr int kSubWidth = 1280;
constexpr int kSubHeight = 720;
constexpr unsigned kTilt = 30;
constexpr unsigned kAzimuthStep = 45;
constexpr int kDefaultFrames = 300;
constexpr int kDefaultRuns = 2;

using Clock = std::chrono::steady_clock;

// Frames per second of wall time, and the process's CPU time per frame: on a
// shared machine the second says more about what the element adds.
struct Rate {
    double fps = 0;
    double cpuMs = 0;
};

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

Rate RateOf(int frames, Clock::time_point start, double cpuStart)
{
    return {frames / std::chrono::duration<double>(Clock::now() - start).count(),
            (CpuSeconds() - cpuStart) * 1000.0 / frames};
}

// A frame whose bytes vary everywhere (the work does not depend on them).
std::vector<guint8> MakeNv12()
{
    std::vector<guint8> f(size_t(kSide) * kSide * 3 / 2);
    for (size_t i = 0; i < f.size(); ++i)
        f[i] = guint8((i * 2654435761u) >> 24);
    return f;
}

Rate LibraryRate(std::vector<guint8>& nv12, int frames)
{
    zrfe::Engine engine(ZR_FE_INSTALL_CEILING, kRadius, ZR_FE_VIEW_PANORAMA, kSide / 2, kSubWidth, kSubHeight);
    engine.SetSubViewNum(kSubViews);
    for (int i = 0; i < kSubViews; ++i) {
        engine.SetNormalY(kTilt, i);
        engine.SetNormalZ(kAzimuthStep * unsigned(i), i);
    }
    tag_ZRFRAME desc{};
    desc.pData[0] = nv12.data();
    desc.pData[1] = nv12.data() + size_t(kSide) * kSide;
    desc.nPitch[0] = desc.nPitch[1] = kSide;
    desc.nWidth = desc.nHeight = kSide;
    engine.LoadFrame(desc);

    // Output memory made once, as a host reusing its buffers would.
    std::vector<std::vector<guint8>> memory;
    std::vector<zrfe::PlanarPicture> pictures;
    for (int v = -1; v < kSubViews; ++v) {
        const zrfe::ViewSize size = v < 0 ? engine.GetMainViewSize() : engine.GetSubViewSize(v);
        memory.emplace_back(size_t(size.width) * size.height * 3 / 2);
        zrfe::PlanarPicture p;
        p.width = size.width;
        p.height = size.height;
        p.planes[0] = memory.back().data();
        p.planes[1] = p.planes[0] + size_t(size.width) * size.height;
        p.planes[2] = p.planes[1] + size_t(size.width / 2) * (size.height / 2);
        p.pitches[0] = size.width;
        p.pitches[1] = p.pitches[2] = size.width / 2;
        pictures.push_back(p);
    }
    const double cpuStart = CpuSeconds();
    const auto start = Clock::now();
    for (int n = 0; n < frames; ++n) {
        engine.LoadFrame(desc);
        engine.RenderMain(pictures[0]);
        for (int v = 0; v < kSubViews; ++v)
            engine.RenderSub(v, pictures[size_t(v) + 1]);
    }
    return RateOf(frames, start, cpuStart);
}

Rate ElementRate(std::vector<guint8>& nv12, int frames)
{
    std::string text = "appsrc name=in format=time ! zrfisheyedewarp name=d mount=ceiling view=panorama radius=" +
                       std::to_string(kRadius) + " sub-width=" + std::to_string(kSubWidth) +
                       " sub-height=" + std::to_string(kSubHeight);
    for (int i = 0; i < kSubViews; ++i)
        text += " sub_" + std::to_string(i) + "::tilt=" + std::to_string(kTilt) + " sub_" + std::to_string(i) +
                "::azimuth=" + std::to_string(kAzimuthStep * unsigned(i));
    // Without queues every view is made on the one streaming thread; sinks that do
    // not wait for preroll let the first frame through all of them.
    text += " ! fakesink sync=false async=false";
    for (int i = 0; i < kSubViews; ++i)
        text += " d.sub_" + std::to_string(i) + " ! fakesink sync=false async=false";
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(text.c_str(), &error);
    if (error) {
        std::fprintf(stderr, "zrfisheye_gst_bench: %s\n", error->message);
        std::exit(1);
    }
    GstElement* src = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "NV12", "width", G_TYPE_INT, kSide,
                                        "height", G_TYPE_INT, kSide, "framerate", GST_TYPE_FRACTION, 30, 1, nullptr);
    g_object_set(src, "caps", caps, "block", TRUE, "max-buffers", guint64(2), nullptr);
    gst_caps_unref(caps);
    // Counts the main views that have left the element.
    gint mainViews = 0;
    GstElement* dewarp = gst_bin_get_by_name(GST_BIN(pipeline), "d");
    GstPad* mainPad = gst_element_get_static_pad(dewarp, "src");
    gst_pad_add_probe(
        mainPad, GST_PAD_PROBE_TYPE_BUFFER,
        [](GstPad*, GstPadProbeInfo*, gpointer count) {
            g_atomic_int_inc(static_cast<gint*>(count));
            return GST_PAD_PROBE_OK;
        },
        &mainViews, nullptr);
    gst_object_unref(mainPad);
    gst_object_unref(dewarp);
    gst_element_set_state(pipeline, GST_STATE_PLAYING);

    // The first frame builds the tables and negotiates; the clock starts after it.
    Clock::time_point start;
    double cpuStart = 0;
    for (int n = 0; n <= frames; ++n) {
        GstBuffer* buffer = gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, nv12.data(), nv12.size(), 0,
                                                        nv12.size(), nullptr, nullptr);
        GST_BUFFER_PTS(buffer) = GstClockTime(n) * GST_SECOND / 30;
        gst_app_src_push_buffer(GST_APP_SRC(src), buffer);
        if (n == 0) {
            while (g_atomic_int_get(&mainViews) == 0)
                g_usleep(100);
            start = Clock::now();
            cpuStart = CpuSeconds();
        }
    }
    gst_app_src_end_of_stream(GST_APP_SRC(src));
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(bus, GST_CLOCK_TIME_NONE,
                                                 GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    const Rate rate = RateOf(frames, start, cpuStart);
    if (GST_MESSAGE_TYPE(msg) == GST_MESSAGE_ERROR) {
        std::fprintf(stderr, "zrfisheye_gst_bench: the pipeline failed\n");
        std::exit(1);
    }
    gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(src);
    gst_object_unref(pipeline);
    return rate;
}

}  // namespace

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    zrfe_dewarp_register(nullptr);
    const int frames = argc > 1 ? std::atoi(argv[1]) : kDefaultFrames;
    const int runs = argc > 2 ? std::atoi(argv[2]) : kDefaultRuns;
    if (frames < 1 || runs < 1) {
        std::fprintf(stderr, "usage: zrfisheye_gst_bench [FRAMES [RUNS]]\n");
        return 2;
    }
    std::vector<guint8> nv12 = MakeNv12();
    Rate library{0, 1e30}, element{0, 1e30};
    for (int run = 0; run < runs; ++run) {
        const Rate l = LibraryRate(nv12, frames), e = ElementRate(nv12, frames);
        library = {std::max(library.fps, l.fps), std::min(library.cpuMs, l.cpuMs)};
        element = {std::max(element.fps, e.fps), std::min(element.cpuMs, e.cpuMs)};
    }
    std::printf("%d frames of %d x %d NV12: panorama (radius %d) + %d views %d x %d\n", frames, kSide, kSide, kRadius,
                kSubViews, kSubWidth, kSubHeight);
    std::printf("  library (engine LoadFrame + renders): %7.2f fps %8.1f ms CPU a frame\n", library.fps, library.cpuMs);
    std::printf("  zrfisheyedewarp to fakesink:          %7.2f fps %8.1f ms CPU a frame\n", element.fps, element.cpuMs);
    std::printf("  element overhead:                     %+6.1f %% time %+6.1f %% CPU\n",
                (library.fps / element.fps - 1.0) * 100.0, (element.cpuMs / library.cpuMs - 1.0) * 100.0);
    gst_deinit();
    return 0;
}
