// Editing, joining and saving stored snapshot pictures. Every edit makes a new
// picture and swaps it in only once it exists, so a failed call leaves the
// store as it was; a result past the picture limit is refused before it is made,
// and OpenCV's errors stop at this border and become -1.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "dewarper/DewarperImpl.h"
#include "base/OpenCvPool.h"

namespace {
// Black in the working format.
const cv::Scalar kBlack(0, 128, 128, 0);
}  // namespace

int CZRFishEyeDewarper::SnapResize(int nKey, int nWidth, int nHeight)
{
    Impl& d = *m_pImpl;
    const HostGuard hostGuard(d.m_mtxHost);
    if (!d.WaitSnapPrepare())
        return -1;
    auto it = d.m_mapSnap.find(nKey);
    if (it == d.m_mapSnap.end() || nWidth <= 0 || nHeight <= 0 || !ZRFitsPictureLimit(nWidth, nHeight))
        return -1;
    try {
        std::unique_ptr<cv::Mat> scaled(new cv::Mat);
        const zrbase::OpenCvPoolUse pool;
        cv::resize(*it->second, *scaled, cv::Size(nWidth, nHeight), 0, 0, cv::INTER_LINEAR);
        it->second = std::move(scaled);
    } catch (const std::exception&) {
        return -1;
    }
    return 0;
}

int CZRFishEyeDewarper::SnapAddBlackBorder(int nKey, int nBorder)
{
    Impl& d = *m_pImpl;
    const HostGuard hostGuard(d.m_mtxHost);
    if (!d.WaitSnapPrepare())
        return -1;
    auto it = d.m_mapSnap.find(nKey);
    if (it == d.m_mapSnap.end() || nBorder < 0 ||
        !ZRFitsPictureLimit(it->second->cols + 2LL * nBorder, it->second->rows))
        return -1;
    try {
        std::unique_ptr<cv::Mat> bordered(new cv::Mat);
        cv::copyMakeBorder(*it->second, *bordered, 0, 0, nBorder, nBorder, cv::BORDER_CONSTANT, kBlack);
        it->second = std::move(bordered);
    } catch (const std::exception&) {
        return -1;
    }
    return 0;
}

int CZRFishEyeDewarper::SnapHorconcat(std::vector<int> vecKeys, int& nResultKey)
{
    const HostGuard hostGuard(m_pImpl->m_mtxHost);
    return m_pImpl->SnapConcat(vecKeys, true, nResultKey);
}

int CZRFishEyeDewarper::SnapVerconcat(std::vector<int> vecKeys, int& nResultKey)
{
    const HostGuard hostGuard(m_pImpl->m_mtxHost);
    return m_pImpl->SnapConcat(vecKeys, false, nResultKey);
}

int CZRFishEyeDewarper::Impl::SnapConcat(const std::vector<int>& vecKeys, bool bHorizontal, int& nResultKey)
{
    if (!WaitSnapPrepare())
        return -1;
    std::vector<cv::Mat> parts;
    for (int key : vecKeys) {
        auto it = m_mapSnap.find(key);
        if (it == m_mapSnap.end())
            return -1;
        parts.push_back(*it->second);  // a header sharing the stored pixels
    }
    if (parts.size() < 2)
        return -1;
    long long llJoined = 0;  // the joined side
    for (const cv::Mat& part : parts) {
        if (bHorizontal ? part.rows != parts[0].rows : part.cols != parts[0].cols)
            return -1;
        llJoined += bHorizontal ? part.cols : part.rows;
    }
    if (!(bHorizontal ? ZRFitsPictureLimit(llJoined, parts[0].rows) : ZRFitsPictureLimit(parts[0].cols, llJoined)))
        return -1;
    try {
        std::unique_ptr<cv::Mat> joined(new cv::Mat);
        if (bHorizontal)
            cv::hconcat(parts, *joined);
        else
            cv::vconcat(parts, *joined);
        if (!m_mapSnap.emplace(m_nSnapNextKey, std::move(joined)).second)
            return -1;
    } catch (const std::exception&) {
        return -1;
    }
    nResultKey = m_nSnapNextKey;
    ++m_nSnapNextKey;
    return 0;
}

int CZRFishEyeDewarper::SavePic(std::string strPath, int nKey, int)
{
    Impl& d = *m_pImpl;
    const HostGuard hostGuard(d.m_mtxHost);
    if (!d.WaitSnapPrepare())
        return -1;
    auto it = d.m_mapSnap.find(nKey);
    if (it == d.m_mapSnap.end())
        return -1;
    try {
        cv::Mat bgr;
        const zrbase::OpenCvPoolUse pool;
        cv::cvtColor(*it->second, bgr, cv::COLOR_YUV2BGR);
        return cv::imwrite(strPath, bgr, std::vector<int>()) ? 0 : -1;
    } catch (const std::exception&) {
        return -1;
    }
}
