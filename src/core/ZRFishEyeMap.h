// The remap-table pair of one view.
#ifndef ZRFISHEYE_CORE_ZRFISHEYEMAP_H
#define ZRFISHEYE_CORE_ZRFISHEYEMAP_H

#include <functional>

#include <opencv2/core.hpp>

#include "ZRBase.h"

// m_matMapX and m_matMapY hold, per output pixel, the absolute column and row
// of the input picture to sample (CV_32FC1, the view's output size).
//
// The host thread rebuilds tables while a worker may be remapping with them, so
// a table is never written in place: the builder makes new matrices and
// Install() swaps them in under m_mtxTables; a worker calls Take() to get its
// own references to both, which stay valid and unchanged for its whole remap.
// The host, being the only writer, may read the members without the lock.
class ZRFishEyeMap : public CZRObject {
public:
    ZRFishEyeMap();
    ~ZRFishEyeMap() override;

    // alsoUnderLock runs under the same lock, for settings that belong with the tables.
    void Install(const cv::Mat& matMapX, const cv::Mat& matMapY, const std::function<void()>& alsoUnderLock = nullptr);
    void Take(cv::Mat& matMapX, cv::Mat& matMapY);
    // Takes the tables out of the holder for a rebuild: the caller gets them when no
    // worker holds them, so a rebuild of one size writes into memory already mapped
    // instead of fresh pages, else two empty matrices. Until the next Install() the
    // holder is empty and a worker composes nothing with it.
    void Reclaim(cv::Mat& matMapX, cv::Mat& matMapY);

    cv::Mat m_matMapX;
    cv::Mat m_matMapY;
    CZRMutex m_mtxTables;
};

#endif
