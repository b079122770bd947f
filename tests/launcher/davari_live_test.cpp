// davari.exe against the test patch server, under Xvfb, driven by mouse and keyboard input
// as a player drives it.

#include "core/sha256.h"
#include "platform/files.h"
#include "platform/text.h"
#include "platform/sha256.h"
#include "platform/unique_handle.h"
#include "tests/launcher/launcher_fixtures.h"
#include "tests/support/input.h"
#include "tests/support/process.h"
#include "tests/support/screen.h"
#include "tests/support/test_server.h"
#include "tests/window/gdiplus_support.h"
#include "patcher/hash_cache.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <functional>
#include <iostream>
#include <optional>

namespace fs = std::filesystem;
namespace test = korvel::test;

namespace {

constexpr DWORD k_timeout_ms = 60000;
constexpr POINT k_play{1000, 680}, k_repair{800, 680}, k_close{1169, 31};

using test::sha256_hex;

bool poll(std::function<bool()> const& done, DWORD timeout_ms = k_timeout_ms) {
    return test::wait_until(done, timeout_ms, 100);
}

// `at` in the window's own pixels.
void click(HWND window, POINT at) {
    RECT frame{};
    ::GetWindowRect(window, &frame);
    test::click_at({frame.left + at.x, frame.top + at.y});
}

void press_key(WORD key) {
    test::press_keys({key});
}

bool near_colour(std::uint32_t a, std::uint32_t b) {
    for (int shift : {0, 8, 16})
        if (std::abs(static_cast<int>((a >> shift) & 0xff) - static_cast<int>((b >> shift) & 0xff)) > 3) return false;
    return true;
}

// The window once the check is over (the Play button gold), with the pointer off it.
std::vector<std::uint32_t> shot_when_ready(HWND window) {
    ::SetCursorPos(0, 0);
    std::vector<std::uint32_t> shot;
    poll([&] { return near_colour((shot = test::screen_capture(window))[700 * 1200 + 920], 0x744d20); });
    return shot;
}

// A launcher installation whose version_url points at a server folder of its own.
struct LiveScene {
    explicit LiveScene(std::string const& ini = "", std::string_view folder = "live")
        : install("[client]\nroot=client\nlaunch_delay_ms=100\n[patch]\nversion_url=" + server.url("version.json") +
                      "\n" + ini,
                  true, folder) {}

    // Publishes the game files (served below files/) and, when given, a launcher.
    void publish(std::map<std::string, std::string> const& files, nlohmann::json const& launcher = {}) const {
        nlohmann::json manifest = {{"base_url", server.url("files/")}, {"files", nlohmann::json::array()}};
        for (auto const& [path, bytes] : files) {
            server.put("files/" + path, bytes);
            manifest["files"].push_back({{"path", path}, {"size", bytes.size()}, {"sha256", sha256_hex(bytes)}});
        }
        server.put("manifest.json", manifest.dump());
        nlohmann::json version = {{"client_version", "7.1.2"}, {"manifest_url", server.url("manifest.json")}};
        if (!launcher.is_null()) version["launcher"] = launcher;
        server.put("version.json", version.dump());
    }

    fs::path client_version() const { return install.dir() / ".korvel" / "client.version"; }
    fs::path hand_off_record() const { return install.dir() / ".korvel" / "launcher_update.txt"; }

    // Publishes a.bin and offers `launcher` as the new launcher.
    void offer_launcher(std::string const& launcher) const {
        server.put("launcher/davari.exe", launcher);
        publish({{"a.bin", "alpha"}}, {{"version", "2.2.0"},
                                       {"url", server.url("launcher/davari.exe")},
                                       {"sha256", sha256_hex(launcher)}});
    }

