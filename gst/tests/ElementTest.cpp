// The zrfisheyedewarp element in real pipelines (appsrc or a raw file in, appsinks
// out), held against a zrfe::Engine given the same frames and the same calls:
// the element is a layer over the engine, so every output byte must match.
#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/video/navigation.h>
#include <gst/video/video.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "DewarpElement.h"
#include "ZRFishEyeEngine.h"
#include "scene/FisheyeScene.h"

namespace {

constexpr int kSide = 512;        // frame width and height unless a test says otherwise
constexpr int kSubW = 160;        // sub-view size the tests ask for
constexpr int kSubH = 120;
constexpr GstClockTime kFrameDuration = GST_SECOND / 25;
constexpr guint64 kPullTimeout = 20 * GST_SECOND;

// A 4:2:0 frame whose every byte depends on its position and on the frame number,
// so that a wrong plane, row, offset or frame shows in the output.
struct Frame {
    int width, height;
    std::vector<guint8> y, u, v;
    Frame(int w, int h, int seed) : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size())
    {
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                y[size_t(r) * w + c] = guint8((c * 7 + r * 13 + ((c ^ r) >> 3) + seed * 31) & 0xFF);
        for (size_t i = 0; i < u.size(); ++i) {
            u[i] = guint8((i * 5 + seed * 17) & 0xFF);
            v[i] = guint8((i * 3 + 101 + seed) & 0xFF);
        }
    }
    std::vector<guint8> Nv12() const
    {
        std::vector<guint8> out(y);
        for (size_t i = 0; i < u.size(); ++i) {
            out.push_back(u[i]);
            out.push_back(v[i]);
        }
        return out;
    }
    std::vector<guint8> I420() const
    {
        std::vector<guint8> out(y);
        out.insert(out.end(), u.begin(), u.end());
        out.insert(out.end(), v.begin(), v.end());
        return out;
    }
    // Gives the frame to an engine the way a host of the library would.
    void LoadInto(zrfe::Engine& engine, bool planar) const
    {
        if (!planar) {
            std::vector<guint8> nv12 = Nv12();
            tag_ZRFRAME desc{};
            desc.pData[0] = nv12.data();
            desc.pData[1] = nv12.data() + y.size();
            desc.nPitch[0] = width;
            desc.nPitch[1] = width;
            desc.nWidth = width;
            desc.nHeight = height;
            ASSERT_EQ(engine.LoadFrame(desc), 0);
            return;
        }
        CZRPacketPIC* pic = CZRPacketPIC::Acquire(unsigned(width), unsigned(height), ZR_PIC_FORMAT_YV12, nullptr, 0);
        ASSERT_NE(pic, nullptr);
        pic->SetLine(0, 0, y.data(), unsigned(width), unsigned(height));
        pic->SetLine(1, 0, v.data(), unsigned(width / 2), unsigned(height / 2));
        pic->SetLine(2, 0, u.data(), unsigned(width / 2), unsigned(height / 2));
        ASSERT_EQ(engine.LoadPicture(pic), 0);
        pic->Release();
    }
};

// A view rendered by the engine, tightly packed Y, U, V.
struct Picture {
    int width = 0, height = 0;
    std::vector<guint8> bytes;
};

Picture Render(const zrfe::Engine& engine, int index)
{
    const zrfe::ViewSize size = index < 0 ? engine.GetMainViewSize() : engine.GetSubViewSize(index);
    Picture p;
    p.width = size.width;
    p.height = size.height;
    p.bytes.resize(size_t(size.width) * size.height * 3 / 2);
    zrfe::PlanarPicture out;
    out.width = size.width;
    out.height = size.height;
    out.planes[0] = p.bytes.data();
    out.planes[1] = out.planes[0] + size_t(size.width) * size.height;
    out.planes[2] = out.planes[1] + size_t(size.width / 2) * (size.height / 2);
    out.pitches[0] = size.width;
    out.pitches[1] = out.pitches[2] = size.width / 2;
    EXPECT_EQ(index < 0 ? engine.RenderMain(out) : engine.RenderSub(index, out), 0);
    return p;
}

// An output sample of the element, unpacked the same way as Picture.
Picture Unpack(GstSample* sample)
{
    Picture p;
    GstVideoInfo info;
    EXPECT_TRUE(gst_video_info_from_caps(&info, gst_sample_get_caps(sample)));
    EXPECT_EQ(GST_VIDEO_INFO_FORMAT(&info), GST_VIDEO_FORMAT_I420);
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample), GST_MAP_READ)) {
        ADD_FAILURE() << "output buffer does not hold its caps' picture";
        return p;
    }
    p.width = GST_VIDEO_INFO_WIDTH(&info);
    p.height = GST_VIDEO_INFO_HEIGHT(&info);
    for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? p.width / 2 : p.width, h = plane ? p.height / 2 : p.height;
        const guint8* data = static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, plane));
        for (int r = 0; r < h; ++r) {
            const guint8* row = data + size_t(r) * GST_VIDEO_FRAME_PLANE_STRIDE(&frame, plane);
            p.bytes.insert(p.bytes.end(), row, row + w);
        }
    }
    gst_video_frame_unmap(&frame);
    return p;
}

void ExpectSame(const Picture& got, const Picture& want, const std::string& what)
{
    ASSERT_GT(want.width, 0) << what;
    ASSERT_EQ(got.width, want.width) << what;
    ASSERT_EQ(got.height, want.height) << what;
    size_t differ = 0;
    for (size_t i = 0; i < want.bytes.size(); ++i)
        differ += got.bytes[i] != want.bytes[i];
    EXPECT_EQ(differ, 0u) << what << ": bytes that differ from the engine's";
}

