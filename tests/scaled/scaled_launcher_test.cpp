// davari.exe on a scaled display (this prefix's LogPixels), under Xvfb: the window at its
// scaled size, played with the mouse at the scaled places of its buttons and dragged by
// its scaled title strip.

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

#include <functional>

namespace fs = std::filesystem;
namespace test = korvel::test;
namespace layout = korvel::layout;
using korvel::DisplayScale;

namespace {

constexpr DWORD k_timeout_ms = 60000;
constexpr std::uint32_t k_gold = 0x744d20;

bool poll(std::function<bool()> const& done, DWORD timeout_ms = k_timeout_ms) {
    return test::wait_until(done, timeout_ms, 100);
}

// The display scale of every program this prefix starts from now on; 96 again when the
// object goes.
class LogPixels {
public:
    explicit LogPixels(DWORD dpi) { set(dpi); }
    ~LogPixels() { set(korvel::k_design_dpi); }
    LogPixels(LogPixels const&) = delete;
    LogPixels& operator=(LogPixels const&) = delete;

private:
    static void set(DWORD dpi) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, L"Control Panel\\Desktop", L"LogPixels", REG_DWORD, &dpi,
                                    sizeof(dpi)),
                  ERROR_SUCCESS);
    }
};

// A launcher installation whose check finds a.bin published.
struct Scene {
    Scene() : install("[client]\nroot=client\nlaunch_delay_ms=100\n[patch]\nversion_url=" +
                      server.url("version.json") + "\n") {
        server.put("files/a.bin", "alpha");
        nlohmann::json manifest = {{"base_url", server.url("files/")},
                                   {"files", {{{"path", "a.bin"}, {"size", 5}, {"sha256", test::sha256_hex("alpha")}}}}};
        server.put("manifest.json", manifest.dump());
        server.put("version.json",
                   nlohmann::json{{"client_version", "7.1.2"}, {"manifest_url", server.url("manifest.json")}}.dump());
    }
    test::ServedFolder server{"scaled"};
    test::Installation install;
};

// Where a design point of the window is on the screen at `scale`.
POINT on_screen(HWND window, DisplayScale scale, POINT design) {
    RECT frame{};
    ::GetWindowRect(window, &frame);
    return {frame.left + scale.px(static_cast<int>(design.x)), frame.top + scale.px(static_cast<int>(design.y))};
}

POINT centre(RECT const& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

// The window's pixel at a design point, once the window is idle there (a job disables
// the buttons).
bool shows(HWND window, DisplayScale scale, POINT design, std::uint32_t colour) {
    return poll([&] {
        RECT frame{};
        ::GetWindowRect(window, &frame);
        std::vector<std::uint32_t> const shot = test::screen_capture(window);
        std::size_t const at = static_cast<std::size_t>(scale.px(static_cast<int>(design.y))) *
                                   static_cast<std::size_t>(frame.right - frame.left) +
                               static_cast<std::size_t>(scale.px(static_cast<int>(design.x)));
        return at < shot.size() && shot[at] == colour;
    });
}

}  // namespace

// At 125 % and 200 % the window takes its scaled size and draws its areas where the
// layout times the scale puts them (the selected count button's gold).
TEST(ScaledDisplay, TheWindowTakesTheSizeOfItsScale) {
    ::SetProcessDPIAware();  // this process reads the screen in its own pixels
    for (DWORD const dpi : {120u, 192u}) {
        SCOPED_TRACE(dpi);
        LogPixels const scale_of_prefix(dpi);
        DisplayScale const scale{dpi};
        Scene scene;
        test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
        HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
        ASSERT_TRUE(window);
        RECT frame{};
        ::GetWindowRect(window, &frame);
        EXPECT_EQ(frame.right - frame.left, scale.px(layout::window_width));
        EXPECT_EQ(frame.bottom - frame.top, scale.px(layout::window_height));
        ::SetCursorPos(0, 0);
        EXPECT_TRUE(shows(window, scale, {layout::count1.left + 4, layout::count1.top + 17}, k_gold));
        davari.terminate();
    }
}

// At 150 %: a count button, Repair and Play pressed at their scaled places, the window
// dragged by a point of its title strip that lies below the unscaled strip.
TEST(ScaledDisplay, At150PercentTheButtonsAndTheTitleStripAreWhereTheyAreDrawn) {
    ::SetProcessDPIAware();
    LogPixels const scale_of_prefix(144);
    DisplayScale const scale{144};
    Scene scene;
    test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    ::SetCursorPos(0, 0);
    ASSERT_TRUE(shows(window, scale, {920, 700}, k_gold));  // the check is over: Play is gold

    fs::path const settings = scene.install.client_dir() / "UserData" / "launcher_settings.ini";
    ASSERT_TRUE(poll([&] {
        test::click_at(on_screen(window, scale, centre(layout::count3)));
        return poll([&] { return fs::exists(settings) && test::read_file(settings).find("client_count=3") !=
                                                              std::string::npos; }, 2000);
    }));

    ASSERT_TRUE(poll([&] {
        test::click_at(on_screen(window, scale, centre(layout::repair)));
        return poll([&] { return scene.server.requests("version.json").size() >= 2; }, 2000);
    }));

    // Design row 50 is scaled row 75: past the 64 rows an unscaled strip would drag by.
    // A drag that Wine loses on a busy machine (the window does not move) is tried again.
    RECT before{}, after{};
    bool moved = false;
    for (int tries = 0; tries < 3 && !moved; ++tries) {
        ::GetWindowRect(window, &before);
        POINT const grip = on_screen(window, scale, {600, 50});
        ASSERT_GE(grip.y - before.top, 64);
        test::drag(grip, {grip.x - 70, grip.y + 40});
        moved = poll([&] { return ::GetWindowRect(window, &after) && !::EqualRect(&after, &before); }, 5000);
    }
    ASSERT_TRUE(moved);
    poll([&] {  // the move follows the pointer step by step
        ::GetWindowRect(window, &after);
        return after.left - before.left == -70 && after.top - before.top == 40;
    }, 5000);
    EXPECT_EQ(after.left - before.left, -70);
    EXPECT_EQ(after.top - before.top, 40);

    // The settings dialog opens at the window's scale; its picture (the launcher's
    // Common Controls 6 under Wine) is kept beside the test for a person to look at.
    HWND dialog = nullptr;
    ASSERT_TRUE(poll([&] {
        test::click_at(on_screen(window, scale, centre(layout::settings)));
        return (dialog = test::wait_for_window(davari.pid(), L"KorvelConfigDialog", 2000)) != nullptr;
    }));
    RECT box{};
    ::GetWindowRect(dialog, &box);
    EXPECT_EQ(box.right - box.left, scale.px(540));
    EXPECT_EQ(box.bottom - box.top, scale.px(460));
    ::RedrawWindow(dialog, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    std::vector<std::uint32_t> const picture = test::screen_capture(box);
    test::write_file("settings-150.bmp", test::bmp_bytes(box.right - box.left, box.bottom - box.top, [&](int x, int y) {
                         return picture[static_cast<std::size_t>(y) * (box.right - box.left) + x];
                     }));
    ::PostMessageW(dialog, WM_CLOSE, 0, 0);
    ASSERT_TRUE(poll([&] { return !::IsWindow(dialog); }));

    ASSERT_TRUE(poll([&] {
        test::click_at(on_screen(window, scale, centre(layout::play)));
        return test::wait_for_client_records(scene.install.client_dir(), 3, 2000).size() >= 3;
    }));
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
}
