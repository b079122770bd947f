#include "core/protected_path.h"

#include "core/ascii.h"
#include "core/name_key.h"
#include "core/path_elements.h"
#include "core/utf.h"

#include <stdexcept>
#include <string>
#include <vector>

namespace korvel {

namespace {

// Windows compares names by upper-casing both with one fixed table, whatever the player's
// language (so no Turkish dotted I). The file system's table also takes two non-ASCII
// letters to ASCII ones, dotless i (U+0131) to "I" and long s (U+017F) to "S", so
// "davar\u0131.exe" would open the launcher itself; not every locale-free upper-casing
// maps those two (Wine's does not), so they are mapped first. Bytes that are not UTF-8
// reach no file under another name; only their ASCII letters are folded.
std::string fold_case(std::string_view path) {
    std::string mapped;
    bool ascii = true;
    for (size_t i = 0; i < path.size(); ++i) {
        std::string_view const pair = path.substr(i, 2);
        if (pair == "\xC4\xB1" || pair == "\xC5\xBF") {
            mapped.push_back(pair == "\xC4\xB1" ? 'I' : 'S');
            ++i;
            continue;
        }
        ascii = ascii && static_cast<unsigned char>(path[i]) < 0x80;
        mapped.push_back(path[i]);
    }
    if (ascii) return ascii_upper(mapped);
    std::u16string wide;
    try {
        wide = utf8_to_utf16(mapped);
    } catch (std::runtime_error const&) {
        return ascii_upper(mapped);
    }
    return utf16_to_utf8(upper_case_key(wide));
}

// The names Windows would look up, in order: trailing dots and spaces are stripped from
// every element, and what is left empty (doubled separators, ".") names nothing.
std::vector<std::string> elements_of(std::string_view path) {
    std::vector<std::string> elements;
    for_each_path_element(path, [&](std::string_view element) {
        while (!element.empty() && (element.back() == '.' || element.back() == ' ')) element.remove_suffix(1);
        if (!element.empty()) elements.emplace_back(element);
    });
    return elements;
}

}  // namespace

std::string windows_name_key(std::string_view utf8_path) {
    std::string key;
    for (std::string const& element : elements_of(fold_case(utf8_path))) {
        if (!key.empty()) key.push_back('/');
        key += element;
    }
    return key;
}

bool is_protected_path(std::string_view utf8_path) {
    std::vector<std::string> const elements = elements_of(fold_case(utf8_path));
    if (elements.empty()) return false;
    if (elements.front() == "USERDATA") return true;
    if (elements.size() != 1) return false;
    std::string const& name = elements.front();
    return name == "DAVARI.EXE" || name == "ZIVUR2.CFG" || name == "MOUSE.CFG";
}

bool is_launcher_state_path(std::string_view utf8_path) {
    std::vector<std::string> const elements = elements_of(fold_case(utf8_path));
    return !elements.empty() && (elements.front() == ".KORVEL" || elements.front() == ".KORVEL_UPDATE");
}

}  // namespace korvel
