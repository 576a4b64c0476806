// CenterWindow on real windows: centring on the screen or an owner, and the clamps at
// the display's edges, including the one-pixel-wider case that ends left of the screen.
#include <gtest/gtest.h>

#include "app/app.h"

namespace {

struct Screen {
    int width;
    int height;
};

Screen ScreenSize()
{
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

// Popup windows without a thick frame keep whatever size they are given, even wider
// than the screen.
HWND MakePopup(int x, int y, int width, int height, HWND owner = NULL)
{
    return CreateWindowExA(0, "STATIC", "center test", WS_POPUP, x, y, width, height, owner, NULL,
                           GetModuleHandleA(NULL), NULL);
}


class CenterWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        screen = ScreenSize();
        HDC dc = GetDC(NULL);
        displayWidth = GetDeviceCaps(dc, HORZRES);
        displayHeight = GetDeviceCaps(dc, VERTRES);
        ReleaseDC(NULL, dc);
        HWND probe = MakePopup(0, 0, 10, 10);
        ASSERT_NE(probe, nullptr) << "windows cannot be created (error " << GetLastError()
                                  << "): without DISPLAY the prefix needs HKCU\\Software\\Wine\\Drivers "
                                     "Graphics=\"x11,null\" (scripts/setup sets it)";
        DestroyWindow(probe);
        ASSERT_GT(screen.width, 100) << "no usable screen size";
        // The edge cases below assume what a single-monitor desktop has.
        ASSERT_EQ(displayWidth, screen.width) << "display width differs from the screen width";
        ASSERT_EQ(displayHeight, screen.height) << "display height differs from the screen height";
    }

    Screen screen{};
    int displayWidth = 0;
    int displayHeight = 0;
};

TEST_F(CenterWindowTest, NoOwnerCentresOnTheScreenAndClampsToTheDisplay)
{
    const int W = screen.width, H = screen.height;
    struct Case {
        const char *why;
        int width, height;
        int left, top;
    } cases[] = {
        {"small window is centred", 200, 100, (W - 200) / 2, (H - 100) / 2},
        {"odd leftover truncates", W - 3, H - 5, 1, 2},
        {"one pixel narrower sits at 0", W - 1, H - 1, 0, 0},
        {"as large as the screen sits at 0,0", W, H, 0, 0},
        {"one pixel wider: centred x is 0, right-edge correction moves it to -1", W + 1, 50, -1, (H - 50) / 2},
        {"one pixel taller: y ends at -1 the same way", 50, H + 1, (W - 50) / 2, -1},
        {"two pixels wider: centred x is -1, clamped to 0", W + 2, 50, 0, (H - 50) / 2},
        {"three pixels wider: -3/2 truncates to -1, clamped to 0", W + 3, H + 3, 0, 0},
        {"much wider and taller sits at 0,0", W + 400, H + 300, 0, 0},
    };
    for (const Case &c : cases) {
        HWND hwnd = MakePopup(7, 9, c.width, c.height);
        ASSERT_NE(hwnd, nullptr) << c.why << ": CreateWindowEx failed, error " << GetLastError();
        EXPECT_TRUE(CenterWindow(hwnd, NULL)) << c.why << ": CenterWindow reported failure";
        RECT r;
        GetWindowRect(hwnd, &r);
        EXPECT_EQ(r.left, c.left) << c.why << " (window " << c.width << "x" << c.height << ", screen " << W
                                  << "x" << H << "): wrong x";
        EXPECT_EQ(r.top, c.top) << c.why << ": wrong y";
        EXPECT_EQ(r.right - r.left, c.width) << c.why << ": the size must not change";
        EXPECT_EQ(r.bottom - r.top, c.height) << c.why << ": the size must not change";
        DestroyWindow(hwnd);
    }
}

TEST_F(CenterWindowTest, OwnerIsTheReferenceAndTheDisplayStillClamps)
{
    const int W = screen.width;
    struct Case {
        const char *why;
        RECT owner;   // left, top, right, bottom
        int width, height;
        int left, top;
    } cases[] = {
        {"centred on the owner", {100, 50, 500, 350}, 200, 100, 200, 150},
        {"owner partly off the left and top: clamped to 0", {-300, -200, -100, 0}, 100, 100, 0, 0},
        {"owner near the right edge: kept inside the display", {W - 100, 0, W + 300, 200}, 200, 100, W - 200, 50},
    };
    for (const Case &c : cases) {
        HWND owner = MakePopup(c.owner.left, c.owner.top, c.owner.right - c.owner.left, c.owner.bottom - c.owner.top);
        ASSERT_NE(owner, nullptr) << c.why << ": owner window not created";
        HWND hwnd = MakePopup(0, 0, c.width, c.height, owner);
        ASSERT_NE(hwnd, nullptr) << c.why << ": window not created";
        EXPECT_TRUE(CenterWindow(hwnd, owner)) << c.why << ": CenterWindow reported failure";
        RECT r;
        GetWindowRect(hwnd, &r);
        EXPECT_EQ(r.left, c.left) << c.why << ": wrong x";
        EXPECT_EQ(r.top, c.top) << c.why << ": wrong y";
        DestroyWindow(hwnd);
        DestroyWindow(owner);
    }
}

}  // namespace
