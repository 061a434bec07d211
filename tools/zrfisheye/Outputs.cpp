#include "Outputs.h"

#include <cmath>
#include <cstdio>
#include <filesystem>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "CommandLine.h"
#include "Session.h"

namespace zrtool {

namespace {

struct Codec {
    const char* fourcc;
    const char* name;
};
const Codec kH264{"avc1", "H.264"};
const Codec kMpeg4{"mp4v", "MPEG-4 Part 2"};
const Codec kMjpeg{"MJPG", "Motion JPEG"};
// H.264 needs even sides.
const int kEven = 2;

int Fourcc(const Codec& c) { return cv::VideoWriter::fourcc(c.fourcc[0], c.fourcc[1], c.fourcc[2], c.fourcc[3]); }

const char* Extension(OutputFormat f)
{
    return f == OutputFormat::kMp4 ? ".mp4" : f == OutputFormat::kMkv ? ".mkv" : f == OutputFormat::kAvi ? ".avi" : ".png";
}

std::vector<Codec> Codecs(OutputFormat f)
{
    if (f == OutputFormat::kAvi)
        return {kMjpeg};
    return {kH264, f == OutputFormat::kMp4 ? kMpeg4 : kMjpeg};
}

std::string NumberedPng(const std::string& stem, long long frame)
{
    char number[32];
    std::snprintf(number, sizeof number, "-%06lld.png", frame);
    return stem + number;
}

}  // namespace

OutputFormat ParseOutputFormat(const std::string& text)
{
    if (text == "mp4")
        return OutputFormat::kMp4;
    if (text == "mkv")
        return OutputFormat::kMkv;
    if (text == "avi")
        return OutputFormat::kAvi;
    if (text == "png")
        return OutputFormat::kPng;
    throw UsageError("--format takes mp4, mkv, avi or png, not '" + text + "'");
}

OutputLayout ParseOutputLayout(const std::string& text)
{
    if (text == "views")
        return OutputLayout::kViews;
    if (text == "mosaic")
        return OutputLayout::kMosaic;
    throw UsageError("--layout takes views or mosaic, not '" + text + "'");
}

cv::Mat Mosaic(const std::vector<cv::Mat>& views)
{
    const cv::Mat& main = views.at(0);
    const int subs = static_cast<int>(views.size()) - 1;
    if (subs == 0)
        return main.clone();
    const int cols = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(subs))));
    const int rows = (subs + cols - 1) / cols;
    const cv::Size cell = views[1].size();
    cv::Mat grid = cv::Mat::zeros(rows * cell.height, cols * cell.width, main.type());
    for (int i = 0; i < subs; ++i)
        if (views[1 + i].size() == cell)
            views[1 + i].copyTo(grid(cv::Rect((i % cols) * cell.width, (i / cols) * cell.height, cell.width, cell.height)));
    const int height = std::max(kEven, main.rows * grid.cols / std::max(1, main.cols) / kEven * kEven);
    cv::Mat top;
    cv::resize(main, top, cv::Size(grid.cols, height), 0, 0, cv::INTER_LINEAR);
    cv::Mat sheet;
    cv::vconcat(top, grid, sheet);
    return sheet;
}

Outputs::Outputs(const std::string& dir, OutputFormat format, OutputLayout layout, double fps, bool still, bool quiet)
    : m_dir(dir), m_format(format), m_layout(layout), m_fps(fps), m_still(still), m_quiet(quiet)
{
}

Outputs::~Outputs()
{
    for (cv::VideoWriter& w : m_writers)
        w.release();
}

void Outputs::Open(const std::vector<cv::Mat>& pictures)
{
    for (size_t v = 0; v < pictures.size(); ++v) {
        const std::string name = m_layout == OutputLayout::kMosaic ? "mosaic" : v == 0 ? "main" : "sub" + std::to_string(v - 1);
        m_names.push_back((std::filesystem::path(m_dir) / name).string());
        if (m_still || m_format == OutputFormat::kPng)
            continue;
        const std::string path = m_names.back() + Extension(m_format);
        const std::vector<Codec> codecs = Codecs(m_format);
        for (size_t c = 0; c < codecs.size(); ++c) {
            cv::VideoWriter w;
            try {
                w.open(path, cv::CAP_FFMPEG, Fourcc(codecs[c]), m_fps, pictures[v].size());
            } catch (const cv::Exception&) {
            }
            if (!w.isOpened())
                continue;
            if (c > 0 && v == 0 && !m_quiet)
                std::fprintf(Err(), "zrfisheye: no %s encoder here; writing %s instead\n", codecs[0].name, codecs[c].name);
            m_writers.push_back(w);
            break;
        }
        if (m_writers.size() != v + 1)
            throw UsageError("cannot write '" + path + "' (" + std::to_string(pictures[v].cols) + "x" +
                             std::to_string(pictures[v].rows) + ")");
    }
}

void Outputs::Write(const std::vector<cv::Mat>& views)
{
    std::vector<cv::Mat> pictures = views;
    if (m_layout == OutputLayout::kMosaic)
        pictures = {Mosaic(views)};
    if (m_names.empty())
        Open(pictures);
    for (size_t v = 0; v < pictures.size() && v < m_names.size(); ++v) {
        if (m_still || m_format == OutputFormat::kPng) {
            const std::string path = m_still ? m_names[v] + ".png" : NumberedPng(m_names[v], m_frames);
            if (pictures[v].empty() || !cv::imwrite(path, pictures[v]))
                throw UsageError("cannot write '" + path + "'");
        } else {
            m_writers[v].write(pictures[v]);
        }
    }
    ++m_frames;
}

void Outputs::Close()
{
    if (m_closed)
        return;
    m_closed = true;
    for (cv::VideoWriter& w : m_writers)
        w.release();
    if (m_quiet)
        return;
    for (const std::string& name : m_names) {
        if (m_still)
            std::printf("wrote %s.png\n", name.c_str());
        else if (m_format == OutputFormat::kPng)
            std::printf("wrote %s-*.png %lld frames\n", name.c_str(), m_frames);
        else
            std::printf("wrote %s%s %lld frames\n", name.c_str(), Extension(m_format), m_frames);
    }
    std::fflush(stdout);
}

}  // namespace zrtool
