// davari.exe as a screen reader and a keyboard-only player meet it: its client area read
// from this process through Microsoft Active Accessibility, its WinEvents hooked, and
// keys pressed through the system's input queue.

#include "platform/com_apartment.h"
#include "tests/launcher/launcher_fixtures.h"
#include "tests/support/accessible_reader.h"
#include "tests/support/input.h"
#include "tests/support/process.h"
#include "tests/support/test_server.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <map>

namespace test = korvel::test;
using test::AccessibleChild;
using test::AccessibleReader;

namespace {

constexpr DWORD k_timeout_ms = 60000;
// The items' identities (child ids): the window's button ids, then its texts.
constexpr LONG k_close = 1, k_minimize = 2, k_play = 3, k_repair = 4, k_settings = 5, k_count1 = 9, k_count2 = 10,
               k_news0 = 12, k_news1 = 13, k_news2 = 14, k_progress = 17, k_detail = 18;

// A launcher whose check reads the game's one file from a server folder of its own, with
// three news items.
struct Scene {
    Scene()
        : install("[client]\nroot=client\nlaunch_delay_ms=100\n[patch]\nversion_url=" + server.url("version.json") +
                  "\n[remote]\nnews_url=" + server.url("news.json") + "\n") {
        server.put("news.json", R"({"items": [{"tag": "HÍR", "title": "Egy", "date": "12.01."},
                                              {"tag": "EVENT", "title": "Kettő", "date": "11.28."},
                                              {"tag": "UPDATE", "title": "Három", "date": "11.22."}]})");
        server.put("files/a.bin", "alpha");
        nlohmann::json const manifest = {{"base_url", server.url("files/")},
                                         {"files", {{{"path", "a.bin"}, {"size", 5}, {"sha256", test::sha256_hex("alpha")}}}}};
        server.put("manifest.json", manifest.dump());
        server.put("version.json", nlohmann::json{{"client_version", "7.1.2"}, {"manifest_url", server.url("manifest.json")}}.dump());
    }
    test::ServedFolder server{"a11y"};
    test::Installation install;
};

struct Launcher {
    explicit Launcher(Scene const& scene) : process(scene.install.davari(), L"", scene.install.dir()) {
        window = test::wait_for_window(process.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    }
    test::ChildProcess process;
    HWND window = nullptr;
};

bool poll(std::function<bool()> const& done) {
    return test::pump_until(done, k_timeout_ms);
}

AccessibleChild child(AccessibleReader const& reader, LONG id) {
    std::optional<AccessibleChild> const c = reader.child(id);
    return c ? *c : AccessibleChild{};
}

bool available(AccessibleReader const& reader, LONG id) {
    std::optional<AccessibleChild> const c = reader.child(id);
    return c && (c->state & STATE_SYSTEM_UNAVAILABLE) == 0;
}

}  // namespace

