#include "patcher/hash_cache.h"

#include "core/ascii.h"
#include "core/json_document.h"
#include "core/json_number.h"
#include "core/protected_path.h"
#include "core/read_file.h"
#include "platform/files.h"
#include "platform/write_whole_file.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <stdexcept>

namespace korvel {

namespace {

using nlohmann::json;

CacheEntry read_entry(json const& value) {
    if (!value.is_object()) throw std::runtime_error("hash cache entry is not an object");
    CacheEntry entry;
    if (auto const it = value.find("size"); it != value.end()) entry.size = json_to_u64(*it);
    if (auto const it = value.find("modified"); it != value.end()) entry.modified = json_to_u64(*it);
    if (auto const it = value.find("sha256"); it != value.end()) entry.sha256 = ascii_lower(it->get<std::string>());
    return entry;
}

// Throws on any malformed content; the caller turns that into an empty cache. A cache
// of 100,000 files would be a tree of half a million JSON values: each entry is taken
// into the cache as soon as it is parsed and left out of the tree.
HashCache parse_cache(std::string const& text) {
    HashCache cache;
    bool top_is_object = false;
    std::string key;
    json const doc = parse_json_document(text, [&](int depth, json::parse_event_t event, json& parsed) {
        using E = json::parse_event_t;
        if (depth == 0 && event == E::object_start) top_is_object = true;
        if (depth != 1 || !top_is_object) return true;
        if (event == E::key) {
            key = parsed.get<std::string>();
        } else if (event == E::object_end) {
            cache[key] = read_entry(parsed);  // a later duplicate replaces an earlier one
            return false;
        } else if (event == E::value || event == E::array_end) {
            read_entry(parsed);  // not an object: the whole cache is refused
        }
        return true;
    });
    if (!doc.is_object()) return {};  // an array or a bare value has no entries to trust
    return cache;
}

}  // namespace

HashCache load_hash_cache(std::filesystem::path const& path) {
    HashCache cache;
    try {
        std::optional<std::string> const text = read_whole_file(path);
        if (!text) return cache;
        cache = parse_cache(*text);
    } catch (std::exception const&) {
        return {};
    }
    std::erase_if(cache, [](auto const& item) { return is_protected_path(item.first); });
    return cache;
}

void save_hash_cache(std::filesystem::path const& path, HashCache const& cache) {
    // Before anything is written: a cache folder that cannot be made fails the save.
    ensure_parent_dir(path);

    // The text the JSON library writes for the whole cache with an indent of 2 (members
    // in key order, so "modified", "sha256", "size", and the paths in byte order, as the
    // map already is), written entry by entry instead of from a tree of all of them.
    std::string text;
    for (auto const& [key, entry] : cache) {
        if (is_protected_path(key)) continue;
        text += text.empty() ? "{\n  " : ",\n  ";
        text += json(key).dump();
        text += ": {\n    \"modified\": " + std::to_string(entry.modified) + ",\n    \"sha256\": ";
        text += json(entry.sha256).dump();
        text += ",\n    \"size\": " + std::to_string(entry.size) + "\n  }";
    }
    text += text.empty() ? "{}" : "\n}";

    if (!write_file_replacing(path, text)) throw std::runtime_error("Nem írható a hash gyorsítótár.");
}

}  // namespace korvel
