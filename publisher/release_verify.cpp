#include "publisher/release_verify.h"

#include "core/ascii.h"
#include "core/chunk_index.h"
#include "core/json_document.h"
#include "core/manifest.h"
#include "core/read_file.h"
#include "core/release_signature.h"
#include "core/sha256.h"
#include "core/version_document.h"
#include "publisher/host.h"
#include "publisher/launcher_trust.h"
#include "publisher/progress_line.h"
#include "publisher/release_build.h"
#include "publisher/release_signing.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>

namespace fs = std::filesystem;

namespace korvel {

namespace {

// One line for a file whose bytes differ from what the documents list. `size` 0 is a
// real size for a game file but "not given" for the launcher.
void compare(std::string const& what, std::optional<std::uint64_t> size, std::string const& sha256,
             FileDigest const& got, std::vector<std::string>& problems) {
    if (size && got.size > *size)
        problems.push_back(what + ": larger than the listed " + std::to_string(*size) + " bytes");
    else if (size && got.size != *size)
        problems.push_back(what + ": " + std::to_string(got.size) + " bytes, listed " + std::to_string(*size) + " bytes");
    else if (got.sha256 != sha256)
        problems.push_back(what + ": SHA-256 " + got.sha256 + ", listed " + sha256);
}

std::string trimmed(std::string url) {
    while (!url.empty() && url.back() == '/') url.pop_back();
    return url;
}

// The documents of one release and where its files are: fetched or read from disk.
struct Release {
    std::string version_body, manifest_body;
    nlohmann::json document = nlohmann::json(nlohmann::json::value_t::discarded);  // the version document's JSON
    VersionDocument version;
    Manifest manifest;
};

// What a file listed in the documents is compared with.
struct Expected {
    std::string what;
    std::string url;
    std::uint64_t size;
    std::string const* sha256;
    ChunkIndexRef const* index_ref = nullptr;  // the file's chunk index, when the manifest names one
    std::string index_url;                     // where it lies
    std::string index;                         // its bytes, once read and found as listed
    std::optional<ChunkerParams> index_params; // then: the parameters the file must chunk to
};

using ReadFn = std::function<std::string(std::string const&)>;

// Reads each listed chunk index and checks it against the manifest's size and hashes; a
// problem line for each that is not as listed (its file is then only hashed).
void read_indexes(std::vector<Expected>& expected, ReadFn const& read, std::vector<std::string>& problems) {
    for (Expected& e : expected) {
        if (!e.index_ref) continue;
        ChunkIndexRef const& ref = *e.index_ref;
        std::string const what = e.what + ": chunk index " + e.index_url;
        std::string bytes;
        try {
            bytes = read(e.index_url);
        } catch (std::exception const& ex) {
            problems.push_back(what + ": unreachable: " + ex.what());
            continue;
        }
        if (bytes.size() != ref.size || sha256_hex(bytes) != ref.sha256 || ref.head_size > bytes.size() ||
            sha256_hex(std::string_view(bytes).substr(0, ref.head_size)) != ref.head_sha256) {
            problems.push_back(what + ": size or SHA-256 not as listed");
            continue;
        }
        try {
            ChunkIndexHead const head = read_chunk_index_head(bytes);
            if (head.head_size() != ref.head_size) throw std::runtime_error("head size not as listed");
            e.index_params = head.params;
            e.index = std::move(bytes);
        } catch (std::exception const& ex) {
            problems.push_back(what + ": " + ex.what());
        }
    }
}

// The file's digest against the listing, and its chunking against its index.
void check_digest(Expected const& e, FileDigest const& digest, std::vector<std::string>& problems) {
    compare(e.what, e.size, *e.sha256, digest, problems);
    if (e.index_params && digest.chunk_index != e.index)
        problems.push_back(e.what + ": the chunk index does not match the file");
}

// The base URL of the layout `build` writes: manifest_url is BASE/releases/V/manifest.json
// (or a manifest that mended its base URL beside it) and the manifest's base_url
// BASE/releases/V/files. Problems for anything else, and no base then.
std::string check_layout(Release const& r, VerifyOptions const& o, std::vector<std::string>& problems) {
    std::string const& url = r.version.manifest_url;
    std::size_t const releases = url.rfind("/releases/");
    std::size_t const name = url.rfind('/');
    std::string const folder =
        name != std::string::npos && is_manifest_name(std::string_view(url).substr(name + 1)) ? url.substr(0, name)
                                                                                             : std::string();
    if (folder.empty() || releases == std::string::npos || folder.find('/', releases + 10) != std::string::npos) {
        problems.push_back("layout: manifest_url " + url + " is not BASE/releases/VERSION/manifest.json");
        return {};
    }
    std::string const base = url.substr(0, releases);
    if (trimmed(r.manifest.base_url) != folder + "/files") {
        problems.push_back("layout: the manifest's base_url " + r.manifest.base_url + " is not " + folder +
                           "/files, beside manifest_url " + url);
        return {};
    }
    if (!o.expected_base.empty() && trimmed(o.expected_base) != base)
        problems.push_back("base URL: the release is published under " + base + ", not " + trimmed(o.expected_base));
    return base;
}

// The signature, the sequence and manifest_sha256. False when the files are not worth
// reading: a launcher with the key built in would stop here.
bool check_signature(Release const& r, VerifyOptions const& o, VerifyReport& report) {
    nlohmann::json const& document = r.document;
    bool const is_signed = document.is_object() && document.contains("signature");
    std::string const sequence =
        document.is_object() && document.contains("sequence") ? document["sequence"].dump() : std::string("none");
    if (!o.public_keys.empty()) {
        std::vector<std::string> problems = signature_problems(r.version_body, r.manifest_body, o.public_keys);
        if (!problems.empty()) {
            for (std::string& p : problems) report.problems.push_back(std::move(p));
            return false;
        }
        report.signature = "signature OK, sequence " + sequence;
        return true;
    }
    if (is_signed)
        report.signature = "signed, sequence " + sequence + ", but unchecked: give --public-key to check the signature";
    if (auto const it = document.find("manifest_sha256"); document.is_object() && it != document.end() && it->is_string()) {
        std::string const actual = sha256_hex(r.manifest_body);
        if (ascii_lower(it->get<std::string>()) != actual)
            report.problems.push_back("manifest_sha256: " + it->get<std::string>() + ", the manifest has " + actual);
    }
    return true;
}

std::vector<Expected> expected_files(Release const& r) {
    std::vector<Expected> expected;
    for (FileEntry const& file : r.manifest.files)
        expected.push_back({file.path, build_file_url(r.manifest.base_url, file.path), file.size, &file.sha256,
                            file.chunk_index.get(),
                            file.chunk_index ? chunk_index_url(r.manifest.base_url, file.chunk_index->url) : "",
                            {}, std::nullopt});
    return expected;
}

std::string launcher_what(LauncherUpdate const& l) {
    return "launcher " + l.version + " (" + l.url + ")";
}

// The offered launcher, read whole: its bytes against the document, and the release keys
// it trusts against the keys that sign this release (launcher_trust.h). `size` 0 in the
// document means "not given".
void check_launcher(Release const& r, std::string const& bytes, VerifyReport& report) {
    LauncherUpdate const& l = r.version.launcher;
    ++report.files_checked;
    compare(launcher_what(l), l.size ? std::optional(l.size) : std::nullopt, l.sha256,
            FileDigest{bytes.size(), sha256_hex(bytes), std::nullopt}, report.problems);
    auto const signature = r.document.is_object() ? r.document.find("signature") : r.document.end();
    bool const is_signed = signature != r.document.end();
    std::optional<Sha256Digest> const digest =
        is_signed && signature->is_string() ? std::optional(release_digest(r.document)) : std::nullopt;
    SignsReleaseFn const signs = [&](std::string const& key) {
        return digest && verify_release_signature(key, *digest, signature->get<std::string>());
    };
    OfferedLauncher const offered = read_offered_launcher(bytes);
    report.launcher_trust = launcher_trust_lines(l.version, offered, signs);
    for (LauncherSlip const& slip : launcher_slips(offered, is_signed, signs))
        report.problems.push_back(launcher_what(l) + ": " + slip.problem);
}

// Reads the documents with `read` (a URL to its body) and runs the checks that need no
// file; nothing when the files are not worth reading.
std::optional<Release> read_release(std::string const& version_where,
                                    std::function<std::string(std::string const&)> const& version_read,
                                    std::function<std::string(std::string const&)> const& read,
                                    VerifyOptions const& o, VerifyReport& report) {
    Release r;
    try {
        r.version_body = version_read(version_where);
        r.version = read_version_document(r.version_body);
    } catch (std::exception const& e) {
        report.problems.push_back("version document " + version_where + ": " + e.what());
        return std::nullopt;
    }
    try {
        r.document = parse_json_document(r.version_body);
    } catch (nlohmann::json::exception const&) {
    }
    try {
        r.manifest_body = read(r.version.manifest_url);
        r.manifest = read_manifest(r.manifest_body);
    } catch (std::exception const& e) {
        report.problems.push_back("manifest " + r.version.manifest_url + ": " + e.what());
        return std::nullopt;
    }
    report.base = check_layout(r, o, report.problems);
    if (!check_signature(r, o, report)) return std::nullopt;
    return r;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(c | 0x20);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::string percent_decoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        int const hi = i + 2 < text.size() && text[i] == '%' ? hex_value(text[i + 1]) : -1;
        int const lo = hi >= 0 ? hex_value(text[i + 2]) : -1;
        if (lo >= 0) {
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else {
            out.push_back(text[i]);
        }
    }
    return out;
}

// Where a URL under the base lies below OUT_DIR; nothing for a URL elsewhere.
std::optional<fs::path> local_file(fs::path const& root, std::string const& base, std::string const& url) {
    if (base.empty() || !url.starts_with(base + "/")) return std::nullopt;
    return root / path_from_utf8(percent_decoded(std::string_view(url).substr(base.size() + 1)));
}

// Where OUT_DIR's files are: the manifest is looked for by its URL's path under its base.
std::string read_local(fs::path const& root, std::string const& url) {
    std::size_t const releases = url.rfind("/releases/");
    if (releases == std::string::npos) throw std::runtime_error("not under BASE/releases/");
    fs::path const file = root / path_from_utf8(percent_decoded(std::string_view(url).substr(releases + 1)));
    std::optional<std::string> bytes = read_whole_file(file);
    if (!bytes) throw std::runtime_error("cannot read " + path_text(file));
    return std::move(*bytes);
}

std::vector<RemoteFile> remote_files(std::vector<Expected> const& expected) {
    std::vector<RemoteFile> remote;
    for (Expected const& e : expected) {
        remote.push_back({e.url, e.size});
        if (e.index_params) remote.back().index_params = &*e.index_params;
    }
    return remote;
}

// Fetches and hashes every expected file from the server, a line for each problem.
void check_remote_files(std::vector<Expected> const& expected, VerifyReport& report, std::ostream& progress) {
    std::vector<RemoteFile> const remote = remote_files(expected);
    // Files finish in any order; their lines are reported in manifest order.
    std::vector<std::vector<std::string>> lines(remote.size());
    ProgressLine line(progress, "checked", remote.size());
    BytesReadFn const count = [&line](std::uint64_t n) { line.add_bytes(n); };
    hash_remote_files(remote, count, [&](std::size_t i, FileDigest const* digest, std::string const& error) {
        Expected const& e = expected[i];
        if (digest)
            check_digest(e, *digest, lines[i]);
        else
            lines[i].push_back(e.what + ": unreachable: " + error);
        ++report.files_checked;
        line.file_done();
    });
    line.finish();
    for (std::vector<std::string>& file_lines : lines)
        for (std::string& problem : file_lines) report.problems.push_back(std::move(problem));
}

}  // namespace

VerifyReport verify_release(std::string const& version_url, VerifyOptions const& options, std::ostream& progress) {
    VerifyReport report;
    std::optional<Release> const release = read_release(
        version_url, [](std::string const& url) { return fetch_document(url, version_document_limit); },
        [](std::string const& url) { return fetch_document(url); }, options, report);
    if (!release) return report;
    std::vector<Expected> expected = expected_files(*release);
    read_indexes(expected, [](std::string const& url) { return fetch_document(url); }, report.problems);
    check_remote_files(expected, report, progress);
    if (release->version.launcher_offered) {
        LauncherUpdate const& l = release->version.launcher;
        try {
            check_launcher(*release, fetch_document(l.url), report);
        } catch (std::exception const& e) {
            ++report.files_checked;
            report.problems.push_back(launcher_what(l) + ": unreachable: " + e.what());
        }
    }
    return report;
}

VerifyReport verify_local_release(fs::path const& target, VerifyOptions const& options, std::ostream& progress) {
    VerifyReport report;
    // OUT_DIR, or OUT_DIR/patch/version.json.
    std::error_code ec;
    fs::path const version_file = fs::is_directory(target, ec) ? target / "patch" / "version.json" : target;
    fs::path const root = fs::absolute(version_file).parent_path().parent_path();
    auto const read_version = [](std::string const& where) {
        std::optional<std::string> bytes = read_whole_file(path_from_utf8(where));
        if (!bytes) throw std::runtime_error("cannot be read");
        return std::move(*bytes);
    };
    auto const read = [&root](std::string const& url) { return read_local(root, url); };
    std::optional<Release> const release = read_release(path_text(version_file), read_version, read, options, report);
    // Without the layout's base no file can be found on disk.
    if (!release || report.base.empty()) return report;

    std::vector<Expected> expected = expected_files(*release);
    read_indexes(expected, read, report.problems);
    ProgressLine line(progress, "checked", expected.size());
    BytesReadFn const count = [&line](std::uint64_t n) { line.add_bytes(n); };
    for (Expected const& e : expected) {
        std::optional<fs::path> const file = local_file(root, report.base, e.url);
        if (!file) {
            report.notes.push_back(e.what + ": served from outside the base URL, not checked on disk");
            continue;
        }
        try {
            check_digest(e, hash_file(*file, {}, count, e.index_params ? &*e.index_params : nullptr), report.problems);
        } catch (std::exception const& ex) {
            report.problems.push_back(e.what + ": missing or unreadable in " + path_text(root) + ": " + ex.what());
        }
        ++report.files_checked;
        line.file_done();
    }
    line.finish();
    if (release->version.launcher_offered) {
        LauncherUpdate const& l = release->version.launcher;
        std::optional<fs::path> const file = local_file(root, report.base, l.url);
        std::optional<std::string> const bytes = file ? read_whole_file(*file) : std::nullopt;
        if (!file)
            report.notes.push_back(launcher_what(l) + ": served from outside the base URL, not checked on disk");
        else if (!bytes)
            report.problems.push_back(launcher_what(l) + ": missing or unreadable in " + path_text(root));
        else
            check_launcher(*release, *bytes, report);
    }
    return report;
}

}  // namespace korvel
