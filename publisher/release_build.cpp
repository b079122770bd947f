#include "publisher/release_build.h"

#include "core/chunk_index.h"
#include "core/manifest.h"
#include "core/protected_path.h"
#include "core/read_file.h"
#include "core/sha256.h"
#include "core/safe_path.h"
#include "core/url_encode.h"
#include "core/utf.h"
#include "core/version_document.h"
#include "publisher/host.h"
#include "publisher/path_rules.h"
#include "publisher/progress_line.h"
#include "publisher/release_guards.h"
#include "publisher/release_signing.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <type_traits>
#include <unordered_set>

namespace fs = std::filesystem;
using nlohmann::json;

namespace korvel {

namespace {

// Files in flight at once: at least four, since under Wine most of each one's time is
// spent waiting on the file system, and one per core where there are more.
std::size_t worker_count() {
    return std::max<std::size_t>(4, std::thread::hardware_concurrency());
}

// Windows separates folders with either slash, so a POSIX file name holding a backslash
// would reach players as a folder and a file.
constexpr bool backslash_is_separator = fs::path::preferred_separator == '\\';

std::string join_lines(std::vector<std::string> const& lines) {
    std::string text = "Refusing to publish:";
    for (std::string const& line : lines) text += "\n  " + line;
    return text;
}

// The real folders of the walk from the release folder down to the current one: a folder
// whose real path is already among them is reached again through a link.
class FolderLoops {
public:
    explicit FolderLoops(fs::path const& root) : stack_{fs::canonical(root)} {}

    // True for a loop; else the folder (`depth` below the root's children) becomes the
    // deepest of the walk.
    bool entering(fs::path const& folder, std::size_t depth) {
        std::error_code ec;
        fs::path const real = fs::canonical(folder, ec);
        stack_.resize(depth + 1);
        if (ec || std::find(stack_.begin(), stack_.end(), real) != stack_.end()) return true;
        stack_.push_back(real);
        return false;
    }

private:
    std::vector<fs::path> stack_;
};

struct ReleaseFile {
    std::string path;  // UTF-8, "/" between folders
    fs::path source;
};

// Every regular file below the release folder, with the problems that keep one from
// being published. Links are followed, to files and folders alike, wherever they lead:
// players get the files they point to. A folder link that leads back to a folder it lies
// in would repeat the release without end and is refused by name.
std::vector<ReleaseFile> scan_release(fs::path const& root, std::vector<std::string>& problems) {
    std::vector<ReleaseFile> files;
    // The iterator's paths start with the root as given. Cutting it off as text keeps
    // names that the path grammar would misread (a ":" looks like a drive) as they are.
    std::size_t const prefix = (root / "x").native().size() - 1;
    FolderLoops loops(root);
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::follow_directory_symlink);
         it != fs::recursive_directory_iterator(); ++it) {
        fs::directory_entry const& entry = *it;
        if (entry.is_directory()) {  // its files are what the launcher writes
            if (loops.entering(entry.path(), static_cast<std::size_t>(it.depth()))) {
                it.disable_recursion_pending();
                problems.push_back(path_text(entry.path().lexically_relative(root)) +
                                   ": a folder link that leads back into a folder it lies in");
            }
            continue;
        }
        NativeString relative = entry.path().native().substr(prefix);
        bool backslash = false;
        for (auto& c : relative) {
            if (c != '\\') continue;
            if (backslash_is_separator) c = '/';
            backslash = true;
        }
        std::string path;
        try {
            path = native_text(relative);
            utf8_to_utf16(path);  // POSIX names are bytes: only valid UTF-8 names a Windows file
        } catch (std::exception const&) {
            std::string shown;
            for (auto c : relative) {
                auto const unit = static_cast<std::make_unsigned_t<NativeString::value_type>>(c);
                shown.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
            }
            problems.push_back(shown + ": a file name that is not valid Unicode");
            continue;
        }
        if (backslash && !backslash_is_separator) {
            problems.push_back(path + ": a character that Windows file names cannot hold");
            continue;
        }
        // Names first: asking about "CON.txt" or "a?.txt" would ask about a device or a
        // wildcard instead.
        if (std::string const why = publish_path_problem(path); !why.empty()) {
            problems.push_back(path + ": " + why);
            continue;
        }
        if (!entry.is_regular_file()) {
            problems.push_back(path + ": not a regular file");
            continue;
        }
        files.push_back({std::move(path), entry.path()});
    }
    std::sort(files.begin(), files.end(), [](auto const& a, auto const& b) { return a.path < b.path; });
    std::vector<std::string> paths;
    for (ReleaseFile const& f : files) paths.push_back(f.path);
    for (std::string& line : case_collisions(paths)) problems.push_back(std::move(line));
    return files;
}

