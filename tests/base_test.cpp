#include <gtest/gtest.h>
#include "ZRFishEye.h"
TEST(Smoke, Constructs) { CZRFishEyeDewarper d(ZR_FE_INSTALL_CEILING, 1000, ZR_FE_VIEW_PANORAMA, 1000, 640, 480, 0); EXPECT_EQ(d.GetAllViewNum(), 1); }
