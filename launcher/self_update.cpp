#include "launcher/self_update.h"

#include "launcher/launcher_app.h"
#include "launcher/message_box.h"
#include "platform/files.h"
#include "platform/unique_handle.h"

namespace fs = std::filesystem;

namespace korvel {

namespace {

std::wstring quoted(fs::path const& path) {
    return L"\"" + path.native() + L"\"";
}

}  // namespace

std::wstring updater_command_line(fs::path const& helper, DWORD launcher_pid, fs::path const& launcher,
                                  fs::path const& replacement) {
    return quoted(helper) + L" " + std::to_wstring(launcher_pid) + L" " + quoted(launcher) + L" " +
           quoted(replacement);
}

void LauncherApp::begin_self_update(LauncherUpdate const& update) {
    fs::path const helper = resolve_path(updater_exe);
    fs::path const own = exe_path();

    WIN32_FILE_ATTRIBUTE_DATA status{};
    if (!::GetFileAttributesExW(helper.c_str(), GetFileExInfoStandard, &status)) {
        // The text names the shipped helper even when launcher.ini names another file.
        show_message_box(hwnd, L"A launcher frissítése letöltődött, de a Swapnik.exe hiányzik.", k_message_box_title,
                         MB_OK | MB_ICONERROR);
        return;
    }

    std::wstring command_line = updater_command_line(helper, ::GetCurrentProcessId(), own, update.new_exe_path);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(helper.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          base_dir.c_str(), &startup, &started)) {
        show_message_box(hwnd, L"Nem sikerült elindítani a launcher frissítőt.", k_message_box_title,
                         MB_OK | MB_ICONERROR);
        return;
    }
    // The helper waits for this process to end; nothing here waits for the helper.
    UniqueKernelHandle const process(started.hProcess);
    UniqueKernelHandle const thread(started.hThread);
    ::DestroyWindow(hwnd);  // no close question: the job is over
}

}  // namespace korvel
