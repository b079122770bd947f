#include "launcher/client_launch.h"
#include "launcher/launcher_app.h"

#include "tests/launcher/launcher_fixtures.h"

#include <gtest/gtest.h>

#include <deque>

namespace fs = std::filesystem;
namespace test = korvel::test;
using korvel::LauncherApp;

namespace {

constexpr unsigned k_client_timeout_ms = 15000;
constexpr UINT k_error_box = MB_OK | MB_ICONERROR;

// Answers the starts with the given codes in turn (ERROR_SUCCESS for a start that worked)
// and remembers what it was asked to start.
struct ScriptedStarts {
    std::deque<DWORD> results;
    std::vector<fs::path> executables;

    korvel::StartClientFn fn() {
        return [this](fs::path const& exe, std::wstring const&, fs::path const&) {
            executables.push_back(exe);
            DWORD const result = results.front();
            results.pop_front();
            return result;
        };
    }
};

struct ElevationCalls {
    DWORD result = ERROR_SUCCESS;
    std::vector<std::pair<HWND, int>> calls;

    korvel::RestartElevatedFn fn() {
        return [this](HWND owner, int count) {
            calls.emplace_back(owner, count);
            return result;
        };
    }
};

// What the launcher's message loop does for a Play run: the window's timer ticks are
// dispatched until the run has no start left (false after `timeout_ms`). Anything else,
// such as the WM_CLOSE of a finished run, stays queued for the test to see.
bool finish_play_run(LauncherApp const& app, HWND hwnd, DWORD timeout_ms = 20000) {
    DWORD const start = ::GetTickCount();
    while (app.clients_starting()) {
        DWORD const spent = ::GetTickCount() - start;
        if (spent >= timeout_ms) return false;
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout_ms - spent, QS_TIMER);
        MSG message;
        while (::PeekMessageW(&message, hwnd, WM_TIMER, WM_TIMER, PM_REMOVE)) ::DispatchMessageW(&message);
    }
    return true;
}

std::unique_ptr<LauncherApp> app_for(test::Installation const& install, HWND hwnd, int count) {
    auto app = std::make_unique<LauncherApp>();
    app->base_dir = install.dir();
    app->load_settings();
    app->hwnd = hwnd;
    app->window.client_count = count;
    return app;
}

}  // namespace

TEST(StartClient, QuotesThePathAppendsTheArgumentsAndStartsInTheClientFolder) {
    test::TempDir dir("start");
    fs::path const folder = dir / "Korvel Client";
    fs::create_directories(folder);
    fs::path const exe = folder / "my game.exe";
    fs::copy_file(test::fake_client_exe(), exe);

    EXPECT_EQ(korvel::start_client(exe, L"-server \"Korvel One\"  -x", folder), ERROR_SUCCESS);
    auto records = test::wait_for_client_records(folder, 1, k_client_timeout_ms);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].command_line, L"\"" + exe.native() + L"\" -server \"Korvel One\"  -x");
    EXPECT_EQ(records[0].folder, folder.native());

    fs::remove_all(folder / "starts");
    EXPECT_EQ(korvel::start_client(exe, L"", folder), ERROR_SUCCESS);
    records = test::wait_for_client_records(folder, 1, k_client_timeout_ms);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].command_line, L"\"" + exe.native() + L"\"");  // no trailing space
}