// Messages of one type from the bus so far, as "domain: text (debug)".
std::vector<std::string> BusMessages(GstElement* pipeline, GstMessageType type)
{
    std::vector<std::string> texts;
    GstBus* bus = gst_element_get_bus(pipeline);
    while (GstMessage* msg = gst_bus_pop_filtered(bus, type)) {
        GError* error = nullptr;
        gchar* debug = nullptr;
        if (type == GST_MESSAGE_ERROR)
            gst_message_parse_error(msg, &error, &debug);
        else
            gst_message_parse_warning(msg, &error, &debug);
        texts.push_back(std::string(error->message) + " (" + (debug ? debug : "") + ")");
        g_error_free(error);
        g_free(debug);
        gst_message_unref(msg);
    }
    gst_object_unref(bus);
    return texts;
}

// appsrc ! zrfisheyedewarp ! appsink, with sub_<i> ! appsink name=s<i> for each sub view asked for.
class Pipeline {
public:
    Pipeline(const std::string& props, const std::vector<int>& subs, const std::string& source = "")
    {
        std::string text = source.empty() ? "appsrc name=in format=time" : source;
        text += " ! zrfisheyedewarp name=d sub-width=" + std::to_string(kSubW) +
                " sub-height=" + std::to_string(kSubH) + " " + props + " ! queue ! appsink name=main sync=false";
        for (int i : subs)
            text += " d.sub_" + std::to_string(i) + " ! queue ! appsink name=s" + std::to_string(i) + " sync=false";
        GError* error = nullptr;
        pipeline = gst_parse_launch(text.c_str(), &error);
        EXPECT_EQ(error, nullptr) << (error ? error->message : "") << " in " << text;
        if (error)
            g_error_free(error);
        dewarp = gst_bin_get_by_name(GST_BIN(pipeline), "d");
        src = gst_bin_get_by_name(GST_BIN(pipeline), "in");
    }
    ~Pipeline()
    {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        if (src)
            gst_object_unref(src);
        gst_object_unref(dewarp);
        gst_object_unref(pipeline);
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    bool Play() { return gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE; }

    void Push(const Frame& f, bool planar, GstClockTime pts)
    {
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, planar ? "I420" : "NV12", "width",
                                            G_TYPE_INT, f.width, "height", G_TYPE_INT, f.height, "framerate",
                                            GST_TYPE_FRACTION, 25, 1, nullptr);
        PushRaw(caps, planar ? f.I420() : f.Nv12(), pts);
    }
    void PushRaw(GstCaps* caps, const std::vector<guint8>& bytes, GstClockTime pts)
    {
        gst_app_src_set_caps(GST_APP_SRC(src), caps);
        gst_caps_unref(caps);
        GstBuffer* buffer = gst_buffer_new_memdup(bytes.data(), bytes.size());
        GST_BUFFER_PTS(buffer) = pts;
        GST_BUFFER_DURATION(buffer) = kFrameDuration;
        ASSERT_EQ(gst_app_src_push_buffer(GST_APP_SRC(src), buffer), GST_FLOW_OK);
    }

    // The next sample of appsink "main" or "s<i>"; the caller owns it.
    GstSample* Pull(int index)
    {
        GstElement* sink = gst_bin_get_by_name(GST_BIN(pipeline), index < 0 ? "main" : ("s" + std::to_string(index)).c_str());
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(sink), kPullTimeout);
        gst_object_unref(sink);
        return sample;
    }
    Picture PullPicture(int index)
    {
        GstSample* sample = Pull(index);
        if (!sample) {
            ADD_FAILURE() << "no picture on " << (index < 0 ? "src" : "sub_" + std::to_string(index));
            return {};
        }
        Picture p = Unpack(sample);
        gst_sample_unref(sample);
        return p;
    }
    GstPad* Pad(const char* name) { return gst_element_get_static_pad(dewarp, name); }

    GstElement* pipeline = nullptr;
    GstElement* dewarp = nullptr;
    GstElement* src = nullptr;
};