    // The launcher that Swapnik started has no ChildProcess of the test's: found by its
    // window and ended.
    void end_launcher_started_by_swapnik() const {
        HWND window = nullptr;
        ASSERT_TRUE(poll([&] { return (window = ::FindWindowW(L"KorvelLauncherWindow", nullptr)) != nullptr; }));
        DWORD pid = 0;
        ::GetWindowThreadProcessId(window, &pid);
        korvel::UniqueKernelHandle const process(::OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid));
        ASSERT_TRUE(process);
        ::TerminateProcess(process.get(), 0);
        ::WaitForSingleObject(process.get(), k_timeout_ms);
    }

    fs::path banner_cache() const { return install.client_dir() / "UserData" / "launcher_banner.jpg"; }

    // More settings, once the server's URLs are known.
    void add_ini(std::string const& more) const {
        test::write_file(install.dir() / "launcher.ini", test::read_file(install.dir() / "launcher.ini") + more);
    }

    // Presses Play until the clients start (a press before the check is over does nothing).
    std::vector<test::ClientRecord> play(HWND window, size_t clients) const {
        poll([&] {
            click(window, k_play);
            return test::wait_for_client_records(install.client_dir(), clients, 500).size() >= clients;
        });
        return test::client_records(install.client_dir());
    }

    test::ServedFolder server{"live"};
    test::Installation install;
};

}  // namespace

TEST(DavariLive, AFailedCheckKeepsPlayDeadUntilARepairSucceeds) {
    LiveScene scene;
    scene.publish({{"a.bin", "alpha"}});
    // The first check hangs for a while, then fails; the repair after it succeeds.
    scene.server.set_attempts("version.json", {test::Fault{.status = 500, .delay_ms = 3000}});
    test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    ASSERT_TRUE(poll([&] { return !scene.server.requests("version.json").empty(); }));
    ULONGLONG const first_check = ::GetTickCount64();
    // Play and Repair pressed during the first job and after its failure: only a repair
    // after the failure starts a second check, and no client starts before it succeeds.
    ASSERT_TRUE(poll([&] {
        click(window, k_play);
        click(window, k_repair);
        return poll([&] { return scene.server.requests("version.json").size() >= 2; }, 1000);
    }));
    EXPECT_GE(::GetTickCount64() - first_check, 2500u);  // not before the first answer
    EXPECT_TRUE(test::client_records(scene.install.client_dir()).empty());
    EXPECT_EQ(scene.play(window, 1).size(), 1u);
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
}

TEST(DavariLive, ClosingDuringACheckAsksFirst) {
    LiveScene scene;
    scene.publish({{"a.bin", "alpha"}});
    scene.server.set_fault("version.json", test::Fault{.delay_ms = 30000});
    test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    ASSERT_TRUE(poll([&] { return !scene.server.requests("version.json").empty(); }));

    // Escape, answered No: the launcher stays. The close button, answered Yes: it ends.
    // A key pressed while the window is still taking the focus can be lost: the player
    // presses again until the question comes.
    ASSERT_TRUE(poll([&] {
        click(window, POINT{400, 300});  // focus, on no button
        press_key(VK_ESCAPE);
        return static_cast<bool>(test::wait_for_dialog(davari.pid(), 2000));
    }));
    for (int answer : {IDNO, IDYES}) {
        auto const box = test::wait_for_dialog(davari.pid(), k_timeout_ms);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->title, L"Korvel Launcher");
        EXPECT_EQ(box->text, L"Frissítés van folyamatban. Biztosan bezárod?");
        ::PostMessageW(box->hwnd, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        if (answer == IDNO) {
            ASSERT_TRUE(poll([&] { return !::IsWindow(box->hwnd); }));
            EXPECT_TRUE(davari.running());
            click(window, k_close);
        }
    }
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
}

