// Swapnik: replaces the launcher's executable with a downloaded new one once the
// launcher has ended, then starts it again. Its whole interface is the command line
//   Swapnik.exe <launcher pid> "<launcher path>" "<new file path>"
// and the exit code: 0 replaced and restarted, 1 bad command line, 2 replacement failed,
// 3 replaced but the restart failed. After a failed replacement the old launcher is
// started again. It talks to the user only in message boxes: every
// code but 0 comes with one.

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <filesystem>
#include <string>

namespace {

constexpr wchar_t const* k_title = L"Swapnik";
constexpr DWORD k_wait_for_launcher_ms = 30000;
constexpr int k_replace_attempts = 20;
constexpr DWORD k_retry_pause_ms = 500;
// ERROR_DIRECTORY_NOT_SUPPORTED, "An operation is not supported on a directory", which
// MinGW's headers lack.
constexpr DWORD k_error_directory_not_supported = 336;

struct Arguments {
    DWORD launcher_pid = 0;
    std::wstring target;  // the launcher executable to replace and restart
    std::wstring source;  // the downloaded new executable
};

void show_error(std::wstring const& text) {
    ::MessageBoxW(nullptr, text.c_str(), k_title, MB_OK | MB_ICONERROR);
}

bool read_arguments(Arguments& out) {
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (!argv) return false;
    bool const complete = count >= 4;
    if (complete) {
        // Like wcstoul everywhere: leading blanks and a sign allowed, no digits gives 0.
        out.launcher_pid = static_cast<DWORD>(std::wcstoul(argv[1], nullptr, 10));
        out.target = argv[2];
        out.source = argv[3];
    }
    ::LocalFree(argv);
    return complete;
}

// Waits until the launcher has ended and let go of its executable, at most 30 s. A
// process that cannot be opened has already ended (or never was): nothing to wait for.
void wait_for_launcher(DWORD pid) {
    if (pid == 0) return;
    HANDLE const process = ::OpenProcess(SYNCHRONIZE, FALSE, pid);
    if (!process) return;
    ::WaitForSingleObject(process, k_wait_for_launcher_ms);
    ::CloseHandle(process);
}

// Another volume: a move cannot cross it, so the new file is first copied next to the
// target under a temporary name and flushed to disk, and that copy is moved over the
// target within its own volume. The launcher file is thus always either the old or the
// new program, never a half-written one. The copy is removed again on failure.
bool replace_across_volumes(Arguments const& args) {
    std::wstring const temporary = args.target + L".swapnik.tmp";
    bool replaced = false;
    if (::CopyFileW(args.source.c_str(), temporary.c_str(), FALSE)) {
        HANDLE const copy = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        bool const flushed = copy != INVALID_HANDLE_VALUE && ::FlushFileBuffers(copy);
        if (copy != INVALID_HANDLE_VALUE) ::CloseHandle(copy);
        replaced = flushed && ::MoveFileExW(temporary.c_str(), args.target.c_str(),
                                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (replaced) {
        // As after a move, the downloaded file is gone; a failure here is harmless.
        ::DeleteFileW(args.source.c_str());
        return true;
    }
    ::DeleteFileW(temporary.c_str());
    return false;
}

// Windows refuses to replace a read-only file, and a launcher copied from a disc or an
// archive may carry that attribute: it is cleared before each attempt. Nothing else of
// the file changes.
void make_replaceable(std::wstring const& target) {
    DWORD const attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(target.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
}

// The file may stay locked for a moment after the launcher's process has ended (a virus
// scanner, a slow shutdown), so the replacement is retried for about ten seconds. `error`
// is the move's own code: the copy fallback's calls would name another failure.
bool replace_launcher(Arguments const& args, DWORD& error) {
    for (int attempt = 0; attempt < k_replace_attempts; ++attempt) {
        make_replaceable(args.target);
        if (::MoveFileExW(args.source.c_str(), args.target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        error = ::GetLastError();
        if (error == ERROR_NOT_SAME_DEVICE && replace_across_volumes(args)) return true;
        ::Sleep(k_retry_pause_ms);
    }
    return false;
}

// A folder given as the new launcher would be moved over the launcher's file like any
// file; only a plain file is a launcher. Nothing there at all is left to the move, whose
// code says so.
bool source_is_a_folder(std::wstring const& source) {
    DWORD const attributes = ::GetFileAttributesW(source.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// ERROR_SUCCESS once the launcher is started, else the reason.
DWORD restart_launcher(std::wstring const& target) {
    std::wstring const folder = std::filesystem::path(target).parent_path().native();
    ::SetLastError(ERROR_SUCCESS);
    auto const result = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", target.c_str(), nullptr, folder.c_str(), SW_SHOWNORMAL));
    if (result > 32) return ERROR_SUCCESS;
    DWORD const error = ::GetLastError();
    // The shell's own result codes below 32 are Win32 codes too (2 not found, 5 denied...).
    return error != ERROR_SUCCESS ? error : static_cast<DWORD>(result == 0 ? ERROR_OUTOFMEMORY : result);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Arguments args;
    if (!read_arguments(args)) {
        show_error(L"Hibás launcher frissítési paraméterek.");
        return 1;
    }
    wait_for_launcher(args.launcher_pid);

    DWORD error = ERROR_SUCCESS;
    if (source_is_a_folder(args.source)) {
        error = k_error_directory_not_supported;
    } else if (replace_launcher(args, error)) {
        error = restart_launcher(args.target);
        if (error == ERROR_SUCCESS) return 0;
        show_error(L"A launcher frissült, de nem sikerült elindítani.\nWin32: " + std::to_wstring(error));
        return 3;
    }
    show_error(L"Nem sikerült lecserélni a launchert.\nWin32: " + std::to_wstring(error));
    // The old launcher is still whole: started again, it tells the player once that its
    // update failed and lets the game be played. Without it the player has none.
    restart_launcher(args.target);
    return 2;
}
