#include "LiteralComposition.h"

#include <functional>

#include <opencv2/imgproc.hpp>

#include "engine/EngineCore.h"

namespace zrtest {

namespace {

const cv::Scalar kOutlineColour[8] = {
    cv::Scalar(150, 54, 0, 0),    cv::Scalar(29, 239, 103, 0), cv::Scalar(226, 17, 153, 0),
    cv::Scalar(105, 202, 255, 0), cv::Scalar(179, 165, 0, 0),  cv::Scalar(42, 107, 214, 0),
    cv::Scalar(158, 150, 213, 0), cv::Scalar(166, 115, 0, 0)};

cv::Mat Resized(const cv::Mat& m, cv::Size size)
{
    cv::Mat out;
    cv::resize(m, out, size, 0, 0, cv::INTER_LINEAR);
    return out;
}

cv::Mat Remapped(const cv::Mat& src, const cv::Mat& mapX, const cv::Mat& mapY)
{
    cv::Mat out;
    cv::remap(src, out, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
    return out;
}

}  // namespace

LiteralSettings SettingsOf(const zrfe::Engine& engine)
{
    const zrfe::EngineCore& core = engine.Core();
    LiteralSettings s;
    s.mode = engine.GetInstallMode();
    s.viewType = engine.GetMainViewType();
    s.radius = static_cast<int>(core.m_uRadius);
    s.halfSize = static_cast<int>(core.m_uHalfSize);
    s.angle = engine.GetGroundParam().uAngle;
    s.wall = engine.GetWallParam();
    core.m_pPanoramaMap->FloatMaps(s.mapX, s.mapY);
    for (int i = 0; i < engine.GetSubViewNum(); ++i) {
        if (!((engine.GetLineMask() >> i) & 1))
            continue;
        tag_ZR_FE_POINT_SET_S points;
        engine.GetSubViewPoints(points, i);
        std::vector<cv::Point> polygon;
        for (const tag_ZR_FE_POINT_S& p : points.vecPoints)
            polygon.emplace_back(p.nX, p.nY);
        if (!polygon.empty() && polygon.back() != polygon.front())
            polygon.push_back(polygon.front());
        s.outlines.push_back(polygon);
        s.outlineIndex.push_back(i);
    }
    return s;
}

cv::Mat LiteralSource(const tag_ZRFRAME& f)
{
    const int w = f.nWidth;
    const cv::Mat luma = cv::Mat(f.nHeight, f.nWidth, CV_8UC1, f.pData[0], static_cast<size_t>(f.nPitch[0])).clone();
    const cv::Mat pairs(f.nHeight / 2, f.nWidth / 2, CV_8UC2, f.pData[1], static_cast<size_t>(f.nPitch[1]));
    cv::Mat uv[2];
    cv::split(pairs, uv);
    const cv::Mat channels[3] = {Resized(luma, {w, w}), Resized(uv[0], {w, w}), Resized(uv[1], {w, w})};
    cv::Mat out;
    cv::merge(channels, 3, out);
    return out;
}

cv::Mat LiteralSource(CZRPacketPIC* p)
{
    const int w = static_cast<int>(p->m_uWidth), h = static_cast<int>(p->m_uHeight);
    cv::Mat planes[3];
    for (int i = 0; i < 3; ++i)
        planes[i] = cv::Mat(static_cast<int>(p->m_uLines[i]), static_cast<int>(p->m_uPitch[i]), CV_8UC1,
                            p->GetLine(i, 0));
    if (static_cast<int>(p->m_uPitch[0]) != w || static_cast<int>(p->m_uLines[0]) != h) {
        planes[0] = planes[0](cv::Rect(0, 0, w, h));
        planes[1] = planes[1](cv::Rect(0, 0, w / 2, h / 2));
        planes[2] = planes[2](cv::Rect(0, 0, w / 2, h / 2));
    }
    const cv::Size size(w, w);
    const cv::Mat channels[3] = {planes[0].size() == size ? planes[0] : Resized(planes[0], size),
                                 Resized(planes[2], size), Resized(planes[1], size)};
    cv::Mat out;
    cv::merge(channels, 3, out);
    return out;
}

cv::Mat LiteralMainView(const cv::Mat& source, const LiteralSettings& s, bool drawOutlines)
{
    const int side = 2 * s.halfSize;
    if (source.empty() || side < 2 || s.mode < 0 || s.mode > 2)
        return cv::Mat();
    const cv::Mat working = Resized(source, {side, side});
    cv::Mat circle;
    if (s.mode == ZR_FE_INSTALL_WALL) {
        circle = working;
    } else {
        if (s.radius < 1 || s.radius > s.halfSize)
            return cv::Mat();
        cv::Mat mask(working.size(), working.type(), cv::Scalar(0, 255, 255, 0));
        cv::circle(mask, cv::Point(s.halfSize, s.halfSize), s.radius, cv::Scalar(255, 255, 255, 0), -1, cv::LINE_8, 0);
        cv::Mat masked;
        cv::bitwise_and(working, mask, masked);
        circle = masked(cv::Rect(s.halfSize - s.radius, s.halfSize - s.radius, 2 * s.radius, 2 * s.radius));
    }
    if (drawOutlines)
        for (size_t k = 0; k < s.outlines.size(); ++k)
            if (!s.outlines[k].empty())
                cv::polylines(circle, s.outlines[k], true, kOutlineColour[s.outlineIndex[k]], 2, cv::LINE_8, 0);
    if (s.viewType == ZR_FE_VIEW_ORIGINAL)
        return circle;
    if (s.mapX.empty())
        return cv::Mat();
    const cv::Mat panorama = Remapped(circle, s.mapX, s.mapY);
    if (s.mode == ZR_FE_INSTALL_WALL)
        return panorama(cv::Rect(static_cast<int>(s.wall.uStartX), static_cast<int>(s.wall.uStartY),
                                 static_cast<int>(s.wall.uWidth), static_cast<int>(s.wall.uHeight)));
    const int W = panorama.cols;
    const int shift = static_cast<int>(static_cast<float>(static_cast<unsigned int>(W) * s.angle) / 360.0f);
    cv::Mat turned;  // a new picture: hconcat must not write over the strip it reads
    if (shift >= 1)
        cv::hconcat(panorama.colRange(shift, W), panorama.colRange(0, shift), turned);
    else
        turned = panorama;
    if (s.viewType != ZR_FE_VIEW_DOUBLE_PANORAMA)
        return turned;
    const int half = (W / 16) * 8;
    cv::Mat stacked;
    cv::vconcat(turned.colRange(0, half), turned.colRange(half, 2 * half), stacked);
    return stacked;
}

cv::Mat LiteralSubView(const cv::Mat& source, const zrfe::Engine& engine, int index)
{
    cv::Mat mapX, mapY;
    engine.Core().m_pNormalMap[static_cast<size_t>(index)]->FloatMaps(mapX, mapY);
    if (source.empty() || mapX.empty())
        return cv::Mat();
    return Remapped(source, mapX, mapY);
}

Planes LiteralPlanes(const cv::Mat& working)
{
    cv::Mat ch[3];
    cv::split(working, ch);
    const cv::Size half(working.cols / 2, working.rows / 2);
    return {ch[0], Resized(ch[1], half), Resized(ch[2], half)};
}

Planes PlanesOf(CZRFrame* frame)
{
    CZRPacketPIC* p = frame ? frame->GetPicture() : nullptr;
    if (!p)
        return {};
    const int w = static_cast<int>(p->m_uWidth), h = static_cast<int>(p->m_uHeight);
    auto plane = [&](int i, int pw, int ph) {
        return cv::Mat(ph, pw, CV_8UC1, p->GetLine(i, 0), p->m_uPitch[i]).clone();
    };
    return {plane(0, w, h), plane(2, w / 2, h / 2), plane(1, w / 2, h / 2)};
}

zrfe::PlanarPicture PictureOf(const Planes& p)
{
    zrfe::PlanarPicture picture;
    picture.width = p.y.cols;
    picture.height = p.y.rows;
    const cv::Mat* planes[3] = {&p.y, &p.u, &p.v};
    for (int i = 0; i < 3; ++i) {
        picture.planes[i] = planes[i]->data;
        picture.pitches[i] = static_cast<int>(planes[i]->step);
    }
    return picture;
}

namespace {
Planes Render(const zrfe::ViewSize& size, int& result, const std::function<int(const zrfe::PlanarPicture&)>& render)
{
    Planes out{cv::Mat(size.height, size.width, CV_8UC1), cv::Mat(size.height / 2, size.width / 2, CV_8UC1),
               cv::Mat(size.height / 2, size.width / 2, CV_8UC1)};
    result = render(PictureOf(out));
    return out;
}
}  // namespace

Planes RenderMain(const zrfe::Engine& engine, int& result)
{
    return Render(engine.GetMainViewSize(), result, [&](const zrfe::PlanarPicture& p) { return engine.RenderMain(p); });
}

Planes RenderSub(const zrfe::Engine& engine, int index, int& result)
{
    return Render(engine.GetSubViewSize(index), result,
                  [&](const zrfe::PlanarPicture& p) { return engine.RenderSub(index, p); });
}

bool Same(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && (a.empty() || cv::norm(a, b, cv::NORM_INF) == 0);
}

bool SamePlanes(const Planes& a, const Planes& b) { return Same(a.y, b.y) && Same(a.u, b.u) && Same(a.v, b.v); }

}  // namespace zrtest
