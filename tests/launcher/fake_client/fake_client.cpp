// Stands in for the game client (and for a new launcher started by Swapnik): records how
// it was started, then ends. Each start writes "starts/<pid>-<started>.txt" beside the
// executable (Wine hands a finished process's id to the next one at once, so the id alone
// would let a second start replace the first one's record while a reader lists them),
// made complete under a temporary name first so that a reader never sees half a record:
//   command_line=<GetCommandLineW>
//   folder=<current folder>
//   started=<FILETIME of the start, decimal>
// With "--linger" anywhere on its command line it stays running until it is terminated.

#include <windows.h>

#include <cstdint>
#include <cwchar>
#include <string>

namespace {

std::string utf8(std::wstring const& wide) {
    int const n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr,
                                        nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), n, nullptr, nullptr);
    return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    FILETIME now{};
    ::GetSystemTimePreciseAsFileTime(&now);
    std::uint64_t const started = (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;

    wchar_t module[MAX_PATH * 4] = {};
    ::GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    std::wstring folder_of_exe = module;
    folder_of_exe.erase(folder_of_exe.find_last_of(L"\\/"));
    wchar_t current[MAX_PATH * 4] = {};
    ::GetCurrentDirectoryW(MAX_PATH * 4, current);

    std::wstring const command_line = ::GetCommandLineW();
    std::string const record = "command_line=" + utf8(command_line) + "\nfolder=" + utf8(current) +
                               "\nstarted=" + std::to_string(started) + "\n";

    std::wstring const starts = folder_of_exe + L"\\starts";
    ::CreateDirectoryW(starts.c_str(), nullptr);
    std::wstring const name =
        starts + L"\\" + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(started);
    std::wstring const temp = name + L".part";
    HANDLE const file = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    ::WriteFile(file, record.data(), static_cast<DWORD>(record.size()), &written, nullptr);
    ::CloseHandle(file);
    ::MoveFileExW(temp.c_str(), (name + L".txt").c_str(), MOVEFILE_REPLACE_EXISTING);

    if (command_line.find(L"--linger") != std::wstring::npos) ::Sleep(INFINITE);
    return 0;
}
