#include "publisher/host.h"

#include "core/user_agent.h"
#include "platform/http.h"
#include "platform/text.h"
#include "platform/win32_error.h"
#include "platform/write_whole_file.h"

#include <windows.h>

namespace korvel {

std::string native_text(NativeString const& text) {
    return wide_to_utf8(text);
}

std::filesystem::path path_from_utf8(std::string_view utf8) {
    return std::filesystem::path(utf8_to_wide(utf8));
}

void move_into_place(std::filesystem::path const& from, std::filesystem::path const& to) {
    if (!::MoveFileExW(from.c_str(), to.c_str(), 0)) {
        DWORD const code = ::GetLastError();
        throw Win32Error("Cannot move " + path_text(from) + " to " + path_text(to), code);
    }
}

bool write_new_file(std::filesystem::path const& path, std::string_view bytes) {
    return write_whole_file(path, bytes) == WriteStatus::written;
}

bool write_document(std::filesystem::path const& path, std::string_view bytes) {
    return write_file_replacing(path, bytes);
}

void check_url(std::string const& url) {
    parse_url(url);
}

std::string fetch_document(std::string const& url, std::uint64_t max_bytes) {
    return http_get(launcher_user_agent, url, max_bytes);
}

}  // namespace korvel
