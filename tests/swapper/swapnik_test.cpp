// Swapnik runs here as the real program, under Wine, exactly as the launcher starts it.

#include "platform/unique_handle.h"
#include "tests/support/client_records.h"
#include "tests/support/process.h"
#include "tests/support/test_env.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
namespace test = korvel::test;

namespace {

constexpr DWORD k_timeout_ms = 30000;

fs::path swapnik_exe() {
    return test::bin_dir() / "Swapnik.exe";
}

// An installed launcher about to be updated: "game dir/davari.exe" holds the old bytes,
// ".korvel_update/davari.new.exe" the new launcher (the fake client, which records that
// it was started).
struct UpdateScene {
    test::TempDir dir{"swap"};
    fs::path game_dir = dir / "game dir";
    fs::path target = game_dir / "davari.exe";
    fs::path source = game_dir / ".korvel_update" / "davari.new.exe";
    std::string const old_bytes = "the old launcher";
    std::string new_bytes;

    UpdateScene() {
        test::write_file(target, old_bytes);
        fs::create_directories(source.parent_path());
        fs::copy_file(test::fake_client_exe(), source);
        new_bytes = test::read_file(source);
    }

    std::wstring arguments(std::wstring const& pid) const {
        return pid + L" " + test::quoted(target) + L" " + test::quoted(source);
    }
};

// Runs Swapnik, expects its error box with `text`, dismisses it and returns the exit code.
DWORD expect_error_box(test::ChildProcess const& swapnik, std::wstring const& text, DWORD timeout_ms = k_timeout_ms) {
    auto const box = test::wait_for_dialog(swapnik.pid(), timeout_ms);
    if (!box) {
        ADD_FAILURE() << "no message box";
        return 0xFFFFFFFF;
    }
    EXPECT_EQ(box->title, L"Swapnik");
    EXPECT_EQ(box->text, text);
    test::dismiss_dialog(box->hwnd);
    return swapnik.wait(k_timeout_ms).value_or(0xFFFFFFFF);
}

}  // namespace

TEST(Swapnik, TooFewArgumentsAreRejected) {
    UpdateScene scene;
    for (std::wstring const& args : {std::wstring(L""), L"0 " + test::quoted(scene.target)}) {
        test::ChildProcess swapnik(swapnik_exe(), args);
        EXPECT_EQ(expect_error_box(swapnik, L"Hibás launcher frissítési paraméterek."), 1u);
    }
    EXPECT_EQ(test::read_file(scene.target), scene.old_bytes);
    EXPECT_TRUE(fs::exists(scene.source));
}

TEST(Swapnik, WithoutAProcessToWaitForItReplacesAndStartsTheNewLauncher) {
    // A finished process and pid 0 both mean: nothing to wait for.
    test::ChildProcess finished(test::fake_client_exe(), L"", test::bin_dir());
    ASSERT_TRUE(finished.wait(k_timeout_ms));
    for (std::wstring const& pid : {std::wstring(L"0"), std::to_wstring(finished.pid())}) {
        UpdateScene scene;
        test::ChildProcess swapnik(swapnik_exe(), scene.arguments(pid) + L" extra arguments are ignored");
        EXPECT_EQ(swapnik.wait(k_timeout_ms), 0u);
        EXPECT_EQ(test::read_file(scene.target), scene.new_bytes);
        EXPECT_FALSE(fs::exists(scene.source));

        auto const records = test::wait_for_client_records(scene.game_dir, 1, k_timeout_ms);
        ASSERT_EQ(records.size(), 1u);
        EXPECT_EQ(fs::path(records[0].folder), scene.game_dir);
        // Started with no arguments at all: the command line is only the program.
        std::wstring const& line = records[0].command_line;
        EXPECT_TRUE(line == scene.target.native() || line == test::quoted(scene.target)) << line.size();
    }
}

TEST(Swapnik, LeavesTheLauncherAloneWhileItsProcessRuns) {
    UpdateScene scene;
    test::TempDir other("holder");
    fs::copy_file(test::fake_client_exe(), other / "launcher.exe");
    test::ChildProcess launcher(other / "launcher.exe", L"--linger", other.path());
    ASSERT_EQ(test::wait_for_client_records(other.path(), 1, k_timeout_ms).size(), 1u);

    test::ChildProcess swapnik(swapnik_exe(), scene.arguments(std::to_wstring(launcher.pid())));
    // Watch for two seconds: nothing may change while the launcher lives.
    ULONGLONG const until = ::GetTickCount64() + 2000;
    while (::GetTickCount64() < until) {
        ASSERT_TRUE(swapnik.running());
        ASSERT_EQ(test::read_file(scene.target), scene.old_bytes);
        ASSERT_TRUE(fs::exists(scene.source));
        ::Sleep(100);
    }

    launcher.terminate();
    EXPECT_EQ(swapnik.wait(k_timeout_ms), 0u);
    EXPECT_EQ(test::read_file(scene.target), scene.new_bytes);
    EXPECT_EQ(test::wait_for_client_records(scene.game_dir, 1, k_timeout_ms).size(), 1u);
}

// /dev/shm is a tmpfs, another file system than the test folders: a plain move from
// there fails with error 17 under Wine as between two Windows volumes.
fs::path other_volume_folder(UpdateScene const& scene) {
    fs::path const folder = test::from_unix_path("/dev/shm") / scene.dir.path().filename();
    fs::create_directories(folder);
    return folder;
}

