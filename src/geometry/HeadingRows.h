// The built-in equidistant lens over a row of rays that are given by heading and
// elevation, straight into a table row: the wall panorama's grid and the wall
// views' vertical planes.
#ifndef ZRFISHEYE_GEOMETRY_HEADINGROWS_H
#define ZRFISHEYE_GEOMETRY_HEADINGROWS_H

#include <cstddef>

namespace zrfe {

// Ray j points along the axis by cosHeading[j] * cosElevation[j], to the right by
// sinHeading[j] * cosElevation[j] and down by sinElevation[j]. Its entry in
// (mapX, mapY) is where ProjectEquidistant(right, down, along, focal, centre) lands,
// or (0, 0) off the edge x edge square (StoreSquareEntry). With mirrorX and mirrorY
// (else null), the same ray with its vertical offset from the centre negated goes
// there: the row whose elevations are exactly this row's negated.
void EquidistantHeadingRow(const float* cosHeading, const float* sinHeading, const float* cosElevation,
                           const float* sinElevation, float focal, float centre, float edge, float* mapX, float* mapY,
                           float* mirrorX, float* mirrorY, size_t n);

}  // namespace zrfe

#endif
