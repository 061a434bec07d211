// Argument vectors for zrfisheye decoded from the input: words of its own command
// line (commands, options, values, absurd numbers) mixed with raw strings, run in
// a folder of the fuzzer's own that holds a small picture and a short video. Paths
// that would leave the folder are rewritten, so nothing outside it is touched.
// Run it with -close_fd_mask=3: the commands' own messages are not the fuzzer's.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "CommandLine.h"
#include "scene/FisheyeScene.h"

namespace {

namespace fs = std::filesystem;

const size_t kMaxArgs = 14;
const int kSampleSide = 96;
const int kSampleFrames = 3;

// Video back ends that reach devices or system services (cameras, a media framework):
// switched off, so that a number or a device name given as INPUT opens nothing outside the folder.
const char* const kDeviceBackends[] = {"V4L2",   "GSTREAMER", "FIREWIRE", "DC1394",  "OBSENSOR", "ARAVIS",   "UEYE",
                                       "XINE",   "GPHOTO2",   "REALSENSE", "OPENNI2", "PVAPI",    "XIMEA",    "INTEL_MFX"};

const char* const kWords[] = {
    "dewarp", "scene", "demo", "view", "--help", "-h", "--mount", "ceiling", "ground", "wall", "floor", "--radius",
    "--view", "circle", "panorama", "double", "--angle", "--start-y", "--subviews", "--subview-size", "--zoom",
    "--aim", "--angles", "--no-crop", "--max-frames", "--size", "--out", "--loop", "in.png", "in.avi", "grey.png",
    "out", "out/x.png", "missing.png", "in.png/sub", "0", "1", "2", "7", "8", "9", "20", "21", "-1", "48", "64",
    "4096", "16384", "99999999999", "nan", "1e9", "0=15", "1=300,200", "2=45,90", "8=1", "0=21", "1=-5,3",
    "64x48", "0x0", "99999x99999", "16x", "x", "", "=", ",", "3=0.5,0.2", "--circle", "auto", "48,48,40",
    "48,48,8", "-5,1e9,20", "--format", "mp4", "mkv", "avi", "png", "--layout", "views", "mosaic", "--quiet",
    "--duration", "--draw", "--lens", "equidistant", "equisolid", "stereographic", "orthographic", "polynomial",
    "--fov", "--focal", "--poly", "190", "330", "0.1,0,0,0", "-0.3,0,0,0", "1e308,0,0,0", "inf"};

// The fuzzer's own folder, made once, holding the inputs the words name.
const fs::path& Folder()
{
    static const fs::path dir = [] {
        char name[] = "/tmp/zrfe_fuzz_cli_XXXXXX";
        const char* made = mkdtemp(name);
        if (!made)
            std::abort();
        const fs::path d(made);
        const cv::Mat scene = zrscene::RenderFisheye(ZR_FE_INSTALL_CEILING, kSampleSide);
        cv::imwrite((d / "in.png").string(), scene);
        cv::Mat grey;
        cv::cvtColor(scene, grey, cv::COLOR_BGR2GRAY);
        cv::imwrite((d / "grey.png").string(), grey);
        cv::VideoWriter video((d / "in.avi").string(), cv::VideoWriter::fourcc('M', 'J', 'P', 'G'), 5,
                              scene.size());
        for (int i = 0; i < kSampleFrames; ++i)
            video.write(scene);
        return d;
    }();
    return dir;
}

// Keeps a path inside the folder: no absolute paths, no way up.
std::string Confined(std::string arg)
{
    if (!arg.empty() && arg[0] == '/')
        arg[0] = '_';
    for (size_t p = arg.find(".."); p != std::string::npos; p = arg.find("..", p))
        arg.replace(p, 2, "__");
    return arg;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    unsetenv("DISPLAY");  // the viewer answers that it has no display
    for (const char* backend : kDeviceBackends)
        setenv((std::string("OPENCV_VIDEOIO_PRIORITY_") + backend).c_str(), "0", 1);
    if (chdir(Folder().c_str()) != 0)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider in(data, size);
    std::vector<std::string> args;
    while (args.size() < kMaxArgs && in.remaining_bytes() > 0)
        args.push_back(in.ConsumeBool() ? std::string(in.PickValueInArray(kWords))
                                        : Confined(in.ConsumeRandomLengthString(24)));
    zrtool::RunCommandLine(args);
    // Outputs go; the inputs stay.
    std::error_code ignored;
    for (const fs::directory_entry& e : fs::directory_iterator(Folder(), ignored))
        if (e.path().filename() != "in.png" && e.path().filename() != "in.avi" && e.path().filename() != "grey.png")
            fs::remove_all(e.path(), ignored);
    return 0;
}
