#include "publisher/path_rules.h"

#include "patcher/protected_path.h"
#include "platform/files.h"
#include "platform/text.h"

#include <windows.h>

#include <map>

namespace korvel {

namespace {

bool ends_with(std::wstring const& key, std::wstring_view suffix) {
    return key.size() >= suffix.size() && key.compare(key.size() - suffix.size(), suffix.size(), suffix) == 0;
}

}  // namespace

std::wstring windows_name_key(std::string_view utf8_path) {
    std::wstring key = utf8_to_wide(utf8_path);
    for (wchar_t& c : key)
        if (c == L'\\') c = L'/';
    if (key.empty()) return key;
    // The invariant upper-casing is what NTFS's own case table does for every letter a
    // release is likely to hold, Hungarian accents included.
    std::wstring upper(key.size(), L'\0');
    int const n = ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, key.c_str(), static_cast<int>(key.size()),
                                  upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (n == static_cast<int>(upper.size())) return upper;
    for (wchar_t& c : key)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return key;
}

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
    std::wstring const key = windows_name_key(utf8_path);
    // The launcher downloads every file to its name + ".korvel.part" first: a listed
    // file of that name would be overwritten by another file's download.
    if (ends_with(key, L".KORVEL.PART")) return "ends in the launcher's temporary suffix \".korvel.part\"";
    // The launcher keeps its hash cache and client version in ".korvel" and stages its
    // own update in ".korvel_update"; a game file there would fight them on every run.
    std::wstring_view const first = std::wstring_view(key).substr(0, key.find(L'/'));
    if (first == L".KORVEL" || first == L".KORVEL_UPDATE") return "inside the launcher's own state folder";
    return {};
}

std::vector<std::string> case_collisions(std::vector<std::string> const& paths) {
    std::map<std::wstring, std::string> files;    // key -> first path with it
    std::map<std::wstring, std::string> folders;  // key of every parent folder -> a path below it
    std::vector<std::string> lines;
    for (std::string const& path : paths) {
        std::wstring key = windows_name_key(path);
        while (!key.empty() && key.back() == L'/') key.pop_back();
        auto const [it, added] = files.emplace(key, path);
        if (!added) lines.push_back(path + " and " + it->second + " differ only in letter case");
        for (std::size_t slash = key.find(L'/'); slash != std::wstring::npos; slash = key.find(L'/', slash + 1))
            folders.emplace(key.substr(0, slash), path);
    }
    for (auto const& [key, path] : files)
        if (auto const folder = folders.find(key); folder != folders.end())
            lines.push_back(path + " is a file, but " + folder->second + " needs a folder of that name");
    return lines;
}

}  // namespace korvel