std::string read_bytes(fs::path const& path) {
    std::optional<std::string> bytes = read_whole_file(path);
    if (!bytes) throw std::runtime_error("Cannot open " + path_text(path));
    return std::move(*bytes);
}

bool is_inside(fs::path const& inner, fs::path const& outer) {
    fs::path const a = fs::weakly_canonical(fs::absolute(inner));
    fs::path const b = fs::weakly_canonical(fs::absolute(outer));
    auto mismatch = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
    return mismatch.first == b.end();
}

std::string trimmed_base(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

// Deletions for players coming from the previous release, or from any older one it
// still remembered: what it listed or deleted that the new release does not hold.
// A path the new release holds in another letter case names the same file on
// Windows, and the launcher deletes after it downloads: deleting it would remove the
// file just written.
std::vector<std::string> deletions(Manifest const& previous, std::vector<ReleaseFile> const& files) {
    std::set<std::string> kept;
    for (ReleaseFile const& f : files) kept.insert(windows_name_key(f.path));
    std::set<std::string> out;
    auto consider = [&](std::string const& path) {
        if (!kept.count(windows_name_key(path))) out.insert(path);
    };
    for (FileEntry const& f : previous.files) consider(f.path);
    for (std::string const& path : previous.deletes) consider(path);
    return {out.begin(), out.end()};
}

// Creates each folder once; asking the file system again for every one of 20,000 files
// costs more than copying the small ones.
class FolderMaker {
public:
    void parent_of(fs::path const& file) {
        fs::path const folder = file.parent_path();
        if (made_.insert(folder.native()).second) fs::create_directories(folder);
    }

private:
    std::unordered_set<NativeString> made_;
};

struct Outcome {
    FileDigest digest;  // its chunk_index is dropped once the index is written
    bool linked = false;
    std::optional<ChunkIndexRef> index;  // url left empty: set by manifest_text
};

// Below this size a file is fetched whole: a delta's extra round trips (index head, fine
// entries, ranges) cost more time than the few hundred KiB it could save.
constexpr std::uint64_t chunk_index_from = 1 << 20;

ChunkerParams const chunk_params{};

// What the manifest says of an index, from its bytes.
ChunkIndexRef describe_index(std::string_view bytes) {
    std::size_t const head = chunk_index_head_size(bytes);
    return {{}, bytes.size(), sha256_hex(bytes), head, sha256_hex(bytes.substr(0, head))};
}

// Where a release keeps its chunk indexes: one per distinct file content, named by it.
fs::path index_file(fs::path const& release_folder, std::string const& file_sha256) {
    return release_folder / "chunks" / (file_sha256 + ".idx");
}

// The indexes of a release being staged; files with the same bytes share one.
class IndexWriter {
public:
    IndexWriter(fs::path folder, bool enabled) : folder_(std::move(folder)), enabled_(enabled) {}

    // The parameters to chunk a file of `size` bytes with, or null for no index.
    ChunkerParams const* params_for(std::uint64_t size) const {
        return enabled_ && size >= chunk_index_from ? &chunk_params : nullptr;
    }

    // Writes the index that came with the digest, once per content.
    void write(Outcome& out) {
        if (!out.digest.chunk_index) return;
        std::string const bytes = std::move(*out.digest.chunk_index);
        out.digest.chunk_index.reset();
        out.index = describe_index(bytes);
        if (!claim(out.digest.sha256)) return;
        if (!write_new_file(index_file(folder_, out.digest.sha256), bytes))
            throw std::runtime_error("Cannot write " + path_text(index_file(folder_, out.digest.sha256)));
    }

    // The previous release's index of an unchanged file, when it was made the way this
    // build would make it: linked (or copied) instead of chunking the file again.
    bool reuse(fs::path const& previous_folder, FileEntry const& old, Outcome& out) {
        if (!old.chunk_index || !params_for(old.size)) return false;
        std::optional<std::string> const bytes = read_whole_file(index_file(previous_folder, old.sha256));
        try {
            if (!bytes || sha256_hex(*bytes) != old.chunk_index->sha256 ||
                read_chunk_index_head(*bytes).params != chunk_params)
                return false;
        } catch (std::exception const&) {
            return false;
        }
        out.index = describe_index(*bytes);
        if (!claim(old.sha256)) return true;
        fs::path const target = index_file(folder_, old.sha256);
        if (!make_hard_link(index_file(previous_folder, old.sha256), target) && !write_new_file(target, *bytes))
            throw std::runtime_error("Cannot write " + path_text(target));
        return true;
    }

private:
    bool claim(std::string const& sha256) {
        std::lock_guard<std::mutex> lock(mutex_);
        return written_.insert(sha256).second;
    }

    fs::path folder_;
    bool enabled_;
    std::mutex mutex_;
    std::set<std::string> written_;
};

// A published release can be damaged after the fact: a file edited, truncated or removed
// on the server's disk. Each served file is checked against what the release folder just
// hashed to (which equals the manifest): its size, and its bytes when its time is not
// before the manifest's (file times are coarse: a copy written just before the manifest
// can share its time, and is then hashed too). What differs is restored from the
// release folder through a side file and a rename, so a player downloading it gets the
// damaged bytes or the right ones, never a mix; the restored file is dated a second
// before the manifest, so the next run trusts it again. Returns the restored paths; throws
// PublishRefused naming every damaged path when any cannot be restored.
std::vector<std::string> restore_damaged(fs::path const& target, std::vector<ReleaseFile> const& files,
                                         std::vector<Outcome> const& outcomes, std::string const& version) {
    fs::file_time_type const published = fs::last_write_time(target / published_manifest_name);
    std::vector<std::string> restored, failed;
    for (std::size_t i = 0; i < files.size(); ++i) {
        FileDigest const& want = outcomes[i].digest;
        fs::path const served = target / "files" / path_from_utf8(files[i].path);
        std::error_code ec;
        bool damaged = !fs::is_regular_file(served, ec) || fs::file_size(served, ec) != want.size || ec;
        if (!damaged && fs::last_write_time(served, ec) >= published) {
            try {
                damaged = hash_file(served, {}, {}).sha256 != want.sha256;
            } catch (std::exception const&) {
                damaged = true;
            }
        }
        if (!damaged) continue;
        fs::path side = served;
        side += ".restoring";
        try {
            fs::create_directories(served.parent_path());
            if (hash_file(files[i].source, side, {}).sha256 != want.sha256)
                throw std::runtime_error("the release folder changed while it was read");
            fs::last_write_time(side, published - std::chrono::seconds(1));
            fs::rename(side, served);
            restored.push_back(files[i].path);
        } catch (std::exception const& e) {
            fs::remove(side, ec);
            failed.push_back(files[i].path + ": damaged in the published release " + version +
                             " and not restored (" + e.what() + ")");
        }
    }
    if (!failed.empty()) throw PublishRefused(failed);
    return restored;
}

struct LauncherPlan {
    fs::path target;
    std::string url, sha256;
    std::uint64_t size = 0;
    bool present = false;  // already published with these bytes
};

struct PreviousRelease {
    Manifest manifest;
    fs::path files;  // its files/ folder; empty without --previous
    std::map<std::string, std::size_t> index;  // path -> position in manifest.files

    FileEntry const* find(std::string const& path) const {
        auto const it = index.find(path);
        return it == index.end() ? nullptr : &manifest.files[it->second];
    }
};

// Where the release goes: its published folder, the staging folder it is built in
// first, and its URL.
struct ReleasePlace {
    fs::path target, staging;
    std::string url;

    fs::path copy_of(ReleaseFile const& f) const { return staging / "files" / path_from_utf8(f.path); }
};

// The options that can be refused without reading the release; returns the base URL
// without trailing slashes.
std::string check_options(BuildOptions const& o) {
    if (std::string const why = version_name_problem(o.client_version); !why.empty())
        throw std::invalid_argument("--client-version " + why);
    std::string const base = trimmed_base(o.base_url);
    check_url(base + "/");  // throws "Invalid URL: " for anything but an http(s) URL
    if (!fs::is_directory(o.release_dir)) throw std::invalid_argument("Not a folder: " + path_text(o.release_dir));
    if (is_inside(o.out_dir, o.release_dir))
        throw std::invalid_argument("The output folder must not lie inside the release folder");
    return base;
}

std::vector<ReleaseFile> scan_or_refuse(fs::path const& release_dir) {
    std::vector<std::string> problems;
    std::vector<ReleaseFile> files = scan_release(release_dir, problems);
    std::sort(problems.begin(), problems.end());
    if (!problems.empty()) throw PublishRefused(problems);
    return files;
}

PreviousRelease read_previous(BuildOptions const& o) {
    PreviousRelease previous;
    if (!o.previous_manifest) return previous;
    try {
        previous.manifest = read_manifest(read_bytes(*o.previous_manifest));
    } catch (std::exception const& e) {
        throw std::invalid_argument("Cannot read the previous manifest " + path_text(*o.previous_manifest) + ": " +
                                    e.what());
    }
    previous.files = o.previous_manifest->parent_path() / "files";
    for (std::size_t i = 0; i < previous.manifest.files.size(); ++i)
        previous.index.emplace(previous.manifest.files[i].path, i);
    return previous;
}

// Hashes the offered launcher and refuses one already published under its version with
// other bytes.
LauncherPlan plan_launcher(BuildOptions const& o, std::string const& base) {
    LauncherPlan launcher;
    if (!o.launcher_file) return launcher;
    if (std::string const why = version_name_problem(o.launcher_version); !why.empty())
        throw std::invalid_argument("--launcher-version " + why);
    std::string const name = path_text(o.launcher_file->filename());
    launcher.target = o.out_dir / "launcher" / path_from_utf8(o.launcher_version) / o.launcher_file->filename();
    launcher.url =
        o.launcher_url.empty() ? base + "/launcher/" + o.launcher_version + "/" + url_encode_path(name) : o.launcher_url;
    check_url(launcher.url);
    FileDigest const d = hash_file(*o.launcher_file, {}, {});
    launcher.sha256 = d.sha256;
    launcher.size = d.size;
    if (fs::exists(launcher.target)) {
        if (hash_file(launcher.target, {}, {}).sha256 != d.sha256)
            throw PublishRefused({"launcher " + o.launcher_version + " is already published with other bytes in " +
                                  path_text(launcher.target) + "; publish it under a new launcher version"});
        launcher.present = true;
    }
    return launcher;
}

// The key and sequence of a signed release. The sequence must go up against the version
// document in OUT and the one beside --previous's release tree
// (OLD/releases/V/manifest.json), so that no launcher that installed either of them is
// offered something it must refuse.
struct SigningPlan {
    std::optional<ReleaseKey> key;
    std::uint64_t sequence = 0;
};

SigningPlan plan_signing(BuildOptions const& o) {
    SigningPlan signing;
    if (!o.sign_key) {
        if (o.sequence) throw std::invalid_argument("--sequence is only for a signed release (--sign-key)");
        return signing;
    }
    signing.key.emplace(*o.sign_key);
    std::uint64_t last = published_sequence(o.out_dir / "patch" / "version.json");
    if (o.previous_manifest) {
        fs::path const old_tree = fs::absolute(*o.previous_manifest).parent_path().parent_path().parent_path();
        last = std::max(last, published_sequence(old_tree / "patch" / "version.json"));
    }
    signing.sequence = o.sequence.value_or(last + 1);
    if (signing.sequence <= last)
        throw PublishRefused({"sequence " + std::to_string(signing.sequence) +
                              " does not go up: the last published release has " + std::to_string(last)});
    return signing;
}

// An empty staging folder with every folder the files need. Folders first, on this
// thread; then the files on several. Under Wine every file created costs a directory
// scan for a name that differs only in case, which keeps a single thread waiting most
// of the time.
void prepare_staging(ReleasePlace const& place, std::vector<ReleaseFile> const& files, bool chunk_indexes) {
    fs::remove_all(place.staging);  // what a failed run left
    fs::create_directories(place.staging / "files");
    if (chunk_indexes) fs::create_directories(place.staging / "chunks");
    FolderMaker folders;
    for (ReleaseFile const& f : files) folders.parent_of(place.copy_of(f));
}

bool old_copy_intact(fs::path const& old_copy, std::string const& sha256) {
    try {
        return hash_file(old_copy, {}, {}).sha256 == sha256;
    } catch (std::exception const&) {
        return false;
    }
}

// One file of a new release: hard-linked from the previous release when it is the same
// there, else copied; hashed (and chunked) either way. An unchanged file keeps its index.
Outcome copy_or_link(ReleaseFile const& f, fs::path const& copy, PreviousRelease const& previous,
                     IndexWriter& indexes, BytesReadFn const& count) {
    Outcome out;
    std::error_code ec;
    std::uint64_t const size = fs::file_size(f.source, ec);
    FileEntry const* const old = previous.files.empty() ? nullptr : previous.find(f.path);
    if (old) {
        fs::path const old_copy = previous.files / path_from_utf8(f.path);
        if (fs::file_size(old_copy, ec) == old->size && size == old->size) {
            bool const reusable = old->chunk_index != nullptr;
            out.digest = hash_file(f.source, {}, count, reusable ? nullptr : indexes.params_for(size));
            // The old copy may have been damaged on disk since it was published (a same-size
            // change passes every later size check): its bytes are read before it is linked.
            out.linked = out.digest.sha256 == old->sha256 && old_copy_intact(old_copy, old->sha256) &&
                         make_hard_link(old_copy, copy);
            if (out.linked && reusable && !indexes.reuse(previous.files.parent_path(), *old, out))
                out.digest = hash_file(f.source, {}, {}, indexes.params_for(size));
        }
    }
    if (!out.linked) out.digest = hash_file(f.source, copy, count, indexes.params_for(size));
    indexes.write(out);
    return out;
}

// Runs `one` for every file on worker_count() threads and shows progress on one line;
// the first failure stops the rest and is rethrown.
std::vector<Outcome> for_all_files(std::vector<ReleaseFile> const& files, std::ostream& progress,
                                   std::function<Outcome(ReleaseFile const&, BytesReadFn const&)> const& one) {
    std::vector<Outcome> outcomes(files.size());
    std::atomic<std::uint64_t> bytes_read{0};
    BytesReadFn const count = [&bytes_read](std::uint64_t n) { bytes_read += n; };
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> files_done{0};
    std::atomic<bool> failed{false};
    std::mutex mutex;
    std::condition_variable finished;
    std::exception_ptr error;
    std::size_t running = std::min<std::size_t>(worker_count(), std::max<std::size_t>(files.size(), 1));
    auto worker = [&] {
        try {
            for (std::size_t i = next++; i < files.size() && !failed; i = next++) {
                outcomes[i] = one(files[i], count);
                ++files_done;
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!error) error = std::current_exception();
            failed = true;
        }
        std::lock_guard<std::mutex> lock(mutex);
        --running;
        finished.notify_all();
    };
    ProgressLine line(progress, "hashed", files.size());
    {
        std::vector<std::jthread> threads;
        for (std::size_t k = running; k > 0; --k) threads.emplace_back(worker);
        std::unique_lock<std::mutex> lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(250), [&] { return running == 0; }))
            line.set(files_done, bytes_read);
    }
    if (error) std::rethrow_exception(error);
    line.set(files_done, bytes_read);
    line.finish();
    return outcomes;
}