// Start-up (a check under way), the failed check, a repair refused while it runs, the
// ready window, and Play through the default action: what each state says, and which
// events tell a reader of the changes.
TEST(AccessibleLive, AReaderFollowsEveryStateAndPlaysThroughTheDefaultAction) {
    korvel::ComApartment const com(COINIT_APARTMENTTHREADED);
    Scene scene;
    // The first check waits three seconds and fails; the repair after it waits as long and succeeds.
    scene.server.set_attempts("version.json", {test::Fault{.status = 500, .delay_ms = 3000}, test::Fault{.delay_ms = 3000}});
    ::SetCursorPos(0, 0);  // no hover state in what is read
    Launcher launcher(scene);
    ASSERT_TRUE(launcher.window);
    test::WinEventLog const events(launcher.process.pid());
    AccessibleReader const reader(launcher.window);
    EXPECT_EQ(reader.name(), L"Korvel2 Launcher");

    // While the first check runs.
    ASSERT_TRUE(poll([&] { return child(reader, k_play).name == L"FRISSÍTÉS..."; }));
    std::vector<AccessibleChild> const busy = reader.children();
    std::map<LONG, AccessibleChild> by_id;
    for (AccessibleChild const& c : busy) by_id[c.id] = c;
    struct Expected {
        LONG id;
        LONG role;
        wchar_t const* name;
        bool unavailable;
    };
    Expected const expected[] = {
        {k_settings, ROLE_SYSTEM_PUSHBUTTON, L"Beállítások", true}, {k_minimize, ROLE_SYSTEM_PUSHBUTTON, L"Kis méret", false},
        {k_close, ROLE_SYSTEM_PUSHBUTTON, L"Bezárás", false},       {6, ROLE_SYSTEM_LINK, L"WEBOLDAL", true},
        {k_count1, ROLE_SYSTEM_RADIOBUTTON, L"1 kliens", true},      {k_repair, ROLE_SYSTEM_PUSHBUTTON, L"JAVÍTÁS", true},
        {k_play, ROLE_SYSTEM_PUSHBUTTON, L"FRISSÍTÉS...", true},
    };
    for (Expected const& e : expected) {
        ASSERT_TRUE(by_id.count(e.id)) << e.id;
        EXPECT_EQ(by_id[e.id].role, e.role) << e.id;
        EXPECT_EQ(by_id[e.id].name, e.name) << e.id;
        EXPECT_EQ((by_id[e.id].state & STATE_SYSTEM_UNAVAILABLE) != 0, e.unavailable) << e.id;
    }
    EXPECT_NE(by_id[k_count1].state & STATE_SYSTEM_CHECKED, 0);
    EXPECT_EQ(by_id[k_progress].role, ROLE_SYSTEM_PROGRESSBAR);
    EXPECT_EQ(by_id[k_progress].value, L"0%");
    EXPECT_EQ(busy.front().id, k_settings);
    EXPECT_EQ(busy.back().id, k_play);
    // Where the button is drawn is where the reader finds it.
    RECT const play = by_id[k_play].location;
    RECT frame{};
    ::GetWindowRect(launcher.window, &frame);
    EXPECT_EQ(play.left - frame.left, 909);
    EXPECT_EQ(play.bottom - frame.top, 716);
    EXPECT_EQ(reader.hit({(play.left + play.right) / 2, (play.top + play.bottom) / 2}), k_play);
    EXPECT_EQ(reader.hit({frame.left + 400, frame.top + 300}), CHILDID_SELF);
    // Unavailable items refuse; the window buttons are not refused.
    EXPECT_EQ(reader.do_default_action(k_repair), E_FAIL);
    EXPECT_EQ(reader.do_default_action(k_play), E_FAIL);

    // The failure reaches the reader as an alert.
    ASSERT_TRUE(poll([&] { return child(reader, k_detail).role == ROLE_SYSTEM_ALERT; }));
    EXPECT_EQ(child(reader, k_detail).name.rfind(L"Frissítési hiba: ", 0), 0u) << child(reader, k_detail).name;
    EXPECT_TRUE(poll([&] { return events.seen(EVENT_SYSTEM_ALERT, k_detail); }));
    EXPECT_TRUE(events.seen(EVENT_OBJECT_NAMECHANGE, k_progress));
    EXPECT_FALSE(available(reader, k_play));

    // Repair through the reader: it runs, and a second repair is refused while it does.
    ASSERT_EQ(reader.do_default_action(k_repair), S_OK);
    ASSERT_TRUE(poll([&] { return !available(reader, k_repair); }));
    EXPECT_EQ(reader.do_default_action(k_repair), E_FAIL);
    EXPECT_TRUE(poll([&] { return events.seen(EVENT_OBJECT_STATECHANGE, k_repair); }));

    // Ready: Play through the reader starts the client, and the launcher ends.
    ASSERT_TRUE(poll([&] { return available(reader, k_play); }));
    EXPECT_EQ(child(reader, k_play).name, L"JÁTÉK INDÍTÁSA");
    EXPECT_EQ(child(reader, k_progress).value, L"100%");
    EXPECT_TRUE(events.seen(EVENT_OBJECT_VALUECHANGE, k_progress));
    EXPECT_EQ(scene.server.requests("version.json").size(), 2u);
    EXPECT_TRUE(test::client_records(scene.install.client_dir()).empty());
    ASSERT_EQ(reader.do_default_action(k_play), S_OK);
    EXPECT_EQ(test::wait_for_client_records(scene.install.client_dir(), 1, k_timeout_ms).size(), 1u);
    EXPECT_EQ(launcher.process.wait(k_timeout_ms), 0u);
}

