#include "PipelineOptions.h"

#include <cstdio>

#include "CommandLine.h"
#include "Commands.h"
#include "ZRFishEyeEngine.h"

namespace zrtool {

namespace {

const int kMaxZoomLevel = 20;
const int kMaxPoint = 65535;
const int kMaxSubViewSide = 8192;
const int kMinFrameSide = 32;
const float kDegreesPerTurn = 360.0f;
// A spread floor or ceiling view asks for this tilt, straight out to the horizon; the
// dewarper clamps it to the steepest tilt that keeps the view inside the lens circle.
const float kHorizonTilt = 90.0f;
// A pan past either end of any wall window, which the dewarper clamps to that end.
const float kBeyondAnyPan = 10.0f;

int SubIndex(const std::string& option, const std::string& text, std::string& rest)
{
    const size_t eq = text.find('=');
    if (eq == std::string::npos)
        throw UsageError(option + " takes I=VALUE, not '" + text + "'");
    rest = text.substr(eq + 1);
    return ParseInt(option, text.substr(0, eq), 0, zrfe::kMaxSubViews - 1);
}

}  // namespace

const char kPipelineOptionsHelp[] =
    "  --mount ceiling|ground|wall   how the camera is mounted (default ceiling)\n"
    "  --radius R                    lens-circle radius of the main view (default: half the frame side)\n"
    "  --view circle|panorama|double main view (default panorama)\n"
    "  --angle DEG                   ground angle: turns a floor or ceiling panorama\n"
    "  --start-y ROW                 top row of a wall camera's panorama window\n"
    "  --subviews N                  number of sub views, 0 to 8 (default 0)\n"
    "  --subview-size WxH            size of every sub view (default 640x360)\n"
    "  --zoom I=LEVEL                zoom level 0..20 of sub view I\n"
    "  --aim I=X,Y                   aim sub view I at point (X, Y) of the main view as displayed\n"
    "  --angles I=A,B                sub view I: tilt,azimuth in degrees (floor, ceiling)\n"
    "                                or pan,tilt in radians (wall)\n"
    "  --circle auto|CX,CY,R         the lens circle in frame pixels; auto finds it (the default for\n"
    "                                frames that are not square; a square frame is otherwise fed whole)\n"
    "  --no-crop                     feed the frame as it is (a non-square one is stretched to a square)\n"
    "  --fast                        fast render mode: every view sampled once from the 4:2:0 frame\n"
    "Sub views that are neither aimed nor given angles look around the room: floor and ceiling\n"
    "cameras' at equal steps of azimuth, toward the walls; a wall camera's at equal steps across.\n"
    "The square around the lens circle is fed to the dewarper, black where it leaves the frame.\n";

bool ParsePipelineOption(const std::vector<std::string>& args, size_t& i, PipelineOptions& o)
{
    const std::string& a = args[i];
    std::string rest;
    if (a == "--mount") {
        if (!zrscene::ParseMount(OptionValue(args, i), o.session.mount))
            throw UsageError("--mount takes ceiling, ground or wall, not '" + args[i] + "'");
    } else if (a == "--radius") {
        o.session.radius = ParseInt(a, OptionValue(args, i), 16, 16384);
    } else if (a == "--view") {
        const std::string& v = OptionValue(args, i);
        if (v == "circle" || v == "original")
            o.session.view = ZR_FE_VIEW_ORIGINAL;
        else if (v == "panorama")
            o.session.view = ZR_FE_VIEW_PANORAMA;
        else if (v == "double")
            o.session.view = ZR_FE_VIEW_DOUBLE_PANORAMA;
        else
            throw UsageError("--view takes circle, panorama or double, not '" + v + "'");
    } else if (a == "--angle") {
        o.angle = ParseInt(a, OptionValue(args, i), 0, 359);
    } else if (a == "--start-y") {
        o.startY = ParseInt(a, OptionValue(args, i), 0, kMaxPoint);
    } else if (a == "--subviews") {
        o.session.subViews = ParseInt(a, OptionValue(args, i), 0, zrfe::kMaxSubViews);
    } else if (a == "--subview-size") {
        if (!ParseSize(OptionValue(args, i), o.session.subWidth, o.session.subHeight) ||
            o.session.subWidth > kMaxSubViewSide || o.session.subHeight > kMaxSubViewSide)
            throw UsageError("--subview-size takes WxH, each 1 to 8192, not '" + args[i] + "'");
    } else if (a == "--zoom") {
        const int k = SubIndex(a, OptionValue(args, i), rest);
        o.subs[k].zoom = ParseInt(a, rest, 0, kMaxZoomLevel);
    } else if (a == "--aim" || a == "--angles") {
        const int k = SubIndex(a, OptionValue(args, i), rest);
        double p = 0, q = 0;
        char tail = 0;
        if (std::sscanf(rest.c_str(), "%lf,%lf%c", &p, &q, &tail) != 2)
            throw UsageError(a + " takes I=A,B, not '" + args[i] + "'");
        if (a == "--aim") {
            if (p < 0 || q < 0 || p > kMaxPoint || q > kMaxPoint)
                throw UsageError("--aim takes a point of the main view, not '" + args[i] + "'");
            o.subs[k].aim = true;
            o.subs[k].x = static_cast<int>(p);
            o.subs[k].y = static_cast<int>(q);
        } else {
            o.subs[k].angles = true;
            o.subs[k].a = p;
            o.subs[k].b = q;
        }
    } else if (a == "--circle") {
        o.circle = ParseCircleChoice(OptionValue(args, i));
    } else if (a == "--no-crop") {
        o.circle.mode = CircleChoice::kStretch;
    } else if (a == "--fast") {
        o.session.fast = true;
    } else if (!ParseLensOption(args, i, o.lens)) {
        return false;
    }
    return true;
}

void CheckPipelineOptions(const PipelineOptions& o)
{
    for (const auto& kv : o.subs)
        if (kv.first >= o.session.subViews)
            throw UsageError("sub view " + std::to_string(kv.first) + " is set but --subviews is " +
                             std::to_string(o.session.subViews));
    CheckLensOptions(o.lens);
}

void TakeInput(const std::string& arg, std::string& input)
{
    if (!arg.empty() && arg[0] == '-')
        throw UsageError("unknown option '" + arg + "'");
    if (!input.empty())
        throw UsageError("more than one input: '" + input + "' and '" + arg + "'");
    input = arg;
}

void FinishPipelineOptions(const std::string& input, const PipelineOptions& o)
{
    if (input.empty())
        throw UsageError("no INPUT given (try --help)");
    CheckPipelineOptions(o);
}

void CheckFrameSide(const PipelineOptions& o, int side)
{
    if (side < kMinFrameSide)
        throw UsageError("the picture is too small (" + std::to_string(side) + " pixels; at least " +
                         std::to_string(kMinFrameSide) + ")");
    if (o.session.radius > side / 2)
        throw UsageError("radius " + std::to_string(o.session.radius) + " is too large for a " + std::to_string(side) +
                         "-pixel frame (at most " + std::to_string(side / 2) + ")");
}

// Wall views are level with the lens axis.
void SpreadSubView(CZRFishEyeDewarper& d, bool wall, int i, int n)
{
    tag_ZR_FE_NORMAL_VIEW_S v;
    d.GetNormalParam(v, static_cast<unsigned int>(i));
    if (!wall) {
        v.fAngleY = kHorizonTilt;
        v.fAngleZ = kDegreesPerTurn * static_cast<float>(i) / static_cast<float>(n);
        d.SetNormalView(v, i);
        return;
    }
    // The pans the window allows, as the dewarper clamps them for this view's width.
    float ends[2];
    for (int e = 0; e < 2; ++e) {
        v.fPan = e ? kBeyondAnyPan : -kBeyondAnyPan;
        d.SetNormalView(v, i);
        d.GetNormalParam(v, static_cast<unsigned int>(i));
        ends[e] = v.fPan;
    }
    // The middle of the i-th of n equal parts, so that one view looks straight ahead.
    v.fPan = ends[0] + (ends[1] - ends[0]) * (static_cast<float>(i) + 0.5f) / static_cast<float>(n);
    v.fTilt = -v.fFovVer / 2;
    d.SetNormalView(v, i);
}

void ConfigureDewarper(CZRFishEyeDewarper& d, const PipelineOptions& o, int side)
{
    // First: the aims below go through the lens.
    ApplyLens(d, o.lens, o.session.radius > 0 ? o.session.radius : side / 2);
    if (o.angle >= 0 && d.SetGroundAngle(static_cast<unsigned int>(o.angle)) != 0)
        throw UsageError("--angle applies to ceiling and ground mounts only");
    if (o.startY >= 0 && d.SetWallStarty(static_cast<unsigned int>(o.startY)) != 0)
        throw UsageError("--start-y applies to the wall mount only");
    const bool wall = o.session.mount == ZR_FE_INSTALL_WALL;
    for (int i = 0; i < o.session.subViews; ++i) {
        const auto set = o.subs.find(i);
        const SubViewSetting s = set != o.subs.end() ? set->second : SubViewSetting();
        if (s.zoom >= 0)
            d.ZoomNormalView(static_cast<unsigned int>(s.zoom), i);
        if (!s.angles && !s.aim)
            SpreadSubView(d, wall, i, o.session.subViews);
        if (s.angles) {
            tag_ZR_FE_NORMAL_VIEW_S v;
            d.GetNormalParam(v, static_cast<unsigned int>(i));
            if (wall) {
                v.fPan = static_cast<float>(s.a);
                v.fTilt = static_cast<float>(s.b);
            } else {
                v.fAngleY = static_cast<float>(s.a);
                v.fAngleZ = static_cast<float>(s.b);
            }
            if (d.SetNormalView(v, i) != 0)
                throw UsageError("--angles for sub view " + std::to_string(i) + " are not usable numbers");
        }
        const tag_ZR_FE_POINT_S point{static_cast<unsigned short>(s.x), static_cast<unsigned short>(s.y)};
        if (s.aim && d.MoveNormalView(point, i) != 0)
            throw UsageError("--aim for sub view " + std::to_string(i) + " is not on the main view");
    }
}

}  // namespace zrtool
