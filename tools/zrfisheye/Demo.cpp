// zrfisheye demo: the synthetic room, dewarped for every mount and main view type.
#include <chrono>
#include <cstdio>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>

#include "Commands.h"
#include "LensOptions.h"
#include "Session.h"

namespace zrtool {

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

struct Aim {
    const char* name;
    double x, y;  // fraction of the main view as displayed (circle for floor and ceiling, window for wall)
};

// Four sub views per mount, aimed at named places of the room.
const Aim kCeilingAims[4] = {{"north-wall", 0.5, 0.12}, {"east-wall", 0.88, 0.5}, {"south-wall", 0.5, 0.88},
                             {"west-wall", 0.12, 0.5}};
const Aim kGroundAims[4] = {{"north-wall", 0.5, 0.88}, {"east-wall", 0.88, 0.5}, {"south-wall", 0.5, 0.12},
                            {"west-wall", 0.12, 0.5}};
const Aim kWallAims[4] = {{"north-wall", 0.5, 0.45}, {"west-wall", 0.08, 0.5}, {"east-wall", 0.92, 0.5},
                          {"floor", 0.5, 0.92}};

const char* ViewName(ENUM_ZR_FE_VIEW_TYPE_E v)
{
    return v == ZR_FE_VIEW_ORIGINAL ? "circle" : v == ZR_FE_VIEW_PANORAMA ? "panorama" : "double-panorama";
}

void Announce(const std::string& path, const cv::Mat& picture)
{
    std::printf("wrote %s %dx%d\n", path.c_str(), picture.cols, picture.rows);
}

void Write(const std::string& path, const cv::Mat& picture)
{
    if (picture.empty() || !cv::imwrite(path, picture))
        throw UsageError("cannot write '" + path + "'");
    Announce(path, picture);
}

void RunMount(ENUM_ZR_FE_INSTALL_MODE_E mount, int side, bool fast, const LensOptions& lens,
              const std::filesystem::path& dir)
{
    const std::string name = zrscene::MountName(mount);
    std::filesystem::create_directories(dir / name);
    auto t0 = Clock::now();
    // Through the lens named, the room is seen as the dewarper is told it is.
    const cv::Mat scene = lens.given ? zrscene::RenderFisheye(mount, side, ResolveLens(lens, side / 2))
                                     : zrscene::RenderFisheye(mount, side);
    zrscene::Nv12Picture nv12 = zrscene::BgrToNv12(scene);
    tag_ZRFRAME frame = nv12.Descriptor();
    Write((dir / name / "fisheye.png").string(), scene);
    std::printf("  %s: scene rendered in %.0f ms\n", name.c_str(), MsSince(t0));

    SessionSettings settings;
    settings.mount = mount;
    settings.fast = fast;
    settings.subViews = 4;
    settings.subWidth = 480;
    settings.subHeight = 270;
    settings.view = ZR_FE_VIEW_ORIGINAL;
    t0 = Clock::now();
    Session session(settings, side);
    CZRFishEyeDewarper& d = session.Dewarper();
    ApplyLens(d, lens, side / 2);
    std::printf("  %s: dewarper built in %.0f ms\n", name.c_str(), MsSince(t0));

    // Aim the sub views by clicks on the main view, as a user would.
    const Aim* aims = mount == ZR_FE_INSTALL_WALL ? kWallAims : mount == ZR_FE_INSTALL_GROUND ? kGroundAims : kCeilingAims;
    if (mount == ZR_FE_INSTALL_WALL)
        d.SetMainViewType(ZR_FE_VIEW_PANORAMA);
    const tag_ZR_FE_WALL_VIEW_S window = d.GetWallParam();
    const double w = mount == ZR_FE_INSTALL_WALL ? window.uWidth : 2.0 * d.GetGroundParam().uRadius;
    const double h = mount == ZR_FE_INSTALL_WALL ? window.uHeight : 2.0 * d.GetGroundParam().uRadius;
    for (int i = 0; i < 4; ++i) {
        const tag_ZR_FE_POINT_S click{static_cast<unsigned short>(aims[i].x * w), static_cast<unsigned short>(aims[i].y * h)};
        d.MoveNormalView(click, i);
        d.ZoomNormalView(mount == ZR_FE_INSTALL_WALL ? 8 : 4, i);
    }

    std::vector<cv::Mat> pictures;
    for (ENUM_ZR_FE_VIEW_TYPE_E view : {ZR_FE_VIEW_ORIGINAL, ZR_FE_VIEW_PANORAMA, ZR_FE_VIEW_DOUBLE_PANORAMA}) {
        if (mount == ZR_FE_INSTALL_WALL && view == ZR_FE_VIEW_DOUBLE_PANORAMA)
            continue;  // the same as the panorama for a wall camera
        d.SetMainViewType(view);
        t0 = Clock::now();
        if (!session.Run(frame, pictures))
            throw std::runtime_error("the pipeline did not answer");
        std::printf("  %s: %s frame through the pipeline in %.1f ms\n", name.c_str(), ViewName(view), MsSince(t0));
        Write((dir / name / (std::string("main-") + ViewName(view) + ".png")).string(), pictures[0]);
    }
    for (int i = 0; i < 4; ++i)
        Write((dir / name / (std::string("sub") + std::to_string(i) + "-" + aims[i].name + ".png")).string(),
              pictures[1 + i]);

    // The contact sheet, laid out with the snapshot functions: the main view above a 2 x 2 grid.
    t0 = Clock::now();
    if (d.SnapStart() != 0)
        throw std::runtime_error("snapshot capture failed");
    int top = 0, bottom = 0, grid = 0, sheet = 0;
    const int gridWidth = 2 * settings.subWidth;
    const cv::Mat& main = pictures[0];
    const int mainHeight = std::max(2, main.rows * gridWidth / std::max(1, main.cols));
    const bool ok = d.SnapHorconcat({1, 2}, top) == 0 && d.SnapHorconcat({3, 4}, bottom) == 0 &&
                    d.SnapVerconcat({top, bottom}, grid) == 0 && d.SnapResize(0, gridWidth, mainHeight) == 0 &&
                    d.SnapVerconcat({0, grid}, sheet) == 0;
    const std::string sheetPath = (dir / name / "contact-sheet.png").string();
    if (!ok || d.SavePic(sheetPath, sheet, 0) != 0)
        throw std::runtime_error("cannot compose or write the contact sheet");
    d.SnapStop();
    Announce(sheetPath, cv::Mat(mainHeight + 2 * settings.subHeight, gridWidth, CV_8UC1));
    std::printf("  %s: contact sheet in %.0f ms\n", name.c_str(), MsSince(t0));
}

}  // namespace

