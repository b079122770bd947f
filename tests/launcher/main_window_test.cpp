#include "launcher/launcher_app.h"
#include "launcher/main_window.h"
#include "launcher/window_placement.h"
#include "tests/launcher/launcher_fixtures.h"
#include "launcher/workers.h"
#include "tests/window/gdiplus_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>

TEST(MainWindow, ClassRegistrationToleratesAnExistingClass) {
    HINSTANCE const instance = ::GetModuleHandleW(nullptr);
    EXPECT_EQ(korvel::register_main_window_class(instance), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(korvel::register_main_window_class(instance), static_cast<DWORD>(ERROR_SUCCESS));  // 1410 inside
}

TEST(MainWindow, TheWindowKnowsItsAppAndItsDestructionEndsTheLoop) {
    ASSERT_EQ(korvel::register_main_window_class(::GetModuleHandleW(nullptr)), static_cast<DWORD>(ERROR_SUCCESS));
    korvel::LauncherApp app;
    app.settings.window_title = L"Ablak címe";
    HWND const hwnd = korvel::create_main_window(app);
    ASSERT_TRUE(hwnd);
    EXPECT_EQ(app.hwnd, hwnd);
    EXPECT_EQ(::GetWindowLongPtrW(hwnd, GWLP_USERDATA), reinterpret_cast<LONG_PTR>(&app));
    wchar_t title[32] = {};
    ::GetWindowTextW(hwnd, title, 32);
    EXPECT_STREQ(title, L"Ablak címe");
    EXPECT_FALSE(::IsWindowVisible(hwnd));  // shown by start-up once everything is in place

    ::SendMessageW(hwnd, WM_CLOSE, 0, 0);
    EXPECT_FALSE(::IsWindow(hwnd));
    MSG message{};
    ASSERT_TRUE(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(message.wParam, 0u);
}

// Moved to a monitor at 150 % (this display: 1600 x 1000, too small for 1800 x 1140): the
// window draws at the largest scale that fits, at the place the system suggests kept on
// the screen; its outline and its banner (decoded again from the same file) follow.
TEST(MainWindow, ADisplayScaleChangeResizesReshapesAndRedecodes) {
    korvel::test::ensure_gdiplus();
    ASSERT_EQ(korvel::register_main_window_class(::GetModuleHandleW(nullptr)), static_cast<DWORD>(ERROR_SUCCESS));
    korvel::test::TempDir const dir("dpi");
    korvel::test::write_file(dir / "banner.bmp", korvel::test::bmp_bytes(1920, 1080, [](int, int) { return 0x336699u; }));
    korvel::LauncherApp app;
    HWND const hwnd = korvel::create_main_window(app);
    ASSERT_TRUE(hwnd);
    ASSERT_EQ(app.window.scale.dpi, 96u);  // this test program's display
    ASSERT_TRUE(app.load_banner_image(dir / "banner.bmp"));
    UINT banner_width = 0;
    Gdiplus::DllExports::GdipGetImageWidth(app.window.banner_bitmap.get(), &banner_width);
    EXPECT_EQ(banner_width, 777u);

    SIZE asked{};  // the size the system then suggests
    ::SendMessageW(hwnd, WM_GETDPISCALEDSIZE, 144, reinterpret_cast<LPARAM>(&asked));
    EXPECT_TRUE(asked.cx == 1800 && asked.cy == 1140);
    RECT suggested{100, 50, 100 + 1800, 50 + 1140}, frame{}, outline{};
    ::SendMessageW(hwnd, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(app.window.scale.dpi, 126u);
    ::GetWindowRect(hwnd, &frame);
    RECT const fitted{25, 2, 1600, 1000};
    EXPECT_TRUE(::EqualRect(&frame, &fitted)) << frame.left << "," << frame.top << "," << frame.right << "," << frame.bottom;
    ::GetWindowRgnBox(hwnd, &outline);
    EXPECT_TRUE(outline.right >= 1575 && outline.bottom >= 998);
    Gdiplus::DllExports::GdipGetImageWidth(app.window.banner_bitmap.get(), &banner_width);
    EXPECT_EQ(banner_width, 1019u);  // its edges 18 and 795 at 126 DPI: 24 and 1043
    ::DestroyWindow(hwnd);
    MSG quit;
    ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

TEST(Workers, StartWorkerRunsTheBodyOnAThreadOfItsOwn) {
    HANDLE const done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<DWORD> worker_thread{0};
    ASSERT_TRUE(korvel::start_worker([&] {
        worker_thread = ::GetCurrentThreadId();
        ::SetEvent(done);
    }));
    EXPECT_EQ(::WaitForSingleObject(done, 10000), WAIT_OBJECT_0);
    EXPECT_NE(worker_thread.load(), ::GetCurrentThreadId());
    ::CloseHandle(done);
}

// Screens, scales and taskbars players have: the scale the 1200 x 760 window draws at and
// where it lies. Figures for the work areas: the screen less a 48-pixel taskbar.
TEST(WindowPlacement, TheWholeWindowOnTheWorkAreaAtTheLargestScaleThatFits) {
    struct Case {
        char const* name;
        UINT monitor_dpi;
        RECT work_area;
        std::optional<POINT> from;
        UINT dpi;
        RECT frame;
    };
    Case const cases[] = {
        {"1920 x 1080 at 100 %: centred, unscaled", 96, {0, 0, 1920, 1032}, {}, 96, {360, 136, 1560, 896}},
        {"1920 x 1080 at 125 %: fits", 120, {0, 0, 1920, 1032}, {}, 120, {210, 41, 1710, 991}},
        {"1920 x 1080 at 150 %: 1140 rows do not fit 1032", 144, {0, 0, 1920, 1032}, {}, 130, {147, 1, 1772, 1030}},
        {"1366 x 768 at 125 %, no taskbar (Wine)", 120, {0, 0, 1366, 768}, {}, 97, {76, 0, 1289, 768}},
        {"1366 x 768 at 125 %", 120, {0, 0, 1366, 720}, {}, 91, {114, 0, 1252, 720}},
        {"1600 x 900 at 125 %", 120, {0, 0, 1600, 852}, {}, 107, {131, 2, 1469, 849}},
        {"1280 x 720 at 100 %: smaller than the design", 96, {0, 0, 1280, 672}, {}, 84, {115, 3, 1165, 668}},
        {"3840 x 2160 at 200 %", 192, {0, 0, 3840, 2112}, {}, 192, {720, 296, 3120, 1816}},
        {"a monitor right of the primary one", 96, {1920, 0, 3200, 1024}, {}, 96, {1960, 132, 3160, 892}},
        {"a monitor left of the primary one, taskbar on top", 120, {-1366, 40, 0, 768}, {}, 92,
         {-1258, 40, -108, 768}},
        {"kept where it is when it fits there", 96, {0, 0, 1920, 1032}, POINT{100, 50}, 96, {100, 50, 1300, 810}},
        {"moved back inside, no further", 96, {0, 0, 1920, 1032}, POINT{1500, 900}, 96, {720, 272, 1920, 1032}},
        {"to 150 % on a 1600 x 1000 screen, suggested at (100, 50)", 144, {0, 0, 1600, 1000}, POINT{100, 50}, 126,
         {25, 2, 1600, 1000}},
        {"too small even at half size: top and right edges inside", 96, {0, 0, 500, 300}, {}, 48,
         {-100, 0, 500, 380}},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        auto const [scale, frame] = korvel::place_window({1200, 760}, korvel::DisplayScale{c.monitor_dpi}, c.work_area, c.from);
        EXPECT_EQ(scale.dpi, c.dpi);
        EXPECT_TRUE(::EqualRect(&frame, &c.frame))
            << frame.left << "," << frame.top << "," << frame.right << "," << frame.bottom;
    }
}

TEST(Startup, AFailedGdiplusStartIsSaidInABox) {
    korvel::test::MessageBoxRecorder boxes;
    korvel::LauncherApp app;
    Gdiplus::GdiplusStartupInput input;
    input.GdiplusVersion = 99;  // refused by GDI+ itself
    EXPECT_FALSE(app.start_gdiplus(input));
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].title + L"|" + boxes.calls[0].text,
              L"Korvel Launcher|A launcher nem indítható: a GDI+ grafikus rendszer nem indult el.\nGDI+: " +
                  std::to_wstring(Gdiplus::UnsupportedGdiplusVersion));
    EXPECT_EQ(boxes.calls[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
}