TEST(Swapnik, GivesUpAfterTwentyAttemptsAndLeavesTheOldLauncher) {
    // The cases retry for ten seconds, so they run side by side.
    UpdateScene locked;
    korvel::UniqueFile lock(::CreateFileW(locked.target.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(lock);
    // A read-only old launcher that can still start: it loses the attribute before the
    // first attempt and is started again after the box.
    UpdateScene missing;
    fs::remove(missing.source);
    fs::remove(missing.target);
    fs::copy_file(test::fake_client_exe(), missing.target);
    ASSERT_TRUE(::SetFileAttributesW(missing.target.c_str(), FILE_ATTRIBUTE_READONLY));
    // From another volume, with a folder where the copy fallback puts its temporary file:
    // the box names the move's failure (17), not the fallback's.
    UpdateScene distant;
    fs::path const distant_source = other_volume_folder(distant) / "davari.new.exe";
    fs::copy_file(distant.source, distant_source);
    fs::create_directories(distant.target.native() + L".swapnik.tmp");

    ULONGLONG const started = ::GetTickCount64();
    test::ChildProcess locked_swapnik(swapnik_exe(), locked.arguments(L"0"));
    test::ChildProcess missing_swapnik(swapnik_exe(), missing.arguments(L"0"));
    test::ChildProcess distant_swapnik(swapnik_exe(), L"0 " + test::quoted(distant.target) + L" " + test::quoted(distant_source));

    auto const box = test::wait_for_dialog(locked_swapnik.pid(), k_timeout_ms);
    ULONGLONG const elapsed = ::GetTickCount64() - started;
    ASSERT_TRUE(box);
    // Twenty attempts, each followed by a 500 ms pause, before the box.
    EXPECT_GE(elapsed, 20 * 500u);
    EXPECT_EQ(box->title, L"Swapnik");
    EXPECT_EQ(box->text, L"Nem sikerült lecserélni a launchert.\nWin32: 5");  // access denied
    test::dismiss_dialog(box->hwnd);
    EXPECT_EQ(locked_swapnik.wait(k_timeout_ms), 2u);
    lock.reset();
    EXPECT_EQ(test::read_file(locked.target), locked.old_bytes);
    EXPECT_EQ(test::read_file(locked.source), locked.new_bytes);
    EXPECT_TRUE(test::client_records(locked.game_dir).empty());  // its old launcher is no program

    EXPECT_EQ(expect_error_box(missing_swapnik, L"Nem sikerült lecserélni a launchert.\nWin32: 2"), 2u);
    EXPECT_EQ(test::read_file(missing.target), test::read_file(test::fake_client_exe()));
    EXPECT_FALSE(::GetFileAttributesW(missing.target.c_str()) & FILE_ATTRIBUTE_READONLY);
    auto const restarted = test::wait_for_client_records(missing.game_dir, 1, k_timeout_ms);
    ASSERT_EQ(restarted.size(), 1u);
    EXPECT_EQ(fs::path(restarted[0].folder), missing.game_dir);

    EXPECT_EQ(expect_error_box(distant_swapnik, L"Nem sikerült lecserélni a launchert.\nWin32: 17"), 2u);
    EXPECT_EQ(test::read_file(distant.target), distant.old_bytes);
    EXPECT_EQ(test::read_file(distant_source), distant.new_bytes);
    fs::remove_all(distant_source.parent_path());
}

TEST(Swapnik, AFolderIsRefusedAndALauncherThatCannotStartIsReported) {
    UpdateScene folder;  // a folder where the new launcher should be: nothing moves
    fs::remove(folder.source);
    fs::create_directories(folder.source / "inside");
    test::ChildProcess refused(swapnik_exe(), folder.arguments(L"0"));
    EXPECT_EQ(expect_error_box(refused, L"Nem sikerült lecserélni a launchert.\nWin32: 336"), 2u);
    EXPECT_EQ(test::read_file(folder.target), folder.old_bytes);
    EXPECT_TRUE(fs::is_directory(folder.source / "inside"));

    UpdateScene scene;  // replaced, but not a program
    test::write_file(scene.source, "downloaded, but not a program");
    test::ChildProcess swapnik(swapnik_exe(), scene.arguments(L"0"));
    EXPECT_EQ(expect_error_box(swapnik, L"A launcher frissült, de nem sikerült elindítani.\nWin32: " +
                                            std::to_wstring(ERROR_BAD_EXE_FORMAT)),
              3u);
    EXPECT_EQ(test::read_file(scene.target), "downloaded, but not a program");
}

TEST(Swapnik, CopiesAcrossFileSystemsAndLeavesNoTemporaryFile) {
    UpdateScene scene;
    fs::path const other_volume = other_volume_folder(scene);
    fs::path const source = other_volume / "davari.new.exe";
    fs::copy_file(scene.source, source);
    ASSERT_FALSE(::MoveFileExW(source.c_str(), (scene.game_dir / "probe.exe").c_str(), MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_NOT_SAME_DEVICE));

    test::ChildProcess swapnik(swapnik_exe(), L"0 " + test::quoted(scene.target) + L" " + test::quoted(source));
    EXPECT_EQ(swapnik.wait(k_timeout_ms), 0u);
    EXPECT_EQ(test::read_file(scene.target), scene.new_bytes);
    EXPECT_FALSE(fs::exists(source));
    EXPECT_EQ(test::wait_for_client_records(scene.game_dir, 1, k_timeout_ms).size(), 1u);
    for (auto const& entry : fs::directory_iterator(scene.game_dir))  // no temporary copy left
        EXPECT_TRUE(entry.path().filename() == "davari.exe" || entry.is_directory()) << entry.path();
    fs::remove_all(other_volume);
}
