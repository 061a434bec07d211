// zrfisheye view: a fisheye stream dewarped live in a window, aimed with the mouse.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "CommandLine.h"
#include "Commands.h"
#include "FrameSource.h"
#include "PipelineOptions.h"
#include "Session.h"
#include "WindowZoom.h"
#include "ZRFishEyeEngine.h"

namespace zrtool {

namespace {

using Clock = std::chrono::steady_clock;

const char kWindowName[] = "zrfisheye";
const char kHelpHead[] =
    "usage: zrfisheye view INPUT [options]\n"
    "Shows INPUT dewarped in a window: the main view on top, the sub views below it.\n"
    "INPUT is a picture, a video file (played at its own frame rate), a camera (/dev/video0 or\n"
    "an index such as 0) or a stream address (rtsp://..., http://...).\n"
    "  --loop                        play a video file again from the start when it ends\n"
    "  --out DIR                     where snapshots go (default: the current folder)\n"
    "  --width W                     width of the window's picture, 480 to 4096 (default 1280)\n"
    "The viewer starts with 2 sub views unless --subviews says otherwise.\n";
const char kHelpControls[] =
    "Mouse:\n"
    "  left click on the main view   aim the selected sub view there\n"
    "  left click on a sub view      select it\n"
    "  wheel over a sub view         one zoom level (0 to 20) per notch; forward raises the level\n"
    "  right drag on a panorama      floor and ceiling: turn the ground angle;\n"
    "                                wall: move the window up and down\n"
    "Keys:\n"
    "  1 to 8   select sub view 0 to 7        v        next main view type\n"
    "  o        outlines on the main view     + and -  one sub view more or fewer\n"
    "  s        snapshot (PNG in --out)       space    pause\n"
    "  q, Esc   quit\n"
    "Without a display, or with an input that cannot be opened, it says so and exits with status 2.\n";

const int kDefaultWidth = 1280;
// Something to click for: a viewer without sub views only shows the main view.
const int kDefaultSubViews = 2;
const int kMinWidth = 480;
const int kMaxWidth = 4096;
const int kMaxZoomLevel = 20;
// The main view is at most this fraction of the window's width high (a circle would fill the screen).
const double kMainMaxHeightRatio = 9.0 / 16.0;
const int kSubViewsPerRow = 4;
// A lone sub view is no wider than this fraction of the window.
const double kSubMaxWidthRatio = 0.5;
const int kStatusHeight = 24;
const int kPollMs = 5;
const double kStatsPeriodS = 0.5;
const int kKeyEscape = 27;
const char kNoPictureYet[] = "zrfisheye view: no picture yet to take a snapshot of\n";
const double kFontScale = 0.5;
const int kFont = cv::FONT_HERSHEY_SIMPLEX;
const cv::Scalar kTextColour(235, 235, 235);
const cv::Scalar kLabelBackground(40, 40, 40);
const cv::Scalar kSelectedColour(0, 215, 255);
const cv::Scalar kStatusBackground(32, 32, 32);
const int kSelectedThickness = 3;
const int kLabelPadding = 4;

struct Options {
    std::string input, out = ".";
    PipelineOptions pipeline;
    bool loop = false;
    int width = kDefaultWidth;
};

Options Parse(const std::vector<std::string>& args)
{
    Options o;
    o.pipeline.session.subViews = kDefaultSubViews;
    for (size_t i = 0; i < args.size(); ++i) {
        if (ParsePipelineOption(args, i, o.pipeline))
            continue;
        const std::string& a = args[i];
        if (a == "--help") {
            std::fputs(kHelpHead, stdout);
            std::fputs(kPipelineOptionsHelp, stdout);
            std::fputs(kLensOptionsHelp, stdout);
            std::fputs(kHelpControls, stdout);
            throw HelpShown();
        } else if (a == "--loop") {
            o.loop = true;
        } else if (a == "--out") {
            o.out = OptionValue(args, i);
        } else if (a == "--width") {
            o.width = ParseInt(a, OptionValue(args, i), kMinWidth, kMaxWidth);
        } else {
            TakeInput(a, o.input);
        }
    }
    FinishPipelineOptions(o.input, o.pipeline);
    return o;
}

// Qt and GTK end the process when they cannot reach the display, so ask Xlib first when it is there.
bool DisplayReachable(std::string& why)
{
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) {
        why = "no display to show the window on (DISPLAY is not set)";
        return false;
    }
    void* xlib = dlopen("libX11.so.6", RTLD_NOW | RTLD_LOCAL);
    if (!xlib)
        return true;
    using OpenFn = void* (*)(const char*);
    using CloseFn = int (*)(void*);
    const auto open = reinterpret_cast<OpenFn>(dlsym(xlib, "XOpenDisplay"));
    const auto close = reinterpret_cast<CloseFn>(dlsym(xlib, "XCloseDisplay"));
    bool reachable = true;
    if (open && close) {
        void* connection = open(display);
        reachable = connection != nullptr;
        if (connection)
            close(connection);
    }
    dlclose(xlib);
    if (!reachable)
        why = std::string("cannot open display '") + display + "'";
    return reachable;
}

const char* ViewName(ENUM_ZR_FE_VIEW_TYPE_E v)
{
    return v == ZR_FE_VIEW_ORIGINAL ? "circle" : v == ZR_FE_VIEW_PANORAMA ? "panorama" : "double panorama";
}

// Where each picture lies in the window.
struct Layout {
    cv::Rect main;
    double mainScale = 1;  // window pixels per main-view pixel
    std::vector<cv::Rect> subs;
    cv::Rect status;
    cv::Size canvas;
};

Layout MakeLayout(int width, cv::Size main, cv::Size sub, int subViews)
{
    Layout l;
    int y = 0;
    if (main.area() > 0) {
        l.mainScale = std::min(static_cast<double>(width) / main.width, kMainMaxHeightRatio * width / main.height);
        const int w = std::max(1, static_cast<int>(main.width * l.mainScale));
        const int h = std::max(1, static_cast<int>(main.height * l.mainScale));
        l.main = cv::Rect((width - w) / 2, 0, w, h);
        y = h;
    }
    if (subViews > 0) {
        const int cols = std::min(subViews, kSubViewsPerRow);
        const int cellW = std::min(width / cols, static_cast<int>(width * kSubMaxWidthRatio));
        const int cellH = std::max(1, cellW * sub.height / sub.width);
        const int x0 = (width - cols * cellW) / 2;
        for (int i = 0; i < subViews; ++i)
            l.subs.emplace_back(x0 + (i % cols) * cellW, y + (i / cols) * cellH, cellW, cellH);
        y += (subViews + cols - 1) / cols * cellH;
    }
    l.status = cv::Rect(0, y, width, kStatusHeight);
    l.canvas = cv::Size(width, y + kStatusHeight);
    return l;
}

void PutLabel(cv::Mat& canvas, const std::string& text, cv::Point at)
{
    int baseline = 0;
    const cv::Size size = cv::getTextSize(text, kFont, kFontScale, 1, &baseline);
    const cv::Rect box(at.x, at.y, size.width + 2 * kLabelPadding, size.height + baseline + 2 * kLabelPadding - 2);
    cv::rectangle(canvas, box, kLabelBackground, cv::FILLED);
    const cv::Point origin(at.x + kLabelPadding, at.y + kLabelPadding - 1 + size.height);
    cv::putText(canvas, text, origin, kFont, kFontScale, kTextColour, 1, cv::LINE_AA);
}

void Fit(const cv::Mat& picture, cv::Mat& canvas, const cv::Rect& where)
{
    if (picture.empty() || where.area() == 0)
        return;
    const int interpolation = where.width < picture.cols ? cv::INTER_AREA : cv::INTER_LINEAR;
    cv::resize(picture, canvas(where), where.size(), 0, 0, interpolation);
}

// Closed by the window manager: backends answer 0 or -1 (no such window), or raise an error.
bool WindowClosed()
{
    try {
        return cv::getWindowProperty(kWindowName, cv::WND_PROP_VISIBLE) < 1;
    } catch (const cv::Exception&) {
        return true;
    }
}

struct MouseEvent {
    int event, x, y, flags;
};

void OnMouse(int event, int x, int y, int flags, void* userdata)
{
    static_cast<std::vector<MouseEvent>*>(userdata)->push_back({event, x, y, flags});
}

class Viewer {
public:
    explicit Viewer(const Options& o) : m_o(o), m_source(o.input, o.pipeline.circle, o.loop) {}

