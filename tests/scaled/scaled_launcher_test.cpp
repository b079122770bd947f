// davari.exe on scaled displays under Xvfb: at 150 % (LogPixels 144 in this prefix) the
// window at its scaled size, its buttons pressed at their scaled places, dragged by its
// scaled title strip; on a small screen at 125 %, the whole window at a scale that fits.

#include "platform/display_scale.h"
#include "tests/launcher/launcher_fixtures.h"
#include "tests/support/input.h"
#include "tests/support/process.h"
#include "tests/support/screen.h"
#include "tests/support/test_server.h"
#include "tests/window/gdiplus_support.h"
#include "window/layout.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <thread>

namespace test = korvel::test;
namespace layout = korvel::layout;

namespace {

// A release of one file and an installation that checks it against that release: Play
// turns gold once the check is done.
struct ServedInstallation {
    ServedInstallation() {
        server.put("files/a.bin", "alpha");
        server.put("manifest.json", nlohmann::json{{"base_url", server.url("files/")},
                                                   {"files", {{{"path", "a.bin"}, {"size", 5},
                                                               {"sha256", test::sha256_hex("alpha")}}}}}.dump());
        server.put("version.json",
                   nlohmann::json{{"client_version", "7"}, {"manifest_url", server.url("manifest.json")}}.dump());
    }
    test::ServedFolder server{"scaled"};
    test::Installation const install{"[client]\nroot=client\nlaunch_delay_ms=100\n[patch]\nversion_url=" +
                                     server.url("version.json") + "\n"};
};

// The display scale of the programs started from now on in this prefix.
void set_display_dpi(DWORD dpi) {
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, 4), 0);
}

}  // namespace

TEST(ScaledDisplay, At150PercentTheButtonsAndTheTitleStripAreWhereTheyAreDrawn) {
    ::SetProcessDPIAware();  // this process reads and clicks the screen in its own pixels
    set_display_dpi(144);
    korvel::DisplayScale const scale{144};
    ServedInstallation scene;
    auto& [server, install] = scene;
    test::ChildProcess davari(install.davari(), L"", install.dir());
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", 60000);
    ASSERT_TRUE(window);
    RECT frame{};
    ::GetWindowRect(window, &frame);
    ASSERT_EQ(frame.right - frame.left, 1800);
    ASSERT_EQ(frame.bottom - frame.top, 1140);
    // A click (or a drag) that Wine loses on a busy machine is given again until `done`.
    auto const until = [](auto const& act, std::function<bool()> const& done) {
        return test::wait_until([&] { return act(), test::wait_until(done, 3000); }, 60000, 0);
    };
    auto const click = [&](RECT const& design) {
        return [&, r = scale.px(design)] {
            RECT now{};
            ::GetWindowRect(window, &now);
            test::click_at({now.left + (r.left + r.right) / 2, now.top + (r.top + r.bottom) / 2});
        };
    };
    ::SetCursorPos(0, 0);
    ASSERT_TRUE(test::wait_until([&] { return test::screen_capture(window)[1050 * 1800 + 1380] == 0x744d20; }, 60000))
        << "Play is not gold where 150 % puts it";

    auto const settings = install.client_dir() / "UserData" / "launcher_settings.ini";
    EXPECT_TRUE(until(click(layout::count3), [&] {
        return std::filesystem::exists(settings) && test::read_file(settings).find("client_count=3") != std::string::npos;
    }));
    EXPECT_TRUE(until(click(layout::repair), [&] { return server.requests("version.json").size() >= 2; }));
    HWND dialog = nullptr;
    EXPECT_TRUE(until(click(layout::settings), [&] {
        return (dialog = ::FindWindowW(L"KorvelConfigDialog", nullptr)) != nullptr;
    }));
    RECT box{};
    ::GetWindowRect(dialog, &box);
    EXPECT_TRUE(box.right - box.left == 810 && box.bottom - box.top == 690);  // 540 x 460 at 150 %
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);

    // Design row 50 is row 75 at 150 %: below the 64 rows an unscaled strip would drag by.
    RECT before{};
    ::GetWindowRect(window, &before);
    POINT const grip{before.left + 900, before.top + 75};
    EXPECT_TRUE(until([&] { test::drag(grip, {grip.x - 70, grip.y + 40}); }, [&] {
        ::GetWindowRect(window, &frame);
        return frame.left == before.left - 70 && frame.top == before.top + 40;
    }));
    EXPECT_TRUE(until(click(layout::play), [&] { return test::client_records(install.client_dir()).size() >= 3; }));
    EXPECT_EQ(davari.wait(60000), 0u);
}