// Waits for the first error on the bus: "element: message (debug)", or "" when none came.
std::string FirstError(Pipeline& p)
{
    GstBus* bus = gst_element_get_bus(p.pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(bus, kPullTimeout, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    if (!msg)
        return "";
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(msg, &error, &debug);
    std::string text = std::string(GST_OBJECT_NAME(GST_MESSAGE_SRC(msg))) + ": " + error->message + " (" +
                       (debug ? debug : "") + ")";
    g_error_free(error);
    g_free(debug);
    gst_message_unref(msg);
    return text;
}

// Counts the warnings that GLib and the element log, so that refusals can be seen.
class WarningCounter {
public:
    WarningCounter() { m_old = g_log_set_default_handler(Count, this); }
    ~WarningCounter() { g_log_set_default_handler(m_old, nullptr); }
    int count = 0;

private:
    static void Count(const gchar*, GLogLevelFlags level, const gchar*, gpointer self)
    {
        if (level & G_LOG_LEVEL_WARNING)
            ++static_cast<WarningCounter*>(self)->count;
    }
    GLogFunc m_old;
};

const char* kMounts[] = {"ground", "ceiling", "wall"};
const ENUM_ZR_FE_INSTALL_MODE_E kMountModes[] = {ZR_FE_INSTALL_GROUND, ZR_FE_INSTALL_CEILING, ZR_FE_INSTALL_WALL};
const char* kViews[] = {"circle", "panorama", "double-panorama"};
const ENUM_ZR_FE_VIEW_TYPE_E kViewTypes[] = {ZR_FE_VIEW_ORIGINAL, ZR_FE_VIEW_PANORAMA, ZR_FE_VIEW_DOUBLE_PANORAMA};

zrfe::Engine* NewEngine(ENUM_ZR_FE_INSTALL_MODE_E mount, ENUM_ZR_FE_VIEW_TYPE_E view, int width, int radius = 0)
{
    return new zrfe::Engine(mount, radius ? radius : width / 2, view, width / 2, kSubW, kSubH);
}

// Every mount and main view, NV12 and I420: the picture sizes in the caps of src and
// of two sub pads (sub_0 and sub_2, so view 1 exists without a pad), and their
// bytes, frame by frame.
TEST(GstElement, CapsAndBytesMatchTheEngineForEveryMountAndView)
{
    for (int m = 0; m < 3; ++m)
        for (int v = 0; v < 3; ++v)
            for (bool planar : {false, true}) {
                const std::string what = std::string(kMounts[m]) + "/" + kViews[v] + (planar ? "/I420" : "/NV12");
                Pipeline p(std::string("mount=") + kMounts[m] + " view=" + kViews[v] + " outlines=true", {0, 2});
                ASSERT_TRUE(p.Play()) << what;
                std::unique_ptr<zrfe::Engine> ref(NewEngine(kMountModes[m], kViewTypes[v], kSide));
                ref->SetSubViewNum(3);
                ref->SetLineMask(0x5);
                for (int n = 0; n < 2; ++n) {
                    const Frame f(kSide, kSide, n);
                    p.Push(f, planar, n * kFrameDuration);
                    f.LoadInto(*ref, planar);
                    ExpectSame(p.PullPicture(-1), Render(*ref, -1), what + " main, frame " + std::to_string(n));
                    for (int i : {0, 2})
                        ExpectSame(p.PullPicture(i), Render(*ref, i), what + " sub " + std::to_string(i));
                }
                EXPECT_TRUE(BusMessages(p.pipeline, GST_MESSAGE_ERROR).empty()) << what;
            }
}

// A raw file through rawvideoparse: every frame comes out on every pad with its
// timestamps, then EOS on each; a flushing seek plays it again from the start.
TEST(GstElement, FileComesOutWholeWithTimestampsEosAndSeek)
{
    constexpr int kFrames = 12;
    constexpr int kWidth = 256;
    char path[] = "/tmp/zrfe_gst_XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    FILE* file = fdopen(fd, "wb");
    for (int n = 0; n < kFrames; ++n) {
        const std::vector<guint8> bytes = Frame(kWidth, kWidth, n).Nv12();
        fwrite(bytes.data(), 1, bytes.size(), file);
    }
    fclose(file);
    const std::string source = std::string("filesrc location=") + path +
                               " ! rawvideoparse format=nv12 framerate=25/1 width=" + std::to_string(kWidth) +
                               " height=" + std::to_string(kWidth);
    {
        Pipeline p("mount=wall", {1, 3}, source);
        ASSERT_TRUE(p.Play());
        for (int pass = 0; pass < 2; ++pass) {
            for (int index : {-1, 1, 3}) {
                for (int n = 0; n < kFrames; ++n) {
                    GstSample* sample = p.Pull(index);
                    ASSERT_NE(sample, nullptr) << "pass " << pass << " pad " << index << " frame " << n;
                    GstBuffer* b = gst_sample_get_buffer(sample);
                    EXPECT_EQ(GST_BUFFER_PTS(b), n * kFrameDuration) << "pad " << index << " frame " << n;
                    EXPECT_EQ(GST_BUFFER_DURATION(b), kFrameDuration);
                    gint fpsN = 0, fpsD = 0;
                    gst_structure_get_fraction(gst_caps_get_structure(gst_sample_get_caps(sample), 0), "framerate",
                                               &fpsN, &fpsD);
                    EXPECT_TRUE(fpsN == 25 && fpsD == 1) << "the input frame rate on pad " << index;
                    gst_sample_unref(sample);
                }
                GstElement* sink =
                    gst_bin_get_by_name(GST_BIN(p.pipeline), index < 0 ? "main" : ("s" + std::to_string(index)).c_str());
                EXPECT_EQ(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), GST_SECOND / 10), nullptr);
                EXPECT_TRUE(gst_app_sink_is_eos(GST_APP_SINK(sink))) << "pad " << index;
                gst_object_unref(sink);
            }
            if (pass == 0) {
                ASSERT_TRUE(gst_element_seek_simple(p.pipeline, GST_FORMAT_TIME,
                                                    GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), 0));
            }
        }
        EXPECT_TRUE(BusMessages(p.pipeline, GST_MESSAGE_ERROR).empty());
    }
    std::remove(path);
}

