#include "patcher/write_whole_file.h"

#include "platform/unique_handle.h"

#include <windows.h>

#include <algorithm>

namespace korvel {

WriteStatus write_whole_file(std::filesystem::path const& path, std::string_view bytes) {
    UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
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

}  // namespace korvel
