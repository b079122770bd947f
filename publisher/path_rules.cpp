#include "publisher/path_rules.h"

#include "core/protected_path.h"
#include "core/safe_path.h"

#include <map>

namespace korvel {

namespace {

// Windows counts names in UTF-16 units: a name of more than 255 cannot exist on its file
// systems, and a path longer than max_release_path_units leaves too little room for the
// player's game folder within the 260 characters that programs which are not long-path
// aware (the game client among them) can open.
std::string length_problem(std::string_view utf8_path) {
    std::size_t element = 0, total = 0;
    for (std::size_t i = 0; i <= utf8_path.size(); ++i) {
        if (i == utf8_path.size() || utf8_path[i] == '/') {
            if (element > 255) return "a name longer than the 255 UTF-16 units Windows file names may have";
            element = 0;
            ++total;
            continue;
        }
        auto const c = static_cast<unsigned char>(utf8_path[i]);
        // A four-byte sequence is two UTF-16 units; continuation bytes add none.
        std::size_t const units = (c & 0xC0) == 0x80 ? 0 : c >= 0xF0 ? 2 : 1;
        element += units;
        total += units;
    }
    if (total - 1 > max_release_path_units)
        return "a path longer than " + std::to_string(max_release_path_units) +
               " UTF-16 units, which leaves a player's game folder too little room in a Windows path";
    return {};
}

}  // namespace

std::string publish_path_problem(std::string_view utf8_path) {
    try {
        if (!is_safe_relative_path(utf8_path))
            return "not a safe relative path (absolute, \".\"/\"..\", \":\", a device name or a trailing dot or space)";
    } catch (std::exception const&) {
        return "not valid UTF-8";
    }
    // Characters no Windows file name may hold: the launcher could never create the file.
    for (unsigned char c : utf8_path)
        if (c < 0x20 || std::string_view("<>\"|?*").find(static_cast<char>(c)) != std::string_view::npos)
            return "a character that Windows file names cannot hold";
    if (std::string const why = length_problem(utf8_path); !why.empty()) return why;
    if (is_protected_path(utf8_path)) return "a protected path the launcher never writes";
    std::string const key = windows_name_key(utf8_path);
    // The launcher downloads every file to its name + ".korvel.part" first: a listed
    // file of that name would be overwritten by another file's download.
    if (key.ends_with(".KORVEL.PART")) return "ends in the launcher's temporary suffix \".korvel.part\"";
    // The launcher keeps its hash cache and client version in ".korvel" and stages its
    // own update in ".korvel_update"; a game file there would fight them on every run.
    if (is_launcher_state_path(utf8_path)) return "inside the launcher's own state folder";
    return {};
}

std::vector<std::string> case_collisions(std::vector<std::string> const& paths) {
    std::map<std::string, std::string> files;    // key -> first path with it
    std::map<std::string, std::string> folders;  // key of every parent folder -> a path below it
    std::vector<std::string> lines;
    for (std::string const& path : paths) {
        std::string const key = windows_name_key(path);
        auto const [it, added] = files.emplace(key, path);
        if (!added) lines.push_back(path + " and " + it->second + " differ only in letter case");
        for (std::size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1))
            folders.emplace(key.substr(0, slash), path);
    }
    for (auto const& [key, path] : files)
        if (auto const folder = folders.find(key); folder != folders.end())
            lines.push_back(path + " is a file, but " + folder->second + " needs a folder of that name");
    return lines;
}

}  // namespace korvel