// Changes made between two frames show in the second: element properties, pad
// properties, a new input size, a released pad; caps follow each new picture size.
TEST(GstElement, ChangesMidStreamShowInTheNextFrame)
{
    struct Change {
        const char* what;
        const char* mount;
        std::function<void(Pipeline&)> element;
        std::function<void(zrfe::Engine&)> engine;
        int width;  // of the second frame
    };
    const auto padSet = [](Pipeline& p, const char* pad, const char* prop, auto value) {
        GstPad* sub = p.Pad(pad);
        g_object_set(sub, prop, value, nullptr);
        gst_object_unref(sub);
    };
    const auto angles = [](zrfe::Engine& e, int i, std::function<void(tag_ZR_FE_NORMAL_VIEW_S&)> edit) {
        tag_ZR_FE_NORMAL_VIEW_S v{};
        e.GetNormalParam(v, unsigned(i));
        edit(v);
        e.SetNormalView(v, i);
    };
    // A new mount or radius rebuilds the sub views' tables for it.
    const auto regeometry = [](zrfe::Engine& e, ENUM_ZR_FE_INSTALL_MODE_E mode, unsigned radius) {
        e.SetInstallMode(mode, radius);
        for (int i = 0; i < 2; ++i) {
            tag_ZR_FE_NORMAL_VIEW_S v{};
            e.GetNormalParam(v, unsigned(i));
            e.SetNormalView(v, i);
        }
    };
    const std::vector<Change> changes = {
        {"view", "ceiling", [](Pipeline& p) { g_object_set(p.dewarp, "view", ZR_FE_VIEW_ORIGINAL, nullptr); },
         [](zrfe::Engine& e) { e.SetMainViewType(ZR_FE_VIEW_ORIGINAL); }, kSide},
        {"ground-angle", "ground", [](Pipeline& p) { g_object_set(p.dewarp, "ground-angle", 100u, nullptr); },
         [](zrfe::Engine& e) { e.SetGroundAngle(100); }, kSide},
        {"radius", "ceiling", [](Pipeline& p) { g_object_set(p.dewarp, "radius", 200u, nullptr); },
         [&](zrfe::Engine& e) { regeometry(e, ZR_FE_INSTALL_CEILING, 200); },
         kSide},
        {"mount", "ceiling",
         [](Pipeline& p) { g_object_set(p.dewarp, "mount", ZR_FE_INSTALL_WALL, "wall-start-y", 40, nullptr); },
         [&](zrfe::Engine& e) {
             regeometry(e, ZR_FE_INSTALL_WALL, kSide / 2);
             e.SetWallStarty(40);
         },
         kSide},
        {"sub size", "ceiling", [](Pipeline& p) { g_object_set(p.dewarp, "sub-width", 96u, "sub-height", 64u, nullptr); },
         [](zrfe::Engine& e) { e.SetNormalSize(96, 64); }, kSide},
        {"zoom, tilt, azimuth", "ceiling",
         [&](Pipeline& p) {
             padSet(p, "sub_1", "zoom", 17u);
             padSet(p, "sub_1", "tilt", 40.0f);
             padSet(p, "sub_0", "azimuth", 135.0f);
         },
         [&](zrfe::Engine& e) {
             e.ZoomNormalView(17, 1);
             angles(e, 1, [](tag_ZR_FE_NORMAL_VIEW_S& v) { v.fAngleY = 40.0f; });
             angles(e, 0, [](tag_ZR_FE_NORMAL_VIEW_S& v) { v.fAngleZ = 135.0f; });
         },
         kSide},
        {"pan, wall-tilt", "wall",
         [&](Pipeline& p) {
             padSet(p, "sub_0", "pan", -30.0f);
             padSet(p, "sub_1", "wall-tilt", 10.0f);
         },
         [&](zrfe::Engine& e) {
             angles(e, 0, [&](tag_ZR_FE_NORMAL_VIEW_S& v) { v.fPan = float(-30.0 * G_PI / 180.0); });
             angles(e, 1, [&](tag_ZR_FE_NORMAL_VIEW_S& v) { v.fTilt = float(10.0 * G_PI / 180.0); });
         },
         kSide},
        {"aim", "ceiling",
         [&](Pipeline& p) {
             padSet(p, "sub_1", "aim-x", 400);
             padSet(p, "sub_1", "aim-y", 100);
         },
         [](zrfe::Engine& e) { e.MoveNormalView({400, 100}, 1); }, kSide},
        {"input size", "ground", [](Pipeline&) {},
         [&](zrfe::Engine& e) { regeometry(e, ZR_FE_INSTALL_GROUND, 320); }, 640},
    };
    for (const Change& c : changes) {
        Pipeline p(std::string("mount=") + c.mount, {0, 1});
        ASSERT_TRUE(p.Play());
        const ENUM_ZR_FE_INSTALL_MODE_E mode = std::string(c.mount) == "wall"     ? ZR_FE_INSTALL_WALL
                                               : std::string(c.mount) == "ground" ? ZR_FE_INSTALL_GROUND
                                                                                  : ZR_FE_INSTALL_CEILING;
        std::unique_ptr<zrfe::Engine> ref(NewEngine(mode, ZR_FE_VIEW_PANORAMA, kSide));
        ref->SetSubViewNum(2);
        const Frame first(kSide, kSide, 1);
        p.Push(first, false, 0);
        first.LoadInto(*ref, false);
        for (int i : {-1, 0, 1})
            ExpectSame(p.PullPicture(i), Render(*ref, i), std::string(c.what) + ", before, view " + std::to_string(i));
        c.element(p);
        c.engine(*ref);
        const Frame second(c.width, c.width, 2);
        p.Push(second, false, kFrameDuration);
        second.LoadInto(*ref, false);
        for (int i : {-1, 0, 1})
            ExpectSame(p.PullPicture(i), Render(*ref, i), std::string(c.what) + ", after, view " + std::to_string(i));
        EXPECT_TRUE(BusMessages(p.pipeline, GST_MESSAGE_ERROR).empty()) << c.what;
    }
}