TEST(DavariLive, SelfUpdateSwapsTheLauncherAndStartsTheNewOne) {
    LiveScene scene("", "self update");  // a folder with a space in its path
    fs::copy_file(test::bin_dir() / "Swapnik.exe", scene.install.dir() / "Swapnik.exe");
    std::string const new_launcher = test::read_file(scene.install.davari()) + "new build";
    scene.offer_launcher(new_launcher);
    test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
    // Swapnik may be moving the file at the moment of a read: that read fails, the next one
    // sees the result.
    ASSERT_TRUE(poll([&] {
        try {
            return test::read_file(scene.install.davari()) == new_launcher;
        } catch (std::exception const&) {
            return false;
        }
    }));
    EXPECT_FALSE(fs::exists(scene.install.client_dir() / ".korvel_update" / "davari.new.exe"));

    // The new launcher runs; offered itself, it goes on to check the game.
    ASSERT_TRUE(poll([&] { return fs::exists(scene.client_version()); }));
    scene.end_launcher_started_by_swapnik();
}

TEST(DavariLive, SelfUpdateWithoutTheHelperKeepsTheLauncherAndPlaysTheGame) {
    LiveScene scene;
    std::string const new_launcher = "not really a launcher";
    scene.offer_launcher(new_launcher);
    ::SetCursorPos(0, 0);  // off the window: no hover repaints it
    test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
    auto const box = test::wait_for_dialog(davari.pid(), k_timeout_ms);
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, L"Korvel Launcher");
    EXPECT_EQ(box->text, L"A launcher frissítése letöltődött, de a Swapnik.exe hiányzik.");
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    // Behind the box the window is drawn idle: Repair in its own fill, not off as in a job.
    EXPECT_TRUE(poll([&] { return near_colour(test::screen_capture(window)[700 * 1200 + 765], 0x161925); }, 10000));
    test::dismiss_dialog(box->hwnd);
    // Then the game is patched and played, the offer tried only once.
    EXPECT_EQ(scene.play(window, 1).size(), 1u);
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
    EXPECT_EQ(scene.server.requests("launcher/davari.exe").size(), 1u);
    EXPECT_EQ(test::read_file(scene.hand_off_record()), sha256_hex(new_launcher) + " failed\r\n");
}

// Swapnik cannot replace the launcher (the file is held open): the next start says so
// once and plays; the start after it is silent; its repair tries the offer again, which
// now works and clears the record.
TEST(DavariLive, AFailedReplacementIsSaidOnceAndTheGameStillPlays) {
    LiveScene scene;
    fs::copy_file(test::bin_dir() / "Swapnik.exe", scene.install.dir() / "Swapnik.exe");
    std::string const old_launcher = test::read_file(scene.install.davari());
    std::string const new_launcher = old_launcher + "new build";
    scene.offer_launcher(new_launcher);
    {
        korvel::UniqueFile const held(::CreateFileW(scene.install.davari().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                    nullptr, OPEN_EXISTING, 0, nullptr));
        test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
        EXPECT_EQ(davari.wait(k_timeout_ms), 0u);  // handed off
        HWND swapnik_box = nullptr;
        ASSERT_TRUE(poll([&] { return (swapnik_box = ::FindWindowW(L"#32770", L"Swapnik")) != nullptr; }));
        test::dismiss_dialog(swapnik_box);
    }
    // Start 2 is Swapnik's: it starts the old launcher again after its box. Start 3 is the
    // player's.
    for (int start = 2; start <= 3; ++start) {
        SCOPED_TRACE(start);
        std::optional<test::ChildProcess> own;
        HWND box = nullptr;
        DWORD pid = 0;
        if (start == 2) {
            ASSERT_TRUE(poll([&] { return (box = ::FindWindowW(L"#32770", L"Korvel Launcher")) != nullptr; }));
            ::GetWindowThreadProcessId(box, &pid);
        } else {
            pid = own.emplace(scene.install.davari(), L"", scene.install.dir()).pid();
        }
        korvel::UniqueKernelHandle const process(::OpenProcess(SYNCHRONIZE, FALSE, pid));
        if (start == 2) {
            auto const box = test::wait_for_dialog(pid, k_timeout_ms);
            ASSERT_TRUE(box);
            EXPECT_EQ(box->text, L"A launcher frissítése nem sikerült; a játék a jelenlegi launcherrel is indítható.");
            test::dismiss_dialog(box->hwnd);
        }
        HWND const window = test::wait_for_window(pid, L"KorvelLauncherWindow", k_timeout_ms);
        ASSERT_TRUE(window);
        EXPECT_TRUE(near_colour(shot_when_ready(window)[700 * 1200 + 920], 0x744d20));
        EXPECT_FALSE(test::wait_for_dialog(pid, 0));
        EXPECT_EQ(scene.server.requests("launcher/davari.exe").size(), 1u);
        EXPECT_EQ(test::read_file(scene.hand_off_record()), sha256_hex(new_launcher) + " failed\r\n");
        EXPECT_EQ(test::read_file(scene.install.davari()), old_launcher);
        EXPECT_TRUE(poll([&] {
            click(window, start == 2 ? k_play : k_repair);
            return ::WaitForSingleObject(process.get(), 3000) == WAIT_OBJECT_0;
        }));
    }
    EXPECT_EQ(test::client_records(scene.install.client_dir()).size(), 1u);
    EXPECT_EQ(scene.server.requests("launcher/davari.exe").size(), 2u);
    EXPECT_TRUE(poll([&] {
        try {
            return test::read_file(scene.install.davari()) == new_launcher && !fs::exists(scene.hand_off_record());
        } catch (std::exception const&) {
            return false;  // Swapnik moving the file at that moment
        }
    }));
    scene.end_launcher_started_by_swapnik();
}

