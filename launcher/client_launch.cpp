#include "launcher/client_launch.h"

#include "core/path_elements.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/process.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"

#include <shellapi.h>

#include <algorithm>
#include <string>
#include <system_error>
#include <utility>

namespace fs = std::filesystem;

namespace korvel {

namespace {

bool is_ascii_letter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z');
}

std::wstring missing_text(fs::path const& executable) {
    return L"Nem található a játék: " + executable.native();
}

std::wstring cannot_start_text(DWORD code) {
    return L"A játék nem indítható. Win32: " + std::to_wstring(code);
}

}  // namespace

fs::path resolve_against(fs::path const& base, fs::path const& path) {
    std::wstring const& text = path.native();
    bool const drive_absolute =
        text.size() >= 3 && is_ascii_letter(text[0]) && text[1] == L':' && is_path_separator(text[2]);
    bool const network = text.size() >= 2 && is_path_separator(text[0]) && is_path_separator(text[1]);
    if (drive_absolute || network) return path;
    return base / path;
}

ClientSection read_client_section(IniFile const& ini) {
    ClientSection client;
    client.root = ini.get(L"client", L"root", client.root);
    client.game = ini.get(L"client", L"game", client.game);
    client.game_args = ini.get(L"client", L"game_args", client.game_args);
    client.config = ini.get(L"client", L"config", client.config);
    client.updater = ini.get(L"client", L"updater", client.updater);
    client.launch_delay_ms = std::clamp(ini.get_int(L"client", L"launch_delay_ms", client.launch_delay_ms), 100, 3000);
    return client;
}

ClientLaunch client_launch_of(ClientSection const& client, fs::path const& base_dir) {
    ClientLaunch launch;
    launch.folder = resolve_against(base_dir, client.root);
    launch.executable = launch.folder / client.game;
    launch.arguments = client.game_args;
    launch.delay_ms = client.launch_delay_ms;
    return launch;
}

ClientLaunch client_launch_from_ini(IniFile const& ini, fs::path const& base_dir) {
    return client_launch_of(read_client_section(ini), base_dir);
}

bool client_exists(fs::path const& executable) {
    std::error_code ec;
    auto const status = fs::status(executable, ec);
    return !ec && fs::exists(status);
}

DWORD start_client(fs::path const& executable, std::wstring const& arguments, fs::path const& folder) {
    std::wstring command_line = L"\"" + executable.native() + L"\"";
    if (!arguments.empty()) command_line += L" " + arguments;
    // The launcher never waits for a client.
    return start_process(executable, std::move(command_line), folder);
}

DWORD restart_elevated(HWND owner, fs::path const& launcher, fs::path const& folder, int count) {
    std::wstring const parameters = L"--launch-clients " + std::to_wstring(count);
    SHELLEXECUTEINFOW info{};
    info.cbSize = sizeof(info);
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    info.hwnd = owner;
    info.lpVerb = L"runas";
    info.lpFile = launcher.c_str();
    info.lpParameters = parameters.c_str();
    info.lpDirectory = folder.c_str();
    info.nShow = SW_HIDE;  // the elevated copy shows no window of its own anyway
    if (!::ShellExecuteExW(&info)) return last_error_of_failure();
    UniqueKernelHandle(info.hProcess).reset();
    return ERROR_SUCCESS;
}

int run_launch_mode(int count) {
    return run_launch_mode(exe_path().parent_path(), count, start_client);
}

int run_launch_mode(fs::path const& base_dir, int count, StartClientFn const& start) {
    IniFile ini;
    ini.load(base_dir / L"launcher.ini");
    ClientLaunch const launch = client_launch_from_ini(ini, base_dir);
    if (!client_exists(launch.executable)) {
        show_message_box(nullptr, missing_text(launch.executable), k_message_box_title, MB_OK | MB_ICONERROR);
        return 2;
    }
    // Launch mode never elevates again: 740 here is reported like any other error.
    ClientStarts const starts = start_clients(launch, std::clamp(count, 1, k_max_clients), start);
    if (starts.error != ERROR_SUCCESS) {
        show_message_box(nullptr, cannot_start_text(starts.error), k_message_box_title, MB_OK | MB_ICONERROR);
        return 3;
    }
    return 0;
}