// A sub pad requested while playing gets the stream's start, its own caps and the
// segment before its first picture, and sets the number of sub views; releasing
// one leaves the others running.
TEST(GstElement, PadsRequestedAndReleasedWhilePlaying)
{
    Pipeline p("mount=ground outlines=true", {0});
    ASSERT_TRUE(p.Play());
    std::unique_ptr<zrfe::Engine> ref(NewEngine(ZR_FE_INSTALL_GROUND, ZR_FE_VIEW_PANORAMA, kSide));
    ref->SetSubViewNum(1);
    ref->SetLineMask(0x1);
    const Frame f0(kSide, kSide, 0);
    p.Push(f0, false, 0);
    f0.LoadInto(*ref, false);
    ExpectSame(p.PullPicture(-1), Render(*ref, -1), "one sub view");
    gst_sample_unref(p.Pull(0));

    GstPad* added = gst_element_request_pad_simple(p.dewarp, "sub_3");
    ASSERT_NE(added, nullptr);
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", "s3");
    g_object_set(sink, "sync", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(p.pipeline), queue, sink, nullptr);
    ASSERT_TRUE(gst_element_link(queue, sink));
    GstPad* queueSink = gst_element_get_static_pad(queue, "sink");
    ASSERT_EQ(gst_pad_link(added, queueSink), GST_PAD_LINK_OK);
    gst_object_unref(queueSink);
    gst_element_sync_state_with_parent(queue);
    gst_element_sync_state_with_parent(sink);
    ref->SetSubViewNum(4);
    ref->SetLineMask(0x9);

    const Frame f1(kSide, kSide, 1);
    p.Push(f1, false, kFrameDuration);
    f1.LoadInto(*ref, false);
    ExpectSame(p.PullPicture(-1), Render(*ref, -1), "sub views 0 and 3");
    ExpectSame(p.PullPicture(0), Render(*ref, 0), "sub view 0 beside 3");
    ExpectSame(p.PullPicture(3), Render(*ref, 3), "sub view 3, requested while playing");
    for (GstEventType type : {GST_EVENT_STREAM_START, GST_EVENT_CAPS, GST_EVENT_SEGMENT}) {
        GstEvent* event = gst_pad_get_sticky_event(added, type, 0);
        EXPECT_NE(event, nullptr) << GST_EVENT_TYPE_NAME(event);
        if (event)
            gst_event_unref(event);
    }

    GstPad* first = p.Pad("sub_0");
    gst_element_release_request_pad(p.dewarp, first);
    gst_object_unref(first);
    ref->SetLineMask(0x8);
    const Frame f2(kSide, kSide, 2);
    p.Push(f2, false, 2 * kFrameDuration);
    f2.LoadInto(*ref, false);
    ExpectSame(p.PullPicture(-1), Render(*ref, -1), "sub view 0 released");
    ExpectSame(p.PullPicture(3), Render(*ref, 3), "sub view 3 after 0 was released");
    gst_element_release_request_pad(p.dewarp, added);
    gst_object_unref(added);
    EXPECT_TRUE(BusMessages(p.pipeline, GST_MESSAGE_ERROR).empty());
}

// Two elements on two streaming threads, each with its own engine: a ceiling and
// a wall camera fed the same frames through a tee.
TEST(GstElement, TwoElementsInOnePipeline)
{
    Pipeline p("mount=ceiling", {}, "appsrc name=in format=time ! tee name=t t. ! queue");
    GError* error = nullptr;
    GstElement* wall = gst_parse_bin_from_description(
        "queue ! zrfisheyedewarp mount=wall view=panorama ! queue ! appsink name=wallmain sync=false", TRUE, &error);
    ASSERT_EQ(error, nullptr);
    gst_bin_add(GST_BIN(p.pipeline), wall);
    GstElement* tee = gst_bin_get_by_name(GST_BIN(p.pipeline), "t");
    ASSERT_TRUE(gst_element_link(tee, wall));
    gst_object_unref(tee);
    ASSERT_TRUE(p.Play());
    std::unique_ptr<zrfe::Engine> ceiling(NewEngine(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, kSide));
    std::unique_ptr<zrfe::Engine> wallRef(NewEngine(ZR_FE_INSTALL_WALL, ZR_FE_VIEW_PANORAMA, kSide));
    GstElement* wallSink = gst_bin_get_by_name(GST_BIN(wall), "wallmain");
    for (int n = 0; n < 3; ++n) {
        const Frame f(kSide, kSide, n);
        p.Push(f, n == 1, n * kFrameDuration);
        f.LoadInto(*ceiling, n == 1);
        f.LoadInto(*wallRef, n == 1);
        ExpectSame(p.PullPicture(-1), Render(*ceiling, -1), "ceiling, frame " + std::to_string(n));
        GstSample* sample = gst_app_sink_try_pull_sample(GST_APP_SINK(wallSink), kPullTimeout);
        ASSERT_NE(sample, nullptr);
        ExpectSame(Unpack(sample), Render(*wallRef, -1), "wall, frame " + std::to_string(n));
        gst_sample_unref(sample);
    }
    gst_object_unref(wallSink);
    EXPECT_TRUE(BusMessages(p.pipeline, GST_MESSAGE_ERROR).empty());
}

