#include "patcher/hash_cache.h"

#include "core/ascii.h"
#include "core/json_number.h"
#include "core/protected_path.h"
#include "platform/files.h"
#include "platform/write_whole_file.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace korvel {

namespace {

using nlohmann::json;

// Throws on any malformed content; the caller turns that into an empty cache.
HashCache parse_cache(std::string const& text) {
    json const doc = json::parse(text);
    HashCache cache;
    if (!doc.is_object()) return cache;  // an array or a bare value has no entries to trust
    for (auto const& [key, value] : doc.items()) {
        if (!value.is_object()) throw std::runtime_error("hash cache entry is not an object");
        CacheEntry entry;
        if (auto const it = value.find("size"); it != value.end()) entry.size = json_to_u64(*it);
        if (auto const it = value.find("modified"); it != value.end()) entry.modified = json_to_u64(*it);
        if (auto const it = value.find("sha256"); it != value.end()) entry.sha256 = ascii_lower(it->get<std::string>());
        cache[key] = std::move(entry);
    }
    return cache;
}

}  // namespace

HashCache load_hash_cache(std::filesystem::path const& path) {
    HashCache cache;
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return cache;
        std::string const text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (in.bad()) return cache;
        cache = parse_cache(text);
    } catch (std::exception const&) {
        return {};
    }
    std::erase_if(cache, [](auto const& item) { return is_protected_path(item.first); });
    return cache;
}

void save_hash_cache(std::filesystem::path const& path, HashCache const& cache) {
    // Before anything is written: a cache folder that cannot be made fails the save.
    ensure_parent_dir(path);

    json doc = json::object();
    for (auto const& [key, entry] : cache) {
        if (is_protected_path(key)) continue;
        // The library keeps object members sorted by key, which puts the entry's fields
        // in the order "modified", "sha256", "size" and the paths in byte order.
        doc[key] = json{{"size", entry.size}, {"modified", entry.modified}, {"sha256", entry.sha256}};
    }
    std::string const text = doc.dump(2);

    if (!write_file_replacing(path, text)) throw std::runtime_error("Nem írható a hash gyorsítótár.");
}

}  // namespace korvel
