// Where dewarped frames go: one video or numbered PNG series per view, or one mosaic of all views.
#ifndef ZRFISHEYE_TOOLS_OUTPUTS_H
#define ZRFISHEYE_TOOLS_OUTPUTS_H

#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

namespace zrtool {

enum class OutputFormat { kMp4, kMkv, kAvi, kPng };
enum class OutputLayout { kViews, kMosaic };

// Read "mp4|mkv|avi|png" and "views|mosaic"; throw UsageError otherwise.
OutputFormat ParseOutputFormat(const std::string& text);
OutputLayout ParseOutputLayout(const std::string& text);

// The main view above the sub views, these in a grid of ceil(sqrt(n)) columns filled row by row,
// the main view scaled to the grid's width: the contact sheet's arrangement. Empty cells are black.
cv::Mat Mosaic(const std::vector<cv::Mat>& views);

class Outputs {
public:
    // still: one picture, written as DIR/NAME.png whatever the format.
    Outputs(const std::string& dir, OutputFormat format, OutputLayout layout, double fps, bool still, bool quiet);
    ~Outputs();
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

    // views[0] is the main view, views[1 + i] sub view i (BGR). Throws UsageError when a file cannot be written.
    void Write(const std::vector<cv::Mat>& views);
    // Closes every file and says on stdout what each holds.
    void Close();
    long long Frames() const { return m_frames; }

private:
    void Open(const std::vector<cv::Mat>& pictures);

    std::string m_dir;
    OutputFormat m_format;
    OutputLayout m_layout;
    double m_fps;
    bool m_still, m_quiet, m_closed = false;
    std::vector<std::string> m_names;
    std::vector<cv::VideoWriter> m_writers;
    long long m_frames = 0;
};

}  // namespace zrtool

#endif