// The manifest's text; counts the files, bytes and links into `summary`.
std::string manifest_text(std::vector<ReleaseFile> const& files, std::vector<Outcome> const& outcomes,
                          std::string const& release_url, BuildSummary& summary) {
    Manifest manifest{release_url + "/files", {}, summary.deletes};
    for (std::size_t i = 0; i < files.size(); ++i) {
        Outcome const& o = outcomes[i];
        summary.linked += o.linked;
        summary.bytes += o.digest.size;
        ++summary.files;
        FileEntry entry{files[i].path, o.digest.size, o.digest.sha256, nullptr};
        if (o.index) {
            auto index = std::make_shared<ChunkIndexRef>(*o.index);
            // Relative to base_url: a manifest that names its base URL in one place is
            // mended by giving it another one.
            index->url = "../chunks/" + o.digest.sha256 + ".idx";
            entry.chunk_index = std::move(index);
        }
        manifest.files.push_back(std::move(entry));
    }
    return write_manifest(manifest);
}

// The manifest files of a published release, "manifest.json" first, with their bytes.
std::vector<std::pair<std::string, std::string>> published_manifests(fs::path const& release_folder) {
    std::vector<std::pair<std::string, std::string>> found;
    std::error_code ec;
    for (fs::directory_iterator it(release_folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::string const name = path_text(it->path().filename());
        if (!is_manifest_name(name)) continue;
        if (std::optional<std::string> bytes = read_whole_file(it->path())) found.emplace_back(name, std::move(*bytes));
    }
    auto const order = [](auto const& found_one) {
        return std::pair(found_one.first != published_manifest_name, found_one.first);
    };
    std::sort(found.begin(), found.end(), [&](auto const& a, auto const& b) { return order(a) < order(b); });
    return found;
}

// The same release again: one of its manifests must list what `text` lists, and then
// stays what players are given (its bytes become `text`). A release published under
// another base URL is mended only with --mend-base-url: a new manifest file beside the
// old ones, never one rewritten, since a cache may hold the old bytes and players between
// the uploads would otherwise get a manifest that its version document's
// manifest_sha256 does not name. Damaged files are restored first, while the manifest's
// time still tells which files to hash.
std::vector<std::string> recheck_published(ReleasePlace const& place, std::string& text,
                                           std::vector<ReleaseFile> const& files, std::vector<Outcome> const& outcomes,
                                           BuildOptions const& o, BuildSummary& summary) {
    std::vector<std::pair<std::string, std::string>> const published = published_manifests(place.target);
    std::optional<std::string> name;
    std::string other_base;
    for (auto const& [file, bytes] : published) {
        ManifestMatch const match = compare_manifests(bytes, text);
        if (match == ManifestMatch::same) {
            name = file;
            text = bytes;
            break;
        }
        if (match == ManifestMatch::other_base_url && other_base.empty())
            other_base = nlohmann::json::parse(bytes).value("base_url", "");
    }
    if (!name && other_base.empty())
        throw PublishRefused({"release " + o.client_version + " is already published with other content in " +
                              path_text(place.target) + "; publish it under a new version"});
    std::string const wanted_base = place.url + "/files";
    if (!name && !o.mend_base_url)
        throw PublishRefused({"release " + o.client_version + " is already published under the base URL " + other_base +
                              ", not " + wanted_base + "; give --mend-base-url to mend it (a new manifest beside the "
                              "old one, named by the version document)"});
    if (name && o.mend_base_url)
        summary.notes.push_back("Nothing to mend: release " + o.client_version + "'s " + *name + " already names " +
                                wanted_base + ".");
    std::vector<std::string> restored = restore_damaged(place.target, files, outcomes, o.client_version);
    if (!name) {
        name = mended_manifest_name(text);
        if (!write_new_file(place.target / *name, text))
            throw std::runtime_error("Cannot write " + path_text(place.target / *name));
        summary.mended_from = other_base;
    }
    summary.manifest_url = place.url + "/" + *name;
    return restored;
}

// The staged release, manifest included, appears under its name in one rename.
void commit_release(ReleasePlace const& place, std::string const& text) {
    if (!write_new_file(place.staging / published_manifest_name, text))
        throw std::runtime_error("Cannot write " + path_text(place.staging / published_manifest_name));
    move_into_place(place.staging, place.target);
}

void publish_launcher(fs::path const& source, LauncherPlan const& launcher) {
    if (launcher.present) return;
    fs::create_directories(launcher.target.parent_path());
    fs::path part = launcher.target;
    part += ".staging";
    hash_file(source, part, {});
    move_into_place(part, launcher.target);
}

// Last, and in one step: until this document names the new release, players keep
// getting the old one, which stays complete. A document that would say what the
// published one says is left as it was, its sequence included, so that re-running a
// build changes nothing.
void write_version_document(BuildOptions const& o, BuildSummary& summary, LauncherPlan const& launcher,
                            SigningPlan const& signing, std::string const& manifest_text,
                            PublishedDocument const& published) {
    VersionDocument document{o.client_version, summary.manifest_url, {}, o.launcher_file.has_value()};
    if (o.launcher_file) document.launcher = {o.launcher_version, launcher.url, launcher.sha256, launcher.size};
    json version = version_document_json(document);
    summary.version_changes =
        version_document_changes(o, published, version, manifest_text, summary.public_key, summary.version_unchanged);
    if (summary.version_unchanged) {
        summary.sequence = published.sequence.value_or(0);
        return;
    }
    if (signing.key) {
        sign_version_document(version, manifest_text, signing.sequence, *signing.key);
        summary.sequence = signing.sequence;
    }
    fs::create_directories(summary.version_file.parent_path());
    if (!write_document(summary.version_file, version_document_text(version)))
        throw std::runtime_error("Cannot write " + path_text(summary.version_file));
}

}  // namespace

