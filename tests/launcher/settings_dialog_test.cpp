// The real dialog under Wine and Xvfb, opened by open_settings_dialog over a real main
// window. A driver thread plays the player with real input (SendInput) while this thread
// runs the nested loop; controls are read back through their messages, bytes from disk.

#include "gamecfg/config_dialog.h"
#include "launcher/launcher_app.h"
#include "launcher/main_window.h"
#include "launcher/window_controller.h"
#include "platform/message_box.h"
#include "platform/text.h"
#include "tests/support/input.h"
#include "tests/support/screen.h"
#include "tests/support/test_env.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <functional>
#include <iostream>
#include <thread>
#include <vector>

namespace korvel {
namespace {

bool poll(std::function<bool()> const& done) {  // every 20 ms, ten seconds at most
    return test::wait_until(done, 10000);
}

// A left click in the window's middle.
void click(HWND window) {
    RECT r{};
    ::GetWindowRect(window, &r);
    test::click_at({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

void press(std::vector<WORD> const& keys) {
    test::press_keys(keys);
}

LRESULT ask(HWND dialog, int id, UINT message, WPARAM wparam = 0, LPARAM lparam = 0) {
    return ::SendMessageW(::GetDlgItem(dialog, id), message, wparam, lparam);
}

// Clicks the control until `done`: on a busy machine Wine now and then loses a click
// (the control never sees it), and the next one gets through.
bool clicked_until(HWND dialog, int id, std::function<bool()> const& done) {
    for (int tries = 0; tries < 3; ++tries) {
        click(::GetDlgItem(dialog, id));
        if (test::wait_until(done, 3000)) return true;
    }
    return false;
}

// A click focuses the list (and drops it; Escape folds it), then Home and Down to `index`.
bool choose(HWND dialog, int id, int index) {
    auto const dropped = [&] { return ask(dialog, id, CB_GETDROPPEDSTATE) != 0; };
    if (!clicked_until(dialog, id, dropped)) return false;
    press({VK_ESCAPE});
    if (!poll([&] { return !dropped(); })) return false;
    press({VK_HOME});
    for (int i = 0; i < index; ++i) press({VK_DOWN});
    return poll([&] { return ask(dialog, id, CB_GETCURSEL) == index; });
}

bool toggle(HWND dialog, int id) {
    LRESULT const before = ask(dialog, id, BM_GETCHECK);
    return clicked_until(dialog, id, [&] { return ask(dialog, id, BM_GETCHECK) != before; });
}

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(register_main_window_class(app.instance), static_cast<DWORD>(ERROR_SUCCESS));
        ASSERT_TRUE(create_main_window(app));
        ::ShowWindow(app.hwnd, SW_SHOW);
        app.base_dir = dir.path();
        set_message_box_hook([this](HWND, std::wstring const& text, std::wstring const& title, UINT flags) {
            boxes.push_back(title + L"|" + text + L"|" + std::to_wstring(flags & MB_ICONMASK));
            ::SetEvent(box_shown);
            return box_answer;
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

    // Opens the dialog here and runs `player` on a thread of its own; returns once the
    // dialog has closed. A dialog the player left open is closed, so a failure cannot hang.
    void run_dialog(std::function<void(HWND)> const& player) {
        bool owner_enabled_while_open = true;
        std::thread driver([&] {
            HWND dialog = nullptr;
            poll([&] { return (dialog = ::FindWindowW(k_config_dialog_class, nullptr)) != nullptr; });
            if (!dialog) return;
            ::SendMessageW(dialog, WM_NULL, 0, 0);  // answered once the nested loop runs
            poll([&] { return ::GetForegroundWindow() == dialog; });
            owner_enabled_while_open = ::IsWindowEnabled(app.hwnd) != FALSE;
            player(dialog);
            if (!poll([&] { return !::IsWindow(dialog); })) {
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
    HANDLE box_shown = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::vector<std::wstring> boxes;  // title|text|icon, written before box_shown is set
    int box_answer = IDOK;
};

TEST_F(SettingsDialog, ShowsTheFileAndApplyWritesThePlayersChoices) {
    test::write_file(config(), "width\t1\r\nHEIGHT\t1\r\nGAMMA\t9\r\nSHADOW_LEVEL\t1\r\nMUSIC_VOLUME\t0.65\r\n"
                               "WINDOWED\t0\r\n#comment\r\n\r\nNAME\tx\r\n");
    std::vector<LRESULT> seen;
    std::wstring first_mode(64, L'\0');
    bool chosen = false;
    run_dialog([&](HWND dialog) {
        for (int id : {k_display_mode_list, k_gamma_list, k_shadow_list, k_music_list, k_voice_list})
            seen.push_back(ask(dialog, id, CB_GETCURSEL));
        for (int id : {k_windowed_box, k_night_box, k_fog_box}) seen.push_back(ask(dialog, id, BM_GETCHECK));
        ask(dialog, k_display_mode_list, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(first_mode.data()));
        std::cout << "first of " << ask(dialog, k_display_mode_list, CB_GETCOUNT)
                  << " display modes under Xvfb: " << wide_to_utf8(first_mode.c_str()) << "\n";
        chosen = choose(dialog, k_gamma_list, 1) && choose(dialog, k_shadow_list, 3) && toggle(dialog, k_night_box) &&
                 toggle(dialog, k_fog_box);
        click(::GetDlgItem(dialog, k_apply_button));
    });
    // The file's 1 x 1 mode is not offered: the first (smallest) is selected. Gamma 9 shows
    // "5", 0.65 x 4 + 0.5 gives "75%", voice is missing: 5.
    EXPECT_EQ(seen, (std::vector<LRESULT>{0, 4, 1, 3, 5, BST_UNCHECKED, BST_UNCHECKED, BST_CHECKED}));
    ASSERT_TRUE(chosen);
    unsigned width = 0, height = 0, frequency = 0;
    ASSERT_EQ(std::swscanf(first_mode.c_str(), L"%u × %u @ %u Hz", &width, &height, &frequency), 3);
    EXPECT_EQ(test::read_file(config()),
              "width\t" + std::to_string(width) + "\r\nHEIGHT\t" + std::to_string(height) +
                  "\r\nGAMMA\t2\r\nSHADOW_LEVEL\t3\r\nMUSIC_VOLUME\t0.75\r\nWINDOWED\t0\r\n#comment\r\n\r\n"
                  "NAME\tx\r\nBPP\t32\r\nFREQUENCY\t" + std::to_string(frequency) +
                  "\r\nVOICE_VOLUME\t5\r\nNIGHT_MODE_ON\t1\r\nFOG_MODE_ON\t0\r\nSNOW_MODE_ON\t0\r\n"
                  "SNOW_TEXTURE_MODE_ON\t0\r\n");
    EXPECT_TRUE(boxes.empty());
}

// MÉGSE, Escape, then Alt+F4, which reaches the dialog as its close box does (SC_CLOSE,
// WM_CLOSE): without a window manager Wine routes no clicks to a caption, so the box is
// out of reach.
TEST_F(SettingsDialog, CancelAndClosingLeaveTheFileAsItWas) {
    std::string const before = "#mine\r\n\r\ngamma 2\nSOMETHING=else\r\n";
    test::write_file(config(), before);
    for (std::vector<WORD> const& closing :
         {std::vector<WORD>{}, std::vector<WORD>{VK_ESCAPE}, std::vector<WORD>{VK_MENU, VK_F4}}) {
        run_dialog([&](HWND dialog) {
            toggle(dialog, k_night_box);
            closing.empty() ? click(::GetDlgItem(dialog, k_cancel_button)) : press(closing);
        });
    }
    EXPECT_EQ(test::read_file(config()), before);
    EXPECT_FALSE(std::filesystem::exists(dir / "zivur2.cfg.tmp"));
}

// The window of the UI thread that has the keyboard focus, seen from the driver thread.
HWND focus_of(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus;
}

// Without a mouse: the first list has the focus, Tab walks every control but the labels
// in order and round, Space ticks the focused box and Enter applies. Each list follows its
// label, which carries its access key: a screen reader names a list by the label before
// it, and Alt + the underlined letter moves there (Windows routes it by that order).
TEST_F(SettingsDialog, TheKeyboardAloneWalksChoosesAndApplies) {
    test::write_file(config(), "WINDOWED\t0\r\n");
    std::vector<int> tab_order;
    std::vector<std::wstring> list_labels;
    bool first_focus = false, ticked = false;
    run_dialog([&](HWND dialog) {
        first_focus = poll([&] { return focus_of(dialog) == ::GetDlgItem(dialog, k_display_mode_list); });
        for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
            if ((::GetWindowLongW(c, GWL_STYLE) & WS_TABSTOP) != 0) tab_order.push_back(::GetDlgCtrlID(c));
            wchar_t class_name[16]{}, label[64]{};
            ::GetClassNameW(c, class_name, 16);
            if (std::wstring_view(class_name) == L"ComboBox") {
                ::GetWindowTextW(::GetWindow(c, GW_HWNDPREV), label, 64);
                list_labels.push_back(label);
            }
        }
        tab_order.push_back(k_display_mode_list);  // round again
        tab_order.push_back(k_windowed_box);
        for (std::size_t i = 1; i < tab_order.size(); ++i) {
            press({VK_TAB});
            if (!poll([&] { return focus_of(dialog) == ::GetDlgItem(dialog, tab_order[i]); })) tab_order[i] = -1;
        }
        press({VK_SPACE});
        ticked = poll([&] { return ask(dialog, k_windowed_box, BM_GETCHECK) == BST_CHECKED; });
        press({VK_RETURN});
    });
    EXPECT_TRUE(first_focus);
    EXPECT_EQ(tab_order, (std::vector<int>{k_display_mode_list, k_windowed_box, k_gamma_list, k_shadow_list,
                                           k_music_list, k_voice_list, k_night_box, k_fog_box, k_snow_box,
                                           k_snow_texture_box, k_apply_button, k_cancel_button, k_display_mode_list,
                                           k_windowed_box}));
    EXPECT_EQ(list_labels, (std::vector<std::wstring>{L"&Kijelző mód", L"&Gamma", L"Árnyék &minőség",
                                                      L"&Zene hangerő", L"&Effektek"}));
    EXPECT_TRUE(ticked);
    EXPECT_EQ(test::read_file(config()).rfind("WINDOWED\t1\r\n", 0), 0u);  // Enter applied
}

// A read-only file, and a folder blocked by a file: the box names the file, nothing is
// written, and the dialog stays open for another try or a cancel.
TEST_F(SettingsDialog, AFailedSaveSaysSoAndKeepsTheDialogOpen) {
    test::write_file(config(), "GAMMA\t2\r\n");
    ::SetFileAttributesW(config().c_str(), FILE_ATTRIBUTE_READONLY);
    test::write_file(dir / "blocked", "not a folder");
    for (std::wstring const name : {L"zivur2.cfg", L"blocked\\zivur2.cfg"}) {
        app.settings.client.config = name;
        boxes.clear();
        bool open_after_box = false;
        run_dialog([&](HWND dialog) {
            click(::GetDlgItem(dialog, k_apply_button));
            open_after_box = ::WaitForSingleObject(box_shown, 10000) == WAIT_OBJECT_0 && ::IsWindow(dialog);
            // On a busy machine a click right after the box can be lost; the player clicks again.
            for (int attempt = 0; attempt < 3 && ::IsWindow(dialog); ++attempt) {
                click(::GetDlgItem(dialog, k_cancel_button));
                poll([&] { return !::IsWindow(dialog); });
            }
        });
        EXPECT_TRUE(open_after_box);
        EXPECT_EQ(boxes, std::vector<std::wstring>{L"Korvel Launcher|Nem sikerült menteni a beállításokat: " +
                                                   (dir / name).wstring() + L"|16"});  // MB_ICONERROR
    }
    EXPECT_EQ(test::read_file(config()), "GAMMA\t2\r\n");
    EXPECT_EQ(test::read_file(dir / "blocked"), "not a folder");
    EXPECT_FALSE(std::filesystem::exists(dir / "zivur2.cfg.tmp"));
}

// A game client writes the file while the dialog is open: ALKALMAZ says so first; "no"
// keeps the client's file and the dialog open, "yes" saves over it.
TEST_F(SettingsDialog, AFileChangedWhileOpenIsSaidBeforeItIsOverwritten) {
    std::string const clients = "GAMMA\t4\r\nCLIENT\twrote this\r\n";
    for (int answer : {IDNO, IDYES}) {
        SCOPED_TRACE(answer == IDNO ? "no" : "yes");
        test::write_file(config(), "GAMMA\t2\r\n");
        box_answer = answer;
        boxes.clear();
        bool kept_open = false;
        run_dialog([&](HWND dialog) {
            test::write_file(config(), clients);
            click(::GetDlgItem(dialog, k_apply_button));
            bool const asked = ::WaitForSingleObject(box_shown, 10000) == WAIT_OBJECT_0;
            if (answer != IDNO) return;
            kept_open = asked && ::IsWindow(dialog);
            click(::GetDlgItem(dialog, k_cancel_button));
        });
        EXPECT_EQ(boxes, std::vector<std::wstring>{L"Korvel Launcher|A(z) zivur2.cfg megváltozott, mióta ez az ablak "
                                                   L"megnyílt (talán egy futó játék írta). Felülírod a most "
                                                   L"beállítottakkal?|48"});  // MB_ICONWARNING
        std::string const after = test::read_file(config());
        if (answer == IDNO) {
            EXPECT_TRUE(kept_open);
            EXPECT_EQ(after, clients);
        } else {
            EXPECT_EQ(after.substr(0, 9), "GAMMA\t2\r\n") << "the file as the dialog read it, with its choices";
            EXPECT_EQ(after.find("CLIENT"), std::string::npos);
        }
    }
}

// Check boxes toggled back and forth look as before (no label drawn over itself), and a
// leftover read-only temporary file does not stop the save.
TEST_F(SettingsDialog, TogglingLeavesTheLabelsCleanAndALeftoverTemporaryFileIsReplaced) {
    test::write_file(dir / "zivur2.cfg.tmp", "left by a save cut short");
    ::SetFileAttributesW((dir / "zivur2.cfg.tmp").c_str(), FILE_ATTRIBUTE_READONLY);
    std::vector<std::uint32_t> before, after;
    run_dialog([&](HWND dialog) {
        auto const twice = [&](int id) {  // a click lost on a busy machine is clicked again
            for (int changes = 0, tries = 0; changes < 2 && tries < 6; ++tries) changes += toggle(dialog, id);
        };
        RECT frame{};
        ::GetWindowRect(dialog, &frame);
        auto const painted = [&] {  // pending paints done, nothing invalidated afresh
            ::RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
            return test::screen_capture(frame);
        };
        twice(k_windowed_box);  // the focus frame on the same box in both pictures
        before = painted();
        for (int id : {k_night_box, k_fog_box, k_snow_box, k_snow_texture_box, k_night_box, k_windowed_box}) twice(id);
        poll([&] { return (after = painted()) == before; });
        click(::GetDlgItem(dialog, k_apply_button));
    });
    EXPECT_TRUE(before == after) << "the check boxes look different after toggling";
    EXPECT_NE(test::read_file(config()).find("WINDOWED\t1\r\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "zivur2.cfg.tmp"));
}

// The automatic check's timer firing under the open dialog starts no job; the check
// runs once the dialog is closed.
TEST_F(SettingsDialog, TheFirstCheckWaitsForTheDialog) {
    test::ServedFolder server("dialog");  // empty: the check fails at once with a 404
    app.settings.version_url = server.url("version.json");
    bool running_while_open = true;
    run_dialog([&](HWND dialog) {
        ::SendMessageW(app.hwnd, WM_TIMER, k_update_timer, 0);  // handled before it returns
        running_while_open = app.window.patch_running || !server.requests("version.json").empty();
        click(::GetDlgItem(dialog, k_cancel_button));
    });
    EXPECT_FALSE(running_while_open);
    EXPECT_TRUE(poll([&] {  // the job's outcome reaches the window through its queue
        MSG message;
        while (::PeekMessageW(&message, app.hwnd, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
        return app.window.progress.title == L"Frissítési hiba";
    }));
    EXPECT_EQ(server.requests("version.json").size(), 1u);
}

// Every control, labels included, in the dialog's font; moved to a monitor at 200 %, the
// dialog takes the suggested rectangle and its controls and font double.
TEST_F(SettingsDialog, EveryControlHasTheFontAndAScaleChangeDoublesThem) {
    auto const look = [](HWND dialog) {  // each control's font height, then the apply button's size
        std::vector<LONG> seen;
        for (HWND c = ::GetWindow(dialog, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
            LOGFONTW font{};
            ::GetObjectW(reinterpret_cast<HFONT>(::SendMessageW(c, WM_GETFONT, 0, 0)), sizeof(font), &font);
            seen.push_back(font.lfHeight);
        }
        RECT r{};
        ::GetWindowRect(::GetDlgItem(dialog, k_apply_button), &r);
        return seen.push_back(r.right - r.left), seen.push_back(r.bottom - r.top), seen;
    };
    std::vector<LONG> at_96, at_192;
    RECT suggested{10, 20, 10 + 1080, 20 + 920}, frame{};
    run_dialog([&](HWND dialog) {
        at_96 = look(dialog);
        ::SendMessageW(dialog, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&suggested));
        at_192 = look(dialog);
        ::GetWindowRect(dialog, &frame);
        click(::GetDlgItem(dialog, k_cancel_button));
    });
    std::vector<LONG> expected(17, -16);  // 17 controls
    expected.insert(expected.end(), {130, 36});
    EXPECT_EQ(at_96, expected);
    expected.assign(17, -32), expected.insert(expected.end(), {260, 72});
    EXPECT_EQ(at_192, expected);
    EXPECT_TRUE(::EqualRect(&frame, &suggested));
}

TEST_F(SettingsDialog, AQuitWhileOpenClosesTheDialogAndReachesTheMainLoop) {
    DWORD const ui_thread = ::GetCurrentThreadId();
    run_dialog([&](HWND) { ::PostThreadMessageW(ui_thread, WM_QUIT, 7, 0); });
    MSG quit{};
    ASSERT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(quit.wParam, 7u);
    EXPECT_FALSE(std::filesystem::exists(config()));
}

}  // namespace
}  // namespace korvel