ClientStarts start_clients(ClientLaunch const& launch, int count, StartClientFn const& start) {
    ClientStarts starts;
    for (int i = 1; i <= count; ++i) {
        starts.error = start(launch.executable, launch.arguments, launch.folder);
        if (starts.error != ERROR_SUCCESS) break;
        ++starts.started;
        if (i < count) ::Sleep(static_cast<DWORD>(launch.delay_ms));
    }
    return starts;
}

namespace {

// Where a pending run's timer finds its run: a property of the window, removed with the
// run, so a tick that was already queued when the run ended finds nothing.
wchar_t const k_play_run_property[] = L"KorvelPlayRun";

}  // namespace

PlayRun::PlayRun(HWND owner, ClientLaunch launch, int count, StartClientFn start, RestartElevatedFn restart_elevated)
    : owner_(owner),
      launch_(std::move(launch)),
      count_(std::clamp(count, 1, k_max_clients)),
      start_(std::move(start)),
      restart_elevated_(std::move(restart_elevated)) {}

PlayRun::~PlayRun() {
    stop_waiting();
}

void PlayRun::stop_waiting() noexcept {
    if (!running_) return;
    running_ = false;
    ::KillTimer(owner_, k_client_start_timer);
    ::RemovePropW(owner_, k_play_run_property);
    ::EnableWindow(owner_, TRUE);
}

void PlayRun::begin() {
    if (!client_exists(launch_.executable)) {
        show_message_box(owner_, missing_text(launch_.executable), k_message_box_title, MB_OK | MB_ICONERROR);
        return;
    }
    start_next();
}

void CALLBACK PlayRun::on_timer(HWND hwnd, UINT, UINT_PTR id, DWORD) noexcept {
    ::KillTimer(hwnd, id);  // one tick per start
    auto* const run = static_cast<PlayRun*>(::GetPropW(hwnd, k_play_run_property));
    if (!run) return;
    // No exception may leave a timer callback; out of memory, the run ends where it is
    // and the window takes input again.
    try {
        run->start_next();
    } catch (...) {
        run->stop_waiting();
    }
}

void PlayRun::start_next() {
    DWORD const error = start_(launch_.executable, launch_.arguments, launch_.folder);
    if (error == ERROR_SUCCESS && ++started_ < count_) {
        wait_for_next();
        return;
    }
    finish(error);
}

void PlayRun::wait_for_next() {
    if (!running_) {
        running_ = true;
        ::SetPropW(owner_, k_play_run_property, this);
        ::EnableWindow(owner_, FALSE);
    }
    if (::SetTimer(owner_, k_client_start_timer, static_cast<UINT>(launch_.delay_ms), on_timer)) return;
    // Without a timer the pause is waited here, as it always was: the order and the
    // delays matter more than the window's answers.
    ::Sleep(static_cast<DWORD>(launch_.delay_ms));
    start_next();
}

void PlayRun::finish(DWORD error) {
    stop_waiting();
    HWND const hwnd = owner_;
    auto const close_launcher = [hwnd] {
        ::ShowWindow(hwnd, SW_HIDE);
        ::PostMessageW(hwnd, WM_CLOSE, 0, 0);
    };

    if (started_ == count_) {
        close_launcher();
    } else if (started_ == 0 && error == k_error_elevation_required) {
        DWORD const elevation = restart_elevated_(hwnd, count_);
        if (elevation == ERROR_SUCCESS)
            close_launcher();
        else if (elevation == ERROR_CANCELLED)
            show_message_box(hwnd, L"A játék indításához szükséges rendszergazdai engedélyt elutasítottad.",
                             k_message_box_title, MB_OK | MB_ICONINFORMATION);
        else
            show_message_box(hwnd, cannot_start_text(elevation), k_message_box_title, MB_OK | MB_ICONERROR);
    } else if (started_ == 0) {
        show_message_box(hwnd, cannot_start_text(error), k_message_box_title, MB_OK | MB_ICONERROR);
    } else {
        show_message_box(hwnd,
                         std::to_wstring(started_) + L" kliens elindult, de a következő példány nem indítható. Win32: " +
                             std::to_wstring(error),
                         k_message_box_title, MB_OK | MB_ICONERROR);
    }
}

}  // namespace korvel
