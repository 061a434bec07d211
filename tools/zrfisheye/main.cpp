// zrfisheye: dewarps fisheye pictures and videos with the ZRFishEye library.
#include <cstdio>
#include <exception>
#include <string>
#include <vector>

#include <opencv2/core/utils/logger.hpp>

#include "Commands.h"
#include "Session.h"

namespace {

const char kUsage[] =
    "usage: zrfisheye COMMAND [options]\n"
    "\n"
    "commands:\n"
    "  demo     dewarp the built-in synthetic room for every mount and write the views\n"
    "  dewarp   dewarp an image or video file\n"
    "  scene    write the synthetic fisheye picture of one mount\n"
    "  view     show a picture, video, camera or stream dewarped in a window, aimed with the mouse\n"
    "\n"
    "'zrfisheye COMMAND --help' describes each command.\n";

}  // namespace

int main(int argc, char** argv)
{
    // Problems are reported in one line of our own; OpenCV's backend chatter would bury it.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    try {
        if (command == "demo")
            return zrtool::RunDemo(args);
        if (command == "dewarp")
            return zrtool::RunDewarp(args);
        if (command == "scene")
            return zrtool::RunScene(args);
        if (command == "view")
            return zrtool::RunView(args);
        throw zrtool::UsageError("unknown command '" + command + "' (try --help)");
    } catch (const zrtool::UsageError& e) {
        std::fprintf(stderr, "zrfisheye %s: %s\n", command.c_str(), e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zrfisheye %s: %s\n", command.c_str(), e.what());
        return 2;
    }
}
