#include "platform/files.h"

#include "platform/text.h"
#include "platform/unique_handle.h"
#include "platform/win32_error.h"

#include <windows.h>

#include <array>
#include <charconv>
#include <cwctype>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace korvel {

namespace {

std::string path_text(fs::path const& p) {
    return wide_to_utf8(p.native());
}

bool is_separator(wchar_t c) {
    return c == L'/' || c == L'\\';
}

// Windows maps these names to devices in any folder and with any extension, so
// "data/nul.txt" would never reach a file below the game folder.
bool is_device_name(std::wstring_view element) {
    std::wstring_view base = element.substr(0, element.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.remove_suffix(1);
    std::wstring lower;
    for (wchar_t c : base) lower.push_back(static_cast<wchar_t>(std::towlower(c)));

    static constexpr std::array<std::wstring_view, 6> plain = {L"con", L"prn", L"aux", L"nul", L"conin$", L"conout$"};
    for (auto name : plain)
        if (lower == name) return true;
    if (lower.size() == 4 && (lower.starts_with(L"com") || lower.starts_with(L"lpt"))) {
        wchar_t const digit = lower[3];
        // COM0..COM9, LPT0..LPT9 and the superscript digits that Windows also accepts.
        if ((digit >= L'0' && digit <= L'9') || digit == L'\u00b9' || digit == L'\u00b2' || digit == L'\u00b3')
            return true;
    }
    return false;
}

// Every file is downloaded beside its target as name + ".korvel.part"; a listed file of
// such a name would be overwritten and removed by the download of its namesake.
bool has_download_suffix(std::wstring_view name) {
    constexpr std::wstring_view suffix = L".korvel.part";
    if (name.size() < suffix.size()) return false;
    std::wstring_view const tail = name.substr(name.size() - suffix.size());
    for (size_t i = 0; i < suffix.size(); ++i) {
        wchar_t const c = tail[i] >= L'A' && tail[i] <= L'Z' ? static_cast<wchar_t>(tail[i] - L'A' + L'a') : tail[i];
        if (c != suffix[i]) return false;
    }
    return true;
}

}  // namespace

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
        if (!::FlushFileBuffers(file.get())) throw win32_error(failure);
        file.reset();
    }

    if (!::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw win32_error(failure);
}

void move_file_replacing(fs::path const& source, fs::path const& target) {
    if (!::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DWORD const code = ::GetLastError();
        throw win32_error("Cannot replace file (close the game and try again): " + path_text(target), code);
    }
}

bool is_safe_relative_path(std::string_view utf8_path) {
    if (utf8_path.empty() || utf8_path.size() > 4096) return false;
    std::wstring const wide = utf8_to_wide(utf8_path);
    fs::path const p(wide);
    if (p.is_absolute() || p.has_root_name() || p.has_root_directory()) return false;
    for (auto const& element : p) {
        auto const& name = element.native();
        if (name == L"." || name == L"..") return false;
    }
    if (utf8_path.find(':') != std::string_view::npos) return false;
    if (utf8_path.find('\0') != std::string_view::npos) return false;

    // Elements Windows would not store under the name given.
    std::wstring_view last;
    size_t start = 0;
    while (start <= wide.size()) {
        size_t end = start;
        while (end < wide.size() && !is_separator(wide[end])) ++end;
        std::wstring_view const element(wide.data() + start, end - start);
        if (!element.empty()) {
            if (element.back() == L'.' || element.back() == L' ') return false;
            if (is_device_name(element)) return false;
            last = element;
        }
        start = end + 1;
    }
    return !has_download_suffix(last);
}

std::string format_bytes(double bytes) {
    static constexpr std::array<char const*, 5> units = {"B", "KB", "MB", "GB", "TB"};
    double value = bytes;
    size_t unit = 0;
    while (value >= 1024.0 && unit + 1 < units.size()) {
        value /= 1024.0;
        ++unit;
    }
    std::array<char, 64> text{};
    int const decimals = bytes >= 1024.0 ? 1 : 0;
    auto const result = std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed, decimals);
    return std::string(text.data(), result.ptr) + " " + units[unit];
}

}  // namespace korvel
