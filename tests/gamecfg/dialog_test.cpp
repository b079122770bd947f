// The real settings dialog under Wine and Xvfb, opened by open_settings_dialog over a
// real main window. A driver thread acts as the player with real mouse input (SendInput)
// while this thread runs the dialog's nested loop, and reads the controls back through
// their messages; the bytes on disk are checked after the dialog has closed.

#include "gamecfg/config_dialog.h"
#include "launcher/launcher_app.h"
#include "launcher/main_window.h"
#include "launcher/message_box.h"
#include "platform/text.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <iostream>
#include <thread>
#include <vector>

namespace korvel {
namespace {

// Polls `done` every 20 ms for up to ten seconds.
bool poll(std::function<bool()> const& done) {
    for (ULONGLONG const deadline = ::GetTickCount64() + 10000; ::GetTickCount64() < deadline; ::Sleep(20))
        if (done()) return true;
    return done();
}

// Puts the cursor there, waits until it has arrived, then presses and releases the left
// button.
void click_at(POINT point) {
    ::SetCursorPos(point.x, point.y);
    poll([&] {
        POINT now{};
        return ::GetCursorPos(&now) && now.x == point.x && now.y == point.y;
    });
    INPUT buttons[2]{};
    buttons[0].type = buttons[1].type = INPUT_MOUSE;
    buttons[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    buttons[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    ::SendInput(2, buttons, sizeof(INPUT));
}

POINT centre_of(HWND window) {
    RECT rect{};
    ::GetWindowRect(window, &rect);
    return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

LRESULT ask(HWND dialog, int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return ::SendMessageW(::GetDlgItem(dialog, id), message, wparam, lparam);
}

void press_keys(std::initializer_list<WORD> keys, bool with_alt = false) {
    std::vector<INPUT> inputs;
    auto const add = [&](WORD key, bool up) {
        INPUT input{};
        input.type = INPUT_KEYBOARD;
        input.ki.wVk = key;
        input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        inputs.push_back(input);
    };
    if (with_alt) add(VK_MENU, false);
    for (WORD key : keys) add(key, false), add(key, true);
    if (with_alt) add(VK_MENU, true);
    ::SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

// A click gives the list the focus (and drops it down; Escape folds it up again), then
// Home and Down walk to item `index`, as a player does from the keyboard.
bool choose(HWND dialog, int id, int index) {
    HWND const combo = ::GetDlgItem(dialog, id);
    auto const dropped = [&] { return ::SendMessageW(combo, CB_GETDROPPEDSTATE, 0, 0) != 0; };
    click_at(centre_of(combo));
    if (!poll(dropped)) return false;
    press_keys({VK_ESCAPE});
    if (!poll([&] { return !dropped(); })) return false;
    press_keys({VK_HOME});
    for (int i = 0; i < index; ++i) press_keys({VK_DOWN});
    return poll([&] { return ::SendMessageW(combo, CB_GETCURSEL, 0, 0) == index; });
}

bool toggle(HWND dialog, int id) {
    LRESULT const before = ask(dialog, id, BM_GETCHECK);
    click_at(centre_of(::GetDlgItem(dialog, id)));
    return poll([&] { return ask(dialog, id, BM_GETCHECK) != before; });
}

// Alt+F4 reaches the dialog as the caption's close box does: SC_CLOSE, then WM_CLOSE.
// (Without a window manager Wine routes no clicks to a window's caption, so under Xvfb
// the box itself cannot be clicked.)
void press_alt_f4() {
    press_keys({VK_F4}, true);
}

struct BoxSeen {
    HWND owner;
    std::wstring text, title;
    UINT flags;
};

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(register_main_window_class(app.instance), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_TRUE(create_main_window(app));
        ::ShowWindow(app.hwnd, SW_SHOW);
        app.base_dir = dir.path();
        box_shown = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
        set_message_box_hook([this](HWND owner, std::wstring const& text, std::wstring const& title, UINT flags) {
            boxes.push_back({owner, text, title, flags});
            ::SetEvent(box_shown);
            return IDOK;
        });
    }
    void TearDown() override {
        set_message_box_hook({});
        ::DestroyWindow(app.hwnd);
        MSG quit;  // the main window posts one as it goes
        ::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
        ::CloseHandle(box_shown);
        ::SetFileAttributesW(config().c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    std::filesystem::path config() const { return dir / "zivur2.cfg"; }

    // Opens the dialog here and runs `player` on a thread of its own with the dialog's
    // handle; returns once the dialog has closed. A player that leaves it open has it
    // closed for it, so that a failure cannot hang the run.
    void run_dialog(std::function<void(HWND)> const& player) {
        std::thread driver([&] {
            HWND dialog = nullptr;
            poll([&] { return (dialog = ::FindWindowW(k_config_dialog_class, nullptr)) != nullptr; });
            if (!dialog) return;
            // Answered only once the dialog's thread has finished creating it and waits
            // in the nested loop.
            ::SendMessageW(dialog, WM_NULL, 0, 0);
            poll([&] { return ::GetForegroundWindow() == dialog; });
            owner_enabled_while_open = ::IsWindowEnabled(app.hwnd) != FALSE;
            player(dialog);
            if (::IsWindow(dialog)) {
                ADD_FAILURE() << "the dialog was still open";
                ::PostMessageW(dialog, WM_CLOSE, 0, 0);
            }
        });
        app.open_settings_dialog();
        driver.join();
        EXPECT_FALSE(owner_enabled_while_open);
        EXPECT_TRUE(::IsWindowEnabled(app.hwnd));
        EXPECT_FALSE(::FindWindowW(k_config_dialog_class, nullptr));
    }

    LauncherApp app;
    test::TempDir dir{"dialog"};
    HANDLE box_shown = nullptr;
    std::vector<BoxSeen> boxes;  // written by the dialog's thread before box_shown is set
    bool owner_enabled_while_open = true;
};

TEST_F(SettingsDialog, ShowsTheFileAndApplyWritesThePlayersChoices) {
    test::write_file(config(),
                     "width\t1\r\nHEIGHT\t1\r\nGAMMA\t9\r\nSHADOW_LEVEL\t1\r\nMUSIC_VOLUME\t0.65\r\n"
                     "WINDOWED\t0\r\n#comment\r\n\r\nNAME\tx\r\n");
    struct Seen {
        LRESULT mode, gamma, shadow, music, voice, windowed, night, fog;
    } seen{};
    std::wstring first_mode;
    bool chosen = false;
    run_dialog([&](HWND dialog) {
        seen = Seen{ask(dialog, k_display_mode_list, CB_GETCURSEL),
                ask(dialog, k_gamma_list, CB_GETCURSEL),
                ask(dialog, k_shadow_list, CB_GETCURSEL),
                ask(dialog, k_music_list, CB_GETCURSEL),
                ask(dialog, k_voice_list, CB_GETCURSEL),
                ask(dialog, k_windowed_box, BM_GETCHECK),
                ask(dialog, k_night_box, BM_GETCHECK),
                ask(dialog, k_fog_box, BM_GETCHECK)};
        LRESULT const count = ask(dialog, k_display_mode_list, CB_GETCOUNT);
        for (LRESULT i = 0; i < count; ++i) {
            wchar_t text[64] = {};
            ask(dialog, k_display_mode_list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
            std::cout << "display mode under Xvfb: " << wide_to_utf8(text) << "\n";
            if (i == 0) first_mode = text;
        }
        chosen = choose(dialog, k_gamma_list, 1) && choose(dialog, k_shadow_list, 3) &&
                      toggle(dialog, k_night_box) && toggle(dialog, k_fog_box);
        click_at(centre_of(::GetDlgItem(dialog, k_apply_button)));
        poll([&] { return !::IsWindow(dialog); });
    });
    // The file's 1 x 1 mode is not offered: the first (smallest) mode is selected.
    EXPECT_EQ(seen.mode, 0);
    EXPECT_EQ(seen.gamma, 4);   // 9 clamped to "5"
    EXPECT_EQ(seen.shadow, 1);  // "Alacsony"
    EXPECT_EQ(seen.music, 3);   // 0.65 x 4 + 0.5 = 3.1: "75%"
    EXPECT_EQ(seen.voice, 5);   // missing: the default
    EXPECT_EQ(seen.windowed, BST_UNCHECKED);
    EXPECT_EQ(seen.night, BST_UNCHECKED);
    EXPECT_EQ(seen.fog, BST_CHECKED);
    ASSERT_TRUE(chosen);

    unsigned width = 0, height = 0, frequency = 0;
    ASSERT_EQ(std::swscanf(first_mode.c_str(), L"%u × %u @ %u Hz", &width, &height, &frequency), 3)
        << "no display mode offered, or a malformed one";
    std::string const mode = "WIDTH\t" + std::to_string(width) + "\r\nHEIGHT\t" + std::to_string(height) + "\r\n";
    EXPECT_EQ(test::read_file(config()),
              mode + "GAMMA\t2\r\nSHADOW_LEVEL\t3\r\nMUSIC_VOLUME\t0.75\r\nWINDOWED\t0\r\nNAME\tx\r\nBPP\t32\r\n"
                     "FREQUENCY\t" + std::to_string(frequency) +
                  "\r\nVOICE_VOLUME\t5\r\nNIGHT_MODE_ON\t1\r\nFOG_MODE_ON\t0\r\nSNOW_MODE_ON\t0\r\n"
                  "SNOW_TEXTURE_MODE_ON\t0\r\n");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SettingsDialog, CancelAndClosingLeaveTheFileAsItWas) {
    std::string const before = "# mine\r\n\r\ngamma 2\nSOMETHING=else\r\n";
    test::write_file(config(), before);
    bool closed = false;
    run_dialog([&](HWND dialog) {
        toggle(dialog, k_night_box);
        click_at(centre_of(::GetDlgItem(dialog, k_cancel_button)));
        poll([&] { return !::IsWindow(dialog); });
    });
    run_dialog([&](HWND dialog) {
        toggle(dialog, k_night_box);
        press_alt_f4();
        closed = poll([&] { return !::IsWindow(dialog); });
    });
    EXPECT_TRUE(closed);
    EXPECT_EQ(test::read_file(config()), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "zivur2.cfg.tmp"));
}

// A read-only file, and a folder blocked by a file: the box names the file, nothing is
// written, and the dialog stays open for another try or a cancel.
TEST_F(SettingsDialog, AFailedSaveSaysSoAndKeepsTheDialogOpen) {
    test::write_file(config(), "GAMMA\t2\r\n");
    ::SetFileAttributesW(config().c_str(), FILE_ATTRIBUTE_READONLY);
    test::write_file(dir / "blocked", "not a folder");
    for (std::wstring const name : {L"zivur2.cfg", L"blocked\\zivur2.cfg"}) {
        SCOPED_TRACE(test::read_file(config()));
        app.config_file = name;
        boxes.clear();
        bool open_after_box = false;
        run_dialog([&](HWND dialog) {
            click_at(centre_of(::GetDlgItem(dialog, k_apply_button)));
            open_after_box = ::WaitForSingleObject(box_shown, 10000) == WAIT_OBJECT_0 && ::IsWindow(dialog);
            click_at(centre_of(::GetDlgItem(dialog, k_cancel_button)));
            poll([&] { return !::IsWindow(dialog); });
        });
        EXPECT_TRUE(open_after_box);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, L"Nem sikerült menteni a beállításokat: " + (dir / name).wstring());
        EXPECT_EQ(boxes[0].title, L"Korvel Launcher");
        EXPECT_EQ(boxes[0].flags & MB_ICONMASK, static_cast<UINT>(MB_ICONERROR));
    }
    EXPECT_EQ(test::read_file(config()), "GAMMA\t2\r\n");
    EXPECT_EQ(test::read_file(dir / "blocked"), "not a folder");
    EXPECT_FALSE(std::filesystem::exists(dir / "zivur2.cfg.tmp"));
}

TEST_F(SettingsDialog, AQuitWhileOpenClosesTheDialogAndReachesTheMainLoop) {
    DWORD const ui_thread = ::GetCurrentThreadId();
    run_dialog([&](HWND dialog) {
        ::PostThreadMessageW(ui_thread, WM_QUIT, 7, 0);
        poll([&] { return !::IsWindow(dialog); });
    });
    MSG quit{};
    ASSERT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 7u);
    EXPECT_FALSE(std::filesystem::exists(config()));
}

}  // namespace
}  // namespace korvel
