// davari.exe itself, started as a separate process under Wine and Xvfb.

#include "launcher/client_launch.h"
#include "launcher/single_instance.h"

#include "tests/launcher/launcher_fixtures.h"
#include "platform/gdi_handles.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "tests/support/input.h"
#include "tests/support/process.h"

#include <gtest/gtest.h>
#include <winternl.h>

#include <optional>
#include <thread>

namespace fs = std::filesystem;
namespace test = korvel::test;

namespace {

constexpr DWORD k_timeout_ms = 30000;

}  // namespace

TEST(DavariLaunchMode, StartsTheClampedNumberOfClientsAndNoWindow) {
    struct Case {
        wchar_t const* arguments;
        DWORD clients;
    };
    for (auto const& c : {Case{L"--launch-clients 2", 2}, Case{L"--launch-clients 5", 3},
                          Case{L"--launch-clients 0", 1}, Case{L"--launch-clients -2", 1},
                          Case{L"--launch-clients x", 1},
                          Case{L"-x --launch-clients 3 --launch-clients 1", 3}}) {
        SCOPED_TRACE(fs::path(c.arguments).string());
        test::Installation install("[client]\nroot=client\nlaunch_delay_ms=100\ngame_args=-name \"Big Hero\"\n");
        test::ChildProcess davari(install.davari(), c.arguments, install.dir(), true);
        EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
        // Every process of the job ever: davari.exe and the clients it started.
        EXPECT_EQ(davari.wait_for_job(k_timeout_ms), c.clients + 1);
        auto const records = test::client_records(install.client_dir());
        ASSERT_EQ(records.size(), c.clients);
        for (auto const& record : records) {
            EXPECT_EQ(record.command_line, test::quoted(install.dir() / "client" / "bat.exe") + L" -name \"Big Hero\"");
            EXPECT_EQ(fs::path(record.folder), install.client_dir());
        }
        EXPECT_FALSE(fs::exists(install.client_dir() / "UserData"));  // no window, no settings
    }
}

