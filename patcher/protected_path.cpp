#include "patcher/protected_path.h"

#include <string>
#include <vector>

namespace korvel {

namespace {

// Windows compares names by upper-casing both. Besides ASCII, two lower-case letters
// upper-case to ASCII letters of the protected names: dotless i (U+0131) to "I" and long
// s (U+017F) to "S"; "davar\u0131.exe" would open the launcher itself.
std::string fold_case(std::string_view path) {
    std::string out;
    out.reserve(path.size());
    for (size_t i = 0; i < path.size(); ++i) {
        char const c = path[i];
        if (c >= 'A' && c <= 'Z') {
            out.push_back(static_cast<char>(c - 'A' + 'a'));
        } else if (path.substr(i, 2) == "\xC4\xB1") {
            out.push_back('i');
            ++i;
        } else if (path.substr(i, 2) == "\xC5\xBF") {
            out.push_back('s');
            ++i;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The names Windows would look up, in order: trailing dots and spaces are stripped from
// every element, and what is left empty (doubled separators, ".") names nothing.
std::vector<std::string> elements_of(std::string const& path) {
    std::vector<std::string> elements;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of("/\\", start);
        if (end == std::string::npos) end = path.size();
        std::string element = path.substr(start, end - start);
        while (!element.empty() && (element.back() == '.' || element.back() == ' ')) element.pop_back();
        if (!element.empty()) elements.push_back(std::move(element));
        start = end + 1;
    }
    return elements;
}

}  // namespace

bool is_protected_path(std::string_view utf8_path) {
    std::vector<std::string> const elements = elements_of(fold_case(utf8_path));
    if (elements.empty()) return false;
    if (elements.front() == "userdata") return true;
    if (elements.size() != 1) return false;
    std::string const& name = elements.front();
    return name == "davari.exe" || name == "zivur2.cfg" || name == "mouse.cfg";
}

}  // namespace korvel
