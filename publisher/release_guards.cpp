#include "publisher/release_guards.h"

#include "core/manifest.h"
#include "core/protected_path.h"
#include "core/read_file.h"
#include "core/release_signature.h"
#include "core/sha256.h"
#include "publisher/host.h"
#include "publisher/release_build.h"
#include "publisher/release_signing.h"

#include <set>
#include <stdexcept>
#include <string_view>

namespace fs = std::filesystem;
using nlohmann::json;

namespace korvel {

namespace {

fs::path manifest_of(fs::path const& out_dir, std::string const& version) {
    return out_dir / "releases" / path_from_utf8(version) / published_manifest_name;
}

// "https://host/x" for "https://host/x/releases/V/manifest.json" (or a mended manifest).
std::string base_of(std::string const& manifest_url, std::string const& version) {
    std::size_t const name = manifest_url.rfind('/') + 1;
    std::string const folder = "/releases/" + version + "/";
    if (!is_manifest_name(std::string_view(manifest_url).substr(name)) || name <= folder.size() ||
        manifest_url.compare(name - folder.size(), folder.size(), folder) != 0)
        return {};
    return manifest_url.substr(0, name - folder.size());
}

std::optional<Manifest> try_read_manifest(fs::path const& file) {
    std::optional<std::string> const bytes = read_whole_file(file);
    if (!bytes) return std::nullopt;
    try {
        return read_manifest(*bytes);
    } catch (std::exception const&) {
        return std::nullopt;
    }
}

// Files the newer release lists that the older one neither lists nor deletes: going
// back to the older one leaves them on players' disks.
std::vector<std::string> left_behind(fs::path const& out_dir, std::string const& newer, std::string const& older) {
    std::optional<Manifest> const n = try_read_manifest(manifest_of(out_dir, newer));
    std::optional<Manifest> const o = try_read_manifest(manifest_of(out_dir, older));
    if (!n || !o) return {};
    std::set<std::string> known;
    for (FileEntry const& f : o->files) known.insert(windows_name_key(f.path));
    for (std::string const& path : o->deletes) known.insert(windows_name_key(path));
    std::vector<std::string> left;
    for (FileEntry const& f : n->files)
        if (!known.count(windows_name_key(f.path))) left.push_back(f.path);
    return left;
}

std::string listed(std::vector<std::string> const& paths) {
    if (paths.empty()) return "none";
    std::string text;
    for (std::size_t i = 0; i < paths.size() && i < 10; ++i) text += (i ? ", " : "") + paths[i];
    if (paths.size() > 10) text += " and " + std::to_string(paths.size() - 10) + " more";
    return text;
}

bool signed_by(json const& document, std::string const& public_key) {
    auto const signature = document.find("signature");
    return signature != document.end() && signature->is_string() &&
           verify_release_signature(public_key, release_digest(document), signature->get<std::string>());
}

// The manifest with each chunk index URL relative to its base_url, as `build` writes it.
json with_relative_index_urls(json manifest) {
    if (!manifest.is_object() || !manifest.contains("base_url") || !manifest["base_url"].is_string() ||
        !manifest.contains("files") || !manifest["files"].is_array())
        return manifest;
    std::string base = manifest["base_url"].get<std::string>();
    while (!base.empty() && base.back() == '/') base.pop_back();
    std::string const parent = base.substr(0, base.rfind('/') + 1);
    for (json& file : manifest["files"]) {
        if (!file.is_object() || !file.contains("chunk_index") || !file["chunk_index"].is_object()) continue;
        json& url = file["chunk_index"]["url"];
        if (!url.is_string()) continue;
        std::string const absolute = chunk_index_url(base, url.get<std::string>());
        if (!parent.empty() && absolute.starts_with(parent)) url = "../" + absolute.substr(parent.size());
    }
    return manifest;
}

json without_signature(json document) {
    for (char const* key : {"signature", "sequence", "manifest_sha256"}) document.erase(key);
    return document;
}

}  // namespace

PublishedDocument read_published_document(BuildOptions const& o) {
    PublishedDocument published;
    std::vector<fs::path> candidates = {o.out_dir / "patch" / "version.json"};
    if (o.previous_manifest)
        candidates.push_back(fs::absolute(*o.previous_manifest).parent_path().parent_path().parent_path() / "patch" /
                             "version.json");
    for (fs::path const& file : candidates) {
        std::error_code ec;
        if (!fs::exists(file, ec)) continue;
        std::optional<std::string> const bytes = read_whole_file(file);
        json document = bytes ? json::parse(*bytes, nullptr, false) : json();
        if (!document.is_object() || !document.contains("client_version") || !document["client_version"].is_string())
            throw std::invalid_argument("Cannot read the published version document " + path_text(file));
        published.file = file;
        published.in_out_dir = file == candidates.front();
        published.client_version = document["client_version"].get<std::string>();
        if (auto const url = document.find("manifest_url"); url != document.end() && url->is_string())
            published.base = base_of(url->get<std::string>(), published.client_version);
        if (auto const sequence = document.find("sequence"); sequence != document.end() && sequence->is_number_unsigned())
            published.sequence = sequence->get<std::uint64_t>();
        published.document = std::move(document);
        break;
    }
    return published;
}

std::optional<fs::path> default_previous(BuildOptions const& o, PublishedDocument const& published,
                                         std::vector<std::string>& notes) {
    if (o.previous_manifest) return o.previous_manifest;
    std::error_code ec;
    fs::path const own = manifest_of(o.out_dir, o.client_version);
    if (fs::exists(own, ec)) return own;
    std::optional<fs::path> chosen;
    if (published.in_out_dir && fs::exists(manifest_of(o.out_dir, published.client_version), ec)) {
        chosen = manifest_of(o.out_dir, published.client_version);
    } else if (fs::is_directory(o.out_dir / "releases", ec)) {
        // No document names one: the manifest written last.
        fs::file_time_type newest{};
        for (auto const& entry : fs::directory_iterator(o.out_dir / "releases", ec)) {
            fs::path const manifest = entry.path() / published_manifest_name;
            if (entry.path().filename().native().starts_with('.') || !fs::is_regular_file(manifest, ec)) continue;
            fs::file_time_type const time = fs::last_write_time(manifest, ec);
            if (!chosen || time > newest) chosen = manifest, newest = time;
        }
    }
    if (chosen)
        notes.push_back("Previous release: " + path_text(*chosen) +
                        " (the newest in OUT_DIR; --previous names another), for the files to delete and link.");
    return chosen;
}

std::vector<std::string> check_release_history(BuildOptions const& o, PublishedDocument const& published,
                                               std::string const& base, std::string const& public_key) {
    std::vector<std::string> refusals, notes;
    std::string const from = published.exists() ? " (" + path_text(published.file) + ")" : "";
    if (published.is_signed() && !o.sign_key && !o.allow_unsigned)
        refusals.push_back("the published release " + published.client_version + from +
                           " is signed and this one would not be: launchers built with a release key refuse it. "
                           "Give --sign-key KEY_FILE, or --allow-unsigned if no player's launcher has a key");
    if (published.is_signed() && o.sign_key && !o.allow_new_key && !signed_by(published.document, public_key))
        refusals.push_back("the published release " + published.client_version + from + " was signed with another key than " +
                           path_text(*o.sign_key) +
                           ": launchers that trust only that key refuse this release. Sign with the key that signed it, "
                           "or give --allow-new-key once the players' launchers trust the new key too");
    if (o.sign_key && !published.exists() && !o.sequence && !o.first_signed_release)
        refusals.push_back(
            "OUT_DIR holds no published version document, so the signed sequence would start again at 1, and launchers "
            "that installed a higher one refuse it. Restore OUT_DIR from its backup (or give --previous in the old tree), "
            "give --sequence N above the last published sequence, or --first-signed-release if this really is the "
            "first signed release");
    std::error_code ec;
    bool const goes_back = published.in_out_dir && published.client_version != o.client_version &&
                           fs::exists(manifest_of(o.out_dir, o.client_version), ec);
    if (goes_back) {
        std::vector<std::string> const left = left_behind(o.out_dir, published.client_version, o.client_version);
        std::string const what = "files that only " + published.client_version + " has (" + listed(left) +
                                 ") stay on players' disks unless a later release lists them for deletion";
        if (o.go_back)
            notes.push_back("Going back from " + published.client_version + " to " + o.client_version + ": " + what + ".");
        else
            refusals.push_back("release " + o.client_version + " was published before " + published.client_version +
                               ", which players have now; if they go back to it, " + what +
                               ". Publish the fix under a new client version, or give --go-back");
    }
    if (!refusals.empty()) throw PublishRefused(refusals);
    if (!published.base.empty() && published.base != base)
        notes.push_back("Warning: the base URL changes from " + published.base + " to " + base +
                        ": players' launchers find nothing there unless the files are served from it.");
    return notes;
}

ManifestMatch compare_manifests(std::string const& published, std::string const& wanted) {
    json a = with_relative_index_urls(json::parse(published, nullptr, false));
    json const b = with_relative_index_urls(json::parse(wanted, nullptr, false));
    if (!a.is_object() || !b.is_object() || !a.contains("base_url")) return ManifestMatch::other_content;
    if (a == b) return ManifestMatch::same;
    a["base_url"] = b.value("base_url", json());
    return a == b ? ManifestMatch::other_base_url : ManifestMatch::other_content;
}

std::vector<std::string> version_document_changes(BuildOptions const& o, PublishedDocument const& published,
                                                  json const& unsigned_document, std::string const& manifest_text,
                                                  std::string const& public_key, bool& unchanged) {
    unchanged = false;
    if (!published.in_out_dir) return {};
    json const old = without_signature(published.document);
    std::vector<std::string> changes;
    for (auto const& [key, value] : unsigned_document.items())
        if (!old.contains(key) || old[key] != value) changes.push_back(key);
    for (auto const& [key, value] : old.items())
        if (!unsigned_document.contains(key)) changes.push_back(key);
    bool const same_key = o.sign_key ? published.is_signed() && signed_by(published.document, public_key)
                                     : !published.is_signed();
    bool const same_manifest =
        !o.sign_key || published.document.value("manifest_sha256", "") == sha256_hex(manifest_text);
    if (!same_key) changes.push_back(o.sign_key ? "signature" : "signature removed");
    if (same_key && !same_manifest && changes.empty()) changes.push_back("manifest_sha256");
    unchanged = changes.empty() && !o.sequence;
    if (o.sign_key && !unchanged) changes.push_back("sequence");
    return changes;
}

}  // namespace korvel
