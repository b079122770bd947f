#include "platform/write_whole_file.h"

#include "platform/files.h"
#include "platform/unique_handle.h"

#include <windows.h>

#include <algorithm>
#include <system_error>

namespace korvel {

WriteStatus write_whole_file(std::filesystem::path const& path, std::string_view bytes) {
    UniqueFile file(::CreateFileW(win32_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return WriteStatus::not_opened;

    while (!bytes.empty()) {
        DWORD const chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
        DWORD written = 0;
        if (!::WriteFile(file.get(), bytes.data(), chunk, &written, nullptr) || written == 0)
            return WriteStatus::write_failed;
        bytes.remove_prefix(written);
    }
    // Closing is where some file systems report a deferred write error.
    if (!::CloseHandle(file.release())) return WriteStatus::write_failed;
    return WriteStatus::written;
}

bool write_file_replacing(std::filesystem::path const& path, std::string_view bytes) {
    std::filesystem::path temporary = path;
    temporary += L".tmp";
    auto const discard_temporary = [&] {
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    };
    switch (write_whole_file(temporary, bytes)) {
        case WriteStatus::written:
            break;
        case WriteStatus::not_opened:  // whatever stands there (even a folder) is not ours to remove
            return false;
        case WriteStatus::write_failed:
            discard_temporary();
            return false;
    }
    try {
        replace_file(temporary, path);
    } catch (...) {
        discard_temporary();
        throw;
    }
    return true;
}

}  // namespace korvel
