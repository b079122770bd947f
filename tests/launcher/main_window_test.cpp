#include "launcher/launcher_app.h"
#include "launcher/main_window.h"
#include "launcher/workers.h"

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
    app.window_title = L"Ablak címe";
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
