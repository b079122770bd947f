#include "launcher/self_update.h"

#include "launcher/client_launch.h"
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

std::string check_last_hand_off(fs::path const& base_dir, HWND owner) {
    fs::path const path = resolve_against(base_dir, k_hand_off_record);
    HandOff const last = read_hand_off(path);
    if (last.sha256.empty()) return {};
    std::string own;
    try {
        own = sha256_file(exe_path());
    } catch (std::exception const&) {
        // Unreadable: the record cannot be judged, and stays for a later start.
    }
    if (own.empty()) return {};
    if (own == last.sha256) {
        forget_hand_off(path);  // the replacement worked (now or by other means)
        return {};
    }
    if (last.state == k_handed_off) {  // not said before
        say_update_failed(owner);
        write_hand_off(path, last.sha256, k_failed);
    }
    return last.sha256;
}

bool hand_off_launcher(HWND owner, fs::path const& base_dir, fs::path const& helper, StagedLauncher const& update) {
    fs::path const own = exe_path();
    fs::path const record = resolve_against(base_dir, k_hand_off_record);

    WIN32_FILE_ATTRIBUTE_DATA status{};
    if (!::GetFileAttributesExW(helper.c_str(), GetFileExInfoStandard, &status)) {
        // The text names the shipped helper even when launcher.ini names another file.
        show_message_box(owner, L"A launcher frissítése letöltődött, de a Swapnik.exe hiányzik.",
                         k_message_box_title, MB_OK | MB_ICONERROR);
        write_hand_off(record, update.offer.sha256, k_failed);
        return false;
    }
    // Unremembered, a helper that fails would leave every later start handing the same
    // offer off again, and the player could never play.
    if (!write_hand_off(record, update.offer.sha256, k_handed_off)) {
        say_update_failed(owner);
        return false;
    }

    // The helper waits for this process to end; nothing here waits for the helper.
    if (start_process(helper, updater_command_line(helper, ::GetCurrentProcessId(), own, update.path),
                      base_dir) != ERROR_SUCCESS) {
        show_message_box(owner, L"Nem sikerült elindítani a launcher frissítőt.", k_message_box_title,
                         MB_OK | MB_ICONERROR);
        write_hand_off(record, update.offer.sha256, k_failed);
        return false;
    }
    return true;
}

}  // namespace korvel
