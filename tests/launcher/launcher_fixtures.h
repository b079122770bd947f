#pragma once
// What the launcher tests share: a recorder for message boxes, a throwaway launcher
// installation with the fake client as its game, and a plain window to own boxes.

#include "platform/message_box.h"
#include "tests/support/client_records.h"
#include "tests/support/test_env.h"

#include <windows.h>

#include <filesystem>
#include <string>
#include <vector>

namespace korvel::test {

struct BoxCall {
    HWND owner;
    std::wstring text;
    std::wstring title;
    UINT flags;
};

// Catches every launcher message box while it lives; each is answered with OK.
class MessageBoxRecorder {
public:
    MessageBoxRecorder() {
        set_message_box_hook([this](HWND owner, std::wstring const& text, std::wstring const& title, UINT flags) {
            calls.push_back({owner, text, title, flags});
            return IDOK;
        });
    }
    ~MessageBoxRecorder() { set_message_box_hook({}); }
    MessageBoxRecorder(MessageBoxRecorder const&) = delete;
    MessageBoxRecorder& operator=(MessageBoxRecorder const&) = delete;

    std::vector<BoxCall> calls;
};

// A launcher folder: davari.exe (a copy of this build's), launcher.ini and, in the
// folder "client", the fake client as bat.exe.
class Installation {
public:
    explicit Installation(std::string const& launcher_ini = "[client]\nroot=client\nlaunch_delay_ms=100\n",
                          bool with_client = true, std::string_view folder_name = "install")
        : dir_(folder_name) {
        std::filesystem::copy_file(bin_dir() / "davari.exe", davari());
        write_file(dir_ / "launcher.ini", launcher_ini);
        std::filesystem::create_directories(client_dir());
        if (with_client) std::filesystem::copy_file(fake_client_exe(), client_dir() / "bat.exe");
    }

    std::filesystem::path const& dir() const { return dir_.path(); }
    std::filesystem::path davari() const { return dir_ / "davari.exe"; }
    std::filesystem::path client_dir() const { return dir_ / "client"; }
    std::filesystem::path client_exe() const { return client_dir() / "bat.exe"; }

private:
    TempDir dir_;
};

// A visible top-level window of the test's own thread, destroyed with the object.
class OwnerWindow {
public:
    OwnerWindow() {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = ::DefWindowProcW;
        window_class.hInstance = ::GetModuleHandleW(nullptr);
        window_class.lpszClassName = L"KorvelTestOwner";
        ::RegisterClassW(&window_class);  // fails harmlessly when already registered
        hwnd_ = ::CreateWindowExW(0, L"KorvelTestOwner", L"owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                  nullptr, nullptr, window_class.hInstance, nullptr);
    }
    ~OwnerWindow() { ::DestroyWindow(hwnd_); }
    OwnerWindow(OwnerWindow const&) = delete;
    OwnerWindow& operator=(OwnerWindow const&) = delete;

    HWND get() const { return hwnd_; }
    // True once when a WM_CLOSE is waiting in the queue (it is taken out).
    bool close_posted() const {
        MSG message;
        return ::PeekMessageW(&message, hwnd_, WM_CLOSE, WM_CLOSE, PM_REMOVE) != 0;
    }

private:
    HWND hwnd_ = nullptr;
};

}  // namespace korvel::test
