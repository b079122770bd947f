#include "publisher/path_rules.h"

#include "core/protected_path.h"
#include "core/safe_path.h"

#include <map>

namespace korvel {

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
