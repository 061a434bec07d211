// The image spaces of the dewarper, and the sizes that the lens radius fixes.
//
// Every space below has x to the right and y downwards, with the origin at the
// top-left pixel; integer coordinates name pixels (sample centres), and remap
// tables hold absolute float coordinates in the space they read from.
//
//  source picture     The latest frame, converted to the working format (Y, U, V
//                     interleaved at full resolution) and stretched to a square
//                     of side w, the frame width. The lens circle is centred at
//                     (R, R) with radius R = w / 2 (m_uOrgRadius). Sub-view
//                     tables read this picture directly.
//  working image      The source picture resized to 2s x 2s, where s is the half
//                     size (m_uHalfSize). The lens circle is now centred at
//                     (s, s) with radius s. s is 17 * (r >> 4) for floor and
//                     ceiling cameras and 9 * (r >> 3) for a wall camera, so the
//                     circle always carries a little margin around radius r.
//  original view      What the main view calls the circle. Floor and ceiling:
//                     the working image masked to radius r around (s, s) and cut
//                     to the 2r x 2r square about it, so the circle sits at
//                     (r, r). Wall: the whole working image, where 90 degrees off
//                     the lens axis lies at distance s from (s, s). Sub-view
//                     outlines are drawn here, before any panorama remap.
//  panorama table     The panorama remap tables, reading the original view.
//                     Floor and ceiling: W x H, one column per direction around
//                     the centre and one row per ring. Wall: 2s x 2s, a
//                     longitude/latitude grid of the half space ahead.
//  displayed panorama Floor and ceiling: the table turned left by the ground
//                     angle's column shift. Wall: the window (uStartX, uStartY,
//                     uWidth, uHeight) of the table.
//
// Point coordinates handed across the interface are unsigned 16-bit and wrap.
#ifndef ZRFISHEYE_GEOMETRY_LENSGEOMETRY_H
#define ZRFISHEYE_GEOMETRY_LENSGEOMETRY_H

#include <cmath>

#include "ZRFishEyeTypes.h"

namespace zrfe {

// Angles in double, where grids of angles are made; the single-precision value
// where a table's arithmetic is float throughout.
constexpr double kPi = 3.141592653589793;
constexpr float kPiF = 3.1415927f;
constexpr unsigned int kDegreesPerTurn = 360;

// Floor and ceiling cameras share all panorama and sub-view code.
inline bool IsGroundFamily(int nMode) { return nMode == ZR_FE_INSTALL_GROUND || nMode == ZR_FE_INSTALL_CEILING; }
inline bool IsWall(int nMode) { return nMode == ZR_FE_INSTALL_WALL; }
inline bool IsKnownMode(int nMode) { return nMode >= 0 && nMode < 3; }

// Half the side of the working image.
inline unsigned int HalfSizeFor(int nMode, unsigned int uRadius)
{
    return IsWall(nMode) ? (uRadius >> 3) * 9u : (uRadius >> 4) * 17u;
}

// Sizes derived from the radius are rounded toward zero to a multiple of 8.
inline int RoundDown8(int n) { return n / 8 * 8; }

// Float to signed 32-bit toward zero, the way the hardware converts: a value
// outside the int range, or NaN, gives INT_MIN (so its low 16 bits are 0).
inline int TruncToInt32(float f)
{
    if (f > -2147483904.0f && f < 2147483648.0f)
        return static_cast<int>(f);
    return static_cast<int>(0x80000000u);
}

// The low 16 bits of the truncated value: how table entries become points.
inline unsigned short TruncToPoint16(float f)
{
    return static_cast<unsigned short>(static_cast<unsigned int>(TruncToInt32(f)) & 0xFFFFu);
}

// The equidistant fisheye lens: a ray at angle theta from the lens axis lands at
// distance theta * focal from the circle's centre. The ray is given by its
// components to the right of the picture, downwards, and along the axis; the
// offsets are where it lands, to the right of and below the circle's centre.
inline void EquidistantOffsets(float fRight, float fDown, float fAlong, float fFocal, float& offRight, float& offDown)
{
    const float offAxis = sqrtf(fDown * fDown + fRight * fRight);
    const float theta = atan2f(offAxis, fAlong);
    const float rho = theta * fFocal;
    const float alpha = atan2f(fDown, fRight);
    offRight = cosf(alpha) * rho;
    offDown = sinf(alpha) * rho;
}

// The same as the picture position (X, Y) about the centre (centre, centre).
inline void ProjectEquidistant(float fRight, float fDown, float fAlong, float fFocal, float fCentre, float& X,
                               float& Y)
{
    float offRight = 0, offDown = 0;
    EquidistantOffsets(fRight, fDown, fAlong, fFocal, offRight, offDown);
    X = offRight + fCentre;
    Y = offDown + fCentre;
}

}  // namespace zrfe

#endif
