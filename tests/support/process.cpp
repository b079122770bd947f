#include "tests/support/process.h"

#include "platform/text.h"
#include "platform/win32_error.h"
#include "tests/support/input.h"

#include <psapi.h>

#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace korvel::test {

namespace {

constexpr DWORD k_poll_ms = 20;

std::wstring window_text(HWND hwnd) {
    wchar_t buffer[2048] = {};
    ::GetWindowTextW(hwnd, buffer, 2048);
    return buffer;
}

std::wstring class_of(HWND hwnd) {
    wchar_t buffer[256] = {};
    ::GetClassNameW(hwnd, buffer, 256);
    return buffer;
}

struct Search {
    DWORD pid;
    std::wstring class_name;
    HWND found = nullptr;
};

BOOL CALLBACK find_top_level(HWND hwnd, LPARAM context) {
    auto* search = reinterpret_cast<Search*>(context);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hwnd, &pid);
    if (pid != search->pid || !::IsWindowVisible(hwnd) || class_of(hwnd) != search->class_name) return TRUE;
    search->found = hwnd;
    return FALSE;
}

BOOL CALLBACK collect_static_text(HWND child, LPARAM context) {
    auto* text = reinterpret_cast<std::wstring*>(context);
    if (_wcsicmp(class_of(child).c_str(), L"Static") != 0) return TRUE;
    std::wstring const t = window_text(child);
    if (t.empty()) return TRUE;
    if (!text->empty()) *text += L"\n";
    *text += t;
    return TRUE;
}

template <typename F>
auto poll_until(DWORD timeout_ms, F&& probe) -> decltype(probe()) {
    ULONGLONG const deadline = ::GetTickCount64() + timeout_ms;
    for (;;) {
        if (auto result = probe()) return result;
        if (::GetTickCount64() >= deadline) return {};
        ::Sleep(k_poll_ms);
    }
}

}  // namespace

ChildProcess::ChildProcess(fs::path const& program, std::wstring const& arguments, fs::path const& folder,
                           bool in_job, std::wstring desktop) {
    std::wstring command_line = quoted(program);
    if (!arguments.empty()) command_line += L" " + arguments;
    if (in_job) {
        // Wine starts its desktop process (explorer.exe) from the first program that needs
        // the desktop; started from inside the job it would be counted and never end.
        // Asking for the desktop here starts it outside the job and keeps it for the test.
        ::GetDesktopWindow();
        job_ = ::CreateJobObjectW(nullptr, nullptr);
        if (!job_) throw_last_error("test: CreateJobObjectW failed");
    }
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (!desktop.empty()) startup.lpDesktop = desktop.data();
    PROCESS_INFORMATION info{};
    // Suspended, so that it belongs to the job before it can start anything itself.
    if (!::CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &info)) {
        DWORD const code = ::GetLastError();
        if (job_) ::CloseHandle(job_);
        throw Win32Error("test: cannot start " + wide_to_utf8(program.native()), code);
    }
    process_ = info.hProcess;
    pid_ = info.dwProcessId;
    if (job_ && !::AssignProcessToJobObject(job_, process_)) {
        DWORD const code = ::GetLastError();
        ::TerminateProcess(process_, 1);
        ::CloseHandle(info.hThread);
        throw Win32Error("test: AssignProcessToJobObject failed", code);
    }
    ::ResumeThread(info.hThread);
    ::CloseHandle(info.hThread);
}

ChildProcess::~ChildProcess() {
    if (running()) terminate();
    ::CloseHandle(process_);
    if (job_) ::CloseHandle(job_);
}

bool ChildProcess::running() const {
    return ::WaitForSingleObject(process_, 0) == WAIT_TIMEOUT;
}

std::optional<DWORD> ChildProcess::wait(DWORD timeout_ms) const {
    if (::WaitForSingleObject(process_, timeout_ms) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    return code;
}

std::uint64_t ChildProcess::peak_working_set() const {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!::GetProcessMemoryInfo(process_, &counters, sizeof counters)) return 0;
    return counters.PeakWorkingSetSize;
}

void ChildProcess::terminate() {
    ::TerminateProcess(process_, 99);
    ::WaitForSingleObject(process_, 5000);
}

std::optional<DWORD> ChildProcess::wait_for_job(DWORD timeout_ms) const {
    if (!job_) throw std::logic_error("test: process was not started in a job");
    return poll_until(timeout_ms, [&]() -> std::optional<DWORD> {
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
        if (!::QueryInformationJobObject(job_, JobObjectBasicAccountingInformation, &accounting, sizeof(accounting),
                                         nullptr))
            throw_last_error("test: QueryInformationJobObject failed");
        if (accounting.ActiveProcesses != 0) return std::nullopt;
        return accounting.TotalProcesses;
    });
}

std::optional<DialogSeen> wait_for_dialog(DWORD pid, DWORD timeout_ms) {
    return poll_until(timeout_ms, [&]() -> std::optional<DialogSeen> {
        Search search{pid, L"#32770"};
        ::EnumWindows(find_top_level, reinterpret_cast<LPARAM>(&search));
        if (!search.found) return std::nullopt;
        DialogSeen seen{search.found, window_text(search.found), {}};
        ::EnumChildWindows(search.found, collect_static_text, reinterpret_cast<LPARAM>(&seen.text));
        // The box may be found before its text is set; look again then.
        if (seen.text.empty()) return std::nullopt;
        return seen;
    });
}

void dismiss_dialog(HWND dialog) {
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
}

HWND wait_for_window(DWORD pid, std::wstring const& class_name, DWORD timeout_ms) {
    return poll_until(timeout_ms, [&]() -> HWND {
        Search search{pid, class_name};
        ::EnumWindows(find_top_level, reinterpret_cast<LPARAM>(&search));
        return search.found;
    });
}

std::wstring quoted(fs::path const& path) {
    return L"\"" + path.native() + L"\"";
}

namespace {

// "start /unix" runs a Linux program; its /wait does not always hold until the program
// has ended, so the effect is polled for.
void chattr(fs::path const& folder, wchar_t const* change) {
    std::wstring unix_path = folder.native().substr(2);  // drive Z: is the Unix root
    for (wchar_t& c : unix_path)
        if (c == L'\\') c = L'/';
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    ChildProcess(fs::path(system) / L"start.exe",
                 std::wstring(L"/wait /unix /usr/bin/chattr ") + change + L" " + quoted(fs::path(unix_path)))
        .wait(30000);
}

bool becomes_writable(fs::path const& folder, bool writable) {
    fs::path const probe = folder / L"unwritable-probe";
    return wait_until([&] {
        HANDLE const file = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return !writable;
        ::CloseHandle(file);
        ::DeleteFileW(probe.c_str());
        return writable;
    }, 10000);
}

}  // namespace

UnwritableFolder::UnwritableFolder(fs::path folder) : folder_(std::move(folder)) {
    chattr(folder_, L"+i");
    ok_ = becomes_writable(folder_, false);
}

UnwritableFolder::~UnwritableFolder() {
    chattr(folder_, L"-i");
    becomes_writable(folder_, true);
}

}  // namespace korvel::test
