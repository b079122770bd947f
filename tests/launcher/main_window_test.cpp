#include "launcher/launcher_app.h"
#include "launcher/main_window.h"
#include "tests/launcher/launcher_fixtures.h"
#include "launcher/workers.h"
#include "tests/window/gdiplus_support.h"

#include <gtest/gtest.h>

#include <atomic>

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

// Moved to a monitor at 150 %: the window takes the rectangle the system suggests, its
// outline and its banner (decoded again from the same file) follow the new scale.
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
    EXPECT_EQ(app.window.scale.dpi, 144u);
    ::GetWindowRect(hwnd, &frame);
    EXPECT_TRUE(::EqualRect(&frame, &suggested));
    ::GetWindowRgnBox(hwnd, &outline);
    EXPECT_TRUE(outline.right >= 1800 && outline.bottom >= 1140);
    Gdiplus::DllExports::GdipGetImageWidth(app.window.banner_bitmap.get(), &banner_width);
    EXPECT_EQ(banner_width, 1166u);  // 777 x 1.5, rounded
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

TEST(MainWindow, PlacedInsideTheWorkAreaTopAndRightFirst) {
    struct Case {
        RECT work_area;
        POINT expected;
        SIZE size = {1200, 760};
    };
    Case const cases[] = {
        {{0, 0, 1920, 1080}, {360, 160}},       // centred
        {{0, 0, 1920, 1040}, {360, 140}},       // above a taskbar
        {{1920, 0, 3200, 1024}, {1960, 132}},   // a monitor right of another
        {{0, 0, 1280, 720}, {40, 0}},           // too low: the top stays
        {{0, 40, 1024, 768}, {-176, 40}},       // too narrow: the right edge stays
        {{-1024, 0, 0, 700}, {-1200, 0}},       // both, left of the primary monitor
        {{0, 0, 1920, 1080}, {60, 0}, {1800, 1140}},    // at 150 %: too low for the scaled size
        {{0, 0, 3840, 2160}, {720, 320}, {2400, 1520}},  // at 200 %: centred
    };
    for (auto const& c : cases) {
        POINT const at = korvel::main_window_position(c.work_area, c.size);
        EXPECT_TRUE(at.x == c.expected.x && at.y == c.expected.y) << at.x << "," << at.y;
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