// A 1366 x 768 laptop screen at 125 % (LogPixels 120), where the window's 1500 x 950 pixels
// at that scale would leave Play off the screen: a Wine virtual desktop of that size in this
// prefix, which a thread of this test joins to read and click it as the player does. The
// window draws at the largest scale that fits, whole; when the screen grows
// (WM_DISPLAYCHANGE) it draws at 125 %, and fitted again when it shrinks back, Play starts
// the game.
TEST(ScaledDisplay, OnA1366x768ScreenAt125PercentTheWholeWindowFitsAndPlayStartsTheGame) {
    ::SetProcessDPIAware();
    set_display_dpi(120);
    wchar_t const desktop_name[] = L"Korvel1366x768";
    wchar_t const size[] = L"1366x768";
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", desktop_name, REG_SZ, size,
                                sizeof(size)),
              0);
    ServedInstallation scene;
    test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir(), false, desktop_name);

    // A thread of its own: only a thread without windows may move to another desktop.
    std::thread player([&] {
        HDESK desktop = nullptr;
        ASSERT_TRUE(test::wait_until([&] { return (desktop = ::OpenDesktopW(desktop_name, 0, FALSE, GENERIC_ALL)); },
                                     60000));
        ASSERT_TRUE(::SetThreadDesktop(desktop));
        HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", 60000);
        ASSERT_TRUE(window);
        auto const frame_is = [&](RECT const& expected) {
            return test::wait_until([&] {
                RECT frame{};
                return ::GetWindowRect(window, &frame) && ::EqualRect(&frame, &expected);
            }, 30000);
        };
        // 97 DPI: 1213 x 768, centred.
        RECT const fitted{76, 0, 1289, 768};
        EXPECT_TRUE(frame_is(fitted));
        ::SetCursorPos(0, 0);
        korvel::DisplayScale const scale{97};
        std::vector<std::uint32_t> shot;
        std::size_t const gold = static_cast<std::size_t>(scale.px(700) * 1213 + scale.px(920));
        EXPECT_TRUE(test::wait_until([&] {
            shot = test::screen_capture(window);
            return shot.size() == 1213u * 768u && shot[gold] == 0x744d20;
        }, 60000)) << "Play is not gold where 97 DPI puts it";
        if (shot.size() == 1213u * 768u)
            test::write_file("davari-1366x768-125.bmp",
                             test::bmp_bytes(1213, 768, [&](int x, int y) { return shot[y * 1213 + x]; }));

        // The screen grows: the window at 125 %, where it was; back to 1366 x 768: fitted again.
        auto const screen = [](DWORD width, DWORD height) {
            DEVMODEW mode{};
            mode.dmSize = sizeof(mode);
            mode.dmPelsWidth = width;
            mode.dmPelsHeight = height;
            mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
            return ::ChangeDisplaySettingsExW(nullptr, &mode, nullptr, 0, nullptr);
        };
        ASSERT_EQ(screen(1920, 1080), DISP_CHANGE_SUCCESSFUL);
        EXPECT_TRUE(frame_is({76, 0, 76 + 1500, 950}));
        ASSERT_EQ(screen(1366, 768), DISP_CHANGE_SUCCESSFUL);
        EXPECT_TRUE(frame_is(fitted));

        RECT const play = scale.px(layout::play);
        EXPECT_TRUE(test::wait_until([&] {
            test::click_at({fitted.left + (play.left + play.right) / 2, (play.top + play.bottom) / 2});
            return test::wait_until([&] { return !test::client_records(scene.install.client_dir()).empty(); }, 3000);
        }, 60000, 0));
    });
    player.join();
    EXPECT_EQ(davari.wait(60000), 0u);
}
