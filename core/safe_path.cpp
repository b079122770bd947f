#include "core/safe_path.h"

#include "core/ascii.h"
#include "core/path_elements.h"
#include "core/utf.h"

#include <array>
#include <string>

namespace korvel {

namespace {

// Windows maps these names to devices in any folder and with any extension, so
// "data/nul.txt" would never reach a file below the game folder.
bool is_device_name(std::string_view element) {
    std::string_view base = element.substr(0, element.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    std::string const lower = ascii_lower(base);

    static constexpr std::array<std::string_view, 6> plain = {"con", "prn", "aux", "nul", "conin$", "conout$"};
    for (auto name : plain)
        if (lower == name) return true;
    if (lower.starts_with("com") || lower.starts_with("lpt")) {
        std::string_view const digit = std::string_view(lower).substr(3);
        // COM0..COM9, LPT0..LPT9 and the superscript digits that Windows also accepts.
        if ((digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') || digit == "\xC2\xB9" ||
            digit == "\xC2\xB2" || digit == "\xC2\xB3")
            return true;
    }
    return false;
}

// Every file is downloaded beside its target as name + ".korvel.part"; a listed file of
// such a name would be overwritten and removed by the download of its namesake.
bool has_download_suffix(std::string_view name) {
    constexpr std::string_view suffix = ".korvel.part";
    return name.size() >= suffix.size() && ascii_lower(name.substr(name.size() - suffix.size())) == suffix;
}

}  // namespace

bool is_safe_relative_path(std::string_view utf8_path) {
    if (utf8_path.empty() || utf8_path.size() > 4096) return false;
    utf8_to_utf16(utf8_path);  // only its verdict: invalid UTF-8 throws
    // A leading separator is a root, and a drive or a server name needs a ':' or one.
    if (is_path_separator(utf8_path.front())) return false;
    if (utf8_path.find(':') != std::string_view::npos) return false;
    if (utf8_path.find('\0') != std::string_view::npos) return false;

    // Elements Windows would not store under the name given ("." and ".." among them,
    // as they end in a dot).
    bool stored_as_named = true;
    std::string_view last;
    for_each_path_element(utf8_path, [&](std::string_view element) {
        if (element.back() == '.' || element.back() == ' ' || is_device_name(element)) stored_as_named = false;
        last = element;
    });
    return stored_as_named && !has_download_suffix(last);
}

}  // namespace korvel