// A click on the main view aims the selected sub view (key 2 selects sub view 1),
// a scroll zooms it, and the pad properties read back the result.
TEST(GstElement, NavigationAimsAndZoomsTheSelectedSubView)
{
    Pipeline p("mount=ceiling view=circle", {0, 1});
    ASSERT_TRUE(p.Play());
    std::unique_ptr<zrfe::Engine> ref(NewEngine(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_ORIGINAL, kSide));
    ref->SetSubViewNum(2);
    const Frame f0(kSide, kSide, 0);
    p.Push(f0, false, 0);
    for (int i : {-1, 0, 1})
        gst_sample_unref(p.Pull(i));

    GstPad* src = p.Pad("src");
    EXPECT_TRUE(gst_pad_send_event(src, gst_navigation_event_new_key_press("2", GST_NAVIGATION_MODIFIER_NONE)));
    EXPECT_TRUE(gst_pad_send_event(
        src, gst_navigation_event_new_mouse_button_press(1, 380.0, 150.0, GST_NAVIGATION_MODIFIER_NONE)));
    EXPECT_TRUE(gst_pad_send_event(
        src, gst_navigation_event_new_mouse_scroll(380.0, 150.0, 0.0, 1.0, GST_NAVIGATION_MODIFIER_NONE)));
    gst_object_unref(src);
    // The element applies a view's zoom before its aim.
    ref->ZoomNormalView(11, 1);
    ref->MoveNormalView({380, 150}, 1);

    const Frame f1(kSide, kSide, 1);
    p.Push(f1, false, kFrameDuration);
    f1.LoadInto(*ref, false);
    for (int i : {-1, 0, 1})
        ExpectSame(p.PullPicture(i), Render(*ref, i), "after navigation, view " + std::to_string(i));

    tag_ZR_FE_NORMAL_VIEW_S want{};
    ref->GetNormalParam(want, 1);
    GstPad* sub = p.Pad("sub_1");
    gint x = 0, y = 0;
    guint zoom = 0;
    gfloat tilt = 0, azimuth = 0;
    g_object_get(sub, "aim-x", &x, "aim-y", &y, "zoom", &zoom, "tilt", &tilt, "azimuth", &azimuth, nullptr);
    gst_object_unref(sub);
    EXPECT_EQ(x, 380);
    EXPECT_EQ(y, 150);
    EXPECT_EQ(zoom, 11u);
    EXPECT_EQ(tilt, want.fAngleY);
    EXPECT_EQ(azimuth, want.fAngleZ);
    EXPECT_NE(want.fAngleY, 0.0f);
}

// NULL to PLAYING and back a hundred times with a frame each time, on a pipeline
// with a sub pad; the sanitizer build finds any leak or stale pointer at exit.
TEST(GstElement, HundredStateCycles)
{
    constexpr int kCycles = 100;
    constexpr int kCycleSide = 64;
    Pipeline p("mount=ceiling", {0});
    std::unique_ptr<zrfe::Engine> ref(NewEngine(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, kCycleSide));
    ref->SetSubViewNum(1);
    for (int n = 0; n < kCycles; ++n) {
        ASSERT_TRUE(p.Play()) << "cycle " << n;
        const Frame f(kCycleSide, kCycleSide, n);
        p.Push(f, n % 2 == 1, 0);
        f.LoadInto(*ref, n % 2 == 1);
        ExpectSame(p.PullPicture(-1), Render(*ref, -1), "cycle " + std::to_string(n));
        ExpectSame(p.PullPicture(0), Render(*ref, 0), "cycle " + std::to_string(n));
        ASSERT_EQ(gst_element_set_state(p.pipeline, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    }
}

// Bad input ends in a message on the bus, never a crash or a read past a buffer;
// bad property values are refused with a warning and leave the old value.
TEST(GstElement, BadInputIsRefusedWithAMessage)
{
    {
        Pipeline p("", {});
        ASSERT_TRUE(p.Play());
        GstCaps* rgb = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "RGB", "width", G_TYPE_INT, 64,
                                           "height", G_TYPE_INT, 64, "framerate", GST_TYPE_FRACTION, 25, 1, nullptr);
        p.PushRaw(rgb, std::vector<guint8>(64 * 64 * 3), 0);
        const std::string text = FirstError(p);
        EXPECT_NE(text.find("NV12 or I420"), std::string::npos) << text;
        GstPad* src = p.Pad("src");
        EXPECT_EQ(gst_pad_get_current_caps(src), nullptr);
        gst_object_unref(src);
    }
    {
        Pipeline p("", {0});
        ASSERT_TRUE(p.Play());
        GstCaps* caps = gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "NV12", "width", G_TYPE_INT, kSide,
                                            "height", G_TYPE_INT, kSide, nullptr);
        p.PushRaw(caps, std::vector<guint8>(size_t(kSide) * kSide), 0);  // luma only
        const std::string text = FirstError(p);
        EXPECT_NE(text.find("shorter"), std::string::npos) << text;
    }
    {
        // A floor camera's radius above 2608 would make a panorama past the picture limit.
        Pipeline p("mount=ground", {});
        ASSERT_TRUE(p.Play());
        std::unique_ptr<zrfe::Engine> ref(NewEngine(ZR_FE_INSTALL_GROUND, ZR_FE_VIEW_PANORAMA, kSide));
        const Frame f0(kSide, kSide, 0);
        p.Push(f0, false, 0);
        gst_sample_unref(p.Pull(-1));
        g_object_set(p.dewarp, "radius", 4000u, nullptr);
        const Frame f1(kSide, kSide, 1);
        p.Push(f1, false, kFrameDuration);
        f1.LoadInto(*ref, false);
        ExpectSame(p.PullPicture(-1), Render(*ref, -1), "radius refused");
        const std::vector<std::string> warnings = BusMessages(p.pipeline, GST_MESSAGE_WARNING);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find("radius 4000"), std::string::npos) << warnings[0];
        guint radius = 1;
        g_object_get(p.dewarp, "radius", &radius, nullptr);
        EXPECT_EQ(radius, 0u);
    }
    {
        Pipeline p("sub-width=320", {0});
        WarningCounter warnings;
        GstPad* sub = p.Pad("sub_0");
        g_object_set(p.dewarp, "sub-width", 321u, nullptr);  // odd
        g_object_set(p.dewarp, "sub-height", 8192u, nullptr);
        g_object_set(p.dewarp, "sub-width", 16384u, nullptr);  // 16384 x 8192 is past the pixel limit
        g_object_set(sub, "zoom", 21u, nullptr);
        g_object_set(p.dewarp, "ground-angle", 360u, nullptr);
        guint width = 0, height = 0, zoom = 0, angle = 1;
        g_object_get(p.dewarp, "sub-width", &width, "sub-height", &height, "ground-angle", &angle, nullptr);
        g_object_get(sub, "zoom", &zoom, nullptr);
        gst_object_unref(sub);
        EXPECT_EQ(warnings.count, 4);
        EXPECT_EQ(width, 320u);
        EXPECT_EQ(height, 8192u);
        EXPECT_EQ(zoom, 10u);
        EXPECT_EQ(angle, 0u);
    }
}