PublishRefused::PublishRefused(std::vector<std::string> problems)
    : std::runtime_error(join_lines(problems)), problems_(std::move(problems)) {}

std::string mended_manifest_name(std::string_view text) {
    return "manifest-" + sha256_hex(text).substr(0, 16) + ".json";
}

bool is_manifest_name(std::string_view name) {
    if (name == published_manifest_name) return true;
    constexpr std::string_view head = "manifest-", tail = ".json";
    if (name.size() != head.size() + 16 + tail.size() || !name.starts_with(head) || !name.ends_with(tail)) return false;
    return name.substr(head.size(), 16).find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string version_name_problem(std::string const& version) {
    if (version.empty() || version.size() > 64) return "must be 1 to 64 characters";
    for (char c : version)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '_' && c != '+')
            return "may hold only letters, digits and . - _ +";
    if (version.front() == '.' || !is_safe_relative_path(version)) return "is not usable as a folder name";
    return {};
}

BuildSummary build_release(BuildOptions const& options, std::ostream& progress) {
    // Everything that can refuse is checked before the first byte is written.
    std::string const base = check_options(options);
    BuildSummary summary;
    PublishedDocument const published = read_published_document(options);
    BuildOptions o = options;
    o.previous_manifest = default_previous(options, published, summary.notes);
    std::vector<ReleaseFile> const files = scan_or_refuse(o.release_dir);
    PreviousRelease const previous = read_previous(o);
    LauncherPlan const launcher = plan_launcher(o, base);
    SigningPlan const signing = plan_signing(o);
    if (signing.key) summary.public_key = signing.key->public_key();
    for (std::string& note : check_release_history(o, published, base, summary.public_key))
        summary.notes.push_back(std::move(note));
    if (o.launcher_file)
        summary.launcher = check_offered_launcher(*o.launcher_file, summary.public_key, o.launcher_allowed);

    fs::path const releases = o.out_dir / "releases";
    ReleasePlace const place{releases / path_from_utf8(o.client_version),
                             releases / path_from_utf8("." + o.client_version + ".staging"),
                             base + "/releases/" + o.client_version};
    summary.already_published = fs::exists(place.target);
    summary.manifest_url = place.url + "/" + published_manifest_name;
    summary.version_file = o.out_dir / "patch" / "version.json";

    // A published release folder is never written again: players may be downloading
    // from it right now. Re-running only hashes and compares.
    std::vector<Outcome> outcomes;
    IndexWriter indexes(place.staging, o.chunk_indexes);
    if (summary.already_published) {
        outcomes = for_all_files(files, progress, [&](ReleaseFile const& f, BytesReadFn const& count) {
            std::error_code ec;
            Outcome out;
            out.digest = hash_file(f.source, {}, count, indexes.params_for(fs::file_size(f.source, ec)));
            if (out.digest.chunk_index) out.index = describe_index(*out.digest.chunk_index);
            out.digest.chunk_index.reset();
            return out;
        });
    } else {
        prepare_staging(place, files, o.chunk_indexes);
        outcomes = for_all_files(files, progress, [&](ReleaseFile const& f, BytesReadFn const& count) {
            return copy_or_link(f, place.copy_of(f), previous, indexes, count);
        });
    }

    summary.deletes = deletions(previous.manifest, files);
    std::string text = manifest_text(files, outcomes, place.url, summary);
    if (summary.already_published)
        summary.restored = recheck_published(place, text, files, outcomes, o, summary);
    else
        commit_release(place, text);

    if (o.launcher_file) publish_launcher(*o.launcher_file, launcher);
    write_version_document(o, summary, launcher, signing, text, published);
    return summary;
}

}  // namespace korvel