TEST(StartClient, ReturnsTheWin32ErrorOfAFailedStart) {
    test::TempDir dir("start");
    test::write_file(dir / "bat.exe", "this is a text file, not a program\r\n");
    EXPECT_EQ(korvel::start_client(dir / "bat.exe", L"", dir.path()), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));
    EXPECT_EQ(korvel::start_client(dir / "missing.exe", L"", dir.path()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(test::client_records(dir.path()).empty());
}

TEST(LaunchClients, StartsEveryCopyInTheClientFolderThenClosesTheLauncher) {
    test::Installation install("[client]\nroot=client\ngame_args=-a \"b c\"\nlaunch_delay_ms=300\n");
    test::OwnerWindow window;
    test::MessageBoxRecorder boxes;
    auto app = app_for(install, window.get(), 3);
    int starts = 0;
    auto const counted_start = [&](fs::path const& exe, std::wstring const& args, fs::path const& folder) {
        ++starts;
        return korvel::start_client(exe, args, folder);
    };
    ElevationCalls elevation;

    std::uint64_t const before = test::filetime_now();
    app->launch_clients(counted_start, elevation.fn());
    // Back in the message loop after the first start: the window answers during the pauses
    // and takes no input, so a second Play adds no start.
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(app->clients_starting());
    EXPECT_FALSE(::IsWindowEnabled(window.get()));
    app->launch_clients(counted_start, elevation.fn());
    EXPECT_EQ(starts, 1);
    ASSERT_TRUE(finish_play_run(*app, window.get()));

    EXPECT_EQ(starts, 3);
    EXPECT_TRUE(::IsWindowEnabled(window.get()));
    auto const records = test::wait_for_client_records(install.client_dir(), 3, k_client_timeout_ms);
    ASSERT_EQ(records.size(), 3u);
    for (size_t i = 0; i < records.size(); ++i) {
        fs::path const exe = install.dir() / "client" / "bat.exe";
        EXPECT_EQ(records[i].command_line, L"\"" + exe.native() + L"\" -a \"b c\"");
        EXPECT_EQ(fs::path(records[i].folder), install.client_dir());
        // Start i+1 happens at least i pauses after the call began.
        EXPECT_GE(records[i].started, before + i * 300 * 10'000ull) << "start " << i + 1;
    }
    EXPECT_TRUE(boxes.calls.empty());
    EXPECT_TRUE(elevation.calls.empty());
    EXPECT_FALSE(::IsWindowVisible(window.get()));
    EXPECT_TRUE(window.close_posted());
}

TEST(LaunchClients, AMissingExecutableIsReportedAndNothingStarts) {
    test::Installation install("[client]\nroot=client\ngame=nincs.exe\n");
    test::OwnerWindow window;
    test::MessageBoxRecorder boxes;
    auto app = app_for(install, window.get(), 2);
    ScriptedStarts starts;
    ElevationCalls elevation;
    app->launch_clients(starts.fn(), elevation.fn());

    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].owner, window.get());
    EXPECT_EQ(boxes.calls[0].text, L"Nem található a játék: " + (install.dir() / "client" / "nincs.exe").native());
    EXPECT_EQ(boxes.calls[0].title, L"Korvel Launcher");
    EXPECT_EQ(boxes.calls[0].flags, k_error_box);
    EXPECT_TRUE(starts.executables.empty());
    EXPECT_TRUE(::IsWindowVisible(window.get()));
    EXPECT_FALSE(window.close_posted());
}

TEST(LaunchClients, FailuresAndTheElevatedRestart) {
    struct Case {
        char const* name;
        int count;
        std::deque<DWORD> starts;
        DWORD elevation;
        size_t elevations;  // calls expected
        wchar_t const* text;  // null: no box, the launcher closes
        UINT flags;
    };
    std::vector<Case> const cases = {
        {"first start fails", 3, {ERROR_ACCESS_DENIED}, 0, 0, L"A játék nem indítható. Win32: 5", k_error_box},
        {"elevation accepted", 2, {740}, ERROR_SUCCESS, 1, nullptr, 0},
        {"elevation declined", 3, {740}, ERROR_CANCELLED, 1,
         L"A játék indításához szükséges rendszergazdai engedélyt elutasítottad.", MB_OK | MB_ICONINFORMATION},
        {"elevation fails", 1, {740}, ERROR_NO_ASSOCIATION, 1, L"A játék nem indítható. Win32: 1155", k_error_box},
        {"740 after a start", 2, {0, 740}, 0, 0,
         L"1 kliens elindult, de a következő példány nem indítható. Win32: 740", k_error_box},
        {"third start fails", 3, {0, 0, ERROR_NOT_ENOUGH_MEMORY},  0, 0,
         L"2 kliens elindult, de a következő példány nem indítható. Win32: 8", k_error_box},
    };
    test::Installation install("[client]\nroot=client\nlaunch_delay_ms=100\n");
    // One window for all cases: under Wine every hide or destroy of a shown window costs
    // a wait for the X server.
    test::OwnerWindow window;
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        ::ShowWindow(window.get(), SW_SHOWNA);
        test::MessageBoxRecorder boxes;
        auto app = app_for(install, window.get(), c.count);
        ScriptedStarts starts{c.starts, {}};
        ElevationCalls elevation{c.elevation, {}};
        app->launch_clients(starts.fn(), elevation.fn());
        ASSERT_TRUE(finish_play_run(*app, window.get()));

        EXPECT_TRUE(starts.results.empty()) << "every scripted start was used, no more";
        EXPECT_TRUE(::IsWindowEnabled(window.get()));
        ASSERT_EQ(elevation.calls.size(), c.elevations);
        if (c.elevations) {
            EXPECT_EQ(elevation.calls[0], std::make_pair(window.get(), c.count));
        }
        if (c.text) {
            ASSERT_EQ(boxes.calls.size(), 1u);
            EXPECT_EQ(boxes.calls[0].text, c.text);
            EXPECT_EQ(boxes.calls[0].title, L"Korvel Launcher");
            EXPECT_EQ(boxes.calls[0].owner, window.get());
            EXPECT_EQ(boxes.calls[0].flags, c.flags);
            EXPECT_TRUE(::IsWindowVisible(window.get()));
            EXPECT_FALSE(window.close_posted());
        } else {
            EXPECT_TRUE(boxes.calls.empty());
            EXPECT_FALSE(::IsWindowVisible(window.get()));
            EXPECT_TRUE(window.close_posted());
        }
    }
}