TEST(DavariLaunchMode, PausesBetweenStarts) {
    test::Installation install("[client]\nroot=client\nlaunch_delay_ms=700\n");
    std::uint64_t const before = test::filetime_now();
    test::ChildProcess davari(install.davari(), L"--launch-clients 3", install.dir(), true);
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
    EXPECT_EQ(davari.wait_for_job(k_timeout_ms), 4u);
    auto const records = test::client_records(install.client_dir());
    ASSERT_EQ(records.size(), 3u);
    // The k-th start cannot come before k - 1 pauses have passed.
    for (size_t i = 0; i < records.size(); ++i)
        EXPECT_GE(records[i].started, before + i * 700 * 10'000ull) << "start " << i + 1;
}

TEST(DavariLaunchMode, AnOptionWithoutCountOpensTheWindow) {
    for (wchar_t const* arguments : {L"--launch-clients", L"--Launch-Clients 2"}) {
        SCOPED_TRACE(fs::path(arguments).string());
        test::Installation install;
        test::ChildProcess davari(install.davari(), arguments, install.dir(), true);
        HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
        ASSERT_TRUE(window);
        ::PostMessageW(window, WM_CLOSE, 0, 0);
        EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
        EXPECT_EQ(davari.wait_for_job(k_timeout_ms), 1u);  // no client
    }
}

TEST(DavariLaunchMode, FailuresShowTheirBoxAndExitCode) {
    struct Case {
        char const* name;
        bool client_exists;
        std::string client_bytes;  // empty: the fake client
        DWORD exit_code;
        std::wstring (*text)(test::Installation const&);
    };
    std::vector<Case> const cases = {
        {"missing executable", false, "", 2,
         [](test::Installation const& i) { return L"Nem található a játék: " + i.client_exe().native(); }},
        {"not a program", true, "MZ? no, just text", 3,
         [](test::Installation const&) {
             return L"A játék nem indítható. Win32: " + std::to_wstring(ERROR_BAD_EXE_FORMAT);
         }},
    };
    for (auto const& c : cases) {
        SCOPED_TRACE(c.name);
        test::Installation install("[client]\nroot=client\n", c.client_exists);
        if (!c.client_bytes.empty()) test::write_file(install.client_exe(), c.client_bytes);
        test::ChildProcess davari(install.davari(), L"--launch-clients 2", install.dir(), true);
        auto const box = test::wait_for_dialog(davari.pid(), k_timeout_ms);
        ASSERT_TRUE(box);
        EXPECT_EQ(box->title, L"Korvel Launcher");
        EXPECT_EQ(box->text, c.text(install));
        EXPECT_EQ(::GetWindow(box->hwnd, GW_OWNER), nullptr);
        test::dismiss_dialog(box->hwnd);
        EXPECT_EQ(davari.wait(k_timeout_ms), c.exit_code);
        EXPECT_EQ(davari.wait_for_job(k_timeout_ms), 1u);  // no client process
    }
}

TEST(DavariWindow, BorderlessRoundedAndCentredAndClosesCleanly) {
    test::Installation install("[branding]\nwindow_title=Próba Ablak\n[client]\nroot=client\n");
    test::ChildProcess davari(install.davari(), L"", install.dir());
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);

    wchar_t title[64] = {};
    ::GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"Próba Ablak");
    LONG const style = ::GetWindowLongW(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_MINIMIZEBOX | WS_CAPTION | WS_THICKFRAME), WS_POPUP | WS_MINIMIZEBOX);
    EXPECT_EQ(::GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);

    RECT frame{};
    ASSERT_TRUE(::GetWindowRect(window, &frame));
    EXPECT_EQ(frame.right - frame.left, 1200);
    EXPECT_EQ(frame.bottom - frame.top, 760);
    EXPECT_EQ(frame.left, (::GetSystemMetrics(SM_CXSCREEN) - 1200) / 2);
    EXPECT_EQ(frame.top, (::GetSystemMetrics(SM_CYSCREEN) - 760) / 2);

    // The region reaches the last pixel column and row (its right and bottom edges are
    // exclusive) and cuts the corners.
    korvel::UniqueRegion region(::CreateRectRgn(0, 0, 0, 0));
    ASSERT_EQ(::GetWindowRgn(window, region.get()), COMPLEXREGION);
    RECT box{};
    ::GetRgnBox(region.get(), &box);
    EXPECT_EQ(box.left, 0);
    EXPECT_EQ(box.top, 0);
    EXPECT_EQ(box.right, 1200);
    EXPECT_EQ(box.bottom, 760);
    for (POINT corner : {POINT{0, 0}, POINT{1199, 0}, POINT{0, 759}, POINT{1199, 759}, POINT{2, 1}})
        EXPECT_FALSE(::PtInRegion(region.get(), corner.x, corner.y)) << corner.x << "," << corner.y;
    for (POINT inside : {POINT{600, 380}, POINT{1199, 380}, POINT{600, 759}, POINT{9, 9}, POINT{1190, 750}})
        EXPECT_TRUE(::PtInRegion(region.get(), inside.x, inside.y)) << inside.x << "," << inside.y;

    EXPECT_TRUE(fs::is_directory(install.client_dir() / "UserData"));

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
}

namespace {

// The handles open on `object` in the whole system.
ULONG handle_count(HANDLE object) {
    PUBLIC_OBJECT_BASIC_INFORMATION info{};
    return ::NtQueryObject(object, ObjectBasicInformation, &info, sizeof(info), nullptr) >= 0 ? info.HandleCount : 0;
}

// A launcher of the folder started earlier, played by a thread of this test that holds
// the folder's mutex until end(); the thread then ends without letting go of it, as a
// launcher's process does when it exits.
class FirstLauncher {
public:
    explicit FirstLauncher(fs::path const& folder) {
        std::wstring const name = korvel::instance_mutex_name(folder);
        thread_ = std::thread([this, name] {
            mutex_.reset(::CreateMutexW(nullptr, TRUE, name.c_str()));
            ::SetEvent(holding_.get());
            ::WaitForSingleObject(ending_.get(), INFINITE);
        });
        ::WaitForSingleObject(holding_.get(), INFINITE);
    }
    ~FirstLauncher() { end(); }
    FirstLauncher(FirstLauncher const&) = delete;
    FirstLauncher& operator=(FirstLauncher const&) = delete;

