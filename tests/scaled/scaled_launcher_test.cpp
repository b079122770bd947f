// davari.exe at 150 % (LogPixels 144 in this prefix), under Xvfb: the window at its scaled
// size, its buttons pressed at their scaled places, dragged by its scaled title strip.

#include "platform/display_scale.h"
#include "tests/launcher/launcher_fixtures.h"
#include "tests/support/input.h"
#include "tests/support/process.h"
#include "tests/support/screen.h"
#include "tests/support/test_server.h"
#include "window/layout.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace test = korvel::test;
namespace layout = korvel::layout;

TEST(ScaledDisplay, At150PercentTheButtonsAndTheTitleStripAreWhereTheyAreDrawn) {
    ::SetProcessDPIAware();  // this process reads and clicks the screen in its own pixels
    DWORD dpi = 144;
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi, 4), 0);
    korvel::DisplayScale const scale{dpi};
    test::ServedFolder server("scaled");
    server.put("files/a.bin", "alpha");
    server.put("manifest.json", nlohmann::json{{"base_url", server.url("files/")},
                                               {"files", {{{"path", "a.bin"}, {"size", 5},
                                                           {"sha256", test::sha256_hex("alpha")}}}}}.dump());
    server.put("version.json", nlohmann::json{{"client_version", "7"}, {"manifest_url", server.url("manifest.json")}}.dump());
    test::Installation const install("[client]\nroot=client\nlaunch_delay_ms=100\n[patch]\nversion_url=" +
                                     server.url("version.json") + "\n");
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
