#include "platform/files.h"

#include "platform/file_error.h"
#include "platform/text.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"

#include <windows.h>

#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace korvel {

fs::path exe_path() {
    std::wstring buffer(32768, L'\0');
    DWORD const n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) {
        // A full buffer is a cut-off name; Windows sets ERROR_INSUFFICIENT_BUFFER then.
        DWORD const code = last_error_of_failure();
        throw Win32Error::keeping_text("GetModuleFileNameW failed", code);
    }
    buffer.resize(n);
    return fs::path(buffer);
}

fs::path win32_path(fs::path const& path) {
    std::wstring const& text = path.native();
    if (text.starts_with(L"\\\\?\\") || text.starts_with(L"\\\\.\\")) return path;
    auto const separator = [](wchar_t c) { return c == L'\\' || c == L'/'; };
    if (text.size() > 2 && separator(text[0]) && separator(text[1]))  // \\server\share\...
        return fs::path(L"\\\\?\\UNC\\" + fs::path(text.substr(2)).lexically_normal().native());
    if (!path.is_absolute()) return path;
    return fs::path(L"\\\\?\\" + path.lexically_normal().native());
}

namespace {

bool attributes_of(fs::path const& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    return ::GetFileAttributesExW(win32_path(path).c_str(), GetFileExInfoStandard, &data) != FALSE;
}

constexpr DWORD not_a_plain_file = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

// A link is judged by what it points to, which only the library's status follows.
bool linked_regular_file(fs::path const& path) {
    std::error_code ec;
    return fs::is_regular_file(fs::status(path, ec)) && !ec;
}

}  // namespace

bool is_regular_file_at(fs::path const& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!attributes_of(path, data)) return false;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return linked_regular_file(path);
    return !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

void make_replaceable(fs::path const& target) {
    fs::path const call_path = win32_path(target);
    DWORD const attributes = ::GetFileAttributesW(call_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(call_path.c_str(), attributes & ~DWORD{FILE_ATTRIBUTE_READONLY});
}

bool remove_file(fs::path const& path) noexcept {
    try {
        make_replaceable(path);
        return ::DeleteFileW(win32_path(path).c_str()) != FALSE;
    } catch (...) {
        return false;
    }
}

bool remove_empty_folder(fs::path const& folder) noexcept {
    try {
        return ::RemoveDirectoryW(win32_path(folder).c_str()) != FALSE;
    } catch (...) {
        return false;
    }
}

std::uint64_t file_size(fs::path const& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    bool const found = attributes_of(path, data);
    // Taken before the library's calls below can set the thread's last error again.
    DWORD const code = found ? DWORD{ERROR_SUCCESS} : last_error_of_failure();
    if (found && !(data.dwFileAttributes & not_a_plain_file))
        return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (linked_regular_file(path)) {
        std::error_code ec;
        auto const size = fs::file_size(path, ec);
        if (!ec) return size;
    }
    std::string const text = "Cannot read file size: " + path_text(path);
    if (!found) throw Win32Error::keeping_text(text, code);
    throw std::runtime_error(text);  // a folder, or a link to one: no call failed
}

std::uint64_t file_mtime(fs::path const& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!attributes_of(path, data)) {
        DWORD const code = last_error_of_failure();
        throw Win32Error::keeping_text("Cannot read modified time: " + path_text(path), code);
    }
    return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

namespace {

// ERROR_SUCCESS once `folder` and every folder above it exist, else the failing call's code.
DWORD make_folders(fs::path const& folder) {
    fs::path const call_path = win32_path(folder);
    DWORD const attributes = ::GetFileAttributesW(call_path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_SUCCESS : DWORD{ERROR_ALREADY_EXISTS};
    fs::path const parent = folder.parent_path();
    if (!parent.empty() && parent != folder)
        if (DWORD const code = make_folders(parent); code != ERROR_SUCCESS) return code;
    if (::CreateDirectoryW(call_path.c_str(), nullptr)) return ERROR_SUCCESS;
    DWORD const code = last_error_of_failure();
    // Another thread may have made it in between.
    DWORD const now = ::GetFileAttributesW(call_path.c_str());
    if (now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY)) return ERROR_SUCCESS;
    return code;
}

}  // namespace

void ensure_parent_dir(fs::path const& path) {
    fs::path const parent = path.lexically_normal().parent_path();
    if (parent.empty()) return;
    DWORD const code = make_folders(parent);
    if (code == ERROR_SUCCESS) return;
    std::string const text = "Cannot create directory: " + path_text(path.parent_path());
    FileError const error = file_error(FileStep::create, parent, text, code);
    if (error.lasting()) throw error;
    throw Win32Error::keeping_text(text, code);
}

void replace_file(fs::path const& source, fs::path const& target) {
    ensure_parent_dir(target);
    std::string const failure = "Cannot replace file (close the game and try again): " + path_text(target);

    // A same-volume rename is only a directory update: MOVEFILE_WRITE_THROUGH does not
    // flush the file's data. Without this flush a power loss can leave the target at its
    // full size but filled with zeros, which the size-and-time cache would then trust.
    // A source that cannot be opened is left for MoveFileExW to report.
    UniqueFile file(::CreateFileW(win32_path(source).c_str(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        if (!::FlushFileBuffers(file.get())) throw_last_error(failure.c_str());
        file.reset();
    }

    make_replaceable(target);
    if (!::MoveFileExW(win32_path(source).c_str(), win32_path(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw_last_error(failure.c_str());
}

void move_file_replacing(fs::path const& source, fs::path const& target) {
    make_replaceable(target);
    if (!::MoveFileExW(win32_path(source).c_str(), win32_path(target).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD const code = ::GetLastError();
        throw Win32Error("Cannot replace file (close the game and try again): " + path_text(target), code);
    }
}

namespace {

constexpr int held_target_tries = 5;
constexpr DWORD held_target_pause_ms = 200;

bool held_by_another_program(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED;
}

bool is_folder(fs::path const& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return attributes_of(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void place_download(fs::path const& source, fs::path const& target) {
    DWORD code = ERROR_SUCCESS;
    for (int attempt = 1; attempt <= held_target_tries; ++attempt) {
        try {
            move_file_replacing(source, target);
            return;
        } catch (Win32Error const& e) {
            code = e.code();
        }
        if (!held_by_another_program(code) || attempt == held_target_tries) break;
        // A folder where the file should be is the player's, not a lock that passes.
        if (is_folder(target)) break;
        ::Sleep(held_target_pause_ms);
    }
    std::string const text = "Cannot replace file (close the game and try again): " + path_text(target);
    if (is_folder(target)) throw FileError(text + " | Win32=" + std::to_string(code), code, true);
    throw file_error(FileStep::replace, target, text, code);
}

}  // namespace korvel