// lens, fov and poly: read back as set, given to the engine (the pictures are the engine's
// through that lens), a poly text that is not four numbers refused at once, and a lens
// that the settings make none of an element error at the next frame.
TEST(GstElement, LensPropertiesReachTheEngineAndABadLensIsAnError)
{
    Pipeline p("mount=ceiling lens=polynomial fov=200 poly=\"0.01,0,0,0\"", {0});
    gint lens = 0;
    gdouble fov = 0;
    gchar* poly = nullptr;
    g_object_get(p.dewarp, "lens", &lens, "fov", &fov, "poly", &poly, nullptr);
    EXPECT_EQ(lens, ZR_FE_LENS_POLYNOMIAL);
    EXPECT_EQ(fov, 200.0);
    EXPECT_STREQ(poly, "0.01,0,0,0");
    g_free(poly);
    {
        WarningCounter warnings;
        for (const char* bad : {"0.01,0,0", "0.01,0,0,0,0", "a,b,c,d", "0.01;0;0;0"})
            g_object_set(p.dewarp, "poly", bad, nullptr);
        EXPECT_EQ(warnings.count, 4);
        g_object_get(p.dewarp, "poly", &poly, nullptr);
        EXPECT_STREQ(poly, "0.01,0,0,0");
        g_free(poly);
    }

    ASSERT_TRUE(p.Play());
    std::unique_ptr<zrfe::Engine> ref(NewEngine(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, kSide));
    ref->SetSubViewNum(1);
    const tag_ZRLENS want{ZR_FE_LENS_POLYNOMIAL, 200.0f, {0.01, 0.0, 0.0, 0.0}};
    ASSERT_EQ(ref->SetLens(&want), 0);
    const Frame f0(kSide, kSide, 0);
    p.Push(f0, false, 0);
    f0.LoadInto(*ref, false);
    ExpectSame(p.PullPicture(-1), Render(*ref, -1), "main view through the lens");
    ExpectSame(p.PullPicture(0), Render(*ref, 0), "sub view through the lens");

    // An orthographic lens images at most 180 degrees.
    g_object_set(p.dewarp, "lens", ZR_FE_LENS_ORTHOGRAPHIC, nullptr);
    p.Push(Frame(kSide, kSide, 1), false, kFrameDuration);
    const std::string error = FirstError(p);
    EXPECT_NE(error.find("orthographic"), std::string::npos) << error;
}

// The synthetic fisheye scene, off-centre in a larger black frame with its corner on even
// coordinates: the square around its lens circle is then the scene picture exactly.
constexpr int kSceneSide = 256;
constexpr int kSceneX = 96, kSceneY = 40;
constexpr int kPlacedW = 448, kPlacedH = 352;
constexpr guint8 kBlackY = 0, kBlackChroma = 128;
// The found circle may differ from the true one by a fraction of a pixel.
constexpr double kMinFoundPsnr = 35.0;

Frame SceneSquare()
{
    const zrscene::Nv12Picture pic =
        zrscene::BgrToNv12(zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, kSceneSide));
    Frame f(kSceneSide, kSceneSide, 0);
    f.y = pic.luma;
    for (size_t i = 0; i < f.u.size(); ++i) {
        f.u[i] = pic.chroma[2 * i];
        f.v[i] = pic.chroma[2 * i + 1];
    }
    return f;
}

Frame Placed(const Frame& square)
{
    Frame f(kPlacedW, kPlacedH, 0);
    std::fill(f.y.begin(), f.y.end(), kBlackY);
    std::fill(f.u.begin(), f.u.end(), kBlackChroma);
    std::fill(f.v.begin(), f.v.end(), kBlackChroma);
    for (int r = 0; r < square.height; ++r)
        std::copy_n(&square.y[size_t(r) * square.width], square.width, &f.y[size_t(kSceneY + r) * kPlacedW + kSceneX]);
    const int half = square.width / 2;
    for (int r = 0; r < square.height / 2; ++r) {
        const size_t at = size_t(kSceneY / 2 + r) * (kPlacedW / 2) + kSceneX / 2;
        std::copy_n(&square.u[size_t(r) * half], half, &f.u[at]);
        std::copy_n(&square.v[size_t(r) * half], half, &f.v[at]);
    }
    return f;
}

