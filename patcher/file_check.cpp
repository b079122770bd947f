#include "patcher/file_check.h"

#include "core/ascii.h"
#include "core/path_elements.h"
#include "core/protected_path.h"
#include "platform/dir_listing.h"
#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/text.h"

#include <deque>
#include <optional>
#include <string>
#include <system_error>
#include <unordered_map>
#include <unordered_set>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// Asking about each file by name costs several kernel round trips per file (and on
// Windows a path walk through every filter driver each time); reading each folder once
// costs a few calls per folder. So the check lists every folder that the manifest names
// and takes type, size and time from the listing. Whatever the listing cannot answer
// exactly as the per-name queries would (links, names Windows would resolve to some
// other entry, folders that cannot be read) goes through the per-name queries instead,
// so that the outcome is the same either way.

// What a folder's listing said about one of the manifest's names in it.
struct NameSlot {
    unsigned matches = 0;  // listed entries with this name's key
    ListedEntry facts;     // of the last match; its name is not kept
};

struct Folder {
    fs::path path;
    std::size_t unchecked = 0;  // manifest entries in it not checked yet
    bool listed = false;
    ListingResult result = ListingResult::Unreadable;
    // Only the manifest's names, so that a folder holding many more entries than the
    // manifest lists costs no memory for them.
    std::unordered_map<std::wstring, NameSlot> names;
};

struct EntryPlan {
    Folder* folder = nullptr;  // none: the per-name queries decide
    NameSlot const* slot = nullptr;
    // Whether the name's absence from the listing means the file is missing. A name
    // with '~' may be a short 8.3 alias of a listed long name, and a name outside ASCII
    // might match by a case rule the listing's key does not share.
    bool absence_is_missing = false;
};

// Names the listing can match as Windows resolves them: no wildcard (a lookup by such a
// name matches patterns), no element Windows rewrites ("." "..", a trailing dot or space).
bool listable_name(std::wstring_view name) {
    if (name == L"." || name == L"..") return false;
    if (name.back() == L'.' || name.back() == L' ') return false;
    return name.find_first_of(L"*?<>\":") == std::wstring_view::npos;
}

bool absence_is_missing(std::wstring_view name) {
    for (wchar_t c : name)
        if (c < 0x20 || c >= 0x7f || c == L'~') return false;
    return true;
}

struct SplitPath {
    std::wstring folder;  // elements joined by '\', empty for the game folder itself
    std::wstring_view name;
};

std::optional<SplitPath> split_for_listing(std::wstring_view path) {
    if (path.empty() || is_path_separator(path.back())) return std::nullopt;
    SplitPath split;
    for_each_path_element(path, [&split](std::wstring_view element) {
        if (!split.name.empty()) {
            if (!split.folder.empty()) split.folder += L'\\';
            split.folder += split.name;
        }
        split.name = element;
    });
    if (split.name.empty() || !listable_name(split.name)) return std::nullopt;
    return split;
}

// Groups the manifest's names by folder, without touching the disk.
std::vector<EntryPlan> plan_entries(fs::path const& game_dir, std::vector<FileEntry> const& files,
                                    std::deque<Folder>& folders) {
    std::vector<EntryPlan> plans(files.size());
    std::unordered_map<std::wstring, Folder*> by_key;
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::wstring wide;
        try {
            wide = utf8_to_wide(files[i].path);
        } catch (std::exception const&) {
            continue;  // fails when its turn comes, as it always has
        }
        std::optional<SplitPath> const split = split_for_listing(wide);
        if (!split) continue;

        Folder*& folder = by_key[file_name_key(split->folder)];
        if (!folder) {
            folder = &folders.emplace_back();
            folder->path = game_dir / split->folder;
        }
        ++folder->unchecked;
        plans[i].folder = folder;
        plans[i].slot = &folder->names[file_name_key(split->name)];  // nodes stay put as the map grows
        plans[i].absence_is_missing = absence_is_missing(split->name);
    }
    return plans;
}

void list_into(Folder& folder) {
    folder.listed = true;
    folder.result = list_folder(folder.path, [&folder](ListedEntry const& entry) {
        auto const it = folder.names.find(file_name_key(entry.name));
        if (it == folder.names.end()) return;
        ++it->second.matches;
        it->second.facts = entry;
        it->second.facts.name = {};
    });
}

class FileChecker {
public:
    FileChecker(bool full_repair, HashCache& cache) : full_repair_(full_repair), cache_(cache) {}

