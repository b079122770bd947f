#include "platform/files.h"

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
    if (n == 0 || n >= buffer.size()) throw std::runtime_error("GetModuleFileNameW failed");
    buffer.resize(n);
    return fs::path(buffer);
}

std::uint64_t file_size(fs::path const& path) {
    std::error_code ec;
    auto const st = fs::status(path, ec);
    if (!ec && fs::is_regular_file(st)) {
        auto const size = fs::file_size(path, ec);
        if (!ec) return size;
    }
    throw std::runtime_error("Cannot read file size: " + path_text(path));
}

std::uint64_t file_mtime(fs::path const& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        throw std::runtime_error("Cannot read modified time: " + path_text(path));
    return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
           data.ftLastWriteTime.dwLowDateTime;
}

void ensure_parent_dir(fs::path const& path) {
    fs::path const parent = path.parent_path();
    if (parent.empty()) return;
    std::error_code ec;
    fs::create_directories(parent, ec);
    if (ec || !fs::is_directory(parent, ec))
        throw std::runtime_error("Cannot create directory: " + path_text(parent));
}

void replace_file(fs::path const& source, fs::path const& target) {
    ensure_parent_dir(target);
    std::string const failure = "Cannot replace file (close the game and try again): " + path_text(target);

    // A same-volume rename is only a directory update: MOVEFILE_WRITE_THROUGH does not
    // flush the file's data. Without this flush a power loss can leave the target at its
    // full size but filled with zeros, which the size-and-time cache would then trust.
    // A source that cannot be opened is left for MoveFileExW to report.
    UniqueFile file(::CreateFileW(source.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file) {
        if (!::FlushFileBuffers(file.get())) throw_last_error(failure.c_str());
        file.reset();
    }

    if (!::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw_last_error(failure.c_str());
}

void move_file_replacing(fs::path const& source, fs::path const& target) {
    if (!::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD const code = ::GetLastError();
        throw Win32Error("Cannot replace file (close the game and try again): " + path_text(target), code);
    }
}

}  // namespace korvel
