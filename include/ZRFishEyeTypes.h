// ZRFishEye: the enumerations and plain records that cross the library's
// boundary, shared by the threaded dewarper (ZRFishEye.h) and the synchronous
// engine (ZRFishEyeEngine.h).
#ifndef ZRFISHEYETYPES_H
#define ZRFISHEYETYPES_H

#include <vector>

// The largest picture the library makes or takes from a caller's number: at most
// ZR_FE_MAX_PICTURE_SIDE pixels a side and ZR_FE_MAX_PICTURE_PIXELS pixels in all.
// Frames, sub-view sizes, radii (through the tables they imply), picture packets and
// snapshot edits beyond it are refused (-1, or a frame ignored) and change nothing.
constexpr int ZR_FE_MAX_PICTURE_SIDE = 16384;
constexpr long long ZR_FE_MAX_PICTURE_PIXELS = 1LL << 26;

// Whether a width x height picture is within the limit above (zero and negative sizes fit:
// they describe no picture).
inline bool ZRFitsPictureLimit(long long llWidth, long long llHeight)
{
    if (llWidth <= 0 || llHeight <= 0)
        return true;
    return llWidth <= ZR_FE_MAX_PICTURE_SIDE && llHeight <= ZR_FE_MAX_PICTURE_SIDE &&
           llWidth * llHeight <= ZR_FE_MAX_PICTURE_PIXELS;
}

// How the camera is mounted.
enum ENUM_ZR_FE_INSTALL_MODE_E : int {
    ZR_FE_INSTALL_GROUND = 0,   // lens looking up (floor or desk)
    ZR_FE_INSTALL_CEILING = 1,  // lens looking down (ceiling)
    ZR_FE_INSTALL_WALL = 2      // lens looking ahead (wall)
};

// What the main view shows.
enum ENUM_ZR_FE_VIEW_TYPE_E : int {
    ZR_FE_VIEW_ORIGINAL = 0,         // the lens circle, masked, with the sub-view outlines
    ZR_FE_VIEW_PANORAMA = 1,         // the panorama
    ZR_FE_VIEW_DOUBLE_PANORAMA = 2   // floor and ceiling: the panorama in two stacked halves
};

// How the views are rendered. Exact reproduces the library's defining chain of
// conversions byte for byte; fast samples every view once, straight from the
// frame's 4:2:0 planes: the same views, as sharp, at a fraction of the cost.
enum ENUM_ZR_FE_RENDER_MODE_E : int {
    ZR_FE_RENDER_EXACT = 0,
    ZR_FE_RENDER_FAST = 1
};

// The lens that puts each direction somewhere in the lens circle. The built-in
// lens is the library's historical one (the default, every table as it always
// was); the others put a ray theta off the lens axis at radius r(theta) from the
// circle's centre, with the focal length f chosen so that r(fFieldOfView / 2) is
// the lens-circle radius.
enum ENUM_ZR_FE_LENS_E : int {
    ZR_FE_LENS_BUILTIN = 0,        // the library's historical tables
    ZR_FE_LENS_EQUIDISTANT = 1,    // r = f * theta
    ZR_FE_LENS_EQUISOLID = 2,      // r = 2 f sin(theta / 2)
    ZR_FE_LENS_STEREOGRAPHIC = 3,  // r = 2 f tan(theta / 2)
    ZR_FE_LENS_ORTHOGRAPHIC = 4,   // r = f sin(theta)
    ZR_FE_LENS_POLYNOMIAL = 5,     // r = f theta (1 + k1 theta^2 + k2 theta^4 + k3 theta^6 + k4 theta^8), OpenCV's fisheye model
};

// A lens: its projection, the full angle its circle spans (degrees) and, for the
// polynomial, k1..k4. The built-in lens ignores the other fields.
struct tag_ZRLENS {
    ENUM_ZR_FE_LENS_E eModel;
    float fFieldOfView;
    double dK[4];
};

// A pixel position; arithmetic on it wraps modulo 65536.
struct tag_ZR_FE_POINT_S {
    unsigned short nX;  // column
    unsigned short nY;  // row
};

// Outline and centre of one sub view, in the coordinates of the original view.
struct tag_ZR_FE_POINT_SET_S {
    std::vector<tag_ZR_FE_POINT_S> vecPoints;
    tag_ZR_FE_POINT_S stCenter;
};

// Parameters of one sub view (a virtual pan-tilt-zoom camera). Floor and
// ceiling cameras use fAngleY..fZoomHor (degrees, factors); wall cameras use
// fPan..fFovVer (radians).
struct tag_ZR_FE_NORMAL_VIEW_S {
    float fAngleX;   // carried along, never used
    float fAngleY;   // tilt away from the lens axis
    float fAngleZ;   // azimuth about the lens axis
    float fZoomVer;  // vertical focal length, in half view heights
    float fZoomHor;  // horizontal focal length, in half view heights
    float fPan;      // angle of the left edge
    float fTilt;     // angle of the top row at the side edges
    float fFovHor;   // horizontal field of view
    float fFovVer;   // vertical field of view
    unsigned int uZoom;  // zoom level 0..20 last applied
};

// The floor and ceiling panorama.
struct tag_ZR_FE_GROUND_VIEW_S {
    unsigned int uRadius;
    unsigned int uRadiusCut;  // always 0
    unsigned int uAngle;      // ground angle, degrees 0..359
};

// The wall panorama and the window of it that the main view shows.
struct tag_ZR_FE_WALL_VIEW_S {
    unsigned int uStartX;
    unsigned int uStartY;
    unsigned int uHeight;
    unsigned int uWidth;
    unsigned int uValidHeight;
    unsigned int uValidWidth;
};

// Describes a picture that has just been produced.
struct tag_ZR_FE_FRAME_INFO_S {
    unsigned char bMain;  // 1 for the main view
    int nIndex;           // -1 for the main view, else the sub view 0..7
    unsigned int uPicWidth;
    unsigned int uPicHeight;
};

// A semi-planar 4:2:0 picture (NV12: luma plane, then interleaved U, V pairs).
struct tag_ZRFRAME {
    unsigned long long u64Reserved;
    unsigned char* pData[3];
    int nPitch[3];
    int nWidth;
    int nHeight;
};

#endif  // ZRFISHEYETYPES_H
