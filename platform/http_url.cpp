#include "platform/http.h"

#include "platform/text.h"

#include <stdexcept>

namespace korvel {

ParsedUrl parse_url(std::string const& url) {
    std::wstring const wide = utf8_to_wide(url);

    // Lengths of -1 ask for pointers into `wide`; user name and password stay 0, so
    // credentials written into a URL are never looked at.
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    // Flags 0: no decoding or escaping, the path goes out exactly as written.
    if (!::WinHttpCrackUrl(wide.c_str(), static_cast<DWORD>(wide.size()), 0, &parts))
        throw std::runtime_error("Invalid URL: " + url);

    ParsedUrl parsed;
    if (parts.lpszHostName) parsed.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    if (parts.lpszUrlPath) parsed.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo) parsed.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (parsed.path.empty()) parsed.path = L"/";
    parsed.port = parts.nPort;
    parsed.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return parsed;
}

}  // namespace korvel
