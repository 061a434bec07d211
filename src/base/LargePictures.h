// Memory for the pictures that a frame's gathers read at scattered places: the
// working picture and the lens circle cut from it. A gather steps a whole row
// down the picture from one pixel to the next, so with small pages nearly every
// load needs a page-table walk; these pictures are asked for in large pages
// where the system grants them (Linux's transparent huge pages), and in plain
// memory elsewhere. The bytes are the same either way.
#ifndef ZRFISHEYE_BASE_LARGEPICTURES_H
#define ZRFISHEYE_BASE_LARGEPICTURES_H

#include <opencv2/core.hpp>

namespace zrbase {

// An OpenCV allocator that asks for large pages for buffers of a few megabytes
// and more. Matrices made through it may be shared and freed like any other.
cv::MatAllocator* LargePictureAllocator();

// m.create(rows, cols, type) with memory from LargePictureAllocator when a new
// buffer is needed; a matrix of that size and type is kept as it is.
void CreateLargePicture(cv::Mat& m, int rows, int cols, int type);

}  // namespace zrbase

#endif