TEST(DavariLive, QuickCheckOfTwentyThousandFilesEndsReady) {
    // Every file is already in place and in the hash cache: a pure quick check, which
    // reports far faster than the window takes the reports.
    LiveScene scene;
    nlohmann::json manifest = {{"base_url", scene.server.url("files/")}, {"files", nlohmann::json::array()}};
    korvel::HashCache cache;
    for (int i = 0; i < 20000; ++i) {
        std::string const bytes = std::to_string(i);
        std::string const path = std::to_string(i / 1000) + "/f" + bytes + ".bin";
        fs::path const file = scene.install.client_dir() / path;
        test::write_file(file, bytes);
        manifest["files"].push_back({{"path", path}, {"size", bytes.size()}, {"sha256", sha256_hex(bytes)}});
        cache[path] = {bytes.size(), korvel::file_mtime(file), sha256_hex(bytes)};
    }
    korvel::save_hash_cache(scene.install.dir() / ".korvel" / "hash_cache.json", cache);
    scene.server.put("manifest.json", manifest.dump());
    scene.server.put("version.json",
                     nlohmann::json{{"client_version", "7.1.2"}, {"manifest_url", scene.server.url("manifest.json")}}
                         .dump());

    test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    ASSERT_TRUE(poll([&] { return fs::exists(scene.client_version()); }, 300000));
    EXPECT_EQ(scene.play(window, 1).size(), 1u);
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
    EXPECT_TRUE(scene.server.requests("files/0/f0.bin").empty());
}