    HANDLE mutex() const { return mutex_.get(); }
    void end() {
        ::SetEvent(ending_.get());
        if (thread_.joinable()) thread_.join();
    }

private:
    korvel::UniqueKernelHandle const holding_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    korvel::UniqueKernelHandle const ending_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    korvel::UniqueKernelHandle mutex_;
    std::thread thread_;
};

}  // namespace

// The folder's launcher still holds its mutex but has no window any more (closing, or
// hung before its window came): the second start says so instead of vanishing.
TEST(DavariWindow, ASecondStartWithoutAWindowToShowSaysSo) {
    test::Installation install;
    FirstLauncher const first(install.dir());
    ASSERT_TRUE(first.mutex());
    test::ChildProcess davari(install.davari(), L"", install.dir());
    auto const box = test::wait_for_dialog(davari.pid(), k_timeout_ms);  // after its 10 s search
    ASSERT_TRUE(box);
    EXPECT_EQ(box->title, L"Korvel Launcher");
    EXPECT_EQ(box->text, L"A launcher már fut ebből a mappából.");
    EXPECT_FALSE(test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", 0));
    test::dismiss_dialog(box->hwnd);
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);
    EXPECT_FALSE(fs::exists(install.client_dir() / "UserData"));  // it went no further
}

// The folder's launcher ends while a second start looks for its window: the second one
// stays and is the launcher. A name kept open by a start that is still looking, with no
// launcher holding it, is no launcher either.
TEST(DavariWindow, AStartWhileTheFirstEndsEndsWithALauncher) {
    test::Installation install;
    FirstLauncher first(install.dir());
    ASSERT_TRUE(first.mutex());
    test::ChildProcess davari(install.davari(), L"", install.dir());
    ASSERT_TRUE(test::wait_until([&] { return handle_count(first.mutex()) >= 2; }, k_timeout_ms))
        << "the start opened the folder's mutex";
    EXPECT_FALSE(test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", 500)) << "it waits for the first";
    first.end();
    HWND const window = test::wait_for_window(davari.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    EXPECT_FALSE(test::wait_for_dialog(davari.pid(), 0));
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(davari.wait(k_timeout_ms), 0u);

    korvel::UniqueKernelHandle const looking(
        ::CreateMutexW(nullptr, FALSE, korvel::instance_mutex_name(install.dir()).c_str()));
    test::ChildProcess again(install.davari(), L"", install.dir());
    HWND const second_window = test::wait_for_window(again.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(second_window);
    ::PostMessageW(second_window, WM_CLOSE, 0, 0);
    EXPECT_EQ(again.wait(k_timeout_ms), 0u);
}

// The folder's launcher runs; starts through another drive letter (the test prefix's S:)
// and through the 8.3 short name find it and end, as a second start from the same path
// does, without a box.
TEST(DavariWindow, OneLauncherPerFolderWhateverPathReachesIt) {
    test::Installation install("[client]\nroot=client\n", true, "Korvel Game Install");
    test::ChildProcess first(install.davari(), L"", install.dir());
    HWND const window = test::wait_for_window(first.pid(), L"KorvelLauncherWindow", k_timeout_ms);
    ASSERT_TRUE(window);
    wchar_t short_name[MAX_PATH] = {};
    ASSERT_GT(::GetShortPathNameW(install.davari().c_str(), short_name, MAX_PATH), 0u);
    for (fs::path const& other : {test::on_second_drive(install.davari()), fs::path(short_name), install.davari()}) {
        SCOPED_TRACE(other.string());
        test::ChildProcess second(other, L"", other.parent_path());
        std::optional<test::DialogSeen> box;
        ASSERT_TRUE(test::wait_until([&] { return !second.running() || (box = test::wait_for_dialog(second.pid(), 0)); },
                                     k_timeout_ms));
        EXPECT_FALSE(box) << "said: " << (box ? korvel::wide_to_utf8(box->text) : "");
        if (box) test::dismiss_dialog(box->hwnd);
        EXPECT_EQ(second.wait(k_timeout_ms), 0u);
    }
    EXPECT_TRUE(first.running());
    ::PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.wait(k_timeout_ms), 0u);
}
