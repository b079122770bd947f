#include "core/manifest.h"

#include "core/ascii.h"
#include "core/json_number.h"
#include "core/protected_path.h"
#include "core/safe_path.h"
#include "core/url_encode.h"

#include <nlohmann/json.hpp>

#include <stdexcept>
#include <unordered_set>

namespace korvel {

using nlohmann::json;

Manifest read_manifest(std::string_view body) {
    json const doc = json::parse(body);

    Manifest manifest;
    manifest.base_url = doc.at("base_url").get<std::string>();
    if (manifest.base_url.empty()) throw std::runtime_error("A manifest base_url értéke üres.");

    // Range-for over a json value is the library's own walk: arrays and objects by their
    // elements, null as nothing, any other value as itself.
    for (json const& element : doc.at("files")) {
        FileEntry entry;
        entry.path = element.at("path").get<std::string>();
        entry.size = json_to_u64(element.at("size"));
        entry.sha256 = ascii_lower(element.at("sha256").get<std::string>());
        if (!is_safe_relative_path(entry.path) || entry.sha256.size() != 64)
            throw std::runtime_error("Érvénytelen manifest bejegyzés: " + entry.path);
        if (!is_protected_path(entry.path)) manifest.files.push_back(std::move(entry));
    }

    if (auto const deletes = doc.find("delete"); deletes != doc.end()) {
        // A delete entry that Windows resolves to a listed file (another letter case, a
        // backslash, a trailing dot ...) would remove the file just patched, on every
        // run, while the run reports success. A release that only renames a file's
        // letter case lists exactly that.
        std::unordered_set<std::string> listed;
        for (FileEntry const& entry : manifest.files) listed.insert(windows_name_key(entry.path));
        for (json const& element : *deletes) {
            std::string path = element.get<std::string>();
            if (!is_safe_relative_path(path)) throw std::runtime_error("Érvénytelen törlési útvonal: " + path);
            if (is_protected_path(path) || listed.contains(windows_name_key(path))) continue;
            manifest.deletes.push_back(std::move(path));
        }
    }
    return manifest;
}

std::string build_file_url(std::string_view base_url, std::string_view path) {
    while (!base_url.empty() && base_url.back() == '/') base_url.remove_suffix(1);
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    return std::string(base_url) + "/" + url_encode_path(path);
}

}  // namespace korvel