TEST(DavariLive, TwoStartsShowOneWindowWhoseCheckEndsInPlay) {
    LiveScene scene;
    scene.publish({{"data/a.bin", "alpha"}, {"b.txt", "beta"}});
    test::write_file(scene.install.client_dir() / "UserData" / "launcher_settings.ini", "[launcher]\nclient_count=2\n");
    test::ChildProcess first(scene.install.davari(), L"", scene.install.dir());
    test::ChildProcess second(scene.install.davari(), L"", scene.install.dir());
    // One of them hands over to the other and ends.
    ASSERT_TRUE(poll([&] { return !first.running() || !second.running(); }));
    test::ChildProcess const& ended = first.running() ? second : first;
    test::ChildProcess const& kept = first.running() ? first : second;
    EXPECT_EQ(ended.wait(0), 0u);
    HWND const window = test::wait_for_window(kept.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    // What the player sees once the check is over: the Play button drawn gold (its
    // unhovered fill). A window that came up under the pointer may have taken a hover
    // whose leave never comes, so the pointer moves over a part of the window without
    // buttons each time it is looked at: the window sees the move and drops the hover.
    // The picture is kept beside the test for a person to look at.
    POINT away{300, 700};  // below the progress bar
    ::ClientToScreen(window, &away);
    int wiggle = 0;
    std::vector<std::uint32_t> shot;
    EXPECT_TRUE(poll([&] {
        ::SetCursorPos(away.x + (wiggle ^= 1), away.y);
        shot = test::screen_capture(window);
        return near_colour(shot[700 * 1200 + 920], 0x744d20);
    })) << std::hex << shot[700 * 1200 + 920];
    test::write_file("davari-ready.bmp",
                     korvel::test::bmp_bytes(1200, 760, [&](int x, int y) { return shot[y * 1200 + x]; }));
    EXPECT_EQ(scene.play(window, 2).size(), 2u);
    EXPECT_EQ(kept.wait(k_timeout_ms), 0u);
    EXPECT_EQ(scene.server.requests("version.json").size(), 1u);
    EXPECT_EQ(test::read_file(scene.client_version()), "7.1.2");
    EXPECT_EQ(test::read_file(scene.install.client_dir() / "data" / "a.bin"), "alpha");
}

namespace {

// Each row of the news card shows its coloured badge only when it has an item.
bool news_row_shown(std::vector<std::uint32_t> const& shot, int row) {
    constexpr std::uint32_t badge[] = {0x467cbe, 0x41965f, 0x6752ad, 0x6752ad};
    return near_colour(shot[(144 + 49 * row) * 1200 + 838], badge[row]);
}

// The installation's launcher becomes the build that has the test release key built in.
void use_keyed_launcher(LiveScene const& scene) {
    fs::remove(scene.install.davari());
    fs::copy_file(test::bin_dir().parent_path() / "test-keys" / "davari_test_key_NOT_FOR_PLAYERS.exe",
                  scene.install.davari());
}

}  // namespace

// A hostile server (a banner of 30000 x 30000 pixels in 109 KB, a news body of 50 MB,
// links that would start a local program), a banner cache that an older launcher took
// (60 megapixels of black in 30 KB) and a game folder that cannot hold the patch lock.
// The launcher stays small, shows the gradient and the default news, leaves the cache as
// it was and starts nothing but the game.
TEST(DavariLive, AHostileServerAndADamagedCacheLeaveTheLauncherSmallAndPlayable) {
    using korvel::test::PictureFormat;
    LiveScene scene;
    scene.publish({{"a.bin", "alpha"}});
    fs::create_directories(scene.banner_cache().parent_path());
    korvel::test::write_picture(scene.banner_cache(), PictureFormat::PngOneBit, 8000, 7500);
    std::string const old_cache = test::read_file(scene.banner_cache());
    korvel::test::write_picture(scene.server.local("banner.png"), PictureFormat::PngOneBit, 30000, 30000);
    scene.server.put("news.json", R"({"items":[{"title":")" + std::string(50u << 20, 'n') + R"("}]})");
    std::string const client = korvel::wide_to_utf8(scene.install.client_exe().wstring());
    std::string file_url = "file:///" + client;
    std::replace(file_url.begin(), file_url.end(), '\\', '/');
    scene.add_ini("[remote]\nbanner_url=" + scene.server.url("banner.png") + "\nnews_url=" +
                  scene.server.url("news.json") + "\n[links]\nwebsite=" + client + "\ndiscord=" + file_url +
                  "\nregister=client\\bat.exe\n");
    test::write_file(scene.install.client_dir() / ".korvel", "");  // no folder for the lock

    test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    fs::path const download = scene.banner_cache().wstring() + L".download";
    ASSERT_TRUE(poll([&] { return !scene.server.requests("banner.png").empty() && !fs::exists(download); }));
    ASSERT_TRUE(poll([&] { return !scene.server.requests("news.json").empty(); }));
    std::vector<std::uint32_t> const shot = shot_when_ready(window);  // the check went on without the lock
    test::write_file("davari-hostile.bmp", test::bmp_bytes(1200, 760, [&](int x, int y) { return shot[y * 1200 + x]; }));
    EXPECT_TRUE(near_colour(shot[700 * 1200 + 920], 0x744d20));
    EXPECT_TRUE(news_row_shown(shot, 1));  // the two default items
    EXPECT_FALSE(news_row_shown(shot, 2));
    EXPECT_GT(shot[120 * 1200 + 700] & 0xff, 0x18u);  // the gradient's blue, not a black picture

    for (POINT const link : {POINT{884, 515}, POINT{994, 515}, POINT{1109, 515}}) click(window, link);
    EXPECT_TRUE(test::wait_for_client_records(scene.install.client_dir(), 1, 3000).empty());
    std::uint64_t const peak = davari.peak_working_set();
    std::cout << "davari peak working set: " << (peak >> 20) << " MiB\n";
    EXPECT_GT(peak, 0u);
    EXPECT_LT(peak, 128u << 20);
    EXPECT_EQ(test::read_file(scene.banner_cache()), old_cache);
    EXPECT_EQ(scene.play(window, 1).size(), 1u);
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
}

// Escape as soon as the banner has arrived, while its worker decodes a 16-megapixel
// picture: the launcher closes cleanly, every time.
TEST(DavariLive, EscapeWhileTheBannerIsDecodedEndsCleanly) {
    LiveScene scene;
    scene.publish({{"a.bin", "alpha"}});
    korvel::test::write_picture(scene.server.local("banner.png"), korvel::test::PictureFormat::Png, 4000, 4000,
                                [](std::uint32_t x, std::uint32_t y) { return (x / 16) << 8 | (y / 16); });
    scene.add_ini("[remote]\nbanner_url=" + scene.server.url("banner.png") + "\n");
    for (int run = 0; run < 3; ++run) {
        test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
        HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
        ASSERT_TRUE(window);
        ASSERT_TRUE(poll([&] { return scene.server.requests("banner.png").size() > static_cast<std::size_t>(run); }));
        // A key can be lost while the window takes the focus; a running check asks first.
        ASSERT_TRUE(poll([&] {
            click(window, POINT{400, 300});
            press_key(VK_ESCAPE);
            if (auto const box = test::wait_for_dialog(davari.pid(), 300))
                ::PostMessageW(box->hwnd, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
            return !davari.running();
        }));
        EXPECT_EQ(davari.wait(k_timeout_ms), 0u) << run;
    }
}

TEST(DavariLive, KeyedAndUnkeyedLaunchersInstallASignedRelease) {
    for (bool const keyed : {true, false}) {
        SCOPED_TRACE(keyed ? "keyed" : "unkeyed");
        LiveScene scene("", "signed");
        if (keyed) use_keyed_launcher(scene);
        scene.publish({{"a.bin", "alpha"}});
        // News nested 200,000 deep once overflowed the launcher's stack at every start.
        scene.server.put("news.json", R"({"items":)" + std::string(200000, '[') + std::string(200000, ']') + "}");
        scene.add_ini("[remote]\nnews_url=" + scene.server.url("news.json") + "\n");
        scene.server.sign_version("version.json", 4);
        test::ChildProcess davari(scene.install.davari(), L"", scene.install.dir());
        HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
        ASSERT_TRUE(window);
        EXPECT_EQ(scene.play(window, 1).size(), 1u);
        EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
        EXPECT_EQ(test::read_file(scene.install.client_dir() / "a.bin"), "alpha");
        EXPECT_EQ(fs::exists(scene.install.client_dir() / ".korvel" / "release.sequence"), keyed);
    }
}