// Keys as a player presses them, the focus read back as a reader reads it and heard as
// its event: Tab order, the arrows in the news and the count (which they choose), the
// focus moving off Repair while its job runs and back after it, and Enter on Play starting
// the chosen number of clients.
TEST(AccessibleLive, TheKeyboardAloneChoosesRepairsAndPlays) {
    korvel::ComApartment const com(COINIT_APARTMENTTHREADED);
    Scene scene;
    ::SetCursorPos(0, 0);
    Launcher launcher(scene);
    ASSERT_TRUE(launcher.window);
    test::WinEventLog const events(launcher.process.pid());
    AccessibleReader const reader(launcher.window);
    ASSERT_TRUE(poll([&] { return available(reader, k_play) && reader.child(k_news2).has_value(); }));
    EXPECT_EQ(child(reader, k_news1).name, L"EVENT, Kettő, 11.28.");
    EXPECT_NE(::GetWindowLongW(launcher.window, GWL_STYLE) & WS_SYSMENU, 0);  // Alt+Space, Alt+F4

    // Focus to the window, on no button: the focus starts on Play.
    RECT frame{};
    ::GetWindowRect(launcher.window, &frame);
    test::click_at({frame.left + 400, frame.top + 300});
    ASSERT_TRUE(poll([&] { return reader.focus() == k_play; }));
    auto const press_until_focus = [&](std::vector<WORD> const& keys, LONG id) {
        test::press_keys(keys);
        return poll([&] { return reader.focus() == id; });
    };
    EXPECT_TRUE(press_until_focus({VK_TAB}, k_settings));
    EXPECT_TRUE(poll([&] { return events.seen(EVENT_OBJECT_FOCUS, k_settings); }));
    EXPECT_TRUE(press_until_focus({VK_SHIFT, VK_TAB}, k_play));
    EXPECT_TRUE(press_until_focus({VK_SHIFT, VK_TAB}, k_repair));
    EXPECT_TRUE(press_until_focus({VK_SHIFT, VK_TAB}, k_count1));
    EXPECT_TRUE(press_until_focus({VK_RIGHT}, k_count2));
    EXPECT_NE(child(reader, k_count2).state & STATE_SYSTEM_CHECKED, 0);
    EXPECT_EQ(child(reader, k_count1).state & STATE_SYSTEM_CHECKED, 0);
    // Back over the unavailable links (no addresses here) to the news, one stop.
    EXPECT_TRUE(press_until_focus({VK_SHIFT, VK_TAB}, k_news0));
    EXPECT_TRUE(press_until_focus({VK_DOWN}, k_news1));
    EXPECT_TRUE(press_until_focus({VK_END}, k_news2));
    EXPECT_TRUE(press_until_focus({VK_HOME}, k_news0));
    EXPECT_TRUE(press_until_focus({VK_TAB}, k_count2));
    EXPECT_TRUE(press_until_focus({VK_TAB}, k_repair));

    // Enter on Repair: its job makes it unavailable, the focus moves on and comes back.
    scene.server.set_fault("version.json", test::Fault{.delay_ms = 3000});
    test::press_keys({VK_RETURN});
    EXPECT_TRUE(poll([&] { return reader.focus() == k_minimize; }));
    scene.server.clear_fault("version.json");
    EXPECT_TRUE(poll([&] { return reader.focus() == k_repair; }));
    EXPECT_EQ(scene.server.requests("version.json").size(), 2u);

    EXPECT_TRUE(press_until_focus({VK_TAB}, k_play));
    test::press_keys({VK_RETURN});
    EXPECT_EQ(test::wait_for_client_records(scene.install.client_dir(), 2, k_timeout_ms).size(), 2u);
    EXPECT_EQ(launcher.process.wait(k_timeout_ms), 0u);
}
