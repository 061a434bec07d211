#include "CommandLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>

#include <opencv2/core/utils/logger.hpp>

#include "Commands.h"
#include "Session.h"

namespace zrtool {

namespace {

const char kUsage[] =
    "usage: zrfisheye COMMAND [options] [--verbose]\n"
    "\n"
    "commands:\n"
    "  demo     dewarp the built-in synthetic room for every mount and write the views\n"
    "  dewarp   dewarp an image, video, camera or stream into pictures or videos\n"
    "  circle   find the lens circle of a picture or video\n"
    "  scene    write the synthetic fisheye picture of one mount\n"
    "  view     show a picture, video, camera or stream dewarped in a window, aimed with the mouse\n"
    "\n"
    "'zrfisheye COMMAND --help' describes each command. --verbose lets the libraries'\n"
    "own messages (FFmpeg's, libpng's, OpenCV's) through.\n";

const char kFfmpegQuiet[] = "-8";  // FFmpeg's AV_LOG_QUIET, read by OpenCV's video back end

std::FILE* g_err = nullptr;

}  // namespace

std::FILE* Err() { return g_err ? g_err : stderr; }

void SilenceDependencies()
{
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_SILENT);
    setenv("OPENCV_FFMPEG_LOGLEVEL", kFfmpegQuiet, 0);
    setenv("QT_LOGGING_RULES", "*=false", 0);
    // libpng, libjpeg and the window toolkit write to file descriptor 2 themselves:
    // point it at /dev/null and keep a stream of our own on the terminal.
    std::fflush(stderr);
    const int terminal = dup(STDERR_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (terminal < 0 || null < 0) {
        if (terminal >= 0)
            close(terminal);
        if (null >= 0)
            close(null);
        return;
    }
    std::FILE* ours = fdopen(terminal, "w");
    if (!ours || dup2(null, STDERR_FILENO) < 0) {
        if (ours)
            std::fclose(ours);
        else
            close(terminal);
        close(null);
        return;
    }
    close(null);
    setvbuf(ours, nullptr, _IONBF, 0);  // unbuffered, like stderr
    g_err = ours;
}

int RunCommandLine(std::vector<std::string> args)
{
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? Err() : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::string command = args[0];
    args.erase(args.begin());
    try {
        if (command == "demo")
            return RunDemo(args);
        if (command == "dewarp")
            return RunDewarp(args);
        if (command == "circle")
            return RunCircle(args);
        if (command == "scene")
            return RunScene(args);
        if (command == "view")
            return RunView(args);
        throw UsageError("unknown command '" + command + "' (try --help)");
    } catch (const HelpShown&) {
        return 0;
    } catch (const SourceError& e) {
        std::fprintf(Err(), "zrfisheye %s: %s\n", command.c_str(), e.what());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(Err(), "zrfisheye %s: %s\n", command.c_str(), e.what());
        return 2;
    }
}

}  // namespace zrtool