int RunDemo(const std::vector<std::string>& args)
{
    std::string out = "zrfisheye-demo";
    int side = 1024;
    bool fast = false;
    LensOptions lens;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--help") {
            std::puts("usage: zrfisheye demo [--out DIR] [--size N] [--fast] [lens options]\n"
                      "Renders the synthetic room (N x N fisheye pictures, default 1024) for the ceiling,\n"
                      "ground and wall mounts, runs each through the dewarper with the main view as circle,\n"
                      "panorama and double panorama and four sub views aimed at the walls, and writes every\n"
                      "view and a contact sheet per mount as PNG under DIR (default zrfisheye-demo).\n"
                      "--fast renders in fast mode: every view sampled once from the 4:2:0 frame.\n"
                      "With --lens the room is seen through that lens and the dewarper is given it.");
            std::fputs(kLensOptionsHelp, stdout);
            return 0;
        } else if (args[i] == "--out") {
            out = OptionValue(args, i);
        } else if (args[i] == "--fast") {
            fast = true;
        } else if (args[i] == "--size") {
            side = ParseInt("--size", OptionValue(args, i), 256, 4096) / 2 * 2;
        } else if (!ParseLensOption(args, i, lens)) {
            throw UsageError("unknown option '" + args[i] + "'");
        }
    }
    CheckLensOptions(lens);
    const auto t0 = Clock::now();
    std::error_code ec;
    std::filesystem::create_directories(out, ec);
    if (ec)
        throw UsageError("cannot create '" + out + "': " + ec.message());
    for (ENUM_ZR_FE_INSTALL_MODE_E mount : {ZR_FE_INSTALL_CEILING, ZR_FE_INSTALL_GROUND, ZR_FE_INSTALL_WALL})
        RunMount(mount, side, fast, lens, out);
    std::printf("demo done in %.1f s; open %s/*/contact-sheet.png\n", MsSince(t0) / 1000.0, out.c_str());
    return 0;
}

}  // namespace zrtool
