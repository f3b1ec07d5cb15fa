// The main window's place and size for a screen's DPI and work area.
#include <gtest/gtest.h>

#include "launcher/core/main_window.h"

namespace {

// The frame that the fixed-size style adds around the client area.
SIZE frame() {
    RECT r{0, 0, 0, 0};
    AdjustWindowRect(&r, 0x02CA0000, FALSE);
    return SIZE{r.right - r.left, r.bottom - r.top};
}

TEST(MainWindowRect, ScalesTheClientAreaAndCentresInTheWorkArea) {
    const SIZE f = frame();
    const RECT work{0, 0, 1600, 860};
    RECT r = main_window_rect(96, work);
    EXPECT_EQ(r.right - r.left - f.cx, 1280);
    EXPECT_EQ(r.bottom - r.top - f.cy, 591);
    EXPECT_EQ(r.left, (1600 - (1280 + f.cx)) / 2);
    EXPECT_EQ(r.top, (860 - (591 + f.cy)) / 2);

    // 886.5 rounds to 887; a task bar on the left moves the centre with it.
    const RECT wide{200, 0, 3000, 1600};
    r = main_window_rect(144, wide);
    EXPECT_EQ(r.right - r.left - f.cx, 1920);
    EXPECT_EQ(r.bottom - r.top - f.cy, 887);
    EXPECT_EQ(r.left, 200 + (2800 - (1920 + f.cx)) / 2);
}

TEST(MainWindowRect, AWindowLargerThanTheWorkAreaStartsAboveAndLeftOfIt) {
    const SIZE f = frame();
    const RECT small{0, 0, 1600, 860};
    const RECT r = main_window_rect(144, small);
    const int width = 1920 + f.cx, height = 887 + f.cy;
    // Division truncates toward zero: an odd overhang loses its half pixel.
    EXPECT_EQ(r.left, -((width - 1600) / 2));
    EXPECT_EQ(r.top, -((height - 860) / 2));
    EXPECT_LT(r.left, 0);
}

}  // namespace
