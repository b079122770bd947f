#include "core/manifest.h"

#include "core/ascii.h"
#include "core/json_document.h"
#include "core/json_number.h"
#include "core/protected_path.h"
#include "core/safe_path.h"
#include "core/url_encode.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <stdexcept>
#include <unordered_set>

namespace korvel {

using nlohmann::json;

namespace {

// The launcher's own files, and the folders it keeps its state in, are never the
// manifest's to write or delete.
bool left_alone(std::string_view path) {
    return is_protected_path(path) || is_launcher_state_path(path);
}

bool is_hash_text(std::string const& text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// The entry's chunk index, when it names one whole; anything else leaves the file to be
// fetched whole, as launchers that do not know the key do.
std::shared_ptr<ChunkIndexRef const> read_chunk_index_ref(json const& element) {
    auto const it = element.find("chunk_index");
    if (it == element.end() || !it->is_object()) return nullptr;
    try {
        ChunkIndexRef ref;
        ref.url = it->at("url").get<std::string>();
        ref.size = json_to_u64(it->at("size"));
        ref.sha256 = ascii_lower(it->at("sha256").get<std::string>());
        ref.head_size = json_to_u64(it->at("head_size"));
        ref.head_sha256 = ascii_lower(it->at("head_sha256").get<std::string>());
        if (ref.url.empty() || !is_hash_text(ref.sha256) || !is_hash_text(ref.head_sha256) || ref.head_size == 0 ||
            ref.head_size > ref.size)
            return nullptr;
        return std::make_shared<ChunkIndexRef const>(std::move(ref));
    } catch (std::exception const&) {
        return nullptr;
    }
}

// One "files" element as the reader takes it, or the exception that fails the manifest.
FileEntry read_entry(json const& element) {
    FileEntry entry;
    entry.path = element.at("path").get<std::string>();
    entry.size = json_to_u64(element.at("size"));
    entry.sha256 = ascii_lower(element.at("sha256").get<std::string>());
    if (!is_safe_relative_path(entry.path) || entry.sha256.size() != 64)
        throw std::runtime_error("Érvénytelen manifest bejegyzés: " + entry.path);
    entry.chunk_index = read_chunk_index_ref(element);
    return entry;
}

// A manifest of 100,000 files is a tree of several hundred thousand JSON values, many
// times the size of the records they hold. So while the text is parsed, each object
// element of a top-level "files" array is turned into its record at once and left out
// of the tree. An element that would fail stays in the tree instead, and the walk
// after the parse fails on it exactly where a walk of the whole tree would have: the
// errors keep their order (a parse error anywhere first, then "base_url", then the
// first bad element).
class FilesCollector {
public:
    bool operator()(int depth, json::parse_event_t event, json& parsed) {
        using E = json::parse_event_t;
        if (depth == 1) {
            if (event == E::key) {
                in_files_key_ = parsed == "files";
                if (in_files_key_) entries_.clear();  // a repeated key: the last value counts
            } else if (event == E::array_start) {
                in_files_array_ = in_files_key_;
            } else if (event == E::array_end || event == E::object_start) {
                in_files_array_ = false;
            }
            return true;
        }
        if (depth != 2 || event != E::object_end || !in_files_array_) return true;
        try {
            FileEntry entry = read_entry(parsed);
            if (!left_alone(entry.path)) entries_.push_back(std::move(entry));
        } catch (std::exception const&) {
            return true;
        }
        return false;
    }

    std::vector<FileEntry> take() { return std::move(entries_); }

private:
    bool in_files_key_ = false;
    bool in_files_array_ = false;
    std::vector<FileEntry> entries_;
};

}  // namespace

Manifest read_manifest(std::string_view body) {
    FilesCollector collector;
    json const doc = parse_json_document(body, std::ref(collector));

    Manifest manifest;
    manifest.base_url = doc.at("base_url").get<std::string>();
    if (manifest.base_url.empty()) throw std::runtime_error("A manifest base_url értéke üres.");

    // Range-for over a json value is the library's own walk: arrays and objects by their
    // elements, null as nothing, any other value as itself. Of a "files" array only the
    // elements the collector could not read are left, and the first of them fails.
    manifest.files = collector.take();
    for (json const& element : doc.at("files")) {
        FileEntry entry = read_entry(element);
        if (!left_alone(entry.path)) manifest.files.push_back(std::move(entry));
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
            if (left_alone(path) || listed.contains(windows_name_key(path))) continue;
            manifest.deletes.push_back(std::move(path));
        }
    }
    return manifest;
}

std::string write_manifest(Manifest const& manifest) {
    json files = json::array();
    for (FileEntry const& file : manifest.files) {
        json entry = {{"path", file.path}, {"size", file.size}, {"sha256", file.sha256}};
        if (ChunkIndexRef const* index = file.chunk_index.get())
            entry["chunk_index"] = {{"url", index->url},
                                    {"size", index->size},
                                    {"sha256", index->sha256},
                                    {"head_size", index->head_size},
                                    {"head_sha256", index->head_sha256}};
        files.push_back(std::move(entry));
    }
    json document = {{"base_url", manifest.base_url}, {"files", std::move(files)}};
    if (!manifest.deletes.empty()) document["delete"] = manifest.deletes;
    return document.dump(2) + "\n";
}

std::string chunk_index_url(std::string_view base_url, std::string_view url) {
    std::size_t const scheme_end = url.find("://");
    if (scheme_end != std::string_view::npos && scheme_end > 0 && url.find('/') > scheme_end) return std::string(url);
    while (!base_url.empty() && base_url.back() == '/') base_url.remove_suffix(1);
    std::size_t const host = base_url.find("://");
    std::size_t const root = base_url.find('/', host == std::string_view::npos ? 0 : host + 3);
    for (; url.starts_with("../"); url.remove_prefix(3)) {
        std::size_t const cut = base_url.rfind('/');
        if (root == std::string_view::npos || cut == std::string_view::npos || cut < root) return {};
        base_url = base_url.substr(0, cut);
    }
    return std::string(base_url) + "/" + std::string(url);
}

std::string build_file_url(std::string_view base_url, std::string_view path) {
    while (!base_url.empty() && base_url.back() == '/') base_url.remove_suffix(1);
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    return std::string(base_url) + "/" + url_encode_path(path);
}

}  // namespace korvel