    // The queries by name, one file at a time.
    bool correct_by_path(FileEntry const& entry, fs::path const& local) {
        if (!is_regular_file_at(local)) return false;
        std::uint64_t const size = korvel::file_size(local);
        if (size != entry.size) return false;
        std::uint64_t const modified = file_mtime(local);
        if (std::optional<bool> const known = known_from_cache(entry, size, modified)) return *known;
        std::string const hash = ascii_lower(sha256_file(local));
        if (hash != entry.sha256) return false;
        cache_[entry.path] = CacheEntry{size, modified, hash};
        return true;
    }

    bool correct_by_listing(FileEntry const& entry, fs::path const& local, EntryPlan const& plan) {
        Folder& folder = *plan.folder;
        if (!folder.listed) list_into(folder);
        switch (folder.result) {
        case ListingResult::Missing:
            return false;
        case ListingResult::Unreadable:
            return correct_by_path(entry, local);
        case ListingResult::Listed:
            break;
        }
        NameSlot const& slot = *plan.slot;
        if (slot.matches == 0) return plan.absence_is_missing ? false : correct_by_path(entry, local);
        // Two entries whose names differ only in case (a case-sensitive folder), or a
        // link whose target the listing does not describe.
        if (slot.matches > 1 || slot.facts.reparse_point) return correct_by_path(entry, local);
        if (slot.facts.directory || slot.facts.size != entry.size) return false;
        if (std::optional<bool> const known = known_from_cache(entry, slot.facts.size, slot.facts.modified))
            return *known;

        OpenedFileHash const opened = sha256_file_of_size(local, entry.size);
        if (!opened.sha256 || *opened.sha256 != entry.sha256) return false;
        cache_[entry.path] = CacheEntry{opened.size, opened.modified, *opened.sha256};
        return true;
    }

private:
    // Whether the file is the entry's, when the cache knows its hash: a file of the size
    // and modification time the cache noted still has the hash noted with them, which
    // tells a changed file (the old release's, about to be updated) as surely as an
    // unchanged one, without reading it. Nothing when the cache does not know (or the
    // player asked for a full repair).
    std::optional<bool> known_from_cache(FileEntry const& entry, std::uint64_t size, std::uint64_t modified) const {
        if (full_repair_) return std::nullopt;
        auto const cached = cache_.find(entry.path);
        if (cached == cache_.end() || cached->second.size != size || cached->second.modified != modified)
            return std::nullopt;
        return ascii_lower(cached->second.sha256) == entry.sha256;
    }

    bool full_repair_;
    HashCache& cache_;
};

}  // namespace

std::vector<DownloadItem> verify_files(PatchConfig const& config, bool full_repair, Manifest const& manifest,
                                       HashCache& cache, ProgressReporter const& reporter) {
    PatchProgress& progress = reporter.progress;
    std::uint64_t const n = manifest.files.size();
    progress.stage = PatchStage::Verifying;
    progress.title = full_repair ? L"Teljes javítás: fájlok ellenőrzése" : L"Fájlok gyors ellenőrzése";
    progress.files_total = n;
    progress.files_done = 0;
    reporter.report();

    std::deque<Folder> folders;
    std::vector<EntryPlan> const plans = plan_entries(config.game_dir, manifest.files, folders);
    FileChecker checker(full_repair, cache);

    std::vector<DownloadItem> downloads;
    // A path the manifest repeats (in any spelling that reaches the same file) is fetched
    // once: two transfers into one part file would cut each other's bytes.
    std::unordered_set<std::string> queued;
    for (std::uint64_t i = 0; i < n; ++i) {
        FileEntry const& entry = manifest.files[i];
        fs::path const local = config.game_dir / utf8_to_wide(entry.path);
        progress.current_file = utf8_or_bytes_to_wide(entry.path);
        progress.detail = L"Ellenőrzés: " + progress.current_file;
        progress.files_done = i;
        progress.percent = static_cast<std::int32_t>(i * 100 / n);
        reporter.report();

        EntryPlan const& plan = plans[i];
        bool correct;
        if (plan.folder) {
            correct = checker.correct_by_listing(entry, local, plan);
            // The folder's names are not needed once its last entry is checked.
            if (--plan.folder->unchecked == 0) std::unordered_map<std::wstring, NameSlot>().swap(plan.folder->names);
        } else {
            correct = checker.correct_by_path(entry, local);
        }
        if (!correct && queued.insert(windows_name_key(entry.path)).second) downloads.push_back(DownloadItem{&entry});
    }
    progress.percent = 100;
    progress.files_done = n;
    reporter.report();
    return downloads;
}

}  // namespace korvel