TEST(LaunchMode, ReportsWithoutOwnerAndNeverElevates) {
    struct Case {
        char const* name;
        int count;
        std::deque<DWORD> starts;
        int exit_code;
        wchar_t const* text;
    };
    std::vector<Case> const cases = {
        {"all start", 3, {0, 0, 0}, 0, nullptr},
        {"740 is an error like any other", 2, {740}, 3, L"A játék nem indítható. Win32: 740"},
        {"a later start fails", 3, {0, 0, ERROR_NOT_ENOUGH_MEMORY}, 3, L"A játék nem indítható. Win32: 8"},
    };
    test::Installation install("[client]\nroot=client\nlaunch_delay_ms=100\n");
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        test::MessageBoxRecorder boxes;
        ScriptedStarts starts{c.starts, {}};
        EXPECT_EQ(korvel::run_launch_mode(install.dir(), c.count, starts.fn()), c.exit_code);
        EXPECT_TRUE(starts.results.empty());
        for (auto const& exe : starts.executables) EXPECT_EQ(exe, install.client_exe());
        if (c.text) {
            ASSERT_EQ(boxes.calls.size(), 1u);
            EXPECT_EQ(boxes.calls[0].owner, nullptr);
            EXPECT_EQ(boxes.calls[0].text, c.text);
            EXPECT_EQ(boxes.calls[0].title, L"Korvel Launcher");
            EXPECT_EQ(boxes.calls[0].flags, k_error_box);
        } else {
            EXPECT_TRUE(boxes.calls.empty());
        }
    }

    test::Installation missing("[client]\nroot=client\n", false);
    test::MessageBoxRecorder boxes;
    ScriptedStarts none;
    EXPECT_EQ(korvel::run_launch_mode(missing.dir(), 2, none.fn()), 2);
    ASSERT_EQ(boxes.calls.size(), 1u);
    EXPECT_EQ(boxes.calls[0].owner, nullptr);
    EXPECT_EQ(boxes.calls[0].text, L"Nem található a játék: " + missing.client_exe().native());
    EXPECT_EQ(boxes.calls[0].flags, k_error_box);
    EXPECT_TRUE(none.executables.empty());
}

TEST(LaunchMode, ClientSettingsComeFromLauncherIni) {
    test::TempDir dir("ini");
    korvel::IniFile ini;
    auto launch = korvel::client_launch_from_ini(ini, L"C:\\Korvel");
    EXPECT_EQ(launch.executable, fs::path(L"C:\\Korvel\\.\\bat.exe"));
    EXPECT_EQ(launch.folder, fs::path(L"C:\\Korvel\\."));
    EXPECT_EQ(launch.arguments, L"");
    EXPECT_EQ(launch.delay_ms, 500);

    test::write_file(dir / "launcher.ini", "[client]\nroot=D:\\Client\ngame=bin\\g.exe\ngame_args=-x 1\n"
                                           "launch_delay_ms=5000\n");
    ini.load(dir / "launcher.ini");
    launch = korvel::client_launch_from_ini(ini, L"C:\\Korvel");
    EXPECT_EQ(launch.executable, fs::path(L"D:\\Client\\bin\\g.exe"));
    EXPECT_EQ(launch.folder, fs::path(L"D:\\Client"));
    EXPECT_EQ(launch.arguments, L"-x 1");
    EXPECT_EQ(launch.delay_ms, 3000);

    ini.set(L"client", L"game", L"E:\\Elsewhere\\g.exe");  // an absolute game replaces the folder
    ini.set(L"client", L"launch_delay_ms", L"10");
    launch = korvel::client_launch_from_ini(ini, L"C:\\Korvel");
    EXPECT_EQ(launch.executable, fs::path(L"E:\\Elsewhere\\g.exe"));
    EXPECT_EQ(launch.delay_ms, 100);
}

TEST(RestartElevated, StartsTheLauncherInLaunchModeWithTheCount) {
    // Wine grants "runas" without a prompt, so the restarted launcher really starts clients.
    test::Installation install;
    EXPECT_EQ(korvel::restart_elevated(nullptr, install.davari(), install.dir(), 2), ERROR_SUCCESS);
    auto const records = test::wait_for_client_records(install.client_dir(), 2, k_client_timeout_ms);
    EXPECT_EQ(records.size(), 2u);

    EXPECT_NE(korvel::restart_elevated(nullptr, install.dir() / "missing.exe", install.dir(), 1), ERROR_SUCCESS);
}