double Psnr(const Picture& got, const Picture& want)
{
    double sum = 0;
    for (size_t i = 0; i < want.bytes.size(); ++i)
        sum += (double(got.bytes[i]) - want.bytes[i]) * (double(got.bytes[i]) - want.bytes[i]);
    const double mse = sum / double(want.bytes.size());
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

// The circle property, set before playing and changed while playing, in NV12 and I420: a
// given circle feeds the engine the square around it, "" the whole frame again, "auto" the
// square around the circle found in the next frame; a bad text is refused and the old kept.
TEST(GstElement, CircleFeedsTheSquareAroundTheLens)
{
    const Frame square = SceneSquare();
    const Frame placed = Placed(square);
    const int half = kSceneSide / 2;
    const std::string given =
        std::to_string(kSceneX + half) + "," + std::to_string(kSceneY + half) + "," + std::to_string(half);
    // A new source width with radius 0 rebuilds the geometry and the sub view's tables, as in the element.
    const auto regeometry = [](zrfe::Engine& e, unsigned radius) {
        e.SetInstallMode(ZR_FE_INSTALL_CEILING, radius);
        tag_ZR_FE_NORMAL_VIEW_S v{};
        e.GetNormalParam(v, 0);
        e.SetNormalView(v, 0);
    };
    for (bool planar : {false, true}) {
        const std::string format = planar ? "I420" : "NV12";
        Pipeline p("mount=ceiling", {0});
        g_object_set(p.dewarp, "circle", given.c_str(), nullptr);
        ASSERT_TRUE(p.Play());
        std::unique_ptr<zrfe::Engine> ref(NewEngine(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, kSceneSide));
        ref->SetSubViewNum(1);
        p.Push(placed, planar, 0);
        square.LoadInto(*ref, planar);
        for (int i : {-1, 0})
            ExpectSame(p.PullPicture(i), Render(*ref, i), format + " given circle, view " + std::to_string(i));

        g_object_set(p.dewarp, "circle", "", nullptr);
        p.Push(placed, planar, kFrameDuration);
        regeometry(*ref, kPlacedW / 2);
        placed.LoadInto(*ref, planar);
        for (int i : {-1, 0})
            ExpectSame(p.PullPicture(i), Render(*ref, i), format + " no circle, view " + std::to_string(i));

        {
            WarningCounter warnings;
            const char* bad[] = {"auto,1", "224,168", "224,168,15", "a,b,c", "224,168,128,4", "224,168,9000"};
            for (const char* text : bad)
                g_object_set(p.dewarp, "circle", text, nullptr);
            EXPECT_EQ(warnings.count, int(G_N_ELEMENTS(bad))) << format;
            gchar* kept = nullptr;
            g_object_get(p.dewarp, "circle", &kept, nullptr);
            EXPECT_STREQ(kept, "") << format;
            g_free(kept);
        }

        g_object_set(p.dewarp, "circle", "auto", nullptr);
        p.Push(placed, planar, 2 * kFrameDuration);
        regeometry(*ref, kSceneSide / 2);
        square.LoadInto(*ref, planar);
        for (int i : {-1, 0}) {
            const Picture got = p.PullPicture(i), want = Render(*ref, i);
            const std::string what = format + " auto, view " + std::to_string(i);
            ASSERT_EQ(got.width, want.width) << what;
            ASSERT_EQ(got.height, want.height) << what;
            EXPECT_GE(Psnr(got, want), kMinFoundPsnr) << what;
        }
        EXPECT_TRUE(BusMessages(p.pipeline, GST_MESSAGE_WARNING).empty()) << format << ": the circle was not found";
        EXPECT_TRUE(BusMessages(p.pipeline, GST_MESSAGE_ERROR).empty()) << format;
    }
    {
        // No circle in a flat frame: the centred square, with a warning.
        constexpr guint8 kGrey = 90;
        const int side = std::min(kPlacedW, kPlacedH);
        Frame flat(kPlacedW, kPlacedH, 0), flatSquare(side, side, 0);
        for (Frame* f : {&flat, &flatSquare}) {
            std::fill(f->y.begin(), f->y.end(), kGrey);
            std::fill(f->u.begin(), f->u.end(), kBlackChroma);
            std::fill(f->v.begin(), f->v.end(), kBlackChroma);
        }
        Pipeline p("mount=ceiling circle=auto", {});
        ASSERT_TRUE(p.Play());
        p.Push(flat, false, 0);
        std::unique_ptr<zrfe::Engine> ref(NewEngine(ZR_FE_INSTALL_CEILING, ZR_FE_VIEW_PANORAMA, side));
        flatSquare.LoadInto(*ref, false);
        ExpectSame(p.PullPicture(-1), Render(*ref, -1), "auto without a circle");
        const std::vector<std::string> warnings = BusMessages(p.pipeline, GST_MESSAGE_WARNING);
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_NE(warnings[0].find("no lens circle"), std::string::npos) << warnings[0];
    }
}

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
// GLib is built without frame pointers: without the slower unwinder a leak's stack
// ends at g_malloc, and neither a real leak nor GStreamer's own lifetime
// allocations could be told apart.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

// What GLib's own library constructor allocates lives as long as the process.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:_dl_init\n";
}
#endif

int main(int argc, char** argv)
{
    gst_init(&argc, &argv);
    zrfe_dewarp_register(nullptr);
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    gst_deinit();
    return result;
}
