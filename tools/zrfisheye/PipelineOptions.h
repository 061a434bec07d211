// The dewarper settings that every command taking the user's footage shares:
// mount, lens, lens circle, view type, panorama position and sub views.
#ifndef ZRFISHEYE_TOOLS_PIPELINEOPTIONS_H
#define ZRFISHEYE_TOOLS_PIPELINEOPTIONS_H

#include <map>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "LensCircle.h"
#include "LensOptions.h"
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
    LensOptions lens;
    std::map<int, SubViewSetting> subs;
};

// The help lines of these options, for a command's --help.
extern const char kPipelineOptionsHelp[];

// Takes option args[i] (and its value) when it is one of these; false when it is not.
// Throws UsageError on a bad value.
bool ParsePipelineOption(const std::vector<std::string>& args, size_t& i, PipelineOptions& o);
// Checks what only the whole command line shows (a sub view set beyond --subviews, the lens
// options together).
void CheckPipelineOptions(const PipelineOptions& o);

// The end of a command's option loop: an argument that no option took is the INPUT, of which
// there is one. Throws UsageError for an unknown option or a second INPUT.
void TakeInput(const std::string& arg, std::string& input);
// After the loop: refuses a command line without INPUT, then checks the options.
void FinishPipelineOptions(const std::string& input, const PipelineOptions& o);

// Refuses a frame side that the options cannot be used with.
void CheckFrameSide(const PipelineOptions& o, int side);
// Applies the lens, angle, wall start row and the sub view settings to a dewarper fed frames
// of this width. Sub views that are neither aimed nor given angles are spread around the room.
void ConfigureDewarper(CZRFishEyeDewarper& d, const PipelineOptions& o, int side);
// Aims sub view i as the i-th of n spread around the room: floor and ceiling views toward
// the walls at equal steps of azimuth, wall views at equal steps of pan across the window.
void SpreadSubView(CZRFishEyeDewarper& d, bool wall, int i, int n);

}  // namespace zrtool

#endif