    int Run();

private:
    void StartSession(const std::shared_ptr<SourceFrame>& first);
    void OnKey(int key);
    void OnMouseEvent(const MouseEvent& e);
    void Aim(cv::Point mainPoint);
    void Drag(cv::Point windowPoint);
    void SetSubViews(int count);
    int WantedSubViews() const { return m_wantSubViews >= 0 ? m_wantSubViews : m_session->SubViewCount(); }
    void ApplyLineMask();
    void Snapshot();
    void Draw();
    std::string StatusText() const;
    CZRFishEyeDewarper& D() { return m_session->Dewarper(); }

    const Options& m_o;
    FrameSource m_source;
    // Declared before the session, so the frame it may still read outlives it.
    std::shared_ptr<SourceFrame> m_current, m_inFlight;
    bool m_inFlightIsNew = false;  // a frame of the input, not the last one shown again after a change
    std::unique_ptr<Session> m_session;
    std::vector<cv::Mat> m_views;  // the last complete set: main, then the sub views
    Layout m_layout;
    std::vector<MouseEvent> m_events;
    int m_selected = 0;
    bool m_outlines = true, m_paused = false, m_quit = false;
    bool m_settingsChanged = false, m_redraw = true;
    bool m_haveAim = false;
    // A new sub view count also waits for an idle dewarper: a frame in flight counts on the old one.
    int m_wantSubViews = -1;
    bool m_wantSnapshot = false;
    cv::Point m_aim;  // a main-view point waiting for the dewarper to be idle
    bool m_dragging = false;
    cv::Point m_dragStart;
    unsigned int m_dragAngle = 0, m_dragStartY = 0;
    long long m_framesOut = 0;
    double m_inFps = 0, m_outFps = 0;
};

void Viewer::StartSession(const std::shared_ptr<SourceFrame>& first)
{
    const int side = first->nv12.width;
    CheckFrameSide(m_o.pipeline, std::min(first->nv12.width, first->nv12.height));
    m_session.reset(new Session(m_o.pipeline.session, side));
    ConfigureDewarper(D(), m_o.pipeline, side);
}

void Viewer::ApplyLineMask()
{
    D().SetLineMask(m_outlines ? (1 << m_session->SubViewCount()) - 1 : 0);
    m_settingsChanged = true;
}

void Viewer::SetSubViews(int count)
{
    const int before = m_session->SubViewCount();
    if (count == before)
        return;
    m_session->SetSubViewCount(count);
    // An added view looks around the room too, not at the floor below the camera.
    for (int i = before; i < count; ++i)
        SpreadSubView(D(), D().GetInstallMode() == ZR_FE_INSTALL_WALL, i, count);
    m_selected = std::max(0, std::min(m_selected, count - 1));
    m_views.resize(std::min(m_views.size(), static_cast<size_t>(1 + count)));
    ApplyLineMask();
    m_redraw = true;
}

void Viewer::OnKey(int key)
{
    if (key < 0)
        return;
    key &= 0xFF;
    if (key == 'q' || key == 'Q' || key == kKeyEscape) {
        m_quit = true;
    } else if (key == ' ') {
        m_paused = !m_paused;
        m_source.SetPaused(m_paused);
        m_redraw = true;
    } else if (key == 's' || key == 'S') {
        if (m_session)
            m_wantSnapshot = true;  // after the aims and counts asked for before it
        else
            std::fprintf(Err(), "%s", kNoPictureYet);
    } else if (!m_session) {
        return;
    } else if (key >= '1' && key <= '8') {
        if (key - '1' < m_session->SubViewCount())
            m_selected = key - '1';
        m_redraw = true;
    } else if (key == 'v' || key == 'V') {
        const bool wall = D().GetInstallMode() == ZR_FE_INSTALL_WALL;
        const int types = wall ? 2 : 3;  // a wall camera's double panorama is its panorama
        D().SetMainViewType(static_cast<ENUM_ZR_FE_VIEW_TYPE_E>((D().GetMainViewType() + 1) % types));
        m_settingsChanged = true;
    } else if (key == 'o' || key == 'O') {
        m_outlines = !m_outlines;
        ApplyLineMask();
    } else if (key == '+' || key == '=') {
        m_wantSubViews = std::min(zrfe::kMaxSubViews, WantedSubViews() + 1);
    } else if (key == '-' || key == '_') {
        m_wantSubViews = std::max(0, WantedSubViews() - 1);
    }
}

void Viewer::OnMouseEvent(const MouseEvent& e)
{
    const cv::Point p(e.x, e.y);
    int sub = -1;
    for (size_t i = 0; i < m_layout.subs.size(); ++i)
        if (m_layout.subs[i].contains(p))
            sub = static_cast<int>(i);
    const bool onMain = m_layout.main.contains(p);
    const cv::Point mainPoint(static_cast<int>((e.x - m_layout.main.x) / m_layout.mainScale),
                              static_cast<int>((e.y - m_layout.main.y) / m_layout.mainScale));
    switch (e.event) {
    case cv::EVENT_LBUTTONDOWN:
        if (sub >= 0) {
            m_selected = sub;
            m_redraw = true;
        } else if (onMain && m_session->SubViewCount() > 0) {
            m_aim = mainPoint;
            m_haveAim = true;
        }
        break;
    case cv::EVENT_MOUSEWHEEL:
        if (sub >= 0) {
            tag_ZR_FE_NORMAL_VIEW_S v;
            D().GetNormalParam(v, static_cast<unsigned int>(sub));
            const int step = cv::getMouseWheelDelta(e.flags) > 0 ? 1 : -1;
            const int level = std::max(0, std::min(kMaxZoomLevel, static_cast<int>(v.uZoom) + step));
            D().ZoomNormalView(static_cast<unsigned int>(level), sub);
            m_settingsChanged = true;
            m_redraw = true;
        }
        break;
    case cv::EVENT_RBUTTONDOWN:
        if (onMain && D().GetMainViewType() != ZR_FE_VIEW_ORIGINAL) {
            m_dragging = true;
            m_dragStart = p;
            m_dragAngle = D().GetGroundParam().uAngle;
            m_dragStartY = D().GetWallParam().uStartY;
        }
        break;
    case cv::EVENT_MOUSEMOVE:
        if (m_dragging && (e.flags & cv::EVENT_FLAG_RBUTTON))
            Drag(p);
        break;
    case cv::EVENT_RBUTTONUP:
        if (m_dragging)
            Drag(p);
        m_dragging = false;
        break;
    default:
        break;
    }
}

void Viewer::Drag(cv::Point windowPoint)
{
    const double dx = (windowPoint.x - m_dragStart.x) / m_layout.mainScale;
    const double dy = (windowPoint.y - m_dragStart.y) / m_layout.mainScale;
    if (D().GetInstallMode() == ZR_FE_INSTALL_WALL) {
        // The picture follows the hand: dragging down shows what lies above.
        const long y = std::lround(m_dragStartY - dy);
        D().SetWallStarty(static_cast<unsigned int>(std::max(0L, y)));
    } else if (!m_views.empty() && !m_views[0].empty()) {
        // One main-view column is one panorama column; a double panorama shows half the width.
        const double columns = m_views[0].cols * (D().GetMainViewType() == ZR_FE_VIEW_DOUBLE_PANORAMA ? 2.0 : 1.0);
        const long turn = std::lround(dx * 360.0 / columns);
        D().SetGroundAngle(static_cast<unsigned int>(((static_cast<long>(m_dragAngle) - turn) % 360 + 360) % 360));
    }
    m_settingsChanged = true;
}

// Aims the selected sub view at a point of the main view as displayed. The dewarper's point
// conversions answer only while the main view is the panorama, so the other view types pass
// through it for a moment; the caller makes sure no frame is being rendered meanwhile.
void Viewer::Aim(cv::Point mainPoint)
{
    if (m_views.empty() || m_views[0].empty() || m_session->SubViewCount() == 0)
        return;
    const cv::Size main = m_views[0].size();
    int x = std::max(0, std::min(mainPoint.x, main.width - 1));
    int y = std::max(0, std::min(mainPoint.y, main.height - 1));
    CZRFishEyeDewarper& d = D();
    const ENUM_ZR_FE_VIEW_TYPE_E type = d.GetMainViewType();
    const bool wall = d.GetInstallMode() == ZR_FE_INSTALL_WALL;
    tag_ZR_FE_POINT_S point{static_cast<unsigned short>(x), static_cast<unsigned short>(y)};
    int result = 0;
    if (wall && type == ZR_FE_VIEW_ORIGINAL) {
        // The whole lens picture is shown, but a wall view is aimed with a point of the panorama window.
        d.SetMainViewType(ZR_FE_VIEW_PANORAMA);
        tag_ZR_FE_POINT_S window{};
        result = d.GetPanoramaPoint(point, window);
        if (result == 0)
            result = d.MoveNormalView(window, m_selected);
        d.SetMainViewType(type);
    } else if (!wall && type == ZR_FE_VIEW_DOUBLE_PANORAMA) {
        // The lower half continues the upper one to the right.
        const int half = main.height / 2;
        if (y >= half) {
            x += main.width;
            y -= half;
        }
        point = {static_cast<unsigned short>(x), static_cast<unsigned short>(y)};
        d.SetMainViewType(ZR_FE_VIEW_PANORAMA);
        result = d.MoveNormalView(point, m_selected);
        d.SetMainViewType(type);
    } else {
        result = d.MoveNormalView(point, m_selected);
    }
    // A point that maps to no lens pixel leaves the view where it was.
    if (result == 0)
        m_settingsChanged = true;
}

void Viewer::Snapshot()
{
    CZRFishEyeDewarper& d = D();
    if (m_views.empty() || m_views[0].empty()) {
        std::fprintf(Err(), "%s", kNoPictureYet);
        return;
    }
    std::error_code ec;
    std::filesystem::create_directories(m_o.out, ec);
    std::string path;
    for (int n = 1;; ++n) {
        char name[64];
        std::snprintf(name, sizeof name, "zrfisheye-snapshot-%03d.png", n);
        path = (std::filesystem::path(m_o.out) / name).string();
        if (!std::filesystem::exists(path, ec))
            break;
    }
    // The main view above the sub views side by side, scaled to their width.
    const int subViews = m_session->SubViewCount();
    bool ok = d.SnapStart() == 0;
    int sheet = 0;
    if (ok && subViews > 0) {
        unsigned int subW = 0, subH = 0;
        d.GetNormalSize(subW, subH);
        std::vector<int> keys;
        for (int i = 0; i < subViews; ++i)
            keys.push_back(1 + i);
        int row = 1;
        const int rowWidth = subViews * static_cast<int>(subW);
        const cv::Size main = m_views[0].size();
        const int mainHeight = std::max(2, main.height * rowWidth / main.width);
        ok = (subViews == 1 || d.SnapHorconcat(keys, row) == 0) && d.SnapResize(0, rowWidth, mainHeight) == 0 &&
             d.SnapVerconcat({0, row}, sheet) == 0;
    }
    ok = ok && d.SavePic(path, sheet) == 0;
    d.SnapStop();
    if (ok) {
        std::printf("saved %s\n", path.c_str());
        std::fflush(stdout);
    } else {
        std::fprintf(Err(), "zrfisheye view: cannot write the snapshot '%s'\n", path.c_str());
    }
}

std::string Viewer::StatusText() const
{
    char text[256];
    std::string mode = "waiting for the first frame";
    if (m_session) {
        CZRFishEyeDewarper& d = m_session->Dewarper();
        const ENUM_ZR_FE_INSTALL_MODE_E mount = d.GetInstallMode();
        const std::string place = mount == ZR_FE_INSTALL_WALL ? "start row " + std::to_string(d.GetWallParam().uStartY)
                                                               : "angle " + std::to_string(d.GetGroundParam().uAngle);
        mode = std::string(zrscene::MountName(mount)) + " | " + ViewName(d.GetMainViewType()) + " | " + place;
    }
    const char* state = m_paused ? " | paused" : m_source.Still() ? " | picture" : m_source.Ended() ? " | ended" : "";
    std::snprintf(text, sizeof text, "%s | in %.1f fps | out %.1f fps | dropped %lld%s", mode.c_str(), m_inFps,
                  m_outFps, m_source.FramesDropped(), state);
    return text;
}

void Viewer::Draw()
{
    const int subViews = m_session ? m_session->SubViewCount() : 0;
    const cv::Size main = m_views.empty() ? cv::Size() : m_views[0].size();
    cv::Size sub(m_o.pipeline.session.subWidth, m_o.pipeline.session.subHeight);
    m_layout = MakeLayout(m_o.width, main, sub, subViews);
    cv::Mat canvas(m_layout.canvas, CV_8UC3, cv::Scalar::all(0));
    if (!m_views.empty())
        Fit(m_views[0], canvas, m_layout.main);
    for (int i = 0; i < subViews; ++i) {
        const cv::Rect& cell = m_layout.subs[i];
        if (static_cast<size_t>(i + 1) < m_views.size())
            Fit(m_views[i + 1], canvas, cell);
        tag_ZR_FE_NORMAL_VIEW_S v;
        D().GetNormalParam(v, static_cast<unsigned int>(i));
        PutLabel(canvas, "sub " + std::to_string(i) + "  zoom " + std::to_string(v.uZoom), cell.tl());
        if (i == m_selected)
            cv::rectangle(canvas, cell, kSelectedColour, kSelectedThickness);
    }
    cv::rectangle(canvas, m_layout.status, kStatusBackground, cv::FILLED);
    cv::putText(canvas, StatusText(), cv::Point(8, m_layout.status.y + kStatusHeight - 8), kFont, kFontScale,
                kTextColour, 1, cv::LINE_AA);
    cv::imshow(kWindowName, canvas);
}

int Viewer::Run()
{
    try {
        cv::namedWindow(kWindowName, cv::WINDOW_AUTOSIZE | cv::WINDOW_GUI_NORMAL);
    } catch (const cv::Exception&) {
        throw UsageError("cannot open a window");
    }
    cv::setMouseCallback(kWindowName, OnMouse, &m_events);
    Clock::time_point statsTime = Clock::now();
    long long statsIn = 0, statsOut = 0;
    while (!m_quit) {
        if (m_redraw) {
            Draw();
            m_redraw = false;
        }
        const int key = cv::waitKey(kPollMs);
        if (WindowClosed())
            break;
        if (!m_session) {
            if (std::shared_ptr<SourceFrame> first = m_source.Take()) {
                StartSession(first);
                m_current = first;
                m_settingsChanged = true;
            }
        }
        std::vector<MouseEvent> events;
        events.swap(m_events);
        if (std::any_of(events.begin(), events.end(), [](const MouseEvent& e) {
                return e.event == cv::EVENT_MOUSEWHEEL || e.event == cv::EVENT_MOUSEHWHEEL;
            }))
            ResetWindowZoom(kWindowName);
        // The mouse first: a key is the newest thing that happened in this round.
        if (m_session)
            for (const MouseEvent& e : events)
                OnMouseEvent(e);
        OnKey(key);
        if (m_quit)
            break;
        if (m_session) {
            std::vector<cv::Mat> views;
            if (m_session->Poll(views)) {
                m_views = views;
                m_inFlight.reset();
                if (m_inFlightIsNew)
                    ++m_framesOut;
                m_redraw = true;
            }
            if (!m_session->Busy()) {
                if (m_wantSubViews >= 0) {
                    SetSubViews(m_wantSubViews);
                    m_wantSubViews = -1;
                }
                if (m_haveAim) {
                    Aim(m_aim);
                    m_haveAim = false;
                }
                if (m_wantSnapshot) {
                    Snapshot();
                    m_wantSnapshot = false;
                }
                std::shared_ptr<SourceFrame> next = m_paused ? nullptr : m_source.Take();
                if (next)
                    m_current = next;
                if (next || (m_settingsChanged && m_current)) {
                    m_inFlight = m_current;
                    m_inFlightIsNew = next != nullptr;
                    m_session->Offer(m_inFlight->Descriptor());
                    m_settingsChanged = false;
                }
            }
        }
        const Clock::time_point now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - statsTime).count();
        if (elapsed >= kStatsPeriodS) {
            m_inFps = (m_source.FramesRead() - statsIn) / elapsed;
            m_outFps = (m_framesOut - statsOut) / elapsed;
            statsIn = m_source.FramesRead();
            statsOut = m_framesOut;
            statsTime = now;
            m_redraw = true;
        }
    }
    cv::destroyAllWindows();
    return 0;
}

}  // namespace

int RunView(const std::vector<std::string>& args)
{
    const Options o = Parse(args);
    std::string why;
    if (!DisplayReachable(why))
        throw UsageError(why);
    Viewer viewer(o);
    return viewer.Run();
}

}  // namespace zrtool
