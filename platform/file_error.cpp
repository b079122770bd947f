#include "platform/file_error.h"

#include "platform/files.h"
#include "platform/text.h"

namespace korvel {

namespace {

// Not in every MinGW header set.
constexpr DWORD error_user_mapped_file = 1224;

std::string shown(std::filesystem::path const& path) {
    try {
        return path_text(path);
    } catch (std::exception const&) {
        return wide_to_utf8(std::wstring(path.native().size(), L'?'));
    }
}

std::string held_text(std::filesystem::path const& file) {
    return "A fájlt egy másik program használja (a játék bezárása után próbálja újra): " + shown(file);
}

}  // namespace

std::string unwritable_folder_text(std::filesystem::path const& folder) {
    return "A játék mappája nem írható: " + shown(folder);
}

FileError file_error(FileStep step, std::filesystem::path const& file, std::string const& fallback, DWORD code) {
    std::filesystem::path const folder = file.parent_path();
    switch (code) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return FileError("Nincs elég szabad hely a lemezen: " + shown(folder), code, true);
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case error_user_mapped_file:
        return FileError(held_text(file), code, false);
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        // A move's part was created beside its target, so the folder can be written:
        // the target itself refuses, as a running program's file does.
        if (step == FileStep::replace)
            return FileError(held_text(file), code, false);
        // A folder standing under the file's own name refuses the same way.
        if (DWORD const attributes = ::GetFileAttributesW(win32_path(file).c_str());
            attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
            break;
        return FileError(unwritable_folder_text(folder), code, true);
    default:
        break;
    }
    return FileError(fallback + " | Win32=" + std::to_string(code), code, false);
}

}  // namespace korvel
