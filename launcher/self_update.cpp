#include "launcher/self_update.h"

#include "launcher/launcher_app.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/sha256.h"
#include "platform/unique_handle.h"
#include "platform/write_whole_file.h"

#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace korvel {

namespace {

std::wstring quoted(fs::path const& path) {
    return L"\"" + path.native() + L"\"";
}

// The launcher's memory of its own replacement: "<sha256> handed-off" is written just
// before the helper starts, "<sha256> failed" once a failure has been seen (and said).
// Only the launcher reads and writes it; the helper knows nothing of it.
constexpr wchar_t const* k_hand_off_record = L".korvel/launcher_update.txt";
constexpr std::string_view k_handed_off = "handed-off";
constexpr std::string_view k_failed = "failed";

struct HandOff {
    std::string sha256;
    std::string state;
};

HandOff read_hand_off(fs::path const& path) {
    std::ifstream file(path, std::ios::binary);
    HandOff record;
    file >> record.sha256 >> record.state;
    return record;
}

bool write_hand_off(fs::path const& path, std::string const& sha256, std::string_view state) noexcept {
    try {
        ensure_parent_dir(path);
        return write_file_replacing(path, sha256 + " " + std::string(state) + "\r\n");
    } catch (...) {
        return false;
    }
}

void forget_hand_off(fs::path const& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

// Said once after a hand-off whose replacement failed; the game is then patched and
// played with the running launcher.
void say_update_failed(HWND owner) {
    show_message_box(owner, L"A launcher frissítése nem sikerült; a játék a jelenlegi launcherrel is indítható.",
                     k_message_box_title, MB_OK | MB_ICONWARNING);
}

}  // namespace

std::wstring updater_command_line(fs::path const& helper, DWORD launcher_pid, fs::path const& launcher,
                                  fs::path const& replacement) {
    return quoted(helper) + L" " + std::to_wstring(launcher_pid) + L" " + quoted(launcher) + L" " +
           quoted(replacement);
}

void LauncherApp::check_last_hand_off() {
    fs::path const path = resolve_path(k_hand_off_record);
    HandOff const last = read_hand_off(path);
    if (last.sha256.empty()) return;
    std::string own;
    try {
        own = sha256_file(exe_path());
    } catch (std::exception const&) {
        // Unreadable: the record cannot be judged, and stays for a later start.
    }
    if (own.empty()) return;
    if (own == last.sha256) {
        forget_hand_off(path);  // the replacement worked (now or by other means)
        return;
    }
    declined_launcher_sha256 = last.sha256;
    if (last.state != k_handed_off) return;  // said before
    say_update_failed(hwnd);
    write_hand_off(path, last.sha256, k_failed);
}

void LauncherApp::begin_self_update(StagedLauncher const& update) {
    fs::path const helper = resolve_path(updater_exe);
    fs::path const own = exe_path();
    fs::path const record = resolve_path(k_hand_off_record);
    // Whatever happens below, this start does not hand this offer off again.
    hand_off_tried = true;
    declined_launcher_sha256 = update.offer.sha256;

    WIN32_FILE_ATTRIBUTE_DATA status{};
    if (!::GetFileAttributesExW(helper.c_str(), GetFileExInfoStandard, &status)) {
        // The text names the shipped helper even when launcher.ini names another file.
        show_message_box(hwnd, L"A launcher frissítése letöltődött, de a Swapnik.exe hiányzik.", k_message_box_title,
                         MB_OK | MB_ICONERROR);
        write_hand_off(record, update.offer.sha256, k_failed);
        start_patch(false);
        return;
    }
    // Unremembered, a helper that fails would leave every later start handing the same
    // offer off again, and the player could never play.
    if (!write_hand_off(record, update.offer.sha256, k_handed_off)) {
        say_update_failed(hwnd);
        start_patch(false);
        return;
    }

    // The helper waits for this process to end; nothing here waits for the helper.
    if (start_process(helper, updater_command_line(helper, ::GetCurrentProcessId(), own, update.path),
                      base_dir) != ERROR_SUCCESS) {
        show_message_box(hwnd, L"Nem sikerült elindítani a launcher frissítőt.", k_message_box_title,
                         MB_OK | MB_ICONERROR);
        write_hand_off(record, update.offer.sha256, k_failed);
        start_patch(false);
        return;
    }
    ::DestroyWindow(hwnd);  // no close question: the job is over
}

}  // namespace korvel
