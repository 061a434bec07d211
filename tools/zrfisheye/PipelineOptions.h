// The dewarper settings that every command taking the user's footage shares:
// mount, lens circle, view type, panorama position and sub views.
#ifndef ZRFISHEYE_TOOLS_PIPELINEOPTIONS_H
#define ZRFISHEYE_TOOLS_PIPELINEOPTIONS_H

#include <map>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "LensCircle.h"
#include "Session.h"

namespace zrtool {

struct SubViewSetting {
    int zoom = -1;
    bool aim = false;
    int x = 0, y = 0;
    bool angles = false;
    double a = 0, b = 0;
};

struct PipelineOptions {
    SessionSettings session;
    int angle = -1, startY = -1;
    CircleChoice circle;
    std::map<int, SubViewSetting> subs;
};

// The help lines of these options, for a command's --help.
extern const char kPipelineOptionsHelp[];

// Takes option args[i] (and its value) when it is one of these; false when it is not.
// Throws UsageError on a bad value.
bool ParsePipelineOption(const std::vector<std::string>& args, size_t& i, PipelineOptions& o);
// Checks what only the whole command line shows (a sub view set beyond --subviews).
void CheckPipelineOptions(const PipelineOptions& o);

// Refuses a frame side that the options cannot be used with.
void CheckFrameSide(const PipelineOptions& o, int side);
// Applies angle, wall start row and the sub view settings to a dewarper.
void ConfigureDewarper(CZRFishEyeDewarper& d, const PipelineOptions& o);

}  // namespace zrtool

#endif
